#include "ember/ber/boundary_scanner.h"

#include "ember/ber/reader.h"
#include "ember/tree/stream_reader.h"
#include "ember/tree/tree_reader.h"
#include "tests/support/event_log_reader.h"
#include "tests/support/hex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

// The boundary scanner against the tree-building stream reader: on any
// stream, split anywhere, both end every message and break off every
// message at the same octet, with the same code and text, and wait for a
// start sequence at exactly the same octets.

namespace {

using testing_support::Hex;

// "end" at the octet that closes a root, "error <code> <text>" at the octet
// an error is raised on, each with the octet's position.
struct Event
{
    size_t at;
    std::string what;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event)
{
    return out << event.at << ": " << event.what;
}

std::string ErrorText(const CEmber_Exception& error)
{
    return "error " + std::to_string(error.GetCode()) + " " + error.GetMessage();
}

// The reference: the tree-building reader fed octet by octet.
class ReferenceReader : public CEmber_StreamReader
{
public:
    ReferenceReader() : CEmber_StreamReader(1) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node == GetRoot())
            events.push_back({at, "end"});
    }
    void OnError(const CEmber_Exception& error) override
    {
        events.push_back({at, ErrorText(error)});
    }

    std::vector<Event> events;
    size_t at = 0;
};

std::vector<Event> ReferenceEvents(const std::vector<uint8_t>& octets,
                                   std::vector<int32_t>* match = nullptr)
{
    ReferenceReader reader;
    for (reader.at = 0; reader.at < octets.size(); ++reader.at) {
        reader.Feed(octets[reader.at]);
        if (match)
            match->push_back(reader.GetMatchPosition());
    }
    return reader.events;
}

class RecordingScanner : public CEmber_BoundaryScanner
{
public:
    void OnMessageComplete() override { last = "end"; }
    void OnError(const CEmber_Exception& error) override { last = ErrorText(error); }
    std::string last;
};

// The scanner fed in blocks whose sizes come from `sizes` (cycled): the
// event positions come from what Scan says it took, which must stop right
// after each message's end or error.
std::vector<Event> ScannerEvents(const std::vector<uint8_t>& octets,
                                 const std::vector<size_t>& sizes)
{
    RecordingScanner scanner;
    std::vector<Event> events;
    size_t at = 0;
    for (size_t block = 0; at < octets.size(); ++block) {
        const size_t end = std::min(octets.size(), at + sizes[block % sizes.size()]);
        while (at < end) {
            const size_t taken = scanner.Scan(octets.data() + at, end - at);
            EXPECT_GT(taken, 0u);
            at += taken;
            if (!scanner.last.empty()) {
                events.push_back({at - 1, scanner.last});
                scanner.last.clear();
                EXPECT_TRUE(scanner.IsWaiting());
            } else {
                EXPECT_EQ(at, end) << "Scan stopped early without an event";
            }
        }
    }
    return events;
}

void ExpectSameAsReference(const std::vector<uint8_t>& octets, std::mt19937& random,
                           const std::string& name)
{
    SCOPED_TRACE(name);
    std::vector<int32_t> match;
    const std::vector<Event> expected = ReferenceEvents(octets, &match);
    // Octet by octet, with the match position after every octet.
    {
        RecordingScanner scanner;
        std::vector<Event> events;
        for (size_t i = 0; i < octets.size(); ++i) {
            scanner.Feed(octets[i]);
            if (!scanner.last.empty()) {
                events.push_back({i, scanner.last});
                scanner.last.clear();
            }
            ASSERT_EQ(match[i], scanner.GetMatchPosition()) << "after octet " << i;
        }
        ASSERT_EQ(expected, events);
    }
    ASSERT_EQ(expected, ScannerEvents(octets, {octets.size() + 1})) << "whole";
    for (size_t size : {2, 3, 7, 13, 64}) {
        ASSERT_EQ(expected, ScannerEvents(octets, {size})) << "blocks of " << size;
    }
    std::vector<size_t> sizes;
    for (int i = 0; i < 16; ++i)
        sizes.push_back(1 + random() % 50);
    ASSERT_EQ(expected, ScannerEvents(octets, sizes)) << "random blocks";
}

