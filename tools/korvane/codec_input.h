// What the codec subcommands share: their options, their input (a file or
// standard input, raw octets or hexadecimal text, read in blocks as it is
// decoded), the number helpers every subcommand uses for option values, and
// standard output with its write errors.
#pragma once

#include "protocol/hex_text.h"

#include <cstdint>
#include <cstdio>
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
    bool allowJson = false;

    bool help = false;
    bool hex = false;
    bool errors = false;
    bool all = false;
    bool plain = false;
    bool json = false;
    // Octets per block: 1 to what the reader takes in one call (32 bits).
    uint64_t chunk = 4096;
    std::string file; // empty or "-": standard input

    // As parsed, before FinishStreamOptions checks them.
    std::vector<std::string> files;
};

constexpr uint64_t kMaxChunk = UINT32_MAX;

// Declares -h/--help, --hex, --chunk N (range checked by CLI11), FILE and the
// allowed flags on the subcommand, bound to options.
void AddStreamOptions(CLI::App& command, StreamOptions& options);

// Checks the parsed values (one FILE at most) and fills file; false with the
// reason on a usage error.
bool FinishStreamOptions(StreamOptions& options, std::string& error);

// A whole decimal number from low to high, digits only (no sign, no blanks).
bool ParseWholeNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value);

// The input the options name, read in blocks of at most kReadSize octets, so
// that memory does not grow with its length; with --hex the text is decoded
// as it is read.
class CodecInput
{
public:
    static constexpr size_t kReadSize = size_t(256) << 10;

    CodecInput() = default;
    ~CodecInput();
    CodecInput(const CodecInput&) = delete;
    CodecInput& operator=(const CodecInput&) = delete;

    // False with the reason when the input cannot be opened.
    bool Open(const StreamOptions& options, std::string& error);

    // The next octets of the input in block (its contents replaced; never
    // empty on true). False at the end, or on an error with the reason in
    // error (empty at a clean end).
    bool Next(std::vector<uint8_t>& block, std::string& error);

    // The size of a regular file, else 0 (not known ahead).
    uint64_t Size() const { return m_size; }
    // Octets of the input read so far (of the text, with --hex).
    uint64_t Consumed() const { return m_consumed; }
    // Octets decoded so far.
    uint64_t Decoded() const { return m_decoded; }
    // True when the first octets read look like hex text given without --hex.
    bool LooksLikeHex() const { return m_looksLikeHex; }
    const std::string& Label() const { return m_label; }

private:
    std::FILE* m_file = nullptr;
    bool m_own = false;
    bool m_hex = false;
    bool m_ended = false;
    bool m_looksLikeHex = false;
    std::string m_label;
    uint64_t m_size = 0;
    uint64_t m_consumed = 0;
    uint64_t m_decoded = 0;
    std::vector<uint8_t> m_text;
    CHexTextReader m_hexReader;
};

// Writes text to standard output, followed by a line feed unless it already
// ends in one.
void PrintLine(const std::string& text);
// Writes octets to standard output.
void WriteOut(const char* data, size_t size);
inline void WriteOut(const std::string& text)
{
    WriteOut(text.data(), text.size());
}
// True while every write to standard output has succeeded (it flushes when
// asked to); else false with the system's reason for the first failure.
bool OutputOk(std::string& reason, bool flush = false);
