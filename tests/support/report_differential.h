// The report reader against the tree-walking reference (tree_report_reader.h)
// on one stream: one text log per reader of everything a caller can see,
// in order. Every report (the line, the Set levels and slots, the match
// position and depth while it is sent), every error (code and text), every
// whole message, and after every block the state left behind. Equal logs
// mean the same reports, errors, boundaries and state, at every moment the
// caller looks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class ReportPath
{
    Direct,    // CReportReader, trace switch off: reports from the octets
    Reference, // the tree-walking reference
};

// Feeds the octets in blocks of the given sizes (cycled; 0 stands for the
// rest of the stream) and returns the log.
std::string ReportLog(ReportPath path, const std::vector<uint8_t>& octets,
                      const std::vector<size_t>& blocks);

// Seeded streams shaped for the report walk: roots holding path Sets and
// Sequences of the three tag classes, private containers with values at
// the value tag (32- and 64-bit Integers, texts with blanks, zero octets or
// too long for a line, other leaves, bad contents), application 34 parents,
// containers a root takes aside, nested roots, repeated tags, definite and
// indefinite lengths, garbage and keep-alives between messages; damaged at
// random when `damage` is set.
std::vector<uint8_t> ReportStream(uint32_t seed, bool damage);

} // namespace testing_support
