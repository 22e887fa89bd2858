// Turns decoded console trees into report lines for the partner.
//
// The one console-data consumer of the host: a stream reader in encodable
// mode that, each time a whole top-level tree has been read, walks it. Every
// Set level met (depth first, over the whole tree) takes the next path slot;
// every Integer or UTF8String at application 3 inside a private container
// becomes one line in the partner's command layout:
//   "%d,%d,%d,%d,%d,%d"      slots 2..5, the container's number, the value
//   "%d,%d,%d,%d,%d,%s \n"   slots 2..6 and the text ("~" for blanks)
// Each line is sent at once, synchronously, to the bound window as
// MSG_PARAM_REPORT (wParam 3178, lParam the line).
//
// Two paths give the same reports. While the trace switch is 1 when a
// message's root opens, the message is built as a tree and walked when the
// root closes (the trace lines name each node). Otherwise no node is made:
// the report sink follows the octet machine's elements as they pass (the
// Set levels, the tags on the way, the first value child of every private
// container), checks what the tree builder would refuse (CEmber_NodeChecks)
// and holds the message's report lines, each with the state the walk would
// have when sending it, until the root closes; then they are sent in walk
// order, exactly as the walk sends them. A message broken off by an error
// reports nothing on either path. On this path no tree is kept: GetRoot is
// null and OnNodeOpened and OnNodeComplete are not called (OnMessageComplete
// is, on both paths). The switch is read when a root opens, so setting it
// inside a message takes effect from the next one.
#pragma once

#include "ember/ber/node_checks.h"
#include "ember/ber/tag.h"
#include "ember/tree/stream_reader.h"
#include "winapi.h"

#include <cstdint>
#include <string>
#include <vector>

class CReportReader : public CEmber_StreamReader
{
public:
    static constexpr uint32_t kLineSize = 64;

    CReportReader();
    ~CReportReader() override;

    // Reports go to window from now on; the trace switch and any report
    // handler are cleared.
    void Bind(HWND window);
    // Reports go to handler(context, line) from now on, instead of a
    // MSG_PARAM_REPORT to the bound window: the host's own handler of that
    // message, called directly (no peer sees the message to its own window).
    // IsSendingReport holds during the call as during the message.
    using ReportHandler = void (*)(void* context, const char* line);
    void BindHandler(ReportHandler handler, void* context)
    {
        m_handler = handler;
        m_handlerContext = context;
    }

    void OnNodeComplete(CEmber_Node* node) override;
    void OnContainerOpened() override;
    void OnItemComplete() override;
    void Reset() override;

    // Traces of the extraction are written while the switch is 1.
    void SetTraceSwitch(int32_t on) { m_traceSwitch = on; }
    int32_t GetTraceSwitch() const { return m_traceSwitch; }

    // True while this reader is sending exactly this line to its window:
    // the host accepts a MSG_PARAM_REPORT only then.
    bool IsSendingReport(LPARAM line) const
    {
        return m_sending && line == reinterpret_cast<LPARAM>(m_line);
    }

    // Set levels met in the current tree, and the path slots 1..6.
    int32_t GetSetLevels() const { return m_setLevels; }
    uint32_t GetSlot(int index) const { return m_slots[index]; }

    // While SendReport sends a text report: the text as the console sent
    // it (blanks as blanks, up to its first zero octet); null otherwise. On
    // the tree path, the leaf's text as it stood before this report.
    const char* GetReportConsoleText() const { return m_consoleText; }

protected:
    // Sends one formatted line; overridable by tests and tools.
    virtual void SendReport(const char* line);
    // A message's root closed, before its reports are sent (both paths).
    virtual void OnMessageComplete() {}

    bool KeepsContent(uint32_t type) const override;

private:
    // How the walk treats an open container's children.
    enum Mode : uint8_t
    {
        Mode_Walk,   // the root and the application and context containers walked
        Mode_Search, // private containers: value search
        Mode_Skip,   // not looked at (universal, taken aside, other children of a search)
    };
    // The first child at TAG_VALUE of a searched container, what the typed
    // child getters find.
    enum First : uint8_t
    {
        First_None,
        First_Integer, // a 32-bit Integer leaf
        First_Text,    // a UTF8String leaf
        First_Other,
    };
    struct Open
    {
        CEmber_Tag tag;
        Mode mode;
        bool root;   // a root Sequence: takes its aside children out of its list
        First first; // searched containers only
        int32_t value;
        uint32_t text; // index in m_texts
    };
    // A report held until the root closes, with the walk's state then.
    struct Held
    {
        uint32_t lineBegin; // in m_lines
        uint32_t lineLength;
        int32_t text; // index in m_texts of its console text, or -1
        int32_t setLevels;
        uint32_t slots[7];
    };

    void OpenDirect();
    void CompleteDirect();
    void ValueDirect(Open& container);
    void Hold(const char* line, size_t length, int32_t text);
    void SendHeld();

    void Walk(CEmber_Node* container);
    void PathStep(CEmber_Node* child);
    void ValueSearch(CEmber_Node* node);
    void IntegerValue(CEmber_Node* container);
    void TextValue(CEmber_Node* container);
    // Tested before a trace's arguments are computed (they have no side
    // effects, so skipping them changes nothing else).
    bool Tracing() const { return m_traceSwitch == 1; }
    void Trace(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    HWND m_reportWindow = nullptr;
    ReportHandler m_handler = nullptr;
    void* m_handlerContext = nullptr;
    // Set levels met so far in the current tree (not the octet machine's
    // field count).
    int32_t m_setLevels = 0;
    // Path slots 1..6 (index 0 unused).
    uint32_t m_slots[7] = {};
    int32_t m_traceSwitch = 0;
    char m_line[kLineSize] = {};
    bool m_sending = false;
    // "%d,%d,%d,%d," of slots 2 to 5, kept while they stay as they are.
    char m_prefix[kLineSize] = {};
    uint32_t m_prefixLength = 0;
    bool m_prefixValid = false;
    const char* m_consoleText = nullptr;
    std::string m_treeConsoleText;

    // The path the message at hand takes (chosen when its root opens).
    bool m_direct = false;
    CEmber_NodeChecks m_checks;
    std::vector<Open> m_open;
    // The walk's state as the message's elements pass.
    int32_t m_walkSetLevels = 0;
    uint32_t m_walkSlots[7] = {};
    std::vector<Held> m_held;
    std::string m_lines;
    // Texts of the first value children (console texts, cut after kLineSize
    // octets: a longer one never fits a line).
    std::vector<std::string> m_texts;
};
