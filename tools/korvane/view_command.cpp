// korvane view: the console's parameters in the browser, a thin front-end
// over the view library (view/) and the partner link (partner/).
//
// Threads: the main thread parses the options, starts the server (its own
// threads, view/server/view_server.h) and, live, the partner link on a
// thread of its own, then waits for SIGINT or SIGTERM (or the link's end).
// The link's events go into the view state on the link's thread; sets from
// the page go to the link from the server's threads.

#include "console/net/console_server.h"
#include "partner/console_source.h"
#include "partner/partner_link.h"
#include "protocol/host_port.h"
#include "tools/korvane/commands.h"
#include "tools/korvane/stop_signals.h"
#include "tools/korvane/tool_platform.h"
#include "view/server/view_server.h"
#include "view/view_access.h"
#include "view/view_capture.h"
#include "view/view_labels_file.h"
#include "view/view_state.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

const char kViewHelp[] =
    "usage: korvane view [options]          (live: service <-> console)\n"
    "       korvane view [options] FILE     (offline: a capture, read-only)\n"
    "\n"
    "Shows the console's parameters in the browser: a tree by path with each\n"
    "value, its last change, the number of changes and its recent values; a\n"
    "row that changes flashes. Live, it is a partner of the running service\n"
    "linked with a console over TCP, as 'korvane partner --console-link' is:\n"
    "values edited in the page, polls and command lines go through the\n"
    "service to the console, and the console's answers come back as reports.\n"
    "Offline, FILE (console octets; '-' for standard input) is decoded by the\n"
    "service's own code in this process and shown; nothing can be set.\n"
    "\n"
    "It prints the page's address, with its token, on standard output:\n"
    "  korvane view: http://127.0.0.1:8080/?token=...\n"
    "and serves until SIGINT or SIGTERM.\n"
    "\n"
    "options:\n"
    "  --listen ADDR:PORT   where the page is served (default 127.0.0.1:8080;\n"
    "                       port 0 picks a free one)\n"
    "  --allow-remote       allow an ADDR that is not loopback (a warning is\n"
    "                       printed: anyone who reaches it with the token can\n"
    "                       set values on the console)\n"
    "  --token-file FILE    the token is FILE's first line (at least 16\n"
    "                       characters) instead of a random one\n"
    "  --labels FILE        labels of paths, JSON {\"labels\": {PATH: LABEL}},\n"
    "                       read on start, written after every change\n"
    "  --max-clients N      pages open at once (default 16, at most 256)\n"
    "  --open               open the page in the browser\n"
    "  --strict             refuse a command line the service would read\n"
    "                       otherwise than it says (see 'partner --strict');\n"
    "                       without, it is sent and the page shows the warning\n"
    "live (see 'korvane partner'):\n"
    "  --console-link HOST:PORT  the console (default 127.0.0.1:9000)\n"
    "  --name NAME          the partner's endpoint (default TEST_RX)\n"
    "  --service ARG        the service Korvane_ARG (default: the one running)\n"
    "  --timeout MS         how long a send waits for the service (default 5000)\n"
    "  --retries N          failures in a row before the link gives up\n"
    "                       (default 0: never)\n"
    "offline:\n"
    "  --hex                FILE is hex text (digit pairs; blanks, line ends\n"
    "                       and '#' comments are ignored)\n"
    "\n"
    "Every request but the page itself needs the token; requests naming\n"
    "another Host or coming from another Origin are refused (see docs/VIEW.md).\n"
    "\n"
    "exit status: 0 stopped by SIGINT or SIGTERM; 2 usage error, the address\n"
    "cannot be used, a file cannot be read, no service, or the link gave up\n"
    "\n"
    "examples:\n"
    "  korvane serve demo & korvane console &\n"
    "  korvane view --labels desk-labels.json --open\n"
    "  korvane view data/console_capture.bin\n";

namespace {

struct ViewOptions
{
    bool help = false;
    std::string listen = "127.0.0.1:8080";
    bool allowRemote = false;
    std::string tokenFile;
    std::string labels;
    size_t maxClients = 16;
    bool open = false;
    bool strict = false;
    std::string consoleLink = "127.0.0.1:9000";
    std::string name = "TEST_RX";
    std::string serviceName;
    int timeout = 0;
    int retries = 0;
    bool hex = false;
    std::string file;
    bool fileGiven = false;
};

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\n", CommandLabel("view").c_str(), reason.c_str());
    return kExitUsage;
}

bool ReadToken(const std::string& file, std::string& token, std::string& error)
{
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (!in) {
        error = "cannot read " + file;
        return false;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, in) != nullptr;
    std::fclose(in);
    token = got ? line : "";
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' '))
        token.pop_back();
    for (char c : token)
        if (c <= ' ' || c > '~' || c == '&' || c == '#' || c == '%' || c == '+') {
            error = file + ": a token is printable ASCII without blanks, &, #, % or +";
            return false;
        }
    if (token.size() < 16) {
        error = file + ": the token must have at least 16 characters";
        return false;
    }
    return true;
}

