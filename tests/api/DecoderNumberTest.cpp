// "code" and "time" are read exactly: whole values within the signed 64-bit range, nothing else.
#include "DecoderFixtures.h"

#include <gtest/gtest.h>

#include <cctype>
#include <limits>

namespace {

struct NumberCase {
    const char *literal;
    std::optional<std::int64_t> expected; // nothing: the reply fails
};

constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();

const NumberCase numberCases[] = {
    {"0", 0},
    {"-0", 0},
    {"-0.0", 0},
    {"9223372036854775807", int64Max},
    {"-9223372036854775808", int64Min},
    {"-9223372036854775807", int64Min + 1},
    {"9007199254740993", 9007199254740993},
    {"-9007199254740993", -9007199254740993},
    {"2.0", 2},
    {"1e3", 1000},
    {"1E+3", 1000},
    {"9.2e18", 9200000000000000000},
    {"9223372036854775808", std::nullopt},
    {"-9223372036854775809", std::nullopt},
    {"-9223372036854775810", std::nullopt},
    {"-9223372036854776000", std::nullopt},
    {"-9999999999999999999", std::nullopt},
    {"18446744073709551616", std::nullopt},
    {"9.3e18", std::nullopt},
    {"-9.3e18", std::nullopt},
    {"1e400", std::nullopt},
    {"1.5", std::nullopt},
    {"-1.5", std::nullopt},
    {"1e-5", std::nullopt},
    {"\"0\"", std::nullopt},
    {"\"9223372036854775807\"", std::nullopt},
    {"false", std::nullopt},
    {"[0]", std::nullopt},
    {"{}", std::nullopt},
};

class WholeNumbers : public testing::TestWithParam<NumberCase> {};

TEST_P(WholeNumbers, CodeIsReadExactly) {
    const NumberCase &c = GetParam();
    const auto decoded = decodeGasPriceReply(QByteArray(R"({"data":null,"code":)") + c.literal + "}");
    const auto *envelope = std::get_if<ZelkResult<EthereumOracleGasPrice>>(&decoded);
    ASSERT_EQ(envelope != nullptr, c.expected.has_value());
    if (envelope) {
        EXPECT_EQ(envelope->code, *c.expected);
    } else {
        const bool notJson = QByteArray(c.literal) == "1e400";
        EXPECT_EQ(std::get<DecodeError>(decoded).path, notJson ? "" : "code");
    }
}

TEST_P(WholeNumbers, TimeIsReadExactly) {
    const NumberCase &c = GetParam();
    const QByteArray body = QByteArray(R"({"code":0,"data":{"low":{"price":"1"},"standard":{"price":"2"},)") +
                            R"("fast":{"price":"3"},"base":{"price":"4","time":)" + c.literal + "}}}";
    const auto outcome = outcomeOf(decodeGasPriceReply(body));
    const auto *document = std::get_if<EthereumOracleGasPrice>(&outcome);
    ASSERT_EQ(document != nullptr, c.expected.has_value());
    if (document) {
        EXPECT_EQ(document->base->time, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Literals, WholeNumbers, testing::ValuesIn(numberCases), [](const auto &info) {
    std::string name = std::to_string(info.index) + "_" + info.param.literal;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
});

// Guarding the negative bound must not touch anything but such number literals.
TEST(WholeNumbers, OverflowLookalikesElsewhereAreUntouched) {
    const QByteArray body =
        R"({"n":-9223372036854775809,"e":1e-9223372036854775809,"code":-9223372036854775808,
        "message":"a\"-9223372036854775809\\","data":{"low":{"price":"-9223372036854775809"},
        "standard":{"price":"2"},"fast":{"price":"3"}}})";
    const auto decoded = decodeGasPriceReply(QByteArray(body).replace(R"("e":1e-9223372036854775809,)", ""));
    ASSERT_TRUE(std::holds_alternative<ZelkResult<EthereumOracleGasPrice>>(decoded));
    const auto &envelope = std::get<ZelkResult<EthereumOracleGasPrice>>(decoded);
    EXPECT_EQ(envelope.code, int64Min);
    EXPECT_EQ(envelope.message, R"(a"-9223372036854775809\)");
    EXPECT_EQ(envelope.data->low.price, "-9223372036854775809");
    // An exponent this large is no number at all, with or without the guard.
    EXPECT_TRUE(std::holds_alternative<DecodeError>(decodeGasPriceReply(body)));
}

} // namespace
