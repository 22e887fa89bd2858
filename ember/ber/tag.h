// The tag of a BER element: class bits, constructed bit and number.
//
// The tag octet holds the class in bits 0xC0 and, for tags taken from or
// meant for identifier octets, the constructed flag in 0x20; the low five
// bits are always zero. The empty tag (octet 0, number 0) means "no outer
// tag read yet" to the reader, which is sound because an outer tag is never
// universal.
#pragma once

#include <cstdint>
#include <string>

enum EmberBerClass : uint8_t
{
    eeBerClass_Universal = 0x00,
    eeBerClass_Application = 0x40,
    eeBerClass_ContextSpecific = 0x80,
    eeBerClass_Private = 0xC0,
};

constexpr uint8_t kBerClassMask = 0xC0;
constexpr uint8_t kBerConstructed = 0x20;

class CEmber_Tag
{
public:
    // The empty tag.
    constexpr CEmber_Tag() = default;

    // From class bits and number: keeps only the class bits (octet & 0xC0).
    static constexpr CEmber_Tag FromClass(uint32_t classBits, uint32_t number)
    {
        return CEmber_Tag(uint8_t(classBits & kBerClassMask), number);
    }

    // From identifier bits and number: keeps class and constructed bits
    // (octet & 0xE0).
    static constexpr CEmber_Tag FromIdentifier(uint32_t identifierBits, uint32_t number)
    {
        return CEmber_Tag(uint8_t(identifierBits & (kBerClassMask | kBerConstructed)), number);
    }

    constexpr uint8_t Octet() const { return m_octet; }
    constexpr uint32_t Number() const { return m_number; }
    constexpr uint8_t ClassBits() const { return m_octet & kBerClassMask; }
    constexpr bool IsConstructed() const { return (m_octet & kBerConstructed) != 0; }
    constexpr bool IsEmpty() const { return m_octet == 0 && m_number == 0; }

    // The same tag without the constructed bit.
    constexpr CEmber_Tag WithoutConstructed() const { return CEmber_Tag(ClassBits(), m_number); }

    // Equal when both tag octets (constructed bit included) and numbers are.
    friend constexpr bool operator==(const CEmber_Tag& a, const CEmber_Tag& b)
    {
        return a.m_octet == b.m_octet && a.m_number == b.m_number;
    }

    // "A-1", "C-0", "U-16!C": class letter, '-', unsigned number, and "!C"
    // when the constructed bit is set.
    std::string ToText() const;

    // Writes the same text into out (at least 16 octets); returns its length.
    int ToText(char* out, size_t size) const;

private:
    constexpr CEmber_Tag(uint8_t octet, uint32_t number) : m_octet(octet), m_number(number) {}

    uint8_t m_octet = 0;
    uint32_t m_number = 0;
};

// "U", "A", "C" or "P" for class bits 0x00, 0x40, 0x80, 0xC0 (only bits 0xC0
// of the argument are looked at).
const char* ClassLetter(uint32_t classBits);
