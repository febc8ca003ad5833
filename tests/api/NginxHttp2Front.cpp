#include "NginxHttp2Front.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

QString nginxProgram() {
    QString program = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(QStringLiteral("nginx"),
                                                 {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return program;
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString configuration(const QString &dir, quint16 port, quint16 originPort, const QString &certificateFile,
                      const QString &keyFile) {
    // master_process off: one process that stays in the foreground and needs no user to switch to.
    // proxy_buffering off: each byte of the origin's body goes on as it arrives (trickles, caps).
    // proxy_next_upstream off: a request reaches the origin at most once, as without the front.
    // proxy_redirect off: Location goes through unchanged.
    // An origin that hangs up without answering would otherwise turn into nginx's own 502 page; the
    // front hangs up on the stream instead (444), as the origin did.
    return QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/error.log info;
events { worker_connections 256; }
http {
    log_format protocols '$server_protocol $status $request_method $request_uri';
    access_log %1/access.log protocols;
    client_body_temp_path %1/temp/body;
    proxy_temp_path %1/temp/proxy;
    fastcgi_temp_path %1/temp/fastcgi;
    uwsgi_temp_path %1/temp/uwsgi;
    scgi_temp_path %1/temp/scgi;
    server {
        listen 127.0.0.1:%2 ssl http2;
        ssl_certificate %4;
        ssl_certificate_key %5;
        location / {
            proxy_pass http://127.0.0.1:%3;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_buffering off;
            proxy_request_buffering off;
            proxy_redirect off;
            proxy_next_upstream off;
            error_page 502 504 = @hangup;
        }
        location @hangup {
            return 444;
        }
    }
}
)")
        .arg(dir)
        .arg(port)
        .arg(originPort)
        .arg(certificateFile, keyFile);
}

} // namespace

NginxHttp2Front::~NginxHttp2Front() {
    stop();
}

bool NginxHttp2Front::start(quint16 originPort, const QString &certificateFile, const QString &keyFile) {
    stop();
    const QString program = nginxProgram();
    if (program.isEmpty()) {
        m_error = QStringLiteral("no nginx program (scripts/install-deps installs nginx-light)");
        return false;
    }
    QProcess versionQuery;
    versionQuery.start(program, {QStringLiteral("-v")});
    versionQuery.waitForFinished(10'000);
    m_version = QString::fromUtf8(versionQuery.readAllStandardError()).trimmed();

    // Another process may take the free port between the probe and nginx's bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = freeLoopbackPort();
        if (port != 0 && startOn(port, originPort, certificateFile, keyFile))
            return true;
        const bool portTaken = errorLog().contains(QStringLiteral("Address already in use"));
        stop();
        if (!portTaken)
            return false;
    }
    return false;
}

bool NginxHttp2Front::startOn(quint16 port, quint16 originPort, const QString &certificateFile,
                              const QString &keyFile) {
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid() || !QDir(m_dir->path()).mkpath(QStringLiteral("temp"))) {
        m_error = QStringLiteral("no temporary directory for nginx");
        return false;
    }
    const QString dir = m_dir->path();
    QFile config(dir + QStringLiteral("/nginx.conf"));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(configuration(dir, port, originPort, certificateFile, keyFile).toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write %1").arg(config.fileName());
        return false;
    }
    config.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // A test that crashes must not leave nginx behind.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(nginxProgram(), {QStringLiteral("-p"), dir, QStringLiteral("-c"), config.fileName(),
                                      QStringLiteral("-e"), dir + QStringLiteral("/error.log")});
    if (!m_process->waitForStarted(10'000)) {
        m_error = QStringLiteral("nginx did not start: %1").arg(m_process->errorString());
        return false;
    }
    const QDeadlineTimer deadline(10'000);
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running) {
            m_error = QStringLiteral("nginx exited: %1 %2")
                          .arg(QString::fromUtf8(m_process->readAll()), errorLog())
                          .simplified();
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200)) {
            socket.abort();
            m_port = port;
            return true;
        }
        QThread::msleep(20);
    }
    m_error = QStringLiteral("nginx did not listen on port %1 within 10 s").arg(port);
    return false;
}

void NginxHttp2Front::stop() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->terminate(); // SIGTERM: nginx's fast shutdown
        if (!m_process->waitForFinished(10'000)) {
            m_process->kill();
            m_process->waitForFinished(10'000);
        }
    }
    m_process.reset();
    m_port = 0;
}

QString NginxHttp2Front::baseUrl() const {
    return QStringLiteral("https://127.0.0.1:%1").arg(m_port);
}

QString NginxHttp2Front::errorString() const {
    return m_error;
}

QString NginxHttp2Front::version() const {
    return m_version;
}

QStringList NginxHttp2Front::accessLog() const {
    if (!m_dir)
        return {};
    QFile log(m_dir->path() + QStringLiteral("/access.log"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString NginxHttp2Front::errorLog() const {
    if (!m_dir)
        return {};
    QFile log(m_dir->path() + QStringLiteral("/error.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}
