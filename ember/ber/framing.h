// The framing of whole messages on a console stream, shared by the readers
// that build trees and the boundary scanner that does not.
#pragma once

#include <cstdint>

// Every message begins with these nine octets: outer identifier application
// class, constructed, number 0xFFFFACDC (the root tag); outer length
// indefinite; inner identifier universal Sequence, constructed; inner length
// indefinite. A reader drops octets until it has seen them in a row.
constexpr uint8_t kEmberStartSequence[9] = {0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80};

// Nodes in one message; bounds the memory a message that never ends takes.
constexpr uint32_t kEmberMaxMessageNodes = 1u << 20;
