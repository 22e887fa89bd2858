// The simulated console on TCP: accepts any number of clients and runs each
// one's octets through the simulator; writes back what it answers, with the
// faults a partner should survive.
//
// Everything runs on the thread that runs the io_context; the simulator is
// only touched from there. Faults, per connection:
//   chunk N    every message is written in pieces of N octets, each a write
//              of its own;
//   garbage    1 to 16 random octets (never 0x7F, so no start sequence is
//              ever begun or broken by them) before every message;
//   delay MS   each message waits MS milliseconds before it is written;
//   drop N     after N messages from the client (empty roots not counted)
//              the answers are written and the connection is closed.
//
// Bounds against clients that misbehave (each drop is a log line):
//   - what is queued for one client: past clientQueueLimit octets its input
//     is no longer read (it is read message by message, so one read cannot
//     owe more than one answer past the bound) until the queue drains below
//     the bound; a client owed more than twice the bound (announcements and
//     keep-alives keep coming while it does not read) is dropped;
//   - unfinished messages: the octets the clients' readers hold of messages
//     not complete yet, over all clients, at most unfinishedLimit; past it
//     the client holding the most is dropped;
//   - clients: at most maxClients at once; a further one is closed at once;
//   - accepting: when accepting fails (out of descriptors), the next try
//     waits, from 50 ms doubling up to 1 s, and the failure is logged once
//     until accepting works again.
// Whatever a client is owed is written out before its connection closes,
// also after the client shut down its sending side (end of input).
#pragma once

#include "console/console_simulator.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

struct ConsoleServerOptions
{
    std::string address = "127.0.0.1";
    uint16_t port = 9000;
    // Seconds between keep-alives to each client; 0: none.
    uint32_t keepAliveSeconds = 0;
    size_t chunk = 0; // 0: whole messages
    bool garbage = false;
    uint32_t delayMs = 0;
    size_t dropAfter = 0; // 0: never
    size_t clientQueueLimit = kDefaultClientQueueLimit;
    size_t unfinishedLimit = kDefaultUnfinishedLimit;
    size_t maxClients = kDefaultMaxClients;

    static constexpr size_t kDefaultClientQueueLimit = 16u << 20;
    static constexpr size_t kDefaultUnfinishedLimit = 128u << 20;
    static constexpr size_t kDefaultMaxClients = 64;
};

class CConsoleServer
{
public:
    CConsoleServer(asio::io_context& io, CConsoleSimulator& simulator,
                   ConsoleServerOptions options);
    ~CConsoleServer();
    CConsoleServer(const CConsoleServer&) = delete;
    CConsoleServer& operator=(const CConsoleServer&) = delete;

    // Opens the listening socket and starts accepting; false with the
    // reason when the address cannot be used.
    bool Listen(std::string& error);
    // The address actually listened on ("127.0.0.1:9000"), once listening.
    std::string LocalAddress() const;
    uint16_t LocalPort() const;

    // Stops accepting and closes every connection (each logged as a
    // disconnect); the io_context then runs out of work.
    void Stop();

    size_t ConnectionCount() const { return m_connections.size(); }
    // Octets queued for the client (0 for an unknown one).
    size_t QueuedOctets(CConsoleSimulator::ClientId client) const;
    // Whether the client's input is not being read because of its queue.
    bool IsReadingPaused(CConsoleSimulator::ClientId client) const;
    // Octets of unfinished messages held over all clients.
    size_t UnfinishedOctets() const { return m_unfinished; }
    // Accept calls that failed so far.
    uint64_t AcceptFailures() const { return m_acceptFailures; }

    // Network events that are not the simulator's (accept failures).
    std::function<void(const std::string& line)> onLog;

private:
    class Connection;

    void Accept();
    void AcceptFailed(const std::error_code& error);
    // A connection's unfinished octets changed from `before` to `now`;
    // drops the largest holders while the total is past the bound.
    void Unfinished(size_t before, size_t now);
    void Send(CConsoleSimulator::ClientId client, const std::vector<uint8_t>& message);
    void Forget(CConsoleSimulator::ClientId client);
    void Log(const std::string& line);

    asio::io_context& m_io;
    CConsoleSimulator& m_simulator;
    ConsoleServerOptions m_options;
    asio::ip::tcp::acceptor m_acceptor;
    std::map<CConsoleSimulator::ClientId, std::shared_ptr<Connection>> m_connections;
    std::mt19937 m_random;
    asio::steady_timer m_acceptDelay;
    uint32_t m_acceptBackoffMs = 0; // 0: accepting normally
    uint32_t m_acceptFailuresInRow = 0;
    uint64_t m_acceptFailures = 0;
    bool m_refusing = false; // a client was refused (logged once)
    size_t m_unfinished = 0;
    bool m_stopped = false;
};
