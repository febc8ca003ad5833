#include "store/GasStoreService.h"

#include "tools/simapi/SimulatedApiServer.h"

#include <QJsonDocument>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

using GSS = GasStoreService;

namespace {
const QString tokenPath = QStringLiteral("/api/v1/tokens/prices/conditions");
const QString bnbGasPath = QStringLiteral("/api/v1/chains/EVM/56/gas_price");

const QJsonObject bnbBody = QJsonDocument::fromJson(R"({"base_coin_alias":"USD","conditions":[
    {"chain_id":"56","chain_type":"EVM","tokens":[{"address":"","symbol":"BNB"}]}]})")
                                .object();

QByteArray success(const QByteArray &data) {
    return R"({"code":0,"message":"ok","data":)" + data + "}";
}

QByteArray tokenReply(const QByteArray &tokens) {
    return success(R"({"prices":[{"chain":{"chain_type":"EVM","chain_id":"56"},"tokens":[)" + tokens +
                   "]}]}");
}

QByteArray gasReply(const QByteArray &low, const QByteArray &standard, const QByteArray &fast) {
    return success(R"({"low":{"price":")" + low + R"("},"standard":{"price":")" + standard +
                   R"("},"fast":{"price":")" + fast + R"(","time":1700000000}})");
}

const QByteArray plainToken = tokenReply(R"({"symbol":"BNB","last_price":"301.5"})");
const QByteArray plainGas = gasReply("30000000000", "1500000000", "12345678901");
} // namespace

TEST(FetchBody, NamesTheChainAndItsToken) {
    EXPECT_EQ(GSS::tokenPriceParameters("56", "BNB"), bnbBody);
}

class Fetch : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
        service.api = server.baseUrl();
        GSS::setApiServiceForTesting(&service);
    }
    void TearDown() override { GSS::setApiServiceForTesting(nullptr); }

    void script(const QByteArray &tokens, const QByteArray &gas) {
        server.reset();
        server.setBehaviour(tokenPath, SimulatedBehaviour::fixed(200, tokens));
        server.setBehaviour(bnbGasPath, SimulatedBehaviour::fixed(200, gas));
    }

    // Every completion call of one fetch. A fetch that should end silently is given time to send
    // whatever it wrongly would, once the server has answered the requests it expected.
    QList<GSS::FetchResult> fetch(const GSS::chainMessage &row, bool expectGet, bool expectCompletion) {
        QList<GSS::FetchResult> results;
        GSS::fetchGasPrice(row, [&results](std::optional<GSS::FetchResult> result) {
            EXPECT_TRUE(result.has_value());
            if (result)
                results.append(*result);
        });
        if (expectCompletion) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 20'000));
        } else {
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    return server.requestCount() >= (expectGet ? 2 : 1) && server.pendingReplyCount() == 0;
                },
                20'000));
        }
        QTest::qWait(200);
        return results;
    }

    qsizetype gasRequests() const {
        const auto requests = server.requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const auto &r) { return r.method == "GET"; });
    }

    SimulatedApiServer server;
    ZelkApiService service;
};

TEST_F(Fetch, PostsTheBodyThenGetsTheChainsGasPrices) {
    const auto results = fetch(*GSS::chain("56"), true, true);
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].chainId, "56");
    for (const QString &gwei : {results[0].low, results[0].standard, results[0].fast})
        EXPECT_NE(gwei, "--");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, tokenPath.toUtf8());
    EXPECT_EQ(QJsonDocument::fromJson(requests[0].body).object(), bnbBody);
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].path, bnbGasPath.toUtf8());
}

TEST_F(Fetch, EveryFetchPostsItsOwnNetworksBody) {
    // Through every network and back to the first: nothing of an earlier body may stay in a later one.
    QList<GSS::chainMessage> rows(GSS::chainList.begin(), GSS::chainList.end());
    rows.append(GSS::chainList[0]);
    rows.append(GSS::chainList[0]);
    for (const GSS::chainMessage &row : rows) {
        SCOPED_TRACE(row.chainId.toStdString());
        server.reset();
        ASSERT_EQ(fetch(row, true, true).size(), 1);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2);
        EXPECT_EQ(requests[0].body, QJsonDocument(GSS::tokenPriceParameters(row.chainId, row.tokenName))
                                        .toJson(QJsonDocument::Compact));
        EXPECT_EQ(requests[1].path, "/api/v1/chains/EVM/" + row.chainId.toUtf8() + "/gas_price");
    }
}

