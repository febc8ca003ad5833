#include "api/NetworkAccess.h"
#include "api/ZelkApiService.h"
#include "tools/simapi/SimulatedApiServer.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

const QString tokenPath = QStringLiteral("/api/v1/tokens/prices/conditions");
const QString gasPath = QStringLiteral("/api/v1/chains/EVM/56/gas_price");

const QByteArray tokenDocument =
    R"({"prices":[{"chain":{"chain_type":"EVM","chain_id":"56"},"tokens":[{"symbol":"BNB","last_price":"301.5"}]}]})";
const QByteArray gasDocument =
    R"({"low":{"price":"1000000000"},"standard":{"price":"2000000000"},"fast":{"price":"3000000000"}})";

QJsonObject bnbParameters() {
    return QJsonDocument::fromJson(
               R"({"conditions":[{"tokens":[{"address":"","symbol":"BNB"}],"chain_id":"56",)"
               R"("chain_type":"EVM"}],"base_coin_alias":"USD"})")
        .object();
}

QByteArray envelope(const QByteArray &members, const QByteArray &document) {
    return "{" + members + R"(,"data":)" + document + "}";
}

// How a request ended, as one comparable text: "success", "transport", "decode", "server:<message>",
// "unknown", or "silent" for a gas-price request that called no completion.
template <class T> QString ending(const ApiOutcome<T> &outcome) {
    if (std::holds_alternative<T>(outcome))
        return QStringLiteral("success");
    const ApiFailure &failure = std::get<ApiFailure>(outcome);
    if (std::holds_alternative<TransportError>(failure))
        return QStringLiteral("transport");
    if (std::holds_alternative<DecodeError>(failure))
        return QStringLiteral("decode");
    const ZelkApiError &error = std::get<ZelkApiError>(failure);
    return error.kind == ZelkApiError::Kind::server ? "server:" + error.message : QStringLiteral("unknown");
}

template <class T> struct Completions {
    int count = 0;
    bool offMainThread = false;
    std::optional<ApiOutcome<T>> last;

    std::function<void(ApiOutcome<T>)> callback(const std::shared_ptr<Completions> &self) {
        return [self](ApiOutcome<T> outcome) {
            ++self->count;
            self->offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            self->last = std::move(outcome);
        };
    }
    QString ending() const { return count == 0 ? QStringLiteral("silent") : ::ending(*last); }
};

class Request : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
        service = ZelkApiService{server.baseUrl()};
    }

    // Waits until the HTTP client has finished `replies` replies; every handler has then run.
    void waitForReplies(int replies) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() >= replies; }, 20'000));
    }

    std::shared_ptr<Completions<TokenPriceResponse>> post(const ZelkApiService &to,
                                                          const QString &path = tokenPath) {
        auto calls = std::make_shared<Completions<TokenPriceResponse>>();
        to.postRequest(path, bnbParameters(), calls->callback(calls));
        waitForReplies(finished.count() + 1);
        return calls;
    }

    // Also returns what the request printed.
    std::pair<std::shared_ptr<Completions<EthereumOracleGasPrice>>, std::string>
    get(const QString &path = gasPath) {
        auto calls = std::make_shared<Completions<EthereumOracleGasPrice>>();
        testing::internal::CaptureStdout();
        service.getRequest(path, calls->callback(calls));
        waitForReplies(finished.count() + 1);
        return {calls, testing::internal::GetCapturedStdout()};
    }

    SimulatedApiServer server;
    ZelkApiService service;
    QSignalSpy finished{&NetworkAccess::manager(), &QNetworkAccessManager::finished};
};

// Shortens the client's time limit for one test.
struct TransferTimeout {
    explicit TransferTimeout(std::chrono::milliseconds limit) {
        NetworkAccess::setTransferTimeoutForTesting(limit);
    }
    ~TransferTimeout() { NetworkAccess::setTransferTimeoutForTesting(NetworkAccess::transferTimeout); }
};

} // namespace

TEST_F(Request, SendsTheSignedHeadersInOrderOnTheWire) {
    post(service);
    service.getRequest(gasPath, [](auto) {});
    waitForReplies(2);
    ASSERT_EQ(server.requestCount(), 2);

    for (const RecordedRequest &request : server.requests()) {
        SCOPED_TRACE(request.method.toStdString());
        QList<QByteArray> names;
        for (const auto &[name, value] : request.headers)
            names.append(name.toLower());
        ASSERT_GE(names.size(), 6);
        EXPECT_EQ(names.mid(0, 6), QList<QByteArray>({"host", "x-app-type", "x-app-ver", "x-app-locale",
                                                      "x-app-udid", "x-req-token"}));
        EXPECT_EQ(request.header("x-app-type"), "iOS-5");
        EXPECT_EQ(request.header("x-app-ver"), "1.0.0");
        EXPECT_EQ(request.header("x-app-locale"), "en");
        EXPECT_TRUE(request.tokenVerified) << request.tokenFailure.toStdString();
    }
    const RecordedRequest postRequest = server.requests().at(0);
    EXPECT_EQ(postRequest.method, "POST");
    EXPECT_EQ(postRequest.headers.at(6).first, "Content-Type");
    EXPECT_EQ(postRequest.headers.at(6).second, "application/json");
    EXPECT_EQ(postRequest.body, QJsonDocument(bnbParameters()).toJson(QJsonDocument::Compact));
    const RecordedRequest getRequest = server.requests().at(1);
    EXPECT_EQ(getRequest.method, "GET");
    EXPECT_TRUE(getRequest.body.isEmpty());
    EXPECT_FALSE(
        getRequest.headers.contains(std::pair<QByteArray, QByteArray>("Content-Type", "application/json")));
    EXPECT_NE(postRequest.header("x-app-udid"), getRequest.header("x-app-udid"));
    EXPECT_NE(postRequest.header("x-req-token"), getRequest.header("x-req-token"));
}

