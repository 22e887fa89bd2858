#include "host/dispatcher.h"

#include "host/command_parser.h"
#include "host/command_tree.h"
#include "host/report_reader.h"

#include <cstring>
#include <exception>
#include <new>

namespace {

// Length of the command text: up to its NUL, never beyond cbData.
size_t CommandLength(const COPYDATASTRUCT* block)
{
    const char* text = static_cast<const char*>(block->lpData);
    if (!text)
        return 0;
    const void* nul = std::memchr(text, '\0', block->cbData);
    return nul ? size_t(static_cast<const char*>(nul) - text) : size_t(block->cbData);
}

LRESULT OnCommandBlock(CHostState& state, const COPYDATASTRUCT* block)
{
    // The parse's trace lines are only made while they are written.
    TraceSink trace;
    if (state.debugFlag == 1)
        trace = [&state](const char* line) { HostTrace(state, "%s", line); };
    CCommandRecord record;
    const ParseResult result =
        ParseCommand(static_cast<const char*>(block->lpData), CommandLength(block), record, trace);
    if (result != ParseResult::Value)
        return 0;
    HostOnCommand(state, record);
    return 1;
}

// Feeds one block to a partner's reader. The reader catches the codec's own
// errors; anything else thrown while it reads (memory running out in the
// reader or the node pool) loses the message being read, with the rest of
// that block: the reader starts over and waits for the next message start.
// Later blocks are fed as usual.
void FeedReader(CHostState& state, CReportReader& reader, const uint8_t* octets, uint32_t length)
{
    try {
        reader.FeedBlock(octets, length);
    } catch (const std::exception& error) {
        reader.Reset();
        HostTrace(state, "console message dropped: %s \n", error.what());
    } catch (...) {
        reader.Reset();
        HostTrace(state, "console message dropped: unknown failure \n");
    }
}

// The sender of the block being handled, for the length of a scope; the
// previous one again when it ends, however it ends.
class SenderScope
{
public:
    SenderScope(CHostState& state, HWND sender) : m_state(state), m_saved(state.blockSender)
    {
        m_state.blockSender = sender;
    }
    ~SenderScope() { m_state.blockSender = m_saved; }
    SenderScope(const SenderScope&) = delete;
    SenderScope& operator=(const SenderScope&) = delete;

private:
    CHostState& m_state;
    HWND m_saved;
};

// Clears a console's feeding mark however the feeding ends.
class FeedingScope
{
public:
    explicit FeedingScope(CPartnerConsole& console) : m_console(console)
    {
        m_console.feeding = true;
    }
    ~FeedingScope() { m_console.feeding = false; }
    FeedingScope(const FeedingScope&) = delete;
    FeedingScope& operator=(const FeedingScope&) = delete;

private:
    CPartnerConsole& m_console;
};

// Feeds the sender's reader, then every block of the same sender that
// arrived meanwhile, in order. Each partner has a reader of its own: a block
// of another partner that arrives while this one is fed (inside a send's
// wait) is decoded at once, nested, so its reports reach it during its own
// send.
void FeedConsole(CHostState& state, const uint8_t* octets, uint32_t length)
{
    CPartnerConsole& console = HostConsoleFor(state, state.blockSender);
    if (console.feeding) {
        if (console.pendingOctets + length > kMaxPendingOctets) {
            HostTrace(state, "console block of %u octets dropped: too much data waiting \n",
                      unsigned(length));
            return;
        }
        try {
            console.pendingBlocks.emplace_back(octets, octets + length);
        } catch (const std::bad_alloc&) {
            HostTrace(state, "console block of %u octets dropped: out of memory \n",
                      unsigned(length));
            return;
        }
        console.pendingOctets += length;
        return;
    }
    const FeedingScope scope(console);
    FeedReader(state, *console.reader, octets, length);
    while (!console.pendingBlocks.empty()) {
        const std::vector<uint8_t> next = std::move(console.pendingBlocks.front());
        console.pendingBlocks.pop_front();
        console.pendingOctets -= next.size();
        FeedReader(state, *console.reader, next.data(), uint32_t(next.size()));
    }
}

void OnConsoleBlock(CHostState& state, const COPYDATASTRUCT* block)
{
    uint32_t length = BlockLength(block->dwData);
    HostTrace(state, "LIB:~~~~Data to be DE_Coded lenght=%d \n", int(length));
    if (length == KEEP_ALIVE_LENGTH) {
        HostTrace(state, "Korvane Keep Alive Rxd");
        HostSendBlock(state, block);
        return;
    }
    // The length field may promise more than the block carries.
    if (length > block->cbData)
        length = block->cbData;
    if (length == 0 || !block->lpData || state.consoles.empty())
        return;
    FeedConsole(state, static_cast<const uint8_t*>(block->lpData), length);
}

} // namespace

