// What the simulated console makes of a partner's tree, and the trees it
// answers with.
//
// Reading: below the root, context-class containers are path levels; a
// private-class container under them is a parameter holding its value (a
// 32-bit Integer or a UTF8String at application 3), an application-32 leaf
// in a path level polls that level. This covers the eight shapes the host's
// command builder writes and any tree combining them; every other element is
// reported as ignored, with a reason, and changes nothing.
//
// Writing: the root, one context-class Set numbered `top`, then for each
// parameter its path containers (shared where keys share a beginning) and
// its parameter container holding the value, built from the library's Sets
// and leaves and encoded by the library.
#pragma once

#include "console/parameter_store.h"
#include "ember/tree/node.h"

#include <cstdint>
#include <string>
#include <vector>

struct ConsoleRequest
{
    enum Kind
    {
        Set,     // key and value
        Poll,    // key is the polled path
        Ignored, // reason says what and where
    };
    Kind kind = Ignored;
    ParameterKey key;
    ParameterValue value;
    std::string reason;
};

// The requests a decoded message holds, in tree order. An empty root gives
// none; a non-empty root that holds no set and no poll gives at least one
// Ignored entry.
std::vector<ConsoleRequest> ReadRequests(CEmber_Node& root);

// The encoded answer tree for the parameters (in the given order); empty
// when there are none.
std::vector<uint8_t> EncodeAnswer(uint32_t top, const std::vector<ParameterEntry>& parameters);

// The 13 octets of the empty root: the keep-alive.
const std::vector<uint8_t>& KeepAliveOctets();
