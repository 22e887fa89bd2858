#include "host/command_tree.h"

#include "ember/values/root.h"

#include <memory>

int CommandShape(const CCommandRecord& record)
{
    const int32_t* p = record.p;
    const int32_t value = record.value;
    const bool five = p[0] && p[1] && p[2] && p[3] && p[4];
    const bool three = p[0] && p[1] && p[2] && !p[3] && !p[4];
    const bool four = p[0] && p[1] && p[2] && p[3] && !p[4];
    if (five && value >= 0)
        return 1;
    if (five && value == VALUE_TEXT)
        return 2;
    if (five && value == VALUE_POLL)
        return 3;
    if (three && value == VALUE_POLL)
        return 4;
    if (three && value == VALUE_TEXT)
        return 5;
    if (four && value == VALUE_POLL)
        return 6;
    if (four && value == VALUE_TEXT)
        return 7;
    if (four && value >= 0)
        return 8;
    return 0;
}

const char* CommandShapeTrace(int shape)
{
    switch (shape) {
    case 4:
        return "NOT Full House create PART-3 container To POLL \n";
    case 5:
        return "NOT Full House create PART-3 container To Send TEXT \n";
    case 6:
        return "NOT Full House create PART-4 container To POLL \n";
    case 7:
        return "NOT Full House create PART container To Send TXT \n";
    case 8:
        return "NOT Full House create PART container To Send INT \n";
    default:
        return nullptr;
    }
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
    const int shape = CommandShape(record);
    if (shape == 0)
        return false;

    const int32_t* p = record.p;
    const bool poll = shape == 3 || shape == 4 || shape == 6;
    // Path containers above the parameter (or above the poll leaf).
    const int pathCount = shape <= 3 ? 4 : (shape == 4 || shape == 5 ? 2 : 3);

    std::unique_ptr<CEmber_Container> parameter;
    if (!poll) {
        parameter = std::make_unique<CParameterContainer>(uint32_t(p[pathCount]));
        if (record.value == VALUE_TEXT)
            parameter->AddStringChild(eeBerClass_Application, TAG_VALUE, record.text);
        else
            parameter->AddIntegerChild(eeBerClass_Application, TAG_VALUE, record.value);
    }

    CEmber_Container* last = nullptr;
    std::unique_ptr<CPathContainer> top = LinkPath(p, pathCount, last, std::move(parameter));
    if (poll)
        last->AddIntegerChild(eeBerClass_Application, TAG_POLL, 1);

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
    const int shape = CommandShape(record);
    if (shape == 0)
        return;
    if (const char* trace = CommandShapeTrace(shape))
        HostTrace(state, "%s", trace);

    CEmber_OutputBuffer buffer;
    EncodeCommand(record, buffer);

    state.outgoing.cbData = buffer.Used();
    state.outgoing.dwData = MakeDwData(BLOCK_ENCODED, buffer.Used());
    state.outgoing.lpData = const_cast<uint8_t*>(buffer.Data());
    SendMessageA(state.partnerWindow, WM_COPYDATA, WPARAM(state.hostWindow),
                 LPARAM(&state.outgoing));
}