// ---------------------------------------------------------------------------
// Streams: random trees of every element kind, good and bad values, keyed
// and unkeyed containers with repeated tags, definite and indefinite
// lengths, long forms, garbage and keep-alives between messages; then
// damaged at random.

class StreamMaker
{
public:
    explicit StreamMaker(std::mt19937& random) : m_random(random) {}

    std::vector<uint8_t> Stream()
    {
        std::vector<uint8_t> out;
        const int messages = 1 + int(Pick(6));
        for (int i = 0; i < messages; ++i) {
            if (Pick(3) == 0)
                for (int g = int(Pick(6)); g > 0; --g)
                    out.push_back(uint8_t(Pick(2) ? m_random() : 0x7F));
            if (Pick(5) == 0)
                Append(out, Hex(testing_support::kStartHex + std::string(" 80 00 00 00 00")));
            std::vector<uint8_t> content;
            for (int c = int(Pick(5)); c > 0; --c)
                Append(content, Element(1));
            std::vector<uint8_t> root = Hex(testing_support::kStartHex);
            Append(root, content);
            Append(root, {0, 0, 0, 0});
            Append(out, root);
        }
        return out;
    }

private:
    uint32_t Pick(uint32_t n) { return uint32_t(m_random() % n); }

    static void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& part)
    {
        out.insert(out.end(), part.begin(), part.end());
    }

    void Length(std::vector<uint8_t>& out, uint32_t length)
    {
        if (length < 128 && Pick(4) != 0) {
            out.push_back(uint8_t(length));
            return;
        }
        const uint32_t count = length < 256 && Pick(2) ? 1 : 4;
        out.push_back(uint8_t(0x80 | count));
        for (uint32_t i = count; i > 0; --i)
            out.push_back(uint8_t(length >> (8 * (i - 1))));
    }

    void OuterTag(std::vector<uint8_t>& out)
    {
        const uint8_t cls = uint8_t((1 + Pick(3)) << 6) | 0x20;
        // A few numbers only, so that keyed containers meet repeated tags.
        const uint32_t number = Pick(8) == 0 ? 200 + Pick(3) : Pick(4);
        if (number < 31) {
            out.push_back(uint8_t(cls | number));
        } else {
            out.push_back(uint8_t(cls | 0x1F));
            out.push_back(uint8_t(0x80 | (number >> 7)));
            out.push_back(uint8_t(number & 0x7F));
        }
    }

    std::vector<uint8_t> Value()
    {
        static const std::vector<std::string> values = {
            "01 01 FF",
            "01 00",
            "02 01 05",
            "02 00",
            "02 06 00 01 02 03 04 05",
            "04 03 01 02 03",
            "04 00",
            "09 03 80 01 03",
            "09 00",
            "09 01 40",
            "09 02 80 7F",
            "09 01 83",
            "09 03 03 01 02",
            "0C 02 61 62",
            "0C 00",
            "0D 02 01 02",
            "0D 00",
            "0D 01 81",
            "0D 01 01",
            "18 11 31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 30 5A",
            "18 00",
            "18 02 31 32",
            "05 00",
            "06 01 2A",
            "03 02 00 01"};
        return Hex(values[Pick(uint32_t(values.size()))]);
    }

    std::vector<uint8_t> Element(int depth)
    {
        std::vector<uint8_t> inner;
        if (depth > 4 || Pick(3) != 0) {
            inner = Value();
        } else {
            const bool indefinite = Pick(2) == 0;
            const uint8_t type = Pick(3) == 0 ? 0x30 : 0x31;
            std::vector<uint8_t> content;
            for (int c = int(Pick(5)); c > 0; --c)
                Append(content, Element(depth + 1));
            inner.push_back(type);
            if (indefinite) {
                inner.push_back(0x80);
                Append(inner, content);
                Append(inner, {0, 0, 0, 0});
            } else {
                Length(inner, uint32_t(content.size()));
                Append(inner, content);
            }
        }
        std::vector<uint8_t> out;
        OuterTag(out);
        if (Pick(4) == 0) {
            out.push_back(0x80);
            Append(out, inner);
            Append(out, {0, 0, 0, 0});
        } else {
            Length(out, uint32_t(inner.size()));
            Append(out, inner);
        }
        return out;
    }

    std::mt19937& m_random;
};

