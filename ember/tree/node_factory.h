// Turns the element the reader has just read into a new node.
//
// Encodable mode (CreateNode) builds every node with its tag and value
// through the normal constructors, so the tree can be encoded again; plain
// mode (CreatePlainNode) builds bare nodes for reading only. A constructed
// item always gives a container (a Sequence with the root tag gives a
// CEmber_Root wherever it stands); a primitive item of a type without a leaf
// class gives nullptr. Getter errors (201-208, "EOF") pass out unchanged and
// leave no node behind.
//
// Each mode makes its node either with new (the caller owns it) or in an
// arena (the node and its storage are the arena's; after a getter error what
// was taken stays in the arena until its rewind). Both give the same node.
#pragma once

#include "ember/tree/node.h"

#include <cstdint>
#include <memory>

class CEmber_RawItem;
class CEmber_NodeArena;

std::unique_ptr<CEmber_Node> CreateNode(CEmber_RawItem& item);
std::unique_ptr<CEmber_Node> CreatePlainNode(CEmber_RawItem& item);
CEmber_Node* CreateNodeInArena(CEmber_RawItem& item, CEmber_NodeArena& arena);
CEmber_Node* CreatePlainNodeInArena(CEmber_RawItem& item, CEmber_NodeArena& arena);
