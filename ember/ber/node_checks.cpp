#include "ember/ber/node_checks.h"

#include "ember/ber/exception.h"
#include "ember/ber/framing.h"
#include "ember/ber/leaf_check.h"
#include "ember/ber/types.h"

#include <algorithm>

namespace {

// Children of a keyed container looked up by a walk; from here on a set.
constexpr size_t kListedKeys = 16;
// Tag numbers below this are kept as bits (four classes of sixteen).
constexpr uint32_t kSmallNumbers = 16;

uint64_t KeyOf(const CEmber_Tag& tag)
{
    return (uint64_t(tag.ClassBits()) << 32) | tag.Number();
}

} // namespace

CEmber_NodeChecks::CEmber_NodeChecks()
{
    m_open.reserve(16);
}

void CEmber_NodeChecks::Reset()
{
    m_open.clear();
    m_nodeCount = 0;
    m_keys.clear();
    m_wideKeys.clear();
    m_wideOwner.clear();
}

[[gnu::always_inline]] inline void CEmber_NodeChecks::Link(CEmber_RawItem& item)
{
    if (m_open.empty()) {
        m_nodeCount = 1;
        return;
    }
    if (++m_nodeCount > kEmberMaxMessageNodes) [[unlikely]]
        item.RaiseError(eeError_MessageTooLarge, EmberErrorText(eeError_MessageTooLarge));
    Open& parent = m_open.back();
    if (!parent.keyed)
        return;
    const CEmber_Tag& tag = item.GetOuterTag();
    if (tag.Number() < kSmallNumbers) {
        const uint64_t bit = uint64_t(1) << ((tag.ClassBits() >> 6) * kSmallNumbers + tag.Number());
        if (parent.smallKeys & bit) [[unlikely]]
            RaiseDuplicate();
        parent.smallKeys |= bit;
        return;
    }
    LinkListed(parent, KeyOf(tag));
}

// Both out of line, so that Link's common path stays small.
[[gnu::noinline]] void CEmber_NodeChecks::RaiseDuplicate()
{
    throw CEmber_Exception(eeError_DuplicateTag);
}

[[gnu::noinline]] void CEmber_NodeChecks::LinkListed(const Open& parent, uint64_t key)
{
    const size_t depth = m_open.size();
    if (!m_wideOwner.empty() && m_wideOwner.back() == depth) {
        if (!m_wideKeys.back().insert(key).second)
            RaiseDuplicate();
        return;
    }
    const auto begin = m_keys.begin() + parent.keysBegin;
    if (std::find(begin, m_keys.end(), key) != m_keys.end())
        RaiseDuplicate();
    if (m_keys.size() - parent.keysBegin < kListedKeys) {
        m_keys.push_back(key);
        return;
    }
    // Wide: its keys move into a set of their own.
    m_wideKeys.emplace_back(m_keys.begin() + parent.keysBegin, m_keys.end());
    m_wideKeys.back().insert(key);
    m_wideOwner.push_back(uint32_t(depth));
    m_keys.resize(parent.keysBegin);
}

void CEmber_NodeChecks::Opened(CEmber_RawItem& item)
{
    // Every container becomes a node; all but Sequences (the root
    // included) are keyed sets.
    Link(item);
    m_open.push_back(Open{0, uint32_t(m_keys.size()), item.GetItemType() != eeBerType_Sequence});
}

bool CEmber_NodeChecks::ValueComplete(CEmber_RawItem& item)
{
    if (!CheckLeaf(item))
        return false;
    Link(item);
    return true;
}

void CEmber_NodeChecks::Closed()
{
    const uint32_t keysBegin = m_open.back().keysBegin;
    const size_t depth = m_open.size();
    m_open.pop_back();
    if (m_keys.size() > keysBegin)
        m_keys.resize(keysBegin);
    if (!m_wideOwner.empty() && m_wideOwner.back() == depth) {
        m_wideOwner.pop_back();
        m_wideKeys.pop_back();
    }
}
