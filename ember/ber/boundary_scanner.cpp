#include "ember/ber/boundary_scanner.h"

#include "ember/ber/framing.h"
#include "ember/ber/leaf_check.h"

#include <algorithm>
#include <limits>

CEmber_BoundaryScanner::CEmber_BoundaryScanner() = default;

CEmber_BoundaryScanner::~CEmber_BoundaryScanner() = default;

size_t CEmber_BoundaryScanner::GetMessageOctets() const
{
    // The start sequence, then the octets counted inside the root.
    return IsWaiting() ? 0 : sizeof kEmberStartSequence + GetMessageOctetCount();
}

void CEmber_BoundaryScanner::Reset()
{
    CEmber_Reader::Reset();
    m_checks.Reset();
}

size_t CEmber_BoundaryScanner::Scan(const uint8_t* octets, size_t size)
{
    size_t at = 0;
    while (at < size) {
        const uint32_t part =
            uint32_t(std::min<size_t>(size - at, std::numeric_limits<uint32_t>::max()));
        const bool inMessage = !IsWaiting();
        const uint32_t taken = FeedSynchronised(octets + at, part, true);
        at += taken;
        if (taken < part || (inMessage && IsWaiting()))
            break;
    }
    return at;
}

void CEmber_BoundaryScanner::FeedOctets(const uint8_t* octets, uint32_t length)
{
    FeedSynchronised(octets, length, false);
}

bool CEmber_BoundaryScanner::KeepsContent(uint32_t type) const
{
    return LeafReadsContent(type);
}

void CEmber_BoundaryScanner::OnContainerOpened()
{
    m_checks.Opened(*this);
}

void CEmber_BoundaryScanner::OnItemComplete()
{
    if (!IsConstructed()) {
        m_checks.ValueComplete(*this);
        return;
    }
    m_checks.Closed();
    if (m_checks.GetDepth() == 0)
        OnMessageComplete();
}
