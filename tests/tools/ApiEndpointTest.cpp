// Correctly signed requests get the real API's documents for the six networks, drifting over time.
#include "SimApiTestClient.h"

#include "tools/simapi/SimulatedApiServer.h"
#include "tools/simapi/SimulatedMarket.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

using Client = SimApiTestClient;

struct Network {
    const char *chainId;
    const char *symbol;
};

const Network networks[] = {{"1", "ETH"},   {"56", "BNB"}, {"137", "MATIC"},
                            {"250", "FTM"}, {"66", "OKT"}, {"128", "HT"}};

QByteArray tokenPriceBody(const QString &chainId, const QString &symbol) {
    const QJsonObject token{{"address", ""}, {"symbol", symbol}};
    const QJsonObject condition{{"tokens", QJsonArray{token}}, {"chain_id", chainId}, {"chain_type", "EVM"}};
    return QJsonDocument(QJsonObject{{"conditions", QJsonArray{condition}}, {"base_coin_alias", "USD"}})
        .toJson(QJsonDocument::Compact);
}

bool isDigits(const QString &text) {
    static const QRegularExpression digits("^[0-9]+$");
    return digits.match(text).hasMatch();
}

class ApiEndpoint : public testing::Test {
protected:
    void SetUp() override {
        server.setClock([this] { return now; });
        ASSERT_TRUE(server.listen());
    }

    Client::Reply gasPrice(const QString &chainId) {
        return client.get(server.baseUrl() + "/api/v1/chains/EVM/" + chainId + "/gas_price",
                          Client::signedHeaders(now));
    }

    Client::Reply tokenPrice(const QString &chainId, const QString &symbol) {
        return client.post(server.baseUrl() + "/api/v1/tokens/prices/conditions", Client::signedHeaders(now),
                           tokenPriceBody(chainId, symbol));
    }

    qint64 now = Client::fixedNow;
    SimulatedApiServer server;
    Client client;
};

TEST_F(ApiEndpoint, GasPriceOfEveryNetworkIsThreeWeiTexts) {
    for (const Network &network : networks) {
        SCOPED_TRACE(network.chainId);
        const auto reply = gasPrice(network.chainId);
        EXPECT_EQ(reply.status, 200);
        const QJsonObject envelope = reply.json();
        EXPECT_EQ(envelope.value("code").toInteger(-1), 0);
        const QJsonObject data = envelope.value("data").toObject();
        for (const char *tier : {"low", "standard", "fast"}) {
            const QJsonValue price = data.value(tier).toObject().value("price");
            EXPECT_TRUE(price.isString()) << tier;
            EXPECT_TRUE(isDigits(price.toString())) << tier << " " << price.toString().toStdString();
        }
    }
}

TEST_F(ApiEndpoint, TokenPriceOfEveryNetworkIsADecimalText) {
    static const QRegularExpression decimal("^[0-9]+\\.[0-9]{5}$");
    for (const Network &network : networks) {
        SCOPED_TRACE(network.chainId);
        const auto reply = tokenPrice(network.chainId, network.symbol);
        EXPECT_EQ(reply.status, 200);
        const QJsonObject envelope = reply.json();
        EXPECT_EQ(envelope.value("code").toInteger(-1), 0);
        const QJsonObject entry =
            envelope.value("data").toObject().value("prices").toArray().at(0).toObject();
        EXPECT_EQ(entry.value("chain").toObject().value("chain_id").toString(), network.chainId);
        const QJsonObject token = entry.value("tokens").toArray().at(0).toObject();
        EXPECT_EQ(token.value("symbol").toString(), network.symbol);
        EXPECT_TRUE(decimal.match(token.value("last_price").toString()).hasMatch())
            << token.value("last_price").toString().toStdString();
    }
}

TEST_F(ApiEndpoint, PricesHoldWithinAStepAndDriftAcrossSteps) {
    const QByteArray first = gasPrice("1").body;
    const QByteArray firstToken = tokenPrice("1", "ETH").body;
    now += 1;
    EXPECT_EQ(gasPrice("1").body.replace(QByteArray::number(now), QByteArray::number(now - 1)), first);

    bool gasMoved = false;
    bool tokenMoved = false;
    for (int step = 1; step <= 3; ++step) {
        now = Client::fixedNow + step * SimulatedMarket::stepSeconds;
        const QJsonObject before = QJsonDocument::fromJson(first).object().value("data").toObject();
        const QJsonObject after = gasPrice("1").json().value("data").toObject();
        gasMoved = gasMoved || before.value("standard").toObject().value("price") !=
                                   after.value("standard").toObject().value("price");
        tokenMoved = tokenMoved || tokenPrice("1", "ETH").body != firstToken;
    }
    EXPECT_TRUE(gasMoved);
    EXPECT_TRUE(tokenMoved);
}

