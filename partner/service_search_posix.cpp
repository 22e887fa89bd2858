#include "partner/service_search.h"

#include "winapi.h"

std::string NoServiceDetail()
{
    const char* folder = GetRuntimeFolder();
    std::string where =
        folder ? std::string("none in the runtime folder ") + folder
               : std::string("the runtime folder is refused: ") + GetMessageLayerError();
    return where + ", chosen by KORVANE_RUNTIME_DIR, else XDG_RUNTIME_DIR; start one with '" +
           "korvane serve'";
}
