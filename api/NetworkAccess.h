#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// The one HTTP client of the program, on the main thread, with the limits every request shares.
class NetworkAccess {
public:
    // A request still unfinished after this long fails, so slow or silent servers cannot pile them up.
    static constexpr std::chrono::milliseconds transferTimeout{60'000};
    // A larger reply body is cut off and fails; the replies the program reads are a few kilobytes.
    static constexpr qint64 maxReplyBytes = 1024 * 1024;

    // Made on first use, owned by the application object; main thread only.
    static QNetworkAccessManager &manager();
    // The time limit of each request: transferTimeout, unless a test shortened it.
    static std::chrono::milliseconds transferLimit();
    // Aborts `reply` should it still be running when `due` has passed, whether data keeps arriving or
    // not. transferEnded tells that it has finished. Main thread only.
    static void limitTransferTime(QNetworkReply *reply, QDeadlineTimer due);
    static void transferEnded(QNetworkReply *reply);

    // Peer verification always on: the system's CAs, plus the build's extra CA when one is configured.
    static QSslConfiguration tlsConfiguration();

    // Tests: trust a loopback server's CA (still verifying) and shorten the time limit.
    static void addTrustedCaForTesting(const QList<QSslCertificate> &certificates);
    static void setTransferTimeoutForTesting(std::chrono::milliseconds timeout);
};
