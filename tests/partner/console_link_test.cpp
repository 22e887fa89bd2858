// The partner's console link against the console server, both in this
// process: the server on a thread of its own, the link on its own thread,
// the test waiting (bounded) for the link's events.
#include "partner/console_link.h"

#include "console/net/console_server.h"
#include "tests/partner/partner_helpers.h"
#include "tests/support/console_helpers.h"
#include "tests/support/ember_messages.h"
#include "tests/support/hex.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using console_testing::HostBlock;
using partner_testing::Count;
using partner_testing::Events;
using partner_testing::LinkTo;
using partner_testing::ServerThread;
using testing_support::ToHex;

// Console data of the events, joined.
std::vector<uint8_t> Data(const std::vector<ConsoleLinkEvent>& events)
{
    std::vector<uint8_t> data;
    for (const auto& event : events)
        if (event.kind == ConsoleLinkEvent::ConsoleData)
            data.insert(data.end(), event.octets.begin(), event.octets.end());
    return data;
}

std::vector<uint8_t> AnswerFor(const std::string& command)
{
    console_testing::RecordingSimulator console;
    console.Feed(console.simulator.Connect(""), HostBlock(command));
    return console.sent.at(0).message;
}

TEST(ConsoleLink, CommandsGoToTheConsoleAndItsAnswersComeBackAsConsoleData)
{
    ConsoleServerOptions faults;
    faults.chunk = 1;
    ServerThread server(faults);
    ASSERT_TRUE(server.Listening());
    Events events;
    CConsoleLink link(LinkTo(server.Port()));
    // Queued before the link is up: written once it is.
    link.Send(HostBlock("1,2,3,4,5,100"));
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    link.Send(HostBlock("1,2,3,4,0,75"));
    const std::vector<uint8_t> expected =
        testing_support::Join({AnswerFor("1,2,3,4,5,100"), AnswerFor("1,2,3,4,0,75")});
    ASSERT_TRUE(
        events.WaitFor([&](const auto& all) { return Data(all).size() >= expected.size(); }));
    const auto all = events.Snapshot();
    EXPECT_EQ(all.front().kind, ConsoleLinkEvent::Connected);
    EXPECT_EQ(ToHex(Data(all)), ToHex(expected));
    // Whole messages only: each answer in one block although written octet by octet.
    EXPECT_EQ(Count(all, ConsoleLinkEvent::ConsoleData), 2u);
    // A write counts as delivered once the console's acknowledgement is in,
    // which may come just after its answer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (link.PendingWrites() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(link.PendingWrites(), 0u);
}

TEST(ConsoleLink, TheConsolesKeepAliveIsABlockOfItsOwn)
{
    ConsoleServerOptions options;
    options.keepAliveSeconds = 1;
    ServerThread server(options);
    Events events;
    CConsoleLink link(LinkTo(server.Port()));
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    ASSERT_TRUE(events.WaitFor(
        [](const auto& all) { return Count(all, ConsoleLinkEvent::KeepAlive) >= 1; }));
    for (const auto& event : events.Snapshot()) {
        if (event.kind == ConsoleLinkEvent::KeepAlive) {
            EXPECT_EQ(event.octets, KeepAliveOctets());
        }
    }
}

TEST(ConsoleLink, ADroppedLinkIsReconnectedAndNothingIsLostOrSentTwice)
{
    ConsoleServerOptions options;
    options.dropAfter = 1;
    ServerThread server(options);
    Events events;
    CConsoleLink link(LinkTo(server.Port()));
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    std::vector<std::vector<uint8_t>> answers;
    for (int value = 1; value <= 4; ++value) {
        const std::string command = "1,2,3,4,5," + std::to_string(value);
        answers.push_back(AnswerFor(command));
        link.Send(HostBlock(command));
        const std::vector<uint8_t> expected = testing_support::Join(answers);
        ASSERT_TRUE(
            events.WaitFor([&](const auto& all) { return Data(all).size() >= expected.size(); }));
        EXPECT_EQ(ToHex(Data(events.Snapshot())), ToHex(expected));
        // The console drops the link after each message; wait for the new one.
        ASSERT_TRUE(events.WaitFor([&](const auto& all) {
            return Count(all, ConsoleLinkEvent::Connected) >= size_t(value) + 1;
        }));
    }
    const auto all = events.Snapshot();
    EXPECT_GE(Count(all, ConsoleLinkEvent::Lost), 4u);
    EXPECT_EQ(Count(all, ConsoleLinkEvent::Dropped), 0u);
}

