#include "host/command_block.h"

#include "ember/ber/framing.h"
#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/types.h"

#include <cstring>

namespace {

constexpr uint8_t kSetTag = kBerConstructed | eeBerType_Set;
// The root's end: the four octets that end its two indefinite lengths, as
// at the end of the empty root.
constexpr const uint8_t* kRootEnd = kKeepAliveOctets.data() + sizeof kEmberStartSequence;
constexpr uint32_t kRootEndOctets = KEEP_ALIVE_LENGTH - sizeof kEmberStartSequence;

// Octets of a Set element holding `content` octets under a tag of
// `identifier` octets: identifier, length, the Set tag, length, content
// (every length one octet, kMaxCommandTree).
constexpr uint32_t SetSize(uint32_t identifier, uint32_t content)
{
    return identifier + 3 + content;
}

// Octets of a leaf at an application tag with `content` octets: its
// identifier, length, type, length and content.
inline uint32_t LeafSize(uint32_t tag, uint32_t content)
{
    return uint32_t(IdentifierSize(kLeafClass, tag)) + 3 + content;
}

// Writes a leaf's header; returns where its content goes. Inlined where the
// tag is a constant, so that its identifier is.
[[gnu::always_inline]] inline uint8_t* PutLeafHeader(uint8_t* o, uint32_t tag, uint8_t type,
                                                     uint32_t content)
{
    o += PutIdentifier(o, kLeafClass | kBerConstructed, tag);
    o[0] = uint8_t(content + 2);
    o[1] = type;
    o[2] = uint8_t(content);
    return o + 3;
}

// Writes an Integer leaf of `content` octets (IntegerSize); returns its end.
[[gnu::always_inline]] inline uint8_t* PutIntegerLeaf(uint8_t* o, uint32_t tag, int32_t value,
                                                      uint32_t content)
{
    o = PutLeafHeader(o, tag, eeBerType_Integer, content);
    const uint32_t bits = uint32_t(value);
    for (uint32_t i = 0; i < content; ++i)
        o[i] = uint8_t(bits >> (8 * (content - 1 - i)));
    return o + content;
}

} // namespace

uint32_t WriteCommandBlock(const CCommandRecord& record, const CommandShapeRow& row, uint8_t* out)
{
    // Containers in the tree: the path levels and the parameter, or for a
    // poll the path levels above the number left out.
    const bool poll = row.leaf == ECommandLeaf::Poll;
    const int containers = poll ? row.levels - 1 : row.levels;

    // The leaf's content and size.
    uint32_t content = 0;
    uint32_t below = 0;
    switch (row.leaf) {
    case ECommandLeaf::Poll:
        content = uint32_t(IntegerSize(kPollLeafValue));
        below = LeafSize(TAG_POLL, content);
        break;
    case ECommandLeaf::Integer:
        content = uint32_t(IntegerSize(record.value));
        below = LeafSize(TAG_VALUE, content);
        break;
    case ECommandLeaf::Text:
        content = uint32_t(strnlen(record.text, CCommandRecord::kTextSize - 1));
        below = LeafSize(TAG_VALUE, content);
        break;
    }

    // The content length of each level, from the inside out.
    uint32_t inner[5];
    for (int i = containers - 1; i >= 0; --i) {
        inner[i] = below;
        // (An identifier's size does not depend on its class.)
        below = SetSize(uint32_t(IdentifierSize(kPathClass, uint32_t(record.p[i]))), below);
    }

    uint8_t* o = out;
    std::memcpy(o, kKeepAliveOctets.data(), KEEP_ALIVE_LENGTH);
    o += KEEP_ALIVE_LENGTH;
    std::memcpy(o, kEmberStartSequence, sizeof kEmberStartSequence);
    o += sizeof kEmberStartSequence;
    for (int i = 0; i < containers; ++i) {
        const bool parameter = !poll && i == containers - 1;
        o += PutIdentifier(o, (parameter ? kParameterClass : kPathClass) | kBerConstructed,
                           uint32_t(record.p[i]));
        o[0] = uint8_t(inner[i] + 2);
        o[1] = kSetTag;
        o[2] = uint8_t(inner[i]);
        o += 3;
    }
    switch (row.leaf) {
    case ECommandLeaf::Poll:
        o = PutIntegerLeaf(o, TAG_POLL, kPollLeafValue, content);
        break;
    case ECommandLeaf::Integer:
        o = PutIntegerLeaf(o, TAG_VALUE, record.value, content);
        break;
    case ECommandLeaf::Text:
        o = PutLeafHeader(o, TAG_VALUE, eeBerType_UTF8String, content);
        std::memcpy(o, record.text, content);
        o += content;
        break;
    }
    std::memcpy(o, kRootEnd, kRootEndOctets);
    o += kRootEndOctets;
    return uint32_t(o - out);
}
