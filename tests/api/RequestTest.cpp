#include "NginxHttp2Front.h"
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
#include <string>
#include <tuple>
#include <vector>

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

// HTTP/1.1 straight to the simulated server, or HTTP/2 through nginx in front of it.
enum class Protocol { Http1, Http2 };

std::string protocolName(const ::testing::TestParamInfo<Protocol> &info) {
    return info.param == Protocol::Http1 ? "Http1" : "Http2";
}

const QString certificateDir = QStringLiteral(GWEIBAR_TEST_CERT_DIR);

void trustTestCa() {
    static const bool trusted = [] {
        NetworkAccess::addTrustedCaForTesting(QSslCertificate::fromPath(certificateDir + "/ca.pem"));
        return true;
    }();
    (void)trusted;
}

// Every request the front passed on, and the front logs each one, travelled over HTTP/2.
void expectEveryRequestOverHttp2(const NginxHttp2Front &front, qsizetype originRequests) {
    // nginx logs a request once it has finished it, which may be just after the client has.
    EXPECT_TRUE(QTest::qWaitFor([&] { return front.accessLog().size() >= originRequests; }, 5'000))
        << front.accessLog().join('\n').toStdString();
    for (const QString &line : front.accessLog())
        EXPECT_TRUE(line.startsWith(QLatin1String("HTTP/2.0 "))) << line.toStdString();
}

class Request : public ::testing::TestWithParam<Protocol> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
        if (GetParam() == Protocol::Http2) {
            trustTestCa();
            ASSERT_TRUE(
                front.start(server.port(), certificateDir + "/server.pem", certificateDir + "/server.key"))
                << front.errorString().toStdString();
        }
        service = ZelkApiService{baseUrl()};
    }

    void TearDown() override {
        if (GetParam() == Protocol::Http2)
            expectEveryRequestOverHttp2(front, server.requestCount());
    }

    QString baseUrl() const { return GetParam() == Protocol::Http2 ? front.baseUrl() : server.baseUrl(); }

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
    NginxHttp2Front front;
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

INSTANTIATE_TEST_SUITE_P(Over, Request, ::testing::Values(Protocol::Http1, Protocol::Http2), protocolName);

TEST_P(Request, SendsTheSignedHeadersInOrderOnTheWire) {
    post(service);
    service.getRequest(gasPath, [](auto) {});
    waitForReplies(2);
    ASSERT_EQ(server.requestCount(), 2);

    for (const RecordedRequest &request : server.requests()) {
        SCOPED_TRACE(request.method.toStdString());
        QList<QByteArray> names;
        for (const auto &[name, value] : request.headers)
            names.append(name.toLower());
        // nginx writes the body's length itself, right after the host.
        if (GetParam() == Protocol::Http2)
            names.removeOne("content-length");
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
    if (GetParam() == Protocol::Http1) {
        EXPECT_EQ(postRequest.headers.at(6).first, "Content-Type"); // HTTP/2 has lower-case names only
    }
    EXPECT_EQ(postRequest.header("Content-Type"), "application/json");
    EXPECT_EQ(postRequest.body, QJsonDocument(bnbParameters()).toJson(QJsonDocument::Compact));
    const RecordedRequest getRequest = server.requests().at(1);
    EXPECT_EQ(getRequest.method, "GET");
    EXPECT_TRUE(getRequest.body.isEmpty());
    EXPECT_TRUE(getRequest.header("Content-Type").isNull());
    EXPECT_NE(postRequest.header("x-app-udid"), getRequest.header("x-app-udid"));
    EXPECT_NE(postRequest.header("x-req-token"), getRequest.header("x-req-token"));
}

TEST_P(Request, JoinsBaseAndPathAsTheyAre) {
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

TEST_P(Request, LetTheBodyDecideWhateverTheStatus) {
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

TEST_P(Request, DecodesTheBodyWhateverErrorQtDerivesFromTheStatus) {
    struct Case {
        int status;
        HttpHeaderList headers;
        QString ending;
    };
    const HttpHeaderList json{{"Content-Type", "application/json"}};
    std::vector<Case> cases;
    // 301 and 302 without a Location have nowhere to lead.
    for (const int status : {301, 302, 400, 401, 403, 404, 407, 409, 418, 429, 451, 500, 502, 503})
        cases.push_back({status, json, "success"});
    cases.push_back({401, {{"WWW-Authenticate", "Bearer"}}, "success"});
    // A challenge Qt can answer (Basic, Digest, NTLM): over HTTP/2 Qt ends the stream at the headers, before
    // the body, and no body reaches the client.
    const QString challenged = GetParam() == Protocol::Http1 ? "success" : "transport";
    cases.push_back({401, {{"WWW-Authenticate", "Basic realm=\"api\""}}, challenged});
    cases.push_back({407, {{"Proxy-Authenticate", "Basic realm=\"api\""}}, challenged});
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.status << " " << (c.headers.size() > 0 ? c.headers.at(0).second.data() : ""));
        server.setBehaviour(tokenPath, SimulatedBehaviour::fixed(
                                           c.status, envelope(R"("code":0)", tokenDocument), c.headers));
        server.setBehaviour(
            gasPath, SimulatedBehaviour::fixed(c.status, envelope(R"("code":0)", gasDocument), c.headers));
        EXPECT_EQ(post(service)->ending(), c.ending);
        const auto [got, printed] = get();
        EXPECT_EQ(got->ending(), c.ending == "transport" ? "silent" : c.ending) << printed;
    }
}

TEST_P(Request, KeepsTransfersThatFailAfterTheStatusAsTransportFailures) {
    struct Case {
        std::string name;
        std::function<SimulatedBehaviour(const QByteArray &document)> reply;
    };
    std::vector<Case> cases;
    for (const int status : {200, 401, 407, 500}) {
        // The connection closes 100 bytes short of the announced length, after a whole envelope.
        cases.push_back({"cut off, status " + std::to_string(status), [status](const QByteArray &d) {
                             const QByteArray body = envelope(R"("code":0)", d);
                             return SimulatedBehaviour::fixed(
                                 status, body,
                                 {{"Content-Type", "application/json"},
                                  {"Content-Length", QByteArray::number(body.size() + 100)}});
                         }});
    }
    cases.push_back({"garbled chunked framing, status 500", [](auto) {
                         return SimulatedBehaviour::fixed(500, "zz\r\n{}\r\n0\r\n\r\n",
                                                          {{"Transfer-Encoding", "chunked"}});
                     }});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.setBehaviour(tokenPath, c.reply(tokenDocument));
        server.setBehaviour(gasPath, c.reply(gasDocument));
        EXPECT_EQ(post(service)->ending(), "transport");
        const auto [got, printed] = get();
        EXPECT_EQ(got->ending(), "silent");
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
}

TEST_P(Request, FollowsRedirectsAsQtsDefaultPolicyDoes) {
    const QString tokenTarget = QStringLiteral("/target/token");
    const QString gasTarget = QStringLiteral("/target/gas");
    server.setBehaviour(tokenTarget, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", tokenDocument)));
    server.setBehaviour(gasTarget, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", gasDocument)));
    const bool overHttps = GetParam() == Protocol::Http2;
    struct Case {
        const char *name;
        int status;
        std::function<QString(const QString &path, const QString &target)> location;
        QString ending;
        int requests;               // what the server receives for one request, redirects included
        QByteArray methodAfterPost; // of the second request, when there is one
    };
    const auto to = [](const QString &, const QString &target) { return target; };
    const Case cases[] = {
        {"301", 301, to, "success", 2, "GET"},
        {"302", 302, to, "success", 2, "GET"},
        {"303", 303, to, "success", 2, "GET"},
        {"307", 307, to, "success", 2, "POST"},
        {"308", 308, to, "success", 2, "POST"},
        // Not a place to go: the redirect's own body decides.
        {"302 to another scheme", 302, [](auto, auto) { return QStringLiteral("ftp://127.0.0.1/x"); },
         "success", 1, ""},
        {"302 to itself, forever", 302, [](const QString &path, auto) { return path; }, "transport", 51,
         "GET"},
        // From https (HTTP/2 through nginx) to plain http straight to the server.
        {"302 from https to http", 302,
         [this](auto, const QString &target) { return server.baseUrl() + target; },
         overHttps ? "transport" : "success", overHttps ? 1 : 2, overHttps ? "" : "GET"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto &[path, target, document] : {std::tuple(tokenPath, tokenTarget, tokenDocument),
                                                     std::tuple(gasPath, gasTarget, gasDocument)}) {
            server.setBehaviour(path,
                                SimulatedBehaviour::fixed(c.status, envelope(R"("code":0)", document),
                                                          {{"Location", c.location(path, target).toUtf8()}}));
        }

        server.clearRequests();
        auto posted = std::make_shared<Completions<TokenPriceResponse>>();
        service.postRequest(tokenPath, bnbParameters(), posted->callback(posted));
        ASSERT_TRUE(QTest::qWaitFor([&] { return posted->count > 0; }, 20'000));
        EXPECT_EQ(posted->ending(), c.ending);
        const QList<RecordedRequest> hops = server.requests();
        ASSERT_EQ(hops.size(), c.requests);
        EXPECT_EQ(hops.at(0).method, "POST");
        if (hops.size() > 1) {
            EXPECT_EQ(hops.at(1).method, c.methodAfterPost);
            EXPECT_EQ(hops.at(1).body.isEmpty(), c.methodAfterPost == "GET");
            EXPECT_NE(hops.at(1).header("x-app-udid"), hops.at(0).header("x-app-udid"));
        }
        for (const RecordedRequest &hop : hops)
            EXPECT_TRUE(hop.tokenVerified) << hop.tokenFailure.toStdString();

        server.clearRequests();
        auto got = std::make_shared<Completions<EthereumOracleGasPrice>>();
        testing::internal::CaptureStdout();
        const int before = finished.count();
        service.getRequest(gasPath, got->callback(got));
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() >= before + c.requests; }, 20'000));
        QTest::qWait(20);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(got->ending(), c.ending == "transport" ? "silent" : c.ending) << printed;
        EXPECT_EQ(server.requestCount(), c.requests);
    }
}

TEST_P(Request, DeliversTheDocument) {
    server.setBehaviour(tokenPath, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", tokenDocument)));
    server.setBehaviour(gasPath, SimulatedBehaviour::fixed(200, envelope(R"("code":0)", gasDocument)));

    const auto posted = post(service);
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(*posted->last));
    EXPECT_EQ(std::get<TokenPriceResponse>(*posted->last).prices.at(0).tokens.at(0).price, "301.5");
    const auto got = get().first;
    ASSERT_TRUE(std::holds_alternative<EthereumOracleGasPrice>(*got->last));
    EXPECT_EQ(std::get<EthereumOracleGasPrice>(*got->last).standard.price, "2000000000");
}

TEST_P(Request, CompletesEachOfOverlappingRequestsOnce) {
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

TEST_P(Request, GivesUpOnASilentServer) {
    const TransferTimeout shortLimit(std::chrono::milliseconds(300));
    server.setBehaviour(QStringLiteral("*"), SimulatedBehaviour::hang());

    EXPECT_EQ(post(service)->ending(), "transport");
    const auto [got, printed] = get();
    EXPECT_EQ(got->count, 0);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    // The client hung up: nothing stays open on the server's side.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnectionCount() == 0; }, 20'000));
}

TEST_P(Request, GivesUpOnAServerThatTricklesBytes) {
    // Never silent long enough for an idle limit, yet the reply would take minutes.
    const TransferTimeout shortLimit(std::chrono::milliseconds(300));
    struct Case {
        const char *name;
        SimulatedBehaviour token;
        SimulatedBehaviour gas;
    };
    // The status line of an error status does not make the cut-off reply an answer.
    const Case cases[] = {
        {"the API's answer", SimulatedBehaviour::api().trickled(20), SimulatedBehaviour::api().trickled(20)},
        {"503 with a valid envelope",
         SimulatedBehaviour::fixed(503, envelope(R"("code":0)", tokenDocument)).trickled(20),
         SimulatedBehaviour::fixed(503, envelope(R"("code":0)", gasDocument)).trickled(20)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        server.setBehaviour(tokenPath, c.token);
        server.setBehaviour(gasPath, c.gas);

        EXPECT_EQ(post(service)->ending(), "transport");
        const auto [got, printed] = get();
        EXPECT_EQ(got->count, 0);
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
}

TEST_P(Request, EachRequestEndsAtItsOwnTimeLimit) {
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

TEST_P(Request, CutsOffBodiesOverOneMebibyte) {
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
        {"2 MiB in chunks, status 500",
         SimulatedBehaviour::fixed(500, chunked, {{"Transfer-Encoding", "chunked"}}), "transport", "silent"},
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

TEST_P(Request, VerifiesTheServerCertificate) {
    trustTestCa();
    struct Case {
        const char *certificate;
        QString ending;
    };
    const Case cases[] = {{"server", "success"}, {"untrusted", "transport"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.certificate);
        const QString certificate = certificateDir + "/" + c.certificate + ".pem";
        const QString key = certificateDir + "/" + c.certificate + ".key";
        // Over HTTP/1.1 the simulated server speaks TLS itself; over HTTP/2 nginx holds the certificate.
        SimulatedApiServer tlsServer;
        NginxHttp2Front tlsFront;
        QString url;
        if (GetParam() == Protocol::Http1) {
            ASSERT_TRUE(tlsServer.listenTls(certificate, key)) << tlsServer.errorString().toStdString();
            url = tlsServer.tlsBaseUrl();
        } else {
            ASSERT_TRUE(tlsFront.start(server.port(), certificate, key))
                << tlsFront.errorString().toStdString();
            url = tlsFront.baseUrl();
        }
        const SimulatedApiServer &origin = GetParam() == Protocol::Http1 ? tlsServer : server;
        server.clearRequests();
        const auto posted = post(ZelkApiService{url});
        EXPECT_EQ(posted->ending(), c.ending);
        if (c.ending == "success") {
            ASSERT_EQ(origin.requestCount(), 1);
            if (GetParam() == Protocol::Http1)
                EXPECT_TRUE(origin.requests().at(0).encrypted);
            else
                expectEveryRequestOverHttp2(tlsFront, 1);
        } else {
            EXPECT_EQ(origin.requestCount(), 0);
            EXPECT_EQ(std::get<TransportError>(std::get<ApiFailure>(*posted->last)).code,
                      QNetworkReply::SslHandshakeFailedError);
        }
    }
}
