#pragma once

#include "api/ApiFailure.h"

#include <QCborValue>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

class JsonPath;

// The gas-price reply document: three tiers and an optional fourth value, prices in wei as text.
struct EthereumOracleGasPrice {
    struct EthereumOracleGasPriceValue {
        QString price;
        std::optional<std::int64_t> time;

        static std::variant<EthereumOracleGasPriceValue, DecodeError> decode(const QCborValue &value,
                                                                             const JsonPath &path);
        QJsonObject encode() const;
        bool operator==(const EthereumOracleGasPriceValue &) const = default;
    };

    EthereumOracleGasPriceValue low;
    EthereumOracleGasPriceValue standard;
    EthereumOracleGasPriceValue fast;
    std::optional<EthereumOracleGasPriceValue> base;

    static std::variant<EthereumOracleGasPrice, DecodeError> decode(const QCborValue &value,
                                                                    const JsonPath &path);
    QJsonObject encode() const;
    bool operator==(const EthereumOracleGasPrice &) const = default;
};
