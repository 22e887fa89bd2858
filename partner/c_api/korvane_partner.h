/* korvane_partner.h: the partner side of Korvane, for C and every language
 * that can call C (libkorvane-partner.so, korvane-partner.dll).
 *
 * A handle is one partner session: it opens the partner's endpoint (on
 * Windows its window), finds the service, and sends blocks to it. Every send
 * is synchronous and bounded: it returns when the service has taken the
 * block, or with KORVANE_TIMEOUT after the handle's timeout. The blocks the
 * service sends back while it handles the block (the encoded message, the
 * reports, the keep-alive echo) are delivered to the caller's callback
 * during the call, in the order they arrived.
 *
 * Life of a handle: korvane_partner_open, any number of sends, then
 * korvane_partner_close. A handle is used by one thread at a time; the
 * thread that opened it must make every send (on Windows the window belongs
 * to it). Every call returns 0 or a negative status; the text of the last
 * failure is korvane_partner_last_error. No C++ exception leaves a call.
 */
#ifndef KORVANE_PARTNER_H
#define KORVANE_PARTNER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(KORVANE_PARTNER_BUILDING)
#define KORVANE_PARTNER_API __declspec(dllexport)
#else
#define KORVANE_PARTNER_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define KORVANE_PARTNER_API __attribute__((visibility("default")))
#else
#define KORVANE_PARTNER_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface; korvane_partner_version() tells the one of
 * the library actually loaded. */
#define KORVANE_PARTNER_VERSION_MAJOR 1

/* Statuses. */
#define KORVANE_OK 0
#define KORVANE_NO_SERVICE (-1)   /* no service, several without a name, or it went away */
#define KORVANE_TIMEOUT (-2)      /* the service did not take the block in time */
#define KORVANE_BAD_ARGUMENT (-3) /* a null or out-of-range argument */
#define KORVANE_IO_ERROR (-4)     /* the endpoint could not be opened or used */

/* Kinds of event. */
#define KORVANE_EVENT_ENCODED 1        /* an encoded Ember message for the console */
#define KORVANE_EVENT_REPORT 2         /* a parameter report */
#define KORVANE_EVENT_KEEPALIVE_ECHO 3 /* the keep-alive came back */

typedef struct korvane_partner korvane_partner;

/* One block the service sent. octets/count: the block as sent (for a report
 * the 513-octet report field). report: for KORVANE_EVENT_REPORT the report
 * line as NUL-terminated text (a text report ends in a blank and a line
 * feed), else NULL. All of it is valid only during the callback. */
typedef struct korvane_event
{
    int kind;
    const uint8_t* octets;
    size_t count;
    const char* report;
} korvane_event;

/* Called for each event during a send. It must not call any function of
 * this interface with the same handle, and must not unwind (no longjmp, no
 * C++ exception). */
typedef void (*korvane_event_fn)(void* context, const korvane_event* event);

/* The library's version, "MAJOR.MINOR.PATCH.BUILD". */
KORVANE_PARTNER_API const char* korvane_partner_version(void);

/* Opens the endpoint `name` (NULL: "TEST_RX") and finds the service:
 * `service` as `korvane partner --service` takes it ("ARG" for Korvane_ARG,
 * or a full name Korvane_...), NULL for the only one running. timeout_ms
 * (1 to 3600000) bounds every send of the handle. On success *out is the
 * new handle; on failure *out is NULL and the reason is in
 * korvane_partner_last_error(NULL). */
KORVANE_PARTNER_API int korvane_partner_open(const char* name, const char* service, int timeout_ms,
                                             korvane_partner** out);

/* Sends one command line ("1,2,3,4,5,100"); the encoded message comes as an
 * event. A line the service takes without a value (fewer than six fields)
 * is not an error: it returns 0 and nothing comes back. */
KORVANE_PARTNER_API int korvane_partner_send_command(korvane_partner* p, const char* line,
                                                     korvane_event_fn on_event, void* context);

/* Sends console octets (count 1 to 65535) as one console-data block; the
 * reports they complete come as events. A block of exactly 13 octets is a
 * keep-alive to the service and comes back as KORVANE_EVENT_KEEPALIVE_ECHO. */
KORVANE_PARTNER_API int korvane_partner_send_console(korvane_partner* p, const uint8_t* octets,
                                                     size_t count, korvane_event_fn on_event,
                                                     void* context);

/* Sends the 13-octet keep-alive; its echo comes as an event. */
KORVANE_PARTNER_API int korvane_partner_send_keepalive(korvane_partner* p,
                                                       korvane_event_fn on_event, void* context);

/* The text of the handle's last failure ("" when the last call succeeded);
 * with NULL, the last failure of korvane_partner_open on this thread. Valid
 * until the next call with the handle. */
KORVANE_PARTNER_API const char* korvane_partner_last_error(const korvane_partner* p);

/* The full name of the service the handle found ("Korvane_..."); "" for
 * NULL. Valid as long as the handle. */
KORVANE_PARTNER_API const char* korvane_partner_service(const korvane_partner* p);

/* Closes the endpoint and frees the handle; NULL is allowed. Returns 0. */
KORVANE_PARTNER_API int korvane_partner_close(korvane_partner* p);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_PARTNER_H */
