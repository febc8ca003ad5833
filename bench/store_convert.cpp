#include "platform/Decimal.h"
#include "store/DecimalFormat.h"
#include "store/WeiConversion.h"

#include <benchmark/benchmark.h>

namespace {
void weiToGweiTypical(benchmark::State &state) {
    const QString wei = QStringLiteral("12345678901");
    for (auto _ : state)
        benchmark::DoNotOptimize(weiToGwei(wei));
}
BENCHMARK(weiToGweiTypical);

void weiToGweiSixtyDigits(benchmark::State &state) {
    const QString wei = QStringLiteral("123456789012345678901234567890123456789012345678901234567890");
    for (auto _ : state)
        benchmark::DoNotOptimize(weiToGwei(wei));
}
BENCHMARK(weiToGweiSixtyDigits);

void formatDollarCost(benchmark::State &state) {
    const Decimal cost = *Decimal::parse("0.000441034210000000");
    for (auto _ : state)
        benchmark::DoNotOptimize(formatDecimal(cost, 4, true));
}
BENCHMARK(formatDollarCost);
} // namespace
