#include "SimulatedApiControl.h"
#include "SimulatedApiServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

bool parsePort(const QString &text, quint16 &port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    port = static_cast<quint16>(value);
    return ok && value <= 65535;
}

int fail(const QString &message) {
    std::fprintf(stderr, "gweibar-simapi: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gweibar-simapi"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated price API on loopback, for tests and the demo."));
    parser.addHelpOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("Port to serve on (0: any free)."), QStringLiteral("N"));
    const QCommandLineOption tlsOption(QStringLiteral("tls"), QStringLiteral("Serve HTTPS instead of HTTP."));
    const QCommandLineOption certOption(QStringLiteral("cert"), QStringLiteral("PEM server certificate."),
                                        QStringLiteral("C"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("PEM private key."),
                                       QStringLiteral("K"));
    const QCommandLineOption controlOption(
        QStringLiteral("control-port"),
        QStringLiteral("Plain HTTP port of the control channel (0: any free)."), QStringLiteral("M"));
    const QCommandLineOption perRequestOption(
        QStringLiteral("market-per-request"),
        QStringLiteral("Move prices at every gas-price request instead of every 5 seconds."));
    parser.addOptions({portOption, tlsOption, certOption, keyOption, controlOption, perRequestOption});
    parser.process(app);

    quint16 port = 0;
    if (!parser.isSet(portOption) || !parsePort(parser.value(portOption), port))
        return fail(QStringLiteral("--port N is required (0 to 65535)"));
    const bool tls = parser.isSet(tlsOption);
    if (tls && (!parser.isSet(certOption) || !parser.isSet(keyOption)))
        return fail(QStringLiteral("--tls needs --cert and --key"));

    SimulatedApiServer server;
    server.setMarketMovesPerRequest(parser.isSet(perRequestOption));
    const bool listening =
        tls ? server.listenTls(parser.value(certOption), parser.value(keyOption), port) : server.listen(port);
    if (!listening)
        return fail(server.errorString());

    QByteArray line = "listening on " + QByteArray::number(tls ? server.tlsPort() : server.port());
    SimulatedApiControl control(&server);
    if (parser.isSet(controlOption)) {
        quint16 controlPort = 0;
        if (!parsePort(parser.value(controlOption), controlPort))
            return fail(QStringLiteral("--control-port M must be 0 to 65535"));
        if (!control.listen(controlPort))
            return fail(control.errorString());
        line += " control " + QByteArray::number(control.port());
    }
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
