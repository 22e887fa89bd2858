// Hex helpers shared by the tests: octet vectors are written as text
// ("63 03 02 01 05") and compared as text, so failures read like the vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Parses hex digit pairs; white space anywhere is ignored.
std::vector<uint8_t> Hex(const std::string& text);

// Upper-case pairs separated by single spaces.
std::string ToHex(const uint8_t* data, size_t size);
std::string ToHex(const std::vector<uint8_t>& data);

} // namespace testing_support
