// The lazy container bookkeeping against the eager reference model
// (tests/support/eager_tree.h): random trees built in random orders, with
// random interleavings of AddChild with and without update, RemoveChild,
// UpdateLength, ChildLengthChanged, SetType and SetTag, nested growth of
// containers that are already linked, and reads of every observable value
// (lengths, header octets, type, encoding, child order, FindChild, parents,
// duplicate errors). Half of the trees compare everything after every step;
// the other half read one random value now and then, so that pending work
// piles up across many changes, and compare everything at the end.
//
// Then the tree reader in both modes, fed random messages in random
// blocks: a mirror builds the reference tree from the reader's hooks and
// compares the nodes while the tree is still being read.

#include "ember/ber/exception.h"
#include "ember/ber/output_buffer.h"
#include "ember/tree/leaf.h"
#include "ember/tree/root.h"
#include "ember/tree/set.h"
#include "ember/tree/stream_reader.h"
#include "ember/tree/string_leaf.h"
#include "tests/support/eager_tree.h"
#include "tests/support/event_log_reader.h"
#include "tests/support/heap_tree_reader.h"
#include "tests/support/tree_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using testing_support::RecordingStream;

std::vector<uint8_t> Encoded(const CEmber_Node& node)
{
    RecordingStream out;
    node.Encode(out);
    return out.octets;
}

std::vector<uint8_t> Encoded(const CEager_Node& node)
{
    std::vector<uint8_t> out;
    node.Encode(out);
    return out;
}

// Counts of what the comparisons reached.
struct Reach
{
    uint64_t trees = 0;
    uint64_t steps = 0;
    uint64_t reads = 0;
};

// The pairs of nodes (library, reference) of one test, and the checks.
class Pairs
{
public:
    explicit Pairs(Reach& reach) : m_reach(reach) {}

    void Add(CEmber_Node* real, CEager_Node* ref)
    {
        m_map[real] = ref;
        m_back[ref] = real;
        m_nodes.push_back(real);
    }
    CEager_Node* Ref(const CEmber_Node* real) const
    {
        auto it = m_map.find(real);
        return it == m_map.end() ? nullptr : it->second;
    }
    // Forgets a subtree (walked in the reference) that is destroyed.
    void Forget(const CEager_Node* ref)
    {
        std::vector<const CEager_Node*> pending{ref};
        while (!pending.empty()) {
            const CEager_Node* node = pending.back();
            pending.pop_back();
            auto it = m_back.find(node);
            if (it != m_back.end()) {
                m_map.erase(it->second);
                m_nodes.erase(std::remove(m_nodes.begin(), m_nodes.end(), it->second),
                              m_nodes.end());
                m_back.erase(it);
            }
            if (!node->IsContainer())
                continue;
            const auto* c = static_cast<const CEager_Container*>(node);
            for (const CEager_Node* child = c->GetFirstChild(); child;
                 child = child->GetNextSibling())
                pending.push_back(child);
            if (auto* root = dynamic_cast<const CEager_Root*>(node); root && root->GetAsideChild())
                pending.push_back(root->GetAsideChild());
        }
    }
    // Before a node is added to a root: the aside child it would replace.
    void ForgetReplacedAside(const CEager_Container* parent, const CEager_Node* child)
    {
        const auto* root = dynamic_cast<const CEager_Root*>(parent);
        if (root && root->GetAsideChild() && root->GetAsideChild() != child &&
            child->GetTag().WithoutConstructed() == kAsideTag)
            Forget(root->GetAsideChild());
    }
    void Clear()
    {
        m_map.clear();
        m_back.clear();
        m_nodes.clear();
    }
    const std::vector<CEmber_Node*>& Nodes() const { return m_nodes; }

