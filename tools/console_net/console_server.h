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
#pragma once

#include "tools/console/console_simulator.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

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

    // Network events that are not the simulator's (accept failures).
    std::function<void(const std::string& line)> onLog;

private:
    class Connection;

    void Accept();
    void Send(CConsoleSimulator::ClientId client, const std::vector<uint8_t>& message);
    void Forget(CConsoleSimulator::ClientId client);
    void Log(const std::string& line);

    asio::io_context& m_io;
    CConsoleSimulator& m_simulator;
    ConsoleServerOptions m_options;
    asio::ip::tcp::acceptor m_acceptor;
    std::map<CConsoleSimulator::ClientId, std::shared_ptr<Connection>> m_connections;
    std::mt19937 m_random;
    bool m_stopped = false;
};

// Parses "ADDR:PORT" (a name or IPv4 address, or [IPv6]:PORT); false with
// the reason.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error);
