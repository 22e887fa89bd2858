#include "partner/service_search.h"

std::string NoServiceDetail()
{
    return "no window Korvane_* exists; start Korvane.exe";
}
