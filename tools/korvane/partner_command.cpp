// korvane partner: a partner for people and scripts.
//
// Opens the partner's endpoint (TEST_RX), finds the service, sends command
// lines and console data to it and prints every block that comes back.
// Everything runs on one thread: the blocks the service sends while it
// handles ours are printed from inside our own sends.

#include "tools/console_net/console_server.h"
#include "tools/console_net/partner_link.h"
#include "tools/console_net/partner_output.h"
#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"

#include "host/loopback.h"
#include "host/protocol.h"
#include "platform/tool_platform.h"
#include "winapi.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

const char kPartnerHelp[] =
    "usage: korvane partner [options] [LINE...]\n"
    "\n"
    "Talks to a running service ('korvane serve'; on Windows Korvane.exe) as\n"
    "its partner: opens the endpoint (window) TEST_RX, sends each command\n"
    "LINE as a command block and each console file as console data (in the\n"
    "order given), and prints every block the service sends back. Without LINE, --console or --keep-alive, command\n"
    "lines are read from standard input, one per line (empty lines and lines\n"
    "beginning with '#' are skipped).\n"
    "\n"
    "options:\n"
    "  --name NAME     the partner's endpoint (default TEST_RX)\n"
    "  --service ARG   the service Korvane_ARG (a full name Korvane_... is\n"
    "                  taken as it is; default: the one running Korvane_*)\n"
    "  --console FILE  send FILE as console data ('-' for standard input),\n"
    "                  in blocks of at most 4096 octets\n"
    "  --hex           console files are hex text: digit pairs; blanks, line\n"
    "                  ends and '#' comments are ignored\n"
    "  --chunk N       console blocks of at most N octets (1 to 4096)\n"
    "  --keep-alive    send a 13-octet keep-alive block\n"
    "  --wait MS       after the last send, keep answering for MS\n"
    "                  milliseconds (default 300)\n"
    "  --timeout MS    how long a send waits for the service (default 5000)\n"
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
    "                  happened for --wait MS\n"
    "  --retries N     connection attempts in a row that may fail before the\n"
    "                  link gives up (default 10; waits 100 ms, doubling, at\n"
    "                  most 5 s); the same bound for a service that is gone\n"
    "  --json          one JSON object per event instead of the lines below\n"
    "  Link output adds '> console N octets (console)', '> keep-alive\n"
    "  (console)', 'link: ...' and 'service: ...' lines.\n"
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
    "\n"
    "A console block of exactly 13 octets is a keep-alive to the service, so\n"
    "console data is never cut into a 13-octet block unless the whole file\n"
    "has 13 octets.\n"
    "\n"
    "exit status: 0 every block was taken; 2 usage or I/O error, no service\n"
    "or several without --service, or a send that failed or was not answered\n"
    "within --timeout\n"
    "\n"
    "examples:\n"
    "  korvane partner 1,2,3,4,5,100 1,2,3,4,5,-1 1,2,3,0,0,Ch~1\n"
    "  korvane partner --service demo --console data/console_capture.bin\n"
    "  printf '1,2,3,4,5,Main~out\\n' | korvane partner\n"
    "  korvane partner --console-link 127.0.0.1:9000 1,2,3,4,5,100\n"
    "  korvane partner --console-link 127.0.0.1:9000 -     # type command lines\n";

namespace {

constexpr size_t kMaxChunk = 4096;

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

// The last keep-alive sent, to tell an unchanged echo.
std::vector<uint8_t> g_keepAliveSent;

std::string Hex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i)
            text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

