// JSON forms of what the codec subcommands print, one document per line:
// decode --json writes a report object or an error object per line, dump
// --json a message object (with the whole tree) per line. The objects carry
// the same texts as the plain outputs, so the two can be compared.
//
//   {"report":"1,2,3,4,5,100","path":[1,2,3,4,5],"value":100,"type":"integer","offset":57}
//   {"error":106,"message":"@...: ...","offset":80}
//   {"message":1,"offset":57,"root":{"tag":"A-30000","class":"application",...}}
//
// Offsets are the stream offset (from 0) of the octet at which the message
// ended (its last octet) or at whose handling the error was raised.
#pragma once

#include "ember/tree/node.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

using KorvaneJson = nlohmann::ordered_json;

// A report as the host forwards it (a text report still ends in " \n"):
// "report" is the line as `decode` prints it (without its line feed),
// "path" the five path numbers, "value" the integer or the text ("~" for
// blanks, as in the report), "type" "integer" or "text". A line that is not
// in the report layout gives "type" "unknown", an empty path and a null
// value.
KorvaneJson ReportJson(const std::string& report, uint64_t offset);

// A decoding error: its code, its located message and the offset.
KorvaneJson ErrorJson(int32_t code, const std::string& message, uint64_t offset);

// A node and its children: "tag" (as the dump writes it, "C-1"), "class"
// ("universal", "application", "context", "private"), "number", "type"
// (universal type number), "typeName" (null for a type without a name);
// a container has "children", a leaf "value" (typed: number, boolean,
// string, hex string for octet strings) and "text" (the value as the
// XML-like dump writes it).
KorvaneJson NodeJson(const CEmber_Node& node);

// One message: its number (from 1), the offset of its last octet, its root.
KorvaneJson MessageJson(const CEmber_Node& root, uint64_t index, uint64_t offset);

// The compact one-line text of a document and a line feed; invalid UTF-8 in
// a text is replaced by U+FFFD.
std::string JsonLine(const KorvaneJson& document);
