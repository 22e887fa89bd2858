// The partner's TCP link to a console: connects, reconnects with a bounded
// backoff, cuts what the console sends into console-data blocks (through
// CConsoleFramer) and writes whatever it is given to the console.
//
// Bounded both ways: the link stops reading from the console while more
// than maxUnconsumedOctets of the console data it handed out have not been
// reported Consumed() (TCP then pushes back on the console), and a console
// that takes nothing (nothing written, nothing of what was written
// acknowledged) for stallTimeoutMs while blocks wait counts as a lost link.
//
// The link runs its own thread. Events (connected, lost, a connection
// attempt that failed, octets of an unfinished message dropped at a break,
// giving up, and every block for the service) are handed to the callback on
// that thread, in order. Send may be called from any thread; what it is
// given is written in order, whole, once connected. A block is done once the
// console took it: the socket's send queue no longer holds it (Linux:
// SIOCOUTQ; on Windows, once the system took it). A block not taken before a
// break (what the kernel held for a lost connection is lost with it) is
// written again, whole, on the next connection (the console reads every
// connection afresh), so nothing is lost and nothing reaches one connection
// twice.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ConsoleLinkOptions
{
    std::string host = "127.0.0.1";
    uint16_t port = 9000;
    // Connection attempts in a row that may fail before the link gives up
    // (each failure waits first 100 ms, then twice as long as before, at
    // most maxBackoffMs); 0: never gives up.
    int retries = 10;
    int firstBackoffMs = 100;
    int maxBackoffMs = 5000;
    // A console that takes nothing for this long while blocks wait loses the
    // link (they are written again, whole, on the next connection).
    int stallTimeoutMs = 10000;
    // Console data handed out and not yet Consumed() above which the link
    // stops reading from the console.
    size_t maxUnconsumedOctets = 1u << 20;
};

struct ConsoleLinkEvent
{
    enum Kind
    {
        Connected,   // text: the console's address
        Lost,        // text: why; retryInMs
        Failed,      // a connection attempt failed; text: why; attempt, retryInMs
        GaveUp,      // text: why; the link has stopped
        Dropped,     // count: octets of an unfinished message forgotten at a break
        ConsoleData, // octets: a block for the service (never 13 octets)
        KeepAlive,   // octets: the console's keep-alive, a block of its own
    };
    Kind kind = Connected;
    std::string text;
    std::vector<uint8_t> octets;
    int attempt = 0;
    int retryInMs = 0;
    size_t count = 0;
};

class CConsoleLink
{
public:
    explicit CConsoleLink(ConsoleLinkOptions options);
    // Stops the thread; what was not written yet is forgotten.
    ~CConsoleLink();
    CConsoleLink(const CConsoleLink&) = delete;
    CConsoleLink& operator=(const CConsoleLink&) = delete;

    // Starts connecting; onEvent runs on the link's thread.
    void Start(std::function<void(const ConsoleLinkEvent&)> onEvent);

    // Queues octets for the console (any thread).
    void Send(std::vector<uint8_t> octets);

    // Blocks queued and not yet taken by the console (any thread).
    size_t PendingWrites() const;

    // The consumer is done with `octets` octets of the console data it was
    // handed (any thread); reading resumes once under the bound.
    void Consumed(size_t octets);

    // Console data handed out and not yet Consumed() (any thread).
    size_t Unconsumed() const;

    // True while reading waits for Consumed() (any thread).
    bool ReadingPaused() const;

    // Closes the link and ends its thread.
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
