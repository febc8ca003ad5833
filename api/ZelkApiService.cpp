#include "api/ZelkApiService.h"

#include "api/NetworkAccess.h"
#include "api/ReplyDecoder.h"
#include "api/RequestSigner.h"
#include "platform/BuildConfig.h"
#include "platform/BundleInfo.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace {

QString bundleVersion() {
    const QVariant version = BundleInfo::infoDictionary().value(QStringLiteral("CFBundleShortVersionString"));
    // Anything but a text there is a broken bundle; an empty version still lets the request go out.
    return version.typeId() == QMetaType::QString ? version.toString() : QString();
}

// How many redirects one request follows, as Qt does by default.
constexpr int maxRedirects = 50;

// One request as sent; a redirect sends it again, to another URL and possibly as a GET.
struct Outgoing {
    QUrl url;
    QByteArray method; // "GET" or "POST"
    QByteArray body;
    int redirectsLeft = maxRedirects;
    QDeadlineTimer deadline; // for the whole transfer, redirects included
};

using ReplyHandler = std::function<void(const ZelkApiService::DataResponse &)>;

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

// Every refresh posts the same parameters: their JSON is written once.
QByteArray compactJson(const QJsonObject &parameters) {
    static QJsonObject lastParameters;
    static QByteArray lastJson;
    if (lastJson.isNull() || parameters != lastParameters) {
        lastJson = QJsonDocument(parameters).toJson(QJsonDocument::Compact);
        lastParameters = parameters;
    }
    return lastJson;
}

void send(Outgoing outgoing, ReplyHandler handler);

// Replies repeat byte for byte while the prices stand (the server's times are whole seconds), and a
// decode depends on the bytes alone: a body equal to the last one takes the last result. Only bodies of
// a real reply's size are kept.
constexpr qsizetype maxRememberedBody = 4096;

template <class T>
std::variant<ZelkResult<T>, DecodeError>
decodedReply(const QByteArray &body, std::variant<ZelkResult<T>, DecodeError> (*decode)(QByteArrayView)) {
    struct Last {
        QByteArray body;
        std::variant<ZelkResult<T>, DecodeError> decoded;
    };
    static std::optional<Last> last;
    if (last && last->body == body)
        return last->decoded;
    auto decoded = decode(body);
    if (body.size() <= maxRememberedBody)
        last = Last{body, decoded};
    else
        last.reset();
    return decoded;
}

QNetworkRequest signedRequest(const QUrl &url) {
    // Qt's own following drops the body of a redirect status without a usable Location and, over HTTP/2,
    // then touches the reply it has freed (a crash); redirects are followed in followRedirect() instead.
    // Copied from one request that holds it, the attribute table is shared: setting it on each request
    // made a table per request.
    static const QNetworkRequest manualRedirects = [] {
        QNetworkRequest request;
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        return request;
    }();
    QNetworkRequest request(manualRedirects);
    request.setUrl(url);
    // A null value would remove the header: one that could not be made still goes out, empty.
    for (const auto &[name, value] : ZelkApiService::requestHeaders())
        request.setRawHeader(name, value.isNull() ? QByteArrayLiteral("") : value);
    request.setSslConfiguration(NetworkAccess::tlsConfiguration());
    return request;
}

// Our own reasons to cut a transfer short.
enum class Abort { none, tooLarge, tooSlow };

TransportError tooLarge() {
    return {QNetworkReply::UnknownContentError,
            QStringLiteral("reply body larger than %1 bytes").arg(NetworkAccess::maxReplyBytes)};
}

// Qt derives an error from an HTTP status only for 400 and above, and the reply then holds the server's
// answer. An error with no status, with a lower one, of the network layer or of the protocol means the
// transfer itself failed, whatever the status.
bool transferFailed(const QNetworkReply &reply) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return false;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return !status.isValid() || status.toInt() < 400 || error < QNetworkReply::ProxyConnectionRefusedError ||
           error == QNetworkReply::ProtocolFailure;
}

ZelkApiService::DataResponse bodyOf(QNetworkReply &reply, Abort aborted) {
    if (aborted == Abort::tooLarge)
        return tooLarge();
    if (aborted == Abort::tooSlow)
        return TransportError{
            QNetworkReply::TimeoutError,
            QStringLiteral("no complete reply within %1 ms").arg(NetworkAccess::transferLimit().count())};
    if (transferFailed(reply))
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
    // A body cut off mid-way: Qt reports it under the status's own error (HTTP/1.1, status 400 and above)
    // or as the server error of a reset stream (HTTP/2).
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && body.size() < announced.toLongLong())
        return TransportError{QNetworkReply::RemoteHostClosedError,
                              QStringLiteral("reply body cut off after %1 of %2 bytes")
                                  .arg(body.size())
                                  .arg(announced.toLongLong())};
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (body.isEmpty() && status != 204 && status != 205)
        return TransportError{QNetworkReply::UnknownContentError,
                              QStringLiteral("empty reply body with HTTP status %1").arg(status)};
    return body;
}

