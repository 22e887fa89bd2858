#include "view/view_commands.h"

#include "host/command_check.h"
#include "view/view_state.h"

#include <cstdint>

namespace {

std::vector<std::string> Numbers(const std::string& path)
{
    std::vector<std::string> numbers;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t end = std::min(path.find(',', at), path.size());
        numbers.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return numbers;
}

std::string Join(const std::vector<std::string>& numbers)
{
    std::string out;
    for (const std::string& number : numbers)
        out += (out.empty() ? "" : ",") + number;
    return out;
}

} // namespace

bool SetLineFor(const std::string& path, bool text, const std::string& value, std::string& line,
                std::string& error)
{
    if (!IsViewPath(path)) {
        error = "not a path: '" + path + "'";
        return false;
    }
    std::vector<std::string> numbers = Numbers(path);
    for (size_t i = 0; i + 1 < numbers.size(); ++i)
        if (numbers[i] == "0") {
            error = "no command line names " + path + " (a zero inside the path)";
            return false;
        }
    if (numbers.size() < 3 || (numbers.size() == 3 && !text)) {
        error = "no command line sets " + std::string(text ? "a text" : "an integer") +
                " at a path of " + std::to_string(numbers.size()) + " number" +
                (numbers.size() == 1 ? "" : "s");
        return false;
    }
    std::string shown;
    if (text) {
        if (value.find('~') != std::string::npos) {
            error = "a text cannot carry '~' (it travels as a blank)";
            return false;
        }
        for (char c : value)
            shown += c == ' ' ? '~' : c;
        if (shown.empty())
            shown = "-";
    } else {
        uint64_t number = 0;
        for (char c : value) {
            if (c < '0' || c > '9' || number > 2147483647u) {
                number = UINT64_MAX;
                break;
            }
            number = number * 10 + uint64_t(c - '0');
        }
        if (value.empty() || number > 2147483647u) {
            error = "an integer value is 0 to 2147483647: '" + value + "'";
            return false;
        }
        shown = std::to_string(number);
    }
    while (numbers.size() < 5)
        numbers.push_back("0");
    line = Join(numbers) + "," + shown;
    return true;
}

bool PollLineFor(const std::string& level, std::string& line, std::string& error)
{
    if (!IsViewPath(level)) {
        error = "not a path: '" + level + "'";
        return false;
    }
    std::vector<std::string> numbers = Numbers(level);
    if (numbers.size() < 2 || numbers.size() > 4) {
        error = "no poll reaches the level " + level + " (polls go to levels of 2 to 4 numbers)";
        return false;
    }
    for (const std::string& number : numbers)
        if (number == "0") {
            error = "no poll names " + level + " (a zero in the path)";
            return false;
        }
    // The number after the level is required but not sent.
    numbers.push_back("1");
    while (numbers.size() < 5)
        numbers.push_back("0");
    line = Join(numbers) + ",-1";
    return true;
}

CViewLineCheck CheckViewLine(const std::string& line, bool strict)
{
    CViewLineCheck check;
    for (const CommandFinding& finding : CheckCommandLine(line))
        check.warning += (check.warning.empty() ? "" : "; ") + finding.text;
    check.refused = strict && !check.warning.empty();
    return check;
}
