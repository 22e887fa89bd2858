// Cuts the octet stream a console sends into the console-data blocks a
// partner hands to the service.
//
// The service echoes a console block of exactly 13 octets as a keep-alive
// and decodes every other block, so the framer sends the console's
// keep-alive (the 13-octet empty root, met between messages) as a block of
// its own and never makes any other block of 13 octets. It follows the
// stream with a boundary scanner of the library, which ends and breaks off
// messages exactly where the service's stream reader does, fed exactly the
// octets that reader will get, so it knows where messages begin and end
// without decoding them:
//   - octets between messages (garbage, partial start sequences) and every
//     finished message (complete or broken off by a reader error) are handed
//     out at once;
//   - the octets of a message still being received are held until it ends,
//     so a link that breaks in the middle of a message leaves the service's
//     reader between messages: Break() drops the unfinished message, which
//     could never be completed, instead of letting it swallow the first
//     message of the next connection.
// Blocks hold at most kMaxBlock octets.
#pragma once

#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CEmber_BoundaryScanner;

class CConsoleFramer
{
public:
    static constexpr size_t kMaxBlock = kMaxConsoleBlock;
    static constexpr size_t kKeepAliveLength = KEEP_ALIVE_LENGTH;

    struct Block
    {
        bool keepAlive = false;
        std::vector<uint8_t> octets;
    };

    CConsoleFramer();
    ~CConsoleFramer();
    CConsoleFramer(const CConsoleFramer&) = delete;
    CConsoleFramer& operator=(const CConsoleFramer&) = delete;

    // Takes octets from the console (split anywhere); appends the blocks
    // that are ready, in stream order.
    void Push(const uint8_t* octets, size_t size, std::vector<Block>& out);

    // The link broke: forgets the octets held back (an unfinished message or
    // the beginning of a keep-alive) and returns their number; the framer
    // then starts over between messages.
    size_t Break();

    // Octets held back right now.
    size_t Held() const { return m_pending.size() + m_candidate.size(); }

    // Splits octets into console blocks of at most kMaxBlock octets, none of
    // exactly kKeepAliveLength (such a run is sent as 12 + 1).
    static void Split(const uint8_t* octets, size_t size, std::vector<Block>& out);

private:
    bool Waiting() const;
    void Track(uint8_t octet, std::vector<Block>& out);
    void Flush(std::vector<Block>& out);

    std::unique_ptr<CEmber_BoundaryScanner> m_tracker;
    // Octets fed to the tracker and not handed out yet.
    std::vector<uint8_t> m_pending;
    // Octets met between messages that match the keep-alive so far; not fed
    // to the tracker until they turn out to be something else.
    std::vector<uint8_t> m_candidate;
};
