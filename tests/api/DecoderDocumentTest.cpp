// Reading order, key matching and encoding of the two reply documents.
#include "DecoderFixtures.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

struct FirstFailureCase {
    const char *name;
    const char *body;
    const char *path; // where the reported failure lies
};

const FirstFailureCase firstFailureCases[] = {
    {"codeBeforeMessage", R"({"code":"1","message":2})", "code"},
    {"messageBeforeData", R"({"code":0,"message":2,"data":[]})", "message"},
    {"lowBeforeBase", R"({"code":0,"data":{"base":"x","fast":{"price":"3"},"standard":{"price":"2"}}})",
     "data.low"},
    {"standardBeforeFast", R"({"code":0,"data":{"fast":5,"low":{"price":"1"},"standard":{}}})",
     "data.standard.price"},
    {"fastBeforeBase", R"({"code":0,"data":{"low":{"price":"1"},"standard":{"price":"2"},"base":{}}})",
     "data.fast"},
    {"priceBeforeTime",
     R"({"code":0,"data":{"low":{"time":"1"},"standard":{"price":"2"},"fast":{"price":"3"}}})",
     "data.low.price"},
    {"lowInOtherCase",
     R"({"code":0,"data":{"Low":{"price":"1"},"standard":{"price":"2"},"fast":{"price":"3"}}})", "data.low"},
    {"chainBeforeTokens", R"({"code":0,"data":{"prices":[{"tokens":7,"chain":{"chain_id":"1"}}]}})",
     "data.prices[0].chain.chain_type"},
    {"symbolBeforeOptionals", R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[
        {"exchange":1,"address":2,"symbol":null}]}]}})",
     "data.prices[0].tokens[0].symbol"},
    {"optionalsInDeclaredOrder", R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[
        {"symbol":"S","exchange":1,"percent_change":2,"last_price":3}]}]}})",
     "data.prices[0].tokens[0].last_price"},
    {"earlierEntryFirst",
     R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[{"symbol":"A"},
        {"Symbol":"B"}]},{"chain":null,"tokens":[]}]}})",
     "data.prices[0].tokens[1].symbol"},
    {"nullElement", R"({"code":0,"data":{"prices":[null]}})", "data.prices[0]"},
    {"textElement", R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":["ETH"]}]}})",
     "data.prices[0].tokens[0]"},
};

class FirstFailure : public testing::TestWithParam<FirstFailureCase> {};

TEST_P(FirstFailure, EndsTheDecodeWhereItLies) {
    const FirstFailureCase &c = GetParam();
    const QByteArray body(c.body);
    const auto gas = decodeGasPriceReply(body);
    const auto token = decodeTokenPriceReply(body);
    const auto &decoded =
        body.contains("prices") ? std::get_if<DecodeError>(&token) : std::get_if<DecodeError>(&gas);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->path, QString::fromLatin1(c.path)) << decoded->reason.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Replies, FirstFailure, testing::ValuesIn(firstFailureCases),
                         [](const auto &info) { return std::string(info.param.name); });

struct FailureTextCase {
    const char *name;
    const char *body;
    const char *path;
    const char *reason;
};

QByteArray tokensWithBadEleventh() {
    QByteArray tokens;
    for (int i = 0; i < 10; ++i)
        tokens += R"({"symbol":"S"},)";
    return R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[)" + tokens +
           R"({"symbol":false}]}]}})";
}

// The whole failure as reported, for each kind of failure and depth.
TEST(FailureText, NamesThePlaceAndTheKinds) {
    const QByteArray eleventh = tokensWithBadEleventh();
    const FailureTextCase cases[] = {
        {"array document", "[1]", "", "expected an object, found an array"},
        {"code as text", R"({"code":"1"})", "code",
         "expected a whole number in the signed 64-bit range, found a string"},
        {"code as fraction", R"({"code":1.5})", "code",
         "expected a whole number in the signed 64-bit range, found a number"},
        {"code missing", R"({"message":"m"})", "code", "required, missing"},
        {"code null", R"({"code":null})", "code", "required, found null"},
        {"message as object", R"({"code":0,"message":{}})", "message", "expected a string, found an object"},
        {"data as number", R"({"code":0,"data":5})", "data", "expected an object, found a number"},
        {"prices as object", R"({"code":0,"data":{"prices":{}}})", "data.prices",
         "expected an array, found an object"},
        {"token as boolean",
         R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[true]}]}})",
         "data.prices[0].tokens[0]", "expected an object, found a boolean"},
        {"chain type as array", R"({"code":0,"data":{"prices":[{"chain":{"chain_type":[]},"tokens":[]}]}})",
         "data.prices[0].chain.chain_type", "expected a string, found an array"},
        {"eleventh token", eleventh.constData(), "data.prices[0].tokens[10].symbol",
         "expected a string, found a boolean"},
        {"time as text", R"({"code":0,"data":{"low":{"price":"1","time":"2"}}})", "data.low.time",
         "expected a whole number in the signed 64-bit range, found a string"},
        {"fast null", R"({"code":0,"data":{"low":{"price":"1"},"standard":{"price":"2"},"fast":null}})",
         "data.fast", "required, found null"},
    };
    for (const FailureTextCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray body(c.body);
        const auto gas = decodeGasPriceReply(body);
        const auto token = decodeTokenPriceReply(body);
        const auto *decoded =
            body.contains("prices") ? std::get_if<DecodeError>(&token) : std::get_if<DecodeError>(&gas);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->path, QString::fromLatin1(c.path));
        EXPECT_EQ(decoded->reason, QString::fromLatin1(c.reason));
    }
}

