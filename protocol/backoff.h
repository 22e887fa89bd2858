// The wait before a retry, for every retry of the program (the partner
// library's console connections and blocks the service did not take, the
// console simulator's accepts): firstMs after the first failure in a row,
// twice as long after each further one, at most maxMs.
#pragma once

// The wait after failure number `attempt` (1 for the first) of a series.
int BackoffDelayMs(int firstMs, int maxMs, int attempt);
