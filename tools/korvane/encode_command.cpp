// korvane encode: the block the host sends for a partner command line.

#include "host/command_check.h"
#include "host/command_parser.h"
#include "host/command_tree.h"
#include "host/host_trace.h"
#include "host/loopback.h"
#include "protocol/protocol.h"
#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

const char kEncodeHelp[] =
    "usage: korvane encode [--trace] [--strict] LINE\n"
    "       korvane encode [--trace] [--strict] -\n"
    "\n"
    "Parses LINE as a partner command text, exactly as the host does for a\n"
    "command block, builds the command tree and prints the octets of the block\n"
    "the host would send to the partner: the 13-octet empty root, then the root\n"
    "holding the tree, as upper-case hex pairs separated by single blanks.\n"
    "With '-', reads command lines from standard input and prints one such\n"
    "line of octets for each.\n"
    "\n"
    "LINE is five path numbers and a value: an integer (0 or more), -1 to poll,\n"
    "or a text (\"~\" stands for a blank, a lone \"-\" for the empty text, at\n"
    "most 63 characters). Put '--' before a LINE that begins with '-'.\n"
    "\n"
    "Where the host would read the line otherwise than it is written (a\n"
    "seventh field, a number beyond 32 bits, a negative path number, a text\n"
    "with a real blank), a one-line warning goes to standard error.\n"
    "\n"
    "options:\n"
    "  --trace    write the host's trace lines to standard error\n"
    "  --strict   refuse such a line instead of warning (exit status 2)\n"
    "  --help     show this text\n"
    "\n"
    "exit status: 0 octets printed; 1 the host would send nothing (the reason\n"
    "on standard error); 2 usage or I/O error, or a line refused by --strict.\n"
    "\n"
    "examples:\n"
    "  korvane encode 1,2,3,4,5,100\n"
    "  korvane encode --trace 1,2,3,0,0,Main~out\n"
    "  printf '1,2,3,4,5,100\\n1,2,3,4,5,-1\\n' | korvane encode -\n";

namespace {

struct EncodeOptions
{
    bool help = false;
    bool trace = false;
    bool strict = false;
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

// Encodes one line through a host of its own; the exit status of the line.
int EncodeLine(const std::string& text, const EncodeOptions& options, const std::string& label)
{
    const char* line = text.c_str();
    const std::vector<CommandFinding> findings = CheckCommandLine(text);
    // What makes the host send nothing is said once, below.
    for (const CommandFinding& finding : findings) {
        if (options.strict)
            std::fprintf(stderr, "%s: refused: %s\n", label.c_str(), finding.text.c_str());
        else if (!SendsNothing(finding))
            std::fprintf(stderr, "%s: warning: %s\n", label.c_str(), finding.text.c_str());
    }
    if (options.strict && !findings.empty())
        return kExitUsage;

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
    if (options.trace) {
        // To standard error on every platform (OutputDebugStringA goes to
        // a debugger on Windows).
        SetHostTraceSink([](const char* trace) { std::fputs(trace, stderr); });
        HostToggleDebug(host.State());
    }
    host.SendCommand(line);
    if (!sent) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), NothingReason(line).c_str());
        return kExitNothing;
    }
    PrintLine(HexText(block.data(), block.size()));
    return kExitOk;
}

int RunEncode(const EncodeOptions& options)
{
    if (options.help)
        return PrintHelp(kEncodeHelp);
    if (options.lines.size() > 1)
        return UsageError("encode", "one LINE only (quote a text with blanks)", kEncodeHelp);
    if (options.lines.empty())
        return UsageError("encode", "LINE is missing ('-' reads lines from standard input)",
                          kEncodeHelp);
    const std::string label = CommandLabel("encode");

    try {
        int status = kExitOk;
        if (options.lines.front() == "-") {
            // One line of octets per input line, written at once; the worst
            // status counts.
            unsigned count = 0;
            std::string line;
            std::string reason;
            const auto encode = [&] {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                ++count;
                status = std::max(status, EncodeLine(line, options, label));
                line.clear();
                return OutputOk(reason, true);
            };
            int c = 0;
            bool writing = true;
            while (writing && (c = std::getc(stdin)) != EOF) {
                if (c == '\n')
                    writing = encode();
                else
                    line += char(c);
            }
            if (writing && !line.empty())
                encode();
            if (std::ferror(stdin)) {
                std::fprintf(stderr, "%s: cannot read standard input: %s\n", label.c_str(),
                             std::strerror(errno ? errno : EIO));
                return kExitUsage;
            }
            if (count == 0) {
                std::fprintf(stderr, "%s: no line on standard input\n", label.c_str());
                status = kExitNothing;
            }
        } else {
            status = EncodeLine(options.lines.front(), options, label);
        }
        std::string reason;
        if (!OutputOk(reason, true)) {
            std::fprintf(stderr, "%s: %s\n", label.c_str(), reason.c_str());
            return kExitUsage;
        }
        return status;
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
    command.add_flag("--strict", options->strict);
    command.add_option("LINE", options->lines);
    return [options] { return RunEncode(*options); };
}