void PrintBlock(const COPYDATASTRUCT* block)
{
    if (!block) {
        std::puts("block without data");
        return;
    }
    const uint32_t kind = BlockKind(block->dwData);
    const uint32_t length = BlockLength(block->dwData);
    const auto* octets = static_cast<const uint8_t*>(block->lpData);
    const size_t size = octets ? block->cbData : 0;
    if (kind == BLOCK_ENCODED) {
        std::string line = "encoded " + std::to_string(size) + ": " + Hex(octets, size);
        if (length != (size & 0xFFFFu))
            line += " (length field " + std::to_string(length) + ")";
        std::puts(line.c_str());
    } else if (kind == BLOCK_REPORT) {
        const char* text = reinterpret_cast<const char*>(octets);
        const void* nul = text ? std::memchr(text, '\0', size) : nullptr;
        size_t textLength = nul ? size_t(static_cast<const char*>(nul) - text) : size;
        bool textReport = false;
        if (textLength >= 2 && text[textLength - 2] == ' ' && text[textLength - 1] == '\n') {
            textReport = true;
            textLength -= 2;
        }
        std::string line = "report: " + PrintableReport(text ? text : "", textLength);
        if (textReport)
            line += " (text)";
        std::puts(line.c_str());
    } else if (kind == BLOCK_CONSOLE_DATA && length == KEEP_ALIVE_LENGTH) {
        if (size == g_keepAliveSent.size() && size &&
            std::memcmp(octets, g_keepAliveSent.data(), size) == 0)
            std::puts("keep-alive echoed");
        else
            std::printf("keep-alive echoed, changed: %s\n", Hex(octets, size).c_str());
    } else if (kind == BLOCK_CONSOLE_DATA) {
        std::printf("console %zu: %s\n", size, Hex(octets, size).c_str());
    } else {
        std::printf("block 0x%04X %zu: %s\n", unsigned(kind), size, Hex(octets, size).c_str());
    }
    std::fflush(stdout);
}

