#include "HttpConnection.h"

#include "HttpRequestParser.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qint64 streamChunkBytes = 64 * 1024;
constexpr qint64 streamBacklogBytes = 256 * 1024;
// Bounds what a client can make us buffer while its reply is held back.
constexpr qsizetype maxBufferedBytes = HttpRequestParser::maxHeaderBytes + HttpRequestParser::maxBodyBytes;

bool statusHasNoBody(int status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket) {
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::pumpStream);
    if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
        connect(ssl, &QSslSocket::encryptedBytesWritten, this, &HttpConnection::pumpStream);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        deleteLater();
        return;
    }
    QTimer::singleShot(0, this, &HttpConnection::readIncoming);
}

bool HttpConnection::isEncrypted() const {
    const auto *ssl = qobject_cast<const QSslSocket *>(m_socket);
    return ssl && ssl->isEncrypted();
}

QByteArray HttpConnection::reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 205:
        return "Reset Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray HttpConnection::head(int status, HttpHeaderList headers, qint64 contentLength,
                                bool closeAfter) const {
    bool haveLength = false;
    bool haveConnection = false;
    for (const auto &[name, value] : headers) {
        haveLength = haveLength || name.compare("Content-Length", Qt::CaseInsensitive) == 0;
        haveConnection = haveConnection || name.compare("Connection", Qt::CaseInsensitive) == 0;
    }
    if (!haveLength && !statusHasNoBody(status))
        headers.emplace_back("Content-Length", QByteArray::number(contentLength));
    if (closeAfter && !haveConnection)
        headers.emplace_back("Connection", "close");

    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        bytes += name + ": " + value + "\r\n";
    bytes += "\r\n";
    return bytes;
}

void HttpConnection::sendReply(int status, const HttpHeaderList &headers, const QByteArray &body,
                               bool closeAfter) {
    if (m_closing)
        return;
    bool givenLength = false;
    for (const auto &header : headers)
        givenLength = givenLength || header.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
    closeAfter = closeAfter || givenLength;
    m_socket->write(head(status, headers, body.size(), closeAfter));
    if (!statusHasNoBody(status))
        m_socket->write(body);
    finishReply(closeAfter);
}

void HttpConnection::trickleReply(int status, const HttpHeaderList &headers, const QByteArray &body,
                                  int intervalMs) {
    if (m_closing)
        return;
    m_closing = true;
    // The head goes out whole: only a body that keeps arriving, byte by byte, defeats an idle time limit.
    m_socket->write(head(status, headers, body.size(), true));
    m_trickleBytes = statusHasNoBody(status) ? QByteArray() : body;
    m_trickleSent = 0;
    m_trickleTimer = new QTimer(this);
    m_trickleTimer->setInterval(intervalMs);
    connect(m_trickleTimer, &QTimer::timeout, this, [this] {
        if (m_trickleSent >= m_trickleBytes.size()) {
            m_trickleTimer->stop();
            m_socket->disconnectFromHost();
            return;
        }
        m_socket->write(m_trickleBytes.constData() + m_trickleSent, 1);
        ++m_trickleSent;
    });
    m_trickleTimer->start();
}

void HttpConnection::streamReply(int status, const HttpHeaderList &headers, qint64 paddingBytes,
                                 const QByteArray &tail) {
    if (m_closing)
        return;
    m_closing = true;
    m_streaming = true;
    m_streamPaddingLeft = qMax<qint64>(0, paddingBytes);
    m_streamTail = tail;
    m_socket->write(head(status, headers, m_streamPaddingLeft + tail.size(), true));
    pumpStream();
}

void HttpConnection::pumpStream() {
    if (!m_streaming)
        return;
    static const QByteArray spaces(streamChunkBytes, ' ');
    for (int round = 0; round < 8 && m_streamPaddingLeft > 0 && backlog() < streamBacklogBytes; ++round) {
        const qint64 n = qMin(m_streamPaddingLeft, streamChunkBytes);
        m_socket->write(spaces.constData(), n);
        m_streamPaddingLeft -= n;
    }
    if (m_streamPaddingLeft == 0) {
        m_streaming = false;
        m_socket->write(m_streamTail);
        m_streamTail.clear();
        m_socket->disconnectFromHost();
    }
}

qint64 HttpConnection::backlog() const {
    qint64 pending = m_socket->bytesToWrite();
    if (const auto *ssl = qobject_cast<const QSslSocket *>(m_socket))
        pending += ssl->encryptedBytesToWrite();
    return pending;
}

void HttpConnection::drop() {
    m_closing = true;
    m_awaitingReply = false;
    m_socket->abort();
    deleteLater();
}

void HttpConnection::readIncoming() {
    m_buffer += m_socket->readAll();
    if (m_buffer.size() > maxBufferedBytes) {
        drop();
        return;
    }
    parseBuffered();
}

void HttpConnection::parseBuffered() {
    if (m_awaitingReply || m_closing || m_buffer.isEmpty())
        return;
    HttpRequest request;
    const HttpRequestParser::Result result = HttpRequestParser::parse(m_buffer, request);
    if (result.status == HttpRequestParser::Status::NeedMore)
        return;
    if (result.status == HttpRequestParser::Status::Invalid) {
        m_buffer.clear();
        sendReply(result.errorStatus, {{"Content-Type", "text/plain"}}, reasonPhrase(result.errorStatus),
                  true);
        return;
    }
    m_awaitingReply = true;
    emit requestReceived(request);
}

void HttpConnection::finishReply(bool closeAfter) {
    m_awaitingReply = false;
    if (closeAfter) {
        m_closing = true;
        m_socket->disconnectFromHost();
        return;
    }
    // Pipelined requests wait in the buffer; take the next one from a fresh event-loop turn.
    QTimer::singleShot(0, this, &HttpConnection::parseBuffered);
}
