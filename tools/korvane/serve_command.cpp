// korvane serve: the Korvane host without a window.
//
// The endpoint "Korvane_" + ARG takes the place of the host window: its
// procedure is the host's dispatcher, the report reader is bound to it, and
// the partner is "TEST_RX" at start, then the sender of the latest block.
// SIGUSR1 is the Debug switch, SIGINT and SIGTERM the exit command.

#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"

#include "host/dispatcher.h"
#include "host/host_state.h"
#include "host/report_reader.h"
#include "platform/tool_platform.h"
#include "winapi.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

const char kServeHelp[] =
    "usage: korvane serve [--debug] [--timeout MS] [ARG...]\n"
    "\n"
    "Runs the Korvane service without a window. Its endpoint Korvane_ARG\n"
    "(Korvane_ without ARG; several ARGs are joined with blanks; no '/'; the\n"
    "name is cut to what the runtime folder allows, at most 99) takes the\n"
    "partner's blocks: a command line comes back as an encoded Ember message,\n"
    "console octets come back as parameter reports, a 13-octet console block\n"
    "is echoed as a keep-alive. The partner is the endpoint TEST_RX at start,\n"
    "then the sender of the latest block.\n"
    "\n"
    "options:\n"
    "  --debug       start with the Debug switch on (traces on standard error)\n"
    "  --timeout MS  how long a send to the partner waits for its answer\n"
    "                (default 5000)\n"
    "\n"
    "SIGUSR1 flips the Debug switch; SIGINT or SIGTERM stops the service with\n"
    "exit status 0 and removes its endpoint. Standard error gets the line\n"
    "'korvane serve: ready: ...' once the endpoint is open, a line for every\n"
    "flip of the Debug switch, the traces while it is on, and a line at the\n"
    "stop. Endpoints live in $KORVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/korvane,\n"
    "else /tmp/korvane-<uid>.\n"
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
    std::optional<std::string> timeoutText; // as typed, when given
    std::vector<std::string> arguments;
};

LRESULT CALLBACK ServeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<CHostState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!state)
        return DefWindowProcA(window, message, wParam, lParam);
    return HostDispatch(*state, window, message, wParam, lParam);
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
    const bool debug = options.debug;
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
    // The name is cut to what the endpoint can hold (at most 99 characters).
    std::string name = "Korvane_" + argument;
    if (name.size() > room)
        name.resize(room);

    CHostState state;
    CReportReader reader;
    HWND host = CreateMessageWindow(name.c_str(), ServeProcedure);
    if (!host) {
        std::fprintf(stderr, "%s: cannot open the endpoint %s: %s\n", label.c_str(), name.c_str(),
                     GetMessageLayerError());
        return kExitNothing;
    }
    state.hostWindow = host;
    state.partnerWindow = FindWindowA(nullptr, "TEST_RX");
    state.reader = &reader;
    reader.Bind(host);
    SetWindowLongPtrA(host, GWLP_USERDATA, reinterpret_cast<intptr_t>(&state));
    if (debug)
        HostToggleDebug(state);

    CatchServiceSignals();

    std::fprintf(stderr, "%s: ready: endpoint %s in %s; partner TEST_RX %s; debug %s\n",
                 label.c_str(), name.c_str(), GetRuntimeFolder(),
                 state.partnerWindow ? "found" : "not running yet", state.debugFlag ? "on" : "off");
    std::fflush(stderr);

    for (;;) {
        const int code = RunMessageLoop(-1);
        for (int toggles = TakeDebugToggles(); toggles > 0; --toggles) {
            HostToggleDebug(state);
            std::fprintf(stderr, "%s: debug %s\n", label.c_str(), state.debugFlag ? "on" : "off");
            std::fflush(stderr);
        }
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
    DestroyWindow(host);
    ReleaseServiceSignals();
    std::fflush(stderr);
    return kExitOk;
}

} // namespace

CommandRun DefineServe(CLI::App& command)
{
    auto options = std::make_shared<ServeOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_flag("--debug", options->debug);
    command.add_option_function<std::string>(
        "--timeout", [options](const std::string& given) { options->timeoutText = given; });
    command.add_option("ARG", options->arguments);
    return [options] { return RunServe(*options); };
}
