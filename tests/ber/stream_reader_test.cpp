#include "ember/tree/stream_reader.h"

#include "ember/tree/container.h"
#include "tests/support/event_log_reader.h"
#include "tests/support/hex.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing_support::EventLogReader;
using testing_support::Hex;
using testing_support::kEndHex;
using testing_support::kRootLine;
using testing_support::kStartHex;
using testing_support::Lines;

const std::string S = kStartHex;
const std::string kEnd = kEndHex;
const std::string kOpenRoot = std::string("open ") + kRootLine + " in -";
const std::string kDoneRoot = std::string("done ") + kRootLine + " in -";
const std::string kAside = "Tag: A-4294946013 Type: 16, Sequence";

std::string Error(int code, const std::string& where, const std::string& message)
{
    return "error " + std::to_string(code) + " @A-4294946012/" + where + ": " + message;
}

std::string Done(const std::string& tag, const std::string& value, const std::string& in)
{
    return "done Tag: " + tag + " Type: " + value + " in " + in;
}

struct Vector
{
    std::string name;
    std::string hex;
    std::string log;
};

// Every vector leaves the reader waiting for a start sequence, so any two
// of them can follow each other.
const std::vector<Vector>& Vectors()
{
    static const std::vector<Vector> vectors = {
        {"EmptyRoot", S + kEnd, Lines({kOpenRoot, kDoneRoot})},
        {"OneInteger", S + " A1 03 02 01 05" + kEnd,
         Lines({kOpenRoot, Done("C-1", "2, Integer = 5", "A-4294946012"), kDoneRoot})},
        {"DefiniteSet", S + " A2 07 31 05 A1 03 02 01 05" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Done("C-1", "2, Integer = 5", "C-2"), Done("C-2", "17, Set", "A-4294946012"),
                kDoneRoot})},
        {"EmptySetOpenedAndClosedByOneOctet", S + " A2 02 31 00" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Done("C-2", "17, Set", "A-4294946012"), kDoneRoot})},
        {"OneOctetClosesTwoSets", S + " A3 06 31 04 A2 02 31 00" + kEnd,
         Lines({kOpenRoot, "open Tag: C-3 Type: 17, Set in A-4294946012",
                "open Tag: C-2 Type: 17, Set in C-3", Done("C-2", "17, Set", "C-3"),
                Done("C-3", "17, Set", "A-4294946012"), kDoneRoot})},
        {"IndefiniteSetFillsDefiniteParent",
         S + " A2 0F 31 0D A1 80 31 80 A3 03 02 01 05 00 00 00 00" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                "open Tag: C-1 Type: 17, Set in C-2", Done("C-3", "2, Integer = 5", "C-1"),
                Done("C-1", "17, Set", "C-2"), Done("C-2", "17, Set", "A-4294946012"), kDoneRoot})},
        {"LongFormLengths",
         S + " A1 84 00 00 00 08 02 84 00 00 00 02 01 00 A2 81 05 02 81 02 FF 7F" + kEnd,
         Lines({kOpenRoot, Done("C-1", "2, Integer = 256", "A-4294946012"),
                Done("C-2", "2, Integer = -129", "A-4294946012"), kDoneRoot})},
        {"SevenOctetIdentifiers",
         S + " BF 80 80 80 80 80 01 03 02 01 05 A2 09 1F 80 80 80 80 80 02 01 06" + kEnd,
         Lines({kOpenRoot, Done("C-1", "2, Integer = 5", "A-4294946012"),
                Done("C-2", "2, Integer = 6", "A-4294946012"), kDoneRoot})},
        {"EveryLeafType",
         S +
             " A1 03 01 01 FF A2 04 0C 02 61 62 A3 05 04 03 01 AB FF A4 05 09 03 80 01 03"
             " A5 04 0D 02 01 02 A6 07 02 05 00 00 00 00 05 A7 02 05 00 A8 03 03 01 00"
             " A9 02 0C 00 AA 13 18 11 31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 30 5A" +
             kEnd,
         Lines({kOpenRoot, Done("C-1", "1, Boolean = true", "A-4294946012"),
                Done("C-2", "12, UTF8 = ab", "A-4294946012"),
                Done("C-3", "4, OctetString = 01ABFF\r\n", "A-4294946012"),
                Done("C-4", "9, Real = 3.000000", "A-4294946012"),
                Done("C-5", "13, RelativeObject = 0000000100000002", "A-4294946012"),
                Done("C-6", "2, Integer = 5", "A-4294946012"),
                Done("C-9", "12, UTF8 = ", "A-4294946012"),
                Done("C-10", "24, GeneralizedTime = 1601-01-01T00:00:00.0Z", "A-4294946012"),
                kDoneRoot})},
        {"AsideContainerReturnsToRoot",
         S + " 7F 8F FF FE D9 5D 80 30 80 A1 03 02 01 05 00 00 00 00 A2 03 02 01 06" + kEnd,
         Lines({kOpenRoot, "open " + kAside + " in -",
                Done("C-1", "2, Integer = 5", "A-4294946013"), "done " + kAside + " in -",
                Done("C-2", "2, Integer = 6", "A-4294946012"), kDoneRoot})},
        {"AsideContainerInNestedRoot",
         S + " " + S + " 7F 8F FF FE D9 5D 80 30 80 00 00 00 00 A1 03 02 01 05" + kEnd +
             " A2 03 02 01 06" + kEnd,
         Lines({kOpenRoot, std::string("open ") + kRootLine + " in A-4294946012",
                "open " + kAside + " in -", "done " + kAside + " in -",
                Done("C-1", "2, Integer = 5", "A-4294946012"),
                std::string("done ") + kRootLine + " in A-4294946012",
                Done("C-2", "2, Integer = 6", "A-4294946012"), kDoneRoot})},
        {"OctetsBeforeStartIgnored", "00 11 A1 03 02 01 05 7F 8F 12 " + S + kEnd,
         Lines({kOpenRoot, kDoneRoot})},
        {"PartialMatchThenStartNotRecognised",
         "7F " + S + " A1 03 02 01 05" + kEnd + " " + S + kEnd, Lines({kOpenRoot, kDoneRoot})},
        {"OctetsAfterMessageIgnored", S + kEnd + " A1 03 02 01 05" + kEnd,
         Lines({kOpenRoot, kDoneRoot})},
        {"RecoveryInSameBlock", S + " A1 00 " + S + " A1 03 02 01 05" + kEnd,
         Lines({kOpenRoot, Error(102, "C-1", "Zero outer length encountered"), kOpenRoot,
                Done("C-1", "2, Integer = 5", "A-4294946012"), kDoneRoot})},
        {"SetEndsInsideLeaf", S + " A2 07 31 04 A1 03 02 01 05" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(106, "C-2/C-1", "Unexpected end of container")})},
        {"ZeroOuterLength", S + " A1 00",
         Lines({kOpenRoot, Error(102, "C-1", "Zero outer length encountered")})},
        {"UniversalOuterTag", S + " 02",
         Lines({kOpenRoot, Error(107, "U-2", "Universal outer tag encountered")})},
        {"UniversalConstructedOuterTag", S + " 30",
         Lines({kOpenRoot, Error(107, "U-16!C", "Universal outer tag encountered")})},
        {"PrimitiveOuterTag", S + " 81",
         Lines({kOpenRoot, Error(108, "C-1", "Primitive outer tag encountered")})},
        {"NonUniversalInnerTag", S + " A1 03 42",
         Lines({kOpenRoot, Error(110, "C-1", "Non-universal inner tag encountered")})},
        {"InnerNumber31", S + " A1 03 1F 1F",
         Lines({kOpenRoot, Error(109, "C-1", "Invalid BER type encountered")})},
        {"ZeroAsInnerIdentifierIsNoTerminator", S + " A1 80 00 00 00 00",
         Lines({kOpenRoot, Error(109, "C-1", "Invalid BER type encountered")})},
        {"EighthOuterIdentifierOctet", S + " BF 81 81 81 81 81 81 01",
         Lines({kOpenRoot, Error(103, "U-0", "Number of tag octets out of bounds")})},
        {"EighthInnerIdentifierOctet", S + " A1 0A 1F 81 81 81 81 81 81 01",
         Lines({kOpenRoot, Error(103, "C-1", "Number of tag octets out of bounds")})},
        {"OuterLength85", S + " A1 85",
         Lines({kOpenRoot, Error(104, "C-1", "Number of length octets out of bounds")})},
        {"InnerLength85", S + " A1 03 02 85",
         Lines({kOpenRoot, Error(104, "C-1", "Number of length octets out of bounds")})},
        {"NonZeroInTerminator", S + " 00 00 01",
         Lines({kOpenRoot, Error(101, "U-0", "Non-zero byte in terminator")})},
        {"TerminatorInDefiniteSet", S + " A2 06 31 04 00 5A",
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(105, "C-2/U-0", "Unexpected terminator")})},
        {"ZeroAtEndOfDefiniteSet", S + " A2 03 31 01 00",
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(106, "C-2/U-0", "Unexpected end of container")})},
        {"DuplicateTagInSet", S + " A2 0C 31 0A A1 03 02 01 05 A1 03 02 01 06" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Done("C-1", "2, Integer = 5", "C-2"),
                "error 1001 A node with the specified tag already exists in this container"})},
        {"ChildHeaderEndsAtParentEnd", S + " A2 06 31 04 A1 80 31 80" + kEnd + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(106, "C-2/C-1", "Unexpected end of container")})},
        {"ChildLongerThanParentRest", S + " A2 0C 31 0A A1 0A 31 08 A3 06 0C 04 41 42 43 44" + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(106, "C-2/C-1", "Unexpected end of container")})},
        {"IndefiniteChildRunsPastParent",
         S + " A2 0C 31 0A A1 80 31 80 A3 03 02 01 05" + kEnd + kEnd,
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                "open Tag: C-1 Type: 17, Set in C-2", Done("C-3", "2, Integer = 5", "C-1"),
                Error(106, "C-2/C-1", "Unexpected end of container")})},
        {"IndefinitePrimitive", S + " A1 80 02 80",
         Lines({kOpenRoot, Error(112, "C-1", "Indefinite length on a primitive element")})},
        {"HugeContent", S + " A1 84 7F FF FF F6 04 84 7F FF FF F0",
         Lines({kOpenRoot, Error(113, "C-1", "Content length out of bounds")})},
        {"HugeContentInSmallSet", S + " A2 0E 31 0C A1 0A 04 84 7F FF FF F0",
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(113, "C-2/C-1", "Content length out of bounds")})},
        {"LargeContentInSmallSet", S + " A2 0E 31 0C A1 0A 04 84 00 FF FF F0",
         Lines({kOpenRoot, "open Tag: C-2 Type: 17, Set in A-4294946012",
                Error(106, "C-2/C-1", "Unexpected end of container")})},
    };
    return vectors;
}

