#include "SimulatedApiControl.h"

#include "HttpConnection.h"
#include "SimulatedApiServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

namespace {

QByteArray json(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorBody(const QString &why) {
    return json(QJsonObject{{"error", why}});
}

} // namespace

SimulatedApiControl::SimulatedApiControl(SimulatedApiServer *server, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_listener(new QTcpServer(this)) {
    connect(m_listener, &QTcpServer::pendingConnectionAvailable, this, &SimulatedApiControl::accept);
}

bool SimulatedApiControl::listen(quint16 port) {
    return m_listener->listen(QHostAddress::LocalHost, port);
}

quint16 SimulatedApiControl::port() const {
    return m_listener->serverPort();
}

QString SimulatedApiControl::errorString() const {
    return m_listener->errorString();
}

void SimulatedApiControl::accept() {
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        auto *connection = new HttpConnection(socket, this);
        connect(connection, &HttpConnection::requestReceived, this,
                [this, connection](const HttpRequest &request) {
                    const Reply reply = route(request);
                    connection->sendReply(reply.status, {{"Content-Type", "application/json"}}, reply.body,
                                          request.wantsClose());
                });
    }
}

SimulatedApiControl::Reply SimulatedApiControl::route(const HttpRequest &request) {
    if (!m_server)
        return {503, errorBody(QStringLiteral("no server"))};
    if (request.path == "/__control/script" && request.method == "POST")
        return script(request.body);
    if (request.path == "/__control/reset" && request.method == "POST") {
        m_server->reset();
        return {200, json(QJsonObject{{"ok", true}})};
    }
    if (request.path == "/__control/refuse" && request.method == "POST") {
        const QJsonValue refuse =
            QJsonDocument::fromJson(request.body).object().value(QLatin1String("refuse"));
        if (!refuse.isBool())
            return {400, errorBody(QStringLiteral("expected {\"refuse\": true or false}"))};
        if (!m_server->setRefusingConnections(refuse.toBool()))
            return {500, errorBody(m_server->errorString())};
        return {200, json(QJsonObject{{"ok", true}})};
    }
    if (request.path == "/__control/requests" && request.method == "GET") {
        QJsonArray log;
        for (const RecordedRequest &recorded : m_server->requests())
            log.append(recorded.toJson());
        return {200, json(QJsonObject{{"requests", log},
                                      {"open_connections", m_server->openConnectionCount()},
                                      {"pending_replies", m_server->pendingReplyCount()}})};
    }
    return {404, errorBody(QStringLiteral("no such control route"))};
}

SimulatedApiControl::Reply SimulatedApiControl::script(const QByteArray &body) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {400, errorBody(parseError.errorString())};
    const QJsonArray entries = document.isArray() ? document.array() : QJsonArray{document.object()};
    if (document.isArray() == document.isObject())
        return {400, errorBody(QStringLiteral("expected an object or an array of objects"))};

    // Check everything first, so a faulty script changes nothing.
    struct Step {
        QString path;
        bool queue;
        SimulatedBehaviour behaviour;
    };
    QList<Step> steps;
    for (const QJsonValue &entryValue : entries) {
        const QJsonObject entry = entryValue.toObject();
        const QJsonValue path = entry.value(QLatin1String("path"));
        if (!entryValue.isObject() || !path.isString() || path.toString().isEmpty())
            return {400, errorBody(QStringLiteral("every entry needs a \"path\""))};
        if (entry.contains(QLatin1String("set")) == entry.contains(QLatin1String("queue")))
            return {400, errorBody(QStringLiteral("give exactly one of \"set\" and \"queue\""))};
        const bool queue = entry.contains(QLatin1String("queue"));
        const QJsonArray behaviours = queue ? entry.value(QLatin1String("queue")).toArray()
                                            : QJsonArray{entry.value(QLatin1String("set"))};
        for (const QJsonValue &value : behaviours) {
            QString error;
            const auto behaviour =
                value.isObject() ? SimulatedBehaviour::fromJson(value.toObject(), &error) : std::nullopt;
            if (!behaviour)
                return {400,
                        errorBody(error.isEmpty() ? QStringLiteral("a behaviour must be an object") : error)};
            steps.append({path.toString(), queue, *behaviour});
        }
    }
    for (const Step &step : std::as_const(steps)) {
        if (step.queue)
            m_server->queueBehaviour(step.path, step.behaviour);
        else
            m_server->setBehaviour(step.path, step.behaviour);
    }
    return {200, json(QJsonObject{{"ok", true}})};
}
