#include "protocol/backoff.h"

#include <algorithm>
#include <cstdint>

int BackoffDelayMs(int firstMs, int maxMs, int attempt)
{
    int64_t delay = firstMs;
    for (int i = 1; i < attempt && delay < maxMs; ++i)
        delay *= 2;
    return int(std::min<int64_t>(delay, maxMs));
}