LRESULT HostOnCopyData(CHostState& state, HWND sender, const COPYDATASTRUCT* block)
{
    state.partnerWindow = sender;
    if (!block)
        return 1;
    if (state.onBlock)
        state.onBlock(false, sender, *block);
    const SenderScope scope(state, sender);
    const uint32_t kind = BlockKind(block->dwData);
    if (kind == BLOCK_COMMAND)
        return OnCommandBlock(state, block);
    if (kind == BLOCK_CONSOLE_DATA)
        OnConsoleBlock(state, block);
    return 1;
}

LRESULT HostOnReport(CHostState& state, WPARAM wParam, LPARAM lParam)
{
    // Only a report one of the host's own readers is sending right now is
    // read; any other message 3179, from anywhere, is ignored untouched.
    if (wParam != REPORT_WPARAM)
        return 0;
    CPartnerConsole* console = HostConsoleSending(state, lParam);
    if (!console)
        return 0;
    const char* text = reinterpret_cast<const char*>(lParam);
    const size_t length = strnlen(text, CReportReader::kLineSize);
    if (length >= REPORT_MAX_LENGTH)
        return 0;

    // A report equal to the last one forwarded to this partner is dropped
    // before anything is filled in.
    if (std::memcmp(text, console->lastReport, length + 1) == 0)
        return 0;
    std::memcpy(state.reportField, text, length);
    std::memset(state.reportField + length, 0, sizeof state.reportField - length);
    state.outgoing.cbData = REPORT_FIELD_SIZE;
    state.outgoing.dwData = MakeDwData(BLOCK_REPORT, uint32_t(length + 1));
    state.outgoing.lpData = state.reportField;

    // The field as it is now, for the same reason as the descriptor (see
    // HostSendBlock).
    char field[REPORT_FIELD_SIZE];
    std::memcpy(field, state.reportField, sizeof field);
    COPYDATASTRUCT report = state.outgoing;
    report.lpData = field;
    HostSendBlock(state, &report);
    // From the reader's line, not the report field: a block of another
    // partner handled while this send waited may have refilled the field.
    std::memcpy(console->lastReport, text, length);
    console->lastReport[length] = '\0';
    return 0;
}

void HostReportHandler(void* state, const char* line)
{
    HostOnReport(*static_cast<CHostState*>(state), REPORT_WPARAM, reinterpret_cast<LPARAM>(line));
}

LRESULT HostDispatch(CHostState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA:
        // Nothing may escape through the window procedure: a block whose
        // handling fails (memory running out while a command tree is built,
        // with the Debug switch on) is dropped with a trace.
        try {
            return HostOnCopyData(state, reinterpret_cast<HWND>(wParam),
                                  reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        } catch (const std::exception& error) {
            HostTrace(state, "block dropped: %s \n", error.what());
            return 0;
        }
    case MSG_PARAM_REPORT:
        return HostOnReport(state, wParam, lParam);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        if (state.onPaint)
            return state.onPaint(state, window);
        break;
    case WM_COMMAND:
        if (state.onCommand)
            return state.onCommand(state, window, wParam, lParam);
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
