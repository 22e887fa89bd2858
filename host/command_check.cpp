#include "host/command_check.h"

#include "host/command_parser.h"
#include "protocol/text_chars.h"

#include <cstdint>
#include <cstring>

namespace {

// Walks a line field by field as the parser's "%d" and "%s" do, keeping the
// text of each field as it was typed.
class Fields
{
public:
    Fields(const char* line, size_t length) : m_line(line), m_end(Length(line, length)) {}

    void SkipSpace()
    {
        while (m_at < m_end && IsSpace(m_line[m_at]))
            ++m_at;
    }

    // A "%d" field: its typed text and whether its value fits 32 bits.
    bool Number(std::string& typed, bool& fits)
    {
        SkipSpace();
        size_t at = m_at;
        const bool negative = at < m_end && m_line[at] == '-';
        if (at < m_end && (m_line[at] == '-' || m_line[at] == '+'))
            ++at;
        const size_t digits = at;
        uint64_t magnitude = 0;
        for (; at < m_end && IsDigit(m_line[at]); ++at)
            if (magnitude <= (uint64_t(1) << 32))
                magnitude = magnitude * 10 + uint64_t(m_line[at] - '0');
        if (at == digits)
            return false;
        fits = magnitude <= (negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1);
        typed.assign(m_line + m_at, at - m_at);
        m_at = at;
        return true;
    }

    bool Comma()
    {
        if (m_at < m_end && m_line[m_at] == ',') {
            ++m_at;
            return true;
        }
        return false;
    }

    // A "%s" field: the run of non-blank characters after white space.
    std::string Word()
    {
        SkipSpace();
        const size_t start = m_at;
        while (m_at < m_end && !IsSpace(m_line[m_at]))
            ++m_at;
        return std::string(m_line + start, m_at - start);
    }

    // What follows the fields read, from the current place, without the
    // white space at its end; empty when only white space is left.
    std::string Rest() const
    {
        size_t end = m_end;
        while (end > m_at && IsSpace(m_line[end - 1]))
            --end;
        return std::string(m_line + m_at, end - m_at);
    }

private:
    static size_t Length(const char* line, size_t length)
    {
        const void* nul = length ? std::memchr(line, '\0', length) : nullptr;
        return nul ? size_t(static_cast<const char*>(nul) - line) : length;
    }

    const char* m_line;
    size_t m_end;
    size_t m_at = 0;
};

// The path numbers (and the integer value) as typed, with their findings.
void CheckNumbers(Fields& fields, int count, const CCommandRecord& read,
                  std::vector<CommandFinding>& findings)
{
    for (int i = 0; i < count; ++i) {
        std::string typed;
        bool fits = true;
        if (!fields.Number(typed, fits))
            return;
        const int32_t value = i < 5 ? read.p[i] : read.value;
        if (!fits)
            findings.push_back({CommandFinding::OutOfRange,
                                typed + " is outside the signed 32-bit range: the service reads " +
                                    std::to_string(value)});
        if (i < 5 && value < 0)
            findings.push_back({CommandFinding::NegativePath,
                                "path number " + std::to_string(value) + " is read as tag number " +
                                    std::to_string(uint32_t(value))});
        if (i < 5 && !fields.Comma())
            return;
    }
}

} // namespace

std::vector<CommandFinding> CheckCommandLine(const char* line, size_t length)
{
    std::vector<CommandFinding> findings;
    CCommandRecord record;
    const ParseResult result = ParseCommand(line, length, record, nullptr);

    CCommandRecord integer;
    const bool integerCommand = ScanIntegerCommand(line, length, integer) == 6;
    Fields fields(line, length);
    CheckNumbers(fields, integerCommand ? 6 : 5, integer, findings);

    if (integerCommand) {
        const std::string rest = fields.Rest();
        if (!rest.empty())
            findings.push_back({CommandFinding::IgnoredText,
                                std::string(rest[0] == ',' ? "more than six fields: " : "") +
                                    "the service reads value " + std::to_string(integer.value) +
                                    " and ignores '" + rest + "'"});
        if (integer.value == VALUE_TEXT)
            findings.push_back({CommandFinding::ValueCode, "value " + std::to_string(VALUE_TEXT) +
                                                               " is read as an empty text"});
    } else if (result != ParseResult::None || record.value == VALUE_TEXT) {
        const std::string text = fields.Word();
        const std::string rest = fields.Rest();
        if (result == ParseResult::TextTooLong)
            findings.push_back(
                {CommandFinding::TextTooLong, "the text has " + std::to_string(text.size()) +
                                                  " characters, more than the " +
                                                  std::to_string(CCommandRecord::kTextSize - 1) +
                                                  " that travel: the service sends nothing"});
        if (!rest.empty())
            findings.push_back({CommandFinding::IgnoredText, "the service reads the text '" + text +
                                                                 "' and ignores '" + rest +
                                                                 "' (write a blank as ~)"});
    }

    if (result == ParseResult::None) {
        if (integerCommand && integer.value == VALUE_NONE)
            findings.push_back(
                {CommandFinding::NoValue, "value " + std::to_string(VALUE_NONE) +
                                              " means no value: the service sends nothing"});
        else
            findings.push_back({CommandFinding::NoValue,
                                "no value (five path numbers and an integer, -1 or a text are "
                                "needed): the service sends nothing"});
    }
    return findings;
}

std::vector<CommandFinding> CheckCommandLine(const std::string& line)
{
    return CheckCommandLine(line.c_str(), line.size());
}
