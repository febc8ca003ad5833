// What a reply body means to the caller: success, the server's failure, `unknown`, or a decode failure.
#include "DecoderFixtures.h"

#include <gtest/gtest.h>

namespace {

enum class Expect { success, server, unknown, decodeError };

struct EnvelopeCase {
    const char *name;
    const char *body;
    Expect expect;
    const char *message = ""; // the server's message, for Expect::server
};

constexpr char gasData[] = R"({"low":{"price":"1"},"standard":{"price":"2"},"fast":{"price":"3"}})";

QByteArray withGasData(const char *format) {
    return QByteArray(format).replace("DOC", gasData);
}

const EnvelopeCase gasCases[] = {
    {"dataWithoutMessage", R"({"code":0,"data":DOC})", Expect::success},
    {"messageIgnoredOnSuccess", R"({"code":0,"message":"ignored","data":DOC})", Expect::success},
    {"nullMessageAndData", R"({"code":0,"message":null,"data":null})", Expect::unknown},
    {"codeZeroOnly", R"({"code":0})", Expect::unknown},
    {"codeOnly", R"({"code":3})", Expect::server},
    {"serverMessage", R"({"code":1,"message":"busy","data":null})", Expect::server, "busy"},
    {"emptyServerMessage", R"({"code":1,"message":""})", Expect::server},
    {"nonzeroCodeDropsData", R"({"code":7,"message":"m","data":DOC})", Expect::server, "m"},
    {"negativeCode", R"({"code":-1,"message":"m"})", Expect::server, "m"},
    {"extraKeys", R"({"x":[1,{"y":null}],"code":0,"z":"t","data":DOC,"w":false})", Expect::success},
    {"codeAsDigitText", R"({"code":"0","data":DOC})", Expect::decodeError},
    {"codeNull", R"({"code":null,"data":DOC})", Expect::decodeError},
    {"codeTrue", R"({"code":true,"data":DOC})", Expect::decodeError},
    {"codeMissing", R"({"message":"m","data":DOC})", Expect::decodeError},
    {"codeInOtherCase", R"({"Code":0,"data":DOC})", Expect::decodeError},
    {"messageNumber", R"({"code":0,"message":5,"data":DOC})", Expect::decodeError},
    {"serverReplyWithEmptyData", R"({"code":1,"message":"no such chain","data":{}})", Expect::decodeError},
    {"dataArrayHoldingDocument", R"({"code":0,"data":[DOC]})", Expect::decodeError},
    {"topLevelArray", R"([{"code":0,"data":DOC}])", Expect::decodeError},
};

class GasEnvelope : public testing::TestWithParam<EnvelopeCase> {};

TEST_P(GasEnvelope, MeansWhatItsCodeAndDataSay) {
    const EnvelopeCase &c = GetParam();
    const auto outcome = outcomeOf(decodeGasPriceReply(withGasData(c.body)));
    const auto *failure = std::get_if<ApiFailure>(&outcome);
    const auto *apiError = failure ? std::get_if<ZelkApiError>(failure) : nullptr;
    switch (c.expect) {
    case Expect::success:
        ASSERT_TRUE(std::holds_alternative<EthereumOracleGasPrice>(outcome));
        EXPECT_EQ(std::get<EthereumOracleGasPrice>(outcome).fast.price, "3");
        break;
    case Expect::server:
        ASSERT_TRUE(apiError);
        EXPECT_EQ(apiError->kind, ZelkApiError::Kind::server);
        EXPECT_EQ(apiError->message, QString::fromUtf8(c.message));
        break;
    case Expect::unknown:
        ASSERT_TRUE(apiError);
        EXPECT_EQ(apiError->kind, ZelkApiError::Kind::unknown);
        break;
    case Expect::decodeError:
        EXPECT_TRUE(decodeErrorOf(outcome));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, GasEnvelope, testing::ValuesIn(gasCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TokenEnvelope, EmptyPricesListIsSuccess) {
    const auto outcome = outcomeOf(decodeTokenPriceReply(R"({"code":0,"data":{"prices":[]}})"));
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(outcome));
    EXPECT_TRUE(std::get<TokenPriceResponse>(outcome).prices.isEmpty());
}

TEST(TokenEnvelope, ServerReplyWithEmptyDataIsDecodeFailure) {
    const auto outcome = outcomeOf(decodeTokenPriceReply(R"({"code":1,"message":"bad","data":{}})"));
    ASSERT_TRUE(decodeErrorOf(outcome));
    EXPECT_EQ(decodeErrorOf(outcome)->path, "data.prices");
}

TEST(TokenEnvelope, FixtureKeepsEveryValueInOrder) {
    const auto outcome = outcomeOf(decodeTokenPriceReply(tokenPriceBody));
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(outcome));
    const auto &prices = std::get<TokenPriceResponse>(outcome).prices;
    ASSERT_EQ(prices.size(), 2);
    EXPECT_EQ(prices[1].chain.chainId, "56");
    ASSERT_EQ(prices[0].tokens.size(), 2);
    EXPECT_EQ(prices[0].tokens[0].price, "2245.31");
    EXPECT_EQ(prices[0].tokens[0].priceRatio, "-1.2");
    EXPECT_EQ(prices[1].tokens[1].symbol, "WBNB");
}

} // namespace