std::string VectorName(const Vector& v)
{
    return v.name;
}

// ---------------------------------------------------------------------------
// Every vector fed whole, octet by octet and split at every position, in both
// modes (the logs do not depend on the mode).
class StreamVector : public testing::TestWithParam<std::tuple<Vector, uint8_t>>
{};

TEST_P(StreamVector, WholeOctetByOctetAndSplitAnywhereGiveTheSameLog)
{
    const auto& [vector, mode] = GetParam();
    const std::vector<uint8_t> octets = Hex(vector.hex);
    {
        EventLogReader reader(mode);
        reader.FeedVector(octets);
        EXPECT_EQ(vector.log, reader.Text()) << "fed whole";
    }
    {
        EventLogReader reader(mode);
        reader.FeedInBlocks(octets, 1);
        EXPECT_EQ(vector.log, reader.Text()) << "fed octet by octet";
    }
    for (size_t at = 0; at <= octets.size(); ++at) {
        EventLogReader reader(mode);
        reader.FeedSplitAt(octets, at);
        EXPECT_EQ(vector.log, reader.Text()) << "split at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Reader, StreamVector,
                         testing::Combine(testing::ValuesIn(Vectors()), testing::Values(0, 1)),
                         [](const auto& p) {
    return VectorName(std::get<0>(p.param)) + (std::get<1>(p.param) ? "_Encodable" : "_Plain");
});

class StreamBlocks : public testing::TestWithParam<std::tuple<Vector, size_t>>
{};

TEST_P(StreamBlocks, BlocksOfAnySizeGiveTheSameLog)
{
    const auto& [vector, blockSize] = GetParam();
    EventLogReader reader;
    reader.FeedInBlocks(Hex(vector.hex), blockSize);
    EXPECT_EQ(vector.log, reader.Text());
}

INSTANTIATE_TEST_SUITE_P(Reader, StreamBlocks,
                         testing::Combine(testing::ValuesIn(Vectors()),
                                          testing::Values(1, 2, 3, 5, 7, 13, 32, 4096)),
                         [](const auto& p) {
    return VectorName(std::get<0>(p.param)) + "_" + std::to_string(std::get<1>(p.param));
});

// Garbage around and between two vectors changes nothing: after any message
// or error the next start sequence is found again.
class StreamPairs : public testing::TestWithParam<Vector>
{};

TEST_P(StreamPairs, FollowedByAnyVectorWithGarbageAround)
{
    const Vector& first = GetParam();
    const std::string garbage = "00 7F 8F FF 42 13 80 ";
    for (const Vector& second : Vectors()) {
        const std::vector<uint8_t> octets =
            Hex(garbage + first.hex + " " + garbage + second.hex + " " + garbage);
        EventLogReader reader;
        reader.FeedInBlocks(octets, 7);
        EXPECT_EQ(first.log + "\n" + second.log, reader.Text()) << "followed by " << second.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Reader, StreamPairs, testing::ValuesIn(Vectors()),
                         [](const auto& p) { return VectorName(p.param); });

// ---------------------------------------------------------------------------

TEST(StreamReader, CompleteTreeIsKeptUntilTheNextRootOpens)
{
    EventLogReader reader;
    reader.FeedVector(Hex(S + " A1 03 02 01 05" + kEnd + " " + S.substr(0, 23)));
    ASSERT_TRUE(reader.IsTreeComplete());
    ASSERT_NE(nullptr, reader.GetRoot());
    int32_t value = 0;
    EXPECT_TRUE(reader.GetRoot()->GetIntegerChild(0x80, 1, value));
    EXPECT_EQ(5, value);
    EXPECT_EQ(8, reader.GetMatchPosition());

    // The ninth start octet opens the next root and deletes the old tree.
    int live = 0;
    reader.GetRoot()->AddChild(
        new testing_support::Counted<CEmber_Sequence>(live, 0x80, 9, nullptr), true);
    reader.FeedVector(Hex("80"));
    EXPECT_EQ(0, live);
    EXPECT_FALSE(reader.IsTreeComplete());
    ASSERT_NE(nullptr, reader.GetRoot());
    EXPECT_TRUE(reader.GetRoot()->GetChildren().IsEmpty());
    EXPECT_EQ(-1, reader.GetMatchPosition());
}

TEST(StreamReader, OldTreeIsDeletedOnlyAfterTheNewRootIsMade)
{
    // A tree's nodes live in an arena whose rewind hands the same octets out
    // again, first of all the root's: had the old tree gone before the new
    // root was made, the new root would stand where the old one stood.
    EventLogReader reader;
    for (int message = 0; message < 3; ++message) {
        reader.FeedVector(Hex(S + kEnd));
        const CEmber_Node* oldRoot = reader.GetRoot();
        ASSERT_NE(nullptr, oldRoot);
        reader.FeedVector(Hex(S));
        ASSERT_NE(nullptr, reader.GetRoot());
        EXPECT_NE(oldRoot, reader.GetRoot());
        reader.FeedVector(Hex(kEnd.substr(1)));
    }
}

TEST(StreamReader, ErrorDropsThePartialTree)
{
    int live = 0;
    EventLogReader reader;
    reader.FeedVector(Hex(S + " A2 80 31 80"));
    reader.GetRoot()->AddChild(
        new testing_support::Counted<CEmber_Sequence>(live, 0x80, 9, nullptr), true);
    reader.FeedVector(Hex("A1 00"));
    EXPECT_EQ(0, live);
    EXPECT_EQ(nullptr, reader.GetRoot());
    EXPECT_EQ(0u, reader.GetDepth());
    EXPECT_EQ(0, reader.GetMatchPosition());
}

std::string Repeat(const std::string& hex, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += " " + hex;
    return out;
}

// The root is one of the kMaxDepth open containers.
TEST(StreamReader, NestingDepthBoundaryCountsTheRoot)
{
    const int inside = int(CEmber_Reader::kMaxDepth) - 1;
    {
        EventLogReader reader;
        reader.FeedVector(Hex(S + Repeat("A1 80 31 80", inside) + " A2 03 02 01 05" +
                              Repeat("00 00 00 00", inside + 1)));
        ASSERT_EQ(size_t(2 * inside + 3), reader.log.size());
        EXPECT_EQ(Done("C-2", "2, Integer = 5", "C-1"), reader.log[size_t(inside) + 1]);
        EXPECT_EQ(kDoneRoot, reader.log.back());
    }
    {
        EventLogReader reader;
        reader.FeedVector(
            Hex(S + Repeat("A1 80 31 80", inside + 1) + " " + S + " A2 03 02 01 05" + kEnd));
        std::string path;
        for (int i = 0; i < inside; ++i)
            path += "C-1/";
        ASSERT_EQ(size_t(inside + 5), reader.log.size());
        EXPECT_EQ(Error(111, path + "C-1", "Nesting depth out of bounds"),
                  reader.log[size_t(inside) + 1]);
        EXPECT_EQ(kDoneRoot, reader.log.back());
    }
}

TEST(StreamReader, DeclaredContentIsNotReservedUpFront)
{
    EventLogReader reader;
    reader.FeedVector(Hex(S + " A1 80"));
    const long long before = testing_support::HeapBytesInUse();
    // 0x00FFFFF0 octets are allowed, but only what arrives is kept.
    reader.FeedInBlocks(Hex("04 84 00 FF FF F0" + Repeat("5A", 1000)), 3);
    const long long after = testing_support::HeapBytesInUse();
    EXPECT_EQ(kOpenRoot, reader.Text());
    if (before >= 0) {
        EXPECT_LT(after - before, (long long)(CEmber_Reader::kContentReserve) + 4096);
    }
    // A start sequence inside the content is content; the reader still waits.
    reader.FeedVector(Hex(S + kEnd));
    EXPECT_EQ(-1, reader.GetMatchPosition());
    EXPECT_EQ(1u, reader.GetDepth());
}

// Logs containers and errors but only counts leaves.
class LeafCountingReader : public EventLogReader
{
public:
    LeafCountingReader() : EventLogReader(0) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node->IsContainer())
            EventLogReader::OnNodeComplete(node);
        else
            ++leaves;
    }
    size_t leaves = 0;
};

