// Console messages for the host tests, built with the codec itself: a small
// description of elements is turned into nodes, added under a CEmber_Root and
// encoded, so the vectors are exactly what a console would send.
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

// The encoding of one element on its own.
std::vector<uint8_t> Encoded(const Element& element);

// A whole message: the root holding the elements, encoded.
std::vector<uint8_t> Message(const std::vector<Element>& top);

// A message whose root octets are spliced by hand: the root header, each
// element's own encoding (elements a CEmber_Root would hold aside included),
// the root's end.
std::vector<uint8_t> SplicedMessage(const std::vector<Element>& top);

// Concatenation of octet vectors.
std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts);

} // namespace testing_support
