#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Debian's nginx in front of a local origin, speaking HTTP/2 over TLS (ALPN) on a free loopback port.
// It runs in the foreground from its own temporary prefix (configuration, pid, logs, temp files) and
// passes every request to the origin unbuffered, so statuses, bodies, trickles and hang-ups reach the
// client as the origin made them. Its access log records the protocol of each request.
class NginxHttp2Front {
public:
    NginxHttp2Front() = default;
    NginxHttp2Front(const NginxHttp2Front &) = delete;
    NginxHttp2Front &operator=(const NginxHttp2Front &) = delete;
    ~NginxHttp2Front();

    // False (see errorString()) when nginx is missing or does not come up.
    bool start(quint16 originPort, const QString &certificateFile, const QString &keyFile);
    void stop();

    QString baseUrl() const; // "https://127.0.0.1:<port>"
    QString errorString() const;
    QString version() const; // as `nginx -v` reports it

    // One line per request nginx has finished: "<protocol> <status> <method> <uri>".
    QStringList accessLog() const;
    QString errorLog() const;

private:
    bool startOn(quint16 port, quint16 originPort, const QString &certificateFile, const QString &keyFile);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
    QString m_version;
};
