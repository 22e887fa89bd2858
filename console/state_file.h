// The console's state file: its parameters as JSON, read at start
// (--state FILE) and written back on exit (--save).
//
//   {
//     "parameters": [
//       { "path": [1, 2, 3, 4, 5], "value": 100 },
//       { "path": [1, 2, 3], "value": "Ch 1" }
//     ]
//   }
//
// "path" is the parameter's key (path container numbers, then the parameter
// container's number; 1 to 16 numbers from 0 to 4294967295), "value" a
// signed 32-bit integer or a text. Other members are ignored; a path given
// twice keeps the later value. Written files list the parameters in key
// order, two-space indented.
#pragma once

#include "console/parameter_store.h"

#include <string>

// Parses JSON text into store (replacing its contents); false with the
// reason (and the store unchanged) when the text is not such a document.
bool ParseState(const std::string& text, CParameterStore& store, std::string& error);

// The JSON text of the store.
std::string FormatState(const CParameterStore& store);

// Reads and parses a state file (a regular file of at most
// kMaxStateFileOctets); false with the reason.
bool LoadStateFile(const std::string& path, CParameterStore& store, std::string& error);

// Writes the store to path with WriteFileAtomically (atomically, keeping the file's
// permissions, through a symbolic link to its target); false with the
// reason.
bool SaveStateFile(const std::string& path, const CParameterStore& store, std::string& error);
