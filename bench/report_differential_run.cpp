// The report reader against the tree-walking reference on many seeded
// random and damaged streams: `report_differential_run N [FIRST_SEED]`
// compares the logs (tests/support/report_differential.h) of N streams fed
// whole and in blocks of 7, and of every fourth also in blocks of 1, 64 and
// 4096; prints the counts and exits 1 on any difference. The CTest run
// checks a lean number of streams; this one is for millions.
#include "tests/support/report_differential.h"
#include <cstdio>
#include <cstdlib>
using namespace testing_support;
int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const uint32_t n = uint32_t(std::atoi(argv[1]));
    const uint32_t first = argc > 2 ? uint32_t(std::atoi(argv[2])) : 1000000;
    size_t octets = 0, reports = 0, mismatches = 0;
    const std::vector<std::vector<size_t>> blocks = {{0}, {1}, {7}, {64}, {4096}};
    for (uint32_t seed = first; seed < first + n; ++seed) {
        const std::vector<uint8_t> s = ReportStream(seed, seed % 3 != 0);
        octets += s.size();
        for (size_t b = 0; b < blocks.size(); ++b) {
            if (b != 0 && b != 2 && seed % 4 != 0)
                continue;
            const std::string d = ReportLog(ReportPath::Direct, s, blocks[b]);
            const std::string r = ReportLog(ReportPath::Reference, s, blocks[b]);
            if (d != r) {
                ++mismatches;
                std::printf("MISMATCH seed %u blocks %zu\n", seed, b);
            }
            if (b == 0)
                for (size_t at = d.find("report ["); at != std::string::npos;
                     at = d.find("report [", at + 1))
                    ++reports;
        }
    }
    std::printf("streams %u octets %zu reports %zu mismatches %zu\n", n, octets, reports,
                mismatches);
    return mismatches != 0;
}
