// libFuzzer target for the console's state-file reader: any text. A text
// it takes must give a store that is written and read back unchanged, and
// writing it again must give the same text (the target aborts otherwise);
// a text it refuses must leave the store as it was.
#include "console/state_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CParameterStore store;
    store.Set({9}, int32_t(9));
    const auto before = store.All();
    std::string error;
    if (!ParseState(text, store, error)) {
        if (error.empty() || store.All() != before)
            std::abort();
        return 0;
    }
    const std::string written = FormatState(store);
    CParameterStore again;
    if (!ParseState(written, again, error))
        std::abort();
    if (again.All() != store.All() || FormatState(again) != written)
        std::abort();
    return 0;
}
