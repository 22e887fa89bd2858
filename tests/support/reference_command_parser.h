// The command parser as it was before its single-pass rewrite, kept
// test-only as the reference the present parser must agree with on every
// text: counts, records, text lengths, results and trace lines.
#pragma once

#include "host/command_parser.h"

int ReferenceScanIntegerCommand(const char* text, size_t length, CCommandRecord& record);
int ReferenceScanTextCommand(const char* text, size_t length, CCommandRecord& record,
                             size_t& textLength);
ParseResult ReferenceParseCommand(const char* text, size_t length, CCommandRecord& record,
                                  const TraceSink& trace);
