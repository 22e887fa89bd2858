// The content rules of a value element, as the octets alone decide them.
//
// The node factory makes a leaf of a primitive element only when its
// content getter takes the content; the boundary scanner, which makes no
// nodes, applies the same rules at the same octets.
#pragma once

#include <cstdint>

class CEmber_RawItem;

// For a primitive item: runs the getter checks the factory runs on it,
// raising what they raise, without making a node; returns whether the
// factory makes a leaf of it. The content is read only for the types
// LeafReadsContent names (the others may leave it unset).
bool CheckLeaf(CEmber_RawItem& item);
// Whether checking a primitive item of this type reads its content.
bool LeafReadsContent(uint32_t type);
