// Who may use the view's HTTP interface: Host, Origin, the fetch site and
// the token, each refused with its reason.
#include "view/view_access.h"

#include <gtest/gtest.h>

namespace {

struct AccessCase
{
    const char* name;
    CViewRequestFacts request;
    int status;
    const char* reason;
};

CViewRequestFacts Request(const char* method, const char* path, const char* token,
                          const char* host = "127.0.0.1:8080")
{
    CViewRequestFacts facts;
    facts.method = method;
    facts.path = path;
    facts.hasHost = host != nullptr;
    facts.host = host ? host : "";
    facts.token = token;
    return facts;
}

CViewRequestFacts WithOrigin(CViewRequestFacts facts, const char* origin)
{
    facts.hasOrigin = true;
    facts.origin = origin;
    return facts;
}

CViewRequestFacts WithSite(CViewRequestFacts facts, const char* site)
{
    facts.fetchSite = site;
    return facts;
}

const char kToken[] = "0123456789abcdef0123456789abcdef";

const AccessCase kCases[] = {
    {"ThePageWithoutToken", Request("GET", "/", ""), 0, ""},
    {"StateWithToken", Request("GET", "/api/state", kToken), 0, ""},
    {"LocalhostName", Request("GET", "/api/state", kToken, "localhost:8080"), 0, ""},
    {"HostCaseIgnored", Request("GET", "/", "", "LOCALHOST:8080"), 0, ""},
    {"OwnOrigin", WithOrigin(Request("POST", "/api/set", kToken), "http://127.0.0.1:8080"), 0, ""},
    {"SameOriginFetch", WithSite(Request("POST", "/api/set", kToken), "same-origin"), 0, ""},
    {"NoToken", Request("GET", "/api/state", ""), 403,
     "refused: the request carries no token (see the address the view printed)"},
    {"WrongToken", Request("GET", "/api/state", "0123456789abcdef0123456789abcdeX"), 403,
     "refused: wrong token"},
    {"ShortToken", Request("GET", "/api/events", "0123"), 403, "refused: wrong token"},
    {"PostToThePagePathNeedsToken", Request("POST", "/", ""), 403,
     "refused: the request carries no token (see the address the view printed)"},
    {"UnknownPathNeedsTokenFirst", Request("GET", "/etc/passwd", ""), 403,
     "refused: the request carries no token (see the address the view printed)"},
    {"ForeignHost", Request("GET", "/", "", "evil.example:8080"), 403,
     "refused: the Host 'evil.example:8080' is not this server's name"},
    {"OtherPort", Request("GET", "/", "", "127.0.0.1:8081"), 403,
     "refused: the Host '127.0.0.1:8081' is not this server's name"},
    {"NoHost", Request("GET", "/", "", nullptr), 403,
     "refused: the Host '' is not this server's name"},
    {"ForeignOrigin", WithOrigin(Request("POST", "/api/set", kToken), "http://evil.example"), 403,
     "refused: a request from another origin ('http://evil.example')"},
    {"NullOrigin", WithOrigin(Request("POST", "/api/set", kToken), "null"), 403,
     "refused: a request from another origin ('null')"},
    {"CrossSite", WithSite(Request("GET", "/", ""), "cross-site"), 403,
     "refused: a cross-site request"},
    {"SameSite", WithSite(Request("GET", "/api/state", kToken), "same-site"), 403,
     "refused: a same-site request"},
};

class ViewAccess : public testing::TestWithParam<AccessCase>
{};

TEST_P(ViewAccess, ChecksEveryRequest)
{
    const AccessCase& c = GetParam();
    const CViewVerdict verdict =
        CheckViewRequest(ViewHostNames("127.0.0.1", 8080), kToken, c.request);
    EXPECT_EQ(verdict.status, c.status);
    EXPECT_EQ(verdict.reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(View, ViewAccess, testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ViewAccessNames, HostNamesOfAnAddress)
{
    EXPECT_EQ(ViewHostNames("127.0.0.1", 80),
              (std::vector<std::string>{"127.0.0.1:80", "[::1]:80", "localhost:80"}));
    EXPECT_EQ(ViewHostNames("::1", 80),
              (std::vector<std::string>{"127.0.0.1:80", "[::1]:80", "localhost:80"}));
    EXPECT_EQ(ViewHostNames("192.0.2.7", 80),
              (std::vector<std::string>{"192.0.2.7:80", "localhost:80"}));
}

TEST(ViewAccessNames, TokensAreRandomHex)
{
    const std::string a = NewViewToken();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, NewViewToken());
}

TEST(ViewAccessNames, Loopback)
{
    for (const char* address : {"127.0.0.1", "127.1.2.3", "::1", "localhost"})
        EXPECT_TRUE(IsLoopbackAddress(address)) << address;
    for (const char* address : {"0.0.0.0", "192.0.2.7", "::", "128.0.0.1"})
        EXPECT_FALSE(IsLoopbackAddress(address)) << address;
}

} // namespace

TEST(ViewTarget, PathAndDecodedQuery)
{
    struct Case
    {
        const char* target;
        bool ok;
        const char* path;
        std::map<std::string, std::string> query;
    };
    const Case cases[] = {
        {"/", true, "/", {}},
        {"/api/state?token=abc", true, "/api/state", {{"token", "abc"}}},
        {"/api/labels?replace=1&token=a%2Bb+c",
         true,
         "/api/labels",
         {{"replace", "1"}, {"token", "a+b c"}}},
        {"/x?flag&&k=v&k=second", true, "/x", {{"flag", ""}, {"k", "v"}}},
        {"/x?k=%4a%4A", true, "/x", {{"k", "JJ"}}},
        {"/x?k=%4", false, "", {}},
        {"/x?k=%zz", false, "", {}},
        {"/x?k=%", false, "", {}},
        {"x", false, "", {}},
        {"", false, "", {}},
        {"http://127.0.0.1:8080/", false, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        CViewTarget target;
        ASSERT_EQ(ParseViewTarget(c.target, target), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(target.path, c.path);
        EXPECT_EQ(target.query, c.query);
    }
}
