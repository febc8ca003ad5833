#pragma once

#include "api/ReplyDecoder.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QString>

#include <optional>

// Reply bodies as the API sends them; every member present, no unknown keys.
inline const QByteArray gasPriceBody = R"({"code":0,"message":"success","data":{
  "low":{"price":"1000000000","time":1700000000},
  "standard":{"price":"1500000000","time":1700000001},
  "fast":{"price":"2000000000","time":1700000002},
  "base":{"price":"900000000","time":1700000003}}})";

inline const QByteArray tokenPriceBody = R"({"code":0,"message":"OK","data":{"prices":[
  {"chain":{"chain_type":"EVM","chain_id":"1"},"tokens":[
    {"symbol":"ETH","address":"0xeeee","last_price":"2245.31","percent_change":"-1.2","exchange":"dex"},
    {"symbol":"WETH","address":"0xc02a","last_price":"2245.30","percent_change":"-1.1","exchange":"cex"}]},
  {"chain":{"chain_type":"EVM","chain_id":"56"},"tokens":[
    {"symbol":"BNB","address":"0xbbbb","last_price":"301.5","percent_change":"0.4","exchange":"dex"},
    {"symbol":"WBNB","address":"0xbb4c","last_price":"301.4","percent_change":"0.3","exchange":"cex"}]}]}})";

inline QJsonObject jsonObject(const QByteArray &body) {
    return QJsonDocument::fromJson(body).object();
}

inline QByteArray bytes(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Replaces (or, given nothing, removes) the member at a decoder path such as
// "data.prices[1].tokens[0].symbol".
inline QJsonValue withMember(const QJsonValue &root, const QString &path,
                             const std::optional<QJsonValue> &value) {
    static const QRegularExpression step(QStringLiteral(R"(^(\w+)|^\[(\d+)\]|^\.(\w+))"));
    const auto match = step.match(path);
    const QString key = match.captured(1) + match.captured(3);
    const QString rest = path.mid(match.capturedLength());
    if (key.isEmpty()) {
        QJsonArray array = root.toArray();
        const auto index = match.captured(2).toInt();
        array[index] = rest.isEmpty() ? value.value_or(QJsonValue()) : withMember(array[index], rest, value);
        return array;
    }
    QJsonObject object = root.toObject();
    if (!rest.isEmpty())
        object[key] = withMember(object[key], rest, value);
    else if (value)
        object[key] = *value;
    else
        object.remove(key);
    return object;
}

// What the encoder writes back for an accepted document: the same members, with nulls left out.
inline QJsonValue withoutNulls(const QJsonValue &value) {
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue &element : value.toArray())
            array.append(withoutNulls(element));
        return array;
    }
    if (!value.isObject())
        return value;
    QJsonObject object;
    const QJsonObject source = value.toObject();
    for (auto it = source.begin(); it != source.end(); ++it)
        if (!it.value().isNull())
            object.insert(it.key(), withoutNulls(it.value()));
    return object;
}

template <class T> const DecodeError *decodeErrorOf(const ApiOutcome<T> &outcome) {
    const auto *failure = std::get_if<ApiFailure>(&outcome);
    return failure ? std::get_if<DecodeError>(failure) : nullptr;
}

template <class T>
std::optional<ZelkResult<T>> envelopeOf(const std::variant<ZelkResult<T>, DecodeError> &decoded) {
    if (const auto *envelope = std::get_if<ZelkResult<T>>(&decoded))
        return *envelope;
    return std::nullopt;
}
