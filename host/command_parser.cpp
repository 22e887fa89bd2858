#include "host/command_parser.h"

#include "protocol/text_chars.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// A cursor over a bounded text that follows scanf's conversions. The text
// ends at its first NUL or after `length` characters, whichever comes
// first. The NUL is not looked for ahead: no step reads on over a NUL (it
// is no digit, sign, blank, comma or word character), and every step that
// stops tells a NUL from any other character, so a NUL ends the text as its
// end does.
class Scanner
{
public:
    Scanner(const char* text, size_t length) : m_p(text), m_end(text + length) {}

    void SkipSpace()
    {
        while (m_p != m_end && IsSpace(*m_p))
            ++m_p;
    }

    enum Outcome
    {
        Ok,
        InputFailure,    // the text ended first
        MatchingFailure, // a character that does not fit
    };

    // "%d": white space, an optional sign, at least one digit. Values out of
    // range wrap as the 32-bit conversion of the C runtime does.
    Outcome Integer(int32_t& value)
    {
        const char* p = m_p;
        const char* const end = m_end;
        // Most fields are bare digits: no blank or sign to look for.
        if (p != end && DigitValue(*p) <= 9) {
            uint32_t number = DigitValue(*p++);
            for (uint32_t digit; p != end && (digit = DigitValue(*p)) <= 9; ++p)
                number = number * 10u + digit;
            m_p = p;
            value = int32_t(number);
            return Ok;
        }
        while (p != end && IsSpace(*p))
            ++p;
        if (p == end || *p == '\0') {
            m_p = p;
            return InputFailure;
        }
        const char* const start = p;
        const bool negative = *p == '-';
        if (negative || *p == '+')
            ++p;
        const char* const digits = p;
        uint32_t number = 0;
        while (p != end && IsDigit(*p)) {
            number = number * 10u + uint32_t(*p - '0');
            ++p;
        }
        if (p == digits) {
            // The text had something for this field (a sign): scanf calls
            // that a matching failure even when the text ends right after.
            m_p = start;
            return MatchingFailure;
        }
        m_p = p;
        value = int32_t(negative ? 0u - number : number);
        return Ok;
    }

    // An ordinary character of the format.
    Outcome Literal(char c)
    {
        if (m_p == m_end || *m_p == '\0')
            return InputFailure;
        if (*m_p != c)
            return MatchingFailure;
        ++m_p;
        return Ok;
    }

    // "%s": white space, then a run of non-blank characters.
    Outcome Word(const char*& start, size_t& length)
    {
        SkipSpace();
        if (m_p == m_end || *m_p == '\0')
            return InputFailure;
        start = m_p;
        while (m_p != m_end && *m_p != '\0' && !IsSpace(*m_p))
            ++m_p;
        length = size_t(m_p - start);
        return Ok;
    }

private:
    // The digit's value; above 9 for any other character.
    static uint32_t DigitValue(char c) { return uint32_t(uint8_t(c)) - uint32_t('0'); }

    const char* m_p;
    const char* m_end;
};

// Scans the five path numbers and their commas; returns the scanf count so
// far, or -1 for an input failure before the first conversion. Inlined, so
// that the cursor of each caller stays in registers.
[[gnu::always_inline]] inline int ScanPath(Scanner& scan, CCommandRecord& record, bool& stopped)
{
    stopped = false;
    for (int i = 0; i < 5; ++i) {
        const Scanner::Outcome number = scan.Integer(record.p[i]);
        if (number != Scanner::Ok) {
            stopped = true;
            return (i == 0 && number == Scanner::InputFailure) ? -1 : i;
        }
        if (scan.Literal(',') != Scanner::Ok) {
            stopped = true;
            return i + 1;
        }
    }
    return 5;
}

// Formats one trace line and hands it to trace; out of the parse's own
// code, which only the Debug switch sends here. (No printf format check:
// MinGW checks against the Windows runtime's dialect, which lacks the "%zu"
// its C99 formatting gives.)
[[gnu::noinline]] void Trace(const TraceSink& trace, const char* format, ...)
{
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    trace(line);
}

} // namespace

int ScanIntegerCommand(const char* text, size_t length, CCommandRecord& record)
{
    Scanner scan(text, length);
    bool stopped = false;
    const int count = ScanPath(scan, record, stopped);
    if (stopped)
        return count;
    return scan.Integer(record.value) == Scanner::Ok ? 6 : 5;
}

int ScanTextCommand(const char* text, size_t length, CCommandRecord& record, size_t& textLength)
{
    textLength = 0;
    Scanner scan(text, length);
    bool stopped = false;
    const int count = ScanPath(scan, record, stopped);
    if (stopped)
        return count;
    const char* word = nullptr;
    size_t wordLength = 0;
    if (scan.Word(word, wordLength) != Scanner::Ok)
        return 5;
    textLength = wordLength;
    if (wordLength >= CCommandRecord::kTextSize)
        return 6;
    std::memcpy(record.text, word, wordLength);
    record.text[wordLength] = '\0';
    return 6;
}

ParseResult ParseCommand(const char* text, size_t length, CCommandRecord& record,
                         const TraceSink& trace)
{
    // A fresh record (written field by field: assigning a temporary costs a
    // copy of it).
    std::memset(record.p, 0, sizeof record.p);
    record.value = VALUE_NONE;
    std::memset(record.text, 0, sizeof record.text);

    // Both formats begin with the same five numbers and commas: they are
    // scanned once, and each format's count follows from where that scan
    // stopped.
    Scanner scan(text, length);
    bool stopped = false;
    const int path = ScanPath(scan, record, stopped);
    const int first = stopped ? path : scan.Integer(record.value) == Scanner::Ok ? 6 : 5;
    if (trace)
        Trace(trace, "sscanf iError=%d  \n", first);
    if (first == 6)
        return record.value == VALUE_NONE ? ParseResult::None : ParseResult::Value;

    // "%s" after the fifth comma; a failed "%d" there read nothing but
    // white space, which "%s" skips as well.
    int second = path;
    size_t textLength = 0;
    const char* word = nullptr;
    if (!stopped && scan.Word(word, textLength) == Scanner::Ok) {
        second = 6;
        if (textLength < CCommandRecord::kTextSize) {
            std::memcpy(record.text, word, textLength);
            record.text[textLength] = '\0';
        }
    }
    if (textLength >= CCommandRecord::kTextSize) {
        if (trace)
            Trace(trace, "command text of %zu characters refused: the field holds %u \n",
                  textLength, CCommandRecord::kTextSize - 1);
        record.value = VALUE_NONE;
        return ParseResult::TextTooLong;
    }
    if (trace)
        Trace(trace, "sscanf iError=%d text=%s \n", second, record.text);
    for (char* c = record.text; *c; ++c)
        if (*c == '~')
            *c = ' ';
    if (std::strcmp(record.text, "-") == 0)
        record.text[0] = '\0';
    if (trace)
        Trace(trace, "sscanf iError=%d text=%s \n", second, record.text);
    if (second == 6) {
        record.value = VALUE_TEXT;
        return ParseResult::Value;
    }
    record.value = VALUE_NONE;
    return ParseResult::None;
}