    // One observable of a node, chosen by `which` (0 to kObservables - 1).
    static constexpr int kObservables = 9;
    void Check(const CEmber_Node* real, int which)
    {
        const CEager_Node* ref = Ref(real);
        ASSERT_NE(nullptr, ref);
        ++m_reach.reads;
        if (!real->IsContainer()) {
            ASSERT_FALSE(ref->IsContainer());
            ASSERT_EQ(ref->GetEncodedLength(), real->GetEncodedLength());
            ASSERT_EQ(Ref(real->GetParent()), static_cast<const CEager_Node*>(ref->GetParent()));
            return;
        }
        ASSERT_TRUE(ref->IsContainer());
        const auto* c = static_cast<const CEmber_Container*>(real);
        const auto* e = static_cast<const CEager_Container*>(ref);
        switch (which) {
        case 0:
            ASSERT_EQ(e->GetEncodedLength(), c->GetEncodedLength());
            break;
        case 1:
            ASSERT_EQ(e->GetContentLength(), c->GetContentLength());
            break;
        case 2:
            ASSERT_EQ(e->GetHeaderLength(), c->GetHeaderLength());
            break;
        case 3: {
            const uint32_t n = c->GetHeaderLength();
            ASSERT_EQ(e->GetHeaderLength(), n);
            ASSERT_EQ(std::vector<uint8_t>(e->GetHeader(), e->GetHeader() + n),
                      std::vector<uint8_t>(c->GetHeader(), c->GetHeader() + n));
            break;
        }
        case 4:
            ASSERT_EQ(e->GetType(), c->GetType());
            ASSERT_EQ(e->IsIndefinite(), c->IsIndefinite());
            if (auto* set = dynamic_cast<const CEmber_Set*>(c)) {
                ASSERT_EQ(static_cast<const CEager_Set*>(e)->IsIndexEnabled(),
                          set->IsIndexEnabled());
            }
            break;
        case 5:
            ASSERT_EQ(Encoded(*e), Encoded(*c));
            break;
        case 6: {
            // Child order.
            const CEager_Node* r = e->GetFirstChild();
            EmberPosition position = c->GetFirstChildPosition();
            while (position) {
                const CEmber_Node* child = c->GetNextChild(position);
                ASSERT_EQ(Ref(child), r);
                ASSERT_EQ(child->GetParent(), c);
                r = r->GetNextSibling();
            }
            ASSERT_EQ(nullptr, r);
            ASSERT_EQ(Ref(c->GetParent()), static_cast<const CEager_Node*>(e->GetParent()));
            break;
        }
        case 7: {
            // FindChild for every child's tag and for tags that may be absent.
            auto* mc = const_cast<CEmber_Container*>(c);
            auto* me = const_cast<CEager_Container*>(e);
            for (const CEmber_Node* child = c->GetChildren().First(); child;
                 child = CEmber_ChildList::Next(child)) {
                const CEmber_Tag tag = child->GetTag();
                ASSERT_EQ(Ref(mc->FindChild(tag.Octet(), tag.Number())),
                          me->FindChild(tag.Octet(), tag.Number()));
            }
            for (uint32_t number = 0; number < 4; ++number)
                ASSERT_EQ(Ref(mc->FindChild(0x80, number * 9 + 1)),
                          me->FindChild(0x80, number * 9 + 1));
            break;
        }
        default:
            ASSERT_EQ(e->GetEncodedLength(), c->GetEncodedLength());
            ASSERT_EQ(e->GetContentLength(), c->GetContentLength());
            break;
        }
    }
    void CheckAll()
    {
        for (const CEmber_Node* node : m_nodes)
            for (int which = 0; which < kObservables; ++which) {
                Check(node, which);
                if (testing::Test::HasFatalFailure())
                    return;
            }
    }

private:
    Reach& m_reach;
    std::unordered_map<const CEmber_Node*, CEager_Node*> m_map;
    std::unordered_map<const CEager_Node*, const CEmber_Node*> m_back;
    std::vector<CEmber_Node*> m_nodes;
};

// ---- random building -------------------------------------------------------

struct Top
{
    CEmber_Node* real;
    CEager_Node* ref;
};

class TreeBuilder
{
public:
    TreeBuilder(std::mt19937& rng, Pairs& pairs) : m_rng(rng), m_pairs(pairs) {}
    ~TreeBuilder()
    {
        for (const Top& top : m_tops) {
            delete top.real;
            delete top.ref;
        }
    }

    uint32_t Pick(uint32_t n) { return uint32_t(m_rng() % n); }

    // A tag from a small range, so that duplicates happen; sometimes a long
    // number (multi-octet identifier, long headers).
    CEmber_Tag RandomTag()
    {
        static const uint32_t kClasses[] = {0x40, 0x80, 0x80, 0xC0};
        const uint32_t number = Pick(8) == 0 ? 100000u + Pick(3) : Pick(12) + 1;
        return CEmber_Tag::FromClass(kClasses[Pick(4)], number);
    }

