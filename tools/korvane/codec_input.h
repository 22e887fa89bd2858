// What the codec subcommands share: their options, their input (a file or
// standard input, raw octets or hexadecimal text) and the hex line output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StreamOptions
{
    // Flags a subcommand accepts besides --hex, --chunk and FILE.
    bool allowErrors = false;
    bool allowAll = false;
    bool allowPlain = false;
    bool allowJson = false;

    bool help = false;
    bool hex = false;
    bool errors = false;
    bool all = false;
    bool plain = false;
    bool json = false;
    uint64_t chunk = 4096;
    std::string file; // empty or "-": standard input
};

// Parses the arguments after the subcommand's name. On a usage error the
// reason is in `error` and false is returned.
bool ParseStreamOptions(int argc, char** argv, StreamOptions& options, std::string& error);

// Parses hexadecimal text: digit pairs in either case, white space anywhere
// ignored. False with the reason for any other character or an odd count.
bool ParseHexText(const std::string& text, std::vector<uint8_t>& octets, std::string& error);

// Reads the whole input the options name, decoding it with --hex. False with
// the reason on an I/O or hex error.
bool ReadInput(const StreamOptions& options, std::vector<uint8_t>& octets, std::string& error);

// Upper-case hex pairs separated by single blanks.
std::string HexLine(const uint8_t* octets, size_t count);

// Writes text to standard output, followed by a line feed unless it already
// ends in one.
void PrintLine(const std::string& text);
