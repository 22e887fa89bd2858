#include "ember/tree/root.h"

CEmber_Root::CEmber_Root() : CEmber_Sequence(kRootTag.Octet(), kRootTag.Number(), nullptr) {}

CEmber_Root::~CEmber_Root() = default;

void CEmber_Root::AddChild(CEmber_Node* child, bool update)
{
    const CEmber_Tag tag = child->GetTag().WithoutConstructed();
    if (tag == kAsideTag) {
        if (child != m_aside.get())
            m_aside.reset(child);
        return;
    }
    CEmber_Sequence::AddChild(child, update);
}
