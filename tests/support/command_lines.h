// A seeded generator of partner command lines for the differential tests of
// the command path: mostly lines of the eight tree shapes with numbers and
// values at the edges of their encodings (tag numbers of one to five
// base-128 octets, numbers that wrap at 32 bits, negative path numbers,
// integers of one to four octets, texts of 0 to 66 characters with "~" and
// "-"), and some of them damaged (a character changed, cut short, or
// anything after the value).
#pragma once

#include <random>
#include <string>

namespace testing_support {

std::string RandomCommandLine(std::mt19937& random);

} // namespace testing_support
