// GeneralizedTime content octets: "YYYYMMDDhhmmss.<ms>Z" in UTC, the
// fraction being the millisecond count in plain decimal (5 ms is ".5Z"), so
// the encoder's output reads back exactly.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/output_stream.h"

#include <cstdint>

// Writes the time as text; returns its length. A year above 9999 is written
// with all its digits (at most 20 octets in all); a time the calendar
// conversion refuses (2^63 intervals or more) writes nothing and returns 0.
int32_t EncodeGeneralizedTime(CEmber_OutputStream& out, uint64_t time);

// Reads length octets of time text (only the first 31 take part) and parses
// them field by field with C scanf rules; fields the parse does not reach
// stay 0. Text that names no valid time gives 0.
uint64_t DecodeGeneralizedTime(CEmber_InputStream& in, uint32_t length);
