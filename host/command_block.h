// The octets of a command block written straight from the command record,
// without a tree: the 13-octet empty root, the root header, the containers'
// headers from the outside in, the leaf, and the root's four closing
// octets. Octet for octet what encoding the shape's tree under a fresh root
// gives (host/command_tree.h), since every length of a command tree is known
// from the record before the first octet is written.
#pragma once

#include "host/command_tree.h"
#include "protocol/protocol.h"

#include <cstdint>

// The largest command tree: five levels whose headers take at most an
// identifier of a 32-bit number (6 octets), the Set tag and two lengths;
// and the leaf, a text of 63 characters at TAG_VALUE with its type and two
// lengths. It stays below 128 octets, so every length in it takes the short
// form (one octet).
constexpr uint32_t kMaxCommandLevelHeader = 6 + 1 + 1 + 1;
constexpr uint32_t kMaxCommandLeaf = 1 + 1 + 1 + 1 + (CCommandRecord::kTextSize - 1);
constexpr uint32_t kMaxCommandTree = 5 * kMaxCommandLevelHeader + kMaxCommandLeaf;
static_assert(kMaxCommandTree <= 127, "every length of a command tree is one octet");

// The largest block: the empty root, then the root's own header and end
// (13 more octets) around the tree.
constexpr uint32_t kMaxCommandBlock = 2 * KEEP_ALIVE_LENGTH + kMaxCommandTree;

// Writes the block of the record in the shape of row (the record's own,
// CommandShapeRowFor) to out, which has room for kMaxCommandBlock octets;
// returns the octet count. A text is taken up to its NUL, and never beyond
// the 63 characters a record carries.
uint32_t WriteCommandBlock(const CCommandRecord& record, const CommandShapeRow& row, uint8_t* out);
