#include "ember/ber/real_codec.h"

#include "tests/support/ber_helpers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

using testing_support::EncodedHex;
using testing_support::Hex;
using testing_support::Raises;
using testing_support::RaisesEof;

constexpr double kInf = std::numeric_limits<double>::infinity();

double Decode(const std::vector<uint8_t>& octets)
{
    CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
    return DecodeReal(in, uint32_t(octets.size()));
}

// The exponent gives the weight of the mantissa's most significant 1 bit.
TEST(RealCodec, EncodesKnownVectorsAndReadsThemBack)
{
    struct Row
    {
        const char* name;
        double value;
        const char* octets;
    };
    const Row rows[] = {
        {"1.0", 1.0, "80 00 01"},
        {"-1.0", -1.0, "C0 00 01"},
        {"3.0", 3.0, "80 01 03"},
        {"0.5", 0.5, "80 FF 01"},
        {"-2.5", -2.5, "C0 01 05"},
        {"mantissa with top bit set", 255.0 / 128.0, "80 00 00 FF"},
        {"2^200", std::ldexp(1.0, 200), "81 00 C8 01"},
        {"2^-200", std::ldexp(1.0, -200), "81 FF 38 01"},
        {"0.1", 0.1, "80 FC 0C CC CC CC CC CC CD"},
        {"positive zero", 0.0, ""},
        {"negative zero", -0.0, "C1 FC 01 01"},
        {"plus infinity", kInf, "40"},
        {"minus infinity", -kInf, "41"},
        {"largest double", DBL_MAX, "81 03 FF 1F FF FF FF FF FF FF"},
        {"smallest normal double", DBL_MIN, "81 FC 02 01"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int32_t count = -1;
        EXPECT_EQ(EncodedHex([&](auto& out) { count = EncodeReal(out, row.value); }), row.octets);
        EXPECT_EQ(size_t(count), Hex(row.octets).size());
        EXPECT_EQ(std::bit_cast<uint64_t>(Decode(Hex(row.octets))),
                  std::bit_cast<uint64_t>(row.value));
    }
}

TEST(RealCodec, RoundTripsNormalValuesBitForBitAndNan)
{
    for (double value : {std::numbers::pi, -std::numbers::pi, 1e300, -1e-300, 123456789.125,
                         -DBL_MAX, -DBL_MIN, 1.0 / 3, 0x1.fffffffffffffp-1, 65536.0}) {
        SCOPED_TRACE(value);
        CEmber_OutputBuffer out;
        EncodeReal(out, value);
        EXPECT_EQ(std::bit_cast<uint64_t>(Decode({out.Data(), out.Data() + out.Used()})),
                  std::bit_cast<uint64_t>(value));
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(EncodedHex([&](auto& out) { EncodeReal(out, nan); }), "81 04 00 03");
    EXPECT_TRUE(std::isnan(Decode(Hex("81 04 00 03"))));
    EXPECT_TRUE(std::isnan(Decode(Hex("81 04 00 05"))));
}

TEST(RealCodec, DecodesEveryContentAsBinaryBase2)
{
    struct Row
    {
        const char* name;
        const char* octets;
        double value;
    };
    const Row rows[] = {
        {"empty content", "", 0.0},
        {"even mantissa is normalised", "80 00 02", 1.0},
        {"bit 0x80 not looked at", "00 01 03", 3.0},
        {"base bits not looked at", "B0 01 03", 3.0},
        {"scale factor has no effect", "8C 01 03", 3.0},
        {"two exponent octets for a small exponent", "81 00 01 03", 3.0},
        {"0x40 followed by more octets is a sign", "40 00 01", -1.0},
        {"exponent 1024 with one bit is infinity", "81 04 00 01", kInf},
        {"exponent -1023 with one bit is zero", "81 FC 01 01", 0.0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Decode(Hex(row.octets)), row.value);
    }
    const auto two = Hex("80 01 03 80 FF 01"); // reads exactly the content
    CEmber_MemoryStream in(two.data(), uint32_t(two.size()));
    EXPECT_EQ(DecodeReal(in, 3), 3.0);
    EXPECT_EQ(DecodeReal(in, 3), 0.5);
}

TEST(RealCodec, RejectsContentNamingNoDoubleAndShortContent)
{
    struct Row
    {
        const char* name;
        const char* octets;
    };
    const Row rows[] = {
        {"control: valid content", "80 00 01"},
        {"zero mantissa", "80 00 00"},
        {"no mantissa octets", "80 00"},
        {"54 significant mantissa bits", "80 00 3F FF FF FF FF FF FF"},
        {"negative mantissa", "80 00 80"},
        {"exponent 1025", "81 04 01 01"},
        {"exponent -1024", "81 FC 00 01"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto octets = Hex(row.octets);
        const bool valid = &row == &rows[0];
        CEmber_MemoryStream in(octets.data(), uint32_t(octets.size()));
        double value = -7.0;
        EXPECT_EQ(TryDecodeReal(in, uint32_t(octets.size()), value), valid);
        if (valid)
            EXPECT_EQ(Decode(octets), 1.0);
        else
            EXPECT_TRUE(Raises([&] { Decode(octets); }, 204, "Invalid Real encoding"));
    }
    for (const char* octets : {"42", "80", "00", "81 00", "83 00 00 00"}) {
        SCOPED_TRACE(octets);
        EXPECT_TRUE(RaisesEof([&] { Decode(Hex(octets)); }));
    }
}

} // namespace
