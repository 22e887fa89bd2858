// Ordered list of text pieces, appended piece by piece and joined at the end.
//
// Value renderings, dumps and the reader's located error texts are built with
// it. AppendFormat takes a printf format; 64-bit integers use PRId64/PRIX64
// and doubles "%f" so the texts are the same with every C runtime.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CEmber_TextList
{
public:
    CEmber_TextList() = default;

    // Adds a copy of text at the end; returns the new total length.
    uint32_t Append(const char* text);
    uint32_t Append(const std::string& text);

    // Formats with printf rules and appends the result.
    uint32_t AppendFormat(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // All pieces in order as one text. The list is unchanged.
    std::string Join() const;

    uint32_t Total() const
    {
        return m_total;
    }
    size_t PieceCount() const
    {
        return m_pieces.size();
    }
    const std::string& Piece(size_t index) const
    {
        return m_pieces[index];
    }

private:
    std::vector<std::string> m_pieces;
    uint32_t m_total = 0;
};
