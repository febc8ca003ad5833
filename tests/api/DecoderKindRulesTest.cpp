// Every JSON kind on every field of both replies: what each field accepts, and that a rejected kind
// fails the whole reply at that field.
#include "DecoderFixtures.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <set>
#include <string>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

enum class Rule {
    requiredString,
    optionalString,
    requiredInt,
    optionalInt,
    requiredRecord,
    optionalRecord,
    list
};

struct Sample {
    const char *name;
    std::optional<QJsonValue> value; // nothing: the key is left out
};

const Sample samples[] = {
    {"missing", std::nullopt},       {"null", QJsonValue(QJsonValue::Null)}, {"text", QJsonValue(u"abc"_s)},
    {"digits", QJsonValue(u"42"_s)}, {"emptyText", QJsonValue(u""_s)},       {"integer", QJsonValue(42)},
    {"negative", QJsonValue(-7)},    {"fraction", QJsonValue(1.5)},          {"boolean", QJsonValue(true)},
    {"emptyArray", QJsonArray()},    {"emptyObject", QJsonObject()},
};

const std::set<std::string> &accepted(Rule rule) {
    static const std::set<std::string> requiredString{"text", "digits", "emptyText"};
    static const std::set<std::string> optionalString{"missing", "null", "text", "digits", "emptyText"};
    static const std::set<std::string> requiredInt{"integer", "negative"};
    static const std::set<std::string> optionalInt{"missing", "null", "integer", "negative"};
    static const std::set<std::string> none{};
    static const std::set<std::string> absent{"missing", "null"};
    static const std::set<std::string> list{"emptyArray"};
    switch (rule) {
    case Rule::requiredString:
        return requiredString;
    case Rule::optionalString:
        return optionalString;
    case Rule::requiredInt:
        return requiredInt;
    case Rule::optionalInt:
        return optionalInt;
    case Rule::requiredRecord:
        return none; // every record has a required member, so even {} fails
    case Rule::optionalRecord:
        return absent;
    case Rule::list:
        return list;
    }
    return none;
}

enum class Reply { gasPrice, tokenPrice };

struct Field {
    Reply reply;
    const char *path;
    Rule rule;
};

const Field fields[] = {
    {Reply::gasPrice, "code", Rule::requiredInt},
    {Reply::gasPrice, "message", Rule::optionalString},
    {Reply::gasPrice, "data", Rule::optionalRecord},
    {Reply::gasPrice, "data.low", Rule::requiredRecord},
    {Reply::gasPrice, "data.standard", Rule::requiredRecord},
    {Reply::gasPrice, "data.fast", Rule::requiredRecord},
    {Reply::gasPrice, "data.base", Rule::optionalRecord},
    {Reply::gasPrice, "data.low.price", Rule::requiredString},
    {Reply::gasPrice, "data.low.time", Rule::optionalInt},
    {Reply::gasPrice, "data.standard.price", Rule::requiredString},
    {Reply::gasPrice, "data.standard.time", Rule::optionalInt},
    {Reply::gasPrice, "data.fast.price", Rule::requiredString},
    {Reply::gasPrice, "data.fast.time", Rule::optionalInt},
    {Reply::gasPrice, "data.base.price", Rule::requiredString},
    {Reply::gasPrice, "data.base.time", Rule::optionalInt},
    {Reply::tokenPrice, "code", Rule::requiredInt},
    {Reply::tokenPrice, "message", Rule::optionalString},
    {Reply::tokenPrice, "data", Rule::optionalRecord},
    {Reply::tokenPrice, "data.prices", Rule::list},
    {Reply::tokenPrice, "data.prices[0].chain", Rule::requiredRecord},
    {Reply::tokenPrice, "data.prices[0].tokens", Rule::list},
    {Reply::tokenPrice, "data.prices[0].chain.chain_type", Rule::requiredString},
    {Reply::tokenPrice, "data.prices[0].chain.chain_id", Rule::optionalString},
    {Reply::tokenPrice, "data.prices[0].tokens[0].symbol", Rule::requiredString},
    {Reply::tokenPrice, "data.prices[0].tokens[0].address", Rule::optionalString},
    {Reply::tokenPrice, "data.prices[0].tokens[0].last_price", Rule::optionalString},
    {Reply::tokenPrice, "data.prices[0].tokens[0].percent_change", Rule::optionalString},
    {Reply::tokenPrice, "data.prices[0].tokens[0].exchange", Rule::optionalString},
    // A bad member far behind a well-formed first token still fails the reply.
    {Reply::tokenPrice, "data.prices[1].chain.chain_type", Rule::requiredString},
    {Reply::tokenPrice, "data.prices[1].tokens[1].symbol", Rule::requiredString},
    {Reply::tokenPrice, "data.prices[1].tokens[1].last_price", Rule::optionalString},
};

void PrintTo(const Field &field, std::ostream *out) {
    *out << field.path;
}

void PrintTo(const Sample &sample, std::ostream *out) {
    *out << sample.name;
}

// Decodes and, when accepted, encodes again, so a value taken wrongly shows up in the comparison.
std::variant<QJsonObject, DecodeError> roundTrip(Reply reply, const QByteArray &body) {
    const auto reencode = [](auto &&decoded) -> std::variant<QJsonObject, DecodeError> {
        if (auto *error = std::get_if<DecodeError>(&decoded))
            return *error;
        return std::get<0>(decoded).encode();
    };
    return reply == Reply::gasPrice ? reencode(decodeGasPriceReply(body))
                                    : reencode(decodeTokenPriceReply(body));
}

class KindRules : public testing::TestWithParam<std::tuple<Field, Sample>> {};

TEST_P(KindRules, FieldAcceptsOnlyItsKinds) {
    const auto &[field, sample] = GetParam();
    const QByteArray fixture = field.reply == Reply::gasPrice ? gasPriceBody : tokenPriceBody;
    const QJsonValue mutated = withMember(jsonObject(fixture), QString::fromLatin1(field.path), sample.value);

    const auto result = roundTrip(field.reply, bytes(mutated.toObject()));

    if (accepted(field.rule).count(sample.name)) {
        ASSERT_TRUE(std::holds_alternative<QJsonObject>(result))
            << std::get<DecodeError>(result).path.toStdString();
        EXPECT_EQ(QJsonValue(std::get<QJsonObject>(result)), withoutNulls(mutated));
    } else {
        ASSERT_TRUE(std::holds_alternative<DecodeError>(result));
        EXPECT_TRUE(std::get<DecodeError>(result).path.startsWith(QString::fromLatin1(field.path)))
            << std::get<DecodeError>(result).path.toStdString();
    }
}

std::string caseName(const testing::TestParamInfo<std::tuple<Field, Sample>> &info) {
    const auto &[field, sample] = info.param;
    std::string name =
        std::string(field.reply == Reply::gasPrice ? "gas_" : "token_") + field.path + "_" + sample.name;
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(AllFields, KindRules,
                         testing::Combine(testing::ValuesIn(fields), testing::ValuesIn(samples)), caseName);

} // namespace
