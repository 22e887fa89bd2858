// Console messages for the tests, the one builder of them: octets framed with
// the codec's own identifier, length and value writers (PutIdentifier,
// PutLength, EncodeInteger64), and a small description of elements that is
// turned into those octets, or into nodes to add under a CEmber_Root.
#pragma once

#include "ember/tree/node.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

struct Element
{
    enum Kind
    {
        Set,
        Sequence,
        Integer,   // a 32-bit Integer leaf
        Integer64, // a 64-bit Integer leaf (more than four content octets)
        Text,      // a UTF8String leaf
    };

    uint32_t classOctet = 0;
    uint32_t number = 0;
    Kind kind = Set;
    int64_t value = 0;
    std::string text;
    std::vector<Element> children;
};

// Containers: Ctx n and Prv n are Sets, App n a Set with the application class.
Element Ctx(uint32_t number, std::vector<Element> children = {});
Element Prv(uint32_t number, std::vector<Element> children = {});
Element App(uint32_t number, std::vector<Element> children = {});
Element CtxSequence(uint32_t number, std::vector<Element> children = {});
// Leaves at the parameter value tag (application 3) unless a tag is given.
Element IntValue(int32_t value);
Element Int64Value(int64_t value);
Element TextValue(const std::string& text);
Element Leaf(uint32_t classOctet, uint32_t number, int32_t value);

std::unique_ptr<CEmber_Node> Build(const Element& element);

// One element as a console frames it, definite lengths: the outer identifier
// (classBits with the constructed flag, number) and length, the universal
// identifier of `type` (constructed for a Sequence or Set) and its length,
// then `content`.
std::vector<uint8_t> Framed(uint32_t classBits, uint32_t number, uint32_t type,
                            const std::vector<uint8_t>& content);

// The content octets of an Integer: minimal two's complement.
std::vector<uint8_t> IntegerContent(int64_t value);

// The nine octets a console message begins with.
std::vector<uint8_t> StartSequence();

// A message around elements already framed: the start sequence, the
// elements, the root's end.
std::vector<uint8_t> MessageOf(const std::vector<uint8_t>& elements);

// The encoding of one element on its own (Framed, recursively).
std::vector<uint8_t> Encoded(const Element& element);

// A whole message: the root holding the elements, encoded.
std::vector<uint8_t> Message(const std::vector<Element>& top);

// A message whose root octets are spliced: MessageOf the elements' own
// encodings (elements a CEmber_Root would hold aside included).
std::vector<uint8_t> SplicedMessage(const std::vector<Element>& top);

// Concatenation of octet vectors.
std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts);

} // namespace testing_support
