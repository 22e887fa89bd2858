// Command lines from anywhere, through the host's command path and through
// the one it replaced (tests/support/tree_command_path.h): the parse (its
// result, record and trace lines), the block written from the record and the
// block from the tree, and what a host sends back with the Debug switch off
// and on must all be the same. The block is then read back, and re-encoding
// the decoded tree must give its octets (the encoder and the reader must
// agree on every shape). Each input also seeds the line generator of the
// tests for a few more lines, compared the same way.

#include "ember/ber/output_buffer.h"
#include "ember/tree/stream_reader.h"
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "tests/support/command_lines.h"
#include "tests/support/tree_command_path.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

class CapturingReader : public CEmber_StreamReader
{
public:
    CapturingReader() : CEmber_StreamReader(1) {}
    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node == GetRoot()) {
            CEmber_OutputBuffer buffer;
            node->Encode(buffer);
            encoded.assign(buffer.Data(), buffer.Data() + buffer.Used());
            ++trees;
        }
    }
    void OnError(const CEmber_Exception&) override { ++errors; }
    std::vector<uint8_t> encoded;
    int trees = 0;
    int errors = 0;
};

// Generated lines compared for each input.
constexpr int kGeneratedLines = 4;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<std::string> Traced(const char* text, size_t size, CCommandRecord& record,
                                ParseResult& result, bool reference)
{
    std::vector<std::string> lines;
    const TraceSink trace = [&lines](const char* line) { lines.emplace_back(line); };
    result = reference ? TreeParseCommand(text, size, record, trace)
                       : ParseCommand(text, size, record, trace);
    return lines;
}

void CompareParseAndBlocks(const char* text, size_t size)
{
    CCommandRecord record;
    CCommandRecord expectedRecord;
    ParseResult result;
    ParseResult expectedResult;
    Require(Traced(text, size, record, result, false) ==
            Traced(text, size, expectedRecord, expectedResult, true));
    Require(result == expectedResult && std::memcmp(&record, &expectedRecord, sizeof record) == 0);
    if (result != ParseResult::Value)
        return;

    CEmber_OutputBuffer direct;
    CEmber_OutputBuffer tree;
    CEmber_OutputBuffer reference;
    const bool sent = EncodeCommand(record, direct);
    Require(EncodeCommandTree(record, tree) == sent &&
            TreeEncodeCommand(record, reference) == sent);
    Require(direct.Used() == reference.Used() && tree.Used() == reference.Used());
    if (!sent)
        return;
    Require(std::memcmp(direct.Data(), reference.Data(), reference.Used()) == 0 &&
            std::memcmp(tree.Data(), reference.Data(), reference.Used()) == 0);

    CapturingReader reader;
    reader.FeedBlock(direct.Data(), direct.Used());
    constexpr uint32_t kEmptyRoot = KEEP_ALIVE_LENGTH;
    Require(reader.errors == 0 && reader.trees == 2 && direct.Used() > kEmptyRoot &&
            reader.encoded.size() == direct.Used() - kEmptyRoot &&
            std::memcmp(reader.encoded.data(), direct.Data() + kEmptyRoot, reader.encoded.size()) ==
                0);
}

void CompareHost(CLoopback& loopback, const char* text, size_t size)
{
    for (const bool debug : {false, true})
        Require(HostCommandOutcome(loopback, text, size, debug) ==
                TreeCommandOutcome(text, size, debug));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Never destroyed: the message layer's own state may be gone by the
    // time static objects are.
    static CLoopback& loopback = *new CLoopback(*new CReportReader);
    Require(loopback.Ok());

    // The octets exactly, so that a read past them is seen.
    const std::vector<char> text(data, data + size);
    CompareParseAndBlocks(text.data(), text.size());
    CompareHost(loopback, text.data(), text.size());

    uint32_t seed = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        seed = (seed ^ data[i]) * 16777619u;
    std::mt19937 random(seed);
    for (int n = 0; n < kGeneratedLines; ++n) {
        const std::string line = RandomCommandLine(random);
        CompareParseAndBlocks(line.data(), line.size());
        CompareHost(loopback, line.data(), line.size());
    }
    return 0;
}
