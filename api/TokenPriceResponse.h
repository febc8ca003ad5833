#pragma once

#include "api/ApiFailure.h"

#include <QCborValue>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

class JsonPath;

// The token-price reply document. Only prices[0].tokens[0].price is ever read; every field is still
// decoded strictly, so a field of the wrong kind anywhere fails the whole reply.
struct TokenPriceResponse {
    struct PriceResponse {
        struct ChainResponse {
            QString chainType;              // "chain_type"
            std::optional<QString> chainId; // "chain_id"

            static std::variant<ChainResponse, DecodeError> decode(const QCborValue &value,
                                                                   const JsonPath &path);
            QJsonObject encode() const;
            bool operator==(const ChainResponse &) const = default;
        };
        struct TokenResponse {
            QString symbol;
            std::optional<QString> address;
            std::optional<QString> price;      // "last_price"
            std::optional<QString> priceRatio; // "percent_change"
            std::optional<QString> exchange;

            static std::variant<TokenResponse, DecodeError> decode(const QCborValue &value,
                                                                   const JsonPath &path);
            QJsonObject encode() const;
            bool operator==(const TokenResponse &) const = default;
        };

        ChainResponse chain;
        QList<TokenResponse> tokens;

        static std::variant<PriceResponse, DecodeError> decode(const QCborValue &value, const JsonPath &path);
        QJsonObject encode() const;
        bool operator==(const PriceResponse &) const = default;
    };

    QList<PriceResponse> prices;

    static std::variant<TokenPriceResponse, DecodeError> decode(const QCborValue &value,
                                                                const JsonPath &path);
    QJsonObject encode() const;
    bool operator==(const TokenPriceResponse &) const = default;
};
