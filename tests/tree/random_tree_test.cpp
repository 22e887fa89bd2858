// Random trees, linked in random orders, against a reference encoder that
// works from a model of the tree alone (no node caches, no size fields).

#include "ember/ber/output_buffer.h"
#include "ember/ber/real_codec.h"
#include "ember/ber/time_codec.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Octets = std::vector<uint8_t>;

enum class Kind
{
    Boolean,
    Integer32,
    Integer64,
    Real,
    UTF8,
    OctetString,
    RelObject,
    Time,
    Container,
    Sequence,
    Set,
    Adaptive,
    Root
};

struct Model
{
    Kind kind;
    uint32_t cls = 0, number = 0;
    bool flag = false; // Boolean value, as-time, indefinite (base class), index (Set)
    int64_t value = 0; // integers, Real numerator, time, object-identifier pair
    std::string bytes;
    int32_t type = 17; // base class only
    uint32_t key = 0;  // when this container links its children in the mixed order
    std::vector<std::unique_ptr<Model>> children;
    CEmber_Node* node = nullptr;

    bool IsContainer() const { return kind >= Kind::Container; }
    bool SameTag(const Model& o) const { return cls == o.cls && number == o.number; }
};

// ---- reference encoder, from the encoding rules --------------------------

void Base128(Octets& out, uint32_t number)
{
    int shift = 28;
    while (shift > 0 && (number >> shift) == 0)
        shift -= 7;
    for (; shift > 0; shift -= 7)
        out.push_back(uint8_t(0x80 | (number >> shift)));
    out.push_back(uint8_t(number & 0x7F));
}

// Long forms take as many octets as the length needs as a signed number.
void Length(Octets& out, size_t length)
{
    if (length < 128)
        return out.push_back(uint8_t(length));
    int n = 1;
    while (n < 4 && length >= (size_t(1) << (8 * n - 1)))
        ++n;
    out.push_back(uint8_t(0x80 | n));
    for (int i = n - 1; i >= 0; --i)
        out.push_back(uint8_t(length >> (8 * i)));
}

Octets Integer(int64_t value)
{
    int n = 8;
    while (n > 1 && (value >> (8 * n - 9)) == (value < 0 ? -1 : 0))
        --n;
    Octets out;
    for (int i = n - 1; i >= 0; --i)
        out.push_back(uint8_t(uint64_t(value) >> (8 * i)));
    return out;
}

