#include "api/ReplyDecoder.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

namespace {

// Replies as the API sends them for Ethereum.
const QByteArray gasPriceReply =
    R"({"code":0,"message":"success","data":{"low":{"price":"18234567891","time":1733690000},)"
    R"("standard":{"price":"19876543210","time":1733690000},"fast":{"price":"23456789012","time":1733690000},)"
    R"("base":{"price":"17654321098","time":1733690000}}})";

const QByteArray tokenPriceReply =
    R"({"code":0,"message":"success","data":{"prices":[{"chain":{"chain_type":"EVM","chain_id":"1"},)"
    R"("tokens":[{"symbol":"ETH","address":"0x0000000000000000000000000000000000000000",)"
    R"("last_price":"3712.4521","percent_change":"-1.8734","exchange":"aggregate"}]}]}})";

void decodeGasPrice(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(outcomeOf(decodeGasPriceReply(gasPriceReply)));
}
BENCHMARK(decodeGasPrice);

void decodeTokenPrice(benchmark::State &state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(outcomeOf(decodeTokenPriceReply(tokenPriceReply)));
}
BENCHMARK(decodeTokenPrice);

} // namespace
