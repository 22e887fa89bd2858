#include "console/console_simulator.h"

#include "ember/tree/stream_reader.h"

#include <utility>

struct CConsoleSimulator::Event
{
    enum Kind
    {
        Message, // requests of one complete message (none: an empty root)
        Error,
    };
    Kind kind = Message;
    std::vector<ConsoleRequest> requests;
    int32_t code = 0;
    std::string text;
};

namespace {

// One client's reader: each complete message is read into requests while
// its tree is still there; events wait until the feeding call returns.
class CConsoleReader : public CEmber_StreamReader
{
public:
    using Event = std::vector<ConsoleRequest>;

    CConsoleReader() : CEmber_StreamReader(1) {}

    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node->GetParent() || node != GetRoot())
            return;
        onMessage(ReadRequests(*node));
    }

    void OnError(const CEmber_Exception& error) override
    {
        onError(error.GetCode(), error.GetMessage());
    }

    std::function<void(std::vector<ConsoleRequest>)> onMessage;
    std::function<void(int32_t, const std::string&)> onError;
};

} // namespace

struct CConsoleSimulator::Client
{
    std::string peer;
    CConsoleReader reader;
    std::vector<Event> events;
    // Keep-alives sent and not yet echoed.
    uint32_t keepAlivesOut = 0;
};

CConsoleSimulator::CConsoleSimulator(CParameterStore& store, uint32_t top)
    : m_store(store), m_top(top)
{}

CConsoleSimulator::~CConsoleSimulator() = default;

CConsoleSimulator::ClientId CConsoleSimulator::Connect(const std::string& peer)
{
    const ClientId id = m_next++;
    auto client = std::make_unique<Client>();
    client->peer = peer;
    Client* raw = client.get();
    client->reader.onMessage = [raw](std::vector<ConsoleRequest> requests) {
        Event event;
        event.requests = std::move(requests);
        raw->events.push_back(std::move(event));
    };
    client->reader.onError = [raw](int32_t code, const std::string& text) {
        Event event;
        event.kind = Event::Error;
        event.code = code;
        event.text = text;
        raw->events.push_back(std::move(event));
    };
    m_clients.emplace(id, std::move(client));
    Log(id, "connected" + (peer.empty() ? std::string() : " from " + peer));
    return id;
}

void CConsoleSimulator::Disconnect(ClientId client, const std::string& reason)
{
    const auto found = m_clients.find(client);
    if (found == m_clients.end())
        return;
    m_clients.erase(found);
    Log(client, "disconnected" + (reason.empty() ? std::string() : " (" + reason + ")"));
}

size_t CConsoleSimulator::Receive(ClientId client, const uint8_t* octets, size_t size)
{
    const auto found = m_clients.find(client);
    if (found == m_clients.end())
        return 0;
    Client& state = *found->second;
    // The reader takes at most 4 GiB at a time.
    while (size) {
        const uint32_t part = size > 0x40000000u ? 0x40000000u : uint32_t(size);
        state.reader.FeedBlock(octets, part);
        octets += part;
        size -= part;
    }
    std::vector<Event> events = std::move(state.events);
    state.events.clear();
    size_t messages = 0;
    for (const Event& event : events) {
        if (event.kind == Event::Message && !event.requests.empty())
            ++messages;
        Handle(client, state, event);
    }
    return messages;
}

void CConsoleSimulator::Handle(ClientId client, Client& state, const Event& event)
{
    if (event.kind == Event::Error) {
        Log(client, "error " + std::to_string(event.code) + ": " + event.text);
        return;
    }
    if (event.requests.empty()) {
        // An empty root: the echo of our keep-alive, or the empty root that
        // heads every block the host encodes.
        if (state.keepAlivesOut) {
            --state.keepAlivesOut;
            Log(client, "keep-alive came back");
        }
        return;
    }
    for (const ConsoleRequest& request : event.requests) {
        switch (request.kind) {
        case ConsoleRequest::Set: {
            const bool changed = m_store.Set(request.key, request.value);
            Log(client, "message: set " + KeyText(request.key) + " = " + ValueText(request.value) +
                            (changed ? "" : " (unchanged)"));
            const std::vector<uint8_t> answer = EncodeAnswer(m_top, {{request.key, request.value}});
            Send(client, OutputKind::Answer, answer);
            for (const auto& [other, ignored] : m_clients)
                if (other != client)
                    Send(other, OutputKind::Announce, answer);
            break;
        }
        case ConsoleRequest::Poll: {
            const std::vector<ParameterEntry> below = m_store.Below(request.key);
            Log(client, "message: poll " + KeyText(request.key) + ": " +
                            std::to_string(below.size()) +
                            (below.size() == 1 ? " parameter" : " parameters"));
            if (!below.empty())
                Send(client, OutputKind::Answer, EncodeAnswer(m_top, below));
            break;
        }
        case ConsoleRequest::Ignored:
            Log(client, "message: ignored: " + request.reason);
            break;
        }
    }
}

void CConsoleSimulator::Send(ClientId client, OutputKind kind, const std::vector<uint8_t>& message)
{
    if (message.empty())
        return;
    const char* what = kind == OutputKind::Answer ? "answer" : "announce";
    Log(client, std::string(what) + " " + std::to_string(message.size()) + " octets");
    if (onSend)
        onSend(client, kind, message);
}

std::vector<uint8_t> CConsoleSimulator::KeepAlive(ClientId client)
{
    const auto found = m_clients.find(client);
    if (found == m_clients.end())
        return {};
    Client& state = *found->second;
    if (state.keepAlivesOut) {
        Log(client,
            "keep-alive not answered (" + std::to_string(state.keepAlivesOut) + " outstanding)");
    }
    ++state.keepAlivesOut;
    Log(client, "keep-alive sent");
    return KeepAliveOctets();
}

void CConsoleSimulator::Log(ClientId client, const std::string& text)
{
    if (onLog)
        onLog("client " + std::to_string(client) + ": " + text);
}
