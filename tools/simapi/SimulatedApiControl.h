#pragma once

#include "HttpRequest.h"

#include <QObject>
#include <QPointer>

class HttpConnection;
class QTcpServer;
class SimulatedApiServer;

// A loopback HTTP channel through which tests in other processes script a SimulatedApiServer and read
// what it received. Routes are listed in tools/simapi/README.md.
class SimulatedApiControl : public QObject {
    Q_OBJECT
public:
    explicit SimulatedApiControl(SimulatedApiServer *server, QObject *parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const;
    QString errorString() const;

private:
    struct Reply {
        int status = 200;
        QByteArray body;
    };

    void accept();
    Reply route(const HttpRequest &request);
    Reply script(const QByteArray &body);

    QPointer<SimulatedApiServer> m_server;
    QTcpServer *m_listener;
};
