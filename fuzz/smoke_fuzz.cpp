// Placeholder fuzz target that keeps the fuzz build exercised until real
// codec targets exist. Delete it once other fuzz/*_fuzz.cpp targets land.
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A big-endian length prefix followed by that many payload bytes: the
    // copy below must never read past the input.
    if (size < 2) {
        return 0;
    }
    const std::size_t declared = (std::size_t{data[0]} << 8) | data[1];
    if (declared > size - 2) {
        return 0;
    }
    std::uint8_t copy[256] = {};
    const std::size_t n = declared < sizeof copy ? declared : sizeof copy;
    std::memcpy(copy, data + 2, n);
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += copy[i];
    }
    return sum == 0xFFFFFFFFu ? 0 : 0;
}
