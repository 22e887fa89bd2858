// Adding and reading Integer and UTF8String children by tag.

#include "ember/ber/types.h"
#include "ember/tree/leaf.h"
#include "ember/tree/node.h"
#include "ember/tree/string_leaf.h"

#include <memory>
#include <typeinfo>

void CEmber_Node::AddIntegerChild(uint32_t classOctet, uint32_t number, int32_t value)
{
    auto leaf = std::make_unique<CEmber_Integer32>(classOctet, number, value);
    AddChild(leaf.get(), true);
    leaf.release();
}

void CEmber_Node::AddStringChild(uint32_t classOctet, uint32_t number, const char* text)
{
    auto leaf = std::make_unique<CEmber_UTF8String>(classOctet, number, text);
    AddChild(leaf.get(), true);
    leaf.release();
}

bool CEmber_Node::GetIntegerChild(uint32_t classOctet, uint32_t number, int32_t& value)
{
    CEmber_Node* child = FindChild(classOctet, number);
    if (!child || child->GetType() != eeBerType_Integer)
        return false;
    // The common case, exactly a 32-bit Integer leaf, needs no search of the
    // class hierarchy.
    if (typeid(*child) == typeid(CEmber_Integer32)) {
        value = static_cast<const CEmber_Integer32*>(child)->GetValue();
        return true;
    }
    // A time leaf written as an integer answers type 2 but is no Integer.
    const auto* integer = dynamic_cast<const CEmber_Integer*>(child);
    if (!integer || integer->Is64Bit())
        return false;
    value = static_cast<const CEmber_Integer32*>(integer)->GetValue();
    return true;
}

bool CEmber_Node::GetStringChild(uint32_t classOctet, uint32_t number, char*& text)
{
    CEmber_Node* child = FindChild(classOctet, number);
    if (!child || child->GetType() != eeBerType_UTF8String)
        return false;
    if (typeid(*child) == typeid(CEmber_UTF8String)) {
        char* own = static_cast<const CEmber_UTF8String*>(child)->GetText();
        if (!own)
            return false;
        text = own;
        return true;
    }
    // A plain-mode container may carry a decoded type of 12 too.
    const auto* leaf = dynamic_cast<const CEmber_UTF8String*>(child);
    char* own = leaf ? leaf->GetText() : nullptr;
    if (!own)
        return false;
    text = own;
    return true;
}
