#include "ember/ber/types.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Types, NamesOfTheUniversalTypes)
{
    std::string all;
    for (uint32_t type = 0; type <= 30; ++type)
        all += std::to_string(type) + ":" + (TypeName(type) ? TypeName(type) : "") + " ";
    EXPECT_EQ(all, "0: 1:Boolean 2:Integer 3:Bitstring 4:OctetString 5:Null 6:ObjectIdentifier "
                   "7:ObjectDescriptor 8:External 9:Real 10:Enumerated 11:EmbeddedPdv 12:UTF8 "
                   "13:RelativeObject 14: 15: 16:Sequence 17:Set 18:NumericString "
                   "19:PrintableString 20:TeletexString 21:VideotexString 22:IA5String 23:UTCTime "
                   "24:GeneralizedTime 25:GraphicString 26:VisibleString 27:GeneralString "
                   "28:UniversalString 29:UnspecifiedString 30:BMPString ");
    for (uint32_t type : {0u, 14u, 15u, 31u, 255u, 0xFFFFFFFFu})
        EXPECT_EQ(TypeName(type), nullptr) << type;
}

} // namespace
