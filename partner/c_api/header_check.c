/* korvane_partner.h compiles as C on its own, with every warning. */
#include "korvane_partner.h"

#if KORVANE_PARTNER_VERSION_NUMBER !=                                                             \
    KORVANE_PARTNER_VERSION_MAJOR * 1000000 + KORVANE_PARTNER_VERSION_MINOR * 1000 +              \
        KORVANE_PARTNER_VERSION_PATCH
#error "KORVANE_PARTNER_VERSION_NUMBER does not match its parts"
#endif

static void OnEvent(void* context, const korvane_event* event)
{
    (void)context;
    (void)event;
}

int korvane_partner_header_check(void);

int korvane_partner_header_check(void)
{
    korvane_event_fn callback = OnEvent;
    korvane_partner* partner = NULL;
    korvane_partner_options options = {sizeof options, NULL, NULL, 0};
    return callback != NULL && partner == NULL && options.size > 0 ? KORVANE_EVENT_KEEPALIVE_ECHO
                                                                   : KORVANE_REENTERED;
}
