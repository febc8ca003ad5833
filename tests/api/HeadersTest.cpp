// Headers that cannot be made, on the wire. The signer keeps state for the whole process (the version is
// read once, OpenSSL's algorithms are kept once fetched), so this runs in a process of its own, before
// anything else has built headers.
#include "NginxHttp2Front.h"
#include "api/NetworkAccess.h"
#include "api/ZelkApiService.h"
#include "platform/BundleInfo.h"
#include "tools/simapi/RequestTokenVerifier.h"
#include "tools/simapi/SimulatedApiServer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace {

const QString certificateDir = QStringLiteral(GWEIBAR_TEST_CERT_DIR);
const QString tokenPath = QStringLiteral("/api/v1/tokens/prices/conditions");
const QString gasPath = QStringLiteral("/api/v1/chains/EVM/56/gas_price");

// With these default properties no provider offers SHA-256 or AES, so fetching them fails.
bool breakOpenSslFetches(bool broken) {
    return EVP_set_default_properties(nullptr, broken ? "provider=none-such" : "") == 1;
}

bool sha256Fetchable() {
    EVP_MD *md = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
    EVP_MD_free(md);
    return md != nullptr;
}

QList<QByteArray> headerNames(const RecordedRequest &request) {
    QList<QByteArray> names;
    for (const auto &[name, value] : request.headers)
        names.append(name.toLower());
    names.removeOne("content-length"); // nginx writes it after the host
    return names;
}

HttpRequest withVersion(const RecordedRequest &recorded) {
    HttpRequest request{recorded.method, recorded.path,    recorded.path,
                        "HTTP/1.1",      recorded.headers, recorded.body};
    for (auto &[name, value] : request.headers) {
        if (name.compare("x-app-ver", Qt::CaseInsensitive) == 0)
            value = "1.0.0";
    }
    return request;
}

class Headers : public ::testing::Test {
protected:
    void SetUp() override {
        NetworkAccess::addTrustedCaForTesting(QSslCertificate::fromPath(certificateDir + "/ca.pem"));
        ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
        ASSERT_TRUE(
            front.start(server.port(), certificateDir + "/server.pem", certificateDir + "/server.key"))
            << front.errorString().toStdString();
    }

    // A POST and a GET over HTTP/1.1 straight to the server, then over HTTP/2 through nginx; returns
    // what the server received, in that order.
    QList<RecordedRequest> sendOverBothProtocols() {
        server.clearRequests();
        const int before = finished.count();
        for (const QString &base : {server.baseUrl(), front.baseUrl()}) {
            const ZelkApiService service{base};
            service.postRequest(tokenPath, QJsonObject{{"conditions", QJsonArray{}}}, [](auto) {});
            service.getRequest(gasPath, [](auto) {});
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() >= before + 4; }, 20'000));
        return server.requests();
    }

    SimulatedApiServer server;
    NginxHttp2Front front;
    QSignalSpy finished{&NetworkAccess::manager(), &QNetworkAccessManager::finished};
};

} // namespace

TEST_F(Headers, GoOutEmptyWhenTheyCannotBeMade) {
    // Opens the HTTP/2 connection while TLS can still be set up; later requests reuse it.
    QNetworkRequest warmUpRequest(QUrl(front.baseUrl() + "/"));
    warmUpRequest.setSslConfiguration(NetworkAccess::tlsConfiguration());
    QNetworkReply *warmUp = NetworkAccess::manager().get(warmUpRequest);
    ASSERT_TRUE(QTest::qWaitFor([&] { return warmUp->isFinished(); }, 20'000));
    ASSERT_EQ(warmUp->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401); // no token
    warmUp->deleteLater();

    // No "CFBundleShortVersionString", and OpenSSL cannot fetch SHA-256 or AES.
    BundleInfo::overrideForTesting({{QStringLiteral("CFBundleVersion"), QStringLiteral("7")}});
    ASSERT_TRUE(breakOpenSslFetches(true));
    ASSERT_FALSE(sha256Fetchable());

    const QList<RecordedRequest> unsigned_ = sendOverBothProtocols();
    ASSERT_EQ(unsigned_.size(), 4);
    for (const RecordedRequest &request : unsigned_) {
        SCOPED_TRACE(request.method.toStdString());
        EXPECT_EQ(headerNames(request).mid(0, 6).join(' ').toStdString(),
                  "host x-app-type x-app-ver x-app-locale x-app-udid x-req-token");
        EXPECT_FALSE(request.header("x-app-ver").isNull());
        EXPECT_EQ(request.header("x-app-ver"), "");
        EXPECT_FALSE(request.header("x-req-token").isNull());
        EXPECT_EQ(request.header("x-req-token"), "");
        EXPECT_EQ(request.header("x-app-type"), "iOS-5");
    }

    // OpenSSL can fetch again: the very next requests carry a sound token. The version was read once.
    ASSERT_TRUE(breakOpenSslFetches(false));
    BundleInfo::overrideForTesting({});
    const QList<RecordedRequest> signed_ = sendOverBothProtocols();
    ASSERT_EQ(signed_.size(), 4);
    for (const RecordedRequest &request : signed_) {
        SCOPED_TRACE(request.method.toStdString());
        EXPECT_EQ(request.header("x-app-ver"), "");
        EXPECT_EQ(request.header("x-req-token").size(), 192);
        // The server refuses the empty version, so the token is checked as it would be with one.
        const RequestTokenVerifier::Verdict verdict =
            RequestTokenVerifier::verify(withVersion(request), QDateTime::currentSecsSinceEpoch());
        EXPECT_TRUE(verdict.ok) << verdict.failure.toStdString();
    }

    // The warm-up and the four requests through nginx, all over HTTP/2.
    EXPECT_TRUE(QTest::qWaitFor([&] { return front.accessLog().size() >= 5; }, 5'000));
    for (const QString &line : front.accessLog())
        EXPECT_TRUE(line.startsWith(QLatin1String("HTTP/2.0 "))) << line.toStdString();
}
