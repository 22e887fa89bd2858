// Parses a partner command line into a command record, with the C scanf
// rules the partner's command lines were written for:
//   "%d,%d,%d,%d,%d,%d \n"  five path numbers and an integer value, or
//   "%d,%d,%d,%d,%d,%s \n"  five path numbers and a text ("~" stands for a
//                           blank; a lone "-" is the empty text).
// A sixth field that begins with a number is an integer ("7x" gives 7).
#pragma once

#include "protocol/protocol.h"

#include <cstddef>
#include <functional>

// Receives each trace line of the parse.
using TraceSink = std::function<void(const char* line)>;

enum class ParseResult
{
    Value,       // record.value holds a value or a value code other than NONE
    None,        // VALUE_NONE: nothing to send
    TextTooLong, // the text field would not fit 63 characters
};

// Parses text (at most `length` characters; it need not be NUL-terminated
// within them). Trace lines go to trace, which may be empty.
ParseResult ParseCommand(const char* text, size_t length, CCommandRecord& record,
                         const TraceSink& trace);

// The scanf helpers, exposed for tests: sscanf-like counts (the number of
// fields assigned, or -1 when the input ends before the first conversion).
int ScanIntegerCommand(const char* text, size_t length, CCommandRecord& record);
int ScanTextCommand(const char* text, size_t length, CCommandRecord& record, size_t& textLength);
