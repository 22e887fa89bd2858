// Report lines and console sources as the partner library reads them.
#include "partner/console_source.h"
#include "partner/partner_event.h"

#include "tests/support/run_program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct ReportCase
{
    const char* name;
    std::string line;
    EPartnerReportKind kind;
    std::array<int32_t, 5> path;
    int32_t integer;
    std::string text;
};

const ReportCase kReports[] = {
    {"Integer", "1,2,3,4,5,100", EPartnerReportKind::Integer, {1, 2, 3, 4, 5}, 100, ""},
    {"NegativeValueAndPath",
     "-1,2,3,4,5,-2147483648",
     EPartnerReportKind::Integer,
     {-1, 2, 3, 4, 5},
     INT32_MIN,
     ""},
    {"TextBlanksReadBack",
     "1,2,3,4,9,Main~out \n",
     EPartnerReportKind::Text,
     {1, 2, 3, 4, 9},
     0,
     "Main out"},
    {"TextWithCommas", "1,2,3,0,0,a,b \n", EPartnerReportKind::Text, {1, 2, 3, 0, 0}, 0, "a,b"},
    {"EmptyText", "1,2,3,0,0, \n", EPartnerReportKind::Text, {1, 2, 3, 0, 0}, 0, ""},
    {"ValueBeyond32Bits", "1,2,3,4,5,2147483648", EPartnerReportKind::Unknown, {}, 0, ""},
    {"PathBeyond32Bits", "4294967296,2,3,4,5,1", EPartnerReportKind::Unknown, {}, 0, ""},
    {"FourNumbers", "1,2,3,4", EPartnerReportKind::Unknown, {}, 0, ""},
    {"IntegerWithLineEnd", "1,2,3,4,5,7\n", EPartnerReportKind::Unknown, {}, 0, ""},
    {"Empty", "", EPartnerReportKind::Unknown, {}, 0, ""},
    {"SignOnly", "-,2,3,4,5,1", EPartnerReportKind::Unknown, {}, 0, ""},
};

class Reports : public testing::TestWithParam<ReportCase>
{};

TEST_P(Reports, AreReadAsTheServiceWritesThem)
{
    const ReportCase& c = GetParam();
    const CPartnerReport report = ParsePartnerReport(c.line.data(), c.line.size());
    EXPECT_EQ(report.line, c.line);
    EXPECT_EQ(report.kind, c.kind);
    EXPECT_EQ(report.path, c.path);
    EXPECT_EQ(report.integer, c.integer);
    EXPECT_EQ(report.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Partner, Reports, testing::ValuesIn(kReports),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ConsoleSource, ReadsFilesAndSaysWhyNot)
{
    testing_support::TempFile hex("# level\n63 03 02 01 64\n");
    std::vector<uint8_t> octets;
    std::string error;
    ASSERT_EQ(ReadConsoleSource(hex.Path(), EConsoleSourceFormat::Hex, octets, error),
              EPartnerStatus::Ok);
    EXPECT_EQ(octets, (std::vector<uint8_t>{0x63, 0x03, 0x02, 0x01, 0x64}));
    ASSERT_EQ(ReadConsoleSource(hex.Path(), EConsoleSourceFormat::Binary, octets, error),
              EPartnerStatus::Ok);
    EXPECT_EQ(octets.size(), 23u);

    const std::string missing = hex.Path() + ".missing";
    EXPECT_EQ(ReadConsoleSource(missing, EConsoleSourceFormat::Binary, octets, error),
              EPartnerStatus::SourceError);
    EXPECT_EQ(error, "cannot read " + missing + ": " + std::strerror(ENOENT));

    testing_support::TempFile bad("7F 8G");
    EXPECT_EQ(ReadConsoleSource(bad.Path(), EConsoleSourceFormat::Hex, octets, error),
              EPartnerStatus::SourceError);
    EXPECT_EQ(error, bad.Path() + ": bad hex text: 'G' at offset 4 is not a hexadecimal digit");
}

} // namespace
