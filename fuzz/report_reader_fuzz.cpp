// libFuzzer target for the report reader's direct path: any octets after a
// start sequence, read by the report reader (reports from the octets) and by
// the tree-walking reference (tests/support/tree_report_reader.h), whole and
// in blocks whose sizes the first octet chooses. The two logs (reports with
// the walk's state at each, errors, messages, the state after every block)
// must be equal; the target aborts otherwise.
#include "tests/support/report_differential.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::vector<uint8_t> octets = {0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80};
    octets.insert(octets.end(), data + 1, data + size);
    const std::vector<std::vector<size_t>> splits = {
        {0}, {size_t(1 + data[0] % 64)}, {size_t(data[0]), 1, 7, 0}};
    for (const std::vector<size_t>& blocks : splits) {
        using testing_support::ReportLog;
        using testing_support::ReportPath;
        const std::string direct = ReportLog(ReportPath::Direct, octets, blocks);
        const std::string reference = ReportLog(ReportPath::Reference, octets, blocks);
        if (direct != reference) {
            std::fprintf(stderr, "--- direct\n%s--- reference\n%s", direct.c_str(),
                         reference.c_str());
            std::abort();
        }
    }
    return 0;
}
