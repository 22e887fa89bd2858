// XML-like dumps and one-line descriptions of nodes.

#include "ember/ber/text_list.h"
#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "ember/tree/leaf.h"

#include <cstdio>
#include <string>

namespace {

std::string Indentation(int32_t level)
{
    return std::string(level > 0 ? size_t(level) * 2 : 0, ' ');
}

// The type's name, or its number for a type without a name.
std::string TypeLabel(int32_t type)
{
    const char* name = type >= 0 ? TypeName(uint32_t(type)) : nullptr;
    return name ? std::string(name) : std::to_string(type);
}

} // namespace

void CEmber_Container::Dump(CEmber_TextList& list, int32_t level) const
{
    const std::string indent = Indentation(level);
    const std::string tag = GetTag().ToText();
    list.AppendFormat("%s<%s type=\"%s\">\r\n", indent.c_str(), tag.c_str(),
                      TypeLabel(GetType()).c_str());
    for (const CEmber_Node* child = m_children.First(); child;
         child = CEmber_ChildList::Next(child))
        child->Dump(list, level + 1);
    list.AppendFormat("%s</%s>\r\n", indent.c_str(), tag.c_str());
}

void CEmber_Leaf::Dump(CEmber_TextList& list, int32_t level) const
{
    const std::string tag = GetTag().ToText();
    list.AppendFormat("%s<%s type=\"%s\">", Indentation(level).c_str(), tag.c_str(),
                      TypeLabel(GetType()).c_str());
    RenderValue(list);
    list.AppendFormat("</%s>\r\n", tag.c_str());
}

void CEmber_Node::Describe(std::string& text) const
{
    const int32_t type = GetType();
    const char* name = type >= 0 ? TypeName(uint32_t(type)) : nullptr;
    char line[96];
    char tag[24];
    GetTag().ToText(tag, sizeof tag);
    if (name)
        std::snprintf(line, sizeof line, "Tag: %s Type: %d, %s", tag, int(type), name);
    else
        std::snprintf(line, sizeof line, "Tag: %s Type: %d", tag, int(type));
    text = line;
}

std::string CEmber_Node::GetDescription() const
{
    std::string text;
    Describe(text);
    return text;
}
