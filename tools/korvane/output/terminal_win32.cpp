// Terminal detection for the progress meter: a console, not a file or pipe.
#include "tools/korvane/output/progress_meter.h"

#include <cstdio>
#include <io.h>

bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}
