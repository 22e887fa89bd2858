#include "ember/tree/leaf.h"

#include "ember/ber/text_list.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/length.h"
#include "ember/ber/output_buffer.h"
#include "ember/ber/types.h"

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

using testing_support::Hex;

constexpr uint64_t kTime2000 = 125911584000000000; // 2000-01-01 00:00:00 UTC
constexpr uint64_t kLastTime = 0x7FFFFFFFFFFFFFFF;
constexpr uint64_t k2Pow63 = uint64_t(1) << 63;
#define TEXT_1601 "31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 30 5A" // 16010101000000.0Z
#define TEXT_30828                                                                                 \
    "33 30 38 32 38 30 39 31 34 30 32 34 38 30 35 2E 34 37 37 5A" // 308280914024805.477Z

// A leaf of class T with the given tag (application 3 unless said otherwise).
template <typename T, typename... Args>
std::shared_ptr<CEmber_Leaf> L(Args... args)
{
    return std::make_shared<T>(0x40, 3, args...);
}
template <typename T, typename... Args>
std::shared_ptr<CEmber_Leaf> Tagged(uint32_t classOctet, uint32_t number, Args... args)
{
    return std::make_shared<T>(classOctet, number, args...);
}

std::string Rendered(const CEmber_Leaf& leaf)
{
    CEmber_TextList list;
    leaf.RenderValue(list);
    EXPECT_EQ(list.PieceCount(), 1u);
    return list.Join();
}

struct LeafCase
{
    const char* name;
    std::shared_ptr<CEmber_Leaf> leaf;
    const char* octets;
    int32_t type;
    const char* render;
};

TEST(Leaf, EncodingTypeAndRenderingOfEveryFixedSizeLeaf)
{
    using GT = CEmber_GeneralizedTime;
    const LeafCase cases[] = {
        {"Integer32 5", L<CEmber_Integer32>(5), "63 03 02 01 05", 2, "5"},
        {"Integer32 0", L<CEmber_Integer32>(0), "63 03 02 01 00", 2, "0"},
        {"Integer32 -1", L<CEmber_Integer32>(-1), "63 03 02 01 FF", 2, "-1"},
        {"Integer32 127", L<CEmber_Integer32>(127), "63 03 02 01 7F", 2, "127"},
        {"Integer32 128", L<CEmber_Integer32>(128), "63 04 02 02 00 80", 2, "128"},
        {"Integer32 -128", L<CEmber_Integer32>(-128), "63 03 02 01 80", 2, "-128"},
        {"Integer32 -129", L<CEmber_Integer32>(-129), "63 04 02 02 FF 7F", 2, "-129"},
        {"Integer32 min", L<CEmber_Integer32>(INT32_MIN), "63 06 02 04 80 00 00 00", 2,
         "-2147483648"},
        {"Integer64 1", L<CEmber_Integer64>(int64_t(1)), "63 03 02 01 01", 2, "1"},
        {"Integer64 2^31", L<CEmber_Integer64>(int64_t(1) << 31), "63 07 02 05 00 80 00 00 00", 2,
         "2147483648"},
        {"Integer64 min", L<CEmber_Integer64>(INT64_MIN), "63 0A 02 08 80 00 00 00 00 00 00 00", 2,
         "-9223372036854775808"},
        {"Boolean true", L<CEmber_Boolean>(true), "63 03 01 01 FF", 1, "true"},
        {"Boolean false", L<CEmber_Boolean>(false), "63 03 01 01 00", 1, "false"},
        {"Real 0.0", L<CEmber_Real>(0.0), "63 02 09 00", 9, "0.000000"},
        {"Real 3.0", L<CEmber_Real>(3.0), "63 05 09 03 80 01 03", 9, "3.000000"},
        {"Real -1.5", L<CEmber_Real>(-1.5), "63 05 09 03 C0 00 03", 9, "-1.500000"},
        {"Real 1e20", L<CEmber_Real>(1e20), "63 0A 09 08 80 42 56 BC 75 E2 D6 31", 9,
         "100000000000000000000.000000"},
        {"RelativeObject 1.2", L<CEmber_RelativeObject>(uint64_t(0x100000002)), "63 04 0D 02 01 02",
         13, "0000000100000002"},
        {"RelativeObject 200.0x12345678", L<CEmber_RelativeObject>(uint64_t(0xC812345678)),
         "63 09 0D 07 81 48 81 91 D1 AC 78", 13, "000000C812345678"},
        {"time 0", L<GT>(uint64_t(0), true), "63 13 18 11 " TEXT_1601, 24,
         "1601-01-01T00:00:00.0Z"},
        {"time 0 as Integer", L<GT>(uint64_t(0), false), "63 03 02 01 00", 2,
         "1601-01-01T00:00:00.0Z"},
        {"time 5 ms", L<GT>(uint64_t(50000), true),
         "63 13 18 11 31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 35 5A", 24,
         "1601-01-01T00:00:00.5Z"},
        {"time 500 ms", L<GT>(uint64_t(5000000), true),
         "63 15 18 13 31 36 30 31 30 31 30 31 30 30 30 30 30 30 2E 35 30 30 5A", 24,
         "1601-01-01T00:00:00.500Z"},
        {"time 2000", L<GT>(kTime2000, true),
         "63 13 18 11 32 30 30 30 30 31 30 31 30 30 30 30 30 30 2E 30 5A", 24,
         "2000-01-01T00:00:00.0Z"},
        {"last time, five-digit year", L<GT>(kLastTime, true), "63 16 18 14 " TEXT_30828, 24,
         "30828-09-14T02:48:05.477Z"},
        {"time 2^63 has no text", L<GT>(k2Pow63, true), "63 02 18 00", 24,
         "invalid time 9223372036854775808"},
        {"time 2^63 as Integer", L<GT>(k2Pow63, false), "63 0A 02 08 80 00 00 00 00 00 00 00", 2,
         "invalid time 9223372036854775808"},
        // Multi-octet outer tags: the (patched) lengths follow the whole tag.
        {"Integer32, context 31", Tagged<CEmber_Integer32>(0x80, 31, 5), "BF 1F 03 02 01 05", 2,
         "5"},
        {"Real 0.0, application 128", Tagged<CEmber_Real>(0x40, 128, 0.0), "7F 81 00 02 09 00", 9,
         "0.000000"},
        {"Real 3.0, application 31", Tagged<CEmber_Real>(0x40, 31, 3.0), "7F 1F 05 09 03 80 01 03",
         9, "3.000000"},
        {"RelativeObject, private 0xFFFFFFFF",
         Tagged<CEmber_RelativeObject>(0xC0, 0xFFFFFFFF, uint64_t(0x100000002)),
         "FF 8F FF FF FF 7F 04 0D 02 01 02", 13, "0000000100000002"},
        {"time 0, application 200", Tagged<GT>(0x40, 200, uint64_t(0), true),
         "7F 81 48 13 18 11 " TEXT_1601, 24, "1601-01-01T00:00:00.0Z"},
        {"largest fixed leaf: 29 octets", Tagged<GT>(0x80, 0xFFFFFFFF, kLastTime, true),
         "BF 8F FF FF FF 7F 16 18 14 " TEXT_30828, 24, "30828-09-14T02:48:05.477Z"},
        // Only the class bits of the class octet are kept.
        {"class octet 0xFF", Tagged<CEmber_Integer32>(0xFF, 3, 5), "E3 03 02 01 05", 2, "5"},
        {"class octet 0x20", Tagged<CEmber_Boolean>(0x20, 1, true), "21 03 01 01 FF", 1, "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::RecordingStream out;
        c.leaf->Encode(out);
        EXPECT_EQ(testing_support::ToHex(out.octets), c.octets);
        EXPECT_EQ(out.flushes, 0);
        EXPECT_EQ(c.leaf->GetEncodedLength(), Hex(c.octets).size());
        EXPECT_EQ(c.leaf->GetType(), c.type);
        EXPECT_EQ(Rendered(*c.leaf), c.render);
    }
}

TEST(Leaf, Is64BitTellsTheIntegerWidthsApart)
{
    const CEmber_Integer32 narrow(0x40, 3, 1);
    const CEmber_Integer64 wide(0x40, 3, 1);
    EXPECT_FALSE(static_cast<const CEmber_Integer&>(narrow).Is64Bit());
    EXPECT_TRUE(static_cast<const CEmber_Integer&>(wide).Is64Bit());
    EXPECT_EQ(narrow.GetType(), wide.GetType());
}

} // namespace

