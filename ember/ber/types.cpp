#include "ember/ber/types.h"

namespace {

const char* const kTypeNames[kMaxBerType + 1] = {
    nullptr,
    "Boolean",
    "Integer",
    "Bitstring",
    "OctetString",
    "Null",
    "ObjectIdentifier",
    "ObjectDescriptor",
    "External",
    "Real",
    "Enumerated",
    "EmbeddedPdv",
    "UTF8",
    "RelativeObject",
    nullptr,
    nullptr,
    "Sequence",
    "Set",
    "NumericString",
    "PrintableString",
    "TeletexString",
    "VideotexString",
    "IA5String",
    "UTCTime",
    "GeneralizedTime",
    "GraphicString",
    "VisibleString",
    "GeneralString",
    "UniversalString",
    "UnspecifiedString",
    "BMPString",
};

} // namespace

const char* TypeName(uint32_t type)
{
    return type <= kMaxBerType ? kTypeNames[type] : nullptr;
}