TEST(StreamReader, RootThatNeverClosesHitsTheNodeLimit)
{
    const std::vector<uint8_t> leaves = Hex(Repeat("A1 02 09 00", 4096));
    LeafCountingReader reader;
    reader.FeedVector(Hex(S));
    while (reader.GetMatchPosition() == -1 &&
           reader.leaves < 2 * CEmber_TreeReader::kMaxMessageNodes)
        reader.FeedVector(leaves);
    // The root is the first node of the message.
    EXPECT_EQ(CEmber_TreeReader::kMaxMessageNodes - 1, reader.leaves);
    reader.FeedVector(Hex(S + kEnd));
    EXPECT_EQ(
        Lines({kOpenRoot, Error(114, "C-1", "Message size out of bounds"), kOpenRoot, kDoneRoot}),
        reader.Text());
}

// ---------------------------------------------------------------------------
// Block feeding reads whole elements in one step; it must give exactly what
// the octet machine gives octet by octet through Feed, on good and on broken
// input, in both modes and for any split.

// The log of a stream reader fed one Feed call per octet.
std::string LogFedThroughFeed(const std::vector<uint8_t>& octets, uint8_t mode)
{
    EventLogReader reader(mode);
    for (uint8_t octet : octets)
        reader.Feed(octet);
    return reader.Text();
}