// Identifier octets, then the length (or 80), then the content.
Octets Tlv(Octets out, const Octets& content, bool indefinite)
{
    if (indefinite)
        out.push_back(0x80);
    else
        Length(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Octets OuterTag(const Model& m)
{
    Octets out{uint8_t(m.cls | 0x20 | (m.number < 31 ? m.number : 0x1F))};
    if (m.number >= 31)
        Base128(out, m.number);
    return out;
}

// REAL and time contents come from the primitive codecs, tested on their own.
template <typename Write>
Octets Written(Write write)
{
    CEmber_OutputBuffer buffer;
    write(buffer);
    return Octets(buffer.Data(), buffer.Data() + buffer.Used());
}

Octets Reference(const Model& m)
{
    Octets content;
    uint8_t type = 0;
    switch (m.kind) {
    case Kind::Boolean:
        type = 1, content = {uint8_t(m.flag ? 0xFF : 0)};
        break;
    case Kind::Integer32:
    case Kind::Integer64:
        type = 2, content = Integer(m.value);
        break;
    case Kind::Real:
        type = 9, content = Written([&](auto& o) { EncodeReal(o, double(m.value) / 7); });
        break;
    case Kind::UTF8:
        type = 12, content.assign(m.bytes.begin(), m.bytes.end());
        break;
    case Kind::OctetString:
        type = 4, content.assign(m.bytes.begin(), m.bytes.end());
        break;
    case Kind::RelObject:
        type = 13;
        Base128(content, uint32_t(uint64_t(m.value) >> 32));
        Base128(content, uint32_t(m.value));
        break;
    case Kind::Time:
        type = m.flag ? 24 : 2;
        content = m.flag ? Written([&](auto& o) { EncodeGeneralizedTime(o, uint64_t(m.value)); })
                         : Integer(m.value);
        break;
    default: {
        for (const auto& child : m.children) {
            const Octets c = Reference(*child);
            content.insert(content.end(), c.begin(), c.end());
        }
        int32_t t = m.kind == Kind::Container ? m.type : m.kind == Kind::Set ? 17 : 16;
        if (m.kind == Kind::Adaptive) {
            t = 17;
            for (size_t i = 0; i < m.children.size(); ++i)
                for (size_t j = 0; j < i; ++j)
                    t = m.children[i]->SameTag(*m.children[j]) ? 16 : t;
        }
        const bool indefinite = m.kind == Kind::Sequence || m.kind == Kind::Root ||
                                (m.kind == Kind::Container && m.flag);
        if (indefinite)
            content.insert(content.end(), {0, 0, 0, 0});
        return Tlv(OuterTag(m), Tlv({uint8_t(0x20 | t)}, content, indefinite), indefinite);
    }
    }
    return Tlv(OuterTag(m), Tlv({type}, content, false), false);
}

// ---- random models -------------------------------------------------------

class Generator
{
public:
    explicit Generator(uint32_t seed) : m_rng(seed) {}

    uint32_t Below(uint32_t n) { return uint32_t(m_rng() % n); }
    uint64_t Bits64() { return (uint64_t(m_rng()) << 32) | m_rng(); }

    std::unique_ptr<Model> Tree()
    {
        m_nodes = 0;
        auto top = Container(3);
        if (Below(5) == 0)
            top->kind = Kind::Root, top->cls = 0x40, top->number = kRootTag.Number();
        return top;
    }

private:
    // Tag numbers of 1 to 5 base-128 octets; no aside tag.
    void Tag(Model& child, const Model& parent)
    {
        const bool unique = parent.kind == Kind::Set && parent.flag;
        if (!unique && !parent.children.empty() && Below(5) == 0) {
            const Model& sibling = *parent.children[Below(uint32_t(parent.children.size()))];
            child.cls = sibling.cls, child.number = sibling.number;
            return;
        }
        auto clash = [&] {
            return std::any_of(parent.children.begin(), parent.children.end(),
                               [&](const auto& s) { return unique && s->SameTag(child); });
        };
        do {
            child.cls = Below(4) << 6;
            child.number = Below(2) == 0 ? Below(31) : uint32_t(Bits64() >> (32 + 7 * Below(5)));
        } while ((child.cls == 0x40 && child.number == kAsideTag.Number()) || clash());
    }

    // Sizes around 0, 127/128, 255/256 and 32767/32768 octets.
    std::string Bytes(bool text)
    {
        static const uint32_t kBands[] = {0, 110, 240, 32750};
        std::string bytes(kBands[Below(100) == 0 ? 3 : Below(3)] + Below(31), '\0');
        for (char& c : bytes)
            c = char(text ? 1 + Below(255) : Below(256));
        return bytes;
    }

    std::unique_ptr<Model> Leaf()
    {
        auto m = std::make_unique<Model>();
        m->kind = Kind(Below(8));
        m->flag = Below(2) == 1;
        m->value = int64_t(Bits64()) >> Below(64);
        if (m->kind == Kind::Integer32 || m->kind == Kind::Real)
            m->value = int32_t(m->value);
        if (m->kind == Kind::Time && Below(20) != 0)
            m->value &= INT64_MAX; // the rest have no calendar form
        if (m->kind == Kind::UTF8 || m->kind == Kind::OctetString)
            m->bytes = Bytes(m->kind == Kind::UTF8);
        return m;
    }

    std::unique_ptr<Model> Container(int depth)
    {
        auto m = std::make_unique<Model>();
        m->kind = Kind(int(Kind::Container) + int(Below(4)));
        m->type = Below(2) == 0 ? 16 : 17;
        m->flag = Below(4) != 0;
        m->key = Below(1000);
        for (uint32_t i = Below(7); i > 0 && ++m_nodes < 60; --i) {
            auto child = depth > 0 && Below(3) == 0 ? Container(depth - 1) : Leaf();
            Tag(*child, *m);
            m->children.push_back(std::move(child));
        }
        return m;
    }

    std::mt19937 m_rng;
    int m_nodes = 0;
};

// ---- building and linking the nodes --------------------------------------

CEmber_Node* Build(const Model& m, CEmber_Container* parent)
{
    const uint32_t c = m.cls, n = m.number;
    const EmberContentLength size{uint32_t(m.bytes.size())};
    switch (m.kind) {
    case Kind::Boolean:
        return new CEmber_Boolean(c, n, m.flag);
    case Kind::Integer32:
        return new CEmber_Integer32(c, n, int32_t(m.value));
    case Kind::Integer64:
        return new CEmber_Integer64(c, n, m.value);
    case Kind::Real:
        return new CEmber_Real(c, n, double(m.value) / 7);
    case Kind::RelObject:
        return new CEmber_RelativeObject(c, n, uint64_t(m.value));
    case Kind::Time:
        return new CEmber_GeneralizedTime(c, n, uint64_t(m.value), m.flag);
    case Kind::UTF8: {
        if (m.flag)
            return new CEmber_UTF8String(c, n, m.bytes.c_str());
        auto* leaf = new CEmber_UTF8String(c, n, size);
        std::memcpy(leaf->GetText(), m.bytes.data(), m.bytes.size());
        return leaf;
    }
    case Kind::OctetString: {
        auto* leaf = new CEmber_OctetString(c, n, size);
        std::copy(m.bytes.begin(), m.bytes.end(), leaf->GetData());
        return leaf;
    }
    case Kind::Container:
        return new CEmber_Container(c, n, parent, m.type, m.flag);
    case Kind::Sequence:
        return new CEmber_Sequence(c, n, parent);
    case Kind::Set:
        return new CEmber_Set(c, n, parent, m.flag);
    case Kind::Adaptive:
        return new CEmber_AdaptiveSet(c, n, parent);
    default:
        return new CEmber_Root();
    }
}

// With update, or without and then an explicit UpdateLength.
void Link(Model& parent, Model& child, Generator& g)
{
    auto* container = static_cast<CEmber_Container*>(parent.node);
    const bool update = g.Below(4) != 0;
    container->AddChild(child.node, update);
    if (!update)
        container->UpdateLength();
}

struct Edge
{
    Model* parent;
    Model* child;
    int depth;
};

void Collect(Model& m, int depth, std::vector<Edge>& edges)
{
    m.node = Build(m, nullptr);
    for (auto& child : m.children) {
        edges.push_back({&m, child.get(), depth});
        Collect(*child, depth + 1, edges);
    }
}

// Containers join their parent from their constructor; Integer and text
// leaves come from the typed-child operations half of the time.
void BuildLinked(Model& m, Model* parent, Generator& g)
{
    auto* container = parent ? static_cast<CEmber_Container*>(parent->node) : nullptr;
    if (container && m.kind == Kind::Integer32 && g.Below(2) == 0) {
        container->AddIntegerChild(m.cls, m.number, int32_t(m.value));
        m.node = container->GetChildren().Last();
    } else if (container && m.kind == Kind::UTF8 && g.Below(2) == 0) {
        container->AddStringChild(m.cls, m.number, m.bytes.c_str());
        m.node = container->GetChildren().Last();
    } else {
        m.node = Build(m, m.IsContainer() ? container : nullptr);
        if (container && !m.IsContainer())
            Link(*parent, m, g);
    }
    for (auto& child : m.children)
        BuildLinked(*child, &m, g);
}

// Lengths, parent links and lookups (the first child with a tag is found).
void CheckNodes(const Model& m, std::vector<uint32_t>& contentLengths)
{
    ASSERT_EQ(m.node->GetEncodedLength(), Reference(m).size());
    if (!m.IsContainer())
        return;
    contentLengths.push_back(static_cast<CEmber_Container*>(m.node)->GetContentLength());
    for (const auto& child : m.children) {
        ASSERT_EQ(child->node->GetParent(), m.node);
        size_t first = 0;
        while (!m.children[first]->SameTag(*child))
            ++first;
        ASSERT_EQ(m.node->FindChild(child->cls, child->number), m.children[first]->node);
        CheckNodes(*child, contentLengths);
    }
}

TEST(RandomTree, EncodingMatchesTheReferenceWhateverTheLinkingOrder)
{
    Generator g(20240611);
    std::vector<uint32_t> contentLengths;
    for (int tree = 0; tree < 400; ++tree) {
        SCOPED_TRACE(tree);
        const auto model = g.Tree();
        const uint32_t order = g.Below(4);
        if (order == 3) {
            BuildLinked(*model, nullptr, g);
        } else {
            // Edges in pre-order link top-down; deepest first links bottom-up;
            // by a random key per parent, parents link before or after
            // their own children do.
            std::vector<Edge> edges;
            Collect(*model, 0, edges);
            std::stable_sort(edges.begin(), edges.end(), [order](const Edge& a, const Edge& b) {
                return order == 0 ? a.depth > b.depth : order == 2 && a.parent->key < b.parent->key;
            });
            for (const Edge& e : edges)
                Link(*e.parent, *e.child, g);
        }
        std::unique_ptr<CEmber_Node> top(model->node);

        const std::string expected = testing_support::ToHex(Reference(*model));
        testing_support::RecordingStream out;
        top->Encode(out);
        ASSERT_EQ(testing_support::ToHex(out.octets), expected);
        EXPECT_EQ(out.flushes, 1);
        EXPECT_EQ(out.flushedAt, out.octets.size());
        CheckNodes(*model, contentLengths);
    }

    // The trees did cross the length boundaries.
    int bands[4] = {};
    for (uint32_t length : contentLengths)
        ++bands[length < 128 ? 0 : length < 256 ? 1 : length < 32768 ? 2 : 3];
    for (int count : bands)
        EXPECT_GT(count, 0);
}

} // namespace
