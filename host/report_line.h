// Builds report lines without printf: the same text "%d" and "%s" give, for
// the two report layouts, at a fraction of the cost (a snapshot of a console
// yields hundreds of reports).
#pragma once

#include <cstddef>
#include <cstdint>

class CReportLine
{
public:
    // Writes into out, which holds size octets (the text and its NUL); the
    // first `used` octets are already written (a prefix kept from before).
    CReportLine(char* out, size_t size, size_t used = 0) : m_out(out), m_size(size), m_length(used)
    {}

    // Octets appended so far (also those that did not fit).
    size_t Length() const { return m_length; }

    // Appends value as "%d" writes it.
    CReportLine& Integer(int32_t value)
    {
        char digits[12];
        size_t count = 0;
        uint32_t magnitude = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
        do {
            digits[count++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0)
            digits[count++] = '-';
        if (m_length + count < m_size) {
            // Room for all of it: no check per character.
            char* out = m_out + m_length;
            m_length += count;
            while (count != 0)
                *out++ = digits[--count];
            return *this;
        }
        while (count != 0)
            Char(digits[--count]);
        return *this;
    }

    CReportLine& Char(char c)
    {
        if (m_length + 1 < m_size)
            m_out[m_length] = c;
        ++m_length;
        return *this;
    }

    CReportLine& Text(const char* text)
    {
        while (*text)
            Char(*text++);
        return *this;
    }

    // Terminates the line; its length, or -1 when it did not fit (the field
    // then holds a cut text that must not be used).
    int Finish()
    {
        if (m_size == 0)
            return -1;
        m_out[m_length < m_size ? m_length : m_size - 1] = '\0';
        return m_length < m_size ? int(m_length) : -1;
    }

private:
    char* m_out;
    size_t m_size;
    size_t m_length;
};
