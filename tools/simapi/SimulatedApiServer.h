#pragma once

#include "RecordedRequest.h"
#include "SimulatedBehaviour.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class HttpConnection;
class QTcpServer;

// A stand-in for the price API on loopback, plain HTTP and/or HTTPS. By default it answers like the
// real API; tests script other behaviours per path and read back what it received.
class SimulatedApiServer : public QObject {
    Q_OBJECT
public:
    explicit SimulatedApiServer(QObject *parent = nullptr);
    ~SimulatedApiServer() override;

    // Listen on 127.0.0.1 (and on ::1 with the same port where the host has it, since "localhost" may
    // resolve there first); port 0 picks a free one. False (see errorString()) when it cannot.
    bool listen(quint16 port = 0);
    bool listenTls(const QString &certificateFile, const QString &keyFile, quint16 port = 0);
    void close();
    // While refusing, connection attempts fail as if nothing listened; the ports are kept for later.
    bool setRefusingConnections(bool refuse);

    quint16 port() const;       // plain HTTP; 0 before listen()
    quint16 tlsPort() const;    // HTTPS; 0 before listenTls()
    QString baseUrl() const;    // "http://127.0.0.1:<port>"
    QString tlsBaseUrl() const; // "https://localhost:<tlsPort>", matching the test server certificate
    QString errorString() const;

    // A path is an exact request path without query, or a prefix ending in "*" ("*" alone matches all);
    // the exact path wins over prefixes, a longer prefix over a shorter one. Queued behaviours answer
    // one request each, in order, before the set one; without either the server answers as the API.
    void setBehaviour(const QString &path, const SimulatedBehaviour &behaviour);
    void queueBehaviour(const QString &path, const SimulatedBehaviour &behaviour);
    void clearBehaviours();
    // Forgets behaviours and recorded requests, and accepts connections again.
    void reset();

    QList<RecordedRequest> requests() const;
    qsizetype requestCount() const;
    void clearRequests();
    int openConnectionCount() const;
    // Requests received whose answer has not been completely written yet (delayed, hanging, paced).
    int pendingReplyCount() const;

    // Seconds since 1970 used for token freshness and price drift; the system clock by default.
    void setClock(std::function<qint64()> secondsSinceEpoch);
    // Prices move once per SimulatedMarket::stepSeconds of that clock by default. Moving at every
    // gas-price request instead, every refresh of a client finds new prices, however often it asks.
    void setMarketMovesPerRequest(bool perRequest);

signals:
    void requestRecorded(const RecordedRequest &request);

private:
    struct Script {
        QList<SimulatedBehaviour> queued;
        std::optional<SimulatedBehaviour> standing;
    };
    struct Reply {
        int status = 200;
        QByteArray body;
    };

    struct Listener {
        std::function<QTcpServer *()> make;
        quint16 port = 0;
        QPointer<QTcpServer> ipv4;
        QPointer<QTcpServer> ipv6;
    };

    bool startListening(Listener &listener);
    static void stopListening(Listener &listener);
    void accept(QTcpServer *server);
    void handle(HttpConnection *connection, const HttpRequest &request);
    void answer(HttpConnection *connection, const HttpRequest &request, bool verified, const QString &failure,
                const SimulatedBehaviour &behaviour);
    SimulatedBehaviour takeBehaviour(const QByteArray &path);
    Reply apiReply(const HttpRequest &request, bool verified, const QString &failure) const;
    Reply gasPriceReply(const QByteArray &chainId) const;
    Reply tokenPriceReply(const QByteArray &body) const;
    qint64 now() const;
    qint64 marketStep() const;

    Listener m_plain;
    Listener m_tls;
    bool m_refusing = false;
    QString m_error;
    QHash<QString, Script> m_scripts;
    QList<RecordedRequest> m_requests;
    QList<QPointer<HttpConnection>> m_connections;
    std::function<qint64()> m_clock;
    bool m_marketMovesPerRequest = false;
    qint64 m_gasPriceRequests = 0;
};
