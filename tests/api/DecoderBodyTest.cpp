// Whole reply bodies: anything that is not one JSON object fails as a decode error, and hostile bodies
// (huge, deeply nested) neither crash nor hang.
#include "DecoderFixtures.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct BodyCase {
    const char *name;
    QByteArray body;
    bool decodes;
};

// Decodes as either envelope.
const QByteArray valid = R"({"code":0,"message":"ok","data":null})";

const BodyCase bodyCases[] = {
    {"empty", "", false},
    {"whitespace", " \r\n\t", false},
    {"leadingByteOrderMark", "\xEF\xBB\xBF" + valid, true},
    {"trailingNewline", valid + "\n", true},
    {"trailingGarbage", valid + "x", false},
    {"trailingNul", valid + QByteArray(1, '\0'), false},
    {"truncated", valid.left(valid.size() - 1), false},
    {"secondDocument", valid + valid, false},
    {"trailingComma", R"({"code":0,})", false},
    {"notANumber", R"({"code":NaN})", false},
    {"invalidUtf8", "{\"code\":1,\"message\":\"\xC3\x28\"}", false},
    {"topLevelNumber", "0", false},
    {"topLevelText", R"("code")", false},
    {"topLevelNull", "null", false},
    {"html", "<html><body>502 Bad Gateway</body></html>", false},
    {"singleQuotes", "{'code':0}", false},
    // Of repeated keys the last one counts.
    {"repeatedCodeLastWins", R"({"code":"0","code":1})", true},
    {"repeatedCodeLastFails", R"({"code":1,"code":"0"})", false},
};

class Bodies : public testing::TestWithParam<BodyCase> {};

TEST_P(Bodies, DecodeOnlyAsOneJsonObject) {
    const BodyCase &c = GetParam();
    EXPECT_EQ(std::holds_alternative<ZelkResult<EthereumOracleGasPrice>>(decodeGasPriceReply(c.body)),
              c.decodes);
    EXPECT_EQ(std::holds_alternative<ZelkResult<TokenPriceResponse>>(decodeTokenPriceReply(c.body)),
              c.decodes);
}

INSTANTIATE_TEST_SUITE_P(Replies, Bodies, testing::ValuesIn(bodyCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Bodies, RepeatedKeyTakesTheLastValue) {
    const auto decoded = decodeGasPriceReply(R"({"code":5,"message":"first","code":0,"message":"last"})");
    ASSERT_TRUE(std::holds_alternative<ZelkResult<EthereumOracleGasPrice>>(decoded));
    EXPECT_EQ(std::get<0>(decoded).code, 0);
    EXPECT_EQ(std::get<0>(decoded).message, "last");
}

TEST(Bodies, EmptyBodyNamesItsCause) {
    const auto decoded = decodeTokenPriceReply(QByteArrayView());
    ASSERT_TRUE(std::holds_alternative<DecodeError>(decoded));
    EXPECT_EQ(std::get<DecodeError>(decoded).reason, "empty body");
}

QByteArray nested(qsizetype depth) {
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

TEST(HostileBodies, DeepNestingFailsCleanly) {
    EXPECT_TRUE(std::holds_alternative<DecodeError>(decodeGasPriceReply(nested(100'000))));
    const QByteArray inUnknownKey = R"({"code":1,"x":)" + nested(100'000) + "}";
    EXPECT_TRUE(std::holds_alternative<DecodeError>(decodeGasPriceReply(inUnknownKey)));
    EXPECT_TRUE(std::holds_alternative<DecodeError>(decodeTokenPriceReply(inUnknownKey)));
}

TEST(HostileBodies, ModerateNestingInUnknownKeyIsIgnored) {
    const auto decoded = decodeGasPriceReply(R"({"code":1,"x":)" + nested(1000) + "}");
    ASSERT_TRUE(std::holds_alternative<ZelkResult<EthereumOracleGasPrice>>(decoded));
    EXPECT_EQ(std::get<0>(decoded).code, 1);
}

constexpr qsizetype mebibyte = 1024 * 1024;

TEST(HostileBodies, MebibyteTokenListDecodesWhole) {
    const QByteArray token =
        R"({"symbol":"T","address":"0x0","last_price":"1.5","percent_change":"0","exchange":"x"},)";
    const qsizetype count = (mebibyte - 200) / token.size();
    QByteArray body =
        R"({"code":0,"data":{"prices":[{"chain":{"chain_type":"EVM"},"tokens":[)" + token.repeated(count);
    body.chop(1);
    body += "]}]}}";
    ASSERT_LE(body.size(), mebibyte);
    const auto outcome = outcomeOf(decodeTokenPriceReply(body));
    ASSERT_TRUE(std::holds_alternative<TokenPriceResponse>(outcome));
    EXPECT_EQ(std::get<TokenPriceResponse>(outcome).prices.at(0).tokens.size(), count);
}

TEST(HostileBodies, MebibytePriceTextIsKept) {
    const QByteArray digits(mebibyte - 100, '7');
    const auto outcome =
        outcomeOf(decodeGasPriceReply(R"({"code":0,"data":{"low":{"price":")" + digits +
                                      R"("},"standard":{"price":"2"},"fast":{"price":"3"}}})"));
    ASSERT_TRUE(std::holds_alternative<EthereumOracleGasPrice>(outcome));
    EXPECT_EQ(std::get<EthereumOracleGasPrice>(outcome).low.price, QString::fromLatin1(digits));
}

TEST(HostileBodies, MebibyteOfMinusSignsStaysLinear) {
    const QByteArray body = R"({"code":0,"x":")" + QByteArray(mebibyte, '-') + R"("})";
    EXPECT_TRUE(std::holds_alternative<ZelkResult<TokenPriceResponse>>(decodeTokenPriceReply(body)));
}

} // namespace
