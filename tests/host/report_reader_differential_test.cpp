// The report reader's direct path (reports from the octets, no tree) against
// the tree-walking reference: the same log (reports with the walk's state at
// each, errors in order, messages, the state after every block) on the
// corpora, the console capture and seeded random and damaged streams, fed
// whole, split at every point, and in blocks of 1, 7, 64 and 4096.

#include "tests/support/report_differential.h"

#include "bench/corpus.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using testing_support::ReportLog;
using testing_support::ReportPath;

const std::vector<std::vector<size_t>> kBlocks = {{0}, {1}, {7}, {64}, {4096}, {3, 1, 50, 9}};

// Returns the reference log fed whole (for the callers' counts).
std::string ExpectSameLogs(const std::vector<uint8_t>& octets, const std::string& name,
                           bool everySplit)
{
    SCOPED_TRACE(name);
    const std::string expected = ReportLog(ReportPath::Reference, octets, {0});
    for (const std::vector<size_t>& blocks : kBlocks) {
        const std::string direct = ReportLog(ReportPath::Direct, octets, blocks);
        const std::string reference = ReportLog(ReportPath::Reference, octets, blocks);
        if (direct != reference) {
            ADD_FAILURE() << "blocks of " << blocks[0] << "\n--- direct\n"
                          << direct << "--- reference\n"
                          << reference;
            return expected;
        }
    }
    if (everySplit) {
        for (size_t split = 1; split < octets.size(); ++split) {
            const std::vector<size_t> blocks = {split, 0};
            if (ReportLog(ReportPath::Direct, octets, blocks) !=
                ReportLog(ReportPath::Reference, octets, blocks)) {
                ADD_FAILURE() << "split at " << split;
                return expected;
            }
        }
    }
    return expected;
}

size_t Count(const std::string& log, const std::string& what)
{
    size_t count = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
        ++count;
    return count;
}

TEST(ReportReaderDifferential, Corpora)
{
    const std::string answers =
        ExpectSameLogs(bench_corpus::MakeAnswerStream(16000), "answers", false);
    const std::string snapshots =
        ExpectSameLogs(bench_corpus::MakeSnapshotStream(60000), "snapshots", false);
    EXPECT_GT(Count(answers, "report ["), 300u);
    EXPECT_GT(Count(snapshots, "report ["), 300u);
}

TEST(ReportReaderDifferential, ConsoleCapture)
{
    std::ifstream in(std::string(KORVANE_SOURCE_DIR) + "/data/console_capture.bin",
                     std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<uint8_t> capture{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
    EXPECT_GT(Count(ExpectSameLogs(capture, "capture", true), "report ["), 0u);
}

TEST(ReportReaderDifferential, RandomAndDamagedStreams)
{
    // The fuzz target (fuzz/report_reader_fuzz.cpp) runs millions more.
    constexpr size_t kStreams = 600;
    size_t reports = 0;
    size_t errors = 0;
    size_t messages = 0;
    for (uint32_t seed = 1; seed <= uint32_t(kStreams); ++seed) {
        const std::vector<uint8_t> octets = testing_support::ReportStream(seed, seed % 3 != 0);
        const std::string log = ExpectSameLogs(octets, "seed " + std::to_string(seed),
                                               seed % 25 == 0 && octets.size() < 400);
        if (HasFailure())
            return;
        reports += Count(log, "report [");
        errors += Count(log, "error ");
        messages += Count(log, "message\n");
    }
    // The streams reach every outcome often.
    EXPECT_GT(reports, kStreams / 3);
    EXPECT_GT(errors, kStreams / 4);
    EXPECT_GT(messages, kStreams);
}

} // namespace