TEST_F(ApiEndpoint, PricesCanMoveAtEveryGasPriceRequest) {
    server.setMarketMovesPerRequest(true);
    QByteArray lastGas = gasPrice("1").body;
    QByteArray lastToken = tokenPrice("1", "ETH").body;
    for (int request = 0; request < 5; ++request) {
        // The token price holds until the next gas-price request, as within one refresh.
        EXPECT_EQ(tokenPrice("1", "ETH").body, lastToken);
        const QByteArray gas = gasPrice("1").body;
        const QByteArray token = tokenPrice("1", "ETH").body;
        EXPECT_NE(gas, lastGas);
        EXPECT_NE(token, lastToken);
        lastGas = gas;
        lastToken = token;
    }
}

struct RefusalCase {
    const char *name;
    const char *method;
    const char *path;
    QByteArray body;
    int status;
};

TEST_F(ApiEndpoint, AnswersWhatItDoesNotServeWithAnErrorEnvelope) {
    const RefusalCase cases[] = {
        {"unknown chain", "GET", "/api/v1/chains/EVM/2/gas_price", {}, 404},
        {"unknown path", "GET", "/api/v1/chains", {}, 404},
        {"gas price by POST", "POST", "/api/v1/chains/EVM/1/gas_price", "{}", 405},
        {"token price by GET", "GET", "/api/v1/tokens/prices/conditions", {}, 405},
        {"token price body not JSON", "POST", "/api/v1/tokens/prices/conditions", "<html>", 400},
        {"token price without conditions", "POST", "/api/v1/tokens/prices/conditions", "{}", 400},
    };
    for (const RefusalCase &row : cases) {
        SCOPED_TRACE(row.name);
        const QString url = server.baseUrl() + row.path;
        const auto reply = QByteArray(row.method) == "POST"
                               ? client.post(url, Client::signedHeaders(now), row.body)
                               : client.get(url, Client::signedHeaders(now));
        EXPECT_EQ(reply.status, row.status);
        const QJsonObject envelope = reply.json();
        EXPECT_NE(envelope.value("code").toInteger(0), 0);
        EXPECT_TRUE(envelope.contains("data") && envelope.value("data").isNull());
    }
}

TEST_F(ApiEndpoint, TokenPriceForAnotherSymbolHasNoPrice) {
    const QJsonObject token = tokenPrice("56", "ETH")
                                  .json()
                                  .value("data")
                                  .toObject()
                                  .value("prices")
                                  .toArray()
                                  .at(0)
                                  .toObject()
                                  .value("tokens")
                                  .toArray()
                                  .at(0)
                                  .toObject();
    EXPECT_EQ(token.value("symbol").toString(), "ETH");
    EXPECT_TRUE(token.value("last_price").isNull());
}

TEST_F(ApiEndpoint, AnswersOnBothLoopbackAddresses) {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6))
        GTEST_SKIP() << "no IPv6 loopback here";
    for (const QString &host : {QStringLiteral("127.0.0.1"), QStringLiteral("[::1]")}) {
        SCOPED_TRACE(host.toStdString());
        const auto reply = client.get(
            QStringLiteral("http://%1:%2/api/v1/chains/EVM/1/gas_price").arg(host).arg(server.port()),
            Client::signedHeaders(now));
        EXPECT_EQ(reply.status, 200);
    }
}

TEST_F(ApiEndpoint, RecordsWhatItReceived) {
    const QByteArray body = tokenPriceBody("56", "BNB");
    tokenPrice("56", "BNB");
    ASSERT_EQ(server.requestCount(), 1);
    const RecordedRequest recorded = server.requests().at(0);
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.path, "/api/v1/tokens/prices/conditions");
    EXPECT_EQ(recorded.body, body);
    EXPECT_EQ(recorded.header("X-App-Udid"), Client::udid);
    EXPECT_TRUE(recorded.tokenVerified);
    EXPECT_FALSE(recorded.encrypted);
}

} // namespace
