#include "api/ZelkApiService.h"

#include <benchmark/benchmark.h>

// Every request builds its headers on the main thread, so they must stay cheap.
static void requestHeaders(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ZelkApiService::requestHeaders());
}
BENCHMARK(requestHeaders);
