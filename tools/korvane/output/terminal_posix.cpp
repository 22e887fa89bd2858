// Terminal detection for the progress meter.
#include "tools/korvane/output/progress_meter.h"

#include <cstdio>
#include <unistd.h>

bool StandardErrorIsTerminal()
{
    return isatty(fileno(stderr)) == 1;
}
