#include "ember/ber/leaf_check.h"

#include "ember/ber/raw_item.h"
#include "ember/ber/types.h"

bool LeafReadsContent(uint32_t type)
{
    // The text and octet-string getters only copy: they refuse no
    // primitive content.
    switch (type) {
    case eeBerType_Boolean:
    case eeBerType_Integer:
    case eeBerType_Real:
    case eeBerType_RelativeObject:
    case eeBerType_GeneralizedTime:
        return true;
    default:
        return false;
    }
}

bool CheckLeaf(CEmber_RawItem& item)
{
    switch (item.GetItemType()) {
    case eeBerType_Boolean:
        item.GetBoolean();
        return true;
    case eeBerType_Integer:
        if (item.GetContentLength() <= 4)
            item.GetInteger();
        else
            item.GetInteger64();
        return true;
    case eeBerType_OctetString:
    case eeBerType_UTF8String:
        return true;
    case eeBerType_Real:
        item.GetReal();
        return true;
    case eeBerType_RelativeObject:
        item.GetObjectIdentifier();
        return true;
    case eeBerType_GeneralizedTime:
        item.GetGeneralizedTime();
        return true;
    default:
        return false;
    }
}
