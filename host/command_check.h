// Checks a partner command line against how the service reads it.
//
// The service reads command lines with the C scanf rules of its parser
// (host/command_parser.h) and never complains: a seventh field is ignored, a
// number beyond 32 bits wraps, a negative path number becomes a huge tag
// number, a text stops at its first blank. CheckCommandLine finds every
// place where what the service will do differs from what the line says, so
// that a tool can warn before sending it. The service itself reads lines as
// it always has; nothing here changes that.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CommandFinding
{
    enum Kind
    {
        IgnoredText,  // text after the value that the service does not read
        OutOfRange,   // a number outside the signed 32-bit range: it wraps
        NegativePath, // a negative path number: read as a huge tag number
        ValueCode,    // an integer the service takes as a value code (-2)
        TextTooLong,  // more text than travels: the service sends nothing
        NoValue,      // no value at all: the service sends nothing
    };
    Kind kind;
    // One line, without a line end, saying what the service does instead.
    std::string text;
};

// The findings for one command line (its text ends at `length` characters or
// at a NUL), in the order of the line; empty when the service reads the line
// as it is written.
std::vector<CommandFinding> CheckCommandLine(const char* line, size_t length);
std::vector<CommandFinding> CheckCommandLine(const std::string& line);

// True when a finding means that the service sends nothing for the line.
inline bool SendsNothing(const CommandFinding& finding)
{
    return finding.kind == CommandFinding::TextTooLong || finding.kind == CommandFinding::NoValue;
}
