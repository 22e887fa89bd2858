// Where a partner looks for services, per platform (service_search_posix.cpp,
// service_search_win32.cpp), for the message that none is running.
#pragma once

#include <string>

// The text in parentheses after "no Korvane service is running".
std::string NoServiceDetail();
