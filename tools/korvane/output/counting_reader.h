// A stream reader that knows where in the stream it is.
//
// Counts the octets it has been fed across blocks. With exact offsets on,
// it feeds each block one octet at a time (the reader gives the same
// results for any split), so that during a hook Position() is the offset of
// the octet being handled: the last octet of a message that completes, the
// octet at which an error is raised. Without, Position() is the offset of
// the current block's first octet. onFed is called after every block with
// the octets fed so far. Octets the reader feeds itself again from inside a
// block are not counted.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

template <typename Reader>
class CountingReader : public Reader
{
public:
    template <typename... Args>
    explicit CountingReader(Args&&... args) : Reader(std::forward<Args>(args)...)
    {}

    // Stream offset (from 0) of the octet being handled.
    uint64_t Position() const { return m_position; }
    // Octets fed so far.
    uint64_t Fed() const { return m_fed; }

    bool exactOffsets = false;
    std::function<void(uint64_t fed)> onFed;

protected:
    void FeedOctets(const uint8_t* octets, uint32_t length) override
    {
        // The reader replays octets it has already taken (the start
        // sequence) through here; they are not stream octets.
        if (m_inside) {
            Reader::FeedOctets(octets, length);
            return;
        }
        const Inside inside(m_inside);
        if (!exactOffsets) {
            m_position = m_fed;
            Reader::FeedOctets(octets, length);
        } else {
            for (uint32_t i = 0; i < length; ++i) {
                m_position = m_fed + i;
                Reader::FeedOctets(octets + i, 1);
            }
        }
        m_fed += length;
        if (onFed)
            onFed(m_fed);
    }

private:
    struct Inside
    {
        explicit Inside(bool& flag) : m_flag(flag) { m_flag = true; }
        ~Inside() { m_flag = false; }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
        bool& m_flag;
    };

    bool m_inside = false;
    uint64_t m_position = 0;
    uint64_t m_fed = 0;
};
