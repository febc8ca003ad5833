#pragma once

#include "HttpRequest.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

class QTcpSocket;
class QTimer;

// One accepted client connection: reads requests one at a time and writes their replies, in the
// plain or paced or streamed form the caller chooses. Deletes itself when the peer goes away.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    // Takes ownership of the socket.
    explicit HttpConnection(QTcpSocket *socket, QObject *parent = nullptr);

    bool isEncrypted() const;
    // True from a received request until its reply has been written (or forever, for one never answered).
    bool isAwaitingReply() const { return m_awaitingReply; }

    // Content-Length is added unless the caller gives one or the status has no body; a caller-given
    // length may lie, so the connection is then closed after the reply.
    void sendReply(int status, const HttpHeaderList &headers, const QByteArray &body,
                   bool closeAfter = false);
    // Writes the whole reply one byte per interval, then closes.
    void trickleReply(int status, const HttpHeaderList &headers, const QByteArray &body, int intervalMs);
    // Writes paddingBytes of white space and then tail as the body, generated as the peer reads, then closes.
    void streamReply(int status, const HttpHeaderList &headers, qint64 paddingBytes, const QByteArray &tail);
    // Closes at once without a reply.
    void drop();

    static QByteArray reasonPhrase(int status);

signals:
    void requestReceived(const HttpRequest &request);

private:
    QByteArray head(int status, HttpHeaderList headers, qint64 contentLength, bool closeAfter) const;
    void readIncoming();
    void parseBuffered();
    void finishReply(bool closeAfter);
    void pumpStream();
    qint64 backlog() const;

    QTcpSocket *m_socket;
    QByteArray m_buffer;
    bool m_awaitingReply = false;
    bool m_closing = false;
    QPointer<QTimer> m_trickleTimer;
    QByteArray m_trickleBytes;
    qsizetype m_trickleSent = 0;
    qint64 m_streamPaddingLeft = 0;
    QByteArray m_streamTail;
    bool m_streaming = false;
};
