// Scripted answers: what a test asks for is what the client gets, on the wire.
#include "SimApiTestClient.h"

#include "tools/simapi/SimulatedApiServer.h"

#include <QJsonDocument>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

using Client = SimApiTestClient;

const QString gasPath = "/api/v1/chains/EVM/1/gas_price";

class Behaviour : public testing::Test {
protected:
    void SetUp() override {
        server.setClock([] { return Client::fixedNow; });
        ASSERT_TRUE(server.listen());
    }

    Client::Reply gasPrice(int timeoutMs = 5000) {
        return client.get(server.baseUrl() + gasPath, Client::signedHeaders(), timeoutMs);
    }

    SimulatedApiServer server;
    Client client;
};

struct ReplyCase {
    const char *name;
    SimulatedBehaviour behaviour;
    QNetworkReply::NetworkError error;
    int status;
    QByteArray body;
};

TEST_F(Behaviour, ScriptedRepliesReachTheClientUnchanged) {
    const ReplyCase cases[] = {
        {"fixed 500 envelope", SimulatedBehaviour::fixed(500, R"({"code":0})"),
         QNetworkReply::InternalServerError, 500, R"({"code":0})"},
        {"fixed HTML", SimulatedBehaviour::fixed(200, "<html></html>", {{"Content-Type", "text/html"}}),
         QNetworkReply::NoError, 200, "<html></html>"},
        {"empty 200", SimulatedBehaviour::empty(200), QNetworkReply::NoError, 200, ""},
        {"empty 204", SimulatedBehaviour::empty(204), QNetworkReply::NoError, 204, ""},
        {"empty 205", SimulatedBehaviour::empty(205), QNetworkReply::NoError, 205, ""},
        {"drop", SimulatedBehaviour::drop(), QNetworkReply::RemoteHostClosedError, 0, ""},
        {"drop after delay", SimulatedBehaviour::drop().delayed(50), QNetworkReply::RemoteHostClosedError, 0,
         ""},
    };
    for (const ReplyCase &row : cases) {
        SCOPED_TRACE(row.name);
        server.setBehaviour(gasPath, row.behaviour);
        const auto reply = gasPrice();
        ASSERT_TRUE(reply.finished);
        EXPECT_EQ(reply.error, row.error);
        EXPECT_EQ(reply.status, row.status);
        EXPECT_EQ(reply.body, row.body);
    }
}

TEST_F(Behaviour, GarbageIsTheGivenNumberOfBytesAndNotJson) {
    server.setBehaviour(gasPath, SimulatedBehaviour::garbage(300));
    const auto reply = gasPrice();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.size(), 300);
    QJsonParseError error;
    QJsonDocument::fromJson(reply.body, &error);
    EXPECT_NE(error.error, QJsonParseError::NoError);
}

TEST_F(Behaviour, DelayHoldsTheAnswerBack) {
    server.setBehaviour(gasPath, SimulatedBehaviour::api().delayed(400));
    const auto reply = gasPrice();
    EXPECT_EQ(reply.status, 200);
    EXPECT_GE(reply.elapsedMs, 400);
}

