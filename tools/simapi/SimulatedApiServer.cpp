#include "SimulatedApiServer.h"

#include "HttpConnection.h"
#include "RequestTokenVerifier.h"
#include "SimulatedMarket.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <algorithm>

namespace {

const QByteArray tokenPricePath = "/api/v1/tokens/prices/conditions";
const QByteArray gasPricePrefix = "/api/v1/chains/EVM/";
const QByteArray gasPriceSuffix = "/gas_price";
const HttpHeaderList jsonHeaders{{"Content-Type", "application/json"}};

QByteArray envelope(qint64 code, const QString &message, const QJsonValue &data) {
    return QJsonDocument(QJsonObject{{"code", code}, {"message", message}, {"data", data}})
        .toJson(QJsonDocument::Compact);
}

QByteArray garbageBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    if (size > 0)
        bytes[0] = '\xff'; // never valid UTF-8, never JSON
    return bytes;
}

} // namespace

SimulatedApiServer::SimulatedApiServer(QObject *parent)
    : QObject(parent)
    , m_clock([] { return QDateTime::currentSecsSinceEpoch(); }) {}

SimulatedApiServer::~SimulatedApiServer() {
    close();
}

bool SimulatedApiServer::startListening(Listener &listener) {
    stopListening(listener);
    QTcpServer *server = listener.make();
    connect(server, &QTcpServer::pendingConnectionAvailable, this, [this, server] { accept(server); });
    if (!server->listen(QHostAddress::LocalHost, listener.port)) {
        m_error = server->errorString();
        delete server;
        return false;
    }
    listener.ipv4 = server;
    listener.port = server->serverPort();

    QTcpServer *server6 = listener.make();
    connect(server6, &QTcpServer::pendingConnectionAvailable, this, [this, server6] { accept(server6); });
    if (server6->listen(QHostAddress::LocalHostIPv6, listener.port))
        listener.ipv6 = server6;
    else
        delete server6;
    return true;
}

void SimulatedApiServer::stopListening(Listener &listener) {
    delete listener.ipv4;
    delete listener.ipv6;
}

bool SimulatedApiServer::listen(quint16 port) {
    stopListening(m_plain);
    m_plain = {[this] { return new QTcpServer(this); }, port, {}, {}};
    if (startListening(m_plain))
        return true;
    m_plain = {};
    return false;
}

bool SimulatedApiServer::listenTls(const QString &certificateFile, const QString &keyFile, quint16 port) {
    QFile certificateIn(certificateFile);
    QFile keyIn(keyFile);
    if (!certificateIn.open(QIODevice::ReadOnly) || !keyIn.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1 or %2").arg(certificateFile, keyFile);
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateIn.readAll(), QSsl::Pem);
    const QByteArray keyPem = keyIn.readAll();
    QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
    if (chain.isEmpty() || key.isNull()) {
        m_error = QStringLiteral("no PEM certificate or key in %1 / %2").arg(certificateFile, keyFile);
        return false;
    }

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    const auto makeServer = [this, configuration] {
        auto *server = new QSslServer(this);
        server->setSslConfiguration(configuration);
        // A client that connects and never completes the handshake should not hold a socket forever.
        server->setHandshakeTimeout(10'000);
        return server;
    };
    stopListening(m_tls);
    m_tls = {makeServer, port, {}, {}};
    if (startListening(m_tls))
        return true;
    m_tls = {};
    return false;
}

void SimulatedApiServer::close() {
    stopListening(m_plain);
    stopListening(m_tls);
    m_plain = {};
    m_tls = {};
    m_refusing = false;
    for (const QPointer<HttpConnection> &connection : std::as_const(m_connections)) {
        if (connection)
            connection->drop();
    }
    m_connections.clear();
}

bool SimulatedApiServer::setRefusingConnections(bool refuse) {
    if (refuse == m_refusing)
        return true;
    m_refusing = refuse;
    bool ok = true;
    for (Listener *listener : {&m_plain, &m_tls}) {
        if (!listener->make)
            continue;
        if (refuse)
            stopListening(*listener);
        else
            ok = startListening(*listener) && ok;
    }
    return ok;
}

quint16 SimulatedApiServer::port() const {
    return m_plain.port;
}

quint16 SimulatedApiServer::tlsPort() const {
    return m_tls.port;
}

QString SimulatedApiServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString SimulatedApiServer::tlsBaseUrl() const {
    return QStringLiteral("https://localhost:%1").arg(tlsPort());
}

QString SimulatedApiServer::errorString() const {
    return m_error;
}

void SimulatedApiServer::setBehaviour(const QString &path, const SimulatedBehaviour &behaviour) {
    m_scripts[path].standing = behaviour;
}

void SimulatedApiServer::queueBehaviour(const QString &path, const SimulatedBehaviour &behaviour) {
    m_scripts[path].queued.append(behaviour);
}

void SimulatedApiServer::clearBehaviours() {
    m_scripts.clear();
}

void SimulatedApiServer::reset() {
    clearBehaviours();
    clearRequests();
    setRefusingConnections(false);
}

QList<RecordedRequest> SimulatedApiServer::requests() const {
    return m_requests;
}

qsizetype SimulatedApiServer::requestCount() const {
    return m_requests.size();
}

void SimulatedApiServer::clearRequests() {
    m_requests.clear();
}

int SimulatedApiServer::openConnectionCount() const {
    return static_cast<int>(std::count_if(m_connections.begin(), m_connections.end(),
                                          [](const QPointer<HttpConnection> &c) { return !c.isNull(); }));
}

int SimulatedApiServer::pendingReplyCount() const {
    return static_cast<int>(
        std::count_if(m_connections.begin(), m_connections.end(),
                      [](const QPointer<HttpConnection> &c) { return c && c->isAwaitingReply(); }));
}

void SimulatedApiServer::setClock(std::function<qint64()> secondsSinceEpoch) {
    m_clock = std::move(secondsSinceEpoch);
}

qint64 SimulatedApiServer::now() const {
    return m_clock();
}

void SimulatedApiServer::setMarketMovesPerRequest(bool perRequest) {
    m_marketMovesPerRequest = perRequest;
}

qint64 SimulatedApiServer::marketStep() const {
    return m_marketMovesPerRequest ? m_gasPriceRequests : SimulatedMarket::step(now());
}

void SimulatedApiServer::accept(QTcpServer *server) {
    m_connections.removeIf([](const QPointer<HttpConnection> &c) { return c.isNull(); });
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto *connection = new HttpConnection(socket, this);
        connect(connection, &HttpConnection::requestReceived, this,
                [this, connection](const HttpRequest &request) { handle(connection, request); });
        m_connections.append(connection);
    }
}

