// The C interface (korvane_partner.h, the shared library) against a real
// `korvane serve` in a runtime folder of the test's own: statuses and their
// texts, the options open, a callback that uses its own handle, the blocks
// of a request abandoned after a timeout, and a service that has ended.
#include "korvane_partner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef KORVANE_CLI_PATH

namespace {

// The events of a send, one line each.
struct Recorded
{
    std::vector<std::string> events;
    korvane_partner* handle = nullptr;
    int nestedSend = 1;
    int nestedClose = 1;
    std::string nestedError;
};

void Record(void* context, const korvane_event* event)
{
    auto& recorded = *static_cast<Recorded*>(context);
    switch (event->kind) {
    case KORVANE_EVENT_ENCODED:
        recorded.events.push_back("encoded " + std::to_string(event->count));
        break;
    case KORVANE_EVENT_REPORT:
        recorded.events.push_back(std::string("report ") + event->report);
        break;
    case KORVANE_EVENT_KEEPALIVE_ECHO:
        recorded.events.push_back("echo");
        break;
    default:
        recorded.events.push_back("?");
    }
}

// Records, and uses its own handle from inside the callback.
void RecordAndReenter(void* context, const korvane_event* event)
{
    auto& recorded = *static_cast<Recorded*>(context);
    Record(context, event);
    recorded.nestedSend = korvane_partner_send_keepalive(recorded.handle, Record, context);
    recorded.nestedError = korvane_partner_last_error(recorded.handle);
    recorded.nestedClose = korvane_partner_close(recorded.handle);
}

std::vector<uint8_t> Hex(const std::string& text)
{
    std::vector<uint8_t> octets;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        octets.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return octets;
}

// Ctx 7 › Ctx 1 › Ctx 2 › Ctx 3 › Ctx 4 › (Prv 5 › 100, Prv 6 › 0): two reports.
const std::vector<uint8_t> kTwoReports =
    Hex("7F8FFFFED95C803080 A7243122 A120311E A21C311A A3183116 A4143112 E5073105 6303020164 "
        "E6073105 6303020100 00000000");

class PartnerC : public testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/korvane-c-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        setenv("KORVANE_RUNTIME_DIR", folder, 1);
        m_service = fork();
        if (m_service == 0) {
            const char* path = KORVANE_CLI_PATH;
            execl(path, path, "serve", "capi", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Bounded wait for the service's endpoint.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (korvane_partner_open(nullptr, "capi", 5000, &m_partner) != KORVANE_OK) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the service never came up";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    void TearDown() override
    {
        korvane_partner_close(m_partner);
        if (m_service > 0) {
            kill(m_service, SIGCONT);
            kill(m_service, SIGTERM);
            waitpid(m_service, nullptr, 0);
        }
        std::system(("rm -rf '" + m_folder + "'").c_str());
        unsetenv("KORVANE_RUNTIME_DIR");
    }

    std::string m_folder;
    pid_t m_service = -1;
    korvane_partner* m_partner = nullptr;
};

TEST_F(PartnerC, EveryStatusHasItsText)
{
    const struct
    {
        int status;
        const char* text;
    } cases[] = {
        {KORVANE_OK, "ok"},
        {KORVANE_NO_SERVICE, "no service"},
        {KORVANE_TIMEOUT, "timeout"},
        {KORVANE_BAD_ARGUMENT, "bad argument"},
        {KORVANE_IO_ERROR, "I/O error"},
        {KORVANE_SEVERAL_SERVICES, "several services"},
        {KORVANE_SERVICE_GONE, "service gone"},
        {KORVANE_REENTERED, "called from its own callback"},
        {-8, "unknown status"},
        {1, "unknown status"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(korvane_partner_status_text(c.status), c.text) << c.status;
    EXPECT_EQ(korvane_partner_version_number(), KORVANE_PARTNER_VERSION_NUMBER);
    EXPECT_EQ(std::string(korvane_partner_version()).rfind(KORVANE_PARTNER_VERSION, 0), 0u);
}

TEST_F(PartnerC, OpensWithOptions)
{
    korvane_partner* other = nullptr;
    korvane_partner_options options = {sizeof options, "TEST_C", "capi", 0};
    ASSERT_EQ(korvane_partner_open_with(&options, &other), KORVANE_OK)
        << korvane_partner_last_error(nullptr);
    EXPECT_STREQ(korvane_partner_service(other), "Korvane_capi");
    Recorded recorded;
    EXPECT_EQ(korvane_partner_send_command(other, "1,2,3,4,5,100", Record, &recorded), KORVANE_OK);
    EXPECT_EQ(recorded.events, std::vector<std::string>{"encoded 51"});
    korvane_partner_close(other);

    const struct
    {
        korvane_partner_options options;
        int status;
    } cases[] = {
        {{sizeof options - 8, "TEST_C", "capi", 0}, KORVANE_BAD_ARGUMENT},
        {{0, "TEST_C", "capi", 0}, KORVANE_BAD_ARGUMENT},
        {{sizeof options, "TEST_C", "capi", -1}, KORVANE_BAD_ARGUMENT},
        {{sizeof options, "TEST_C", "nothing", 100}, KORVANE_NO_SERVICE},
    };
    for (const auto& c : cases) {
        other = &*m_partner; // must be cleared
        EXPECT_EQ(korvane_partner_open_with(&c.options, &other), c.status) << c.options.size;
        EXPECT_EQ(other, nullptr);
        EXPECT_STRNE(korvane_partner_last_error(nullptr), "");
    }
    EXPECT_EQ(korvane_partner_open_with(nullptr, &other), KORVANE_BAD_ARGUMENT);
    EXPECT_EQ(korvane_partner_send_keepalive(nullptr, nullptr, nullptr), KORVANE_BAD_ARGUMENT);
    EXPECT_STREQ(korvane_partner_last_error(nullptr),
                 "korvane_partner_send_keepalive: no handle (NULL)");
}

// A callback that sends on its own handle and closes it: both refused, the
// outer send keeps every report and the handle stays usable.
TEST_F(PartnerC, ACallbackCannotUseItsOwnHandle)
{
    Recorded recorded;
    recorded.handle = m_partner;
    EXPECT_EQ(korvane_partner_send_console(m_partner, kTwoReports.data(), kTwoReports.size(),
                                           RecordAndReenter, &recorded),
              KORVANE_OK)
        << korvane_partner_last_error(m_partner);
    EXPECT_EQ(recorded.events,
              (std::vector<std::string>{"report 1,2,3,4,5,100", "report 1,2,3,4,6,0"}));
    EXPECT_EQ(recorded.nestedSend, KORVANE_REENTERED);
    EXPECT_EQ(recorded.nestedClose, KORVANE_REENTERED);
    EXPECT_EQ(recorded.nestedError, "korvane_partner_send_keepalive was called from the handle's "
                                    "own callback, which may not use it");
    EXPECT_STREQ(korvane_partner_last_error(m_partner), "");

    Recorded after;
    EXPECT_EQ(korvane_partner_send_keepalive(m_partner, Record, &after), KORVANE_OK);
    EXPECT_EQ(after.events, std::vector<std::string>{"echo"});
}

// The service answers after the send gave up (stopped, then continued): the
// late encoded block is no event of the next send, which sees its own only.
TEST_F(PartnerC, LateBlocksOfAnAbandonedRequestAreNoEventsOfTheNext)
{
    // The stopped service cannot answer: the send gives up after 1 s
    // whatever the machine's load; once continued, the service answers
    // the next send in far less.
    korvane_partner* quick = nullptr;
    ASSERT_EQ(korvane_partner_open("TEST_Q", "capi", 1000, &quick), KORVANE_OK);
    ASSERT_EQ(kill(m_service, SIGSTOP), 0);
    Recorded abandoned;
    EXPECT_EQ(korvane_partner_send_command(quick, "1,2,3,4,5,100", Record, &abandoned),
              KORVANE_TIMEOUT);
    EXPECT_TRUE(abandoned.events.empty());
    ASSERT_EQ(kill(m_service, SIGCONT), 0);

    // The continued service handles the abandoned command first: its
    // encoded block is sent while this keep-alive waits.
    Recorded next;
    EXPECT_EQ(korvane_partner_send_keepalive(quick, Record, &next), KORVANE_OK)
        << korvane_partner_last_error(quick);
    EXPECT_EQ(next.events, std::vector<std::string>{"echo"});
    Recorded again;
    EXPECT_EQ(korvane_partner_send_command(quick, "1,2,3,4,0,75", Record, &again), KORVANE_OK);
    EXPECT_EQ(again.events, std::vector<std::string>{"encoded 47"});
    korvane_partner_close(quick);
}

// A service that has ended cannot take the block: the send says so, with
// its own status, and the handle stays usable for closing.
TEST_F(PartnerC, ASendToAServiceThatEndedIsServiceGone)
{
    ASSERT_EQ(kill(m_service, SIGTERM), 0);
    ASSERT_EQ(waitpid(m_service, nullptr, 0), m_service);
    m_service = -1;
    Recorded none;
    EXPECT_EQ(korvane_partner_send_command(m_partner, "1,2,3,4,5,100", Record, &none),
              KORVANE_SERVICE_GONE)
        << korvane_partner_last_error(m_partner);
    EXPECT_TRUE(none.events.empty());
}

} // namespace

#endif // KORVANE_CLI_PATH
