// The codec's one exception type and the registry of its error codes.
//
// Every codec failure is thrown as a CEmber_Exception carrying a code from
// the registry below and an English message. Codes: 1 and 3 basic, 101-116
// framing and reader limits, 201-208 content, 1001 containers. The registry
// is the only place the messages are spelled; everything else reads it.
#pragma once

#include <cstdint>
#include <string>

enum EmberError : int32_t
{
    eeError_Eof = 1,
    eeError_NotAContainer = 3,
    eeError_TerminatorNonZero = 101,
    eeError_ZeroOuterLength = 102,
    eeError_TooManyTagOctets = 103,
    eeError_TooManyLengthOctets = 104,
    eeError_UnexpectedTerminator = 105,
    eeError_UnexpectedEndOfContainer = 106,
    eeError_UniversalOuterTag = 107,
    eeError_PrimitiveOuterTag = 108,
    eeError_InvalidType = 109,
    eeError_NonUniversalInnerTag = 110,
    eeError_NestingTooDeep = 111,
    eeError_IndefinitePrimitive = 112,
    eeError_ContentTooLong = 113,
    eeError_MessageTooLarge = 114,
    eeError_ValueOutsideContainer = 115,
    eeError_InvalidBoolean = 201,
    eeError_InvalidInteger = 202,
    eeError_InvalidInteger64 = 203,
    eeError_InvalidReal = 204,
    eeError_InvalidString = 205,
    eeError_InvalidOctetString = 206,
    eeError_InvalidObjectIdentifier = 207,
    eeError_InvalidGeneralizedTime = 208,
    eeError_DuplicateTag = 1001,
};

// The registered message of a code, or nullptr for an unknown code.
const char* EmberErrorMessage(int32_t code);

// Number of registry rows and access by index, for tools and tests.
int EmberErrorCount();
int32_t EmberErrorCodeAt(int index);

class CEmber_Exception
{
public:
    CEmber_Exception(int32_t code, std::string message)
        : m_code(code), m_message(std::move(message)) {}

    // The exception of a registered code with its registered message.
    explicit CEmber_Exception(EmberError code);

    int32_t GetCode() const { return m_code; }
    const std::string& GetMessage() const { return m_message; }

private:
    int32_t m_code;
    std::string m_message;
};