LRESULT CALLBACK PartnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        PrintBlock(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Hex text to octets, '#' starting a comment that runs to the line's end;
// false (with the reason) on anything else.
bool ParseHex(const std::string& text, std::vector<uint8_t>& octets, std::string& reason)
{
    std::string digits;
    digits.reserve(text.size());
    bool comment = false;
    for (const char c : text) {
        if (comment || c == '#')
            comment = c != '\n';
        else
            digits += c;
    }
    return ParseHexText(digits, octets, reason);
}

BOOL CollectName(const char* name, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return TRUE;
}

// Sends one block; false (with a message) when the service did not take it.
bool Send(HWND service, HWND self, uintptr_t dwData, const void* data, size_t size, LRESULT& result)
{
    COPYDATASTRUCT block = {};
    block.dwData = dwData;
    block.cbData = DWORD(size);
    block.lpData = const_cast<void*>(data);
    // Bounded: a service that does not answer fails the send. The blocks it
    // sends back meanwhile are handled inside the wait.
    DWORD_PTR answer = 0;
    const bool delivered = SendMessageTimeoutA(service, WM_COPYDATA, reinterpret_cast<WPARAM>(self),
                                               reinterpret_cast<LPARAM>(&block), SMTO_NORMAL,
                                               UINT(GetSendTimeout()), &answer) != 0;
    result = LRESULT(answer);
    if (!delivered) {
        std::fprintf(stderr, "%s: %s did not take the block: %s\n", CommandLabel("partner").c_str(),
                     GetWindowName(service), GetMessageLayerError());
        return false;
    }
    return true;
}

bool SendCommand(HWND service, HWND self, const std::string& line)
{
    if (line.size() + 1 > kMaxCopyDataOctets) {
        std::fprintf(stderr, "%s: command line of %zu characters is too long\n",
                     CommandLabel("partner").c_str(), line.size());
        return false;
    }
    std::printf("> command %s\n", line.c_str());
    std::fflush(stdout);
    LRESULT result = 0;
    if (!Send(service, self, MakeDwData(BLOCK_COMMAND, 0), line.c_str(), line.size() + 1, result))
        return false;
    if (result == 0) {
        std::puts("  no value: the service ignored the line");
        std::fflush(stdout);
    }
    return true;
}

bool SendConsole(HWND service, HWND self, const Action& action, size_t chunk)
{
    const std::vector<uint8_t>& octets = action.octets;
    size_t offset = 0;
    while (offset < octets.size()) {
        // Blocks are cut as the in-process host cuts them, except that a
        // whole input of 13 octets goes as it is: the service echoes it as a
        // keep-alive.
        const size_t size = octets.size() == KEEP_ALIVE_LENGTH
                                ? KEEP_ALIVE_LENGTH
                                : ConsoleBlockLength(octets.size() - offset, chunk);
        std::printf("> console %zu octets (%s at %zu)\n", size, action.text.c_str(), offset);
        std::fflush(stdout);
        if (size == KEEP_ALIVE_LENGTH)
            g_keepAliveSent.assign(octets.begin(), octets.end());
        LRESULT result = 0;
        if (!Send(service, self, MakeDwData(BLOCK_CONSOLE_DATA, uint32_t(size)),
                  octets.data() + offset, size, result))
            return false;
        offset += size;
    }
    return true;
}

bool SendKeepAlive(HWND service, HWND self)
{
    std::puts("> keep-alive");
    std::fflush(stdout);
    g_keepAliveSent.assign(kKeepAliveOctets.begin(), kKeepAliveOctets.end());
    LRESULT result = 0;
    return Send(service, self, MakeDwData(BLOCK_CONSOLE_DATA, KEEP_ALIVE_LENGTH),
                kKeepAliveOctets.data(), KEEP_ALIVE_LENGTH, result);
}

std::string TrimLine(std::string line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

struct PartnerOptions
{
    bool help = false;
    std::string name = kPartnerWindowName;
    std::string serviceName;
    bool hex = false;
    // Given or not, as typed.
    std::optional<std::string> chunkText;
    std::optional<std::string> waitText;
    std::optional<std::string> timeoutText;
    std::vector<std::string> consoleFiles;
    std::vector<std::string> lines;
    // The sends in command-line order, filled from the parse order.
    std::vector<Action> actions;
    // --console-link HOST:PORT and its options.
    std::string consoleLink;
    std::optional<std::string> retriesText;
    bool json = false;
};

// Takes a millisecond or chunk value; false with the message printed.
bool TakeNumber(const std::optional<std::string>& text, uint64_t low, uint64_t high,
                const char* complaint, uint64_t& value)
{
    if (!text || ParseWholeNumber(*text, low, high, value))
        return true;
    std::fprintf(stderr, "%s: %s\n", CommandLabel("partner").c_str(), complaint);
    return false;
}

// --console-link: the link between the service and a console on TCP.
int RunLink(const PartnerOptions& options, int wait, int retries)
{
    PartnerLinkOptions link;
    std::string error;
    if (!ParseHostPort(options.consoleLink, link.link.host, link.link.port, error))
        return UsageError("partner", "--console-link: " + error, kPartnerHelp);
    for (const Action& action : options.actions) {
        if (action.kind != Action::Command)
            return UsageError("partner", "--console and --keep-alive do not go with --console-link",
                              kPartnerHelp);
        if (action.text == "-")
            link.readStdin = true;
        else
            link.commands.push_back(action.text);
    }
    link.link.retries = retries;
    link.name = options.name;
    link.service = options.serviceName;
    link.json = options.json;
    link.waitMs = wait;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return RunPartnerLink(link);
}

int RunPartner(PartnerOptions& options)
{
    if (options.help)
        return PrintHelp(kPartnerHelp);
    const std::string label = CommandLabel("partner");
    uint64_t chunk = kMaxChunk;
    uint64_t wait = 300;
    uint64_t timeout = 0;
    if (!TakeNumber(options.chunkText, 1, kMaxChunk, "--chunk needs a number from 1 to 4096",
                    chunk) ||
        !TakeNumber(options.waitText, 0, 3600 * 1000, "--wait needs milliseconds (0 to 3600000)",
                    wait) ||
        !TakeNumber(options.timeoutText, 1, 3600 * 1000,
                    "--timeout needs milliseconds (1 to 3600000)", timeout))
        return kExitUsage;
    if (!options.consoleLink.empty()) {
        uint64_t retries = 10;
        if (!TakeNumber(options.retriesText, 0, 1000, "--retries needs a number from 0 to 1000",
                        retries))
            return kExitUsage;
        if (timeout > 0)
            SetSendTimeout(int(timeout));
        return RunLink(options, int(wait), int(retries));
    }
    if (options.retriesText || options.json)
        return UsageError("partner", "--retries and --json go with --console-link", kPartnerHelp);
    const std::string& name = options.name;
    const std::string& serviceName = options.serviceName;
    const bool hex = options.hex;
    std::vector<Action>& actions = options.actions;

    // Console files are read before anything is sent.
    for (Action& action : actions) {
        if (action.kind != Action::Console)
            continue;
        std::string raw;
        std::string reason;
        if (!ReadWholeFile(action.text, raw, reason)) {
            std::fprintf(stderr, "%s: cannot read %s\n", label.c_str(), action.text.c_str());
            return kExitUsage;
        }
        if (hex) {
            if (!ParseHex(raw, action.octets, reason)) {
                std::fprintf(stderr, "%s: %s: %s\n", label.c_str(), action.text.c_str(),
                             reason.c_str());
                return kExitUsage;
            }
        } else {
            action.octets.assign(raw.begin(), raw.end());
        }
    }
    if (timeout > 0)
        SetSendTimeout(int(timeout));
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    HWND self = CreateMessageWindow(name.c_str(), PartnerProcedure);
    if (!self) {
        std::fprintf(stderr, "%s: cannot open the endpoint %s: %s\n", label.c_str(), name.c_str(),
                     GetMessageLayerError());
        return kExitUsage;
    }

    HWND service = nullptr;
    if (!serviceName.empty()) {
        // --service ARG names Korvane_ARG; a full name Korvane_... is taken too.
        std::string wanted = kHostWindowPrefix + serviceName;
        service = FindWindowA(nullptr, wanted.c_str());
        if (!service && serviceName.rfind(kHostWindowPrefix, 0) == 0) {
            wanted = serviceName;
            service = FindWindowA(nullptr, wanted.c_str());
        }
        if (!service) {
            std::fprintf(stderr, "%s: no service %s is running\n", label.c_str(), wanted.c_str());
            DestroyWindow(self);
            return kExitUsage;
        }
    } else {
        std::vector<std::string> running;
        EnumWindowNames(kHostWindowPrefix, CollectName, &running);
        if (running.size() != 1) {
            if (running.empty()) {
                if (ServeUnavailableReason())
                    std::fprintf(stderr, "%s: no Korvane service is running (start Korvane.exe)\n",
                                 label.c_str());
                else
                    std::fprintf(stderr,
                                 "%s: no Korvane service is running (start one with '%s serve')\n",
                                 label.c_str(), ToolProgramName());
            } else {
                std::string list;
                for (const std::string& one : running)
                    list += (list.empty() ? "" : ", ") + one;
                std::fprintf(stderr,
                             "%s: several services are running (%s); choose one with --service\n",
                             label.c_str(), list.c_str());
            }
            DestroyWindow(self);
            return kExitUsage;
        }
        service = FindWindowA(nullptr, running.front().c_str());
        if (!service) {
            std::fprintf(stderr, "%s: the service %s went away\n", label.c_str(),
                         running.front().c_str());
            DestroyWindow(self);
            return kExitUsage;
        }
    }

    bool ok = true;
    if (actions.empty()) {
        std::string line;
        while (ok && std::getline(std::cin, line)) {
            line = TrimLine(line);
            if (line.empty() || line[0] == '#')
                continue;
            ok = SendCommand(service, self, line);
        }
    }
    for (const Action& action : actions) {
        if (!ok)
            break;
        switch (action.kind) {
        case Action::Command:
            ok = SendCommand(service, self, action.text);
            break;
        case Action::Console:
            ok = SendConsole(service, self, action, size_t(chunk));
            break;
        case Action::KeepAlive:
            ok = SendKeepAlive(service, self);
            break;
        }
    }
    if (ok && wait > 0)
        RunMessageLoop(int(wait));
    DestroyWindow(self);
    std::fflush(stdout);
    return ok ? kExitOk : kExitUsage;
}

} // namespace

CommandRun DefinePartner(CLI::App& command)
{
    auto options = std::make_shared<PartnerOptions>();
    command.add_flag("-h,--help", options->help);
    command.add_option("--name", options->name);
    command.add_option("--service", options->serviceName);
    CLI::Option* console = command.add_option("--console", options->consoleFiles);
    command.add_flag("--hex", options->hex);
    CLI::Option* keepAlive = command.add_flag("--keep-alive");
    const auto text = [](std::optional<std::string>& value) {
        return [&value](const std::string& given) { value = given; };
    };
    command.add_option_function<std::string>("--chunk", text(options->chunkText));
    command.add_option_function<std::string>("--wait", text(options->waitText));
    command.add_option_function<std::string>("--timeout", text(options->timeoutText));
    CLI::Option* lines = command.add_option("LINE", options->lines);
    command.add_option("--console-link", options->consoleLink);
    command.add_option("--retries", options->retriesText);
    command.add_flag("--json", options->json);
    CLI::App* app = &command;
    return [options, app, console, keepAlive, lines] {
        // Command lines, console files and keep-alives are sent in the order
        // they were given.
        size_t nextConsole = 0;
        size_t nextLine = 0;
        for (const CLI::Option* option : app->parse_order()) {
            if (option == console)
                options->actions.push_back(
                    {Action::Console, options->consoleFiles.at(nextConsole++), {}});
            else if (option == lines)
                options->actions.push_back({Action::Command, options->lines.at(nextLine++), {}});
            else if (option == keepAlive)
                options->actions.push_back({Action::KeepAlive, "", {}});
        }
        return RunPartner(*options);
    };
}
