#include "ember/ber/reader.h"

#include "ember/ber/length.h"
#include "tests/support/ber_helpers.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::Hex;
using testing_support::Raises;
using testing_support::ToHex;

std::string LengthText(uint32_t length)
{
    return length == IndefiniteLength ? "indefinite" : std::to_string(length);
}

// Logs what the octet machine hands to its two hooks.
class RecordingReader : public CEmber_Reader
{
public:
    void OnContainerOpened() override
    {
        log.push_back("open " + Header() + " outer " + LengthText(GetOuterLength()));
    }
    void OnItemComplete() override
    {
        if (IsConstructed())
            log.push_back("close " + Header());
        else
            log.push_back("value " + Header() + " [" + ToHex(GetContent(), GetContentLength()) +
                          "]");
    }

    void Feed(const std::string& hex)
    {
        const std::vector<uint8_t> octets = Hex(hex);
        FeedBlock(octets.data(), uint32_t(octets.size()));
    }
    std::string Text() const
    {
        std::string text;
        for (const std::string& line : log)
            text += line + "\n";
        return text;
    }

    std::vector<std::string> log;

private:
    std::string Header() const
    {
        return GetOuterTag().ToText() + " type " + std::to_string(GetItemType()) + " length " +
               LengthText(GetContentLength());
    }
};

TEST(Reader, HooksSeeTheItemFieldsWholeOrOctetByOctet)
{
    // An indefinite Set holding a definite Sequence holding a text.
    const std::string hex = "A1 80 31 80 A2 0A 30 08 A3 06 0C 04 41 42 43 44 00 00 00 00";
    const std::string expected = "open C-1 type 17 length indefinite outer indefinite\n"
                                 "open C-2 type 16 length 8 outer 10\n"
                                 "value C-3 type 12 length 4 [41 42 43 44]\n"
                                 "close C-2 type 16 length 8\n"
                                 // an indefinite container closes with the octets it took
                                 "close C-1 type 17 length 16\n";
    RecordingReader whole;
    whole.Feed(hex);
    EXPECT_EQ(expected, whole.Text());

    RecordingReader single;
    for (uint8_t octet : Hex(hex))
        single.CEmber_Reader::Feed(octet);
    EXPECT_EQ(expected, single.Text());
    EXPECT_EQ(0u, single.GetDepth());
}

TEST(Reader, FieldCountersRestartAfterEachLength)
{
    // Long-form outer tag and lengths followed by a two-octet inner
    // identifier: each field is counted from its own first octet.
    RecordingReader reader;
    reader.Feed("BF 1F 82 00 08 1F 02 83 00 00 02 00 05");
    EXPECT_EQ("value C-31 type 2 length 2 [00 05]\n", reader.Text());
}

TEST(Reader, OneOctetClosesSeveralContainers)
{
    RecordingReader reader;
    reader.Feed("A3 0F 31 0D A2 0B 31 09 A1 07 31 05 A4 03 02 01");
    ASSERT_EQ(3u, reader.log.size());
    ASSERT_EQ(3u, reader.GetDepth());
    reader.Feed("05");
    EXPECT_EQ("open C-3 type 17 length 13 outer 15\n"
              "open C-2 type 17 length 9 outer 11\n"
              "open C-1 type 17 length 5 outer 7\n"
              "value C-4 type 2 length 1 [05]\n"
              "close C-1 type 17 length 5\n"
              "close C-2 type 17 length 9\n"
              "close C-3 type 17 length 13\n",
              reader.Text());
    EXPECT_EQ(0u, reader.GetDepth());
}

TEST(Reader, TerminatorWithNoOpenContainer)
{
    RecordingReader reader;
    reader.Feed("00");
    EXPECT_TRUE(Raises([&] { reader.Feed("00"); }, 105, "@U-0: Unexpected terminator"));
}

TEST(Reader, NestingDepthBoundary)
{
    RecordingReader reader;
    std::string path;
    for (uint32_t i = 0; i < CEmber_Reader::kMaxDepth; ++i) {
        reader.Feed("A1 80 31 80");
        path += "C-1/";
    }
    EXPECT_EQ(CEmber_Reader::kMaxDepth, reader.GetDepth());
    EXPECT_TRUE(Raises([&] { reader.Feed("A2 80 31 80"); }, 111,
                       "@" + path + "C-2: Nesting depth out of bounds"));
    EXPECT_EQ(CEmber_Reader::kMaxDepth, reader.log.size());
}

TEST(Reader, ContentLengthBoundary)
{
    RecordingReader reader;
    reader.Feed("A1 84 01 00 00 06 04 84 01 00 00 00");
    EXPECT_TRUE(reader.log.empty());
    reader.Reset();
    EXPECT_TRUE(Raises([&] { reader.Feed("A1 84 01 00 00 07 04 84 01 00 00 01"); }, 113,
                       "@C-1: Content length out of bounds"));
}

TEST(Reader, ContentLargerThanOneReservationArrivesIntact)
{
    const uint32_t size = CEmber_Reader::kContentReserve * 3 + 17;
    std::vector<uint8_t> octets = Hex("A1 84 00 03 00 17 04 84 00 03 00 11");
    ASSERT_EQ(size, 0x00030011u);
    for (uint32_t i = 0; i < size; ++i)
        octets.push_back(uint8_t(i % 251));

    struct Checker : CEmber_Reader
    {
        void OnContainerOpened() override {}
        void OnItemComplete() override
        {
            ++values;
            intact = GetContentLength() == expectedSize;
            for (uint32_t i = 0; intact && i < expectedSize; ++i)
                intact = GetContent()[i] == uint8_t(i % 251);
        }
        uint32_t expectedSize = 0;
        int values = 0;
        bool intact = false;
    } reader;
    reader.expectedSize = size;
    // Blocks that never line up with the reservation.
    for (size_t at = 0; at < octets.size(); at += 4093)
        reader.FeedBlock(octets.data() + at, uint32_t(std::min<size_t>(4093, octets.size() - at)));
    EXPECT_EQ(1, reader.values);
    EXPECT_TRUE(reader.intact);
}

TEST(Reader, ErrorKeepsPartialStateUntilReset)
{
    RecordingReader reader;
    EXPECT_TRUE(Raises([&] { reader.Feed("A1 80 31 80 A2 00"); }, 102,
                       "@C-1/C-2: Zero outer length encountered"));
    EXPECT_EQ(1u, reader.GetDepth());
    reader.Reset();
    EXPECT_EQ(0u, reader.GetDepth());
    reader.log.clear();
    reader.Feed("A5 03 02 01 07");
    EXPECT_EQ("value C-5 type 2 length 1 [07]\n", reader.Text());
}

TEST(Reader, ResetInsideAnElementStartsOver)
{
    RecordingReader reader;
    reader.Feed("A1 80 31 80 BF 81"); // inside an identifier
    reader.Reset();
    reader.Feed("A2 04 0C 02 61"); // inside a content
    reader.Reset();
    reader.Feed("A3 03 02 01 09");
    EXPECT_EQ("open C-1 type 17 length indefinite outer indefinite\n"
              "value C-3 type 2 length 1 [09]\n",
              reader.Text());
}

} // namespace
