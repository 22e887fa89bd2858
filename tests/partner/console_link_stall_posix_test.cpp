// A console that stops reading, on POSIX sockets, where a write that the
// peer never reads fills the socket buffers and stalls. Wine's sockets did
// not stall within the bound, so this one runs on POSIX only.
#include "partner/console_link.h"
#include "tests/partner/partner_helpers.h"

#include <asio/ip/tcp.hpp>

#include <gtest/gtest.h>

namespace {

using partner_testing::Count;
using partner_testing::Events;
using partner_testing::LinkTo;

TEST(ConsoleLink, AConsoleThatStopsReadingLosesTheLink)
{
    // Accepts and never reads: the link's writes fill the socket and stall.
    asio::io_context io;
    asio::ip::tcp::acceptor silent(io,
                                   asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    Events events;
    ConsoleLinkOptions options = LinkTo(silent.local_endpoint().port());
    options.stallTimeoutMs = 200;
    CConsoleLink link(options);
    link.Start([&](const ConsoleLinkEvent& event) { events.Add(event); });
    link.Send(std::vector<uint8_t>(64u << 20, 0x00));
    ASSERT_TRUE(
        events.WaitFor([](const auto& all) { return Count(all, ConsoleLinkEvent::Lost) >= 1; }));
    for (const auto& event : events.Snapshot()) {
        if (event.kind == ConsoleLinkEvent::Lost) {
            EXPECT_EQ(event.text, "the console took nothing for 200 ms");
        }
    }
    // The block is kept for the next connection.
    EXPECT_EQ(link.PendingWrites(), 1u);
}

} // namespace