TEST(KeyMatching, OrderAndUnknownKeysChangeNothing) {
    const QByteArray shuffled =
        R"({"data":{"extra":{"low":1},"base":{"time":1700000003,"price":"900000000","x":[]},
        "fast":{"time":1700000002,"price":"2000000000","Price":1},"standard":{"PRICE":null,"price":"1500000000",
        "time":1700000001},"low":{"price":"1000000000","time":1700000000,"y":{"z":true}}},"message":"success",
        "CODE":"x","code":0})";
    const auto expected = envelopeOf(decodeGasPriceReply(gasPriceBody));
    ASSERT_TRUE(expected);
    EXPECT_EQ(envelopeOf(decodeGasPriceReply(shuffled)), expected);
}

TEST(KeyMatching, OptionalKeyInOtherCaseCountsAsMissing) {
    const auto decoded = outcomeOf(decodeTokenPriceReply(R"({"code":0,"data":{"prices":[{"chain":
        {"chain_type":"EVM","Chain_Id":1},"tokens":[{"symbol":"ETH","Last_Price":2,"last_price":null}]}]}})"));
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(decoded));
    const auto &entry = std::get<TokenPriceResponse>(decoded).prices.at(0);
    EXPECT_EQ(entry.chain.chainId, std::nullopt);
    EXPECT_EQ(entry.tokens.at(0).price, std::nullopt);
}

TEST(KeyMatching, PriceTextIsKeptUnchecked) {
    for (const QString &price : {u""_s, u"abc"_s, u" 1 0"_s, u"-9223372036854775809"_s, u"1e3"_s}) {
        QJsonObject body = jsonObject(gasPriceBody);
        body = withMember(body, u"data.standard.price"_s, QJsonValue(price)).toObject();
        const auto outcome = outcomeOf(decodeGasPriceReply(bytes(body)));
        ASSERT_TRUE(std::holds_alternative<EthereumOracleGasPrice>(outcome)) << price.toStdString();
        EXPECT_EQ(std::get<EthereumOracleGasPrice>(outcome).standard.price, price);
    }
}

using Value = EthereumOracleGasPrice::EthereumOracleGasPriceValue;
using Token = TokenPriceResponse::PriceResponse::TokenResponse;
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();

TEST(Encoding, GasPriceRoundTrips) {
    const ZelkResult<EthereumOracleGasPrice> full{
        int64Min, u"\u00e9\"\\"_s,
        EthereumOracleGasPrice{Value{u"1"_s, int64Max}, Value{u""_s, int64Min}, Value{u"x"_s, 0},
                               Value{u"4"_s, -1}}};
    const ZelkResult<EthereumOracleGasPrice> sparse{
        0, std::nullopt, EthereumOracleGasPrice{Value{u"1"_s, {}}, Value{u"2"_s, {}}, Value{u"3"_s, {}}, {}}};
    for (const auto &envelope : {full, sparse, ZelkResult<EthereumOracleGasPrice>{9007199254740993, {}, {}}})
        EXPECT_EQ(envelopeOf(decodeGasPriceReply(bytes(envelope.encode()))), envelope);
}

TEST(Encoding, TokenPriceRoundTrips) {
    using Entry = TokenPriceResponse::PriceResponse;
    const Token full{u"ETH"_s, u"0x1"_s, u""_s, u"-1.2"_s, u"dex"_s};
    const Token sparse{u"BNB"_s, {}, {}, {}, {}};
    const TokenPriceResponse document{{Entry{{u"EVM"_s, u"1"_s}, {full, sparse}}, Entry{{u""_s, {}}, {}}}};
    const ZelkResult<TokenPriceResponse> envelope{-5, u""_s, document};
    EXPECT_EQ(envelopeOf(decodeTokenPriceReply(bytes(envelope.encode()))), envelope);
}

TEST(Encoding, AbsentMembersAreLeftOut) {
    const ZelkResult<EthereumOracleGasPrice> gas{
        1, std::nullopt, EthereumOracleGasPrice{Value{u"1"_s, {}}, Value{u"2"_s, {}}, Value{u"3"_s, {}}, {}}};
    EXPECT_EQ(bytes(gas.encode()),
              R"({"code":1,"data":{"fast":{"price":"3"},"low":{"price":"1"},"standard":{"price":"2"}}})");
    EXPECT_EQ(bytes(Token{u"S"_s, {}, {}, {}, {}}.encode()), R"({"symbol":"S"})");
    EXPECT_EQ(bytes(ZelkResult<TokenPriceResponse>{0, {}, {}}.encode()), R"({"code":0})");
}

} // namespace
