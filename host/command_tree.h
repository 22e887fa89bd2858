// The command trees: a parsed command record becomes an Ember tree under a
// fresh root, encoded after the 13-octet empty root and sent to the partner
// as one BLOCK_ENCODED. The host writes those octets straight from the
// record (host/command_block.h); with the Debug switch on it builds and
// encodes the tree itself, octet for octet the same block.
//
// The last non-zero path number names the parameter container (private
// class), the numbers before it path containers (context class); the value
// is an Integer or UTF8String leaf at application 3 in the parameter
// container. A poll leaves the parameter container out and puts an Integer 1
// at application 32 into the path container above it. Eight shapes in all;
// every other combination sends nothing.
#pragma once

#include "ember/ber/output_buffer.h"
#include "ember/tree/set.h"
#include "host/host_state.h"
#include "protocol/protocol.h"

// One path level of a command tree.
class CPathContainer : public CEmber_AdaptiveSet
{
public:
    explicit CPathContainer(uint32_t number) : CEmber_AdaptiveSet(kPathClass, number, nullptr) {}
};

// The parameter level of a command tree.
class CParameterContainer : public CEmber_AdaptiveSet
{
public:
    explicit CParameterContainer(uint32_t number)
        : CEmber_AdaptiveSet(kParameterClass, number, nullptr)
    {}
};

// The tree shapes, 1 to 8. The path numbers given select the level count;
// for a poll the last one given is not encoded (the poll leaf goes into the
// level above it).
enum ECommandShape : int
{
    eShape_None = 0,             // the record selects no tree
    eShape_FiveLevelInteger = 1, // p1..p5 given, an integer in p5
    eShape_FiveLevelText = 2,    // p1..p5 given, a text in p5
    eShape_FiveLevelPoll = 3,    // p1..p5 given, the poll in p4
    eShape_ThreeLevelPoll = 4,   // p1..p3 given, the poll in p2
    eShape_ThreeLevelText = 5,   // p1..p3 given, a text in p3
    eShape_FourLevelPoll = 6,    // p1..p4 given, the poll in p3
    eShape_FourLevelText = 7,    // p1..p4 given, a text in p4
    eShape_FourLevelInteger = 8, // p1..p4 given, an integer in p4
};

// The leaf a shape ends in.
enum class ECommandLeaf
{
    Integer, // Integer value at TAG_VALUE in the parameter container
    Text,    // UTF8String text at TAG_VALUE in the parameter container
    Poll,    // Integer kPollLeafValue at TAG_POLL in the last path container
};

// One shape: the path numbers given (3, 4 or 5; the last one names the
// parameter container, or is left out for a poll), its leaf, and the trace
// line written before it is built (nullptr for none).
struct CommandShapeRow
{
    ECommandShape shape;
    int levels;
    ECommandLeaf leaf;
    const char* trace;
};

// The row of the shape a record selects; nullptr when it selects none.
const CommandShapeRow* CommandShapeRowFor(const CCommandRecord& record);

// The shape a record selects, eShape_None when it selects none.
ECommandShape CommandShape(const CCommandRecord& record);

// The trace line written before a shape is built (nullptr for none).
const char* CommandShapeTrace(int shape);

// Appends the command's block (empty root, then the root holding the tree)
// to out, written straight from the record; false, with nothing written,
// when no shape fits.
bool EncodeCommand(const CCommandRecord& record, CEmber_OutputBuffer& out);

// The same octets through the tree: the containers and the leaf built and
// linked, added to a fresh root, which is encoded into out before and after.
// Throws std::bad_alloc when memory runs out (out may then hold the empty
// root).
bool EncodeCommandTree(const CCommandRecord& record, CEmber_OutputBuffer& out);

// The command handler: traces, writes and sends one BLOCK_ENCODED to the
// partner, or sends nothing. With the Debug switch on the block comes from
// the tree (EncodeCommandTree), otherwise straight from the record.
void HostOnCommand(CHostState& state, const CCommandRecord& record);