TEST_F(Request, JoinsBaseAndPathAsTheyAre) {
    const QString paths[] = {tokenPath, QStringLiteral("/api/v1/chains/EVM/137/gas_price"),
                             QStringLiteral("/a%2Fb/?q=1&r=%20")};
    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        server.clearRequests();
        post(service, path);
        ASSERT_EQ(server.requestCount(), 1);
        EXPECT_EQ(server.requests().at(0).path, path.toUtf8());
    }
}

TEST_F(Request, LetTheBodyDecideWhateverTheStatus) {
    struct Case {
        const char *name;
        std::function<SimulatedBehaviour(const QByteArray &document)> reply;
        QString post;
        QString get;
    };
    using B = SimulatedBehaviour;
    const Case cases[] = {
        {"the API's own answer", [](auto) { return B::api(); }, "success", "success"},
        {"404 with a valid envelope", [](auto d) { return B::fixed(404, envelope(R"("code":0)", d)); },
         "success", "success"},
        {"500 with a valid envelope", [](auto d) { return B::fixed(500, envelope(R"("code":0)", d)); },
         "success", "success"},
        {"401 with a failure envelope",
         [](auto) { return B::fixed(401, R"({"code":401,"message":"bad token","data":null})"); },
         "server:bad token", "server:bad token"},
        {"a web page", [](auto) { return B::fixed(200, "<html><body>Bad gateway</body></html>"); }, "decode",
         "decode"},
        {"garbage", [](auto) { return B::garbage(); }, "decode", "decode"},
        {"200 with no body", [](auto) { return B::empty(200); }, "transport", "silent"},
        {"204 with no body", [](auto) { return B::empty(204); }, "decode", "decode"},
        {"205 with no body", [](auto) { return B::empty(205); }, "decode", "decode"},
        {"a dropped connection", [](auto) { return B::drop(); }, "transport", "silent"},
        {"code 7 with a document",
         [](auto d) { return B::fixed(200, envelope(R"("code":7,"message":"maintenance")", d)); },
         "server:maintenance", "server:maintenance"},
        {"code 3 alone", [](auto) { return B::fixed(200, R"({"code":3})"); }, "server:", "server:"},
        {"code 0 with data null",
         [](auto) { return B::fixed(200, R"({"code":0,"message":null,"data":null})"); }, "unknown",
         "unknown"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.setBehaviour(tokenPath, c.reply(tokenDocument));
        server.setBehaviour(gasPath, c.reply(gasDocument));

        const auto posted = post(service);
        EXPECT_EQ(posted->count, 1);
        EXPECT_EQ(posted->ending(), c.post);
        EXPECT_FALSE(posted->offMainThread);

        const auto [got, printed] = get();
        EXPECT_LE(got->count, 1);
        EXPECT_EQ(got->ending(), c.get);
        EXPECT_FALSE(got->offMainThread);
        if (c.get == "silent") {
            EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
            EXPECT_EQ(printed.find("x-req-token"), std::string::npos);
        } else {
            EXPECT_EQ(printed, "");
        }
    }
}

TEST_F(Request, DeliversTheDocument) {
    server.setBehaviour(tokenPath, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", tokenDocument)));
    server.setBehaviour(gasPath, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", gasDocument)));

    const auto posted = post(service);
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(*posted->last));
    EXPECT_EQ(std::get<TokenPriceResponse>(*posted->last).prices.at(0).tokens.at(0).price, "301.5");
    const auto got = get().first;
    ASSERT_TRUE(std::holds_alternative<EthereumOracleGasPrice>(*got->last));
    EXPECT_EQ(std::get<EthereumOracleGasPrice>(*got->last).standard.price, "2000000000");
}

TEST_F(Request, CompletesEachOfOverlappingRequestsOnce) {
    for (const int delay : {300, 200, 100, 0})
        server.queueBehaviour(tokenPath, SimulatedBehaviour::api().delayed(delay));
    std::shared_ptr<Completions<TokenPriceResponse>> calls[4];
    for (auto &c : calls) {
        c = std::make_shared<Completions<TokenPriceResponse>>();
        service.postRequest(tokenPath, bnbParameters(), c->callback(c));
    }
    waitForReplies(4);
    QTest::qWait(50); // room for a stray second call
    for (const auto &c : calls) {
        EXPECT_EQ(c->count, 1);
        EXPECT_EQ(c->ending(), "success");
    }
}

TEST_F(Request, GivesUpOnASilentServer) {
    const TransferTimeout shortLimit(std::chrono::milliseconds(300));
    server.setBehaviour(QStringLiteral("*"), SimulatedBehaviour::hang());

    EXPECT_EQ(post(service)->ending(), "transport");
    const auto [got, printed] = get();
    EXPECT_EQ(got->count, 0);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    // The client hung up: nothing stays open on the server's side.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnectionCount() == 0; }, 20'000));
}

TEST_F(Request, GivesUpOnAServerThatTricklesBytes) {
    // Never silent long enough for an idle limit, yet the reply would take minutes.
    const TransferTimeout shortLimit(std::chrono::milliseconds(300));
    server.setBehaviour(QStringLiteral("*"), SimulatedBehaviour::api().trickled(20));

    EXPECT_EQ(post(service)->ending(), "transport");
    const auto [got, printed] = get();
    EXPECT_EQ(got->count, 0);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
}

TEST_F(Request, EachRequestEndsAtItsOwnTimeLimit) {
    server.setBehaviour(QStringLiteral("*"), SimulatedBehaviour::hang());
    // Sent first with a limit far beyond this test's waits, then one with a short limit: the second
    // ends on its own, the first goes on.
    auto first = std::make_shared<Completions<TokenPriceResponse>>();
    {
        const TransferTimeout longLimit(std::chrono::minutes(10));
        service.postRequest(tokenPath, bnbParameters(), first->callback(first));
    }
    const TransferTimeout shortLimit(std::chrono::milliseconds(300));
    EXPECT_EQ(post(service)->ending(), "transport");
    EXPECT_EQ(first->count, 0);
    // Many at once all end at the short limit.
    std::shared_ptr<Completions<TokenPriceResponse>> many[5];
    for (auto &calls : many) {
        calls = std::make_shared<Completions<TokenPriceResponse>>();
        service.postRequest(tokenPath, bnbParameters(), calls->callback(calls));
    }
    waitForReplies(1 + 5);
    for (const auto &calls : many)
        EXPECT_EQ(calls->ending(), "transport");
    EXPECT_EQ(first->count, 0);
    server.close(); // ends the first
    waitForReplies(1 + 5 + 1);
    EXPECT_EQ(first->ending(), "transport");
}

TEST_F(Request, CutsOffBodiesOverOneMebibyte) {
    const qint64 limit = NetworkAccess::maxReplyBytes;
    // Without a length up front the cut comes from the bytes as they arrive.
    QByteArray chunked;
    for (int chunk = 0; chunk < 32; ++chunk)
        chunked += "10000\r\n" + QByteArray(0x10000, ' ') + "\r\n";
    chunked += "0\r\n\r\n";
    struct Case {
        const char *name;
        SimulatedBehaviour reply;
        QString post;
        QString get;
    };
    const Case cases[] = {
        {"exactly the limit", SimulatedBehaviour::huge(limit), "success", "success"},
        {"one byte over", SimulatedBehaviour::huge(limit + 1), "transport", "silent"},
        {"4 GiB, never read whole", SimulatedBehaviour::huge(qint64(1) << 32), "transport", "silent"},
        {"2 MiB in chunks", SimulatedBehaviour::fixed(200, chunked, {{"Transfer-Encoding", "chunked"}}),
         "transport", "silent"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.setBehaviour(QStringLiteral("*"), c.reply);
        const auto posted = post(service);
        EXPECT_EQ(posted->ending(), c.post);
        const auto [got, printed] = get();
        EXPECT_EQ(got->ending(), c.get);
        if (c.post == "transport") {
            const auto &error = std::get<TransportError>(std::get<ApiFailure>(*posted->last));
            EXPECT_TRUE(error.description.contains("larger than")) << error.description.toStdString();
            EXPECT_NE(printed.find("larger than"), std::string::npos) << printed;
        }
    }
}

TEST_F(Request, VerifiesTheServerCertificate) {
    const QString certs = QStringLiteral(GWEIBAR_TEST_CERT_DIR);
    NetworkAccess::addTrustedCaForTesting(QSslCertificate::fromPath(certs + "/ca.pem"));
    struct Case {
        const char *certificate;
        QString ending;
    };
    const Case cases[] = {{"server", "success"}, {"untrusted", "transport"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.certificate);
        SimulatedApiServer tlsServer;
        ASSERT_TRUE(
            tlsServer.listenTls(certs + "/" + c.certificate + ".pem", certs + "/" + c.certificate + ".key"))
            << tlsServer.errorString().toStdString();
        const auto posted = post(ZelkApiService{tlsServer.tlsBaseUrl()});
        EXPECT_EQ(posted->ending(), c.ending);
        if (c.ending == "success") {
            ASSERT_EQ(tlsServer.requestCount(), 1);
            EXPECT_TRUE(tlsServer.requests().at(0).encrypted);
        } else {
            EXPECT_EQ(tlsServer.requestCount(), 0);
            EXPECT_EQ(std::get<TransportError>(std::get<ApiFailure>(*posted->last)).code,
                      QNetworkReply::SslHandshakeFailedError);
        }
    }
}
