// A gas-price reply body as the server (or anyone on the path) may send it.
#include "ReplyChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    checkReply<EthereumOracleGasPrice>(data, size, &decodeGasPriceReply);
    return 0;
}
