// The codec's one exception type and the registry of its error codes.
//
// Every codec failure is thrown as a CEmber_Exception carrying a code from
// the registry below and an English message. Codes: 1 and 3 basic, 101-115
// framing and reader limits, 201-208 content, 1001 containers. The registry
// is the only place the messages are spelled; everything else reads it.
#pragma once

#include <cstdint>
#include <string>

// The registry: one row per code (name, code, message). The enumeration and
// the message table are both made from it, so no code is without a message.
#define KORVANE_EMBER_ERRORS(ROW)                                                                  \
    ROW(eeError_Eof, 1, "EOF")                                                                     \
    ROW(eeError_NotAContainer, 3, "Not a container")                                               \
    ROW(eeError_TerminatorNonZero, 101, "Non-zero byte in terminator")                             \
    ROW(eeError_ZeroOuterLength, 102, "Zero outer length encountered")                             \
    ROW(eeError_TooManyTagOctets, 103, "Number of tag octets out of bounds")                       \
    ROW(eeError_TooManyLengthOctets, 104, "Number of length octets out of bounds")                 \
    ROW(eeError_UnexpectedTerminator, 105, "Unexpected terminator")                                \
    ROW(eeError_UnexpectedEndOfContainer, 106, "Unexpected end of container")                      \
    ROW(eeError_UniversalOuterTag, 107, "Universal outer tag encountered")                         \
    ROW(eeError_PrimitiveOuterTag, 108, "Primitive outer tag encountered")                         \
    ROW(eeError_InvalidType, 109, "Invalid BER type encountered")                                  \
    ROW(eeError_NonUniversalInnerTag, 110, "Non-universal inner tag encountered")                  \
    ROW(eeError_NestingTooDeep, 111, "Nesting depth out of bounds")                                \
    ROW(eeError_IndefinitePrimitive, 112, "Indefinite length on a primitive element")              \
    ROW(eeError_ContentTooLong, 113, "Content length out of bounds")                               \
    ROW(eeError_MessageTooLarge, 114, "Message size out of bounds")                                \
    ROW(eeError_ValueOutsideContainer, 115, "Value element outside any container")                 \
    ROW(eeError_InvalidBoolean, 201, "Invalid Boolean encoding")                                   \
    ROW(eeError_InvalidInteger, 202, "Invalid Integer encoding")                                   \
    ROW(eeError_InvalidInteger64, 203, "Invalid Integer encoding")                                 \
    ROW(eeError_InvalidReal, 204, "Invalid Real encoding")                                         \
    ROW(eeError_InvalidString, 205, "Invalid String encoding")                                     \
    ROW(eeError_InvalidOctetString, 206, "Invalid OctetString encoding")                           \
    ROW(eeError_InvalidObjectIdentifier, 207, "Invalid ObjectIdentifier encoding")                 \
    ROW(eeError_InvalidGeneralizedTime, 208, "Invalid GeneralizedTime encoding")                   \
    ROW(eeError_DuplicateTag, 1001,                                                                \
        "A node with the specified tag already exists in this container")

enum EmberError : int32_t
{
#define KORVANE_EMBER_ERROR_ENUMERATOR(name, code, message) name = code,
    KORVANE_EMBER_ERRORS(KORVANE_EMBER_ERROR_ENUMERATOR)
#undef KORVANE_EMBER_ERROR_ENUMERATOR
};

// The registered message of a code, or nullptr for an unknown code.
const char* EmberErrorMessage(int32_t code);

// The registered message of a code, or "Unregistered error" for a number
// the registry does not hold (never nullptr).
const char* EmberErrorText(int32_t code);

// Number of registry rows and access by index, for tools and tests.
int EmberErrorCount();
int32_t EmberErrorCodeAt(int index);

class CEmber_Exception
{
public:
    CEmber_Exception(int32_t code, std::string message)
        : m_code(code), m_message(std::move(message))
    {}

    // The exception of a code with its registered message (EmberErrorText).
    explicit CEmber_Exception(EmberError code);

    int32_t GetCode() const { return m_code; }
    const std::string& GetMessage() const { return m_message; }

private:
    int32_t m_code;
    std::string m_message;
};
