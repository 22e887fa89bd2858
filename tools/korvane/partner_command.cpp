// korvane partner: a partner for people and scripts, a thin front-end over
// the partner library (partner/). Plain, it sends command lines, console
// files and keep-alives in the order given and prints what comes back; with
// --console-link it links the service with a console over TCP.

#include "console/net/console_server.h"
#include "host/command_check.h"
#include "partner/command_input.h"
#include "partner/console_source.h"
#include "partner/partner_link.h"
#include "partner/partner_session.h"
#include "protocol/host_port.h"
#include "protocol/protocol.h"
#include "tools/korvane/commands.h"
#include "tools/korvane/partner_output.h"
#include "tools/korvane/stop_signals.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

const char kPartnerHelp[] =
    "usage: korvane partner [options] [LINE...]\n"
    "\n"
    "Talks to a running service ('korvane serve'; on Windows Korvane.exe) as\n"
    "its partner: opens the endpoint (window) TEST_RX, sends each command\n"
    "LINE as a command block, each --console FILE as console data and each\n"
    "--keep-alive, in the order given, and prints every block the service\n"
    "sends back. Without LINE, --console or --keep-alive, command lines are\n"
    "read from standard input, one per line (empty lines and lines beginning\n"
    "with '#' are skipped).\n"
    "\n"
    "options:\n"
    "  --name NAME     the partner's endpoint (default TEST_RX)\n"
    "  --service ARG   the service Korvane_ARG (a full name Korvane_... is\n"
    "                  taken as it is; default: the one running Korvane_*)\n"
    "  --console FILE  send FILE as console data ('-' for standard input), in\n"
    "                  blocks of at most --chunk octets; one FILE each time,\n"
    "                  the option may be given again\n"
    "  --hex           console files are hex text: digit pairs; blanks, line\n"
    "                  ends and '#' comments are ignored\n"
    "  --chunk N       console blocks of at most N octets (1 to 4096)\n"
    "  --keep-alive    send a 13-octet keep-alive block\n"
    "  --wait MS       after the last send, keep answering for MS\n"
    "                  milliseconds (default 300)\n"
    "  --timeout MS    how long a send waits for the service (default 5000)\n"
    "  --strict        refuse (exit 2) a command line the service would read\n"
    "                  otherwise than it says (more than six fields, a number\n"
    "                  outside signed 32 bits, a negative path number, a text\n"
    "                  with a blank or of more than 63 characters, no value);\n"
    "                  without, such a line gets a one-line warning on\n"
    "                  standard error and is sent\n"
    "  --json          one JSON object per line instead of the text lines: a\n"
    "                  report as 'decode --json' writes it (\"report\", \"path\",\n"
    "                  \"value\", \"type\"; \"reportOctets\" in hex when the line\n"
    "                  is not UTF-8), except that the value of a text report\n"
    "                  has its '~' read back as blanks; every other event has\n"
    "                  \"event\" (command, no-value, console, keep-alive,\n"
    "                  encoded, keep-alive-echoed, link, service, not-sent)\n"
    "  --quiet         print only reports (errors go to standard error)\n"
    "\n"
    "console link (see 'korvane console'):\n"
    "  --console-link HOST:PORT\n"
    "                  link the service with a console over TCP: every block\n"
    "                  the service sends goes to the console, every octet from\n"
    "                  the console goes to the service as console data (whole\n"
    "                  messages, at most 65535 octets a block, its keep-alive a\n"
    "                  13-octet block of its own); LINE '-' reads command lines\n"
    "                  from standard input; without LINE it runs until SIGINT\n"
    "                  or SIGTERM, else until every line is sent and nothing\n"
    "                  happened for --wait MS and the console took every\n"
    "                  message. Reading from the console pauses while 1 MiB\n"
    "                  waits for the service, and standard input while 1 MiB\n"
    "                  of lines does; a console that takes nothing for 10 s\n"
    "                  loses the link (reconnected; at the end: exit 2)\n"
    "  --retries N     failures in a row (connecting to the console, or the\n"
    "                  service not taking a block) before the link gives up\n"
    "                  (default 10, 0 for ever; waits 100 ms, doubling, at\n"
    "                  most 5 s); the lines never sent are named on standard\n"
    "                  error\n"
    "\n"
    "output, one line each:\n"
    "  > command LINE            a command line sent\n"
    "  > console N octets (...)  a console block sent\n"
    "  > keep-alive              a keep-alive sent\n"
    "  encoded LEN: HEX          an encoded Ember message for the console\n"
    "  report: TEXT              a parameter report; a text report (ending\n"
    "                            in a blank and a line feed) is shown as\n"
    "                            'report: TEXT (text)'\n"
    "  keep-alive echoed         the keep-alive came back unchanged\n"
    "  no value: ...             the service found no value in the line\n"
    "  link: ..., service: ...   the console link and the service's state\n"
    "\n"
    "A console block of exactly 13 octets is a keep-alive to the service, so\n"
    "console data is never cut into a 13-octet block unless the whole file\n"
    "has 13 octets.\n"
    "\n"
    "exit status (the same with and without --console-link):\n"
    "  0  every block was taken\n"
    "  1  nothing was produced: every block sent was a command line in which\n"
    "     the service found no value\n"
    "  2  usage or I/O error, no service (or several and no --service), a\n"
    "     send that failed or was not answered within --timeout, a console\n"
    "     link that gave up, whose console did not take every message, or\n"
    "     that was stopped (SIGINT, SIGTERM) before every command line was\n"
    "     sent; the lines not delivered are named on standard error\n"
    "\n"
    "examples:\n"
    "  korvane partner 1,2,3,4,5,100 1,2,3,4,5,-1 1,2,3,0,0,Ch~1\n"
    "  korvane partner --service demo --console data/console_capture.bin\n"
    "  korvane partner --console data/console_capture.bin 1,2,3,4,5,-1 --keep-alive\n"
    "  printf '1,2,3,4,5,Main~out\\n' | korvane partner\n"
    "  korvane partner --json 1,2,3,4,5,100\n"
    "  korvane partner --console-link 127.0.0.1:9000 1,2,3,4,5,100\n"
    "  korvane partner --console-link 127.0.0.1:9000 -     # type command lines\n";

