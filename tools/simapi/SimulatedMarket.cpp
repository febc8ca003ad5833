#include "SimulatedMarket.h"

#include <array>

namespace {

struct Network {
    const char *chainId;
    const char *symbol;
    qint64 lowWei;
    qint64 standardWei;
    qint64 fastWei;
    qint64 priceHundredThousandths; // US dollars times 100000
};

constexpr qint64 gwei = 1'000'000'000;

constexpr std::array<Network, 6> networks{{
    {"1", "ETH", 12 * gwei, 15 * gwei, 20 * gwei, 245'012'345},
    {"56", "BNB", 1 * gwei, 3 * gwei, 5 * gwei, 61'234'567},
    {"137", "MATIC", 30 * gwei, 40 * gwei, 60 * gwei, 51'234},
    {"250", "FTM", 15 * gwei, 25 * gwei, 50 * gwei, 70'123},
    {"66", "OKT", gwei / 10, gwei / 10 + gwei / 20, gwei / 5, 1'456'789},
    {"128", "HT", 3 * gwei / 2, 9 * gwei / 4, 3 * gwei, 34'567},
}};

const Network *find(QByteArrayView chainId) {
    for (const Network &network : networks) {
        if (chainId == QByteArrayView(network.chainId))
            return &network;
    }
    return nullptr;
}

// Per mille change from the starting price: a slow triangle wave with a little jitter, offset per network.
qint64 driftPerMille(qint64 step, qint64 offset) {
    const qint64 phase = ((step + offset) % 24 + 24) % 24;
    const qint64 triangle = phase < 12 ? phase : 24 - phase;
    const qint64 jitter = ((step * 37 + offset * 11) % 13 + 13) % 13 - 6;
    return (triangle - 6) * 25 + jitter;
}

qint64 offsetOf(const Network &network) {
    return &network - networks.data();
}

QByteArray weiAt(qint64 startWei, qint64 step, qint64 offset, qint64 tier) {
    const qint64 drifted = startWei / 1000 * (1000 + driftPerMille(step, offset));
    // Sub-gwei digits, so the four fraction digits of the gwei text move too.
    const qint64 dust = ((step * 1'234'567 + tier * 89'101) % 1'000'000'000 + 1'000'000'000) % 1'000'000'000;
    return QByteArray::number(drifted + dust % (startWei / 10 + 1));
}

QByteArray withFraction(qint64 scaled, int digits) {
    const bool negative = scaled < 0;
    const qint64 magnitude = negative ? -scaled : scaled;
    qint64 unit = 1;
    for (int i = 0; i < digits; ++i)
        unit *= 10;
    QByteArray fraction = QByteArray::number(magnitude % unit).rightJustified(digits, '0');
    return (negative ? "-" : "") + QByteArray::number(magnitude / unit) + '.' + fraction;
}

qint64 priceAt(const Network &network, qint64 step) {
    return network.priceHundredThousandths / 1000 * (1000 + driftPerMille(step, offsetOf(network) * 5)) +
           (step * 7 + 3) % 97;
}

} // namespace

bool SimulatedMarket::knowsChain(QByteArrayView chainId) {
    return find(chainId) != nullptr;
}

std::optional<SimulatedMarket::GasPrices> SimulatedMarket::gasPrices(QByteArrayView chainId, qint64 step) {
    const Network *network = find(chainId);
    if (!network)
        return std::nullopt;
    const qint64 offset = offsetOf(*network);
    return GasPrices{weiAt(network->lowWei, step, offset, 0), weiAt(network->standardWei, step, offset, 1),
                     weiAt(network->fastWei, step, offset, 2),
                     weiAt(network->lowWei * 9 / 10, step, offset, 3)};
}

std::optional<QByteArray> SimulatedMarket::tokenPrice(QByteArrayView chainId, QByteArrayView symbol,
                                                      qint64 step) {
    const Network *network = find(chainId);
    if (!network || symbol != QByteArrayView(network->symbol))
        return std::nullopt;
    return withFraction(priceAt(*network, step), 5);
}

std::optional<QByteArray> SimulatedMarket::tokenPercentChange(QByteArrayView chainId, qint64 step) {
    const Network *network = find(chainId);
    if (!network)
        return std::nullopt;
    const qint64 now = priceAt(*network, step);
    const qint64 before = priceAt(*network, step - 1);
    return withFraction((now - before) * 10000 / before, 2);
}
