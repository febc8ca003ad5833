// "code" and "time" are read exactly: whole values within the signed 64-bit range, nothing else.
#include "DecoderFixtures.h"

#include "api/JsonNumberText.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cctype>
#include <limits>

namespace {

struct NumberCase {
    const char *literal;
    std::optional<std::int64_t> expected; // nothing: the reply fails
    bool notJson = false;                 // Qt refuses the number, and so the whole body
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
    {"1e400", std::nullopt, true},
    {"1e-400", std::nullopt, true},
    {"1e999999999999999999999999", std::nullopt, true},
    // Whole and in range however spelt; judged from the text, not through a double.
    {"9223372036854775807.0", int64Max},
    {"-9223372036854775808.000", int64Min},
    {"9007199254740993.0", 9007199254740993},
    {"9007199254740993e0", 9007199254740993},
    {"922337203685477580.7e1", int64Max},
    {"-0.9223372036854775808e19", int64Min},
    {"1.", 1},
    {"2.e3", 2000},
    {"0e999999999999", 0},
    {"0.0e-99999", 0},
    {"120e-1", 12},
    {"1230000e-4", 123},
    // A fraction, or outside the range, however close a double comes to a whole number in range.
    {"-9223372036854775809.0", std::nullopt},
    {"-9223372036854775808.5", std::nullopt},
    {"-9223372036854775809e0", std::nullopt},
    {"-9.223372036854775809e18", std::nullopt},
    {"9223372036854775807.5", std::nullopt},
    {"9007199254740993.5", std::nullopt},
    {"0.99999999999999999999", std::nullopt},
    {"-0.99999999999999999999", std::nullopt},
    {"12345678901234567.0000000000000000001", std::nullopt},
    {"1e-20", std::nullopt},
    {"123e-2", std::nullopt},
    {"-.5", std::nullopt},
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
        EXPECT_EQ(std::get<DecodeError>(decoded).path, c.notJson ? "" : "code");
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

// The judgement works on the text alone: exponents and runs of zeros of any length cost no more than
// reading them, and never reach a double.
TEST(ExactNumberText, JudgesLongTextsExactly) {
    const std::string million(1'000'000, '0');
    struct Case {
        std::string text;
        std::optional<std::int64_t> expected;
    };
    const Case cases[] = {
        {"1e" + std::string(1'000'000, '9'), std::nullopt},
        {"1e-" + std::string(1'000'000, '9'), std::nullopt},
        {"0e" + std::string(1'000'000, '9'), 0},
        {"0." + million + "1e1000001", 1},
        {"0." + million + "1e1000000", std::nullopt},
        {"-1" + million + "e-1000000", -1},
        {"1" + million, std::nullopt},
        {"-9223372036854775808" + million + "e-1000000", int64Min},
        {"9223372036854775808" + million + "e-1000000", std::nullopt},
        {"5." + million, 5},
        {"", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"01", std::nullopt},
        {"1.5.", std::nullopt},
        {" 1", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(JsonNumberText::exactInt64(c.text), c.expected);
    }
}

// The rewrite before parsing changes no document's fate: what Qt refused it still refuses, what it read
// it still reads, and nothing inside strings or around a number that is no number moves.
TEST(ExactNumberText, TheRewriteKeepsEveryDocumentsShape) {
    struct Case {
        const char *body;
        const char *rewritten; // nullptr: left as it is
    };
    const Case cases[] = {
        {R"({"code":0})", nullptr},
        {R"({"code":2.0,"t":[1e3, -0.0 ,1.5]})", R"({"code":2,"t":[1000, 0 ,0.5]})"},
        {R"({"s":"2.0 \" 1e3 \\","n":2.0})", R"({"s":"2.0 \" 1e3 \\","n":2})"},
        {R"([-9223372036854775809,9223372036854775807,-9223372036854775808])",
         R"([0.5,9223372036854775807,-9223372036854775808])"},
        {"[1.0.5]", nullptr},
        {"[1e3e5]", nullptr},
        {"[1.0-1]", nullptr},
        {"[1 2.0]", nullptr},
        {"[true2.0]", nullptr},
        {"[2.0", nullptr},
        {"[1e400,2.0]", "[1e400,2]"},
        {"[2.0\n]", "[2\n]"},
        {"[2.0\r\n]", "[2\r\n]"},
        {"[.5, 1., -.0]", "[0.5, 1, 0]"},
        {"[1e, 2.0]", "[1e, 2]"},
        {"{\"a\":2.0}x", "{\"a\":2}x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        const QByteArray body(c.body);
        const std::optional<QByteArray> rewritten = JsonNumberText::withExactNumbers(body);
        EXPECT_EQ(rewritten.value_or("(unchanged)"), c.rewritten ? QByteArray(c.rewritten) : "(unchanged)");
        QJsonParseError before{};
        QJsonParseError after{};
        QJsonDocument::fromJson(body, &before);
        QJsonDocument::fromJson(rewritten.value_or(body), &after);
        EXPECT_EQ(before.error == QJsonParseError::NoError, after.error == QJsonParseError::NoError);
    }
}

} // namespace
