#include "ember/tree/node_factory.h"

#include "ember/ber/raw_item.h"
#include "ember/ber/types.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"

namespace {

bool IsRootSequence(const CEmber_RawItem& item)
{
    return item.GetItemType() == eeBerType_Sequence && item.GetOuterTag() == kRootTag;
}

} // namespace

std::unique_ptr<CEmber_Node> CreateNode(CEmber_RawItem& item)
{
    const uint32_t classBits = item.GetOuterTag().ClassBits();
    const uint32_t number = item.GetOuterTag().Number();

    if (item.IsConstructed()) {
        if (IsRootSequence(item))
            return std::make_unique<CEmber_Root>();
        if (item.GetItemType() == eeBerType_Sequence)
            return std::make_unique<CEmber_Sequence>(classBits, number, nullptr);
        return std::make_unique<CEmber_Set>(classBits, number, nullptr, true);
    }

    switch (item.GetItemType()) {
    case eeBerType_Boolean:
        return std::make_unique<CEmber_Boolean>(classBits, number, item.GetBoolean());
    case eeBerType_Integer:
        if (item.GetContentLength() <= 4)
            return std::make_unique<CEmber_Integer32>(classBits, number, item.GetInteger());
        return std::make_unique<CEmber_Integer64>(classBits, number, item.GetInteger64());
    case eeBerType_OctetString: {
        auto leaf = std::make_unique<CEmber_OctetString>(
            classBits, number, EmberContentLength{item.GetContentLength()});
        item.GetOctetString(leaf->GetData());
        return leaf;
    }
    case eeBerType_Real:
        return std::make_unique<CEmber_Real>(classBits, number, item.GetReal());
    case eeBerType_UTF8String: {
        auto leaf = std::make_unique<CEmber_UTF8String>(
            classBits, number, EmberContentLength{item.GetContentLength()});
        item.GetString(leaf->GetText());
        return leaf;
    }
    case eeBerType_RelativeObject:
        return std::make_unique<CEmber_RelativeObject>(classBits, number,
                                                       item.GetObjectIdentifier());
    case eeBerType_GeneralizedTime:
        return std::make_unique<CEmber_GeneralizedTime>(classBits, number,
                                                        item.GetGeneralizedTime(), true);
    default:
        return nullptr;
    }
}

std::unique_ptr<CEmber_Node> CreatePlainNode(CEmber_RawItem& item)
{
    std::unique_ptr<CEmber_Node> node;

    if (item.IsConstructed()) {
        std::unique_ptr<CEmber_Container> container;
        if (IsRootSequence(item))
            container = std::make_unique<CEmber_Root>();
        else if (item.GetItemType() == eeBerType_Sequence)
            container = std::make_unique<CEmber_Sequence>();
        else
            container = std::make_unique<CEmber_Set>();
        container->SetType(int32_t(item.GetItemType()));
        node = std::move(container);
    } else {
        switch (item.GetItemType()) {
        case eeBerType_Boolean: {
            auto leaf = std::make_unique<CEmber_Boolean>();
            leaf->SetValue(item.GetBoolean());
            node = std::move(leaf);
            break;
        }
        case eeBerType_Integer:
            if (item.GetContentLength() <= 4) {
                auto leaf = std::make_unique<CEmber_Integer32>();
                leaf->SetValue(item.GetInteger());
                node = std::move(leaf);
            } else {
                auto leaf = std::make_unique<CEmber_Integer64>();
                leaf->SetValue(item.GetInteger64());
                node = std::move(leaf);
            }
            break;
        case eeBerType_OctetString: {
            auto leaf = std::make_unique<CEmber_OctetString>();
            item.GetOctetString(leaf->AllocateData(item.GetContentLength()));
            node = std::move(leaf);
            break;
        }
        case eeBerType_Real: {
            auto leaf = std::make_unique<CEmber_Real>();
            leaf->SetValue(item.GetReal());
            node = std::move(leaf);
            break;
        }
        case eeBerType_UTF8String: {
            auto leaf = std::make_unique<CEmber_UTF8String>();
            item.GetString(leaf->AllocateText(item.GetContentLength()));
            node = std::move(leaf);
            break;
        }
        case eeBerType_RelativeObject: {
            auto leaf = std::make_unique<CEmber_RelativeObject>();
            leaf->SetValue(item.GetObjectIdentifier());
            node = std::move(leaf);
            break;
        }
        case eeBerType_GeneralizedTime: {
            auto leaf = std::make_unique<CEmber_GeneralizedTime>();
            leaf->SetTime(item.GetGeneralizedTime(), true);
            node = std::move(leaf);
            break;
        }
        default:
            return nullptr;
        }
    }
    node->SetTag(item.GetOuterTag());
    return node;
}
