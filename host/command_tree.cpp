#include "host/command_tree.h"

#include "ember/tree/root.h"

#include <memory>

namespace {

// What kind of value a record carries.
enum class ValueKind
{
    Integer,
    Text,
    Poll,
    Other,
};

// One row per shape: the path numbers given (the last one names the
// parameter container, or is left out for a poll), whether the value is a
// poll and the trace line written before the tree is built.
struct ShapeRow
{
    ECommandShape shape;
    int levels;
    ValueKind value;
    const char* trace;
};

constexpr ShapeRow kShapes[] = {
    {eShape_FiveLevelInteger, 5, ValueKind::Integer, nullptr},
    {eShape_FiveLevelText, 5, ValueKind::Text, nullptr},
    {eShape_FiveLevelPoll, 5, ValueKind::Poll, nullptr},
    {eShape_ThreeLevelPoll, 3, ValueKind::Poll,
     "NOT Full House create PART-3 container To POLL \n"},
    {eShape_ThreeLevelText, 3, ValueKind::Text,
     "NOT Full House create PART-3 container To Send TEXT \n"},
    {eShape_FourLevelPoll, 4, ValueKind::Poll, "NOT Full House create PART-4 container To POLL \n"},
    {eShape_FourLevelText, 4, ValueKind::Text,
     "NOT Full House create PART container To Send TXT \n"},
    {eShape_FourLevelInteger, 4, ValueKind::Integer,
     "NOT Full House create PART container To Send INT \n"},
};

// 3, 4 or 5 when exactly the first that many path numbers are set, else 0.
int Levels(const int32_t* p)
{
    if (p[0] && p[1] && p[2] && p[3] && p[4])
        return 5;
    if (p[0] && p[1] && p[2] && p[3] && !p[4])
        return 4;
    if (p[0] && p[1] && p[2] && !p[3] && !p[4])
        return 3;
    return 0;
}

ValueKind KindOf(int32_t value)
{
    if (value >= 0)
        return ValueKind::Integer;
    if (value == VALUE_TEXT)
        return ValueKind::Text;
    if (value == VALUE_POLL)
        return ValueKind::Poll;
    return ValueKind::Other;
}

const ShapeRow* RowFor(const CCommandRecord& record)
{
    const int levels = Levels(record.p);
    const ValueKind value = KindOf(record.value);
    for (const ShapeRow& row : kShapes)
        if (row.levels == levels && row.value == value)
            return &row;
    return nullptr;
}

} // namespace

ECommandShape CommandShape(const CCommandRecord& record)
{
    const ShapeRow* row = RowFor(record);
    return row ? row->shape : eShape_None;
}

const char* CommandShapeTrace(int shape)
{
    for (const ShapeRow& row : kShapes)
        if (row.shape == shape)
            return row.trace;
    return nullptr;
}

namespace {

// Path containers for the given numbers, linked top-down, with `below`
// added to the last one; the first one is returned (owned), the last one
// through `last`.
std::unique_ptr<CPathContainer> LinkPath(const int32_t* numbers, int count, CEmber_Container*& last,
                                         std::unique_ptr<CEmber_Container> below)
{
    auto top = std::make_unique<CPathContainer>(uint32_t(numbers[0]));
    last = top.get();
    for (int i = 1; i < count; ++i) {
        auto level = std::make_unique<CPathContainer>(uint32_t(numbers[i]));
        CEmber_Container* raw = level.get();
        last->AddChild(level.get(), true);
        (void)level.release();
        last = raw;
    }
    if (below) {
        last->AddChild(below.get(), true);
        (void)below.release();
    }
    return top;
}

} // namespace

bool EncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out)
{
    const ShapeRow* row = RowFor(record);
    if (!row)
        return false;

    const int32_t* p = record.p;
    const bool poll = row->value == ValueKind::Poll;
    // Path containers above the parameter (or above the poll leaf).
    const int pathCount = row->levels - 1;

    std::unique_ptr<CEmber_Container> parameter;
    if (!poll) {
        parameter = std::make_unique<CParameterContainer>(uint32_t(p[pathCount]));
        if (record.value == VALUE_TEXT)
            parameter->AddStringChild(kLeafClass, TAG_VALUE, record.text);
        else
            parameter->AddIntegerChild(kLeafClass, TAG_VALUE, record.value);
    }

    CEmber_Container* last = nullptr;
    std::unique_ptr<CPathContainer> top = LinkPath(p, pathCount, last, std::move(parameter));
    if (poll)
        last->AddIntegerChild(kLeafClass, TAG_POLL, kPollLeafValue);

    CEmber_Root root;
    // Every block begins with the still-empty root.
    root.Encode(out);
    root.AddChild(top.get(), true);
    (void)top.release();
    root.Encode(out);
    return true;
}

void HostOnCommand(CHostState& state, const CCommandRecord& record)
{
    const ShapeRow* row = RowFor(record);
    if (!row)
        return;
    if (row->trace)
        HostTrace(state, "%s", row->trace);

    CEmber_OutputBuffer buffer;
    EncodeCommand(record, buffer);

    state.outgoing.cbData = buffer.Used();
    state.outgoing.dwData = MakeDwData(BLOCK_ENCODED, buffer.Used());
    state.outgoing.lpData = const_cast<uint8_t*>(buffer.Data());
    HostSendBlock(state, &state.outgoing);
}
