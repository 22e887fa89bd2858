// CPartnerLink: a partner that links a running service with a console over
// TCP.
//
// Every block the service sends (encoded messages, the keep-alive echo) is
// written to the console; every octet from the console goes to the service
// as console data, cut into blocks by CConsoleFramer (whole messages, at
// most 65535 octets a block, the console's keep-alive as a 13-octet block of
// its own). Command lines given with AddCommand (or read from standard
// input) go to the service in order, between console blocks.
//
// Bounds:
//   - while more than maxQueuedOctets wait for the service, the link stops
//     reading from the console (TCP pushes back on a flooding console);
//   - a write to the console that makes no progress for stallTimeoutMs is a
//     lost link, reconnected as any other;
//   - Stop() (or SIGINT/SIGTERM with stopOnSignals) ends Run() within a
//     second however much is queued, also while a send waits for a service
//     that does not answer (on Windows that send ends at its answer or its
//     timeout); what was not sent is reported.
// A console that closes or cannot be reached is reconnected with back-off
// (firstBackoffMs, doubling, at most maxBackoffMs); a service that does not
// take a block is retried the same way, the block waiting at the head of the
// queue, so nothing is lost or sent twice. A send that timed out is not sent
// again (the service may have handled it).
//
// Run() runs on the calling thread, which owns the session; the console's
// socket runs on a thread of its own. Events go to the handler on the
// calling thread, in order.
#pragma once

#include "partner/partner_session.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CPartnerLinkOptions
{
    CPartnerSessionOptions session;
    // The console.
    std::string host = "127.0.0.1";
    uint16_t port = 9000;
    // Failures in a row (console connections, service sends) before the
    // link gives up; 0: never.
    int retries = 10;
    int firstBackoffMs = 100;
    int maxBackoffMs = 5000;
    // A console write without progress for this long loses the link.
    int stallTimeoutMs = 10000;
    // Console octets waiting for the service above which reading stops.
    size_t maxQueuedOctets = 1u << 20;
    // With commands (or standard input): Run() ends once every line is sent,
    // standard input has ended and nothing happened for this long. Without:
    // it runs until stopped.
    int quietMs = 300;
    // Read command lines from standard input (one per line; empty lines and
    // lines beginning with '#' are skipped).
    bool readStandardInput = false;
    // Stop on SIGINT and SIGTERM while Run() runs.
    bool stopOnSignals = true;
};

struct CPartnerLinkEvent
{
    enum Kind
    {
        // From the service: `service` holds it (it went on to the console
        // when it was an encoded message or the keep-alive echo).
        Service,
        // What the link handed to the service: a command line (`line`),
        // console data (`count` octets), the console's keep-alive.
        CommandSent,
        ConsoleSent,
        KeepAliveSent,
        // The service found no value in the command line `line`.
        NoValue,
        // The console: connected (`text`: its address); lost (`text`: why,
        // `retryInMs`); a connection attempt failed (`text`, `attempt`,
        // `retryInMs`); gave up (`text`); `count` octets of an unfinished
        // message dropped at a break.
        Connected,
        Lost,
        Failed,
        GaveUp,
        Dropped,
        // The service: did not take a block (`text`, `attempt`,
        // `retryInMs`); takes blocks again; did not answer in time (`text`;
        // the block is not sent again); gave up (`text`).
        ServiceUnreachable,
        ServiceReachable,
        ServiceTimeout,
        ServiceGaveUp,
        // At the end: a command line (`line`) that was not sent to the
        // service, or whose encoded message was not written to the console
        // (`text` says which).
        NotSent,
    };
    Kind kind = Service;
    CPartnerEvent service;
    std::string line;
    std::string text;
    size_t count = 0;
    int attempt = 0;
    int retryInMs = 0;
};

class CPartnerLink
{
public:
    using EventHandler = std::function<void(const CPartnerLinkEvent&)>;

    explicit CPartnerLink(CPartnerLinkOptions options);
    ~CPartnerLink();
    CPartnerLink(const CPartnerLink&) = delete;
    CPartnerLink& operator=(const CPartnerLink&) = delete;

    void SetEventHandler(EventHandler handler);

    // Queues a command line for the service (before or during Run(), on
    // Run()'s thread).
    void AddCommand(std::string line);

    // Opens the session, connects to the console and links them until done
    // or stopped. Ok (done: every line sent), Stopped, or a failure: the
    // session's Open() statuses, LinkGaveUp (the console), SendFailed (the
    // service gave up). Lines never sent are reported as NotSent events.
    EPartnerStatus Run();

    // Ends Run() within a second (see above) and cancels the process's sends
    // while it runs. Callable from any thread and from a signal handler.
    void Stop();

    // The reason of the failure Run() returned, one line.
    const std::string& LastError() const;

    // Console octets and command lines waiting for the service now.
    size_t QueuedOctets() const;
    size_t QueuedBlocks() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
