#include "ember/tree/root.h"

#include "ember/tree/node_arena.h"

CEmber_Root::CEmber_Root() : CEmber_Sequence(kRootTag.Octet(), kRootTag.Number(), nullptr) {}

CEmber_Root::~CEmber_Root()
{
    Destroy(m_aside);
}

void CEmber_Root::AddChild(CEmber_Node* child, bool update)
{
    const CEmber_Tag tag = child->GetTag().WithoutConstructed();
    if (tag == kAsideTag) {
        if (child != m_aside) {
            if (GetArena() && child->GetArena() != GetArena())
                GetArena()->NoteForeign();
            CEmber_Node* earlier = m_aside;
            m_aside = child;
            Destroy(earlier);
        }
        return;
    }
    CEmber_Sequence::AddChild(child, update);
}
