// The incremental octet-by-octet reader of Ember elements.
//
// Octets arrive in blocks of any size; Feed takes one at a time and keeps
// just enough state to resume inside any identifier, length, content or
// terminator. FeedBlock gives the same results faster: where a whole
// element header (and a value's content) lies inside the block it is read
// in one step, and the content is handed over as a view of the block. The
// reader checks the two-tag element framing as it goes and reports through
// two hooks: OnContainerOpened (a constructed element's inner length
// is complete) and OnItemComplete (a value's content is complete, or a
// container closed). Errors are raised through RaiseError, which adds the
// location "@<open container tags>/<current outer tag>: <message>". The
// reader keeps its partial state after a throw; only Reset starts it over.
//
// Limits against hostile input (each a located error): at most kMaxDepth
// open containers (111), no indefinite primitive (112), at most
// kMaxContentLength content octets in one element (113), at most
// kMaxMessageOctets octets inside one outermost container (114), children
// that run past a definite parent's end (106).
//
// This is the one octet machine of the codec: the tree builders
// (CEmber_TreeReader, CEmber_StreamReader), the boundary finder
// (CEmber_BoundaryScanner) and the host's report extractor are sinks on its
// two hooks. A sink on a console link runs it synchronised (FeedSynchronised):
// octets are dropped until the start sequence of framing.h, which is then
// replayed into the machine; after a message's outermost container closed,
// or after a CEmber_Exception (handed to OnError, then Reset), the machine
// waits for the next start sequence.
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/raw_item.h"

#include <cstdint>
#include <vector>

struct CEmber_OpenContainer
{
    CEmber_Tag tag;          // outer tag, class bits only
    uint32_t type;           // universal type of its inner tag
    uint32_t declaredLength; // inner length, IndefiniteLength for the indefinite form
    uint32_t consumed;       // octets counted inside it so far
};

class CEmber_Reader : public CEmber_RawItem
{
public:
    // Far above any real tree; keeps building, length updates and
    // destruction within a few kilobytes of stack.
    static constexpr uint32_t kMaxDepth = 256;
    // One element's content; real parameter values are tiny.
    static constexpr uint32_t kMaxContentLength = 16u << 20;
    // One message, counted from the octet that opens its outermost container.
    static constexpr uint32_t kMaxMessageOctets = 64u << 20;
    // An identifier: the first octet and up to six of a tag number (up to
    // 2^32 - 1 in groups of seven bits, with room for leading zero groups).
    static constexpr uint32_t kMaxIdentifierOctets = 7;
    // A length: the first octet and up to four (lengths are 32-bit).
    static constexpr uint32_t kMaxLengthOctets = 5;
    // The end of an indefinite container: end-of-contents of the inner and
    // the outer element.
    static constexpr uint32_t kTerminatorOctets = 4;
    // Content is reserved up to this much at once and grows as it arrives.
    static constexpr uint32_t kContentReserve = 64u << 10;

    CEmber_Reader();
    ~CEmber_Reader() override;

    // Builds the located text and throws; never returns.
    [[noreturn]] void RaiseError(int32_t code, const char* message) override;

    // The inner length of a constructed element is complete: the item holds
    // its outer tag, type, constructed flag and declared length.
    virtual void OnContainerOpened() = 0;
    // A value's content is complete (the item holds header and content), or
    // a container closed (the item holds its tag, type, declared length).
    virtual void OnItemComplete() = 0;
    // Forgets everything read so far.
    virtual void Reset();
    // Takes one octet.
    virtual void Feed(uint8_t octet);

    // Feeds every octet of the block in order, through FeedOctets; the
    // results are those of Feed called on each octet.
    void FeedBlock(const uint8_t* octets, uint32_t length);

    uint32_t GetDepth() const { return uint32_t(m_stack.size()); }

    // A CEmber_Exception was caught while feeding synchronised (the caught
    // copy); the machine is Reset next.
    virtual void OnError(const CEmber_Exception& /*error*/) {}

protected:
    enum State : uint8_t
    {
        State_Identifier = 0,
        State_Length = 1,
        State_Content = 2,
        State_Terminator = 3,
    };

