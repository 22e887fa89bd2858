// Console sources of a partner that are read whole before anything is sent:
// a file of raw octets, a file of hex text, or standard input ("-"). (The
// console itself on TCP is CPartnerLink's.)
#pragma once

#include "partner/partner_event.h"

#include <cstdint>
#include <string>
#include <vector>

enum class EConsoleSourceFormat
{
    Binary, // the octets as they are
    Hex,    // digit pairs in either case; blanks, line ends and '#'
            // comments (to the line's end) are ignored
};

// Reads the file `name` ("-": standard input) into octets. Ok, or
// SourceError with the reason in `error`, one line: "cannot read NAME: the
// system's reason" or "NAME: bad hex text: ...".
EPartnerStatus ReadConsoleSource(const std::string& name, EConsoleSourceFormat format,
                                 std::vector<uint8_t>& octets, std::string& error);
