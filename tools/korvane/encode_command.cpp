// korvane encode: the block the host sends for a partner command line.

#include "host/command_parser.h"
#include "host/command_tree.h"
#include "host/host_trace.h"
#include "host/loopback.h"
#include "host/protocol.h"
#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

const char kEncodeHelp[] =
    "usage: korvane encode [--trace] LINE\n"
    "\n"
    "Parses LINE as a partner command text, exactly as the host does for a\n"
    "command block, builds the command tree and prints the octets of the block\n"
    "the host would send to the partner: the 13-octet empty root, then the root\n"
    "holding the tree, as upper-case hex pairs separated by single blanks.\n"
    "\n"
    "LINE is five path numbers and a value: an integer (0 or more), -1 to poll,\n"
    "or a text (\"~\" stands for a blank, a lone \"-\" for the empty text). Put\n"
    "'--' before a LINE that begins with '-'.\n"
    "\n"
    "options:\n"
    "  --trace   write the host's trace lines to standard error\n"
    "  --help    show this text\n"
    "\n"
    "exit status: 0 octets printed; 1 the host would send nothing (the reason\n"
    "on standard error); 2 usage error.\n"
    "\n"
    "examples:\n"
    "  korvane encode 1,2,3,4,5,100\n"
    "  korvane encode --trace 1,2,3,0,0,Main~out\n";

namespace {

struct EncodeOptions
{
    bool help = false;
    bool trace = false;
    std::vector<std::string> lines;
};

// Why the host sends nothing for this line.
std::string NothingReason(const char* line)
{
    CCommandRecord record;
    const ParseResult result = ParseCommand(line, std::strlen(line), record, nullptr);
    std::ostringstream reason;
    if (result == ParseResult::TextTooLong) {
        size_t length = 0;
        CCommandRecord scratch;
        ScanTextCommand(line, std::strlen(line), scratch, length);
        reason << "the text has " << length << " characters, more than the "
               << CCommandRecord::kTextSize - 1 << " a command holds; the host sends nothing";
        return reason.str();
    }
    if (result == ParseResult::None) {
        reason << "'" << line
               << "' has no value (five path numbers and an integer, -1 or a text are needed); "
                  "the host sends nothing";
        return reason.str();
    }
    reason << "no command tree has path ";
    for (int i = 0; i < 5; ++i)
        reason << (i ? "," : "") << record.p[i];
    reason << " with ";
    if (record.value == VALUE_TEXT)
        reason << "a text";
    else if (record.value == VALUE_POLL)
        reason << "a poll";
    else
        reason << "value " << record.value;
    reason << "; the host sends nothing";
    return reason.str();
}

int RunEncode(const EncodeOptions& options)
{
    if (options.help)
        return PrintHelp(kEncodeHelp);
    if (options.lines.size() > 1)
        return UsageError("encode", "one LINE only (quote a text with blanks)", kEncodeHelp);
    if (options.lines.empty())
        return UsageError("encode", "LINE is missing", kEncodeHelp);
    const char* line = options.lines.front().c_str();
    const bool trace = options.trace;
    const std::string label = CommandLabel("encode");

    try {
        CReportReader reader;
        CLoopback host(reader);
        if (!host.Ok()) {
            std::fprintf(stderr, "%s: %s\n", label.c_str(), host.Error().c_str());
            return kExitUsage;
        }
        std::vector<uint8_t> block;
        bool sent = false;
        host.Partner().onBlock = [&](HWND, const COPYDATASTRUCT& received) {
            if (BlockKind(received.dwData) != BLOCK_ENCODED || !received.lpData)
                return;
            const auto* octets = static_cast<const uint8_t*>(received.lpData);
            block.assign(octets, octets + received.cbData);
            sent = true;
        };
        if (trace) {
            // To standard error on every platform (OutputDebugStringA goes to
            // a debugger on Windows).
            SetHostTraceSink([](const char* text) { std::fputs(text, stderr); });
            HostToggleDebug(host.State());
        }
        host.SendCommand(line);
        if (!sent) {
            std::fprintf(stderr, "%s: %s\n", label.c_str(), NothingReason(line).c_str());
            return kExitNothing;
        }
        PrintLine(HexLine(block.data(), block.size()));
        return kExitOk;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", label.c_str());
        return kExitUsage;
    }
}

} // namespace

CommandRun DefineEncode(CLI::App& command)
{
    auto options = std::make_shared<EncodeOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_flag("--trace", options->trace);
    command.add_option("LINE", options->lines);
    return [options] { return RunEncode(*options); };
}
