#include "tests/support/event_log_reader.h"

#include "ember/ber/text_list.h"
#include "ember/tree/container.h"
#include "ember/tree/leaf.h"

#include <algorithm>

#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_TEST_ASAN 1
#endif
#endif

#if KORVANE_TEST_ASAN
extern "C" {
size_t __sanitizer_get_current_allocated_bytes();
int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                              void (*)(const volatile void*));
}
#endif

namespace testing_support {

std::string NodeLine(const CEmber_Node& node)
{
    std::string line = node.GetDescription();
    if (!node.IsContainer()) {
        CEmber_TextList value;
        static_cast<const CEmber_Leaf&>(node).RenderValue(value);
        line += " = " + value.Join();
    }
    line += " in ";
    line += node.GetParent() ? node.GetParent()->GetTag().ToText() : std::string("-");
    return line;
}

std::string Lines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

void EventLogReader::OnNodeOpened(CEmber_Node* node)
{
    log.push_back("open " + NodeLine(*node));
}

void EventLogReader::OnNodeComplete(CEmber_Node* node)
{
    log.push_back("done " + NodeLine(*node));
}

void EventLogReader::OnError(const CEmber_Exception& error)
{
    log.push_back("error " + std::to_string(error.GetCode()) + " " + error.GetMessage());
}

void EventLogReader::FeedPart(const std::vector<uint8_t>& octets, size_t begin, size_t end)
{
    FeedBlock(octets.data() + begin, uint32_t(end - begin));
}

void EventLogReader::FeedInBlocks(const std::vector<uint8_t>& octets, size_t blockSize)
{
    for (size_t at = 0; at < octets.size(); at += blockSize)
        FeedPart(octets, at, std::min(octets.size(), at + blockSize));
}

void EventLogReader::FeedSplitAt(const std::vector<uint8_t>& octets, size_t at)
{
    FeedPart(octets, 0, at);
    FeedPart(octets, at, octets.size());
}

std::string EventLogReader::Text() const
{
    std::string text;
    for (const std::string& line : log)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

long long HeapBytesInUse()
{
#if KORVANE_TEST_ASAN
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    return -1;
#endif
}

namespace {

struct HeapEvent
{
    bool allocation;
    const volatile void* pointer;
};

constexpr size_t kMaxHeapEvents = 1 << 16;
HeapEvent g_events[kMaxHeapEvents];
size_t g_eventCount = 0;
bool g_armed = false;

[[maybe_unused]] void Record(bool allocation, const volatile void* pointer)
{
    if (g_armed && g_eventCount < kMaxHeapEvents)
        g_events[g_eventCount++] = HeapEvent{allocation, pointer};
}

long LastIndex(bool allocation, const void* pointer)
{
    for (size_t i = g_eventCount; i-- > 0;)
        if (g_events[i].allocation == allocation && g_events[i].pointer == pointer)
            return long(i);
    return -1;
}

} // namespace

bool HeapEventRecorder::Available()
{
#if KORVANE_TEST_ASAN
    // The hooks cannot be removed again, so they are installed once and
    // only record while a recorder is armed.
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(
                                      [](const volatile void* p, size_t) { Record(true, p); },
                                      [](const volatile void* p) { Record(false, p); }) != 0;
    return installed;
#else
    return false;
#endif
}

HeapEventRecorder::HeapEventRecorder()
{
    g_eventCount = 0;
    g_armed = Available();
}

HeapEventRecorder::~HeapEventRecorder()
{
    g_armed = false;
}

long HeapEventRecorder::AllocationIndex(const void* pointer) const
{
    return LastIndex(true, pointer);
}

long HeapEventRecorder::ReleaseIndex(const void* pointer) const
{
    return LastIndex(false, pointer);
}

} // namespace testing_support
