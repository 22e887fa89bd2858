#include "tests/support/tree_command_path.h"

#include "ember/tree/root.h"
#include "host/command_tree.h"
#include "host/host_trace.h"
#include "protocol/text_chars.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <utility>

namespace testing_support {

namespace {

// The scanf cursor of that time (see host/command_parser.cpp).
class Scanner
{
public:
    Scanner(const char* text, size_t length) : m_p(text), m_end(text + Length(text, length)) {}

    void SkipSpace()
    {
        while (m_p != m_end && IsSpace(*m_p))
            ++m_p;
    }

    enum Outcome
    {
        Ok,
        InputFailure,
        MatchingFailure,
    };

    Outcome Integer(int32_t& value)
    {
        const char* p = m_p;
        while (p != m_end && IsSpace(*p))
            ++p;
        if (p == m_end) {
            m_p = p;
            return InputFailure;
        }
        const char* const start = p;
        const bool negative = *p == '-';
        if (negative || *p == '+')
            ++p;
        const char* const digits = p;
        uint32_t number = 0;
        while (p != m_end && IsDigit(*p)) {
            number = number * 10u + uint32_t(*p - '0');
            ++p;
        }
        if (p == digits) {
            m_p = start;
            return MatchingFailure;
        }
        m_p = p;
        value = int32_t(negative ? 0u - number : number);
        return Ok;
    }

    Outcome Literal(char c)
    {
        if (m_p == m_end)
            return InputFailure;
        if (*m_p != c)
            return MatchingFailure;
        ++m_p;
        return Ok;
    }

    Outcome Word(const char*& start, size_t& length)
    {
        SkipSpace();
        if (m_p == m_end)
            return InputFailure;
        start = m_p;
        while (m_p != m_end && !IsSpace(*m_p))
            ++m_p;
        length = size_t(m_p - start);
        return Ok;
    }

private:
    static size_t Length(const char* text, size_t length)
    {
        if (length == 0)
            return 0;
        const void* nul = std::memchr(text, '\0', length);
        return nul ? size_t(static_cast<const char*>(nul) - text) : length;
    }

    const char* m_p;
    const char* m_end;
};

int ScanPath(Scanner& scan, CCommandRecord& record, bool& stopped)
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

int ScanInteger(const char* text, size_t length, CCommandRecord& record)
{
    Scanner scan(text, length);
    bool stopped = false;
    const int count = ScanPath(scan, record, stopped);
    if (stopped)
        return count;
    return scan.Integer(record.value) == Scanner::Ok ? 6 : 5;
}

int ScanText(const char* text, size_t length, CCommandRecord& record, size_t& textLength)
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

enum class ValueKind
{
    Integer,
    Text,
    Poll,
    Other,
};

struct ShapeRow
{
    int levels;
    ValueKind value;
    const char* trace;
};

constexpr ShapeRow kShapes[] = {
    {5, ValueKind::Integer, nullptr},
    {5, ValueKind::Text, nullptr},
    {5, ValueKind::Poll, nullptr},
    {3, ValueKind::Poll, "NOT Full House create PART-3 container To POLL \n"},
    {3, ValueKind::Text, "NOT Full House create PART-3 container To Send TEXT \n"},
    {4, ValueKind::Poll, "NOT Full House create PART-4 container To POLL \n"},
    {4, ValueKind::Text, "NOT Full House create PART container To Send TXT \n"},
    {4, ValueKind::Integer, "NOT Full House create PART container To Send INT \n"},
};

const ShapeRow* RowFor(const CCommandRecord& record)
{
    const int32_t* p = record.p;
    int levels = 0;
    if (p[0] && p[1] && p[2] && p[3] && p[4])
        levels = 5;
    else if (p[0] && p[1] && p[2] && p[3] && !p[4])
        levels = 4;
    else if (p[0] && p[1] && p[2] && !p[3] && !p[4])
        levels = 3;
    ValueKind value = ValueKind::Other;
    if (record.value >= 0)
        value = ValueKind::Integer;
    else if (record.value == VALUE_TEXT)
        value = ValueKind::Text;
    else if (record.value == VALUE_POLL)
        value = ValueKind::Poll;
    for (const ShapeRow& row : kShapes)
        if (row.levels == levels && row.value == value)
            return &row;
    return nullptr;
}

size_t TextLength(const char* text, size_t length)
{
    if (!text)
        return 0;
    const void* nul = std::memchr(text, '\0', length);
    return nul ? size_t(static_cast<const char*>(nul) - text) : length;
}

std::string Hex(const std::vector<uint8_t>& octets)
{
    std::string text;
    char pair[4];
    for (uint8_t octet : octets) {
        std::snprintf(pair, sizeof pair, "%02X ", octet);
        text += pair;
    }
    return text;
}

} // namespace

ParseResult TreeParseCommand(const char* text, size_t length, CCommandRecord& record,
                             const TraceSink& trace)
{
    char line[160];
    record = CCommandRecord();
    record.value = VALUE_NONE;

    const int first = ScanInteger(text, length, record);
    if (trace) {
        std::snprintf(line, sizeof line, "sscanf iError=%d  \n", first);
        trace(line);
    }
    if (first == 6)
        return record.value == VALUE_NONE ? ParseResult::None : ParseResult::Value;

    size_t textLength = 0;
    const int second = ScanText(text, length, record, textLength);
    if (textLength >= CCommandRecord::kTextSize) {
        if (trace) {
            std::snprintf(line, sizeof line,
                          "command text of %zu characters refused: the field holds %u \n",
                          textLength, CCommandRecord::kTextSize - 1);
            trace(line);
        }
        record.value = VALUE_NONE;
        return ParseResult::TextTooLong;
    }
    if (trace) {
        std::snprintf(line, sizeof line, "sscanf iError=%d text=%s \n", second, record.text);
        trace(line);
    }
    for (char* c = record.text; *c; ++c)
        if (*c == '~')
            *c = ' ';
    if (std::strcmp(record.text, "-") == 0)
        record.text[0] = '\0';
    if (trace) {
        std::snprintf(line, sizeof line, "sscanf iError=%d text=%s \n", second, record.text);
        trace(line);
    }
    if (second == 6) {
        record.value = VALUE_TEXT;
        return ParseResult::Value;
    }
    record.value = VALUE_NONE;
    return ParseResult::None;
}

bool TreeCommandShape(const CCommandRecord& record, const char*& trace)
{
    const ShapeRow* row = RowFor(record);
    trace = row ? row->trace : nullptr;
    return row != nullptr;
}

bool TreeEncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out)
{
    const ShapeRow* row = RowFor(record);
    if (!row)
        return false;
    const int32_t* p = record.p;
    const bool poll = row->value == ValueKind::Poll;
    const int pathCount = row->levels - 1;

    std::unique_ptr<CEmber_Container> parameter;
    if (!poll) {
        parameter = std::make_unique<CParameterContainer>(uint32_t(p[pathCount]));
        if (record.value == VALUE_TEXT)
            parameter->AddStringChild(kLeafClass, TAG_VALUE, record.text);
        else
            parameter->AddIntegerChild(kLeafClass, TAG_VALUE, record.value);
    }

    auto top = std::make_unique<CPathContainer>(uint32_t(p[0]));
    CEmber_Container* last = top.get();
    for (int i = 1; i < pathCount; ++i) {
        auto level = std::make_unique<CPathContainer>(uint32_t(p[i]));
        CEmber_Container* raw = level.get();
        last->AddChild(level.release(), true);
        last = raw;
    }
    if (parameter)
        last->AddChild(parameter.release(), true);
    if (poll)
        last->AddIntegerChild(kLeafClass, TAG_POLL, kPollLeafValue);

    CEmber_Root root;
    root.Encode(out);
    root.AddChild(top.release(), true);
    root.Encode(out);
    return true;
}

