#include "SimApiTestClient.h"

#include "api/ApiCredentials.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

#include <openssl/evp.h>

#include <memory>

const QByteArray SimApiTestClient::udid = "0F8C2A44-6B1D-4E7A-9C3B-5D2E8F1A7B60";
const QByteArray SimApiTestClient::nonce = "A1B2C3D4-E5F6-4789-8ABC-DEF012345678";

QJsonObject SimApiTestClient::Reply::json() const {
    return QJsonDocument::fromJson(body).object();
}

QByteArray SimApiTestClient::sign(const QByteArray &time, const QByteArray &udid, const QByteArray &nonce) {
    const QByteArray text = time + udid + QByteArray(ApiCredentials::credential1) + nonce;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.constData(), static_cast<size_t>(text.size()), digest, &length, EVP_sha256(), nullptr);
    return QByteArray(reinterpret_cast<const char *>(digest), length).toHex();
}

QByteArray SimApiTestClient::encrypt(const QByteArray &plain, const QByteArray &key) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                  &EVP_CIPHER_CTX_free);
    QByteArray out(plain.size() + 16, Qt::Uninitialized);
    auto *bytes = reinterpret_cast<unsigned char *>(out.data());
    int written = 0;
    int last = 0;
    EVP_EncryptInit_ex(context.get(), EVP_aes_256_ecb(), nullptr,
                       reinterpret_cast<const unsigned char *>(key.constData()), nullptr);
    EVP_EncryptUpdate(context.get(), bytes, &written,
                      reinterpret_cast<const unsigned char *>(plain.constData()),
                      static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(context.get(), bytes + written, &last);
    out.truncate(written + last);
    return out;
}

QByteArray SimApiTestClient::token(const TokenParts &parts) {
    const QByteArray signature =
        parts.sign.isEmpty() ? sign(parts.time, parts.udid, parts.nonce) : parts.sign;
    const QByteArray payload =
        R"({"time":")" + parts.time + R"(","nonce":")" + parts.nonce + R"(","sign":")" + signature + R"("})";
    const QByteArray key = parts.key.isEmpty() ? QByteArray(ApiCredentials::credential2) : parts.key;
    return encrypt(payload, key).toBase64();
}

HttpHeaderList SimApiTestClient::signedHeaders(qint64 time) {
    return {{"x-app-type", "iOS-5"},
            {"x-app-ver", "1.0.0"},
            {"x-app-locale", "en"},
            {"x-app-udid", udid},
            {"x-req-token", token({QByteArray::number(time), udid, nonce, {}, {}})}};
}

bool SimApiTestClient::waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return condition();
}

void SimApiTestClient::trust(const QList<QSslCertificate> &authorities) {
    m_authorities = authorities;
}

SimApiTestClient::Reply SimApiTestClient::get(const QString &url, const HttpHeaderList &headers,
                                              int timeoutMs) {
    return send("GET", url, headers, {}, timeoutMs);
}

SimApiTestClient::Reply SimApiTestClient::post(const QString &url, const HttpHeaderList &headers,
                                               const QByteArray &body, int timeoutMs) {
    return send("POST", url, headers, body, timeoutMs);
}

SimApiTestClient::Reply SimApiTestClient::send(const QByteArray &method, const QString &url,
                                               const HttpHeaderList &headers, const QByteArray &body,
                                               int timeoutMs) {
    QNetworkRequest request{QUrl(url)};
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    if (method == "POST")
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!m_authorities.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(m_authorities);
        request.setSslConfiguration(configuration);
    }

    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = method == "POST" ? m_manager.post(request, body) : m_manager.get(request);
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    Reply result;
    result.elapsedMs = clock.elapsed();
    result.finished = reply->isFinished();
    if (!result.finished)
        reply->abort();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const auto &pair : reply->rawHeaderPairs())
        result.headers.append(pair);
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}
