#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Gas and token prices of the six networks, drifting with time in a repeatable way: the same step
// always gives the same prices.
class SimulatedMarket {
public:
    struct GasPrices {
        QByteArray low; // wei, decimal digits
        QByteArray standard;
        QByteArray fast;
        QByteArray base;
    };

    // Prices move once per step.
    static constexpr qint64 stepSeconds = 5;
    static qint64 step(qint64 secondsSinceEpoch) { return secondsSinceEpoch / stepSeconds; }

    static bool knowsChain(QByteArrayView chainId);
    static std::optional<GasPrices> gasPrices(QByteArrayView chainId, qint64 step);
    // US-dollar price with five fraction digits; none when the symbol is not the chain's own token.
    static std::optional<QByteArray> tokenPrice(QByteArrayView chainId, QByteArrayView symbol, qint64 step);
    // Change against the previous step in percent, two fraction digits.
    static std::optional<QByteArray> tokenPercentChange(QByteArrayView chainId, qint64 step);
};
