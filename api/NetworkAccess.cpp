#include "api/NetworkAccess.h"

#include "platform/BuildConfig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>

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

// The time limits of the replies in flight, all on one timer armed for the earliest: a timer per reply
// cost more to make, start and destroy than the rest of a request's own bookkeeping.
struct Deadline {
    QPointer<QNetworkReply> reply;
    QDeadlineTimer due;
};

QList<Deadline> &deadlines() {
    static QList<Deadline> inFlight;
    return inFlight;
}

void expireDeadlines();

void armDeadlineTimer() {
    static QPointer<QTimer> timer;
    QDeadlineTimer earliest(QDeadlineTimer::Forever);
    for (const Deadline &deadline : std::as_const(deadlines()))
        earliest = std::min(earliest, deadline.due);
    if (earliest.isForever()) {
        if (timer)
            timer->stop();
        return;
    }
    if (!timer) {
        timer = new QTimer(&NetworkAccess::manager()); // goes with the manager
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, &expireDeadlines);
    }
    const auto wait = static_cast<int>(std::clamp<qint64>(earliest.remainingTime(), 0, INT_MAX));
    if (!timer->isActive() || wait < timer->remainingTime())
        timer->start(wait);
}

void expireDeadlines() {
    QList<QPointer<QNetworkReply>> expired;
    QList<Deadline> &inFlight = deadlines();
    inFlight.removeIf([&expired](const Deadline &deadline) {
        if (deadline.reply && !deadline.due.hasExpired())
            return false;
        expired.append(deadline.reply);
        return true;
    });
    // Aborting emits finished at once, whose handler ends the reply's deadline: the list is left alone.
    for (const QPointer<QNetworkReply> &reply : std::as_const(expired)) {
        if (reply && reply->isRunning())
            reply->abort();
    }
    armDeadlineTimer();
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

void NetworkAccess::limitTransferTime(QNetworkReply *reply, QDeadlineTimer due) {
    deadlines().append({reply, due});
    armDeadlineTimer();
}

void NetworkAccess::transferEnded(QNetworkReply *reply) {
    // The timer stays armed: when it fires it finds nothing due and waits for the next deadline, if any.
    QList<Deadline> &inFlight = deadlines();
    const auto ended = std::find_if(inFlight.begin(), inFlight.end(),
                                    [reply](const Deadline &deadline) { return deadline.reply == reply; });
    if (ended != inFlight.end())
        inFlight.erase(ended);
}

void NetworkAccess::setTransferTimeoutForTesting(std::chrono::milliseconds timeout) {
    timeoutSetting() = timeout;
}
