#include "tests/support/ember_messages.h"

#include "ember/ber/identifier.h"
#include "ember/ber/integer_codec.h"
#include "ember/ber/length.h"
#include "ember/ber/output_buffer.h"
#include "ember/ber/tag.h"
#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/stream_reader.h"
#include "ember/tree/string_leaf.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace testing_support {

namespace {

Element Container(uint32_t classOctet, uint32_t number, Element::Kind kind,
                  std::vector<Element> children)
{
    Element element;
    element.classOctet = classOctet;
    element.number = number;
    element.kind = kind;
    element.children = std::move(children);
    return element;
}

std::vector<uint8_t> Octets(const CEmber_OutputBuffer& buffer)
{
    return std::vector<uint8_t>(buffer.Data(), buffer.Data() + buffer.Used());
}

void PutHeader(std::vector<uint8_t>& out, uint32_t identifierBits, uint32_t number, uint32_t length)
{
    uint8_t octets[16];
    int32_t n = PutIdentifier(octets, identifierBits, number);
    n += PutLength(octets + n, length);
    out.insert(out.end(), octets, octets + n);
}

} // namespace

Element Ctx(uint32_t number, std::vector<Element> children)
{
    return Container(eeBerClass_ContextSpecific, number, Element::Set, std::move(children));
}

Element Prv(uint32_t number, std::vector<Element> children)
{
    return Container(eeBerClass_Private, number, Element::Set, std::move(children));
}

Element App(uint32_t number, std::vector<Element> children)
{
    return Container(eeBerClass_Application, number, Element::Set, std::move(children));
}

Element CtxSequence(uint32_t number, std::vector<Element> children)
{
    return Container(eeBerClass_ContextSpecific, number, Element::Sequence, std::move(children));
}

Element Leaf(uint32_t classOctet, uint32_t number, int32_t value)
{
    Element element;
    element.classOctet = classOctet;
    element.number = number;
    element.kind = Element::Integer;
    element.value = value;
    return element;
}

Element IntValue(int32_t value)
{
    return Leaf(eeBerClass_Application, 3, value);
}

Element Int64Value(int64_t value)
{
    Element element = Leaf(eeBerClass_Application, 3, 0);
    element.kind = Element::Integer64;
    element.value = value;
    return element;
}

Element TextValue(const std::string& text)
{
    Element element = Leaf(eeBerClass_Application, 3, 0);
    element.kind = Element::Text;
    element.text = text;
    return element;
}

std::unique_ptr<CEmber_Node> Build(const Element& element)
{
    switch (element.kind) {
    case Element::Integer:
        return std::make_unique<CEmber_Integer32>(element.classOctet, element.number,
                                                  int32_t(element.value));
    case Element::Integer64:
        return std::make_unique<CEmber_Integer64>(element.classOctet, element.number,
                                                  element.value);
    case Element::Text:
        return std::make_unique<CEmber_UTF8String>(element.classOctet, element.number,
                                                   element.text.c_str());
    case Element::Set:
    case Element::Sequence:
        break;
    }
    std::unique_ptr<CEmber_Container> container;
    if (element.kind == Element::Set)
        container = std::make_unique<CEmber_Set>(element.classOctet, element.number, nullptr, true);
    else
        container = std::make_unique<CEmber_Sequence>(element.classOctet, element.number, nullptr);
    for (const Element& child : element.children) {
        std::unique_ptr<CEmber_Node> node = Build(child);
        container->AddChild(node.get(), true);
        (void)node.release();
    }
    return container;
}

std::vector<uint8_t> Framed(uint32_t classBits, uint32_t number, uint32_t type,
                            const std::vector<uint8_t>& content)
{
    const bool constructed = type == eeBerType_Sequence || type == eeBerType_Set;
    std::vector<uint8_t> inner;
    PutHeader(inner, eeBerClass_Universal | (constructed ? kBerConstructed : 0u), type,
              uint32_t(content.size()));
    inner.insert(inner.end(), content.begin(), content.end());
    std::vector<uint8_t> out;
    PutHeader(out, (classBits & kBerClassMask) | kBerConstructed, number, uint32_t(inner.size()));
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

std::vector<uint8_t> IntegerContent(int64_t value)
{
    CEmber_OutputBuffer buffer;
    EncodeInteger64(buffer, value, Integer64Size(value));
    return Octets(buffer);
}

std::vector<uint8_t> StartSequence()
{
    return std::vector<uint8_t>(std::begin(CEmber_StreamReader::kStartSequence),
                                std::end(CEmber_StreamReader::kStartSequence));
}

std::vector<uint8_t> MessageOf(const std::vector<uint8_t>& elements)
{
    const std::vector<uint8_t> start = StartSequence();
    // The root's end: the terminators of its outer and inner lengths.
    std::vector<uint8_t> octets(start.size() + elements.size() + 4, uint8_t(0));
    std::copy(start.begin(), start.end(), octets.begin());
    std::copy(elements.begin(), elements.end(), octets.begin() + std::ptrdiff_t(start.size()));
    return octets;
}

std::vector<uint8_t> Encoded(const Element& element)
{
    switch (element.kind) {
    case Element::Integer:
    case Element::Integer64:
        return Framed(element.classOctet, element.number, eeBerType_Integer,
                      IntegerContent(element.value));
    case Element::Text:
        return Framed(element.classOctet, element.number, eeBerType_UTF8String,
                      std::vector<uint8_t>(element.text.begin(), element.text.end()));
    case Element::Set:
    case Element::Sequence:
        break;
    }
    std::vector<uint8_t> content;
    for (const Element& child : element.children) {
        const std::vector<uint8_t> part = Encoded(child);
        content.insert(content.end(), part.begin(), part.end());
    }
    return Framed(element.classOctet, element.number,
                  element.kind == Element::Set ? eeBerType_Set : eeBerType_Sequence, content);
}

std::vector<uint8_t> Message(const std::vector<Element>& top)
{
    CEmber_Root root;
    for (const Element& element : top) {
        std::unique_ptr<CEmber_Node> node = Build(element);
        root.AddChild(node.get(), true);
        (void)node.release();
    }
    CEmber_OutputBuffer buffer;
    root.Encode(buffer);
    return Octets(buffer);
}

std::vector<uint8_t> SplicedMessage(const std::vector<Element>& top)
{
    std::vector<uint8_t> elements;
    for (const Element& element : top) {
        const std::vector<uint8_t> part = Encoded(element);
        elements.insert(elements.end(), part.begin(), part.end());
    }
    return MessageOf(elements);
}

std::vector<uint8_t> Join(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<uint8_t> octets;
    for (const auto& part : parts)
        octets.insert(octets.end(), part.begin(), part.end());
    return octets;
}

} // namespace testing_support
