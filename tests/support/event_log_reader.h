// Helpers shared by the reader tests: a stream reader that writes every
// notification into one text log, feeding in blocks of any split, and heap
// probes that answer in sanitizer builds.
#pragma once

#include "ember/tree/node.h"
#include "ember/tree/stream_reader.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_support {

// The nine octets every message begins with, as hex text.
inline constexpr const char* kStartHex = "7F 8F FF FE D9 5C 80 30 80";
// The four octets that end an indefinite container (its inner and outer
// end-of-contents), as hex text after a space.
inline constexpr const char* kEndHex = " 00 00 00 00";
// The description of a decoded message root.
inline constexpr const char* kRootLine = "Tag: A-4294946012 Type: 16, Sequence";

// "<description>[ = <value>] in <parent tag or ->": one node as a log line.
std::string NodeLine(const CEmber_Node& node);

// Lines joined with '\n', the form EventLogReader::Text() has.
std::string Lines(std::initializer_list<std::string> lines);

// Logs "open <node>", "done <node>" and "error <code> <message>" lines.
class EventLogReader : public CEmber_StreamReader
{
public:
    explicit EventLogReader(uint8_t mode = 1) : CEmber_StreamReader(mode) {}

    void OnNodeOpened(CEmber_Node* node) override;
    void OnNodeComplete(CEmber_Node* node) override;
    void OnError(const CEmber_Exception& error) override;

    void FeedVector(const std::vector<uint8_t>& octets) { FeedPart(octets, 0, octets.size()); }
    // Consecutive blocks of blockSize octets (the last one shorter).
    void FeedInBlocks(const std::vector<uint8_t>& octets, size_t blockSize);
    // Two blocks: octets [0, at) and [at, end).
    void FeedSplitAt(const std::vector<uint8_t>& octets, size_t at);
    // Octets [begin, end) as one block.
    void FeedPart(const std::vector<uint8_t>& octets, size_t begin, size_t end);

    std::string Text() const;

    std::vector<std::string> log;
};

// Bytes the heap holds right now; -1 when the build cannot tell (no ASan).
long long HeapBytesInUse();

// Records heap allocations and releases while armed (ASan builds only).
class HeapEventRecorder
{
public:
    static bool Available();
    HeapEventRecorder();
    ~HeapEventRecorder();
    // Position in the recorded sequence of the last allocation (free) of
    // pointer, or -1.
    long AllocationIndex(const void* pointer) const;
    long ReleaseIndex(const void* pointer) const;
};

} // namespace testing_support
