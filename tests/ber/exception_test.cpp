#include "ember/ber/exception.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(Exception, RegistryHoldsEveryCodeWithItsMessage)
{
    struct Row
    {
        int32_t code;
        const char* message;
    };
    const Row rows[] = {
        {1, "EOF"},
        {3, "Not a container"},
        {101, "Non-zero byte in terminator"},
        {102, "Zero outer length encountered"},
        {103, "Number of tag octets out of bounds"},
        {104, "Number of length octets out of bounds"},
        {105, "Unexpected terminator"},
        {106, "Unexpected end of container"},
        {107, "Universal outer tag encountered"},
        {108, "Primitive outer tag encountered"},
        {109, "Invalid BER type encountered"},
        {110, "Non-universal inner tag encountered"},
        {111, "Nesting depth out of bounds"},
        {112, "Indefinite length on a primitive element"},
        {113, "Content length out of bounds"},
        {114, "Message size out of bounds"},
        {115, "Value element outside any container"},
        {201, "Invalid Boolean encoding"},
        {202, "Invalid Integer encoding"},
        {203, "Invalid Integer encoding"},
        {204, "Invalid Real encoding"},
        {205, "Invalid String encoding"},
        {206, "Invalid OctetString encoding"},
        {207, "Invalid ObjectIdentifier encoding"},
        {208, "Invalid GeneralizedTime encoding"},
        {1001, "A node with the specified tag already exists in this container"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        ASSERT_NE(EmberErrorMessage(row.code), nullptr);
        EXPECT_STREQ(EmberErrorMessage(row.code), row.message);
        const CEmber_Exception e{EmberError(row.code)};
        EXPECT_EQ(e.GetCode(), row.code);
        EXPECT_EQ(e.GetMessage(), row.message);
    }
    for (int32_t unknown : {0, 2, 100, 116, 200, 209, 1000, -1})
        EXPECT_EQ(EmberErrorMessage(unknown), nullptr) << unknown;
}

TEST(Exception, EveryRegistryRowHasItsOwnCodeAndAMessage)
{
    std::set<int32_t> codes;
    for (int i = 0; i < EmberErrorCount(); ++i) {
        const int32_t code = EmberErrorCodeAt(i);
        EXPECT_TRUE(codes.insert(code).second) << "code " << code << " registered twice";
        ASSERT_NE(EmberErrorMessage(code), nullptr) << code;
        EXPECT_NE(std::string(EmberErrorMessage(code)), "") << code;
    }
}

// A number outside the registry, cast to a code, still gives a message
// instead of a string built from a null pointer.
TEST(Exception, AnUnregisteredCodeGetsAMessageToo)
{
    for (int32_t unknown : {0, 116, 150, 1002, -7}) {
        SCOPED_TRACE(unknown);
        const CEmber_Exception e{EmberError(unknown)};
        EXPECT_EQ(e.GetCode(), unknown);
        EXPECT_EQ(e.GetMessage(), "Unregistered error");
    }
}

TEST(Exception, ErrorTextIsTheRegisteredMessageOrTheFallback)
{
    for (int i = 0; i < EmberErrorCount(); ++i)
        EXPECT_STREQ(EmberErrorText(EmberErrorCodeAt(i)), EmberErrorMessage(EmberErrorCodeAt(i)));
    EXPECT_STREQ(EmberErrorText(116), "Unregistered error");
}

} // namespace
