// The HTTP floor under the program's refresh: a bare Qt Widgets + Network + DBus window that makes the
// two HTTPS requests of a refresh every INTERVAL_MS through one QNetworkAccessManager, and does nothing
// with the replies. The requests are the program's own: the same methods, paths, header names and
// sizes, and the same POST body, so the server gives the same answers. The signed headers are made
// once a minute (the server accepts a token for five), so signing stays out of the floor.
//   reference_refresh BASE_URL CA_FILE INTERVAL_MS
#include "api/RequestSigner.h"
#include "platform/BuildConfig.h"

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 4) {
        std::fprintf(stderr, "usage: reference_refresh BASE_URL CA_FILE INTERVAL_MS\n");
        return 2;
    }
    QNetworkAccessManager network;
    const bool busConnected = QDBusConnection::sessionBus().isConnected();
    QPushButton window(busConnected ? QStringLiteral("reference (bus)") : QStringLiteral("reference"));
    window.setWindowTitle(QStringLiteral("gweibar-reference"));
    window.setFlat(true);
    window.show();

    const QString base = arguments.at(1);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(arguments.at(2)));

    // What the program sends for the first network of its table.
    const QUrl tokenPriceUrl(base + QStringLiteral("/api/v1/tokens/prices/conditions"));
    const QUrl gasPriceUrl(base + QStringLiteral("/api/v1/chains/EVM/1/gas_price"));
    const QByteArray tokenPriceBody =
        QByteArrayLiteral(R"({"base_coin_alias":"USD","conditions":[{"chain_id":"1","chain_type":"EVM",)"
                          R"("tokens":[{"address":"","symbol":"ETH"}]}]})");

    const RequestSigner signer(QStringLiteral(GWEIBAR_VERSION));
    HTTPHeaders headers;
    QElapsedTimer signedAt;
    const auto request = [&](const QUrl &url) {
        if (headers.isEmpty() || signedAt.elapsed() > 60'000) {
            headers = signer.requestHeaders();
            signedAt.start();
        }
        QNetworkRequest r(url);
        for (const auto &[name, value] : headers)
            r.setRawHeader(name, value);
        r.setSslConfiguration(tls);
        return r;
    };

    const auto refresh = [&] {
        QNetworkRequest post = request(tokenPriceUrl);
        post.setRawHeader("Content-Type", "application/json");
        QNetworkReply *first = network.post(post, tokenPriceBody);
        QObject::connect(first, &QNetworkReply::finished, first, [&, first] {
            first->deleteLater();
            first->readAll();
            QNetworkReply *second = network.get(request(gasPriceUrl));
            QObject::connect(second, &QNetworkReply::finished, second, [&, second] {
                second->deleteLater();
                second->readAll();
            });
        });
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, refresh);
    timer.start(arguments.at(3).toInt());
    refresh();
    return app.exec();
}
