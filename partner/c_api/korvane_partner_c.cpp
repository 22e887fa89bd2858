// The C interface (korvane_partner.h) over CPartnerSession: statuses mapped
// to the interface's codes, events to korvane_event, and nothing thrown past
// the boundary.
#include "korvane_partner.h"

#include "korvane_version.h"
#include "partner/partner_session.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <string>

struct korvane_partner
{
    CPartnerSession session;
    std::string error;
};

namespace {

constexpr int kMaxTimeoutMs = 3600 * 1000;

// The options struct as 1.0.0 has it: what a caller must at least pass.
constexpr size_t kOptionsSize10 = offsetof(korvane_partner_options, timeout_ms) + sizeof(int);

// Why the last korvane_partner_open of this thread (or a call without a
// handle) failed.
thread_local std::string t_openError;

// Every status of the library, each mapped on purpose: a new one does not
// compile until it is given its code here.
int Code(EPartnerStatus status)
{
    switch (status) {
    case EPartnerStatus::Ok:
    case EPartnerStatus::NoValue: // taken; the service found no value
        return KORVANE_OK;
    case EPartnerStatus::InvalidArgument:
        return KORVANE_BAD_ARGUMENT;
    case EPartnerStatus::NoService:
        return KORVANE_NO_SERVICE;
    case EPartnerStatus::SeveralServices:
        return KORVANE_SEVERAL_SERVICES;
    case EPartnerStatus::SendFailed:
        return KORVANE_SERVICE_GONE;
    case EPartnerStatus::Timeout:
        return KORVANE_TIMEOUT;
    case EPartnerStatus::Reentered:
        return KORVANE_REENTERED;
    case EPartnerStatus::EndpointUnavailable:
        return KORVANE_IO_ERROR;
    case EPartnerStatus::NotOpen:
        // A handle is open from korvane_partner_open to its close; only a
        // fault inside the library gets here.
        return KORVANE_IO_ERROR;
    case EPartnerStatus::Stopped:
        // Only CPartnerSession::CancelSends stops a send, which this
        // interface does not offer: a program embedding both gets here.
        return KORVANE_TIMEOUT;
    case EPartnerStatus::SourceError:
    case EPartnerStatus::LinkGaveUp:
        // Console sources and the console link are not part of this
        // interface.
        return KORVANE_IO_ERROR;
    }
    return KORVANE_IO_ERROR; // not a value of the enumeration
}

// A call from inside the handle's own callback: refused, touching nothing
// of the send in progress.
bool Reentered(korvane_partner* p, const char* call)
{
    if (!p->session.InHandler())
        return false;
    p->error =
        std::string(call) + " was called from the handle's own callback, which may not use it";
    return true;
}

// Runs one send with on_event receiving its events; the status, with the
// reason kept in the handle.
template <typename Send>
int Sending(korvane_partner* p, const char* call, korvane_event_fn onEvent, void* context,
            Send send)
{
    if (!p) {
        t_openError = std::string(call) + ": no handle (NULL)";
        return KORVANE_BAD_ARGUMENT;
    }
    if (Reentered(p, call))
        return KORVANE_REENTERED;
    try {
        p->error.clear();
        p->session.SetEventHandler([onEvent, context](const CPartnerEvent& event) {
            if (!onEvent)
                return;
            korvane_event out = {};
            out.octets = event.octets.data();
            out.count = event.octets.size();
            switch (event.kind) {
            case CPartnerEvent::Encoded:
                out.kind = KORVANE_EVENT_ENCODED;
                break;
            case CPartnerEvent::Report:
                out.kind = KORVANE_EVENT_REPORT;
                out.report = event.report.line.c_str();
                break;
            case CPartnerEvent::KeepAliveEcho:
                out.kind = KORVANE_EVENT_KEEPALIVE_ECHO;
                break;
            case CPartnerEvent::OtherBlock:
                return; // no block of another kind is part of the interface
            }
            onEvent(context, &out);
        });
        const EPartnerStatus status = send();
        p->session.SetEventHandler(nullptr);
        const int code = Code(status);
        // (A call refused from the callback may have left its reason.)
        p->error = code != KORVANE_OK ? p->session.LastError() : std::string();
        return code;
    } catch (const std::exception& failure) {
        p->session.SetEventHandler(nullptr);
        p->error = failure.what();
    } catch (...) {
        p->session.SetEventHandler(nullptr);
        p->error = "unknown failure";
    }
    return KORVANE_IO_ERROR;
}

int Open(const char* name, const char* service, int timeoutMs, korvane_partner** out)
{
    try {
        t_openError.clear();
        if (!out) {
            t_openError = "no place for the handle (out is NULL)";
            return KORVANE_BAD_ARGUMENT;
        }
        *out = nullptr;
        if (timeoutMs < 1 || timeoutMs > kMaxTimeoutMs) {
            t_openError = "the timeout must be 1 to 3600000 ms, not " + std::to_string(timeoutMs);
            return KORVANE_BAD_ARGUMENT;
        }
        CPartnerSessionOptions options;
        if (name)
            options.endpoint = name;
        if (service)
            options.service = service;
        options.sendTimeoutMs = timeoutMs;
        auto* partner = new korvane_partner;
        const EPartnerStatus status = partner->session.Open(options);
        if (status != EPartnerStatus::Ok) {
            t_openError = partner->session.LastError();
            delete partner;
            return Code(status);
        }
        *out = partner;
        return KORVANE_OK;
    } catch (const std::exception& failure) {
        t_openError = failure.what();
    } catch (...) {
        t_openError = "unknown failure";
    }
    return KORVANE_IO_ERROR;
}

} // namespace

