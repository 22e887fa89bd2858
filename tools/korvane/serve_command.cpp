// korvane serve: the Korvane host without a window.
//
// The endpoint "Korvane_" + ARG takes the place of the host window and is
// bound to the host core as every host window is (host/host_window.h); the
// partner is "TEST_RX" at start, then the sender of the latest block.
// SIGUSR1 is the Debug switch, SIGINT and SIGTERM the exit command.

#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"
#include "tools/korvane/stop_signals.h"

#include "host/host_state.h"
#include "host/host_trace.h"
#include "host/host_window.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"
#include "tools/korvane/tool_platform.h"
#include "winapi.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

const char kServeHelp[] =
    "usage: korvane serve [--debug] [--verbose] [--timeout MS] [ARG...]\n"
    "\n"
    "Runs the Korvane service without a window. Its endpoint Korvane_ARG\n"
    "(Korvane_ without ARG; several ARGs are joined with blanks; no '/'; the\n"
    "name is cut to what the runtime folder allows, at most 99) takes the\n"
    "partner's blocks: a command line comes back as an encoded Ember message,\n"
    "console octets come back as parameter reports, a 13-octet console block\n"
    "is echoed as a keep-alive. The partner is the endpoint TEST_RX at start,\n"
    "then the sender of the latest block; what a block causes goes to its\n"
    "own sender.\n"
    "\n"
    "options:\n"
    "  --debug       start with the Debug switch on (traces on standard error,\n"
    "                each line after a time stamp)\n"
    "  --verbose     a line on standard error for every block received and\n"
    "                sent: its kind, its length and the partner's endpoint\n"
    "  --timeout MS  how long a send to the partner waits for its answer\n"
    "                (default 5000)\n"
    "\n"
    "SIGUSR1 flips the Debug switch; SIGINT or SIGTERM stops the service and\n"
    "removes its endpoint. Standard error gets the line\n"
    "'korvane serve: ready: ...' once the endpoint is open, a line for every\n"
    "flip of the Debug switch, the traces while it is on, and a line at the\n"
    "stop. Endpoints live in $KORVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/korvane,\n"
    "else /tmp/korvane-<uid>.\n"
    "\n"
    "exit status:\n"
    "  0  stopped by SIGINT or SIGTERM (or --help)\n"
    "  1  the endpoint could not be opened: its name is in use by another\n"
    "     process\n"
    "  2  bad usage (an unknown option, a bad --timeout, '/' in ARG), or no\n"
    "     service possible: the runtime folder is refused (not private, not\n"
    "     a folder, not ours) or this platform has no service\n"
    "\n"
    "example:\n"
    "  korvane serve demo &            # endpoint Korvane_demo\n"
    "  korvane partner 1,2,3,4,5,100   # prints the encoded message\n"
    "  kill -USR1 %1                   # Debug on\n"
    "  kill %1                         # stop\n";

namespace {

struct ServeOptions
{
    bool help = false;
    bool debug = false;
    bool verbose = false;
    std::optional<std::string> timeoutText; // as typed, when given
    std::vector<std::string> arguments;
};

// True while the last trace written did not end its line.
bool g_traceLineOpen = false;

// Ends a trace's open line before a line of the tool's own.
void EndOpenTraceLine()
{
    if (g_traceLineOpen)
        std::fputc('\n', stderr);
    g_traceLineOpen = false;
}

// "hh:mm:ss.mmm " of the local time now.
std::string TimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    // One thread: the C library's shared result is safe here.
    std::tm local = {};
    if (const std::tm* calendar = std::localtime(&seconds))
        local = *calendar;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, int(millis.count()));
    return text;
}

// The Debug switch's traces on standard error, a time stamp in front of
// every line; the traces themselves pass unchanged (a trace without a line
// end is continued by the next one).
void InstallTimeStampedTraces()
{
    SetHostTraceSink([](const char* line) {
        if (!*line)
            return;
        if (!g_traceLineOpen)
            std::fputs(TimeStamp().c_str(), stderr);
        std::fputs(line, stderr);
        std::fflush(stderr);
        g_traceLineOpen = line[std::strlen(line) - 1] != '\n';
    });
}

const char* KindName(uint32_t kind)
{
    switch (kind) {
    case BLOCK_COMMAND:
        return "command";
    case BLOCK_CONSOLE_DATA:
        return "console-data";
    case BLOCK_ENCODED:
        return "encoded";
    case BLOCK_REPORT:
        return "report";
    default:
        return "other";
    }
}

