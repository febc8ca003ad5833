#include "api/EthereumOracleGasPrice.h"

#include "api/JsonReader.h"

using namespace Qt::StringLiterals;

std::variant<EthereumOracleGasPrice::EthereumOracleGasPriceValue, DecodeError>
EthereumOracleGasPrice::EthereumOracleGasPriceValue::decode(const QCborValue &value, const JsonPath &path) {
    JsonReader reader(value, path);
    EthereumOracleGasPriceValue result;
    result.price = reader.requiredString("price"_L1);
    result.time = reader.optionalInt64("time"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject EthereumOracleGasPrice::EthereumOracleGasPriceValue::encode() const {
    QJsonObject object{{"price"_L1, price}};
    if (time)
        object.insert("time"_L1, QJsonValue(qint64(*time)));
    return object;
}

std::variant<EthereumOracleGasPrice, DecodeError> EthereumOracleGasPrice::decode(const QCborValue &value,
                                                                                 const JsonPath &path) {
    JsonReader reader(value, path);
    EthereumOracleGasPrice result;
    result.low = reader.requiredRecord<EthereumOracleGasPriceValue>("low"_L1);
    result.standard = reader.requiredRecord<EthereumOracleGasPriceValue>("standard"_L1);
    result.fast = reader.requiredRecord<EthereumOracleGasPriceValue>("fast"_L1);
    result.base = reader.optionalRecord<EthereumOracleGasPriceValue>("base"_L1);
    if (reader.error())
        return *reader.error();
    return result;
}

QJsonObject EthereumOracleGasPrice::encode() const {
    QJsonObject object{
        {"low"_L1, low.encode()}, {"standard"_L1, standard.encode()}, {"fast"_L1, fast.encode()}};
    if (base)
        object.insert("base"_L1, base->encode());
    return object;
}
