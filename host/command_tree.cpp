#include "host/command_tree.h"

#include "ember/tree/root.h"
#include "host/command_block.h"

#include <array>
#include <iterator>
#include <memory>

namespace {

constexpr CommandShapeRow kShapes[] = {
    {eShape_FiveLevelInteger, 5, ECommandLeaf::Integer, nullptr},
    {eShape_FiveLevelText, 5, ECommandLeaf::Text, nullptr},
    {eShape_FiveLevelPoll, 5, ECommandLeaf::Poll, nullptr},
    {eShape_ThreeLevelPoll, 3, ECommandLeaf::Poll,
     "NOT Full House create PART-3 container To POLL \n"},
    {eShape_ThreeLevelText, 3, ECommandLeaf::Text,
     "NOT Full House create PART-3 container To Send TEXT \n"},
    {eShape_FourLevelPoll, 4, ECommandLeaf::Poll,
     "NOT Full House create PART-4 container To POLL \n"},
    {eShape_FourLevelText, 4, ECommandLeaf::Text,
     "NOT Full House create PART container To Send TXT \n"},
    {eShape_FourLevelInteger, 4, ECommandLeaf::Integer,
     "NOT Full House create PART container To Send INT \n"},
};

// kShapes' index by levels - 3 and leaf; -1 where no shape is.
constexpr auto kShapeAt = [] {
    std::array<std::array<int8_t, 3>, 3> at{};
    for (auto& levels : at)
        levels.fill(-1);
    for (size_t i = 0; i < std::size(kShapes); ++i)
        at[size_t(kShapes[i].levels - 3)][size_t(kShapes[i].leaf)] = int8_t(i);
    return at;
}();

// 3, 4 or 5 when exactly the first that many path numbers are set, else 0.
int Levels(const int32_t* p)
{
    if (!p[0] || !p[1] || !p[2])
        return 0;
    if (p[3])
        return p[4] ? 5 : 4;
    return p[4] ? 0 : 3;
}

} // namespace

const CommandShapeRow* CommandShapeRowFor(const CCommandRecord& record)
{
    const int levels = Levels(record.p);
    if (levels == 0)
        return nullptr;
    ECommandLeaf leaf;
    if (record.value >= 0)
        leaf = ECommandLeaf::Integer;
    else if (record.value == VALUE_TEXT)
        leaf = ECommandLeaf::Text;
    else if (record.value == VALUE_POLL)
        leaf = ECommandLeaf::Poll;
    else
        return nullptr;
    const int8_t at = kShapeAt[size_t(levels - 3)][size_t(leaf)];
    return at < 0 ? nullptr : &kShapes[at];
}

ECommandShape CommandShape(const CCommandRecord& record)
{
    const CommandShapeRow* row = CommandShapeRowFor(record);
    return row ? row->shape : eShape_None;
}

const char* CommandShapeTrace(int shape)
{
    for (const CommandShapeRow& row : kShapes)
        if (row.shape == shape)
            return row.trace;
    return nullptr;
}

bool EncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out)
{
    const CommandShapeRow* row = CommandShapeRowFor(record);
    if (!row)
        return false;
    uint8_t block[kMaxCommandBlock];
    out.Write(block, WriteCommandBlock(record, *row, block));
    return true;
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

bool EncodeCommandTree(const CCommandRecord& record, CEmber_OutputBuffer& out)
{
    const CommandShapeRow* row = CommandShapeRowFor(record);
    if (!row)
        return false;

    const int32_t* p = record.p;
    const bool poll = row->leaf == ECommandLeaf::Poll;
    // Path containers above the parameter (or above the poll leaf).
    const int pathCount = row->levels - 1;

    std::unique_ptr<CEmber_Container> parameter;
    if (!poll) {
        parameter = std::make_unique<CParameterContainer>(uint32_t(p[pathCount]));
        if (row->leaf == ECommandLeaf::Text)
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

namespace {

void SendEncoded(CHostState& state, const uint8_t* octets, uint32_t count)
{
    state.outgoing.cbData = count;
    state.outgoing.dwData = MakeDwData(BLOCK_ENCODED, count);
    state.outgoing.lpData = const_cast<uint8_t*>(octets);
    HostSendBlock(state, &state.outgoing);
}

} // namespace

void HostOnCommand(CHostState& state, const CCommandRecord& record)
{
    const CommandShapeRow* row = CommandShapeRowFor(record);
    if (!row)
        return;
    if (row->trace)
        HostTrace(state, "%s", row->trace);

    if (state.debugFlag == 1) {
        CEmber_OutputBuffer buffer;
        EncodeCommandTree(record, buffer);
        SendEncoded(state, buffer.Data(), buffer.Used());
        return;
    }
    uint8_t block[kMaxCommandBlock];
    SendEncoded(state, block, WriteCommandBlock(record, *row, block));
}