// Follows a redirect by the rules of Qt's default policy: 301, 302, 303, 305, 307 and 308 with an http or
// https Location, never from https to http, at most 50 in a row; 307 and 308 keep the method and body,
// the others turn into a GET. Returns false for a reply that is not such a redirect: a redirect status
// without a usable Location is an answer like any other.
bool followRedirect(const QNetworkReply &reply, const Outgoing &outgoing, const ReplyHandler &handler) {
    static const QList<int> redirectStatuses{301, 302, 303, 305, 307, 308};
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply.error() != QNetworkReply::NoError || !redirectStatuses.contains(status))
        return false;
    const QUrl location = QUrl::fromEncoded(reply.rawHeader("Location"));
    if (!location.isValid() || location.isEmpty())
        return false;
    const QUrl target = outgoing.url.resolved(location);
    if (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))
        return false;

    if (outgoing.url.scheme() == QLatin1String("https") && target.scheme() == QLatin1String("http")) {
        handler(TransportError{QNetworkReply::InsecureRedirectError,
                               QStringLiteral("redirect from https to http refused")});
    } else if (outgoing.redirectsLeft == 0) {
        handler(TransportError{QNetworkReply::TooManyRedirectsError,
                               QStringLiteral("more than %1 redirects").arg(maxRedirects)});
    } else {
        Outgoing next = outgoing;
        next.url = target;
        next.redirectsLeft = outgoing.redirectsLeft - 1;
        if (status != 307 && status != 308) {
            next.method = QByteArrayLiteral("GET");
            next.body.clear();
        }
        send(std::move(next), handler);
    }
    return true;
}

// Hands the reply's body, or its failure, to `handler` once the transfer ends; a body growing past the
// limit aborts the transfer instead of filling memory.
void whenFinished(QNetworkReply *reply, Outgoing outgoing, ReplyHandler handler) {
    const auto aborted = std::make_shared<Abort>(Abort::none);
    const auto limitSize = [reply, aborted](qint64 bytes) {
        if (bytes > NetworkAccess::maxReplyBytes && *aborted == Abort::none) {
            *aborted = Abort::tooLarge;
            reply->abort(); // emits finished right here
        }
    };
    // The time limit bounds the whole transfer, redirects included. Qt's own limit would restart with
    // every byte, so a server trickling bytes could hold a request for hours.
    NetworkAccess::limitTransferTime(reply, outgoing.deadline);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [limitSize](qint64 received, qint64 total) { limitSize(std::max(received, total)); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [reply, limitSize] { limitSize(reply->bytesAvailable()); });
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [reply, aborted, outgoing = std::move(outgoing), handler = std::move(handler)] {
            reply->deleteLater();
            NetworkAccess::transferEnded(reply);
            if (*aborted == Abort::none && reply->error() == QNetworkReply::OperationCanceledError &&
                outgoing.deadline.hasExpired())
                *aborted = Abort::tooSlow;
            if (*aborted == Abort::none && followRedirect(*reply, outgoing, handler))
                return;
            handler(bodyOf(*reply, *aborted));
        },
        Qt::SingleShotConnection);
}

void send(Outgoing outgoing, ReplyHandler handler) {
    QNetworkRequest request = signedRequest(outgoing.url);
    QNetworkReply *reply = nullptr;
    if (outgoing.method == "POST") {
        request.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
        reply = NetworkAccess::manager().post(request, outgoing.body);
    } else {
        reply = NetworkAccess::manager().get(request);
    }
    whenFinished(reply, std::move(outgoing), std::move(handler));
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
    send({parsedUrl(api + path), QByteArrayLiteral("POST"), compactJson(parameters), maxRedirects,
          QDeadlineTimer(NetworkAccess::transferLimit())},
         [completion = std::move(completion)](const DataResponse &response) {
             handleTokenPriceResponse(response, completion);
         });
}

void ZelkApiService::getRequest(const QString &path,
                                std::function<void(ApiOutcome<EthereumOracleGasPrice>)> completion) const {
    send({parsedUrl(api + path),
          QByteArrayLiteral("GET"),
          {},
          maxRedirects,
          QDeadlineTimer(NetworkAccess::transferLimit())},
         [completion = std::move(completion)](const DataResponse &response) {
             handleGasPriceResponse(response, completion);
         });
}

void ZelkApiService::handleTokenPriceResponse(const DataResponse &reply,
                                              const TokenPriceCompletion &completion) {
    if (const auto *failure = std::get_if<TransportError>(&reply)) {
        completion(ApiFailure{*failure});
        return;
    }
    completion(outcomeOf(decodedReply(std::get<QByteArray>(reply), &decodeTokenPriceReply)));
}

void ZelkApiService::handleGasPriceResponse(const DataResponse &reply, const GasPriceCompletion &completion) {
    if (const auto *failure = std::get_if<TransportError>(&reply)) {
        std::printf("%s\n", debugDescription(*failure).toUtf8().constData());
        std::fflush(stdout);
        return;
    }
    completion(outcomeOf(decodedReply(std::get<QByteArray>(reply), &decodeGasPriceReply)));
}

const ZelkApiService &apiBaseURL() {
    static const ZelkApiService service{QStringLiteral(GWEIBAR_API_BASE_URL)};
    return service;
}
