#include "tools/korvane/codec_input.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

bool IsStandardInput(const std::string& name)
{
    return name.empty() || name == "-";
}

std::string LabelOf(const std::string& name)
{
    return IsStandardInput(name) ? std::string("standard input") : name;
}

// The first error of a write to standard output, 0 while there was none.
int g_writeError = 0;

void NoteWrite(bool ok)
{
    if (!ok && g_writeError == 0)
        g_writeError = errno != 0 ? errno : EIO;
}

} // namespace

void AddStreamOptions(CLI::App& command, StreamOptions& options)
{
    command.add_flag("-h,--help", options.help);
    command.add_flag("--hex", options.hex);
    command.add_option("--chunk", options.chunk)
        ->check(CLI::Range(uint64_t(1), kMaxChunk))
        ->type_name("N");
    if (options.allowErrors)
        command.add_flag("--errors", options.errors);
    if (options.allowAll)
        command.add_flag("--all", options.all);
    if (options.allowPlain)
        command.add_flag("--plain", options.plain);
    if (options.allowJson)
        command.add_flag("--json", options.json);
    command.add_option("FILE", options.files);
}

bool FinishStreamOptions(StreamOptions& options, std::string& error)
{
    if (options.files.size() > 1) {
        error = "only one FILE may be given ('" + options.files[0] + "' and '" + options.files[1] +
                "')";
        return false;
    }
    if (!options.files.empty())
        options.file = options.files.front();
    return true;
}

bool ParseWholeNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t& value)
{
    uint64_t parsed = 0;
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9' || parsed > (UINT64_MAX - 9) / 10)
            return false;
        parsed = parsed * 10 + uint64_t(c - '0');
    }
    if (parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

CodecInput::~CodecInput()
{
    if (m_own && m_file)
        std::fclose(m_file);
}

bool CodecInput::Open(const StreamOptions& options, std::string& error)
{
    m_hex = options.hex;
    m_label = LabelOf(options.file);
    errno = 0;
    if (IsStandardInput(options.file)) {
        m_file = stdin;
    } else {
        m_file = std::fopen(options.file.c_str(), "rb");
        if (!m_file) {
            error = "cannot read " + m_label + ": " + std::strerror(errno ? errno : ENOENT);
            return false;
        }
        m_own = true;
        std::error_code code;
        if (std::filesystem::is_regular_file(options.file, code)) {
            const uintmax_t size = std::filesystem::file_size(options.file, code);
            m_size = code ? 0 : uint64_t(size);
        }
    }
    return true;
}

bool CodecInput::Next(std::vector<uint8_t>& block, std::string& error)
{
    error.clear();
    block.clear();
    while (block.empty()) {
        if (m_ended)
            return false;
        std::vector<uint8_t>& into = m_hex ? m_text : block;
        into.resize(kReadSize);
        errno = 0;
        const size_t got = std::fread(into.data(), 1, into.size(), m_file);
        into.resize(got);
        if (got == 0) {
            m_ended = true;
            if (std::ferror(m_file)) {
                error = "cannot read " + m_label + ": " + std::strerror(errno ? errno : EIO);
                return false;
            }
            if (m_hex && !m_hexReader.Finish(error)) {
                error = m_label + ": " + error;
                return false;
            }
            return false;
        }
        if (m_consumed == 0 && !m_hex)
            m_looksLikeHex = LooksLikeHexText(into.data(), std::min<size_t>(got, 4096));
        m_consumed += got;
        if (m_hex &&
            !m_hexReader.Feed(reinterpret_cast<const char*>(m_text.data()), got, block, error)) {
            error = m_label + ": " + error;
            m_ended = true;
            block.clear();
            return false;
        }
    }
    m_decoded += block.size();
    return true;
}

void WriteOut(const char* data, size_t size)
{
    if (size != 0)
        NoteWrite(std::fwrite(data, 1, size, stdout) == size);
}

void PrintLine(const std::string& text)
{
    WriteOut(text);
    if (text.empty() || text.back() != '\n')
        NoteWrite(std::fputc('\n', stdout) != EOF);
}

bool OutputOk(std::string& reason, bool flush)
{
    if (flush)
        NoteWrite(std::fflush(stdout) == 0);
    if (g_writeError == 0 && std::ferror(stdout))
        g_writeError = EIO;
    if (g_writeError == 0)
        return true;
    reason = std::string("cannot write standard output: ") + std::strerror(g_writeError);
    return false;
}