// The vectors one after another, then randomly damaged: octets changed,
// dropped, repeated, and runs copied from elsewhere.
std::vector<uint8_t> DamagedStream(std::mt19937& random)
{
    std::vector<uint8_t> octets;
    for (const Vector& vector : Vectors()) {
        const std::vector<uint8_t> part = Hex(vector.hex);
        octets.insert(octets.end(), part.begin(), part.end());
    }
    const int damage = int(random() % 12);
    for (int i = 0; i < damage && !octets.empty(); ++i) {
        const size_t at = random() % octets.size();
        switch (random() % 4) {
        case 0:
            octets[at] = uint8_t(random());
            break;
        case 1:
            octets.erase(octets.begin() + long(at));
            break;
        case 2:
            octets.insert(octets.begin() + long(at), octets[at]);
            break;
        default: {
            const size_t from = random() % octets.size();
            const size_t count = std::min<size_t>(random() % 24, octets.size() - from);
            const std::vector<uint8_t> run(octets.begin() + long(from),
                                           octets.begin() + long(from + count));
            octets.insert(octets.begin() + long(at), run.begin(), run.end());
            break;
        }
        }
    }
    return octets;
}

TEST(StreamReader, BlockFeedingMatchesFeedOnDamagedStreams)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        const std::vector<uint8_t> octets = DamagedStream(random);
        const uint8_t mode = uint8_t(round % 2);
        const std::string expected = LogFedThroughFeed(octets, mode);
        {
            EventLogReader reader(mode);
            reader.FeedVector(octets);
            ASSERT_EQ(expected, reader.Text()) << "round " << round << " whole";
        }
        EventLogReader reader(mode);
        for (size_t at = 0; at < octets.size();) {
            const size_t size = std::min<size_t>(1 + random() % 40, octets.size() - at);
            reader.FeedPart(octets, at, at + size);
            at += size;
        }
        ASSERT_EQ(expected, reader.Text()) << "round " << round << " random blocks";
    }
}

