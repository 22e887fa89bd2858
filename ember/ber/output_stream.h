// Octet sink written by every BER writer of the codec.
//
// The identifier, length and content writers append through WriteByte and
// Write; a container without a parent calls Flush once it has written its
// whole encoding. Implementations decide what "written" means.
#pragma once

#include <cstdint>

class CEmber_OutputStream
{
public:
    virtual ~CEmber_OutputStream() = default;

    // Appends one octet.
    virtual void WriteByte(uint8_t octet) = 0;

    // Appends count octets and returns count.
    virtual uint32_t Write(const uint8_t* octets, uint32_t count) = 0;

    // Marks the end of a top-level encoding.
    virtual void Flush() = 0;
};
