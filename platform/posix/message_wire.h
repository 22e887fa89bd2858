// The datagram format of the message layer between processes.
//
// Every datagram is one frame: a 64-octet header, then the name of the
// window that wParam stands for (when it is a window), then the octets of
// the WM_COPYDATA block (when there is one). All numbers are little-endian.
//
//   offset size field
//        0    4 magic "KVN2" (version 2: "KVN1" had no incarnations and a
//               48-octet header)
//        4    1 kind: 1 request, 2 reply
//        5    1 flags: requests: 1 wParam is a window (its name follows),
//               2 a block follows; replies: 4 the receiver is gone (nothing
//               was delivered), 8 the receiver is busy (too many requests
//               nested inside one another; nothing was delivered), else 0
//        6    2 length of the window name (0 to 99)
//        8    8 sequence number of the request (a reply repeats it)
//       16    4 message id (requests; 0 in replies)
//       20    4 cbData: octets of the block (0 to kMaxCopyDataOctets)
//       24    8 wParam as a number (0 when it is a window)
//       32    8 lParam as a number (requests without a block), or the result (replies)
//       40    8 dwData of the block
//       48    8 incarnation of the receiver the request is meant for; 0: whoever
//               owns the name now (requests; 0 in replies)
//       56    8 incarnation of the window wParam names; 0: whoever owns the
//               name (requests with flag 1; else 0)
//
// An incarnation is a number drawn when an endpoint is created and never
// drawn again: an endpoint that takes a name another one had gets a new one,
// so a request meant for the window that had the name is refused by the
// window that has it now (a reply with flag 4) instead of reaching it.
//
// A frame is accepted only when every field is in range and the datagram is
// exactly as long as the header says: nothing is guessed or cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane_wire {

constexpr uint32_t kMagic = 0x324E564Bu; // "KVN2" as little-endian octets
constexpr size_t kHeaderSize = 64;
constexpr size_t kMaxNameLength = 99;
constexpr size_t kMaxBlockOctets = 64 * 1024;
constexpr size_t kMaxFrameSize = kHeaderSize + kMaxNameLength + kMaxBlockOctets;

constexpr uint8_t kRequest = 1;
constexpr uint8_t kReply = 2;

constexpr uint8_t kFlagWindow = 1;
constexpr uint8_t kFlagBlock = 2;
constexpr uint8_t kFlagGone = 4; // replies only
constexpr uint8_t kFlagBusy = 8; // replies only

// The message id that may carry a block (WM_COPYDATA).
constexpr uint32_t kCopyDataMessage = 0x004A;

struct Frame
{
    uint8_t kind = kRequest;
    uint8_t flags = 0;
    uint64_t sequence = 0;
    uint32_t message = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0; // the result in a reply
    uint64_t dwData = 0;
    uint64_t receiverIncarnation = 0; // requests
    uint64_t windowIncarnation = 0;   // with kFlagWindow
    std::string windowName;           // with kFlagWindow
    const uint8_t* block = nullptr;   // with kFlagBlock: cbData octets
    uint32_t cbData = 0;
};

// True for a name a window may have: 1 to 99 characters, no NUL, no '/',
// not beginning with '.' (names beginning with '.' are the layer's own).
bool IsValidWindowName(const char* name, size_t length);

// The datagram for the frame (block octets copied from frame.block).
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// Parses a datagram; false for anything malformed. On success frame.block
// points into `data`.
bool DecodeFrame(const uint8_t* data, size_t size, Frame& frame);

} // namespace korvane_wire
