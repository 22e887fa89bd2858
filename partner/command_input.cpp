#include "partner/command_input.h"

bool TakeCommandLine(std::string& line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return !line.empty() && line[0] != '#';
}
