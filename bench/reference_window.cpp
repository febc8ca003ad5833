// The memory baseline of the whole-program benchmark: a bare Qt Widgets + Network + DBus program showing
// one small window with a line of text, and doing nothing else. Given the API's base URL and a CA file it
// also makes the two HTTPS requests of a refresh (unsigned: the answers are refusals), once or every
// INTERVAL_MS, so that the memory Qt's HTTPS takes can be told apart from the program's own. The floor
// under the CPU per refresh is reference_refresh, which sends the program's own signed requests.
//   reference_window [BASE_URL CA_FILE [INTERVAL_MS]]
#include <QApplication>
#include <QDBusConnection>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QNetworkAccessManager network;
    const bool busConnected = QDBusConnection::sessionBus().isConnected();
    QPushButton window(busConnected ? QStringLiteral("reference (bus)") : QStringLiteral("reference"));
    window.setWindowTitle(QStringLiteral("gweibar-reference"));
    window.setFlat(true);
    window.show();

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3)
        return app.exec();
    const QString base = arguments.at(1);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(arguments.at(2)));
    const auto request = [&](const QString &path) {
        QNetworkRequest r{QUrl(base + path)};
        r.setSslConfiguration(tls);
        r.setRawHeader("Content-Type", "application/json");
        return r;
    };
    const auto refresh = [&] {
        QNetworkReply *post = network.post(request(QStringLiteral("/api/v1/tokens/prices/conditions")), "{}");
        QObject::connect(post, &QNetworkReply::finished, post, [&, post] {
            post->readAll();
            post->deleteLater();
            QNetworkReply *get = network.get(request(QStringLiteral("/api/v1/chains/EVM/1/gas_price")));
            QObject::connect(get, &QNetworkReply::finished, get, [get] {
                get->readAll();
                get->deleteLater();
            });
        });
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, refresh);
    if (arguments.size() > 3)
        timer.start(arguments.at(3).toInt());
    refresh();
    return app.exec();
}
