// The wait before a retry, for every retry of the partner library (console
// connections, blocks the service did not take): firstMs after the first
// failure in a row, twice as long after each further one, at most maxMs.
#pragma once

// The wait after failure number `attempt` (1 for the first) of a series.
int BackoffDelayMs(int firstMs, int maxMs, int attempt);
