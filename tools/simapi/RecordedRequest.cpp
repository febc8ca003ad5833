#include "RecordedRequest.h"

#include <QJsonArray>

QByteArray RecordedRequest::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

QJsonObject RecordedRequest::toJson() const {
    QJsonArray headerPairs;
    for (const auto &[name, value] : headers)
        headerPairs.append(QJsonArray{QString::fromLatin1(name), QString::fromLatin1(value)});
    return QJsonObject{
        {"method", QString::fromLatin1(method)},
        {"path", QString::fromLatin1(path)},
        {"headers", headerPairs},
        {"body", QString::fromUtf8(body)},
        {"body_base64", QString::fromLatin1(body.toBase64())},
        {"token_verified", tokenVerified},
        {"token_failure", tokenFailure},
        {"tls", encrypted},
    };
}