void Damage(std::vector<uint8_t>& octets, std::mt19937& random)
{
    const int damage = int(random() % 6);
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
}

TEST(BoundaryScanner, MatchesTheTreeReaderOnGeneratedStreams)
{
    std::mt19937 random(20261208);
    size_t errors = 0;
    size_t ends = 0;
    for (int round = 0; round < 1500; ++round) {
        StreamMaker maker(random);
        std::vector<uint8_t> octets = maker.Stream();
        if (round % 4 != 0)
            Damage(octets, random);
        for (const Event& event : ReferenceEvents(octets))
            ++(event.what == "end" ? ends : errors);
        ExpectSameAsReference(octets, random, "round " + std::to_string(round));
        if (HasFatalFailure())
            return;
    }
    // The streams reach both outcomes often.
    EXPECT_GT(ends, 1000u);
    EXPECT_GT(errors, 1000u);
}

// Every error the reader can raise, one stream each.
TEST(BoundaryScanner, MatchesTheTreeReaderOnEveryError)
{
    const std::string S = testing_support::kStartHex;
    const std::string E = testing_support::kEndHex;
    const std::vector<std::string> streams = {
        S + " A1 00",                                          // 102
        S + " 02",                                             // 107
        S + " 81",                                             // 108
        S + " A1 03 42",                                       // 110
        S + " A1 03 1F 1F",                                    // 109
        S + " A1 80 00 00 00 00",                              // 109, zero inner identifier
        S + " BF 81 81 81 81 81 81 01",                        // 103
        S + " A1 0A 1F 81 81 81 81 81 81 01",                  // 103, inner
        S + " A1 85",                                          // 104
        S + " A1 03 02 85",                                    // 104, inner
        S + " 00 00 01",                                       // 101
        S + " A2 06 31 04 00 5A",                              // 105
        S + " A2 03 31 01 00",                                 // 106 at a zero octet
        S + " A2 07 31 04 A1 03 02 01 05" + E,                 // 106 inside a leaf
        S + " A2 06 31 04 A1 80 31 80" + E + E,                // 106, child header
        S + " A2 0C 31 0A A1 80 31 80 A3 03 02 01 05" + E + E, // 106, indefinite child
        S + " A1 80 02 80",                                    // 112
        S + " A1 84 7F FF FF F6 04 84 7F FF FF F0",            // 113
        S + " A2 0C 31 0A A1 03 02 01 05 A1 03 02 01 06" + E,  // 1001
        S + " A2 80 31 80 A1 03 02 01 05 A2 03 30 80" + E + E, // 1001, container child
        S + " A1 02 02 00" + E,                                // 202
        S + " A1 02 01 00" + E,                                // 201
        S + " A1 02 09 01 83" + E,                             // EOF in a Real
        S + " A1 03 09 01 03" + E,                             // 204
        S + " A1 02 0D 00" + E,                                // 207
        S + " A1 03 0D 01 81" + E,                             // EOF in an object identifier
        S + " A1 02 18 00" + E,                                // 208
        S + " 30 80 " + S + E,                                 // 107 then a message
        S + " 7F 8F FF FE D9 5D 80 30 80 A1 03 02 01 05" + E + " A2 03 02 01 06" + E + E,
    };
    std::mt19937 random(5);
    for (const std::string& stream : streams)
        ExpectSameAsReference(Hex(stream), random, stream);
}