TEST(ConsoleLink, AConsoleThatCannotBeReachedIsTriedABoundedNumberOfTimes)
{
    uint16_t port = 0;
    {
        // A port that was free a moment ago and has nobody listening now.
        ServerThread probe;
        port = probe.Port();
    }
    Events events;
    CConsoleLink link(LinkTo(port, 3));
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    ASSERT_TRUE(
        events.WaitFor([](const auto& all) { return Count(all, ConsoleLinkEvent::GaveUp) == 1; }));
    const auto all = events.Snapshot();
    ASSERT_EQ(all.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(all[size_t(i)].kind, ConsoleLinkEvent::Failed);
        EXPECT_EQ(all[size_t(i)].attempt, i + 1);
        EXPECT_EQ(all[size_t(i)].retryInMs, std::min(200, 20 << i));
    }
    EXPECT_NE(all[3].text.find("4 attempts in a row failed"), std::string::npos);
}

TEST(ConsoleLink, AConsoleThatNeverAnswersLeavesTheLinkUp)
{
    // A listening socket that accepts nothing and sends nothing.
    asio::io_context io;
    asio::ip::tcp::acceptor silent(io,
                                   asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    Events events;
    CConsoleLink link(LinkTo(silent.local_endpoint().port()));
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    ASSERT_TRUE(events.WaitFor(
        [](const auto& all) { return Count(all, ConsoleLinkEvent::Connected) == 1; }));
    link.Send(HostBlock("1,2,3,4,5,1"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (link.PendingWrites() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(link.PendingWrites(), 0u);
    // Connected, and nothing else: no data, no loss, no retry.
    EXPECT_EQ(events.Snapshot().size(), 1u);
}

// Waits (bounded) until done holds.
bool WaitUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(ConsoleLink, AFloodingConsoleIsReadOnlyWhileTheConsumerKeepsUp)
{
    // A console that writes 256 KiB of messages as fast as TCP takes them.
    const std::vector<uint8_t> message = HostBlock("1,2,3,4,5,100");
    std::vector<uint8_t> flood;
    while (flood.size() < (256u << 10))
        flood.insert(flood.end(), message.begin(), message.end());
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(
        io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    std::thread console([&] {
        asio::ip::tcp::socket socket(io);
        std::error_code error;
        acceptor.accept(socket, error);
        if (!error)
            asio::write(socket, asio::buffer(flood), error);
    });

    ConsoleLinkOptions options = LinkTo(acceptor.local_endpoint().port());
    options.maxUnconsumedOctets = 16 * 1024;
    CConsoleLink link(options);
    std::atomic<size_t> received{0};
    std::atomic<size_t> most{0};
    link.Start([&](const ConsoleLinkEvent& event) {
        received += event.octets.size();
        // Counted on the link's own thread, as each block is handed out.
        most = std::max(most.load(), link.Unconsumed());
    });
    // The consumer takes what is queued only once reading has stopped.
    while (received.load() < flood.size()) {
        ASSERT_TRUE(
            WaitUntil([&] { return link.ReadingPaused() || received.load() == flood.size(); }));
        EXPECT_LE(link.Unconsumed(), options.maxUnconsumedOctets + 65536);
        link.Consumed(link.Unconsumed());
    }
    console.join();
    EXPECT_EQ(received.load(), flood.size());
    // At most one read (64 KiB) beyond the bound is ever queued.
    EXPECT_LE(most.load(), options.maxUnconsumedOctets + 65536);
}

} // namespace