CommandOutcome TreeCommandOutcome(const char* text, size_t length, bool debug)
{
    CommandOutcome outcome;
    TraceSink trace;
    if (debug)
        trace = [&outcome](const char* line) { outcome.traces.emplace_back(line); };
    CCommandRecord record;
    if (TreeParseCommand(text, TextLength(text, length), record, trace) != ParseResult::Value)
        return outcome;
    outcome.result = 1;
    const char* shapeTrace = nullptr;
    if (!TreeCommandShape(record, shapeTrace))
        return outcome;
    if (debug && shapeTrace)
        outcome.traces.emplace_back(shapeTrace);
    CEmber_OutputBuffer buffer;
    TreeEncodeCommand(record, buffer);
    CommandOutcome::Block block;
    block.dwData = MakeDwData(BLOCK_ENCODED, buffer.Used());
    block.cbData = buffer.Used();
    block.octets.assign(buffer.Data(), buffer.Data() + buffer.Used());
    outcome.blocks.push_back(std::move(block));
    return outcome;
}

CommandOutcome HostCommandOutcome(CLoopback& loopback, const char* text, size_t length, bool debug)
{
    CommandOutcome outcome;
    if ((loopback.State().debugFlag == 1) != debug)
        HostToggleDebug(loopback.State());
    loopback.Partner().onBlock = [&outcome](HWND, const COPYDATASTRUCT& received) {
        CommandOutcome::Block block;
        block.dwData = received.dwData;
        block.cbData = received.cbData;
        if (received.lpData && received.cbData) {
            const auto* octets = static_cast<const uint8_t*>(received.lpData);
            block.octets.assign(octets, octets + received.cbData);
        }
        outcome.blocks.push_back(std::move(block));
    };
    HostTraceSink previous =
        SetHostTraceSink([&outcome](const char* line) { outcome.traces.emplace_back(line); });
    outcome.result = loopback.Send(MakeDwData(BLOCK_COMMAND, 0), text, uint32_t(length));
    SetHostTraceSink(std::move(previous));
    loopback.Partner().onBlock = nullptr;
    return outcome;
}

std::string DescribeDifference(const CommandOutcome& expected, const CommandOutcome& actual)
{
    if (expected == actual)
        return std::string();
    std::ostringstream text;
    text << "result " << expected.result << " / " << actual.result << "; traces";
    for (const std::string& line : expected.traces)
        text << " [" << line << "]";
    text << " /";
    for (const std::string& line : actual.traces)
        text << " [" << line << "]";
    text << "; blocks";
    for (const auto& block : expected.blocks)
        text << " {" << std::hex << block.dwData << std::dec << " " << block.cbData << " "
             << Hex(block.octets) << "}";
    text << " /";
    for (const auto& block : actual.blocks)
        text << " {" << std::hex << block.dwData << std::dec << " " << block.cbData << " "
             << Hex(block.octets) << "}";
    return text.str();
}

} // namespace testing_support
