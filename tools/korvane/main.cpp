// korvane: the command-line face of the Korvane host core.

#include "tools/korvane/commands.h"

#include "tools/korvane/tool_platform.h"

#include "korvane_version.h"
#include "tools/korvane/output/suggest.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

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
    {"view", "view [FILE]",
     "the console's parameters live in the browser\n(FILE: a capture, read-only)", kViewHelp,
     DefineView},
};

const char kUsageHead[] = "usage: korvane <command> [options]\n"
                          "       korvane help <command>\n"
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

// "; did you mean 'NAME'?" for the nearest candidate, or nothing.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string near = Suggest(word, candidates);
    return near.empty() ? std::string() : "; did you mean '" + near + "'?";
}

// The long option names an app (or subcommand) takes, with their dashes.
std::vector<std::string> LongOptions(const CLI::App& app)
{
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options())
        for (const std::string& name : option->get_lnames())
            names.push_back("--" + name);
    return names;
}

// The first argument from `first` on that looks like an option the app does
// not have, or empty.
std::string UnknownOption(const CLI::App& app, int argc, char** argv, int first)
{
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--")
            break;
        if (arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9'))
            continue;
        const std::string name = arg.substr(0, arg.find('='));
        if (!app.get_option_no_throw(name))
            return name;
    }
    return std::string();
}

// The reason of a parse error as one line: an unknown option with a
// suggestion, else CLI11's own text.
std::string ParseReason(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv,
                        int first)
{
    const std::string unknown = UnknownOption(app, argc, argv, first);
    if (!unknown.empty())
        return "unknown option '" + unknown + "'" + DidYouMean(unknown, LongOptions(app));
    std::string reason = error.what();
    while (!reason.empty() && reason.back() == '\n')
        reason.pop_back();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    return reason;
}

int ToolUsageError(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", ToolProgramName(), reason.c_str(),
                 ToolProgramName());
    return kExitUsage;
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

int UsageError(const char* command, const std::string& reason, const char* /*help*/)
{
    const std::string label = CommandLabel(command);
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", label.c_str(), reason.c_str(),
                 label.c_str());
    return kExitUsage;
}

int main(int argc, char** argv)
{
    UseBinaryStandardStreams();
    if (argc < 2) {
        std::fputs(Usage().c_str(), stderr);
        return kExitUsage;
    }
    // "korvane help CMD" is "korvane CMD --help".
    std::vector<char*> args(argv, argv + argc);
    char helpFlag[] = "--help";
    if (std::strcmp(argv[1], "help") == 0) {
        if (argc == 2) {
            std::fputs(Usage().c_str(), stdout);
            return kExitOk;
        }
        args = {argv[0], argv[2], helpFlag};
        argc = int(args.size());
        argv = args.data();
    }

    CLI::App app("", ToolProgramName());
    // "/x" is a path, never an option, on Windows too (the subcommands
    // inherit this).
    app.allow_windows_style_options(false);
    app.set_help_flag();
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help);
    app.add_flag("-V,--version", version);
    app.require_subcommand(0, 1);
    CommandRun runs[std::size(kCommands)];
    CLI::App* subcommands[std::size(kCommands)] = {};
    std::vector<std::string> names;
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        subcommands[i] = app.add_subcommand(kCommands[i].name, kCommands[i].summary);
        subcommands[i]->set_help_flag();
        runs[i] = kCommands[i].define(*subcommands[i]);
        names.push_back(kCommands[i].name);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        for (size_t i = 0; i < std::size(kCommands); ++i)
            if (std::strcmp(kCommands[i].name, argv[1]) == 0)
                return UsageError(kCommands[i].name,
                                  ParseReason(*subcommands[i], error, argc, argv, 2),
                                  kCommands[i].help);
        if (argv[1][0] == '-')
            return ToolUsageError(ParseReason(app, error, argc, argv, 1));
        return ToolUsageError(std::string("unknown command '") + argv[1] + "'" +
                              DidYouMean(argv[1], names));
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
