// CPartnerSession: one partner of a running Korvane service.
//
// Life of a session: Open() creates the partner's endpoint (a window named
// TEST_RX by default) and finds the service; the Send calls then hand it
// command lines, console data and keep-alives; Close() (or the destructor)
// removes the endpoint. One thread only: every call, and every event, runs
// on the thread that opened the session.
//
// A send is bounded by the send timeout and returns only after the service
// has handled the block, with every event the block caused (the encoded
// message, the reports, the keep-alive echo) already passed to the handler,
// in the order the service sent them. Blocks the service sends outside a
// send arrive during Wait().
//
// The handler may not use its own session: a send, Wait(), Open() or
// FindServiceAgain() called from it returns Reentered, Close() and
// SetEventHandler() do nothing, each with the reason in LastError(); the
// send in progress goes on whole.
//
// After a timeout: a send that returns Timeout (or Stopped while the
// service had the block) gave up waiting, but the service may still handle
// the block and send what it causes later. Such late blocks never become
// events: before it returns, the send destroys the endpoint and makes a
// fresh one under the same name (a new window on Windows, a new incarnation
// on our message layer), which the service's late blocks cannot reach; the
// next send goes from the fresh endpoint, so what the service sends while
// handling it is that send's own. The late blocks are lost (the abandoned
// command's encoded message, the reports of an abandoned console block);
// send the command again if it is still wanted.
//
// Finding the service: options.service "ARG" names the service Korvane_ARG,
// a full name Korvane_... is taken as it is; an empty one takes the only
// service running. No service, or several with none named, fail Open() with
// a one-line reason in LastError() ("no Korvane service is running (...)"
// names where it looked).
#pragma once

#include "partner/partner_event.h"
#include "platform/message_timeout.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct CPartnerSessionOptions
{
    // The partner's endpoint.
    std::string endpoint = "TEST_RX";
    // The service: "" (the only one running), "ARG" (Korvane_ARG) or a full
    // name "Korvane_...".
    std::string service;
    // How long a send waits for the service, in milliseconds (1 or more).
    int sendTimeoutMs = kDefaultSendTimeoutMs;
    // An endpoint only this process reaches: for a service living in the
    // same process (tests, embedding); other processes cannot find it.
    bool local = false;
};

// The longest command line a block carries (with its NUL, 64 KiB).
constexpr size_t kMaxPartnerCommandLength = 0xFFFF;

// The keep-alive SendKeepAlive sends: the 13-octet empty root. A console
// block of 13 octets, whatever they are, is echoed by the service instead of
// decoded.
const std::vector<uint8_t>& PartnerKeepAliveOctets();

// The window names of the services running now, "Korvane_..." each.
std::vector<std::string> RunningPartnerServices();

class CPartnerSession
{
public:
    using EventHandler = std::function<void(const CPartnerEvent&)>;

    CPartnerSession();
    ~CPartnerSession();
    CPartnerSession(const CPartnerSession&) = delete;
    CPartnerSession& operator=(const CPartnerSession&) = delete;

    // Opens the endpoint and finds the service. Ok, or InvalidArgument,
    // EndpointUnavailable, NoService, SeveralServices (nothing left open).
    // Opening an open session closes it first.
    EPartnerStatus Open(const CPartnerSessionOptions& options);
    // Removes the endpoint; a closed session may be opened again.
    void Close();
    bool IsOpen() const;

    // The service's window name and the endpoint's name (empty when closed).
    const std::string& ServiceName() const;
    const std::string& EndpointName() const;

    // The reason of the last failed call, one line without a line end;
    // empty after a call that succeeded.
    const std::string& LastError() const;

    // True while the event handler runs.
    bool InHandler() const;

    // Receives every event; may be set at any time but from the handler
    // itself (none: events are dropped).
    void SetEventHandler(EventHandler handler);

    // Sends one command line (1 to kMaxPartnerCommandLength characters, no
    // NUL or line end). Ok, NoValue (the service found no value: it sends
    // nothing back), InvalidArgument, SendFailed, Timeout, Stopped, NotOpen,
    // EndpointUnavailable (the endpoint could not be made again after a
    // timeout), Reentered.
    EPartnerStatus SendCommand(std::string_view line);

    // Sends one console block of 1 to 65535 octets (its length travels in 16
    // bits) as it is; one of 13 octets is echoed as a keep-alive.
    // The statuses of SendCommand but NoValue.
    EPartnerStatus SendConsoleBlock(const uint8_t* octets, size_t size);

    // Sends console data in blocks of at most `chunk` octets (clamped to 1
    // .. 65535). No block but a whole input of exactly 13 octets has that
    // length: such a block is cut one octet shorter. Stops at the first block that fails; `sent` (when
    // given) counts the octets the service took. `onBlock` (when given) is
    // called with each block's offset and size before it is sent.
    EPartnerStatus
    SendConsoleData(const uint8_t* octets, size_t size, size_t chunk = 4096, size_t* sent = nullptr,
                    const std::function<void(size_t offset, size_t size)>& onBlock = nullptr);

    // Sends PartnerKeepAliveOctets() as a console block; the echo arrives as
    // a KeepAliveEcho event before it returns.
    EPartnerStatus SendKeepAlive();

    // Handles blocks the service sends on its own for up to `milliseconds`
    // (0: only what is waiting). Returns Ok after the time, Stopped when
    // woken early by Wake() or a caught signal, NotOpen.
    EPartnerStatus Wait(int milliseconds);

    // Looks the service up again by the window name it was found with (a
    // service that restarted may have a new window). Ok, NoService, NotOpen.
    EPartnerStatus FindServiceAgain();

    // Makes a running or the next Wait() return Stopped at once. Callable
    // from a signal handler and from other threads.
    static void Wake();

    // Cancels the sends of every session of the process until ResumeSends:
    // later sends return Stopped without being made, and (except on Windows,
    // where a waiting send ends only at its answer or timeout) a send waiting
    // for the service returns Stopped at once; the service may still handle
    // that block. Callable from a signal handler and from other threads.
    static void CancelSends();
    static void ResumeSends();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
