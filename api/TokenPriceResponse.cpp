#include "api/TokenPriceResponse.h"

#include "api/JsonReader.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace {

void insertIfPresent(QJsonObject &object, QLatin1StringView key, const std::optional<QString> &text) {
    if (text)
        object.insert(key, *text);
}

template <class T> QJsonArray encodeList(const QList<T> &list) {
    QJsonArray array;
    for (const T &element : list)
        array.append(element.encode());
    return array;
}

} // namespace

using ChainResponse = TokenPriceResponse::PriceResponse::ChainResponse;
using TokenResponse = TokenPriceResponse::PriceResponse::TokenResponse;
using PriceResponse = TokenPriceResponse::PriceResponse;

std::variant<ChainResponse, DecodeError> ChainResponse::decode(const QCborValue &value,
                                                               const JsonPath &path) {
    JsonReader reader(value, path);
    ChainResponse result;
    result.chainType = reader.requiredString("chain_type"_L1);
    result.chainId = reader.optionalString("chain_id"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject ChainResponse::encode() const {
    QJsonObject object{{"chain_type"_L1, chainType}};
    insertIfPresent(object, "chain_id"_L1, chainId);
    return object;
}

std::variant<TokenResponse, DecodeError> TokenResponse::decode(const QCborValue &value,
                                                               const JsonPath &path) {
    JsonReader reader(value, path);
    TokenResponse result;
    result.symbol = reader.requiredString("symbol"_L1);
    result.address = reader.optionalString("address"_L1);
    result.price = reader.optionalString("last_price"_L1);
    result.priceRatio = reader.optionalString("percent_change"_L1);
    result.exchange = reader.optionalString("exchange"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject TokenResponse::encode() const {
    QJsonObject object{{"symbol"_L1, symbol}};
    insertIfPresent(object, "address"_L1, address);
    insertIfPresent(object, "last_price"_L1, price);
    insertIfPresent(object, "percent_change"_L1, priceRatio);
    insertIfPresent(object, "exchange"_L1, exchange);
    return object;
}

std::variant<PriceResponse, DecodeError> PriceResponse::decode(const QCborValue &value,
                                                               const JsonPath &path) {
    JsonReader reader(value, path);
    PriceResponse result;
    result.chain = reader.requiredRecord<ChainResponse>("chain"_L1);
    result.tokens = reader.requiredList<TokenResponse>("tokens"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject PriceResponse::encode() const {
    return QJsonObject{{"chain"_L1, chain.encode()}, {"tokens"_L1, encodeList(tokens)}};
}

std::variant<TokenPriceResponse, DecodeError> TokenPriceResponse::decode(const QCborValue &value,
                                                                         const JsonPath &path) {
    JsonReader reader(value, path);
    TokenPriceResponse result;
    result.prices = reader.requiredList<PriceResponse>("prices"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject TokenPriceResponse::encode() const {
    return QJsonObject{{"prices"_L1, encodeList(prices)}};
}
