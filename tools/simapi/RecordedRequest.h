#pragma once

#include "HttpRequest.h"

#include <QJsonObject>
#include <QString>

// One request as the simulated server received it.
struct RecordedRequest {
    QByteArray method;
    QByteArray path; // the request target as sent, query included
    HttpHeaderList headers;
    QByteArray body;
    bool tokenVerified = false;
    QString tokenFailure;   // empty when verified
    bool encrypted = false; // arrived over TLS

    QByteArray header(QByteArrayView name) const;
    QJsonObject toJson() const;
};
