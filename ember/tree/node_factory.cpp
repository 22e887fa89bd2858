#include "ember/tree/node_factory.h"

#include "ember/ber/raw_item.h"
#include "ember/ber/types.h"
#include "ember/tree/leaf.h"
#include "ember/tree/node_arena.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"

namespace {

bool IsRootSequence(const CEmber_RawItem& item)
{
    return item.GetItemType() == eeBerType_Sequence && item.GetOuterTag() == kRootTag;
}

// Nodes made with new, held by a std::unique_ptr until handed out.
struct HeapMaker
{
    template <typename T>
    using Ptr = std::unique_ptr<T>;

    template <typename T, typename... Args>
    Ptr<T> Make(Args&&... args)
    {
        return std::make_unique<T>(std::forward<Args>(args)...);
    }
    template <typename T>
    Ptr<T> MakeStored(uint32_t classBits, uint32_t number, uint32_t length)
    {
        return std::make_unique<T>(classBits, number, EmberContentLength{length});
    }
    template <typename T>
    Ptr<T> MakeBare(const CEmber_Tag& tag)
    {
        auto node = std::make_unique<T>();
        node->SetTag(tag);
        return node;
    }
};

// A pointer to a node of the arena; it owns nothing.
template <typename T>
class ArenaPtr
{
public:
    ArenaPtr() = default;
    explicit ArenaPtr(T* node) : m_node(node) {}
    template <typename U>
    ArenaPtr(ArenaPtr<U>&& other) : m_node(other.get())
    {}
    T* get() const { return m_node; }
    T* operator->() const { return m_node; }
    T* release() const { return m_node; }

private:
    T* m_node = nullptr;
};

struct ArenaMaker
{
    template <typename T>
    using Ptr = ArenaPtr<T>;

    template <typename T, typename... Args>
    Ptr<T> Make(Args&&... args)
    {
        return Ptr<T>(arena.Make<T>(std::forward<Args>(args)...));
    }
    template <typename T>
    Ptr<T> MakeStored(uint32_t classBits, uint32_t number, uint32_t length)
    {
        return Ptr<T>(arena.Make<T>(classBits, number, EmberContentLength{length}, arena));
    }
    template <typename T>
    Ptr<T> MakeBare(const CEmber_Tag& tag)
    {
        return Ptr<T>(arena.MakeBare<T>(tag));
    }

