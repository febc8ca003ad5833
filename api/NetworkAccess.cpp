#include "api/NetworkAccess.h"

#include "platform/BuildConfig.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslSocket>
#include <QThread>

namespace {

std::chrono::milliseconds &timeoutSetting() {
    static std::chrono::milliseconds timeout = NetworkAccess::transferTimeout;
    return timeout;
}

QSslConfiguration withAddedCas(QSslConfiguration configuration, const QList<QSslCertificate> &certificates) {
    // Adding a CA turns off the lazy loading of the system's CAs, so they are added explicitly first.
    if (configuration.caCertificates().isEmpty())
        configuration.addCaCertificates(QSslConfiguration::systemCaCertificates());
    configuration.addCaCertificates(certificates);
    return configuration;
}

QSslConfiguration &configurationSetting() {
    static QSslConfiguration configuration = [] {
        QSslConfiguration initial = QSslConfiguration::defaultConfiguration();
        initial.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (const QString extraCaFile = QStringLiteral(GWEIBAR_EXTRA_CA_FILE); !extraCaFile.isEmpty()) {
            const QList<QSslCertificate> extraCas = QSslCertificate::fromPath(extraCaFile, QSsl::Pem);
            // Every system CA held in memory costs about 3 MiB and some CPU per connection; a shipped
            // build loads the one it needs on demand, so the load-test build trusts its own CA alone.
            if (GWEIBAR_EXTRA_CA_ONLY)
                initial.setCaCertificates(extraCas);
            else
                initial = withAddedCas(initial, extraCas);
        }
        return initial;
    }();
    return configuration;
}

} // namespace

QNetworkAccessManager &NetworkAccess::manager() {
    static QPointer<QNetworkAccessManager> shared;
    Q_ASSERT(QCoreApplication::instance() != nullptr);
    Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
    if (shared.isNull()) {
        // No transfer timeout of Qt's: each reply's own deadline (transferLimit) bounds the whole
        // transfer and fires no later. Qt's idle limit, restarted through a queued call at every chunk
        // that arrives, cost each refresh eight more wake-ups of the event loop.
        shared = new QNetworkAccessManager(QCoreApplication::instance());
        // Cached TLS connections must close while the application object exists, not in Qt's thread exit.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, shared,
                         &QNetworkAccessManager::clearConnectionCache);
    }
    return *shared;
}

QSslConfiguration NetworkAccess::tlsConfiguration() {
    return configurationSetting();
}

void NetworkAccess::addTrustedCaForTesting(const QList<QSslCertificate> &certificates) {
    configurationSetting() = withAddedCas(configurationSetting(), certificates);
}

std::chrono::milliseconds NetworkAccess::transferLimit() {
    return timeoutSetting();
}

void NetworkAccess::setTransferTimeoutForTesting(std::chrono::milliseconds timeout) {
    timeoutSetting() = timeout;
}
