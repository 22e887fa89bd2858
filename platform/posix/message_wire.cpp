#include "platform/posix/message_wire.h"

#include <cstring>

namespace korvane_wire {

namespace {

void Put(std::vector<uint8_t>& out, size_t offset, uint64_t value, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        out[offset + i] = uint8_t(value >> (8 * i));
}

uint64_t Get(const uint8_t* data, size_t offset, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint64_t(data[offset + i]) << (8 * i);
    return value;
}

} // namespace

bool IsValidWindowName(const char* name, size_t length)
{
    if (!name || length == 0 || length > kMaxNameLength || name[0] == '.')
        return false;
    for (size_t i = 0; i < length; ++i)
        if (name[i] == '\0' || name[i] == '/')
            return false;
    return true;
}

std::vector<uint8_t> EncodeFrame(const Frame& frame)
{
    const bool window = (frame.flags & kFlagWindow) != 0;
    const bool block = (frame.flags & kFlagBlock) != 0;
    const size_t nameLength = window ? frame.windowName.size() : 0;
    const size_t blockLength = block ? frame.cbData : 0;
    std::vector<uint8_t> out(kHeaderSize + nameLength + blockLength, 0);
    Put(out, 0, kMagic, 4);
    out[4] = frame.kind;
    out[5] = frame.flags;
    Put(out, 6, nameLength, 2);
    Put(out, 8, frame.sequence, 8);
    Put(out, 16, frame.message, 4);
    Put(out, 20, blockLength, 4);
    Put(out, 24, frame.wParam, 8);
    Put(out, 32, uint64_t(frame.lParam), 8);
    Put(out, 40, frame.dwData, 8);
    Put(out, 48, frame.receiverIncarnation, 8);
    Put(out, 56, window ? frame.windowIncarnation : 0, 8);
    if (nameLength)
        std::memcpy(out.data() + kHeaderSize, frame.windowName.data(), nameLength);
    if (blockLength)
        std::memcpy(out.data() + kHeaderSize + nameLength, frame.block, blockLength);
    return out;
}

bool DecodeFrame(const uint8_t* data, size_t size, Frame& frame)
{
    if (!data || size < kHeaderSize || size > kMaxFrameSize)
        return false;
    if (Get(data, 0, 4) != kMagic)
        return false;
    const uint8_t kind = data[4];
    const uint8_t flags = data[5];
    const size_t nameLength = size_t(Get(data, 6, 2));
    const uint64_t cbData = Get(data, 20, 4);
    if (kind != kRequest && kind != kReply)
        return false;
    if (kind == kRequest ? (flags & ~uint8_t(kFlagWindow | kFlagBlock)) != 0
                         : ((flags & ~uint8_t(kFlagGone | kFlagBusy)) != 0 ||
                            (flags & (kFlagGone | kFlagBusy)) == (kFlagGone | kFlagBusy)))
        return false;
    const bool window = (flags & kFlagWindow) != 0;
    const bool block = (flags & kFlagBlock) != 0;
    if (window != (nameLength != 0) || nameLength > kMaxNameLength)
        return false;
    if ((!block && cbData != 0) || cbData > kMaxBlockOctets)
        return false;
    if (size != kHeaderSize + nameLength + cbData)
        return false;

    Frame parsed;
    parsed.kind = kind;
    parsed.flags = flags;
    parsed.sequence = Get(data, 8, 8);
    parsed.message = uint32_t(Get(data, 16, 4));
    parsed.cbData = uint32_t(cbData);
    parsed.wParam = Get(data, 24, 8);
    parsed.lParam = int64_t(Get(data, 32, 8));
    parsed.dwData = Get(data, 40, 8);
    parsed.receiverIncarnation = Get(data, 48, 8);
    parsed.windowIncarnation = Get(data, 56, 8);
    if (kind == kReply) {
        // A reply carries only the sequence number, the result and whether
        // the receiver was gone.
        if (parsed.message != 0 || parsed.wParam != 0 || parsed.dwData != 0 || nameLength != 0 ||
            parsed.receiverIncarnation != 0 || parsed.windowIncarnation != 0)
            return false;
    } else {
        if (block && parsed.message != kCopyDataMessage)
            return false;
        // WM_COPYDATA without a block stands for a null block pointer.
        if (parsed.message == kCopyDataMessage && parsed.lParam != 0)
            return false;
        if (window && parsed.wParam != 0)
            return false;
        if (!block && parsed.dwData != 0)
            return false;
        if (!window && parsed.windowIncarnation != 0)
            return false;
    }
    if (window) {
        const char* name = reinterpret_cast<const char*>(data + kHeaderSize);
        if (!IsValidWindowName(name, nameLength))
            return false;
        parsed.windowName.assign(name, nameLength);
    }
    if (block && cbData)
        parsed.block = data + kHeaderSize + nameLength;
    frame = std::move(parsed);
    return true;
}

} // namespace korvane_wire