    CEmber_NodeArena& arena;
};

template <typename Maker>
typename Maker::template Ptr<CEmber_Node> MakeNode(CEmber_RawItem& item, Maker& maker)
{
    using NodePtr = typename Maker::template Ptr<CEmber_Node>;
    const uint32_t classBits = item.GetOuterTag().ClassBits();
    const uint32_t number = item.GetOuterTag().Number();

    if (item.IsConstructed()) {
        if (IsRootSequence(item))
            return maker.template Make<CEmber_Root>();
        if (item.GetItemType() == eeBerType_Sequence)
            return maker.template Make<CEmber_Sequence>(classBits, number, nullptr);
        return maker.template Make<CEmber_Set>(classBits, number, nullptr, true);
    }

    switch (item.GetItemType()) {
    case eeBerType_Boolean:
        return maker.template Make<CEmber_Boolean>(classBits, number, item.GetBoolean());
    case eeBerType_Integer:
        if (item.GetContentLength() <= 4)
            return maker.template Make<CEmber_Integer32>(classBits, number, item.GetInteger());
        return maker.template Make<CEmber_Integer64>(classBits, number, item.GetInteger64());
    case eeBerType_OctetString: {
        auto leaf = maker.template MakeStored<CEmber_OctetString>(classBits, number,
                                                                  item.GetContentLength());
        item.GetOctetString(leaf->GetData());
        return leaf;
    }
    case eeBerType_Real:
        return maker.template Make<CEmber_Real>(classBits, number, item.GetReal());
    case eeBerType_UTF8String: {
        auto leaf = maker.template MakeStored<CEmber_UTF8String>(classBits, number,
                                                                 item.GetContentLength());
        item.GetString(leaf->GetText());
        return leaf;
    }
    case eeBerType_RelativeObject:
        return maker.template Make<CEmber_RelativeObject>(classBits, number,
                                                          item.GetObjectIdentifier());
    case eeBerType_GeneralizedTime:
        return maker.template Make<CEmber_GeneralizedTime>(classBits, number,
                                                           item.GetGeneralizedTime(), true);
    default:
        return NodePtr();
    }
}

template <typename Maker>
typename Maker::template Ptr<CEmber_Node> MakePlainNode(CEmber_RawItem& item, Maker& maker)
{
    // Every bare node gets the item's tag as made; the root, built with its
    // tag, gets it (the same) after its type.
    const CEmber_Tag tag = item.GetOuterTag();
    if (item.IsConstructed()) {
        typename Maker::template Ptr<CEmber_Container> container;
        if (IsRootSequence(item)) {
            container = maker.template Make<CEmber_Root>();
            container->SetType(int32_t(item.GetItemType()));
            container->SetTag(tag);
            return container;
        }
        if (item.GetItemType() == eeBerType_Sequence)
            container = maker.template MakeBare<CEmber_Sequence>(tag);
        else
            container = maker.template MakeBare<CEmber_Set>(tag);
        container->SetType(int32_t(item.GetItemType()));
        return container;
    }
    switch (item.GetItemType()) {
    case eeBerType_Boolean: {
        auto leaf = maker.template MakeBare<CEmber_Boolean>(tag);
        leaf->SetValue(item.GetBoolean());
        return leaf;
    }
    case eeBerType_Integer:
        if (item.GetContentLength() <= 4) {
            auto leaf = maker.template MakeBare<CEmber_Integer32>(tag);
            leaf->SetValue(item.GetInteger());
            return leaf;
        } else {
            auto leaf = maker.template MakeBare<CEmber_Integer64>(tag);
            leaf->SetValue(item.GetInteger64());
            return leaf;
        }
    case eeBerType_OctetString: {
        auto leaf = maker.template MakeBare<CEmber_OctetString>(tag);
        item.GetOctetString(leaf->AllocateData(item.GetContentLength()));
        return leaf;
    }
    case eeBerType_Real: {
        auto leaf = maker.template MakeBare<CEmber_Real>(tag);
        leaf->SetValue(item.GetReal());
        return leaf;
    }
    case eeBerType_UTF8String: {
        auto leaf = maker.template MakeBare<CEmber_UTF8String>(tag);
        item.GetString(leaf->AllocateText(item.GetContentLength()));
        return leaf;
    }
    case eeBerType_RelativeObject: {
        auto leaf = maker.template MakeBare<CEmber_RelativeObject>(tag);
        leaf->SetValue(item.GetObjectIdentifier());
        return leaf;
    }
    case eeBerType_GeneralizedTime: {
        auto leaf = maker.template MakeBare<CEmber_GeneralizedTime>(tag);
        leaf->SetTime(item.GetGeneralizedTime(), true);
        return leaf;
    }
    default:
        return typename Maker::template Ptr<CEmber_Node>();
    }
}

} // namespace

std::unique_ptr<CEmber_Node> CreateNode(CEmber_RawItem& item)
{
    HeapMaker maker;
    return MakeNode(item, maker);
}

std::unique_ptr<CEmber_Node> CreatePlainNode(CEmber_RawItem& item)
{
    HeapMaker maker;
    return MakePlainNode(item, maker);
}

CEmber_Node* CreateNodeInArena(CEmber_RawItem& item, CEmber_NodeArena& arena)
{
    ArenaMaker maker{arena};
    return MakeNode(item, maker).get();
}

CEmber_Node* CreatePlainNodeInArena(CEmber_RawItem& item, CEmber_NodeArena& arena)
{
    ArenaMaker maker{arena};
    return MakePlainNode(item, maker).get();
}