    void NewLeaf()
    {
        const CEmber_Tag tag = RandomTag();
        CEmber_Node* leaf = nullptr;
        switch (Pick(5)) {
        case 0:
            leaf = new CEmber_Integer32(tag.Octet(), tag.Number(), int32_t(m_rng()));
            break;
        case 1:
            leaf = new CEmber_Integer64(tag.Octet(), tag.Number(), int64_t(m_rng()) << 20);
            break;
        case 2: {
            // Texts of up to 300 octets move containers across length forms.
            const std::string text(Pick(4) == 0 ? Pick(300) : Pick(20), char('a' + Pick(26)));
            leaf = new CEmber_UTF8String(tag.Octet(), tag.Number(), text.c_str());
            break;
        }
        case 3:
            leaf = new CEmber_Boolean(tag.Octet(), tag.Number(), Pick(2) == 0);
            break;
        default:
            leaf = new CEmber_Real(tag.Octet(), tag.Number(), double(m_rng()) / 7.0);
            break;
        }
        auto* ref = new CEager_Leaf(*leaf);
        m_pairs.Add(leaf, ref);
        m_tops.push_back({leaf, ref});
    }

    void NewContainer()
    {
        const CEmber_Tag tag = RandomTag();
        const uint32_t c = tag.Octet(), n = tag.Number();
        CEmber_Container* real = nullptr;
        CEager_Container* ref = nullptr;
        switch (Pick(7)) {
        case 0:
            real = new CEmber_Sequence(c, n, nullptr);
            ref = new CEager_Sequence(c, n, nullptr);
            break;
        case 1: {
            const bool index = Pick(4) != 0;
            real = new CEmber_Set(c, n, nullptr, index);
            ref = new CEager_Set(c, n, nullptr, index);
            break;
        }
        case 2:
        case 3:
            real = new CEmber_AdaptiveSet(c, n, nullptr);
            ref = new CEager_AdaptiveSet(c, n, nullptr);
            break;
        case 4:
            real = new CEmber_Root;
            ref = new CEager_Root;
            break;
        case 5: {
            // Bare, as the plain mode makes them.
            if (Pick(2)) {
                real = new CEmber_Set;
                ref = new CEager_Set;
            } else {
                real = new CEmber_Sequence;
                ref = new CEager_Sequence;
            }
            const int32_t type = int32_t(Pick(3) == 0 ? 31 + Pick(3) : 16 + Pick(2));
            real->SetType(type);
            ref->SetType(type);
            real->SetTag(tag);
            ref->SetTag(tag);
            break;
        }
        default: {
            const bool indefinite = Pick(2) == 0;
            const int32_t type = int32_t(16 + Pick(2));
            real = new CEmber_Container(c, n, nullptr, type, indefinite);
            ref = new CEager_Container(c, n, nullptr, type, indefinite);
            break;
        }
        }
        m_pairs.Add(real, ref);
        m_tops.push_back({real, ref});
    }

    // The top of the tree holding node.
    static const CEmber_Node* TopOf(const CEmber_Node* node)
    {
        while (node->GetParent())
            node = node->GetParent();
        return node;
    }

    CEmber_Container* RandomContainer()
    {
        std::vector<CEmber_Node*> containers;
        for (CEmber_Node* node : m_pairs.Nodes())
            if (node->IsContainer() && m_pairs.Ref(node))
                containers.push_back(node);
        if (containers.empty())
            return nullptr;
        return static_cast<CEmber_Container*>(containers[Pick(uint32_t(containers.size()))]);
    }