// A tree reader without the stream layer: exceptions leave FeedBlock at the
// same octet as they leave Feed, with the same events before them.
class TreeLogReader : public CEmber_TreeReader
{
public:
    explicit TreeLogReader(uint8_t mode) : CEmber_TreeReader(mode) {}
    void OnNodeOpened(CEmber_Node* node) override
    {
        log += "open " + testing_support::NodeLine(*node) + "\n";
    }
    void OnNodeComplete(CEmber_Node* node) override
    {
        log += "done " + testing_support::NodeLine(*node) + "\n";
    }
    std::string log;
};

TEST(TreeReader, BlockFeedingStopsAtTheSameOctetAsFeed)
{
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> octets = DamagedStream(random);
        // Skip the first start sequence's octets sometimes, so that values
        // also arrive with no container open.
        if (round % 3 == 0)
            octets.erase(octets.begin(), octets.begin() + 9);
        const uint8_t mode = uint8_t(round % 2);
        TreeLogReader byOctet(mode);
        std::string expected;
        size_t stoppedAt = octets.size();
        for (size_t i = 0; i < octets.size(); ++i) {
            try {
                byOctet.Feed(octets[i]);
            } catch (const CEmber_Exception& error) {
                expected = error.GetMessage();
                stoppedAt = i;
                break;
            }
        }
        TreeLogReader byBlock(mode);
        std::string thrown;
        try {
            byBlock.FeedBlock(octets.data(), uint32_t(octets.size()));
        } catch (const CEmber_Exception& error) {
            thrown = error.GetMessage();
        }
        ASSERT_EQ(byOctet.log, byBlock.log) << "round " << round;
        ASSERT_EQ(expected, thrown) << "round " << round << " stopped at " << stoppedAt;
        EXPECT_EQ(byOctet.GetDepth(), byBlock.GetDepth()) << "round " << round;
    }
}

} // namespace
