#include "host/command_block.h"

#include "ember/ber/framing.h"
#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/length.h"
#include "ember/ber/types.h"

#include <cstring>

namespace {

constexpr uint8_t kSetTag = kBerConstructed | eeBerType_Set;
// The root's end: the four octets that end its two indefinite lengths, as
// at the end of the empty root.
constexpr const uint8_t* kRootEnd = kKeepAliveOctets.data() + sizeof kEmberStartSequence;
constexpr uint32_t kRootEndOctets = KEEP_ALIVE_LENGTH - sizeof kEmberStartSequence;

static_assert(kMaxCommandBlock < 0x8000, "every container length fits 82 hi lo");

// The length of a Set's inner element around `content` octets: its tag, its
// length octets and the content.
uint32_t SetOuterLength(uint32_t content)
{
    return 1 + uint32_t(LengthSize(content)) + content;
}

} // namespace

uint32_t WriteCommandBlock(const CCommandRecord& record, const CommandShapeRow& row, uint8_t* out)
{
    const bool poll = row.leaf == ECommandLeaf::Poll;
    // Containers in the tree: the path levels and the parameter, or for a
    // poll the path levels above the number left out.
    const int containers = poll ? row.levels - 1 : row.levels;

    // The leaf's content.
    const uint32_t tag = poll ? TAG_POLL : TAG_VALUE;
    const int32_t integer = poll ? kPollLeafValue : record.value;
    const bool text = row.leaf == ECommandLeaf::Text;
    const uint32_t content = text ? uint32_t(strnlen(record.text, CCommandRecord::kTextSize - 1))
                                  : uint32_t(IntegerSize(integer));
    const uint32_t leafOuter = 1 + uint32_t(LengthSize(content)) + content;
    const uint32_t leaf = uint32_t(IdentifierSize(kLeafClass, tag)) +
                          uint32_t(LengthSize(leafOuter)) + leafOuter;

    // Content lengths from the inside out: each level holds the one below.
    uint32_t inner[5];
    uint32_t below = leaf;
    for (int i = containers - 1; i >= 0; --i) {
        inner[i] = below;
        const uint32_t outer = SetOuterLength(below);
        // (The identifier's size does not depend on the class.)
        below = uint32_t(IdentifierSize(kPathClass, uint32_t(record.p[i]))) +
                uint32_t(LengthSize(outer)) + outer;
    }

    uint8_t* o = out;
    std::memcpy(o, kKeepAliveOctets.data(), KEEP_ALIVE_LENGTH);
    o += KEEP_ALIVE_LENGTH;
    std::memcpy(o, kEmberStartSequence, sizeof kEmberStartSequence);
    o += sizeof kEmberStartSequence;
    for (int i = 0; i < containers; ++i) {
        const bool parameter = !poll && i == containers - 1;
        const uint32_t classBits = parameter ? kParameterClass : kPathClass;
        o += PutIdentifier(o, classBits | kBerConstructed, uint32_t(record.p[i]));
        o += PutLength(o, SetOuterLength(inner[i]));
        *o++ = kSetTag;
        o += PutLength(o, inner[i]);
    }
    o += PutIdentifier(o, kLeafClass | kBerConstructed, tag);
    o += PutLength(o, leafOuter);
    if (text) {
        *o++ = eeBerType_UTF8String;
        o += PutLength(o, content);
        std::memcpy(o, record.text, content);
        o += content;
    } else {
        *o++ = eeBerType_Integer;
        *o++ = uint8_t(content);
        const uint32_t bits = uint32_t(integer);
        for (int32_t i = int32_t(content) - 1; i >= 0; --i)
            *o++ = uint8_t(bits >> (8 * i));
    }
    std::memcpy(o, kRootEnd, kRootEndOctets);
    o += kRootEndOctets;
    return uint32_t(o - out);
}
