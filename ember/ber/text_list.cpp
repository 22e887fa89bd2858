#include "ember/ber/text_list.h"

#include <cstdarg>
#include <cstdio>

uint32_t CEmber_TextList::Append(const char* text)
{
    m_pieces.emplace_back(text);
    m_total += uint32_t(m_pieces.back().size());
    return m_total;
}

uint32_t CEmber_TextList::Append(const std::string& text)
{
    m_pieces.push_back(text);
    m_total += uint32_t(text.size());
    return m_total;
}

uint32_t CEmber_TextList::AppendFormat(const char* format, ...)
{
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return Append("");
    }
    if (size_t(length) < sizeof small) {
        va_end(again);
        return Append(small);
    }
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(size_t(length));
    return Append(text);
}

std::string CEmber_TextList::Join() const
{
    std::string joined;
    joined.reserve(m_total);
    for (const std::string& piece : m_pieces)
        joined += piece;
    return joined;
}
