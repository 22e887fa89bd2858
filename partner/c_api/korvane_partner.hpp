// korvane_partner.hpp: the partner side of Korvane for C++, header only, over
// the C interface of korvane_partner.h (libkorvane-partner.so,
// korvane-partner.dll).
//
// The library's binary interface is C, so a program built with any C++
// compiler (MSVC included) links the same library; this header gives it a
// C++ face:
//
//   korvane::Partner partner;                 // TEST_RX, the only service
//   partner.SendCommand("1,2,3,4,5,100", [](const korvane::Event& event) {
//       if (event.kind == korvane::Event::Encoded) { /* event.octets */ }
//   });
//
// A Partner is one session (korvane_partner*): movable, not copyable, closed
// by its destructor. Every failure throws korvane::Error with the C status
// and the library's text. A send returns when the service has taken the
// block; the handler has then seen every event the block caused, in order.
// An exception thrown by the handler is held while the C call finishes and
// rethrown from the send; the events after it in the same send are not
// delivered. The use rules of korvane_partner.h apply: one thread at a time,
// the thread that opened the session makes every send, and a send with the
// same Partner from the handler throws Error with KORVANE_REENTERED (the
// outer send goes on). After a timeout no late block of the abandoned send
// reaches a later send's handler (see korvane_partner.h).
#ifndef KORVANE_PARTNER_HPP
#define KORVANE_PARTNER_HPP

#include "korvane_partner.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace korvane {

// One block the service sent; the octets and the text are valid only during
// the handler (copy what is kept).
struct Event
{
    enum Kind
    {
        Encoded = KORVANE_EVENT_ENCODED,
        Report = KORVANE_EVENT_REPORT,
        KeepAliveEcho = KORVANE_EVENT_KEEPALIVE_ECHO,
    };

    Kind kind;
    std::span<const std::uint8_t> octets; // the block as sent
    std::string_view report;              // a report's line, else empty
};

using EventHandler = std::function<void(const Event&)>;

// A failed call: status() is the C status (KORVANE_NO_SERVICE, ...).
class Error : public std::runtime_error
{
public:
    Error(int status, const char* text)
        : std::runtime_error(text && *text ? text : "korvane partner: failure")
        , m_status(status)
    {
    }
    int status() const noexcept { return m_status; }

private:
    int m_status;
};

class Partner
{
public:
    // Opens the endpoint name (null: TEST_RX) and finds the service (null:
    // the only one running; "ARG" for Korvane_ARG or a full name); every
    // send waits at most timeoutMs.
    explicit Partner(const char* name = nullptr, const char* service = nullptr,
                     int timeoutMs = 5000)
    {
        const int status = korvane_partner_open(name, service, timeoutMs, &m_handle);
        if (status != KORVANE_OK)
            throw Error(status, korvane_partner_last_error(nullptr));
    }

    ~Partner() { korvane_partner_close(m_handle); }

    Partner(Partner&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    Partner& operator=(Partner&& other) noexcept
    {
        if (this != &other) {
            korvane_partner_close(m_handle);
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    Partner(const Partner&) = delete;
    Partner& operator=(const Partner&) = delete;

    // A command line; its encoded message comes as an Encoded event. A line
    // without a value is taken and gives nothing.
    void SendCommand(const std::string& line, const EventHandler& handler)
    {
        Call handling{handler, nullptr};
        Check(korvane_partner_send_command(Handle(), line.c_str(), &Call::Deliver, &handling),
              handling);
    }

    // Console octets (1 to 65535) as one block; the reports they complete
    // come as Report events.
    void SendConsole(std::span<const std::uint8_t> octets, const EventHandler& handler)
    {
        Call handling{handler, nullptr};
        Check(korvane_partner_send_console(Handle(), octets.data(), octets.size(), &Call::Deliver,
                                           &handling),
              handling);
    }

    // The keep-alive; its echo comes as a KeepAliveEcho event.
    void SendKeepAlive(const EventHandler& handler)
    {
        Call handling{handler, nullptr};
        Check(korvane_partner_send_keepalive(Handle(), &Call::Deliver, &handling), handling);
    }

    // The full name of the service found ("Korvane_...").
    std::string Service() const { return korvane_partner_service(Handle()); }

    // The C handle, for calls this header does not wrap; still owned here.
    korvane_partner* Handle() const
    {
        if (!m_handle)
            throw Error(KORVANE_BAD_ARGUMENT, "korvane partner: the session was moved from");
        return m_handle;
    }

private:
    // One send: the handler, and the exception it threw, if any.
    struct Call
    {
        const EventHandler& handler;
        std::exception_ptr thrown;

        static void Deliver(void* context, const korvane_event* event) noexcept
        {
            Call& call = *static_cast<Call*>(context);
            if (call.thrown || !call.handler)
                return;
            try {
                const Event converted{
                    static_cast<Event::Kind>(event->kind),
                    {event->octets, event->count},
                    event->report ? std::string_view(event->report) : std::string_view()};
                call.handler(converted);
            } catch (...) {
                call.thrown = std::current_exception();
            }
        }
    };

    void Check(int status, const Call& call) const
    {
        if (call.thrown)
            std::rethrow_exception(call.thrown);
        if (status != KORVANE_OK)
            throw Error(status, korvane_partner_last_error(m_handle));
    }

    korvane_partner* m_handle = nullptr;
};

} // namespace korvane

#endif // KORVANE_PARTNER_HPP
