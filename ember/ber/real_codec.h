// REAL content octets, binary form, base 2, no scaling.
//
// Departs from X.690 8.5.7 on purpose: the exponent E gives the weight of the
// mantissa's most significant 1 bit, not of its lowest bit, so 3.0 is
// written 80 01 03. Plus and minus infinity are the single octets 0x40 and
// 0x41; positive zero has no content octets.
#pragma once

#include "ember/ber/input_stream.h"
#include "ember/ber/output_stream.h"

#include <cstdint>

// Writes the REAL content of value; returns the count (0, 1 or more).
int32_t EncodeReal(CEmber_OutputStream& out, double value);

// Reads a REAL content of length octets. Reading past the content throws
// "EOF". Content that names no double (a zero mantissa, a mantissa of more
// than 53 significant bits, an exponent outside -1023..1024) gives false.
bool TryDecodeReal(CEmber_InputStream& in, uint32_t length, double& value);

// As TryDecodeReal; content that names no double throws code 204.
double DecodeReal(CEmber_InputStream& in, uint32_t length);
