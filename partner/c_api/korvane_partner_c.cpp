// The C interface (korvane_partner.h) over CPartnerSession: statuses mapped
// to the interface's codes, events to korvane_event, and nothing thrown past
// the boundary.
#include "korvane_partner.h"

#include "korvane_version.h"
#include "partner/partner_session.h"

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

// Why the last korvane_partner_open of this thread failed.
thread_local std::string t_openError;

int Code(EPartnerStatus status)
{
    switch (status) {
    case EPartnerStatus::Ok:
    case EPartnerStatus::NoValue:
        return KORVANE_OK;
    case EPartnerStatus::InvalidArgument:
        return KORVANE_BAD_ARGUMENT;
    case EPartnerStatus::NoService:
    case EPartnerStatus::SeveralServices:
    case EPartnerStatus::SendFailed:
        return KORVANE_NO_SERVICE;
    case EPartnerStatus::Timeout:
        return KORVANE_TIMEOUT;
    default:
        return KORVANE_IO_ERROR;
    }
}

// Runs one send with on_event receiving its events; the status, with the
// reason kept in the handle.
template <typename Send>
int Sending(korvane_partner* p, korvane_event_fn onEvent, void* context, Send send)
{
    if (!p)
        return KORVANE_BAD_ARGUMENT;
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
            default:
                return; // no block of another kind is part of the interface
            }
            onEvent(context, &out);
        });
        const EPartnerStatus status = send();
        p->session.SetEventHandler(nullptr);
        const int code = Code(status);
        if (code != KORVANE_OK)
            p->error = p->session.LastError();
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

} // namespace

extern "C" {

const char* korvane_partner_version(void)
{
    return KORVANE_VERSION;
}

int korvane_partner_open(const char* name, const char* service, int timeout_ms,
                         korvane_partner** out)
{
    try {
        t_openError.clear();
        if (!out) {
            t_openError = "no place for the handle (out is NULL)";
            return KORVANE_BAD_ARGUMENT;
        }
        *out = nullptr;
        if (timeout_ms < 1 || timeout_ms > kMaxTimeoutMs) {
            t_openError = "the timeout must be 1 to 3600000 ms, not " + std::to_string(timeout_ms);
            return KORVANE_BAD_ARGUMENT;
        }
        CPartnerSessionOptions options;
        if (name)
            options.endpoint = name;
        if (service)
            options.service = service;
        options.sendTimeoutMs = timeout_ms;
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

int korvane_partner_send_command(korvane_partner* p, const char* line, korvane_event_fn on_event,
                                 void* context)
{
    if (p && !line) {
        p->error = "no command line (NULL)";
        return KORVANE_BAD_ARGUMENT;
    }
    return Sending(p, on_event, context, [p, line] { return p->session.SendCommand(line); });
}

int korvane_partner_send_console(korvane_partner* p, const uint8_t* octets, size_t count,
                                 korvane_event_fn on_event, void* context)
{
    return Sending(p, on_event, context,
                   [p, octets, count] { return p->session.SendConsoleBlock(octets, count); });
}

int korvane_partner_send_keepalive(korvane_partner* p, korvane_event_fn on_event, void* context)
{
    return Sending(p, on_event, context, [p] { return p->session.SendKeepAlive(); });
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
    delete p; // the session closes its endpoint; nothing in it throws
    return KORVANE_OK;
}

} // extern "C"
