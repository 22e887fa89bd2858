// Finds where console messages begin and end in an octet stream without
// building their trees.
//
// The scanner follows a stream exactly as a CEmber_StreamReader does and
// tells the same story at every octet: it drops octets until the nine-octet
// start sequence, then runs the same octet machine (identifier and length
// octets, definite and indefinite lengths, terminators, nesting) with the
// same framing checks and reader limits (codes 101 to 114), and goes back to
// waiting after the message's root closes or after an error. Every error
// comes out at the same octet with the same code and text as from the
// stream reader.
//
// Errors the tree-building reader finds beyond the framing: a value's
// content that its getter refuses (201 to 208, and "EOF" from a content that
// ends too early), a second child with the same tag in a keyed container
// (1001), more than kEmberMaxMessageNodes nodes in one message
// (114). A message that breaks on one of these ends there for the stream
// reader: it waits for the next start sequence, so the rest of the message
// is octets between messages, where a keep-alive or a start sequence is
// taken as such. A scanner blind to them would place the end of that
// message elsewhere, so it checks them too, at the same octets: it counts
// the nodes the factory would make, keeps the tags of the children of every
// open keyed container, and runs the leaves' content rules (CheckLeaf)
// on values of the types whose getters can refuse a content, collecting
// only those contents. All other content octets are skipped unread.
//
// Memory: the open containers, the child tags of the open keyed containers
// (at most one per node) and one collected content (at most
// CEmber_Reader::kMaxContentLength octets).
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/raw_item.h"

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

class CEmber_BoundaryScanner : public CEmber_RawItem
{
public:
    CEmber_BoundaryScanner();
    ~CEmber_BoundaryScanner() override;

    // Takes octets in order until they are used up or a message has ended
    // (read whole, or broken off by an error); returns the octets taken,
    // the one that ended the message included.
    size_t Scan(const uint8_t* octets, size_t size);
    // Takes one octet.
    void Feed(uint8_t octet) { Scan(&octet, 1); }

    // Forgets everything and waits for the next start sequence.
    void Reset();

    // 0..8 while waiting (start octets matched so far), -1 inside a message.
    int32_t GetMatchPosition() const { return m_matchPosition; }
    bool IsWaiting() const { return m_matchPosition >= 0; }
    uint32_t GetDepth() const { return uint32_t(m_stack.size()); }
    // Octets of the message at hand taken so far (0 while waiting): what a
    // stream reader holds of it.
    size_t GetMessageOctets() const;

    // Adds the location of the element, as the reader does.
    [[noreturn]] void RaiseError(int32_t code, const char* message) override;

protected:
    // A message's root closed.
    virtual void OnMessageComplete() {}
    // An error broke the message off (the scanner then waits again).
    virtual void OnError(const CEmber_Exception& /*error*/) {}

private:
    enum State : uint8_t
    {
        State_Identifier,
        State_Length,
        State_Content,
        State_Terminator,
    };

    struct Open
    {
        CEmber_Tag tag;          // outer tag, class bits only
        uint32_t type;           // universal type of its inner tag
        uint32_t declaredLength; // IndefiniteLength for the indefinite form
        uint32_t consumed;       // octets counted inside it so far
        bool keyed;              // refuses a second child with the same tag
        uint32_t keysBegin;      // its children's tags start here in m_keys
    };

    // Runs the octet machine over the octets until they are used up or the
    // message ended; an error is handled here (OnError, Reset).
    size_t Run(const uint8_t* octets, size_t size);
    void Step(uint8_t octet);
    bool OnIdentifierOctet(uint8_t octet);
    bool OnLengthOctet(uint8_t octet);
    bool OnContentOctet(uint8_t octet);
    bool OnTerminatorOctet(uint8_t octet);
    bool CompleteValue();
    void CloseFinished();
    void CloseTop();
    void StartField(State state);
    void CheckFitsInTop(uint32_t needed);
    // A node the factory makes joins the top container: counted, and its
    // tag checked against its keyed parent.
    void LinkNode(const CEmber_Tag& tag);

    int32_t m_matchPosition = 0;
    State m_state = State_Identifier;
    uint32_t m_fieldCount = 0;
    uint32_t m_expected = 0;
    // The identifier or length octets at hand (at most 8 are ever kept).
    uint8_t m_field[8] = {};
    // Content octets still to come in the content state.
    uint32_t m_contentLeft = 0;
    // Whether the content at hand is collected for a check.
    bool m_collect = false;
    std::vector<uint8_t> m_collected;
    std::vector<Open> m_stack;
    uint32_t m_messageOctets = 0;
    uint32_t m_nodeCount = 0;
    // Child tags of the open keyed containers, innermost last; with a set
    // for the wide ones (from kListLimit children on), one per open keyed
    // container that has grown that wide.
    std::vector<uint64_t> m_keys;
    std::vector<std::unordered_set<uint64_t>> m_wideKeys;
    std::vector<uint32_t> m_wideOwner; // stack depth of each set's container
};