// One line per block: "korvane serve: received console-data 200 from
// TEST_RX". The length is the block's length field; a command's, which
// carries none, is its cbData.
void PrintBlock(const std::string& label, bool sent, HWND partner, const COPYDATASTRUCT& block)
{
    const uint32_t kind = BlockKind(block.dwData);
    const char* name = partner ? GetWindowName(partner) : nullptr;
    const unsigned length =
        kind == BLOCK_COMMAND ? unsigned(block.cbData) : unsigned(BlockLength(block.dwData));
    EndOpenTraceLine();
    if (kind == BLOCK_COMMAND || kind == BLOCK_CONSOLE_DATA || kind == BLOCK_ENCODED ||
        kind == BLOCK_REPORT)
        std::fprintf(stderr, "%s: %s %s %u %s %s\n", label.c_str(), sent ? "sent" : "received",
                     KindName(kind), length, sent ? "to" : "from", name ? name : "(no partner)");
    else
        std::fprintf(stderr, "%s: %s %s 0x%04X %u %s %s\n", label.c_str(),
                     sent ? "sent" : "received", KindName(kind), unsigned(kind), length,
                     sent ? "to" : "from", name ? name : "(no partner)");
    std::fflush(stderr);
}

int RunServe(const ServeOptions& options)
{
    if (options.help)
        return PrintHelp(kServeHelp);
    const std::string label = CommandLabel("serve");
    if (const char* reason = ServeUnavailableReason()) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), reason);
        return kExitUsage;
    }
    uint64_t timeout = 0;
    if (options.timeoutText && !ParseWholeNumber(*options.timeoutText, 1, 3600 * 1000, timeout)) {
        std::fprintf(stderr, "%s: --timeout needs milliseconds (1 to 3600000)\n", label.c_str());
        return kExitUsage;
    }
    std::string argument;
    for (size_t i = 0; i < options.arguments.size(); ++i)
        argument += (i ? " " : "") + options.arguments[i];
    if (argument.find('/') != std::string::npos) {
        std::fprintf(stderr, "%s: ARG may not contain '/'\n", label.c_str());
        return kExitUsage;
    }
    if (timeout > 0)
        SetSendTimeout(int(timeout));

    const size_t room = MaxWindowNameLength();
    if (room == 0) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), GetMessageLayerError());
        return kExitUsage;
    }
    const std::string name = HostWindowName(argument, room);

    CHostState state;
    CReportReader reader;
    HWND host = CreateMessageWindow(name.c_str(), HostWindowProcedure);
    if (!host) {
        std::fprintf(stderr, "%s: %s\n", label.c_str(), GetMessageLayerError());
        return kExitNothing;
    }
    state.partnerWindow = HostFindPartner();
    HostAttach(state, reader, host);
    InstallTimeStampedTraces();
    if (options.verbose)
        state.onBlock = [&label](bool sent, HWND partner, const COPYDATASTRUCT& block) {
            PrintBlock(label, sent, partner, block);
        };
    if (options.debug)
        HostToggleDebug(state);

    CatchStopSignals([](void*) { WakeMessageLoop(); }, nullptr, true);

    std::fprintf(stderr, "%s: ready: endpoint %s in %s; partner %s %s; debug %s\n", label.c_str(),
                 name.c_str(), GetRuntimeFolder(), kPartnerWindowName,
                 state.partnerWindow ? "found" : "not running yet", state.debugFlag ? "on" : "off");
    std::fflush(stderr);

    for (;;) {
        const int code = RunMessageLoop(-1);
        for (int toggles = TakeDebugToggles(); toggles > 0; --toggles) {
            HostToggleDebug(state);
            EndOpenTraceLine();
            std::fprintf(stderr, "%s: debug %s\n", label.c_str(), state.debugFlag ? "on" : "off");
            std::fflush(stderr);
        }
        EndOpenTraceLine();
        if (const char* signal = StopSignalName()) {
            std::fprintf(stderr, "%s: stopping (%s)\n", label.c_str(), signal);
            break;
        }
        if (code >= 0) {
            // The quit message: the window got WM_DESTROY.
            std::fprintf(stderr, "%s: stopping (quit message)\n", label.c_str());
            break;
        }
    }
    HostDetach(state);
    DestroyWindow(host);
    SetHostTraceSink(nullptr);
    ReleaseStopSignals();
    std::fflush(stderr);
    return kExitOk;
}

} // namespace

CommandRun DefineServe(CLI::App& command)
{
    auto options = std::make_shared<ServeOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_flag("--debug", options->debug);
    command.add_flag("--verbose", options->verbose);
    command.add_option_function<std::string>(
        "--timeout", [options](const std::string& given) { options->timeoutText = given; });
    command.add_option("ARG", options->arguments);
    return [options] { return RunServe(*options); };
}
