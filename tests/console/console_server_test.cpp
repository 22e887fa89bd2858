// The console on TCP, in this process: the server and its test clients
// share one io_context, which the test runs until a condition holds (every
// wait bounded).
#include "console/net/console_server.h"
#include "protocol/host_port.h"

#include "ember/tree/stream_reader.h"
#include "tests/support/console_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

namespace {

using namespace testing_support;
using asio::ip::tcp;
using console_testing::HostBlock;

constexpr auto kSafety = std::chrono::seconds(15);

// Splits a received stream into messages with the library's reader.
class MessageCollector : public CEmber_StreamReader
{
public:
    MessageCollector() : CEmber_StreamReader(1) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node == GetRoot())
            ++messages;
    }
    void OnError(const CEmber_Exception&) override { ++errors; }
    int messages = 0;
    int errors = 0;
};

// A test client; what it receives is kept in a record that its pending
// read shares, so the client may be destroyed at any time.
class Client
{
public:
    // A client that does not read until StartReading gets a small receive
    // buffer, so that little of what it is owed can wait in the kernel.
    Client(asio::io_context& io, uint16_t port, bool reading = true)
        : m_state(std::make_shared<State>(io))
    {
        const tcp::endpoint console(asio::ip::make_address("127.0.0.1"), port);
        m_state->socket.open(console.protocol());
        if (!reading)
            m_state->socket.set_option(asio::socket_base::receive_buffer_size(4096));
        m_state->socket.connect(console);
        if (reading)
            StartReading();
    }
    void StartReading()
    {
        m_state->socket.set_option(asio::socket_base::receive_buffer_size(1 << 20));
        Read(m_state);
    }
    // Sends no more (the console sees the end of its input).
    void ShutdownSend() { m_state->socket.shutdown(tcp::socket::shutdown_send); }
    ~Client()
    {
        std::error_code ignored;
        m_state->socket.close(ignored);
    }

    void Write(const std::vector<uint8_t>& octets)
    {
        asio::write(m_state->socket, asio::buffer(octets));
    }

    const std::vector<uint8_t>& Received() const { return m_state->received; }
    bool Closed() const { return m_state->closed; }

private:
    struct State
    {
        explicit State(asio::io_context& io) : socket(io) {}
        tcp::socket socket;
        std::array<uint8_t, 1024> buffer{};
        std::vector<uint8_t> received;
        bool closed = false;
    };

    static void Read(const std::shared_ptr<State>& state)
    {
        state->socket.async_read_some(asio::buffer(state->buffer),
                                      [state](std::error_code error, size_t got) {
            if (error) {
                state->closed = true;
                return;
            }
            state->received.insert(state->received.end(), state->buffer.begin(),
                                   state->buffer.begin() + long(got));
            Read(state);
        });
    }

    std::shared_ptr<State> m_state;
};

class ConsoleServerTest : public ::testing::Test
{
protected:
    void Start(ConsoleServerOptions options = {})
    {
        options.port = 0;
        simulator.onLog = [this](const std::string& line) { log.push_back(line); };
        server = std::make_unique<CConsoleServer>(io, simulator, options);
        server->onLog = [this](const std::string& line) { serverLog.push_back(line); };
        std::string error;
        ASSERT_TRUE(server->Listen(error)) << error;
        ASSERT_NE(server->LocalPort(), 0);
    }

    std::unique_ptr<Client> Connect()
    {
        auto client = std::make_unique<Client>(io, server->LocalPort());
        const size_t before = simulator.ClientCount();
        EXPECT_TRUE(RunUntil([&] { return simulator.ClientCount() > before; }));
        return client;
    }