TEST(BoundaryScanner, MatchesTheTreeReaderOnTheConsoleCapture)
{
    std::ifstream in(std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin",
                     std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<uint8_t> capture{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
    ASSERT_GT(capture.size(), 400u);
    std::mt19937 random(11);
    ExpectSameAsReference(capture, random, "capture");
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> damaged = capture;
        Damage(damaged, random);
        ExpectSameAsReference(damaged, random, "damaged capture " + std::to_string(round));
    }
}

// The reader limits: nesting, message size, node count.
TEST(BoundaryScanner, MatchesTheTreeReaderAtTheLimits)
{
    std::mt19937 random(3);
    const std::string S = testing_support::kStartHex;
    auto repeat = [](const std::string& hex, size_t times) {
        std::string out;
        for (size_t i = 0; i < times; ++i)
            out += " " + hex;
        return out;
    };
    const size_t inside = CEmber_Reader::kMaxDepth - 1;
    ExpectSameAsReference(Hex(S + repeat("A1 80 31 80", inside) + " A2 03 02 01 05" +
                              repeat("00 00 00 00", inside + 1)),
                          random, "deepest");
    ExpectSameAsReference(
        Hex(S + repeat("A1 80 31 80", inside + 1) + " " + S + testing_support::kEndHex), random,
        "too deep");

    // A message that never ends: values of 16 MiB until it is too large;
    // the reader takes it in one block (its event position is where the
    // octets inside the root pass the bound).
    std::vector<uint8_t> big = Hex(S);
    const std::vector<uint8_t> head = Hex("A1 84 01 00 00 00 04 84 00 FF FF F0");
    while (big.size() < CEmber_Reader::kMaxMessageOctets + (1u << 20)) {
        big.insert(big.end(), head.begin(), head.end());
        big.resize(big.size() + 0x00FFFFF0, 0x5A);
    }
    ReferenceReader reader;
    reader.at = 9 + CEmber_Reader::kMaxMessageOctets;
    reader.FeedBlock(big.data(), uint32_t(big.size()));
    ASSERT_EQ(1u, reader.events.size());
    EXPECT_EQ(reader.events, ScannerEvents(big, {big.size()}));
    EXPECT_EQ(reader.events, ScannerEvents(big, {4093}));

    // More nodes than a tree may hold: the root and empty Real leaves; the
    // leaf that makes one node too many ends at 9 + 4 * kMaxMessageNodes - 1.
    const std::vector<uint8_t> block = Hex(repeat("A1 02 09 00", 4096));
    std::vector<uint8_t> wide = Hex(S);
    while (wide.size() < CEmber_TreeReader::kMaxMessageNodes * 4 + 9 + block.size())
        wide.insert(wide.end(), block.begin(), block.end());
    ReferenceReader nodes;
    nodes.at = 9 + 4 * size_t(CEmber_TreeReader::kMaxMessageNodes) - 1;
    nodes.FeedBlock(wide.data(), uint32_t(wide.size()));
    ASSERT_EQ(1u, nodes.events.size());
    EXPECT_EQ(nodes.events, ScannerEvents(wide, {wide.size()}));
    EXPECT_EQ(nodes.events, ScannerEvents(wide, {4093}));
}

// Wide keyed containers: the tag set that takes over from the list.
TEST(BoundaryScanner, MatchesTheTreeReaderOnWideSets)
{
    std::mt19937 random(17);
    for (int round = 0; round < 40; ++round) {
        std::string hex = testing_support::kStartHex + std::string(" A1 80 31 80");
        const int children = 10 + int(random() % 60);
        for (int i = 0; i < children; ++i) {
            const uint32_t number = random() % 80;
            char leaf[32];
            std::snprintf(leaf, sizeof leaf, " 7F %02X 03 02 01 05", unsigned(number & 0x7F));
            if (random() % 4 == 0)
                hex += " BF" + std::string(leaf + 3, 3) + " 80 31 80 A1 03 02 01 05 00 00 00 00";
            else
                hex += leaf;
        }
        hex += " 00 00 00 00" + std::string(testing_support::kEndHex);
        ExpectSameAsReference(Hex(hex), random, hex);
    }
}

} // namespace
