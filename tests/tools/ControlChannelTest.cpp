// Scripting over the control channel, in process and through the gweibar-simapi program.
#include "SimApiTestClient.h"

#include "tools/simapi/SimulatedApiControl.h"
#include "tools/simapi/SimulatedApiServer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

using Client = SimApiTestClient;

const QString gasPath = "/api/v1/chains/EVM/1/gas_price";

class ControlChannel : public testing::Test {
protected:
    void SetUp() override {
        server.setClock([] { return Client::fixedNow; });
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(control.listen());
    }

    Client::Reply command(const QString &route, const QByteArray &body = {}) {
        const QString url = QStringLiteral("http://127.0.0.1:%1%2").arg(control.port()).arg(route);
        return body.isNull() ? client.get(url, {}) : client.post(url, {}, body);
    }

    SimulatedApiServer server;
    SimulatedApiControl control{&server};
    Client client;
};

struct ScriptCase {
    const char *name;
    QByteArray script;
    QList<int> statuses; // of consecutive gas-price requests
    QList<QByteArray> bodies;
};

TEST_F(ControlChannel, ScriptsBehaveLikeTheirInProcessCounterparts) {
    const ScriptCase cases[] = {
        {"set fixed",
         R"({"path":"/api/v1/chains/EVM/1/gas_price","set":{"kind":"fixed","status":500,"body":"oops"}})",
         {500, 500},
         {"oops", "oops"}},
        {"queue then the API",
         R"({"path":"/api/v1/chains/EVM/1/gas_price","queue":[{"kind":"empty","status":204},)"
         R"({"kind":"fixed","body_base64":"AAEC"}]})",
         {204, 200, 200},
         {"", QByteArray("\x00\x01\x02", 3)}},
        {"array of entries, prefix path",
         R"([{"path":"/api/v1/chains/*","set":{"kind":"garbage","size":10}},)"
         R"({"path":"/api/v1/tokens/*","set":{"kind":"drop"}}])",
         {200},
         {}},
        {"headers as pairs keep their order",
         R"({"path":"*","set":{"kind":"fixed","headers":[["X-B","2"],["X-A","1"]],"body":"{}"}})",
         {200},
         {"{}"}},
    };
    for (const ScriptCase &row : cases) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(command("/__control/reset", "").status, 200);
        const auto scripted = command("/__control/script", row.script);
        ASSERT_EQ(scripted.status, 200) << scripted.body.toStdString();
        for (qsizetype i = 0; i < row.statuses.size(); ++i) {
            const auto reply = client.get(server.baseUrl() + gasPath, Client::signedHeaders());
            EXPECT_EQ(reply.status, row.statuses.at(i)) << i;
            if (i < row.bodies.size()) {
                EXPECT_EQ(reply.body, row.bodies.at(i)) << i;
            }
        }
    }
}

TEST_F(ControlChannel, RejectsAFaultyScriptWhole) {
    const QByteArray faulty[] = {
        "not json",
        R"({"set":{"kind":"empty"}})",
        R"({"path":"*"})",
        R"({"path":"*","set":{"kind":"fixed"},"queue":[]})",
        R"({"path":"*","set":{"kind":"explode"}})",
        R"({"path":"*","set":{"kind":1}})",
        R"({"path":"*","set":{"kind":"fixed","status":"500"}})",
        R"({"path":"*","set":{"kind":"fixed","delay":5}})",
        R"([{"path":"*","set":{"kind":"drop"}},{"path":"*","queue":[{"kind":"huge","size":-1}]}])",
    };
    for (const QByteArray &script : faulty) {
        SCOPED_TRACE(script.toStdString());
        const auto reply = command("/__control/script", script);
        EXPECT_EQ(reply.status, 400);
        EXPECT_TRUE(reply.json().value("error").isString());
    }
    EXPECT_EQ(client.get(server.baseUrl() + gasPath, Client::signedHeaders()).status, 200);
}

TEST_F(ControlChannel, ReportsAndResetsTheRequestLog) {
    client.get(server.baseUrl() + gasPath, Client::signedHeaders());
    client.get(server.baseUrl() + gasPath, {});
    const QJsonObject log = command("/__control/requests").json();
    const QJsonArray requests = log.value("requests").toArray();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests.at(0).toObject().value("path").toString(), gasPath);
    EXPECT_EQ(requests.at(0).toObject().value("method").toString(), "GET");
    EXPECT_TRUE(requests.at(0).toObject().value("token_verified").toBool());
    EXPECT_FALSE(requests.at(1).toObject().value("token_verified").toBool());
    EXPECT_TRUE(log.value("pending_replies").isDouble());

    ASSERT_EQ(command("/__control/reset", "").status, 200);
    EXPECT_TRUE(command("/__control/requests").json().value("requests").toArray().isEmpty());
}

TEST_F(ControlChannel, RefusesConnectionsOnRequestUntilReset) {
    ASSERT_EQ(command("/__control/refuse", R"({"refuse":true})").status, 200);
    EXPECT_EQ(client.get(server.baseUrl() + gasPath, Client::signedHeaders()).error,
              QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(command("/__control/refuse", R"({"refuse":"yes"})").status, 400);
    ASSERT_EQ(command("/__control/reset", "").status, 200);
    EXPECT_EQ(client.get(server.baseUrl() + gasPath, Client::signedHeaders()).status, 200);
}

TEST(SimApiProgram, ServesAndObeysItsControlPort) {
    QProcess program;
    program.start(QStringLiteral(GWEIBAR_SIMAPI_PROGRAM), {"--port", "0", "--control-port", "0"});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(Client::waitUntil([&] { return program.canReadLine(); }));
    const QList<QByteArray> words = program.readLine().trimmed().split(' ');
    ASSERT_EQ(words.size(), 5);
    EXPECT_EQ(words.at(0) + ' ' + words.at(1), "listening on");
    const QString base = "http://127.0.0.1:" + words.at(2);
    const QString controlBase = "http://127.0.0.1:" + words.at(4);

    Client client;
    EXPECT_EQ(client.get(base + gasPath, Client::signedHeaders(QDateTime::currentSecsSinceEpoch())).status,
              200);
    EXPECT_EQ(client
                  .post(controlBase + "/__control/script", {},
                        R"({"path":"*","set":{"kind":"empty","status":205}})")
                  .status,
              200);
    EXPECT_EQ(client.get(base + gasPath, {}).status, 205);
    EXPECT_EQ(client.get(controlBase + "/__control/requests", {}).json().value("requests").toArray().size(),
              2);

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(5000));
}

struct UsageCase {
    const char *name;
    QStringList arguments;
};

TEST(SimApiProgram, RefusesIncompleteCommandLines) {
    const UsageCase cases[] = {
        {"no port", {}},
        {"port not a number", {"--port", "x"}},
        {"port too large", {"--port", "65536"}},
        {"tls without key", {"--port", "0", "--tls", "--cert", "c.pem"}},
    };
    for (const UsageCase &row : cases) {
        SCOPED_TRACE(row.name);
        QProcess program;
        program.start(QStringLiteral(GWEIBAR_SIMAPI_PROGRAM), row.arguments);
        ASSERT_TRUE(program.waitForFinished(5000));
        EXPECT_NE(program.exitCode(), 0);
        EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
    }
}

} // namespace
