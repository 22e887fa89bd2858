// The partner protocol: block kinds, the private report message, value
// codes and the command record.
//
// Blocks travel as WM_COPYDATA; the high 16 bits of dwData name the kind,
// the low 16 bits carry a length whose use depends on the kind.
#pragma once

#include <cstdint>

constexpr uint32_t BLOCK_COMMAND = 0x0C67;      // partner -> host: command text
constexpr uint32_t BLOCK_CONSOLE_DATA = 0x0C68; // partner -> host (and echoed): console octets
constexpr uint32_t BLOCK_ENCODED = 0x0C69;      // host -> partner: encoded command tree
constexpr uint32_t BLOCK_REPORT = 0x0C6A;       // host -> partner: report line

// Sent by the report reader to the host window; wParam must be 3178.
constexpr unsigned MSG_PARAM_REPORT = 3179;
constexpr uintptr_t REPORT_WPARAM = 3178;

constexpr uint32_t BlockKind(uintptr_t dwData)
{
    return uint32_t((dwData & 0xFFFF0000u) >> 16);
}

constexpr uint32_t BlockLength(uintptr_t dwData)
{
    return uint32_t(dwData & 0xFFFFu);
}

constexpr uintptr_t MakeDwData(uint32_t kind, uint32_t length)
{
    return uintptr_t((kind << 16) | (length & 0xFFFFu));
}

// A console-data block of this length is a keep-alive and is echoed.
constexpr uint32_t KEEP_ALIVE_LENGTH = 13;

constexpr int32_t VALUE_POLL = -1;
constexpr int32_t VALUE_TEXT = -2;
constexpr int32_t VALUE_NONE = -3;

// Size of the report field sent with every BLOCK_REPORT.
constexpr uint32_t REPORT_FIELD_SIZE = 513;
// Reports of this many characters or more are not forwarded.
constexpr uint32_t REPORT_MAX_LENGTH = 30;

struct CCommandRecord
{
    static constexpr uint32_t kTextSize = 64;

    int32_t p[5] = {0, 0, 0, 0, 0}; // path numbers p1..p5; 0 = level absent
    int32_t value = VALUE_NONE;     // value, or VALUE_POLL / VALUE_TEXT / VALUE_NONE
    char text[kTextSize] = {};      // the text of VALUE_TEXT
};