    bool RunUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + kSafety;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            io.run_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    bool Logged(const std::string& line) const
    {
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    // Lines that begin with `start`.
    size_t ServerLogged(const std::string& start) const
    {
        return size_t(
            std::count_if(serverLog.begin(), serverLog.end(),
                          [&](const std::string& line) { return line.rfind(start, 0) == 0; }));
    }

    // Declared first: the server logs its last disconnects when it goes.
    std::vector<std::string> log;
    std::vector<std::string> serverLog;
    asio::io_context io;
    CParameterStore store;
    CConsoleSimulator simulator{store, 7};
    std::unique_ptr<CConsoleServer> server;
};

std::vector<uint8_t> AnswerFor(const std::string& command)
{
    console_testing::RecordingSimulator console;
    console.Feed(console.simulator.Connect(""), HostBlock(command));
    return console.sent.empty() ? std::vector<uint8_t>() : console.sent[0].message;
}

TEST_F(ConsoleServerTest, ASetIsAnsweredToItsSenderAndAnnouncedToTheOthers)
{
    Start();
    auto a = Connect();
    auto b = Connect();
    auto c = Connect();
    const std::vector<uint8_t> answer = AnswerFor("1,2,3,4,5,100");
    b->Write(HostBlock("1,2,3,4,5,100"));
    ASSERT_TRUE(RunUntil([&] {
        return a->Received().size() >= answer.size() && b->Received().size() >= answer.size() &&
               c->Received().size() >= answer.size();
    }));
    EXPECT_EQ(ToHex(a->Received()), ToHex(answer));
    EXPECT_EQ(ToHex(b->Received()), ToHex(answer));
    EXPECT_EQ(ToHex(c->Received()), ToHex(answer));
    EXPECT_TRUE(Logged("client 2: answer 42 octets"));
    EXPECT_TRUE(Logged("client 1: announce 42 octets"));
    EXPECT_TRUE(Logged("client 3: announce 42 octets"));
    // A client that goes away is forgotten; the others carry on.
    b.reset();
    ASSERT_TRUE(RunUntil([&] { return simulator.ClientCount() == 2; }));
    EXPECT_TRUE(Logged("client 2: disconnected (closed by the client)"));
}

TEST_F(ConsoleServerTest, AnswersInOneOctetPiecesWithGarbageBetweenAndADelayStillReadAsTheMessages)
{
    ConsoleServerOptions options;
    options.chunk = 1;
    options.garbage = true;
    options.delayMs = 20;
    Start(options);
    store.Set({1, 2, 3}, std::string("Ch 1"));
    auto client = Connect();
    const std::vector<std::string> commands = {"1,2,3,4,5,100", "1,2,3,0,0,-1", "1,2,3,4,0,75"};
    console_testing::RecordingSimulator reference;
    reference.store.Set({1, 2, 3}, std::string("Ch 1"));
    const auto id = reference.simulator.Connect("");
    for (const std::string& command : commands) {
        client->Write(HostBlock(command));
        reference.Feed(id, HostBlock(command));
    }
    ASSERT_EQ(reference.sent.size(), 3u);
    ASSERT_TRUE(RunUntil([&] {
        MessageCollector collector;
        collector.FeedBlock(client->Received().data(), uint32_t(client->Received().size()));
        return collector.messages == 3;
    }));
    // Each answer whole, after 1 to 16 octets of garbage without 0x7F.
    const std::vector<uint8_t>& received = client->Received();
    size_t at = 0;
    for (const auto& sent : reference.sent) {
        const auto found = std::search(received.begin() + long(at), received.end(),
                                       sent.message.begin(), sent.message.end());
        ASSERT_NE(found, received.end());
        const size_t gap = size_t(found - received.begin()) - at;
        EXPECT_GE(gap, 1u);
        EXPECT_LE(gap, 16u);
        EXPECT_EQ(std::count(received.begin() + long(at), found, uint8_t(0x7F)), 0);
        at = size_t(found - received.begin()) + sent.message.size();
    }
    EXPECT_EQ(at, received.size());
}

TEST_F(ConsoleServerTest, ADelayHoldsEachAnswerBack)
{
    ConsoleServerOptions options;
    options.delayMs = 150;
    Start(options);
    auto client = Connect();
    const auto sent = std::chrono::steady_clock::now();
    client->Write(HostBlock("1,2,3,4,5,1"));
    ASSERT_TRUE(RunUntil([&] { return !client->Received().empty(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(150));
}

TEST_F(ConsoleServerTest, DropAfterWritesTheAnswersThenCloses)
{
    ConsoleServerOptions options;
    options.dropAfter = 2;
    Start(options);
    auto client = Connect();
    const std::vector<uint8_t> first = AnswerFor("1,2,3,4,5,1");
    const std::vector<uint8_t> second = AnswerFor("1,2,3,4,5,2");
    client->Write(HostBlock("1,2,3,4,5,1"));
    client->Write(HostBlock("1,2,3,4,5,2"));
    ASSERT_TRUE(RunUntil([&] { return client->Closed(); }));
    EXPECT_EQ(ToHex(client->Received()), ToHex(Join({first, second})));
    EXPECT_TRUE(Logged("client 1: disconnected (dropped after 2 messages)"));
    EXPECT_EQ(server->ConnectionCount(), 0u);
    // The console still takes new clients.
    auto again = Connect();
    again->Write(HostBlock("1,2,3,4,5,3"));
    ASSERT_TRUE(RunUntil([&] { return !again->Received().empty(); }));
}

TEST_F(ConsoleServerTest, KeepAlivesGoOutAndTheirEchoesAreLogged)
{
    ConsoleServerOptions options;
    options.keepAliveSeconds = 1;
    Start(options);
    auto client = Connect();
    ASSERT_TRUE(RunUntil([&] { return client->Received().size() >= 13; }));
    EXPECT_EQ(
        ToHex(std::vector<uint8_t>(client->Received().begin(), client->Received().begin() + 13)),
        ToHex(KeepAliveOctets()));
    client->Write(KeepAliveOctets());
    ASSERT_TRUE(RunUntil([&] { return Logged("client 1: keep-alive came back"); }));
    // The next one is not answered: the one after it says so.
    ASSERT_TRUE(
        RunUntil([&] { return Logged("client 1: keep-alive not answered (1 outstanding)"); }));
}

TEST_F(ConsoleServerTest, MalformedOctetsKeepTheConnection)
{
    Start();
    auto client = Connect();
    client->Write(Hex("7F 8F FF FE D9 5C 80 30 80 A1 00"));
    client->Write(HostBlock("1,2,3,4,5,9"));
    ASSERT_TRUE(RunUntil([&] { return !client->Received().empty(); }));
    EXPECT_TRUE(Logged("client 1: error 102: @A-4294946012/C-1: Zero outer length encountered"));
    EXPECT_FALSE(client->Closed());
}

TEST_F(ConsoleServerTest, StopClosesEveryConnection)
{
    Start();
    auto a = Connect();
    auto b = Connect();
    server->Stop();
    ASSERT_TRUE(RunUntil([&] { return a->Closed() && b->Closed(); }));
    EXPECT_TRUE(Logged("client 1: disconnected (console stopping)"));
    EXPECT_TRUE(Logged("client 2: disconnected (console stopping)"));
}

size_t MessagesIn(const std::vector<uint8_t>& octets)
{
    MessageCollector collector;
    collector.FeedBlock(octets.data(), uint32_t(octets.size()));
    return size_t(collector.messages);
}

TEST_F(ConsoleServerTest, AClientThatDoesNotReadIsNotReadFromPastTheBound)
{
    ConsoleServerOptions options;
    options.clientQueueLimit = 256u << 10;
    Start(options);
    for (uint32_t i = 0; i < 4000; ++i)
        store.Set({1, 2, 3, i / 100, i % 100}, int32_t(i));
    console_testing::RecordingSimulator reference;
    reference.store = store;
    reference.Feed(reference.simulator.Connect(""), HostBlock("1,2,3,0,0,-1"));
    ASSERT_EQ(reference.sent.size(), 1u);
    const size_t answer = reference.sent[0].message.size();
    ASSERT_GT(answer, 40000u);

    Client client(io, server->LocalPort(), false);
    ASSERT_TRUE(RunUntil([&] { return simulator.ClientCount() == 1; }));
    std::vector<uint8_t> polls;
    for (int i = 0; i < 60; ++i) {
        const std::vector<uint8_t> poll = HostBlock("1,2,3,0,0,-1");
        polls.insert(polls.end(), poll.begin(), poll.end());
    }
    client.Write(polls);
    ASSERT_TRUE(RunUntil([&] { return server->IsReadingPaused(1); }));
    // At most one answer past the bound is queued, and the polls after it
    // wait unread.
    EXPECT_LE(server->QueuedOctets(1), options.clientQueueLimit + answer);
    EXPECT_LT(
        std::count_if(
            log.begin(), log.end(),
            [](const std::string& line) { return line.rfind("client 1: message: poll", 0) == 0; }),
        60);
    EXPECT_EQ(ServerLogged("client 1: owed "), 1u);
    // Once it reads, every poll is answered.
    client.StartReading();
    ASSERT_TRUE(RunUntil([&] { return client.Received().size() >= 60 * answer; }))
        << client.Received().size() << " of " << 60 * answer;
    EXPECT_EQ(MessagesIn(client.Received()), 60u);
    EXPECT_FALSE(client.Closed());
}

TEST_F(ConsoleServerTest, AClientOwedTwiceTheBoundIsDropped)
{
    ConsoleServerOptions options;
    options.clientQueueLimit = 1u << 20;
    Start(options);
    Client client(io, server->LocalPort(), false);
    ASSERT_TRUE(RunUntil([&] { return simulator.ClientCount() == 1; }));
    // Announcements keep coming for it; the kernel takes some of them.
    const std::vector<uint8_t> news(512u << 10, 0x5A);
    for (int i = 0; i < 200 && !client.Closed() && simulator.ClientCount() == 1; ++i) {
        simulator.onSend(1, CConsoleSimulator::OutputKind::Announce, news);
        EXPECT_LE(server->QueuedOctets(1), 2 * options.clientQueueLimit);
        io.poll();
    }
    ASSERT_TRUE(RunUntil([&] { return simulator.ClientCount() == 0; }));
    EXPECT_EQ(ServerLogged("client 1: dropped: owed more than 2097152 octets it does not read"),
              1u);
}

TEST_F(ConsoleServerTest, UnfinishedMessagesAreBoundedOverAllClients)
{
    ConsoleServerOptions options;
    options.unfinishedLimit = 1u << 20;
    Start(options);
    // A message whose one value never ends.
    auto unfinished = [](size_t octets) {
        std::vector<uint8_t> message = Hex("7F 8F FF FE D9 5C 80 30 80 A1 84 00 FF FF FF 04 84 00 "
                                           "FF FF F0");
        message.resize(octets, 0x5A);
        return message;
    };
    auto a = Connect();
    auto b = Connect();
    auto c = Connect();
    a->Write(unfinished(300u << 10));
    ASSERT_TRUE(RunUntil([&] { return server->UnfinishedOctets() == 300u << 10; }));
    b->Write(unfinished(500u << 10));
    ASSERT_TRUE(RunUntil([&] { return server->UnfinishedOctets() == 800u << 10; }));
    c->Write(unfinished(400u << 10));
    // The client holding the most goes.
    ASSERT_TRUE(RunUntil([&] { return b->Closed(); }));
    EXPECT_EQ(ServerLogged("client 2: dropped: holds 5"), 1u) << serverLog.front();
    ASSERT_TRUE(RunUntil([&] { return server->UnfinishedOctets() == 700u << 10; }));
    EXPECT_FALSE(a->Closed());
    EXPECT_FALSE(c->Closed());
    EXPECT_EQ(simulator.ClientCount(), 2u);
}

TEST_F(ConsoleServerTest, ClientsPastTheMostAllowedAreClosedAtOnce)
{
    ConsoleServerOptions options;
    options.maxClients = 2;
    Start(options);
    auto a = Connect();
    auto b = Connect();
    Client c(io, server->LocalPort());
    Client d(io, server->LocalPort());
    ASSERT_TRUE(RunUntil([&] { return c.Closed() && d.Closed(); }));
    EXPECT_EQ(ServerLogged("refusing clients (first 127.0.0.1:"), 1u);
    EXPECT_EQ(simulator.ClientCount(), 2u);
    a.reset();
    ASSERT_TRUE(RunUntil([&] { return simulator.ClientCount() == 1; }));
    auto e = Connect();
    EXPECT_EQ(ServerLogged("taking clients again"), 1u);
}

TEST_F(ConsoleServerTest, AClientThatStopsSendingGetsEveryAnswerBeforeTheClose)
{
    Start();
    auto client = Connect();
    std::vector<uint8_t> sets;
    for (int i = 0; i < 200; ++i) {
        const std::vector<uint8_t> set = HostBlock("1,2,3,4,5," + std::to_string(i));
        sets.insert(sets.end(), set.begin(), set.end());
    }
    client->Write(sets);
    client->ShutdownSend();
    ASSERT_TRUE(RunUntil([&] { return client->Closed(); }));
    EXPECT_EQ(MessagesIn(client->Received()), 200u);
    EXPECT_EQ(std::get<int32_t>(store.All().at({1, 2, 3, 4, 5})), 199);
    EXPECT_TRUE(Logged("client 1: disconnected (closed by the client)"));
}

TEST_F(ConsoleServerTest, ListensOnAName)
{
    ConsoleServerOptions options;
    options.address = "localhost";
    options.port = 0;
    simulator.onLog = [this](const std::string& line) { log.push_back(line); };
    server = std::make_unique<CConsoleServer>(io, simulator, options);
    std::string error;
    ASSERT_TRUE(server->Listen(error)) << error;
    const std::string address = server->LocalAddress();
    EXPECT_TRUE(address.rfind("127.0.0.1:", 0) == 0 || address.rfind("[::1]:", 0) == 0) << address;

    options.address = "no-such-host.invalid";
    CConsoleServer unknown(io, simulator, options);
    EXPECT_FALSE(unknown.Listen(error));
    EXPECT_EQ(error.rfind("cannot resolve no-such-host.invalid: ", 0), 0u) << error;
}

TEST(ConsoleAddress, HostAndPort)
{
    struct Row
    {
        const char* text;
        const char* host; // nullptr: refused with error
        uint16_t port;
        const char* error;
    };
    const Row rows[] = {
        {"127.0.0.1:9000", "127.0.0.1", 9000, ""},
        {"localhost:0", "localhost", 0, ""},
        {"[::1]:65535", "::1", 65535, ""},
        {"127.0.0.1", nullptr, 0, "'127.0.0.1' is not ADDR:PORT"},
        {":80", nullptr, 0, "':80' is not ADDR:PORT"},
        {"host:", nullptr, 0, "'host:' is not ADDR:PORT"},
        {"host:65536", nullptr, 0, "'65536' is not a port (0 to 65535)"},
        {"host:8x", nullptr, 0, "'8x' is not a port (0 to 65535)"},
        {"::1:80", nullptr, 0, "'::1:80': write an IPv6 address as [ADDR]:PORT"},
        {"[]:80", nullptr, 0, "'[]:80' is not ADDR:PORT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::string host = "unchanged", error;
        uint16_t port = 1;
        const bool ok = ParseHostPort(row.text, host, port, error);
        EXPECT_EQ(ok, row.host != nullptr);
        if (row.host) {
            EXPECT_EQ(host, row.host);
            EXPECT_EQ(port, row.port);
        } else {
            EXPECT_EQ(error, row.error);
            EXPECT_EQ(host, "unchanged");
        }
    }
}

} // namespace
