// How much of what was written to a TCP socket the peer has not taken yet.
#pragma once

#include <cstddef>
#include <cstdint>

// Octets written to the connected TCP socket `handle` that the peer has not
// acknowledged (Linux: the send queue, SIOCOUTQ). Where the system does not
// tell (Windows), 0: written counts as taken.
size_t UntakenOctets(uintptr_t handle);