extern "C" {

const char* korvane_partner_version(void)
{
    return KORVANE_VERSION;
}

int korvane_partner_version_number(void)
{
    return KORVANE_PARTNER_VERSION_NUMBER;
}

const char* korvane_partner_status_text(int status)
{
    switch (status) {
    case KORVANE_OK:
        return "ok";
    case KORVANE_NO_SERVICE:
        return "no service";
    case KORVANE_TIMEOUT:
        return "timeout";
    case KORVANE_BAD_ARGUMENT:
        return "bad argument";
    case KORVANE_IO_ERROR:
        return "I/O error";
    case KORVANE_SEVERAL_SERVICES:
        return "several services";
    case KORVANE_SERVICE_GONE:
        return "service gone";
    case KORVANE_REENTERED:
        return "called from its own callback";
    default:
        return "unknown status";
    }
}

int korvane_partner_open(const char* name, const char* service, int timeout_ms,
                         korvane_partner** out)
{
    return Open(name, service, timeout_ms, out);
}

int korvane_partner_open_with(const korvane_partner_options* options, korvane_partner** out)
{
    if (!options || options->size < kOptionsSize10) {
        t_openError = options ? "options.size is " + std::to_string(options->size) +
                                    ", less than the options of 1.0.0 (" +
                                    std::to_string(kOptionsSize10) + ")"
                              : "no options (NULL)";
        if (out)
            *out = nullptr;
        return KORVANE_BAD_ARGUMENT;
    }
    // Fields of later versions are read only when the caller's size holds
    // them; this version knows the fields of 1.0.0.
    korvane_partner_options known = {};
    std::memcpy(&known, options, kOptionsSize10);
    return Open(known.name, known.service,
                known.timeout_ms == 0 ? kDefaultSendTimeoutMs : known.timeout_ms, out);
}

int korvane_partner_send_command(korvane_partner* p, const char* line, korvane_event_fn on_event,
                                 void* context)
{
    if (p && !p->session.InHandler() && !line) {
        p->error = "no command line (NULL)";
        return KORVANE_BAD_ARGUMENT;
    }
    return Sending(p, "korvane_partner_send_command", on_event, context,
                   [p, line] { return p->session.SendCommand(line); });
}

int korvane_partner_send_console(korvane_partner* p, const uint8_t* octets, size_t count,
                                 korvane_event_fn on_event, void* context)
{
    return Sending(p, "korvane_partner_send_console", on_event, context,
                   [p, octets, count] { return p->session.SendConsoleBlock(octets, count); });
}

int korvane_partner_send_keepalive(korvane_partner* p, korvane_event_fn on_event, void* context)
{
    return Sending(p, "korvane_partner_send_keepalive", on_event, context,
                   [p] { return p->session.SendKeepAlive(); });
}

const char* korvane_partner_last_error(const korvane_partner* p)
{
    return p ? p->error.c_str() : t_openError.c_str();
}

const char* korvane_partner_service(const korvane_partner* p)
{
    return p ? p->session.ServiceName().c_str() : "";
}

int korvane_partner_close(korvane_partner* p)
{
    if (p && Reentered(p, "korvane_partner_close"))
        return KORVANE_REENTERED;
    delete p; // the session closes its endpoint; nothing in it throws
    return KORVANE_OK;
}

} // extern "C"
