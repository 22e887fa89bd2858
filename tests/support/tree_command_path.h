// The host's command path as it was before the direct block writer: the
// parser of that time (two scans, each from the start), the shape table,
// and the command tree built from CPathContainer and CParameterContainer
// nodes, linked, added to a CEmber_Root and encoded after the empty root.
// Kept as the reference the host's command path is held to (dispatch
// results, trace lines, blocks) and as the baseline of the command
// benchmark.
#pragma once

#include "ember/ber/output_buffer.h"
#include "host/command_parser.h"
#include "host/loopback.h"
#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// The parse of a command text, with its trace lines (trace may be empty).
ParseResult TreeParseCommand(const char* text, size_t length, CCommandRecord& record,
                             const TraceSink& trace);

// The trace line written before the record's tree is built (nullptr for
// none), and whether the record selects a tree at all.
bool TreeCommandShape(const CCommandRecord& record, const char*& trace);

// Appends the block (empty root, then the root holding the tree) to out;
// false, with nothing written, when no shape fits.
bool TreeEncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out);

// What the partner sees of one BLOCK_COMMAND: the dispatch result, the host's
// trace lines (with the Debug switch on) and the blocks sent back.
struct CommandOutcome
{
    LRESULT result = 0;
    std::vector<std::string> traces;
    struct Block
    {
        uintptr_t dwData = 0;
        uint32_t cbData = 0;
        std::vector<uint8_t> octets;
        bool operator==(const Block&) const = default;
    };
    std::vector<Block> blocks;
    bool operator==(const CommandOutcome&) const = default;
};

// The reference: what the host of that time did with a BLOCK_COMMAND whose
// text is the `length` octets at text (cbData = length).
CommandOutcome TreeCommandOutcome(const char* text, size_t length, bool debug);

// The same block through the real host of a loopback (its Debug switch set
// to `debug` first), the host's trace lines captured.
CommandOutcome HostCommandOutcome(CLoopback& loopback, const char* text, size_t length, bool debug);

// One line of differences, empty when the outcomes are equal.
std::string DescribeDifference(const CommandOutcome& expected, const CommandOutcome& actual);

} // namespace testing_support