    void Link()
    {
        CEmber_Container* parent = RandomContainer();
        if (!parent || m_tops.empty())
            return;
        const size_t index = Pick(uint32_t(m_tops.size()));
        const Top top = m_tops[index];
        if (TopOf(parent) == top.real)
            return;
        const bool update = Pick(3) != 0;
        auto* refParent = static_cast<CEager_Container*>(m_pairs.Ref(parent));
        m_pairs.ForgetReplacedAside(refParent, top.ref);
        int realCode = 0, refCode = 0;
        try {
            parent->AddChild(top.real, update);
        } catch (const CEmber_Exception& e) {
            realCode = e.GetCode();
        }
        try {
            refParent->AddChild(top.ref, update);
        } catch (const CEmber_Exception& e) {
            refCode = e.GetCode();
        }
        ASSERT_EQ(refCode, realCode);
        if (realCode == 0) {
            m_tops.erase(m_tops.begin() + long(index));
            // A root holds an aside child without a parent link: it is no
            // longer anyone's to delete but the root's.
        }
        ASSERT_EQ(top.real->GetParent() == nullptr, top.ref->GetParent() == nullptr);
    }

    void Remove()
    {
        CEmber_Container* parent = RandomContainer();
        if (!parent)
            return;
        auto* refParent = static_cast<CEager_Container*>(m_pairs.Ref(parent));
        CEmber_Tag tag = RandomTag();
        if (!parent->GetChildren().IsEmpty() && Pick(4) != 0) {
            const CEmber_Node* child = parent->GetChildren().First();
            for (uint32_t skip = Pick(parent->GetChildren().Count()); skip > 0; --skip)
                child = CEmber_ChildList::Next(child);
            tag = child->GetTag();
        }
        // The first child with that tag goes, with its subtree.
        const CEmber_Node* victim = nullptr;
        for (const CEmber_Node* child = parent->GetChildren().First(); child;
             child = CEmber_ChildList::Next(child))
            if (child->GetTag() == tag) {
                victim = child;
                break;
            }
        if (victim)
            m_pairs.Forget(m_pairs.Ref(victim));
        const bool removed = parent->RemoveChild(tag.Octet(), tag.Number());
        ASSERT_EQ(refParent->RemoveChild(tag.Octet(), tag.Number()), removed);
        ASSERT_EQ(victim != nullptr, removed);
    }

    void Touch()
    {
        CEmber_Container* node = RandomContainer();
        if (!node)
            return;
        auto* ref = static_cast<CEager_Container*>(m_pairs.Ref(node));
        switch (Pick(4)) {
        case 0:
            node->UpdateLength();
            ref->UpdateLength();
            break;
        case 1: {
            // A child that reports a change of its length (0 mostly: a pure
            // re-encode up the chain).
            const uint32_t delta = Pick(3) == 0 ? Pick(300) : 0;
            const uint32_t base = ref->GetContentLength();
            node->ChildLengthChanged(nullptr, base, base + delta);
            ref->ChildLengthChanged(nullptr, base, base + delta);
            break;
        }
        case 2:
            if (!node->GetParent()) {
                const int32_t type = int32_t(16 + Pick(2));
                node->SetType(type);
                ref->SetType(type);
            }
            break;
        default:
            // Tags change only on nodes that are in no container.
            if (!node->GetParent() && !dynamic_cast<CEmber_Set*>(node) &&
                node->GetChildren().IsEmpty() == (Pick(2) == 0)) {
                const CEmber_Tag tag = RandomTag();
                node->SetTag(tag);
                ref->SetTag(tag);
            }
            break;
        }
    }

    void Step()
    {
        const uint32_t what = Pick(20);
        if (what < 5)
            NewLeaf();
        else if (what < 9)
            NewContainer();
        else if (what < 16)
            Link();
        else if (what < 18)
            Remove();
        else
            Touch();
    }

private:
    std::mt19937& m_rng;
    Pairs& m_pairs;
    std::vector<Top> m_tops;
};

TEST(LazyDifferential, RandomTreesAgreeWithTheEagerModelAtEveryStep)
{
    Reach reach;
    std::mt19937 rng(20261208);
    constexpr int kTrees = 3000;
    for (int tree = 0; tree < kTrees; ++tree) {
        Pairs pairs(reach);
        TreeBuilder builder(rng, pairs);
        const bool everyStep = tree % 2 == 0;
        const int steps = 20 + int(rng() % 120);
        for (int step = 0; step < steps; ++step) {
            builder.Step();
            ASSERT_FALSE(HasFatalFailure()) << "tree " << tree << " step " << step;
            ++reach.steps;
            if (everyStep) {
                pairs.CheckAll();
            } else if (rng() % 4 == 0 && !pairs.Nodes().empty()) {
                const auto& nodes = pairs.Nodes();
                pairs.Check(nodes[rng() % nodes.size()], int(rng() % Pairs::kObservables));
            }
            ASSERT_FALSE(HasFatalFailure()) << "tree " << tree << " step " << step;
        }
        pairs.CheckAll();
        ASSERT_FALSE(HasFatalFailure()) << "tree " << tree << " at the end";
        ++reach.trees;
    }
    std::printf("[ reach    ] %llu trees, %llu steps, %llu reads compared\n",
                (unsigned long long)reach.trees, (unsigned long long)reach.steps,
                (unsigned long long)reach.reads);
}