SimulatedBehaviour SimulatedApiServer::takeBehaviour(const QByteArray &path) {
    const QString exact = QString::fromLatin1(path);
    QStringList candidates;
    if (m_scripts.contains(exact))
        candidates.append(exact);
    QStringList prefixes;
    for (auto it = m_scripts.cbegin(); it != m_scripts.cend(); ++it) {
        if (it.key().endsWith(u'*') && exact.startsWith(QStringView(it.key()).chopped(1)))
            prefixes.append(it.key());
    }
    std::sort(prefixes.begin(), prefixes.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    candidates += prefixes;

    for (const QString &key : std::as_const(candidates)) {
        Script &script = m_scripts[key];
        if (!script.queued.isEmpty())
            return script.queued.takeFirst();
        if (script.standing)
            return *script.standing;
    }
    return SimulatedBehaviour::api();
}

void SimulatedApiServer::handle(HttpConnection *connection, const HttpRequest &request) {
    const RequestTokenVerifier::Verdict verdict = RequestTokenVerifier::verify(request, now());
    RecordedRequest record{request.method, request.target,  request.headers,          request.body,
                           verdict.ok,     verdict.failure, connection->isEncrypted()};
    m_requests.append(record);
    emit requestRecorded(record);

    const SimulatedBehaviour behaviour = takeBehaviour(request.path);
    if (behaviour.delayMs <= 0) {
        answer(connection, request, verdict.ok, verdict.failure, behaviour);
        return;
    }
    QTimer::singleShot(behaviour.delayMs, this,
                       [this, guard = QPointer<HttpConnection>(connection), request, verdict, behaviour] {
                           if (guard)
                               answer(guard, request, verdict.ok, verdict.failure, behaviour);
                       });
}

void SimulatedApiServer::answer(HttpConnection *connection, const HttpRequest &request, bool verified,
                                const QString &failure, const SimulatedBehaviour &behaviour) {
    int status = behaviour.status;
    HttpHeaderList headers = jsonHeaders;
    QByteArray body;
    switch (behaviour.kind) {
    case SimulatedBehaviour::Kind::Hang:
        return;
    case SimulatedBehaviour::Kind::Drop:
        connection->drop();
        return;
    case SimulatedBehaviour::Kind::Huge: {
        const Reply reply = apiReply(request, verified, failure);
        connection->streamReply(reply.status, jsonHeaders, behaviour.size - reply.body.size(), reply.body);
        return;
    }
    case SimulatedBehaviour::Kind::Api: {
        const Reply reply = apiReply(request, verified, failure);
        status = reply.status;
        body = reply.body;
        if (request.path.startsWith(gasPricePrefix) && request.path.endsWith(gasPriceSuffix))
            ++m_gasPriceRequests;
        break;
    }
    case SimulatedBehaviour::Kind::Fixed:
        headers = behaviour.headers;
        body = behaviour.body;
        break;
    case SimulatedBehaviour::Kind::Empty:
        headers.clear();
        break;
    case SimulatedBehaviour::Kind::Garbage:
        body = garbageBytes(behaviour.size, static_cast<quint32>(m_requests.size()));
        break;
    }
    if (behaviour.trickleMs > 0)
        connection->trickleReply(status, headers, body, behaviour.trickleMs);
    else
        connection->sendReply(status, headers, body, request.wantsClose());
}

SimulatedApiServer::Reply SimulatedApiServer::apiReply(const HttpRequest &request, bool verified,
                                                       const QString &failure) const {
    if (!verified)
        return {401, envelope(401, failure, QJsonValue::Null)};
    if (request.path == tokenPricePath) {
        if (request.method != "POST")
            return {405, envelope(405, QStringLiteral("method not allowed"), QJsonValue::Null)};
        return tokenPriceReply(request.body);
    }
    if (request.path.startsWith(gasPricePrefix) && request.path.endsWith(gasPriceSuffix)) {
        if (request.method != "GET")
            return {405, envelope(405, QStringLiteral("method not allowed"), QJsonValue::Null)};
        const QByteArray chainId = request.path.mid(
            gasPricePrefix.size(), request.path.size() - gasPricePrefix.size() - gasPriceSuffix.size());
        return gasPriceReply(chainId);
    }
    return {404, envelope(404, QStringLiteral("not found"), QJsonValue::Null)};
}

SimulatedApiServer::Reply SimulatedApiServer::gasPriceReply(const QByteArray &chainId) const {
    const auto prices = SimulatedMarket::gasPrices(chainId, marketStep());
    if (!prices)
        return {404, envelope(404, QStringLiteral("unknown chain"), QJsonValue::Null)};
    const qint64 time = now();
    const auto value = [time](const QByteArray &wei) {
        return QJsonObject{{"price", QString::fromLatin1(wei)}, {"time", time}};
    };
    return {200, envelope(0, QStringLiteral("ok"),
                          QJsonObject{{"low", value(prices->low)},
                                      {"standard", value(prices->standard)},
                                      {"fast", value(prices->fast)},
                                      {"base", QJsonObject{{"price", QString::fromLatin1(prices->base)}}}})};
}

SimulatedApiServer::Reply SimulatedApiServer::tokenPriceReply(const QByteArray &body) const {
    const Reply badBody{400, envelope(400, QStringLiteral("malformed conditions"), QJsonValue::Null)};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return badBody;
    const QJsonObject condition =
        document.object().value(QLatin1String("conditions")).toArray().at(0).toObject();
    const QJsonObject token = condition.value(QLatin1String("tokens")).toArray().at(0).toObject();
    const QJsonValue chainIdValue = condition.value(QLatin1String("chain_id"));
    const QJsonValue symbolValue = token.value(QLatin1String("symbol"));
    if (!chainIdValue.isString() || !symbolValue.isString())
        return badBody;

    const QByteArray chainId = chainIdValue.toString().toUtf8();
    const QByteArray symbol = symbolValue.toString().toUtf8();
    // An unknown network has no price entry; an unknown token on a known one has no price.
    if (!SimulatedMarket::knowsChain(chainId))
        return {200, envelope(0, QStringLiteral("ok"), QJsonObject{{"prices", QJsonArray{}}})};
    const qint64 step = marketStep();
    QJsonObject tokenEntry{{"symbol", symbolValue},
                           {"address", token.value(QLatin1String("address")).toString()}};
    if (const auto price = SimulatedMarket::tokenPrice(chainId, symbol, step)) {
        tokenEntry.insert("last_price", QString::fromLatin1(*price));
        tokenEntry.insert(
            "percent_change",
            QString::fromLatin1(SimulatedMarket::tokenPercentChange(chainId, step).value_or("0.00")));
        tokenEntry.insert("exchange", QStringLiteral("simulated"));
    } else {
        tokenEntry.insert("last_price", QJsonValue::Null);
    }
    const QJsonObject entry{{"chain", QJsonObject{{"chain_type", "EVM"}, {"chain_id", chainIdValue}}},
                            {"tokens", QJsonArray{tokenEntry}}};
    return {200, envelope(0, QStringLiteral("ok"), QJsonObject{{"prices", QJsonArray{entry}}})};
}
