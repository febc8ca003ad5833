// HTTPS with the test certificates: a client that trusts the test CA gets through, others do not.
#include "SimApiTestClient.h"

#include "tools/simapi/SimulatedApiServer.h"

#include <QSslCertificate>

#include <gtest/gtest.h>

namespace {

using Client = SimApiTestClient;

const QString certDir = QStringLiteral(GWEIBAR_TEST_CERT_DIR);

struct TlsCase {
    const char *name;
    const char *serverCertificate;
    bool clientTrustsTestCa;
    bool admitted;
};

TEST(Tls, OnlyACertificateSignedByATrustedCaIsAccepted) {
    const TlsCase cases[] = {
        {"test CA trusted", "server", true, true},
        {"test CA not trusted", "server", false, false},
        {"self-signed certificate", "untrusted", true, false},
    };
    const QList<QSslCertificate> testCa = QSslCertificate::fromPath(certDir + "/ca.pem");
    ASSERT_EQ(testCa.size(), 1);
    for (const TlsCase &row : cases) {
        SCOPED_TRACE(row.name);
        SimulatedApiServer server;
        server.setClock([] { return Client::fixedNow; });
        ASSERT_TRUE(server.listenTls(certDir + "/" + row.serverCertificate + ".pem",
                                     certDir + "/" + row.serverCertificate + ".key"))
            << server.errorString().toStdString();
        Client client;
        if (row.clientTrustsTestCa)
            client.trust(testCa);
        for (const QString &base :
             {server.tlsBaseUrl(), QStringLiteral("https://127.0.0.1:%1").arg(server.tlsPort())}) {
            SCOPED_TRACE(base.toStdString());
            const auto reply = client.get(base + "/api/v1/chains/EVM/1/gas_price", Client::signedHeaders());
            ASSERT_TRUE(reply.finished);
            if (row.admitted) {
                EXPECT_EQ(reply.status, 200);
                EXPECT_EQ(reply.json().value("code").toInteger(-1), 0);
            } else {
                EXPECT_EQ(reply.error, QNetworkReply::SslHandshakeFailedError);
            }
        }
        if (row.admitted) {
            ASSERT_EQ(server.requestCount(), 2);
            EXPECT_TRUE(server.requests().at(0).encrypted);
        } else {
            EXPECT_EQ(server.requestCount(), 0);
        }
    }
}

TEST(Tls, RefusesToStartWithoutItsKey) {
    SimulatedApiServer server;
    EXPECT_FALSE(server.listenTls(certDir + "/server.pem", certDir + "/missing.key"));
    EXPECT_FALSE(server.errorString().isEmpty());
    EXPECT_EQ(server.tlsPort(), 0);
}

} // namespace
