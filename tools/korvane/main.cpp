// korvane: the command-line face of the Korvane host core.

#include "tools/korvane/commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: korvane <command> [options]\n"
    "\n"
    "Korvane encodes partner command lines into Ember messages for a mixing\n"
    "console and decodes console octets into parameter reports.\n"
    "\n"
    "commands:\n"
    "  encode LINE        the octets the host sends for a command line\n"
    "  decode [FILE]      the reports the host forwards for console octets\n"
    "  dump [FILE]        the XML-like dump of every message in console octets\n"
    "  reencode [FILE]    every message in console octets, encoded again\n"
    "  serve [ARG]        run the service: endpoint Korvane_ARG answers the\n"
    "                     partner's blocks until SIGINT or SIGTERM\n"
    "  partner [LINE...]  talk to a running service as its partner (TEST_RX):\n"
    "                     send command lines and console data, print replies\n"
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

struct Command
{
    const char* name;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"encode", RunEncode}, {"decode", RunDecode}, {"dump", RunDump},
    {"reencode", RunReencode}, {"serve", RunServe}, {"partner", RunPartner},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    for (const Command& command : kCommands)
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(argc - 2, argv + 2);
    std::fprintf(stderr, "korvane: unknown command '%s'\n\n%s", argv[1], kUsage);
    return kExitUsage;
}
