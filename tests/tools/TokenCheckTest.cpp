// The server admits exactly the requests a correct client signs, and answers all others 401.
#include "SimApiTestClient.h"

#include "api/ApiCredentials.h"
#include "tools/simapi/SimulatedApiServer.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Client = SimApiTestClient;

struct TokenCase {
    const char *name;
    std::function<HttpHeaderList()> headers;
    const char *refusal; // a word of the refusal message; null when admitted
};

void PrintTo(const TokenCase &row, std::ostream *out) {
    *out << row.name;
}

QByteArray timeText(qint64 offset) {
    return QByteArray::number(Client::fixedNow + offset);
}

HttpHeaderList withToken(const Client::TokenParts &parts) {
    HttpHeaderList headers = Client::signedHeaders();
    headers.last().second = Client::token(parts);
    return headers;
}

HttpHeaderList withPayload(const QByteArray &payload) {
    HttpHeaderList headers = Client::signedHeaders();
    headers.last().second = Client::encrypt(payload, ApiCredentials::credential2).toBase64();
    return headers;
}

QByteArray validSign() {
    return Client::sign(timeText(0), Client::udid, Client::nonce);
}

HttpHeaderList without(const QByteArray &name) {
    HttpHeaderList headers = Client::signedHeaders();
    headers.removeIf([&](const auto &header) { return header.first == name; });
    return headers;
}

HttpHeaderList replaced(const QByteArray &name, const QByteArray &value) {
    HttpHeaderList headers = Client::signedHeaders();
    for (auto &header : headers) {
        if (header.first == name)
            header.second = value;
    }
    return headers;
}

const TokenCase tokenCases[] = {
    {"correctly signed", [] { return Client::signedHeaders(); }, nullptr},
    {"time 300 s old",
     [] {
         return withToken({timeText(-300), Client::udid, Client::nonce, {}, {}});
     },
     nullptr},
    {"time 300 s ahead",
     [] {
         return withToken({timeText(300), Client::udid, Client::nonce, {}, {}});
     },
     nullptr},
    {"time 301 s old",
     [] {
         return withToken({timeText(-301), Client::udid, Client::nonce, {}, {}});
     },
     "stale"},
    {"time 301 s ahead",
     [] {
         return withToken({timeText(301), Client::udid, Client::nonce, {}, {}});
     },
     "stale"},
    {"sign over another udid",
     [] {
         const QByteArray other = "11111111-2222-4333-8444-555555555555";
         return withToken(
             {timeText(0), Client::udid, Client::nonce, Client::sign(timeText(0), other, Client::nonce), {}});
     },
     "does not match"},
    {"upper-case hex sign",
     [] {
         const QByteArray upper = Client::sign(timeText(0), Client::udid, Client::nonce).toUpper();
         return withToken({timeText(0), Client::udid, Client::nonce, upper, {}});
     },
     "malformed token sign"},
    {"lower-case nonce",
     [] {
         return withToken({timeText(0), Client::udid, Client::nonce.toLower(), {}, {}});
     },
     "nonce"},
    {"nonce without dashes",
     [] {
         return withToken({timeText(0), Client::udid, QByteArray(Client::nonce).replace('-', ""), {}, {}});
     },
     "nonce"},
    {"lower-case udid",
     [] {
         HttpHeaderList headers = replaced("x-app-udid", Client::udid.toLower());
         headers.last().second = Client::token({timeText(0), Client::udid.toLower(), Client::nonce, {}, {}});
         return headers;
     },
     "x-app-udid"},
    {"token under another key",
     [] {
         return withToken({timeText(0), Client::udid, Client::nonce, {}, QByteArray(32, 'k')});
     },
     "decrypt"},
    {"time as a JSON number",
     [] {
         return withPayload(R"({"time":)" + timeText(0) + R"(,"nonce":")" + Client::nonce + R"(","sign":")" +
                            validSign() + R"("})");
     },
     "payload"},
    {"a fourth payload member",
     [] {
         return withPayload(R"({"time":")" + timeText(0) + R"(","nonce":")" + Client::nonce +
                            R"(","sign":")" + validSign() + R"(","x":"1"})");
     },
     "payload"},
    {"members in another order",
     [] {
         return withPayload(R"({"sign":")" + validSign() + R"(","nonce":")" + Client::nonce +
                            R"(","time":")" + timeText(0) + R"("})");
     },
     nullptr},
    {"token not Base64", [] { return replaced("x-req-token", "not*base64"); }, "Base64"},
    {"token empty", [] { return replaced("x-req-token", ""); }, "x-req-token"},
    {"missing x-app-type", [] { return without("x-app-type"); }, "x-app-type"},
    {"missing x-app-ver", [] { return without("x-app-ver"); }, "x-app-ver"},
    {"missing x-app-locale", [] { return without("x-app-locale"); }, "x-app-locale"},
    {"missing x-app-udid", [] { return without("x-app-udid"); }, "x-app-udid"},
    {"missing x-req-token", [] { return without("x-req-token"); }, "x-req-token"},
    {"other x-app-type", [] { return replaced("x-app-type", "iOS-4"); }, "x-app-type"},
    {"empty x-app-ver", [] { return replaced("x-app-ver", ""); }, "x-app-ver"},
    {"other x-app-locale", [] { return replaced("x-app-locale", "de"); }, "x-app-locale"},
};

class TokenCheck : public testing::TestWithParam<TokenCase> {
protected:
    void SetUp() override {
        server.setClock([] { return Client::fixedNow; });
        ASSERT_TRUE(server.listen()) << server.errorString().toStdString();
    }

    SimulatedApiServer server;
    Client client;
};

TEST_P(TokenCheck, AdmitsOnlyCorrectlySignedRequests) {
    const TokenCase &row = GetParam();
    const auto reply = client.get(server.baseUrl() + "/api/v1/chains/EVM/1/gas_price", row.headers());

    ASSERT_TRUE(reply.finished);
    ASSERT_EQ(server.requestCount(), 1);
    const bool admitted = row.refusal == nullptr;
    EXPECT_EQ(server.requests().at(0).tokenVerified, admitted);
    const QJsonObject envelope = reply.json();
    if (admitted) {
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(envelope.value("code").toInteger(-1), 0);
        EXPECT_TRUE(envelope.value("data").isObject());
    } else {
        EXPECT_EQ(reply.status, 401);
        EXPECT_EQ(envelope.value("code").toInteger(), 401);
        EXPECT_TRUE(envelope.value("message").toString().contains(QLatin1String(row.refusal)))
            << envelope.value("message").toString().toStdString();
        EXPECT_TRUE(envelope.value("data").isNull());
        EXPECT_EQ(server.requests().at(0).tokenFailure, envelope.value("message").toString());
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, TokenCheck, testing::ValuesIn(tokenCases),
                         [](const testing::TestParamInfo<TokenCase> &info) {
                             std::string name;
                             for (const char c : std::string(info.param.name))
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(TokenCheckMessages, NeverCarryTheCredentials) {
    SimulatedApiServer server;
    server.setClock([] { return Client::fixedNow; });
    ASSERT_TRUE(server.listen());
    Client client;
    const auto reply = client.get(server.baseUrl() + "/api/v1/chains/EVM/1/gas_price",
                                  withToken({timeText(0), Client::udid, Client::nonce, "0", {}}));
    EXPECT_EQ(reply.status, 401);
    EXPECT_FALSE(reply.body.contains(ApiCredentials::credential1));
    EXPECT_FALSE(reply.body.contains(ApiCredentials::credential2));
}

} // namespace
