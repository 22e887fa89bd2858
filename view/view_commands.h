// The command lines the page's buttons and edits become, and the check of a
// line against how the service reads it (the warnings of `korvane partner`).
#pragma once

#include <string>
#include <vector>

// The line that sets the parameter at a command path ("1,2,3,4,5",
// "1,2,3,4", "1,2,3") to an integer (text false: `value` is decimal digits,
// 0 to 2147483647) or a text (blanks travel as "~", the empty text as "-").
// False with the reason when no command line does that.
bool SetLineFor(const std::string& path, bool text, const std::string& value, std::string& line,
                std::string& error);

// The poll of everything below a level ("1,2", "1,2,3", "1,2,3,4"); false
// for a level no poll reaches (the first, or a parameter's full path).
bool PollLineFor(const std::string& level, std::string& line, std::string& error);

struct CViewLineCheck
{
    bool refused = false;
    // One line: what the service will do instead, findings separated by
    // "; " (empty when it reads the line as written).
    std::string warning;
};

// With strict, a line with any finding is refused.
CViewLineCheck CheckViewLine(const std::string& line, bool strict);