namespace {

struct Action
{
    enum Kind
    {
        Command,
        Console,
        KeepAlive,
    } kind;
    std::string text; // the command line, or the console file's name
    std::vector<uint8_t> octets;
};

struct PartnerOptions
{
    bool help = false;
    std::string name = "TEST_RX";
    std::string serviceName;
    bool hex = false;
    int chunk = 4096;
    int wait = 300;
    int timeout = 0;
    bool strict = false;
    bool json = false;
    bool quiet = false;
    std::string consoleLink;
    int retries = 10;
    bool retriesGiven = false;
    // The sends in command-line order.
    std::vector<Action> actions;
};

// Checks a command line against how the service reads it: a warning on
// standard error, or with --strict a refusal (false).
bool CheckLine(const std::string& line, bool strict)
{
    const std::vector<CommandFinding> findings = CheckCommandLine(line);
    if (findings.empty())
        return true;
    std::string text;
    for (const CommandFinding& finding : findings)
        text += (text.empty() ? "" : "; ") + finding.text;
    std::fprintf(stderr, "%s: %s %s: %s\n", CommandLabel("partner").c_str(),
                 strict ? "refused" : "warning:", line.c_str(), text.c_str());
    return !strict;
}

// Maps a failure of the library to the tool's message and status.
int Failed(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\n", CommandLabel("partner").c_str(), reason.c_str());
    return kExitUsage;
}

// --console-link: the link between the service and a console on TCP. The
// program reads standard input and catches the stop signals; the link gets
// the lines and the stop through its API.
int RunLink(const PartnerOptions& options)
{
    CPartnerLinkOptions link;
    std::string error;
    if (!ParseHostPort(options.consoleLink, link.console.host, link.console.port, error))
        return UsageError("partner", "--console-link: " + error, kPartnerHelp);
    std::vector<std::string> lines;
    bool readStandardInput = false;
    for (const Action& action : options.actions) {
        if (action.kind != Action::Command)
            return UsageError("partner", "--console and --keep-alive do not go with --console-link",
                              kPartnerHelp);
        if (action.text == "-")
            readStandardInput = true;
        else
            lines.push_back(action.text);
    }
    link.session.endpoint = options.name;
    link.session.service = options.serviceName;
    if (options.timeout > 0)
        link.session.sendTimeoutMs = options.timeout;
    link.console.retries = options.retries;
    link.quietMs = options.wait;
    // Without lines it runs until stopped.
    link.untilStopped = lines.empty() && !readStandardInput;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    CPartnerOutput output(options.json, options.quiet);
    // Shared with the standard-input reader, which may outlive this call
    // (blocked in a read when the link ends).
    const auto partner = std::make_shared<CPartnerLink>(link);
    size_t noValue = 0;
    std::vector<std::string> notSent;
    partner->SetEventHandler([&](const CPartnerLinkEvent& event) {
        if (event.kind == CPartnerLinkEvent::NoValue)
            ++noValue;
        if (event.kind == CPartnerLinkEvent::NotSent)
            notSent.push_back(event.line + " (" + event.text + ")");
        output.Link(event);
    });
    for (const std::string& line : lines)
        partner->AddCommand(line);
    if (readStandardInput) {
        // Reads on only while the link's queue is under its bound.
        std::thread([partner] {
            std::string line;
            while (std::getline(std::cin, line))
                if (!partner->AddCommandBounded(line))
                    return;
            partner->EndCommands();
        }).detach();
    } else {
        partner->EndCommands();
    }
    CatchStopSignals([](void* context) { static_cast<CPartnerLink*>(context)->Stop(); },
                     partner.get());
    const EPartnerStatus status = partner->Run();
    ReleaseStopSignals();
    const bool stoppedEarly = status == EPartnerStatus::Stopped && !notSent.empty();
    if ((status != EPartnerStatus::Ok && status != EPartnerStatus::Stopped) || stoppedEarly) {
        std::fprintf(stderr, "%s: %s\n", CommandLabel("partner").c_str(),
                     stoppedEarly ? "stopped before every command line was sent"
                                  : partner->LastError().c_str());
        for (const std::string& line : notSent)
            std::fprintf(stderr, "%s: not sent: %s\n", CommandLabel("partner").c_str(),
                         line.c_str());
        return kExitUsage;
    }
    if (!lines.empty() && noValue == lines.size() && status == EPartnerStatus::Ok)
        return kExitNothing;
    return kExitOk;
}

int RunPartner(PartnerOptions& options)
{
    if (options.help)
        return PrintHelp(kPartnerHelp);
    // Every line given is checked before anything is sent.
    for (const Action& action : options.actions)
        if (action.kind == Action::Command && action.text != "-" &&
            !CheckLine(action.text, options.strict))
            return kExitUsage;
    if (!options.consoleLink.empty())
        return RunLink(options);
    if (options.retriesGiven)
        return UsageError("partner", "--retries goes with --console-link", kPartnerHelp);

    // Console files are read before anything is sent.
    for (Action& action : options.actions) {
        if (action.kind != Action::Console)
            continue;
        std::string error;
        if (ReadConsoleSource(
                action.text, options.hex ? EConsoleSourceFormat::Hex : EConsoleSourceFormat::Binary,
                action.octets, error) != EPartnerStatus::Ok)
            return Failed(error);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    CPartnerOutput output(options.json, options.quiet);
    CPartnerSession session;
    session.SetEventHandler([&](const CPartnerEvent& event) { output.Service(event); });
    CPartnerSessionOptions sessionOptions;
    sessionOptions.endpoint = options.name;
    sessionOptions.service = options.serviceName;
    if (options.timeout > 0)
        sessionOptions.sendTimeoutMs = options.timeout;
    if (session.Open(sessionOptions) != EPartnerStatus::Ok)
        return Failed(session.LastError());

    // Blocks sent, and command lines among them without a value.
    size_t sent = 0;
    size_t noValue = 0;
    const auto sendLine = [&](const std::string& line) {
        output.Command(line);
        const EPartnerStatus status = session.SendCommand(line);
        if (status == EPartnerStatus::NoValue) {
            output.NoValue(line);
            ++noValue;
        }
        return status == EPartnerStatus::Ok || status == EPartnerStatus::NoValue;
    };
    bool ok = true;
    if (options.actions.empty()) {
        std::string line;
        while (ok && std::getline(std::cin, line)) {
            if (!TakeCommandLine(line))
                continue;
            if (!CheckLine(line, options.strict))
                return kExitUsage;
            ok = sendLine(line);
            ++sent;
        }
    }
    for (const Action& action : options.actions) {
        if (!ok)
            break;
        ++sent;
        switch (action.kind) {
        case Action::Command:
            ok = sendLine(action.text);
            break;
        case Action::Console: {
            const std::string source = action.text == "-" ? "standard input" : action.text;
            ok = session.SendConsoleData(action.octets.data(), action.octets.size(),
                                         size_t(options.chunk), nullptr,
                                         [&](size_t offset, size_t size) {
                output.ConsoleData(size, source + " at " + std::to_string(offset));
            }) == EPartnerStatus::Ok;
            break;
        }
        case Action::KeepAlive:
            output.KeepAlive("");
            ok = session.SendKeepAlive() == EPartnerStatus::Ok;
            break;
        }
    }
    if (!ok)
        return Failed(session.LastError());
    if (options.wait > 0)
        session.Wait(options.wait);
    session.Close();
    std::fflush(stdout);
    return sent > 0 && noValue == sent ? kExitNothing : kExitOk;
}

} // namespace

CommandRun DefinePartner(CLI::App& command)
{
    auto options = std::make_shared<PartnerOptions>();
    auto consoleFiles = std::make_shared<std::vector<std::string>>();
    auto lines = std::make_shared<std::vector<std::string>>();
    command.add_flag("-h,--help", options->help);
    command.add_option("--name", options->name);
    command.add_option("--service", options->serviceName);
    // One FILE per --console: a LINE after it is a LINE.
    CLI::Option* console = command.add_option("--console", *consoleFiles)
                               ->expected(1)
                               ->allow_extra_args(false)
                               ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command.add_flag("--hex", options->hex);
    CLI::Option* keepAlive = command.add_flag("--keep-alive");
    command.add_option("--chunk", options->chunk)->check(CLI::Range(1, 4096));
    command.add_option("--wait", options->wait)->check(CLI::Range(0, 3600 * 1000));
    command.add_option("--timeout", options->timeout)->check(CLI::Range(1, 3600 * 1000));
    command.add_flag("--strict", options->strict);
    command.add_flag("--json", options->json);
    command.add_flag("--quiet", options->quiet);
    CLI::Option* line = command.add_option("LINE", *lines);
    command.add_option("--console-link", options->consoleLink);
    CLI::Option* retries =
        command.add_option("--retries", options->retries)->check(CLI::Range(0, 1000000));
    CLI::App* app = &command;
    return [options, app, console, keepAlive, line, retries, consoleFiles, lines] {
        options->retriesGiven = retries->count() > 0;
        // Command lines, console files and keep-alives are sent in the order
        // they were given.
        size_t nextConsole = 0;
        size_t nextLine = 0;
        for (const CLI::Option* option : app->parse_order()) {
            if (option == console)
                options->actions.push_back({Action::Console, consoleFiles->at(nextConsole++), {}});
            else if (option == line)
                options->actions.push_back({Action::Command, lines->at(nextLine++), {}});
            else if (option == keepAlive)
                options->actions.push_back({Action::KeepAlive, "", {}});
        }
        return RunPartner(*options);
    };
}
