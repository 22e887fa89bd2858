#include "ember/ber/tag.h"

#include <cstdio>

const char* ClassLetter(uint32_t classBits)
{
    static const char* const kLetters[4] = {"U", "A", "C", "P"};
    return kLetters[(classBits & kBerClassMask) >> 6];
}

int CEmber_Tag::ToText(char* out, size_t size) const
{
    return std::snprintf(out, size, "%s-%u%s", ClassLetter(m_octet), unsigned(m_number),
                         IsConstructed() ? "!C" : "");
}

std::string CEmber_Tag::ToText() const
{
    char text[24];
    ToText(text, sizeof text);
    return text;
}
