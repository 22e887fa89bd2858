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

#include <cstddef>
#include <cstdint>
#include <string>

using KorvaneJson = nlohmann::ordered_json;

// The members every report event carries, in `decode --json` as in
// `partner --json`, appended to object in this order:
//   "report"        the line as the host forwards it (a text report ends in
//                   the layout's blank; its line feed is left out), "~" for
//                   blanks as the service writes them;
//   "path"          the five path numbers;
//   "value"         the integer, or the text: consoleText when the caller
//                   has the decoded tree at hand (the text as the console
//                   sent it), else the report's text with every "~" read
//                   as a blank, as the service reads its command lines;
//   "type"          "integer" or "text";
//   "reportOctets"  only when the line is not valid UTF-8: its exact octets
//                   as upper-case hex ("report" and "value" then hold
//                   U+FFFD in place of the octets that are not UTF-8).
// A line that is not in the report layout gives "type" "unknown", an empty
// path and a null value.
void AddReportMembers(KorvaneJson& object, const std::string& report,
                      const std::string* consoleText = nullptr);

// A report event of decode --json: the report members, then "offset".
KorvaneJson ReportJson(const std::string& report, uint64_t offset,
                       const std::string* consoleText = nullptr);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string& text);

// A decoding error: its code, its located message and the offset.
KorvaneJson ErrorJson(int32_t code, const std::string& message, uint64_t offset);

// A node and its children: "tag" (as the dump writes it, "C-1"), "class"
// ("universal", "application", "context", "private"), "number", "type"
// (universal type number), "typeName" (null for a type without a name);
// a container has "children", a leaf "value" (typed: number, boolean,
// string, hex string for octet strings) and "text" (the value as the
// XML-like dump writes it); a text that is not valid UTF-8 also has
// "octets", its exact octets in upper-case hex.
KorvaneJson NodeJson(const CEmber_Node& node);

// One message: its number (from 1), the offset of its last octet, its root.
KorvaneJson MessageJson(const CEmber_Node& root, uint64_t index, uint64_t offset);

// The compact one-line text of a document and a line feed; invalid UTF-8 in
// a text is replaced by U+FFFD.
std::string JsonLine(const KorvaneJson& document);