    // The located error text for message, as RaiseError throws it.
    std::string LocatedText(const char* message) const;

    // Takes a non-empty block. This version runs the octet machine over all
    // of it; a subclass that overrides Feed to filter octets overrides this
    // too, so both see the same octets.
    virtual void FeedOctets(const uint8_t* octets, uint32_t length);
    // Runs the octet machine (this class's Feed) over the octets in order
    // until they are used up or a hook called StopRun; returns the octets
    // taken. When an exception leaves it, GetRunConsumed tells how many were
    // taken, the one being handled at the throw included.
    uint32_t FeedRun(const uint8_t* octets, uint32_t length);
    // From a hook: FeedRun returns once the current octet is handled.
    void StopRun() { m_stopRun = true; }
    uint32_t GetRunConsumed() const { return m_runConsumed; }

    // Synchronised feeding: while waiting, octets are matched against the
    // start sequence one by one (a mismatching octet starts the match over
    // and is not compared again with the first start octet); the whole
    // sequence is replayed into the machine, and the octets after it run
    // through it until the outermost container closes or an error is caught
    // (OnError, then Reset). With stopAtMessageEnd, returns right after the
    // octet that ended a message (closed or broken off); otherwise takes all
    // octets. Returns the octets taken.
    uint32_t FeedSynchronised(const uint8_t* octets, uint32_t length, bool stopAtMessageEnd);
    // 0..8 while waiting (start octets matched so far), -1 inside a message.
    int32_t GetSyncPosition() const { return m_matchPosition; }
    // Octets counted inside the outermost open container so far.
    uint32_t GetMessageOctetCount() const { return m_messageOctets; }
    // Whether the content of a primitive element of this type is kept
    // (collected when it arrives in pieces); when not, GetContent is null
    // for it. Asked once the element's length is known.
    virtual bool KeepsContent(uint32_t /*type*/) const { return true; }

private:
    // Reads the element starting at `at` in one step when its header and
    // content lie wholly before `end` and nothing about it is unusual (no
    // error, no limit reached, no parent end inside it): advances `at` past
    // it and returns true. Otherwise changes nothing and returns false, and
    // the octet machine takes the element octet by octet. `at` is advanced
    // before each hook runs, so a throw knows the octets taken.
    bool FeedElement(const uint8_t*& at, const uint8_t* end);
    // Closes every open container whose declared length is used up.
    void CloseFinished();
    bool OnIdentifierOctet(uint8_t octet);
    bool OnLengthOctet(uint8_t octet);
    bool OnContentOctet(uint8_t octet);
    bool OnTerminatorOctet(uint8_t octet);
    bool CompleteValue();
    void CloseTop();
    void StartField(State state);
    // Refuses a child of `needed` octets that cannot fit in what remains of
    // a definite top container.
    void CheckFitsInTop(uint32_t needed);
    // The machine over the octets, a caught exception handled as the
    // synchronised feeding does; returns the octets taken.
    uint32_t RunMessage(const uint8_t* octets, uint32_t length);

    State m_state = State_Identifier;
    // Octets of the current identifier, length or content taken before the
    // present one (in a terminator: zero octets taken after the first).
    uint32_t m_fieldCount = 0;
    // Octets the current length field or content needs; 0 until its first.
    uint32_t m_expected = 0;
    std::vector<uint8_t> m_buffer;
    // Open containers, outermost first.
    std::vector<CEmber_OpenContainer> m_stack;
    uint32_t m_messageOctets = 0;
    uint32_t m_runConsumed = 0;
    bool m_stopRun = false;
    // Content octets the current primitive element still needs.
    uint32_t m_contentLeft = 0;
    bool m_keepContent = true;
    // Synchronised feeding: the start octets matched (-1 inside a message).
    int32_t m_matchPosition = 0;
    bool m_synchronised = false;
};
