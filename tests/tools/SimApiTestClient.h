#pragma once

#include "tools/simapi/HttpRequest.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>

#include <functional>

// Sends requests to the simulated server and waits for them on the test's event loop; builds tokens
// independently of the program's signer, straight from OpenSSL.
class SimApiTestClient {
public:
    struct Reply {
        bool finished = false; // false: no answer within the time limit
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        int status = 0;
        HttpHeaderList headers;
        QByteArray body;
        qint64 elapsedMs = 0;

        QJsonObject json() const;
    };

    struct TokenParts {
        QByteArray time;
        QByteArray udid;
        QByteArray nonce;
        QByteArray sign; // empty: computed from the parts above
        QByteArray key;  // empty: the shared credential
    };

    static constexpr qint64 fixedNow = 1'700'000'000;
    static const QByteArray udid;
    static const QByteArray nonce;

    static QByteArray sign(const QByteArray &time, const QByteArray &udid, const QByteArray &nonce);
    static QByteArray encrypt(const QByteArray &plain, const QByteArray &key);
    static QByteArray token(const TokenParts &parts);
    // The five headers of a correctly signed request made at `time`.
    static HttpHeaderList signedHeaders(qint64 time = fixedNow);

    // Runs the event loop until the condition holds or the time is up; the condition's last value.
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);

    void trust(const QList<QSslCertificate> &authorities);
    Reply get(const QString &url, const HttpHeaderList &headers, int timeoutMs = 5000);
    Reply post(const QString &url, const HttpHeaderList &headers, const QByteArray &body,
               int timeoutMs = 5000);

private:
    Reply send(const QByteArray &method, const QString &url, const HttpHeaderList &headers,
               const QByteArray &body, int timeoutMs);

    QNetworkAccessManager m_manager;
    QList<QSslCertificate> m_authorities;
};
