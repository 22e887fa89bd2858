// Finds where console messages begin and end in an octet stream without
// building their trees.
//
// The scanner is a sink of the codec's one octet machine (CEmber_Reader),
// fed synchronised as a CEmber_StreamReader is: it drops octets until the
// nine-octet start sequence, runs the machine (identifier and length octets,
// definite and indefinite lengths, terminators, nesting, the framing checks
// and reader limits, codes 101 to 114), and goes back to waiting after the
// message's root closes or after an error. Every error comes out at the
// same octet with the same code and text as from the stream reader.
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
// only those contents (KeepsContent). All other content octets are skipped
// unread.
//
// Those checks are CEmber_NodeChecks, shared with the report extractor.
//
// Memory: the open containers, the child tags of the open keyed containers
// (at most one per node) and one collected content (at most
// CEmber_Reader::kMaxContentLength octets).
#pragma once

#include "ember/ber/exception.h"
#include "ember/ber/node_checks.h"
#include "ember/ber/reader.h"

#include <cstddef>
#include <cstdint>

class CEmber_BoundaryScanner : public CEmber_Reader
{
public:
    CEmber_BoundaryScanner();
    ~CEmber_BoundaryScanner() override;

    // Takes octets in order until they are used up or a message has ended
    // (read whole, or broken off by an error); returns the octets taken,
    // the one that ended the message included.
    size_t Scan(const uint8_t* octets, size_t size);
    // Takes one octet.
    void Feed(uint8_t octet) override { Scan(&octet, 1); }

    // Forgets everything and waits for the next start sequence.
    void Reset() override;

    // 0..8 while waiting (start octets matched so far), -1 inside a message.
    int32_t GetMatchPosition() const { return GetSyncPosition(); }
    bool IsWaiting() const { return GetSyncPosition() >= 0; }
    // Octets of the message at hand taken so far (0 while waiting): what a
    // stream reader holds of it.
    size_t GetMessageOctets() const;

protected:
    // A message's root closed.
    virtual void OnMessageComplete() {}
    // OnError (the octet machine's): an error broke the message off (the
    // scanner then waits again).

    void OnContainerOpened() override;
    void OnItemComplete() override;
    bool KeepsContent(uint32_t type) const override;
    // FeedBlock takes every octet, past message ends too.
    void FeedOctets(const uint8_t* octets, uint32_t length) override;

private:
    CEmber_NodeChecks m_checks;
};
