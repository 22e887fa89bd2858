// The simulated console without any network: its parameter store, its
// clients and what it does with their octets.
//
// The network side (or a test) calls Connect for a new client, Receive with
// whatever octets that client sent (split anywhere), KeepAlive when a
// keep-alive is due and Disconnect when the client is gone. Each client's
// octets go through a stream reader of the library of its own. A complete
// message is answered through onSend:
//   - a value sets the parameter; the sender gets the parameter's tree and
//     every other client gets the same tree as an announcement (on every
//     set, changed or not: a console confirms what it was told);
//   - a poll answers the sender with every parameter below the polled path
//     in one tree, or with nothing when there is none;
//   - an empty root is the echo of an outstanding keep-alive, else the head
//     of a host block, and needs nothing;
//   - anything else is logged as ignored; reader errors are logged with
//     the reader's code and text and the client stays connected.
// Every event is one line through onLog ("client N: ..."). Nothing is
// re-entered: output is only handed out, never fed back.
#pragma once

#include "console/console_tree.h"
#include "console/parameter_store.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CConsoleSimulator
{
public:
    using ClientId = uint64_t;

    enum class OutputKind
    {
        Answer,
        Announce,
        KeepAlive,
    };

    // store must outlive the simulator; top numbers the top Set level.
    CConsoleSimulator(CParameterStore& store, uint32_t top);
    ~CConsoleSimulator();
    CConsoleSimulator(const CConsoleSimulator&) = delete;
    CConsoleSimulator& operator=(const CConsoleSimulator&) = delete;

    // A new client; peer is only used in the log line.
    ClientId Connect(const std::string& peer);
    // The client is gone (reason for the log line); unknown ids are ignored.
    void Disconnect(ClientId client, const std::string& reason);

    // Takes octets the client sent. Returns the number of messages other
    // than empty roots that they completed (for --drop-after).
    size_t Receive(ClientId client, const uint8_t* octets, size_t size);

    // The keep-alive to send to the client now; logs a missed one when the
    // previous keep-alive has not come back.
    std::vector<uint8_t> KeepAlive(ClientId client);

    size_t ClientCount() const { return m_clients.size(); }
    uint32_t Top() const { return m_top; }
    CParameterStore& Store() { return m_store; }

    // Called with each whole message for a client.
    std::function<void(ClientId client, OutputKind kind, const std::vector<uint8_t>& message)>
        onSend;
    // Called with each event line.
    std::function<void(const std::string& line)> onLog;

private:
    struct Client;
    struct Event;

    void Log(ClientId client, const std::string& text);
    void Handle(ClientId client, Client& state, const Event& event);
    void Send(ClientId client, OutputKind kind, const std::vector<uint8_t>& message);

    CParameterStore& m_store;
    uint32_t m_top;
    ClientId m_next = 1;
    std::map<ClientId, std::unique_ptr<Client>> m_clients;
};