namespace {

// The 32-bit Integer leaf writes its octets itself; they must be the ones
// the general writers give for its tag and value.
std::vector<uint8_t> GeneralInteger32Octets(uint32_t classOctet, uint32_t number, int32_t value)
{
    uint8_t header[16];
    const int32_t n = IntegerSize(value);
    uint32_t used = uint32_t(PutIdentifier(header, (classOctet & 0xC0) | kBerConstructed, number));
    used += uint32_t(PutLength(header + used, uint32_t(n + 2)));
    header[used++] = uint8_t(eeBerType_Integer);
    used += uint32_t(PutLength(header + used, uint32_t(n)));
    CEmber_OutputBuffer out;
    out.Write(header, used);
    EncodeInteger(out, value, n);
    return std::vector<uint8_t>(out.Data(), out.Data() + out.Used());
}

TEST(Leaf, Integer32OctetsAreTheGeneralWritersOctets)
{
    std::mt19937 random(7);
    const int32_t corners[] = {0,       1,        -1,       127,       128,      -128,
                               -129,    32767,    32768,    -32768,    -32769,   8388607,
                               8388608, -8388608, -8388609, INT32_MAX, INT32_MIN};
    const uint32_t numbers[] = {0,     3,        30,       31,         127,        128,       16383,
                                16384, 0x1FFFFF, 0x200000, 0x0FFFFFFF, 0x10000000, 0xFFFFFFFF};
    const uint32_t classes[] = {0x00, 0x40, 0x80, 0xC0, 0xE0};
    int compared = 0;
    for (uint32_t classOctet : classes) {
        for (uint32_t number : numbers) {
            std::vector<int32_t> values(std::begin(corners), std::end(corners));
            for (int i = 0; i < 40; ++i)
                values.push_back(int32_t(random()) >> (random() % 32));
            for (int32_t value : values) {
                const CEmber_Integer32 leaf(classOctet, number, value);
                const std::vector<uint8_t> expected =
                    GeneralInteger32Octets(classOctet, number, value);
                ASSERT_EQ(expected.size(), leaf.GetEncodedLength()) << number << " " << value;
                ASSERT_EQ(expected, std::vector<uint8_t>(leaf.GetCache(),
                                                         leaf.GetCache() + leaf.GetEncodedLength()))
                    << number << " " << value;
                CEmber_OutputBuffer encoded;
                leaf.Encode(encoded);
                ASSERT_EQ(expected,
                          std::vector<uint8_t>(encoded.Data(), encoded.Data() + encoded.Used()));
                ++compared;
            }
        }
    }
    EXPECT_EQ(5 * 13 * (17 + 40), compared);
}

} // namespace
