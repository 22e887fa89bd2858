// CPartnerLink: a partner that links a running service with a console over
// TCP.
//
// Every block the service sends (encoded messages, the keep-alive echo) is
// written to the console; every octet from the console goes to the service
// as console data, cut into blocks by CConsoleFramer (whole messages, at
// most 65535 octets a block, the console's keep-alive as a 13-octet block of
// its own). Command lines given with AddCommand (or its bounded variants) go
// to the service in order, between console blocks. The link reads no
// standard input and catches no signal: the program does both and hands
// lines (AddCommand*, EndCommands) and stops (Stop) to the link.
//
// Threads: Run() runs on the calling thread, which owns the session; the
// console's socket runs on a thread of its own. AddCommand, AddCommandBounded,
// TryAddCommand, EndCommands, Stop and the Queued* counters may be called
// from any thread, before or during Run() (Stop also from a signal handler).
// The event handler is called on Run()'s thread only, one event at a time,
// in the order things happened.
//
// How Run() ends:
//   - untilStopped: only at Stop() or a failure, whatever was added (a view
//     that takes lines for as long as it runs);
//   - else once EndCommands() was called, every line added before it went to
//     the service, the console took every message the service sent back
//     (its socket's send queue is empty), and nothing happened for quietMs.
//     Without EndCommands() it runs until Stop() too.
//
// Bounds:
//   - while more than console.maxUnconsumedOctets of console data wait for
//     the service, the link stops reading from the console (TCP pushes back
//     on a flooding console);
//   - while more than maxQueuedOctets of command lines wait for the service,
//     AddCommandBounded waits and TryAddCommand refuses: a program reading
//     its lines from a long input reads on only as they are sent;
//   - while more than maxQueuedOctets wait to be taken by the console, no
//     command line is sent to the service (their messages would pile up);
//   - a console that takes nothing for console.stallTimeoutMs loses the
//     link, reconnected as any other;
//   - Stop() ends Run() within a second however much is queued, also while a
//     send waits for a service that does not answer (on Windows that send
//     ends at its answer or its timeout); what was not delivered is reported.
// A console that closes or cannot be reached is reconnected with back-off
// (console.firstBackoffMs, doubling, at most console.maxBackoffMs); a service
// that does not take a block is retried the same way, the block waiting at
// the head of the queue, so nothing is lost or sent twice; console.retries
// bounds both. A send that timed out is not sent again (the service may have
// handled it): its line is reported not delivered and Run() returns Timeout.
#pragma once

#include "partner/console_link.h"
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
    // The console and the link's bounds, retries (console connections and
    // service sends alike: failures in a row before the link gives up; 0:
    // never) and back-off.
    ConsoleLinkOptions console;
    // Command lines waiting for the service (each counted with the link's
    // own bookkeeping for it), and octets waiting to be taken by the
    // console, above which the link holds back (see above).
    size_t maxQueuedOctets = 1u << 20;
    // Run() runs until Stop() even when lines were added and ended.
    bool untilStopped = false;
    // Once the work is done, how long nothing may happen before Run() ends.
    int quietMs = 300;
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
        // The console link's state: `console` holds it (Connected, Lost,
        // Failed, GaveUp or Dropped, never a block for the service).
        Console,
        // The service: did not take a block (`text`, `attempt`,
        // `retryInMs`); takes blocks again; did not answer in time (`text`;
        // the block is not sent again); gave up (`text`).
        ServiceUnreachable,
        ServiceReachable,
        ServiceTimeout,
        ServiceGaveUp,
        // At the end: a command line (`line`) that was not delivered: not
        // sent to the service, not answered by it in time, or whose encoded
        // message the console did not take (`text` says which).
        NotSent,
    };
    Kind kind = Service;
    CPartnerEvent service;
    ConsoleLinkEvent console;
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

    // Set before Run().
    void SetEventHandler(EventHandler handler);

    // Queues a command line for the service, whatever is queued already.
    // The line end is dropped; empty lines and lines beginning with '#' are
    // skipped (TakeCommandLine). Any thread; wakes a running link.
    void AddCommand(std::string line);

    // The same once fewer than maxQueuedOctets of command lines wait: blocks
    // until then. False (the line not queued) once the link is stopped or
    // its Run() has ended.
    bool AddCommandBounded(std::string line);

    // The same without waiting: false (the line not queued) when the queue
    // is at its bound, the link stopped or its Run() ended.
    bool TryAddCommand(std::string line);

    // No more lines will come (the end of standard input): Run() may end
    // once they are delivered (see above). Any thread.
    void EndCommands();

    // Opens the session, connects to the console and links them until done
    // or stopped. Ok (done: every line delivered), Stopped, or a failure:
    // the session's Open() statuses, LinkGaveUp (the console could not be
    // reached, or at the end did not take every message), SendFailed (the
    // service gave up), Timeout (a line the service did not answer in time).
    // Lines not delivered are reported as NotSent events. Once per link.
    EPartnerStatus Run();

    // Ends Run() within a second (see above), at once when it has not
    // started yet, and cancels the process's sends while it runs. Callable
    // from any thread and from a signal handler.
    void Stop();

    // The reason of the failure Run() returned, one line.
    const std::string& LastError() const;

    // Console octets, and blocks (command lines and console blocks), waiting
    // for the service now.
    size_t QueuedOctets() const;
    size_t QueuedBlocks() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
