#include "HttpRequest.h"

QByteArray HttpRequest::header(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (QByteArrayView(key).compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

bool HttpRequest::hasHeader(QByteArrayView name) const {
    return !header(name).isNull();
}

bool HttpRequest::wantsClose() const {
    const QByteArray connection = header("Connection").toLower();
    if (version == "HTTP/1.0")
        return !connection.contains("keep-alive");
    return connection.contains("close");
}
