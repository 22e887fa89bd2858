// The subcommands of the korvane tool and what they share.
//
// Each subcommand lives in a file of its own and has a Define function: it
// declares the subcommand's options on the CLI11 app it is given and returns
// the function that runs it once the command line has been parsed. main.cpp
// holds the table of subcommands; adding one is a row there and a file.
// Every run returns the process exit status: 0 success, 1 nothing produced
// (reason on stderr), 2 usage or I/O error (reason on stderr).
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

using CommandRun = std::function<int()>;

struct ToolCommand
{
    const char* name;
    // How it is called and what it does, for the tool's usage text; a
    // summary of several lines has them separated by '\n'.
    const char* synopsis;
    const char* summary;
    // The subcommand's --help text; "korvane" in it stands for the
    // program's name.
    const char* help;
    CommandRun (*define)(CLI::App& command);
};

CommandRun DefineEncode(CLI::App& command);
CommandRun DefineDecode(CLI::App& command);
CommandRun DefineDump(CLI::App& command);
CommandRun DefineReencode(CLI::App& command);
CommandRun DefineServe(CLI::App& command);
CommandRun DefinePartner(CLI::App& command);
CommandRun DefineConsole(CLI::App& command);
CommandRun DefineView(CLI::App& command);

extern const char kEncodeHelp[];
extern const char kDecodeHelp[];
extern const char kDumpHelp[];
extern const char kReencodeHelp[];
extern const char kServeHelp[];
extern const char kPartnerHelp[];
extern const char kConsoleHelp[];
extern const char kViewHelp[];

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 2;

// text with the program's name in place of every word "korvane" (one
// standing alone, before a blank, a colon or a line end).
std::string WithProgramName(const char* text);

// "<program> <command>", the prefix of a subcommand's messages.
std::string CommandLabel(const char* command);

// Prints a subcommand's help text to standard output; kExitOk.
int PrintHelp(const char* help);

// Prints "<program> <command>: reason" and the line "Try '<program>
// <command> --help'." to standard error; kExitUsage. (The help text is not
// repeated: a usage error stays short.)
int UsageError(const char* command, const std::string& reason, const char* help);