// ---- the reader --------------------------------------------------------------

// Mirrors the tree the reader builds into the reference model, from the
// hooks, and compares nodes while the tree is read.
class MirrorReader : public CEmber_StreamReader
{
public:
    MirrorReader(uint8_t mode, std::mt19937& rng, Reach& reach)
        : CEmber_StreamReader(mode), m_rng(rng), m_pairs(reach)
    {}
    ~MirrorReader() override { CEmber_StreamReader::Reset(); }

    int complete = 0;

    void OnNodeOpened(CEmber_Node* node) override
    {
        if (m_open.empty())
            DropMirror();
        CEager_Container* ref = MakeRef(node);
        if (m_open.empty()) {
            m_root.reset(ref);
        } else {
            auto* parent = static_cast<CEager_Container*>(m_pairs.Ref(m_open.back()));
            m_pairs.ForgetReplacedAside(parent, ref);
            parent->AddChild(ref, GetMode() != 0);
        }
        m_pairs.Add(node, ref);
        m_open.push_back(node);
        MaybeCheck();
    }

    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node->IsContainer()) {
            m_open.pop_back();
            if (m_open.empty()) {
                ++complete;
                m_pairs.CheckAll();
                return;
            }
        } else {
            auto* ref = new CEager_Leaf(*node);
            auto* parent = static_cast<CEager_Container*>(m_pairs.Ref(m_open.back()));
            m_pairs.ForgetReplacedAside(parent, ref);
            parent->AddChild(ref, GetMode() != 0);
            m_pairs.Add(node, ref);
        }
        MaybeCheck();
    }

    void Reset() override
    {
        CEmber_StreamReader::Reset();
        DropMirror();
    }

private:
    void DropMirror()
    {
        m_pairs.Clear();
        m_root.reset();
        m_open.clear();
    }

    CEager_Container* MakeRef(CEmber_Node* node)
    {
        const auto* c = static_cast<CEmber_Container*>(node);
        const CEmber_Tag tag = node->GetTag();
        CEager_Container* ref = nullptr;
        if (GetMode()) {
            if (dynamic_cast<CEmber_Root*>(node))
                ref = new CEager_Root;
            else if (dynamic_cast<CEmber_Set*>(node))
                ref = new CEager_Set(tag.Octet(), tag.Number(), nullptr, true);
            else
                ref = new CEager_Sequence(tag.Octet(), tag.Number(), nullptr);
            return ref;
        }
        if (dynamic_cast<CEmber_Root*>(node))
            ref = new CEager_Root;
        else if (dynamic_cast<CEmber_Set*>(node))
            ref = new CEager_Set;
        else
            ref = new CEager_Sequence;
        ref->SetType(c->GetType());
        ref->SetTag(tag);
        return ref;
    }

    void MaybeCheck()
    {
        const auto& nodes = m_pairs.Nodes();
        if (nodes.empty() || m_rng() % 3 != 0)
            return;
        m_pairs.Check(nodes[m_rng() % nodes.size()], int(m_rng() % Pairs::kObservables));
    }

    std::mt19937& m_rng;
    Pairs m_pairs;
    std::unique_ptr<CEager_Node> m_root;
    std::vector<CEmber_Node*> m_open;
};

