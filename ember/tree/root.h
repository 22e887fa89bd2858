// The root container under which every Ember message stands.
//
// A Sequence with the application tag 0xFFFFACDC, so every message begins
// with the nine octets 7F 8F FF FE D9 5C 80 30 80. A child with the aside tag
// (application 0xFFFFACDD) is held aside: not listed, not counted, not
// encoded, without a parent link, destroyed with the root. A later aside
// child replaces and destroys the earlier one.
#pragma once

#include "ember/tree/container.h"

constexpr CEmber_Tag kRootTag = CEmber_Tag::FromClass(eeBerClass_Application, 0xFFFFACDC);
constexpr CEmber_Tag kAsideTag = CEmber_Tag::FromClass(eeBerClass_Application, 0xFFFFACDD);

class CEmber_Root : public CEmber_Sequence
{
public:
    // An empty root: encoded length 13.
    CEmber_Root();
    ~CEmber_Root() override;

    void AddChild(CEmber_Node* child, bool update) override;

    CEmber_Node* GetAsideChild() const { return m_aside; }

private:
    CEmber_Node* m_aside = nullptr;
};
