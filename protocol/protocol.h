// The partner protocol: every fact of it, named once. Block kinds and their
// lengths, the keep-alive, the private report message, value codes, the
// command record, the window names and the tags of the command trees.
//
// Blocks travel as WM_COPYDATA; the high 16 bits of dwData name the kind,
// the low 16 bits carry a length whose use depends on the kind.
#pragma once

#include "ember/ber/framing.h"
#include "ember/ber/tag.h"

#include <algorithm>
#include <array>
#include <cstddef>
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

// A console-data block of this length is a keep-alive and is echoed,
// whatever its octets.
constexpr uint32_t KEEP_ALIVE_LENGTH = 13;

// The empty root: what a console sends as its keep-alive, and the head of
// every BLOCK_ENCODED: the message start sequence and the four octets that
// end its two indefinite lengths.
constexpr std::array<uint8_t, KEEP_ALIVE_LENGTH> kKeepAliveOctets = [] {
    std::array<uint8_t, KEEP_ALIVE_LENGTH> octets{};
    for (size_t i = 0; i < sizeof kEmberStartSequence; ++i)
        octets[i] = kEmberStartSequence[i];
    return octets;
}();

// The largest console block: its length travels in the 16 low bits.
constexpr size_t kMaxConsoleBlock = 0xFFFF;

// The length of the next console block when `remaining` octets are left to
// send in blocks of `chunk` (clamped to 1..kMaxConsoleBlock). A block of
// exactly KEEP_ALIVE_LENGTH octets would be echoed as a keep-alive instead of
// decoded, so it is one octet shorter and that octet begins the next block.
constexpr uint32_t ConsoleBlockLength(size_t remaining, size_t chunk)
{
    const size_t block = std::clamp<size_t>(chunk, 1, kMaxConsoleBlock);
    size_t length = std::min(block, remaining);
    if (length == KEEP_ALIVE_LENGTH)
        --length;
    return uint32_t(length);
}

constexpr int32_t VALUE_POLL = -1;
constexpr int32_t VALUE_TEXT = -2;
constexpr int32_t VALUE_NONE = -3;

// Size of the report field sent with every BLOCK_REPORT.
constexpr uint32_t REPORT_FIELD_SIZE = 513;
// Reports of this many characters or more are not forwarded.
constexpr uint32_t REPORT_MAX_LENGTH = 30;

// The host window is named this prefix and the program's arguments
// ("Korvane_" alone without arguments).
constexpr char kHostWindowPrefix[] = "Korvane_";
// The partner's window, looked up once at start.
constexpr char kPartnerWindowName[] = "TEST_RX";

// Tags of the command trees: path levels are context-specific Sets numbered
// by the path, the parameter a private Set, its value an application-class
// leaf at TAG_VALUE; a poll is an Integer 1 at TAG_POLL in a path level.
constexpr EmberBerClass kPathClass = eeBerClass_ContextSpecific;
constexpr EmberBerClass kParameterClass = eeBerClass_Private;
constexpr EmberBerClass kLeafClass = eeBerClass_Application;
constexpr uint32_t TAG_VALUE = 3;
constexpr uint32_t TAG_POLL = 32;
constexpr int32_t kPollLeafValue = 1;
// Integer values held directly under an application node of this number
// are not reported.
constexpr uint32_t kUnreportedParentTag = 34;

struct CCommandRecord
{
    static constexpr uint32_t kTextSize = 64;

    int32_t p[5] = {0, 0, 0, 0, 0}; // path numbers p1..p5; 0 = level absent
    int32_t value = VALUE_NONE;     // value, or VALUE_POLL / VALUE_TEXT / VALUE_NONE
    char text[kTextSize] = {};      // the text of VALUE_TEXT
};
