#pragma once

#include "api/ZelkApiService.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Builds the five headers every API request carries. The token proves that the client holds the two
// credentials without sending either: it is the time, a nonce and a SHA-256 sign, encrypted with
// credential 2.
class RequestSigner {
public:
    using Clock = std::function<double()>;       // seconds since 1970, with a fraction
    using UuidSource = std::function<QString()>; // 36-character upper-case UUID text

    explicit RequestSigner(QString appVersion, Clock clock = systemClock, UuidSource uuids = randomUuid);

    // "x-app-type", "x-app-ver", "x-app-locale", "x-app-udid", "x-req-token", in this order.
    HTTPHeaders requestHeaders() const;

    // The token for a payload: AES-256-ECB with PKCS#7 padding under credential 2, in standard Base64.
    // Empty when the cipher fails.
    static QByteArray encryptPayload(const QByteArray &payload);

    static double systemClock();
    static QString randomUuid();

private:
    QByteArray appVersion_;
    Clock clock_;
    UuidSource uuids_;
};
