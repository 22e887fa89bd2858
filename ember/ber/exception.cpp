#include "ember/ber/exception.h"

#include <iterator>

namespace {

struct ErrorRow
{
    int32_t code;
    const char* message;
};

constexpr ErrorRow kErrors[] = {
    {eeError_Eof, "EOF"},
    {eeError_NotAContainer, "Not a container"},
    {eeError_TerminatorNonZero, "Non-zero byte in terminator"},
    {eeError_ZeroOuterLength, "Zero outer length encountered"},
    {eeError_TooManyTagOctets, "Number of tag octets out of bounds"},
    {eeError_TooManyLengthOctets, "Number of length octets out of bounds"},
    {eeError_UnexpectedTerminator, "Unexpected terminator"},
    {eeError_UnexpectedEndOfContainer, "Unexpected end of container"},
    {eeError_UniversalOuterTag, "Universal outer tag encountered"},
    {eeError_PrimitiveOuterTag, "Primitive outer tag encountered"},
    {eeError_InvalidType, "Invalid BER type encountered"},
    {eeError_NonUniversalInnerTag, "Non-universal inner tag encountered"},
    {eeError_NestingTooDeep, "Nesting depth out of bounds"},
    {eeError_IndefinitePrimitive, "Indefinite length on a primitive element"},
    {eeError_ContentTooLong, "Content length out of bounds"},
    {eeError_MessageTooLarge, "Message size out of bounds"},
    {eeError_ValueOutsideContainer, "Value element outside any container"},
    {eeError_InvalidBoolean, "Invalid Boolean encoding"},
    {eeError_InvalidInteger, "Invalid Integer encoding"},
    {eeError_InvalidInteger64, "Invalid Integer encoding"},
    {eeError_InvalidReal, "Invalid Real encoding"},
    {eeError_InvalidString, "Invalid String encoding"},
    {eeError_InvalidOctetString, "Invalid OctetString encoding"},
    {eeError_InvalidObjectIdentifier, "Invalid ObjectIdentifier encoding"},
    {eeError_InvalidGeneralizedTime, "Invalid GeneralizedTime encoding"},
    {eeError_DuplicateTag, "A node with the specified tag already exists in this container"},
};

} // namespace

const char* EmberErrorMessage(int32_t code)
{
    for (const ErrorRow& row : kErrors)
        if (row.code == code)
            return row.message;
    return nullptr;
}

int EmberErrorCount()
{
    return int(std::size(kErrors));
}

int32_t EmberErrorCodeAt(int index)
{
    return kErrors[index].code;
}

CEmber_Exception::CEmber_Exception(EmberError code)
    : m_code(code), m_message(EmberErrorMessage(code))
{
}
