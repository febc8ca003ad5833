#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

// Header name and value pairs in the order they travel on the wire.
using HttpHeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One parsed HTTP/1.1 request.
struct HttpRequest {
    QByteArray method;
    QByteArray target; // as written on the request line
    QByteArray path;   // the target without its query
    QByteArray version;
    HttpHeaderList headers;
    QByteArray body;

    // The first header of that name (names compare case-insensitively); null when absent.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
    bool wantsClose() const;
};
