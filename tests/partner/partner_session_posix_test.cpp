// How the partner session finds its service on our message layer, in a
// private runtime folder (so no service of another process is found).
#include "partner/partner_session.h"

#include "tests/partner/partner_helpers.h"
#include "tests/support/posix_endpoints.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace testing_support;
using partner_testing::InProcessService;

CPartnerSessionOptions Options(const std::string& service = "")
{
    CPartnerSessionOptions options;
    options.local = true;
    options.service = service;
    return options;
}

class PartnerServiceSearch : public testing::Test
{
protected:
    RuntimeSandbox m_sandbox;
    CPartnerSession m_session;
};

TEST_F(PartnerServiceSearch, FindsTheServiceByOneRule)
{
    const std::string folder = m_sandbox.Path();
    EXPECT_EQ(m_session.Open(Options()), EPartnerStatus::NoService);
    EXPECT_EQ(m_session.LastError(),
              "no Korvane service is running (none in the runtime folder " + folder +
                  ", chosen by KORVANE_RUNTIME_DIR, else XDG_RUNTIME_DIR; start one with "
                  "'korvane serve')");
    EXPECT_FALSE(m_session.IsOpen());

    InProcessService a("Korvane_a");
    InProcessService b("Korvane_b");
    EXPECT_EQ(m_session.Open(Options()), EPartnerStatus::SeveralServices);
    EXPECT_EQ(m_session.LastError(),
              "several services are running (Korvane_a, Korvane_b); name one (--service)");

    const struct
    {
        const char* given;
        EPartnerStatus status;
        const char* found;
    } cases[] = {
        {"b", EPartnerStatus::Ok, "Korvane_b"},
        {"Korvane_a", EPartnerStatus::Ok, "Korvane_a"},
        {"c", EPartnerStatus::NoService, ""},
        {"Korvane_c", EPartnerStatus::NoService, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m_session.Open(Options(c.given)), c.status) << c.given;
        EXPECT_EQ(m_session.ServiceName(), c.found);
    }
    EXPECT_EQ(m_session.LastError(),
              "no service Korvane_Korvane_c is running (none in the runtime folder " + folder +
                  ", chosen by KORVANE_RUNTIME_DIR, else XDG_RUNTIME_DIR; start one with "
                  "'korvane serve')");
}

} // namespace