// Waits for SIGINT or SIGTERM, or for done.
void WaitForStop(const std::atomic<bool>& done)
{
    while (!StopSignalName() && !done.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

int RunView(ViewOptions& options)
{
    if (options.help)
        return PrintHelp(kViewHelp);
    const bool offline = options.fileGiven;

    CViewServerOptions server;
    std::string error;
    if (!ParseHostPort(options.listen, server.address, server.port, error))
        return UsageError("view", "--listen: " + error, kViewHelp);
    if (!IsLoopbackAddress(server.address) && !options.allowRemote)
        return UsageError("view",
                          "--listen " + options.listen +
                              " is not a loopback address; add --allow-remote to serve it",
                          kViewHelp);
    if (server.address == "localhost")
        server.address = "127.0.0.1";
    server.strict = options.strict;
    server.token = NewViewToken();
    if (!options.tokenFile.empty() && !ReadToken(options.tokenFile, server.token, error))
        return Fail(error);

    CViewOptions viewOptions;
    viewOptions.maxPages = options.maxClients;
    viewOptions.readOnly = offline;
    CViewState state(viewOptions);
    if (!options.labels.empty()) {
        if (!LoadLabelsFile(options.labels, state, error))
            return Fail(error);
        state.OnLabelsChanged([&state, file = options.labels](const nlohmann::json& labels) {
            std::string reason;
            if (!SaveLabelsFile(file, labels, reason))
                state.Log("error", reason);
        });
    }

    CPartnerLinkOptions link;
    if (offline) {
        std::vector<uint8_t> octets;
        if (ReadConsoleSource(options.file,
                              options.hex ? EConsoleSourceFormat::Hex
                                          : EConsoleSourceFormat::Binary,
                              octets, error) != EPartnerStatus::Ok)
            return Fail(error);
        if (!DecodeCaptureInto(octets, state, error))
            return Fail(error);
        state.SetConsoleState("offline", options.file == "-" ? "standard input" : options.file);
    } else {
        if (!ParseHostPort(options.consoleLink, link.console.host, link.console.port, error))
            return UsageError("view", "--console-link: " + error, kViewHelp);
        link.session.endpoint = options.name;
        link.session.service = options.serviceName;
        if (options.timeout > 0)
            link.session.sendTimeoutMs = options.timeout;
        link.console.retries = options.retries;
        link.untilStopped = true;
    }

    std::unique_ptr<CPartnerLink> partner;
    if (!offline)
        partner = std::make_unique<CPartnerLink>(link);
    CViewCommandSink sink;
    if (partner)
        sink = [&partner](const std::string& line) { partner->AddCommand(line); };
    CViewServer view(state, server, sink);
    if (!view.Start(error))
        return Fail(error);

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!IsLoopbackAddress(server.address))
        std::fprintf(stderr,
                     "%s: warning: serving on %s, not on loopback: whoever reaches it with the "
                     "token can set values on the console\n",
                     CommandLabel("view").c_str(), server.address.c_str());
    std::printf("%s: %s\n", CommandLabel("view").c_str(), view.Address().c_str());
    std::fflush(stdout);
    if (options.open && !OpenInBrowser(view.Address().c_str()))
        std::fprintf(stderr, "%s: could not open a browser; open the address above\n",
                     CommandLabel("view").c_str());

    CatchStopSignals(
        [](void* context) {
        if (context)
            static_cast<CPartnerLink*>(context)->Stop();
        },
        partner.get());
    std::atomic<bool> linkDone{false};
    EPartnerStatus status = EPartnerStatus::Ok;
    std::thread linkThread;
    if (partner) {
        partner->SetEventHandler(
            [&state](const CPartnerLinkEvent& event) { state.ApplyLinkEvent(event); });
        linkThread = std::thread([&] {
            status = partner->Run();
            linkDone.store(true);
        });
    }
    WaitForStop(linkDone);
    if (partner) {
        partner->Stop();
        linkThread.join();
    }
    view.Stop();
    ReleaseStopSignals();
    if (partner && status != EPartnerStatus::Ok && status != EPartnerStatus::Stopped)
        return Fail(partner->LastError());
    return kExitOk;
}

} // namespace

CommandRun DefineView(CLI::App& command)
{
    auto options = std::make_shared<ViewOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_option("--listen", options->listen);
    command.add_flag("--allow-remote", options->allowRemote);
    command.add_option("--token-file", options->tokenFile);
    command.add_option("--labels", options->labels);
    command.add_option("--max-clients", options->maxClients)->check(CLI::Range(1, 256));
    command.add_flag("--open", options->open);
    command.add_flag("--strict", options->strict);
    CLI::Option* consoleLink = command.add_option("--console-link", options->consoleLink);
    CLI::Option* name = command.add_option("--name", options->name);
    CLI::Option* service = command.add_option("--service", options->serviceName);
    CLI::Option* timeout =
        command.add_option("--timeout", options->timeout)->check(CLI::Range(1, 3600 * 1000));
    CLI::Option* retries =
        command.add_option("--retries", options->retries)->check(CLI::Range(0, 1000000));
    CLI::Option* hex = command.add_flag("--hex", options->hex);
    CLI::Option* file = command.add_option("FILE", options->file);
    return [options, consoleLink, name, service, timeout, retries, hex, file] {
        options->fileGiven = file->count() > 0;
        if (options->fileGiven) {
            for (const CLI::Option* live : {consoleLink, name, service, timeout, retries})
                if (live->count() > 0)
                    return UsageError("view", live->get_name() + " does not go with FILE",
                                      kViewHelp);
        } else if (hex->count() > 0) {
            return UsageError("view", "--hex goes with FILE", kViewHelp);
        }
        return RunView(*options);
    };
}
