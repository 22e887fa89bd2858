// Command lines as a partner takes them from text (standard input, a view,
// a script): one per line, the line end ("\n" or "\r\n") dropped; empty lines
// and lines beginning with '#' are no command lines.
#pragma once

#include <string>

// Drops the line end of `line`; false when what is left is to be skipped.
bool TakeCommandLine(std::string& line);
