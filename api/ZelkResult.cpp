#include "api/ZelkResult.h"

#include "api/EthereumOracleGasPrice.h"
#include "api/JsonReader.h"
#include "api/TokenPriceResponse.h"

using namespace Qt::StringLiterals;

template <class T> std::variant<ZelkResult<T>, DecodeError> ZelkResult<T>::decode(const QCborValue &value) {
    const JsonPath document;
    JsonReader reader(value, document);
    ZelkResult result;
    result.code = reader.requiredInt64("code"_L1);
    result.message = reader.optionalString("message"_L1);
    result.data = reader.optionalRecord<T>("data"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

template <class T> QJsonObject ZelkResult<T>::encode() const {
    QJsonObject object{{"code"_L1, QJsonValue(qint64(code))}};
    if (message)
        object.insert("message"_L1, *message);
    if (data)
        object.insert("data"_L1, data->encode());
    return object;
}

// The two envelopes the API sends.
template struct ZelkResult<TokenPriceResponse>;
template struct ZelkResult<EthereumOracleGasPrice>;
