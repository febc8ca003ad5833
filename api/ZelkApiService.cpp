#include "api/ZelkApiService.h"

#include "api/NetworkAccess.h"
#include "api/ReplyDecoder.h"
#include "api/RequestSigner.h"
#include "platform/BuildConfig.h"
#include "platform/BundleInfo.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

QString bundleVersion() {
    const QVariant version = BundleInfo::infoDictionary().value(QStringLiteral("CFBundleShortVersionString"));
    // Anything but a text there is a broken bundle; an empty version still lets the request go out.
    return version.typeId() == QMetaType::QString ? version.toString() : QString();
}

// Every refresh asks for the same two URLs; parsing one again cost more than comparing its text.
QUrl parsedUrl(const QString &url) {
    static QString texts[2];
    static QUrl urls[2];
    static int next = 0;
    for (int i = 0; i < 2; ++i) {
        if (!texts[i].isNull() && texts[i] == url)
            return urls[i];
    }
    texts[next] = url;
    urls[next] = QUrl(url, QUrl::TolerantMode);
    const QUrl parsed = urls[next];
    next = 1 - next;
    return parsed;
}

QNetworkRequest signedRequest(const QString &url) {
    QNetworkRequest request(parsedUrl(url));
    for (const auto &[name, value] : ZelkApiService::requestHeaders())
        request.setRawHeader(name, value);
    request.setSslConfiguration(NetworkAccess::tlsConfiguration());
    return request;
}

// Qt turns an HTTP status of 400 and above into an error once the whole body has arrived; such a reply
// still carries the server's answer. Every other error means the transfer itself failed.
bool isStatusOnlyError(const QNetworkReply &reply) {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const int error = reply.error();
    const bool contentOrServerError =
        (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
        (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError) ||
        error == QNetworkReply::ProtocolInvalidOperationError;
    return status >= 400 && contentOrServerError;
}

ZelkApiService::DataResponse bodyOf(QNetworkReply &reply, bool cutOff) {
    const auto tooLarge = [] {
        return TransportError{
            QNetworkReply::UnknownContentError,
            QStringLiteral("reply body larger than %1 bytes").arg(NetworkAccess::maxReplyBytes)};
    };
    if (cutOff)
        return tooLarge();
    if (reply.error() != QNetworkReply::NoError && !isStatusOnlyError(reply))
        return TransportError{reply.error(), reply.errorString().simplified()};

    // The whole body has arrived, so its size is known before it is read: one buffer of that size takes
    // it, where reading up to the limit made a buffer of the largest size allowed. Whatever a reply could
    // not count ahead (a body still being decompressed) is read after it, within the limit.
    const qint64 available = reply.bytesAvailable();
    if (available > NetworkAccess::maxReplyBytes)
        return tooLarge();
    QByteArray body = reply.read(available);
    if (reply.bytesAvailable() > 0)
        body += reply.read(NetworkAccess::maxReplyBytes + 1 - body.size());
    if (body.size() > NetworkAccess::maxReplyBytes)
        return tooLarge();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (body.isEmpty() && status != 204 && status != 205)
        return TransportError{QNetworkReply::UnknownContentError,
                              QStringLiteral("empty reply body with HTTP status %1").arg(status)};
    return body;
}

// Hands the reply's body, or its failure, to `handler` once the transfer ends; a body growing past the
// limit aborts the transfer instead of filling memory.
void whenFinished(QNetworkReply *reply, std::function<void(const ZelkApiService::DataResponse &)> handler) {
    const auto cutOff = std::make_shared<bool>(false);
    const auto limitSize = [reply, cutOff](qint64 bytes) {
        if (bytes > NetworkAccess::maxReplyBytes && !*cutOff) {
            *cutOff = true;
            reply->abort(); // emits finished right here
        }
    };
    // The time limit bounds the whole transfer. Qt's own limit would restart with every byte, so a
    // server trickling bytes could hold a request for hours; this one fires no later than Qt's would.
    NetworkAccess::limitTransferTime(reply);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [limitSize](qint64 received, qint64 total) { limitSize(std::max(received, total)); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [reply, limitSize] { limitSize(reply->bytesAvailable()); });
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [reply, cutOff, handler = std::move(handler)] {
            reply->deleteLater();
            NetworkAccess::transferEnded(reply);
            handler(bodyOf(*reply, *cutOff));
        },
        Qt::SingleShotConnection);
}

// Every refresh posts the same parameters (the same shared object): their JSON is written once.
QByteArray compactJson(const QJsonObject &parameters) {
    static QJsonObject lastParameters;
    static QByteArray lastJson;
    if (lastJson.isNull() || parameters != lastParameters) {
        lastJson = QJsonDocument(parameters).toJson(QJsonDocument::Compact);
        lastParameters = parameters;
    }
    return lastJson;
}

QString debugDescription(const TransportError &error) {
    return QStringLiteral("TransportError(%1): %2").arg(int(error.code)).arg(error.description).simplified();
}

} // namespace

HTTPHeaders ZelkApiService::requestHeaders() {
    static const RequestSigner signer(bundleVersion());
    return signer.requestHeaders();
}

void ZelkApiService::postRequest(const QString &path, const QJsonObject &parameters,
                                 std::function<void(ApiOutcome<TokenPriceResponse>)> completion) const {
    QNetworkRequest request = signedRequest(api + path);
    request.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    QNetworkReply *reply = NetworkAccess::manager().post(request, compactJson(parameters));
    whenFinished(reply, [completion = std::move(completion)](const DataResponse &response) {
        handleTokenPriceResponse(response, completion);
    });
}

void ZelkApiService::getRequest(const QString &path,
                                std::function<void(ApiOutcome<EthereumOracleGasPrice>)> completion) const {
    QNetworkReply *reply = NetworkAccess::manager().get(signedRequest(api + path));
    whenFinished(reply, [completion = std::move(completion)](const DataResponse &response) {
        handleGasPriceResponse(response, completion);
    });
}

void ZelkApiService::handleTokenPriceResponse(const DataResponse &reply,
                                              const TokenPriceCompletion &completion) {
    if (const auto *failure = std::get_if<TransportError>(&reply)) {
        completion(ApiFailure{*failure});
        return;
    }
    completion(outcomeOf(decodeTokenPriceReply(std::get<QByteArray>(reply))));
}

void ZelkApiService::handleGasPriceResponse(const DataResponse &reply, const GasPriceCompletion &completion) {
    if (const auto *failure = std::get_if<TransportError>(&reply)) {
        std::printf("%s\n", debugDescription(*failure).toUtf8().constData());
        std::fflush(stdout);
        return;
    }
    completion(outcomeOf(decodeGasPriceReply(std::get<QByteArray>(reply))));
}

const ZelkApiService &apiBaseURL() {
    static const ZelkApiService service{QStringLiteral(GWEIBAR_API_BASE_URL)};
    return service;
}
