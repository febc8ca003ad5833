#include "api/ReplyDecoder.h"

#include "api/JsonNumberText.h"

#include <QByteArray>
#include <QCborArray>
#include <QCborMap>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

std::variant<QCborValue, DecodeError> parse(QByteArrayView body) {
    if (body.isEmpty())
        return DecodeError{QString(), u"empty body"_s};
    // "code" and "time" must be judged from the number's own text, not from Qt's double.
    const std::optional<QByteArray> exact = JsonNumberText::withExactNumbers(body);
    // Qt copies what it keeps; the body itself need not be copied for it.
    const QByteArray json = exact ? *exact : QByteArray::fromRawData(body.data(), body.size());
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return DecodeError{QString(),
                           u"not JSON: %1 at offset %2"_s.arg(error.errorString()).arg(error.offset)};
    // The parsed data as CBOR values share it, and are cheaper to look members up in.
    if (document.isArray())
        return QCborValue(QCborArray::fromJsonArray(document.array()));
    return QCborValue(QCborMap::fromJsonObject(document.object()));
}

template <class T> std::variant<ZelkResult<T>, DecodeError> decodeReply(QByteArrayView body) {
    auto parsed = parse(body);
    if (auto *error = std::get_if<DecodeError>(&parsed))
        return std::move(*error);
    return ZelkResult<T>::decode(std::get<QCborValue>(parsed));
}

} // namespace

std::variant<ZelkResult<TokenPriceResponse>, DecodeError> decodeTokenPriceReply(QByteArrayView body) {
    return decodeReply<TokenPriceResponse>(body);
}

std::variant<ZelkResult<EthereumOracleGasPrice>, DecodeError> decodeGasPriceReply(QByteArrayView body) {
    return decodeReply<EthereumOracleGasPrice>(body);
}
