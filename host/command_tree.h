// The command trees: a parsed command record becomes an Ember tree under a
// fresh root, encoded after the 13-octet empty root and sent to the partner
// as one BLOCK_ENCODED.
//
// The last non-zero path number names the parameter container (private
// class), the numbers before it path containers (context class); the value
// is an Integer or UTF8String leaf at application 3 in the parameter
// container. A poll leaves the parameter container out and puts an Integer 1
// at application 32 into the path container above it. Eight shapes in all;
// every other combination sends nothing.
#pragma once

#include "ember/tree/set.h"
#include "ember/values/output_buffer.h"
#include "host/host_state.h"
#include "host/protocol.h"

// One path level of a command tree.
class CPathContainer : public CEmber_AdaptiveSet
{
public:
    explicit CPathContainer(uint32_t number) : CEmber_AdaptiveSet(eeBerClass_ContextSpecific, number, nullptr) {}
};

// The parameter level of a command tree.
class CParameterContainer : public CEmber_AdaptiveSet
{
public:
    explicit CParameterContainer(uint32_t number) : CEmber_AdaptiveSet(eeBerClass_Private, number, nullptr) {}
};

constexpr uint32_t TAG_VALUE = 3; // application class
constexpr uint32_t TAG_POLL = 32; // application class

// The shape a record selects: 1..8, or 0 when it selects none.
int CommandShape(const CCommandRecord& record);

// The trace line written before a shape is built (nullptr for none).
const char* CommandShapeTrace(int shape);

// Encodes the command's block (empty root, then the root holding the tree)
// into out; false, with nothing written, when no shape fits.
bool EncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out);

// The command handler: traces, builds, encodes and sends one BLOCK_ENCODED
// to the partner, or sends nothing.
void HostOnCommand(CHostState& state, const CCommandRecord& record);
