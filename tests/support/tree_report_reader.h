// The host's report reader as it was before reports came straight from the
// octets: it builds every message's tree and walks it when the root closes.
// Kept as the reference the report reader is held to (reports, their order,
// the state at each and after, errors, every split). Only the name and the
// report's destination changed: SendReport is for the test to override.
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
#pragma once

#include "ember/tree/stream_reader.h"

#include <cstdint>

class CTreeReportReader : public CEmber_StreamReader
{
public:
    static constexpr uint32_t kLineSize = 64;

    CTreeReportReader();
    ~CTreeReportReader() override;

    void OnNodeComplete(CEmber_Node* node) override;

    // Traces of the extraction are written while the switch is 1.
    void SetTraceSwitch(int32_t on) { m_traceSwitch = on; }
    int32_t GetTraceSwitch() const { return m_traceSwitch; }

    // Set levels met in the current tree, and the path slots 1..6.
    int32_t GetSetLevels() const { return m_setLevels; }
    uint32_t GetSlot(int index) const { return m_slots[index]; }

protected:
    // Sends one formatted line; overridable by tests and tools.
    virtual void SendReport(const char* /*line*/) {}

private:
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

    // Set levels met so far in the current tree (not the octet machine's
    // field count).
    int32_t m_setLevels = 0;
    // Path slots 1..6 (index 0 unused).
    uint32_t m_slots[7] = {};
    int32_t m_traceSwitch = 0;
    char m_line[kLineSize] = {};
    // "%d,%d,%d,%d," of slots 2 to 5, kept while they stay as they are.
    char m_prefix[kLineSize] = {};
    uint32_t m_prefixLength = 0;
    bool m_prefixValid = false;
};
