// What the codec subcommands share: their options, their input (a file or
// standard input, raw octets or hexadecimal text), the number and hex
// helpers every subcommand uses for option values, and the hex line output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct StreamOptions
{
    // Flags a subcommand accepts besides --hex, --chunk and FILE.
    bool allowErrors = false;
    bool allowAll = false;
    bool allowPlain = false;

    bool help = false;
    bool hex = false;
    bool errors = false;
    bool all = false;
    bool plain = false;
    uint64_t chunk = 4096;
    std::string file; // empty or "-": standard input

    // As parsed, before FinishStreamOptions checks them.
    std::string chunkText;
    bool chunkGiven = false;
    std::vector<std::string> files;
};

// Declares -h/--help, --hex, --chunk N, FILE and the allowed flags on the
// subcommand, bound to options.
void AddStreamOptions(CLI::App& command, StreamOptions& options);

// Checks the parsed values (--chunk, one FILE at most) and fills chunk and
// file; false with the reason on a usage error.
bool FinishStreamOptions(StreamOptions& options, std::string& error);

// A whole decimal number from low to high, digits only (no sign, no blanks).
bool ParseWholeNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value);

// Parses hexadecimal text: digit pairs in either case, white space anywhere
// ignored. False with the reason for any other character or an odd count.
bool ParseHexText(const std::string& text, std::vector<uint8_t>& octets, std::string& error);

// Reads all of a file, or of standard input for "" and "-". False with the
// reason on an I/O error.
bool ReadWholeFile(const std::string& name, std::string& contents, std::string& error);

// Reads the whole input the options name, decoding it with --hex. False with
// the reason on an I/O or hex error.
bool ReadInput(const StreamOptions& options, std::vector<uint8_t>& octets, std::string& error);

// Upper-case hex pairs separated by single blanks.
std::string HexLine(const uint8_t* octets, size_t count);

// Writes text to standard output, followed by a line feed unless it already
// ends in one.
void PrintLine(const std::string& text);