TEST_F(Behaviour, HangNeverAnswersAndStaysPending) {
    server.setBehaviour(gasPath, SimulatedBehaviour::hang());
    const auto reply = gasPrice(300);
    EXPECT_FALSE(reply.finished);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(Behaviour, HangingRepliesCountAsPending) {
    server.setBehaviour(gasPath, SimulatedBehaviour::hang());
    QTcpSocket first;
    QTcpSocket second;
    for (QTcpSocket *socket : {&first, &second}) {
        socket->connectToHost(QHostAddress::LocalHost, server.port());
        ASSERT_TRUE(socket->waitForConnected(2000));
        socket->write("GET " + gasPath.toLatin1() + " HTTP/1.1\r\nHost: x\r\n\r\n");
        socket->flush();
    }
    EXPECT_TRUE(Client::waitUntil([&] { return server.pendingReplyCount() == 2; }));
    EXPECT_EQ(server.openConnectionCount(), 2);
}

TEST_F(Behaviour, HugeBodyIsPaddingThenAValidEnvelope) {
    constexpr qint64 size = 3 * 1024 * 1024 + 7;
    server.setBehaviour(gasPath, SimulatedBehaviour::huge(size));
    const auto reply = gasPrice(20000);
    ASSERT_TRUE(reply.finished);
    EXPECT_EQ(reply.body.size(), size);
    EXPECT_EQ(reply.body.front(), ' ');
    EXPECT_EQ(QJsonDocument::fromJson(reply.body.trimmed()).object().value("code").toInteger(-1), 0);
}

TEST_F(Behaviour, TrickleSendsTheWholeReplyOneByteAtATime) {
    const QByteArray body = R"({"code":0})";
    server.setBehaviour(gasPath, SimulatedBehaviour::fixed(200, body).trickled(5));
    const auto reply = gasPrice(20000);
    ASSERT_TRUE(reply.finished);
    EXPECT_EQ(reply.body, body);
    // Status line, headers and body all go one byte per interval.
    EXPECT_GE(reply.elapsedMs, 5 * body.size());
}

TEST_F(Behaviour, QueuedAnswersComeFirstInOrderThenTheSetOne) {
    server.setBehaviour(gasPath, SimulatedBehaviour::empty(503));
    server.queueBehaviour(gasPath, SimulatedBehaviour::empty(500));
    server.queueBehaviour(gasPath, SimulatedBehaviour::empty(502));
    EXPECT_EQ(gasPrice().status, 500);
    EXPECT_EQ(gasPrice().status, 502);
    EXPECT_EQ(gasPrice().status, 503);
    EXPECT_EQ(gasPrice().status, 503);
    server.clearBehaviours();
    EXPECT_EQ(gasPrice().status, 200);
}

TEST_F(Behaviour, ExactPathWinsOverLongerPrefixOverShorterPrefix) {
    server.setBehaviour("*", SimulatedBehaviour::empty(500));
    server.setBehaviour("/api/v1/chains/EVM/*", SimulatedBehaviour::empty(502));
    server.setBehaviour(gasPath, SimulatedBehaviour::empty(503));
    const auto status = [&](const QString &path) {
        return client.get(server.baseUrl() + path, Client::signedHeaders()).status;
    };
    EXPECT_EQ(status(gasPath), 503);
    EXPECT_EQ(status("/api/v1/chains/EVM/56/gas_price"), 502);
    EXPECT_EQ(status("/api/v1/tokens/prices/conditions"), 500);
}

TEST_F(Behaviour, RefusesConnectionsUntilToldOtherwiseOnTheSamePort) {
    const quint16 port = server.port();
    ASSERT_TRUE(server.setRefusingConnections(true));
    EXPECT_EQ(gasPrice().error, QNetworkReply::ConnectionRefusedError);
    ASSERT_TRUE(server.setRefusingConnections(false));
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(gasPrice().status, 200);
}

TEST_F(Behaviour, KeepsTheConnectionForPipelinedRequests) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    ASSERT_TRUE(socket.waitForConnected(2000));
    const QByteArray request = "GET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n";
    socket.write(request + request);
    QByteArray received;
    Client::waitUntil([&] {
        received += socket.readAll();
        return received.count("HTTP/1.1 401") == 2;
    });
    EXPECT_EQ(received.count("HTTP/1.1 401"), 2);
    EXPECT_EQ(server.requestCount(), 2);
}

TEST_F(Behaviour, MalformedRequestsGetAPlainError) {
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"NONSENSE\r\n\r\n", "HTTP/1.1 400"},
        {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", "HTTP/1.1 400"},
        {"POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "HTTP/1.1 400"},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "HTTP/1.1 501"},
    };
    for (const auto &[request, statusLine] : cases) {
        SCOPED_TRACE(request.toStdString());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        ASSERT_TRUE(socket.waitForConnected(2000));
        socket.write(request);
        QByteArray received;
        Client::waitUntil([&] {
            received += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        });
        received += socket.readAll();
        EXPECT_TRUE(received.startsWith(statusLine)) << received.toStdString();
    }
    EXPECT_EQ(server.requestCount(), 0);
}

} // namespace