// A random message: nested Sequences, Sets (some holding repeated tags),
// the aside tag and nested roots now and then, leaves of several types.
void FillRandom(CEmber_Container& container, std::mt19937& rng, int depth)
{
    const int children = int(rng() % 6);
    for (int i = 0; i < children; ++i) {
        const uint32_t cls = (rng() % 3 + 1) << 6;
        const uint32_t number = rng() % 5 == 0 ? 0xFFFFACDD : rng() % 9 + 1;
        if (depth > 0 && rng() % 2) {
            std::unique_ptr<CEmber_Container> child;
            switch (rng() % 4) {
            case 0:
                child = std::make_unique<CEmber_Sequence>(cls, number, nullptr);
                break;
            case 1:
                child = std::make_unique<CEmber_Root>();
                break;
            default:
                // Type 17 without an index: may repeat tags (1001 on reading).
                child = std::make_unique<CEmber_Container>(cls, number, nullptr, 17, false);
                break;
            }
            FillRandom(*child, rng, depth - 1);
            container.AddChild(child.release(), true);
        } else if (rng() % 3 == 0) {
            const std::string text(rng() % 150, 'x');
            container.AddChild(new CEmber_UTF8String(cls, number, text.c_str()), true);
        } else {
            container.AddChild(new CEmber_Integer32(cls, number, int32_t(rng())), true);
        }
    }
}

TEST(LazyDifferential, ReaderTreesAgreeWithTheEagerModelInBothModesAndAnyBlocks)
{
    Reach reach;
    std::mt19937 rng(8122026);
    int messages = 0;
    for (uint8_t mode : {uint8_t(1), uint8_t(0)}) {
        for (int round = 0; round < 300; ++round) {
            std::vector<uint8_t> stream;
            for (int m = 0; m < 4; ++m) {
                CEmber_Root root;
                FillRandom(root, rng, 4);
                const std::vector<uint8_t> octets = Encoded(root);
                stream.insert(stream.end(), octets.begin(), octets.end());
                stream.push_back(uint8_t(rng())); // garbage between messages
                ++messages;
            }
            if (rng() % 4 == 0)
                stream[rng() % stream.size()] ^= uint8_t(1 + rng() % 255);
            MirrorReader reader(mode, rng, reach);
            for (size_t at = 0; at < stream.size();) {
                const size_t block = std::min<size_t>(stream.size() - at, 1 + rng() % 64);
                reader.FeedBlock(stream.data() + at, uint32_t(block));
                ASSERT_FALSE(HasFatalFailure()) << "mode " << int(mode) << " round " << round;
                at += block;
                ++reach.steps;
            }
            reach.trees += uint64_t(reader.complete);
        }
    }
    EXPECT_GT(reach.trees, uint64_t(messages) / 2);
    std::printf("[ reach    ] %d messages, %llu trees read, %llu blocks, %llu reads compared\n",
                messages, (unsigned long long)reach.trees, (unsigned long long)reach.steps,
                (unsigned long long)reach.reads);
}

// ---- trees in arenas against trees on the heap ------------------------------

// One reader's transcript: every hook with its node, each finished tree's
// dump and encoding, every error, in order; Finish adds the tree left at the
// end (a message cut off).
template <typename Reader>
class TranscriptReader : public Reader
{
public:
    explicit TranscriptReader(uint8_t mode) : Reader(mode) {}

    void OnNodeOpened(CEmber_Node* node) override
    {
        text += "open " + testing_support::NodeLine(*node) + "\n";
    }
    void OnNodeComplete(CEmber_Node* node) override
    {
        text += "done " + testing_support::NodeLine(*node) + "\n";
        if (node == this->GetRoot())
            Tree(*node);
    }
    void OnError(const CEmber_Exception& error) override
    {
        text += "error " + std::to_string(error.GetCode()) + " " + error.GetMessage() + "\n";
    }
    const std::string& Finish()
    {
        text += "left\n";
        if (this->GetRoot())
            Tree(*this->GetRoot());
        return text;
    }

    std::string text;

private:
    void Tree(const CEmber_Node& root)
    {
        CEmber_TextList dump;
        root.Dump(dump, 0);
        text += dump.Join();
        text += "encoded " + testing_support::EncodeToHex(root) + "\n";
    }
};

