// One main for every benchmark of bench/.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
