// korvane console: a simulated mixing console on TCP, for partners to
// develop against and for the main job.

#include "console/net/console_server.h"
#include "console/net/console_service.h"
#include "protocol/host_port.h"
#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"
#include "tools/korvane/stop_signals.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

const char kConsoleHelp[] =
    "usage: korvane console [options]\n"
    "\n"
    "Runs a simulated console: listens for TCP clients (partners) and reads\n"
    "each one's octets as Ember messages. A parameter value (an Integer or\n"
    "UTF8String at application 3 in a private container below context path\n"
    "containers, as 'korvane encode' writes it) is stored and answered with the\n"
    "parameter's tree; every other client gets the same tree as an announcement.\n"
    "A poll (application 32) is answered with every parameter below the polled\n"
    "path container, in one tree (nothing when there is none). Answers are the\n"
    "root, a context Set numbered --top, then the path and parameter containers.\n"
    "Anything else is logged and ignored; octets the reader refuses are logged\n"
    "with its error, and the client stays connected.\n"
    "\n"
    "options:\n"
    "  --listen ADDR:PORT  where to listen (default 127.0.0.1:9000; ADDR a name\n"
    "                      such as localhost or an address, [ADDR] for IPv6;\n"
    "                      port 0 picks a free one, named in the 'listening' line)\n"
    "  --top N             the number of the top Set level (default 7)\n"
    "  --state FILE        parameters to start with (JSON, see docs/CONSOLE.md;\n"
    "                      a regular file of at most 64 MiB)\n"
    "  --save              write the parameters back to FILE on exit (a FILE\n"
    "                      that does not exist yet is created)\n"
    "  --keepalive S       send the 13-octet keep-alive every S seconds and log\n"
    "                      whether it comes back\n"
    "  --verbose           one line per event on standard error\n"
    "bounds, against clients that misbehave:\n"
    "  --max-clients N     clients at once (default 64); a further one is\n"
    "                      closed at once\n"
    "  --client-queue MIB  octets owed to one client, in MiB (default 16): past\n"
    "                      it the client's input is not read until it reads\n"
    "                      what it is owed; a client owed twice as much is\n"
    "                      dropped\n"
    "  --unfinished MIB    octets of unfinished messages held for all clients\n"
    "                      together, in MiB (default 128); past it the client\n"
    "                      holding the most is dropped\n"
    "faults, for testing partners:\n"
    "  --chunk N           write every message in pieces of N octets\n"
    "  --garbage           1 to 16 random octets (never 0x7F) before each message\n"
    "  --delay MS          wait MS milliseconds before writing each message\n"
    "  --drop-after N      close a connection after N messages from it\n"
    "\n"
    "Standard error gets 'korvane console: listening on ADDR:PORT; ...' once it\n"
    "accepts clients and, with --verbose, 'korvane console: client N: EVENT'\n"
    "for connect, message, answer, announce, error, keep-alive and\n"
    "disconnect. SIGINT or SIGTERM stops it with exit status 0.\n"
    "\n"
    "exit status: 0 stopped by a signal; 2 usage error, or the state file or\n"
    "the address cannot be used\n"
    "\n"
    "examples:\n"
    "  korvane console --verbose &\n"
    "  korvane partner --console-link 127.0.0.1:9000 1,2,3,4,5,100\n"
    "  korvane console --state desk.json --save --keepalive 5\n";

namespace {

struct ConsoleOptions
{
    bool help = false;
    std::string listen = "127.0.0.1:9000";
    // Unset when the option is not given (an empty value is refused).
    std::optional<std::string> topText;
    std::optional<std::string> keepAliveText;
    std::optional<std::string> chunkText;
    std::optional<std::string> delayText;
    std::optional<std::string> dropText;
    std::optional<std::string> maxClientsText;
    std::optional<std::string> clientQueueText;
    std::optional<std::string> unfinishedText;
    ConsoleRunOptions run;
};

// Takes a number option; false with the usage error printed.
bool Take(const std::optional<std::string>& text, uint64_t low, uint64_t high, const char* option,
          uint64_t& value)
{
    if (!text || ParseWholeNumber(*text, low, high, value))
        return true;
    UsageError("console",
               std::string(option) + " needs a number from " + std::to_string(low) + " to " +
                   std::to_string(high),
               kConsoleHelp);
    return false;
}

int RunConsole(ConsoleOptions& options)
{
    if (options.help)
        return PrintHelp(kConsoleHelp);
    ConsoleRunOptions& run = options.run;
    std::string error;
    if (!ParseHostPort(options.listen, run.server.address, run.server.port, error))
        return UsageError("console", "--listen: " + error, kConsoleHelp);
    uint64_t top = 7, keepAlive = 0, chunk = 0, delay = 0, drop = 0;
    uint64_t maxClients = ConsoleServerOptions::kDefaultMaxClients;
    uint64_t clientQueue = ConsoleServerOptions::kDefaultClientQueueLimit >> 20;
    uint64_t unfinished = ConsoleServerOptions::kDefaultUnfinishedLimit >> 20;
    if (!Take(options.topText, 0, 0xFFFFFFFFu, "--top", top) ||
        !Take(options.keepAliveText, 1, 86400, "--keepalive", keepAlive) ||
        !Take(options.chunkText, 1, 1u << 20, "--chunk", chunk) ||
        !Take(options.delayText, 0, 3600 * 1000, "--delay", delay) ||
        !Take(options.dropText, 1, 1u << 30, "--drop-after", drop) ||
        !Take(options.maxClientsText, 1, 100000, "--max-clients", maxClients) ||
        !Take(options.clientQueueText, 1, 4096, "--client-queue", clientQueue) ||
        !Take(options.unfinishedText, 1, 65536, "--unfinished", unfinished))
        return kExitUsage;
    if (run.save && run.stateFile.empty())
        return UsageError("console", "--save needs --state FILE", kConsoleHelp);
    run.top = uint32_t(top);
    run.server.keepAliveSeconds = uint32_t(keepAlive);
    run.server.chunk = size_t(chunk);
    run.server.delayMs = uint32_t(delay);
    run.server.dropAfter = size_t(drop);
    run.server.maxClients = size_t(maxClients);
    run.server.clientQueueLimit = size_t(clientQueue) << 20;
    run.server.unfinishedLimit = size_t(unfinished) << 20;
    CatchStopSignals(nullptr, nullptr);
    const int status = RunConsoleService(run, StopSignalName);
    ReleaseStopSignals();
    return status;
}

} // namespace

CommandRun DefineConsole(CLI::App& command)
{
    auto options = std::make_shared<ConsoleOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_option("--listen", options->listen);
    command.add_option("--top", options->topText);
    command.add_option("--state", options->run.stateFile);
    command.add_flag("--save", options->run.save);
    command.add_option("--keepalive", options->keepAliveText);
    command.add_flag("--verbose", options->run.verbose);
    command.add_option("--chunk", options->chunkText);
    command.add_flag("--garbage", options->run.server.garbage);
    command.add_option("--delay", options->delayText);
    command.add_option("--drop-after", options->dropText);
    command.add_option("--max-clients", options->maxClientsText);
    command.add_option("--client-queue", options->clientQueueText);
    command.add_option("--unfinished", options->unfinishedText);
    return [options] { return RunConsole(*options); };
}