// Feeds the stream in blocks of `block` octets (0: sizes from rng) to the
// product's reader and to the heap reference; false on a difference.
bool SameTranscripts(const std::vector<uint8_t>& stream, uint8_t mode, size_t block,
                     std::mt19937& rng)
{
    TranscriptReader<CEmber_StreamReader> arena(mode);
    TranscriptReader<testing_support::HeapStreamReader> heap(mode);
    for (size_t at = 0; at < stream.size();) {
        const size_t n = std::min<size_t>(stream.size() - at, block ? block : 1 + rng() % 300);
        arena.FeedBlock(stream.data() + at, uint32_t(n));
        heap.FeedBlock(stream.data() + at, uint32_t(n));
        at += n;
    }
    const std::string& expected = heap.Finish();
    const std::string& actual = arena.Finish();
    EXPECT_EQ(expected, actual) << "mode " << int(mode) << ", blocks of " << block;
    return expected == actual;
}

// Messages that reach the arena's large blocks and index tables: a Set of
// 9,000 children (its index grows past the large-block size), texts and
// octet strings beyond it, a duplicate tag at the end of a wide Set.
std::vector<uint8_t> LargeMessages()
{
    std::vector<uint8_t> stream;
    auto add = [&stream](CEmber_Root& root) {
        const std::vector<uint8_t> octets = Encoded(root);
        stream.insert(stream.end(), octets.begin(), octets.end());
    };
    {
        CEmber_Root root;
        auto* set = new CEmber_Set(0x80, 1, &root, true);
        for (uint32_t n = 0; n < 9000; ++n)
            set->AddIntegerChild(0x80, n, int32_t(n * 7));
        const std::string text(70000, 't');
        root.AddChild(new CEmber_UTF8String(0x80, 2, text.c_str()), true);
        auto* octets = new CEmber_OctetString(0x80, 3, EmberContentLength{100000});
        for (uint32_t i = 0; i < octets->GetLength(); ++i)
            octets->GetData()[i] = uint8_t(i * 31);
        root.AddChild(octets, true);
        add(root);
    }
    {
        // Type 17 without an index: the reader refuses the second tag 5.
        CEmber_Root root;
        auto* wide = new CEmber_Container(0x80, 4, &root, 17, false);
        for (uint32_t n = 0; n < 300; ++n)
            wide->AddIntegerChild(0x80, n, 1);
        wide->AddIntegerChild(0x80, 5, 2);
        add(root);
        add(root);
    }
    return stream;
}

std::vector<std::vector<uint8_t>> CorpusFiles()
{
    std::vector<std::vector<uint8_t>> files;
    const std::string source = KORVANE_SOURCE_DIR;
    std::vector<std::filesystem::path> paths{source + "/data/console_capture.bin"};
    for (const auto& entry :
         std::filesystem::directory_iterator(source + "/fuzz/corpus/stream_reader"))
        paths.push_back(entry.path());
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

TEST(ArenaDifferential, ReaderTreesDumpEncodeAndFailAsHeapTreesDo)
{
    std::mt19937 rng(9122026);
    uint64_t streams = 0, octets = 0, feeds = 0;
    auto check = [&](const std::vector<uint8_t>& stream, std::initializer_list<size_t> blocks) {
        ++streams;
        octets += stream.size();
        for (uint8_t mode : {uint8_t(1), uint8_t(0)})
            for (size_t block : blocks) {
                ++feeds;
                if (!SameTranscripts(stream, mode, block, rng))
                    return false;
            }
        return true;
    };
    for (const std::vector<uint8_t>& file : CorpusFiles())
        ASSERT_TRUE(check(file, {1, 7, 64, 4096, 0}));
    ASSERT_TRUE(check(LargeMessages(), {7, 4096, 0}));
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> stream;
        for (int m = 0; m < 3; ++m) {
            CEmber_Root root;
            FillRandom(root, rng, 4);
            const std::vector<uint8_t> message = Encoded(root);
            stream.insert(stream.end(), message.begin(), message.end());
            stream.push_back(uint8_t(rng()));
        }
        // Damage now and then, and a message cut off at the end.
        for (int hits = int(rng() % 3); hits > 0; --hits)
            stream[rng() % stream.size()] ^= uint8_t(1 + rng() % 255);
        if (round % 5 == 0)
            stream.resize(stream.size() - rng() % (stream.size() / 2));
        ASSERT_TRUE(check(stream, {round % 8 == 0 ? size_t(1) : size_t(64), 0}))
            << "round " << round;
    }
    std::printf("[ reach    ] %llu streams, %llu octets, %llu feeds compared\n",
                (unsigned long long)streams, (unsigned long long)octets, (unsigned long long)feeds);
}

} // namespace