TEST_F(Fetch, TokenPriceIsTheFirstTokensTextOrZero) {
    struct Case {
        const char *name;
        QByteArray reply;
        const char *tokenPrice;
    };
    const Case cases[] = {
        {"every digit kept", tokenReply(R"({"symbol":"BNB","last_price":"301.12345"})"), "301.12345"},
        {"empty text kept", tokenReply(R"({"symbol":"BNB","last_price":""})"), ""},
        {"null", tokenReply(R"({"symbol":"BNB","last_price":null})"), "0"},
        {"missing", tokenReply(R"({"symbol":"BNB"})"), "0"},
        {"no tokens", tokenReply(""), "0"},
        {"no prices", success(R"({"prices":[]})"), "0"},
        {"symbol not compared",
         tokenReply(R"({"symbol":"ETH","last_price":"2"},{"symbol":"BNB","last_price":"3"})"), "2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        script(c.reply, plainGas);
        const auto results = fetch(*GSS::chain("56"), true, true);
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(gasRequests(), 1);
        EXPECT_EQ(results[0].tokenPrice, c.tokenPrice);
        EXPECT_EQ(results[0].low, "30");
    }
}

TEST_F(Fetch, AGasPriceThatIsNoIntegerFailsAlone) {
    struct Case {
        QByteArray low, standard, fast;
        QStringList gwei;
    };
    const Case cases[] = {
        {"30000000000", "1500000000", "12345678901", {"30", "1.5", "12.3456"}},
        {"30000000000", "12.5", "1500000000", {"30", "--", "1.5"}},
        {"", "999", " 1 0", {"--", "0", "--"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.standard.toStdString());
        script(plainToken, gasReply(c.low, c.standard, c.fast));
        const auto results = fetch(*GSS::chain("56"), true, true);
        ASSERT_EQ(results.size(), 1);
        EXPECT_EQ(gasRequests(), 1);
        EXPECT_EQ(QStringList({results[0].low, results[0].standard, results[0].fast}), c.gwei);
        EXPECT_EQ(results[0].tokenPrice, "301.5");
    }
}

TEST_F(Fetch, AFailedStepEndsTheFetchSilently) {
    struct Case {
        const char *name;
        SimulatedBehaviour token, gas;
        bool get; // none may follow a failed POST
    };
    const auto ok = [](const QByteArray &body) { return SimulatedBehaviour::fixed(200, body); };
    const Case cases[] = {
        {"POST code 7", ok(R"({"code":7,"message":"no","data":{"prices":[]}})"), ok(plainGas), false},
        {"POST data null", ok(R"({"code":0,"data":null})"), ok(plainGas), false},
        {"POST price a number", ok(tokenReply(R"({"symbol":"BNB","last_price":3})")), ok(plainGas), false},
        {"POST garbage", SimulatedBehaviour::garbage(), ok(plainGas), false},
        {"POST empty body", SimulatedBehaviour::empty(200), ok(plainGas), false},
        {"POST dropped", SimulatedBehaviour::drop(), ok(plainGas), false},
        {"GET code 7", ok(plainToken), ok(R"({"code":7,"message":"no"})"), true},
        {"GET price a number", ok(plainToken),
         ok(success(R"({"low":{"price":1},"standard":{"price":"1"},)"
                    R"("fast":{"price":"1"}})")),
         1},
        {"GET garbage", ok(plainToken), SimulatedBehaviour::garbage(), true},
        {"GET empty body", ok(plainToken), SimulatedBehaviour::empty(200), true},
        {"GET dropped", ok(plainToken), SimulatedBehaviour::drop(), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.reset();
        server.setBehaviour(tokenPath, c.token);
        server.setBehaviour(bnbGasPath, c.gas);
        EXPECT_TRUE(fetch(*GSS::chain("56"), c.get, false).isEmpty());
        // The HTTP client may resend a request whose connection was dropped; only whether a GET went out
        // counts.
        EXPECT_EQ(gasRequests() > 0, c.get);
    }
}
