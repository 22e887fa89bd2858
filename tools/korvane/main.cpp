// korvane: the command-line face of the Korvane host core.

#include "tools/korvane/commands.h"

#include "platform/tool_platform.h"

#include "korvane_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

// The subcommands, in the order the usage text lists them.
const ToolCommand kCommands[] = {
    {"encode", "encode LINE", "the octets the host sends for a command line", kEncodeHelp,
     DefineEncode},
    {"decode", "decode [FILE]", "the reports the host forwards for console octets", kDecodeHelp,
     DefineDecode},
    {"dump", "dump [FILE]", "the XML-like dump of every message in console octets", kDumpHelp,
     DefineDump},
    {"reencode", "reencode [FILE]", "every message in console octets, encoded again", kReencodeHelp,
     DefineReencode},
    {"serve", "serve [ARG]",
     "run the service: endpoint Korvane_ARG answers the\npartner's blocks until SIGINT or SIGTERM",
     kServeHelp, DefineServe},
    {"partner", "partner [LINE...]",
     "talk to a running service as its partner (TEST_RX):\nsend command lines and console data, "
     "print replies",
     kPartnerHelp, DefinePartner},
    {"console", "console [options]",
     "a simulated console on TCP (127.0.0.1:9000) for\n'partner --console-link'", kConsoleHelp,
     DefineConsole},
};

const char kUsageHead[] = "usage: korvane <command> [options]\n"
                          "       korvane --version\n"
                          "\n"
                          "Korvane encodes partner command lines into Ember messages for a mixing\n"
                          "console and decodes console octets into parameter reports.\n"
                          "\n"
                          "commands:\n";

const char kUsageTail[] =
    "\n"
    "Run 'korvane <command> --help' for the options of a command.\n"
    "\n"
    "examples:\n"
    "  korvane encode 1,2,3,4,5,100\n"
    "  korvane decode --errors console.bin\n"
    "  echo '7F8FFFFED95C803080 A1 03 02 01 05 00000000' | korvane dump --hex\n"
    "  korvane serve demo &                  # service Korvane_demo\n"
    "  korvane partner 1,2,3,4,5,100 --console data/console_capture.bin\n"
    "\n"
    "exit status: 0 success, 1 nothing produced, 2 usage or I/O error\n";

std::string Usage()
{
    std::string text = WithProgramName(kUsageHead);
    for (const ToolCommand& command : kCommands) {
        char synopsis[32];
        std::snprintf(synopsis, sizeof synopsis, "  %-18s ", command.synopsis);
        text += synopsis;
        for (const char* c = command.summary; *c; ++c) {
            text += *c;
            if (*c == '\n')
                text += std::string(21, ' ');
        }
        text += '\n';
    }
    return text + WithProgramName(kUsageTail);
}

const ToolCommand* FindCommand(const char* name)
{
    for (const ToolCommand& command : kCommands)
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

} // namespace

std::string WithProgramName(const char* text)
{
    static const char kWord[] = "korvane";
    const size_t wordLength = sizeof kWord - 1;
    std::string out;
    const size_t length = std::strlen(text);
    for (size_t i = 0; i < length;) {
        const bool startsWord =
            i == 0 || text[i - 1] == ' ' || text[i - 1] == '\n' || text[i - 1] == '\'';
        const char after = i + wordLength < length ? text[i + wordLength] : '\0';
        if (startsWord && std::strncmp(text + i, kWord, wordLength) == 0 &&
            (after == ' ' || after == ':' || after == '\n' || after == '\0')) {
            out += ToolProgramName();
            i += wordLength;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string CommandLabel(const char* command)
{
    return std::string(ToolProgramName()) + " " + command;
}

int PrintHelp(const char* help)
{
    std::fputs(WithProgramName(help).c_str(), stdout);
    return kExitOk;
}

int UsageError(const char* command, const std::string& reason, const char* help)
{
    std::fprintf(stderr, "%s: %s\n\n%s", CommandLabel(command).c_str(), reason.c_str(),
                 WithProgramName(help).c_str());
    return kExitUsage;
}

int main(int argc, char** argv)
{
    UseBinaryStandardStreams();
    if (argc < 2) {
        std::fputs(Usage().c_str(), stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "help") == 0) {
        std::fputs(Usage().c_str(), stdout);
        return kExitOk;
    }

    CLI::App app("", ToolProgramName());
    app.set_help_flag();
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.require_subcommand(0, 1);
    CommandRun runs[std::size(kCommands)];
    CLI::App* subcommands[std::size(kCommands)] = {};
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        subcommands[i] = app.add_subcommand(kCommands[i].name, kCommands[i].summary);
        subcommands[i]->set_help_flag();
        runs[i] = kCommands[i].define(*subcommands[i]);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (const ToolCommand* command = FindCommand(argv[1]))
            return UsageError(command->name, error.what(), command->help);
        if (argv[1][0] == '-')
            std::fprintf(stderr, "%s: %s\n\n%s", ToolProgramName(), error.what(), Usage().c_str());
        else
            std::fprintf(stderr, "%s: unknown command '%s'\n\n%s", ToolProgramName(), argv[1],
                         Usage().c_str());
        return kExitUsage;
    }

    for (size_t i = 0; i < std::size(kCommands); ++i)
        if (subcommands[i]->parsed())
            return runs[i]();
    if (version) {
        std::printf("%s %s\n", ToolProgramName(), KORVANE_VERSION);
        return kExitOk;
    }
    if (help) {
        std::fputs(Usage().c_str(), stdout);
        return kExitOk;
    }
    std::fputs(Usage().c_str(), stderr);
    return kExitUsage;
}
