#include "platform/VariantMapJson.h"

#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

QByteArray reference(const QVariantMap &map, QJsonDocument::JsonFormat format) {
    return QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(format);
}

QString everyPlainCharacter() {
    QString text;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        if (c != u'"' && c != u'\\')
            text.append(QChar(c));
    return text;
}

} // namespace

TEST(VariantMapJson, WritesWhatQJsonDocumentWrites) {
    const QVariantMap record{{"gasPriceKey", QVariantMap{{"low", "12.5"}, {"standard", ""}, {"fast", "--"}}},
                             {"tokenPriceKey", "2577.52680"},
                             {"sysTime", "1796782245.036"}};
    struct Case {
        const char *name;
        QVariantMap map;
    };
    const Case cases[] = {
        {"empty", {}},
        {"a record", record},
        {"the whole store", {{"1", record}, {"56", record}, {"selectedKey", "56"}}},
        {"an empty nested map", {{"1", QVariantMap{}}, {"2", "x"}}},
        {"maps three deep", {{"a", QVariantMap{{"b", QVariantMap{{"c", QVariantMap{{"d", "e"}}}}}}}}},
        {"empty and null texts", {{"empty", QString("")}, {"null", QString()}}},
        {"every plain character", {{everyPlainCharacter(), everyPlainCharacter()}}},
        {"keys in ASCII order", {{"b", "1"}, {"B", "2"}, {"_", "3"}, {"~", "4"}, {"1", "5"}, {"", "6"}}},
        {"a quote", {{"a", "say \"hi\""}}},
        {"a backslash in a key", {{"a\\b", "x"}}},
        {"controls", {{"a", "line\nfeed\ttab\x01\x1f"}}},
        {"delete", {{"a", "\x7f"}}},
        {"non-ASCII", {{"ü", "€"}, {"a", QString::fromUtf8("\xf0\x9f\x98\x80")}}},
        {"a lone surrogate", {{"a", QString(QChar(0xd800))}}},
        {"keys beyond the BMP and after it",
         {{QString::fromUtf8("\xef\xbf\xbd"), "1"}, {QString::fromUtf8("\xf0\x9f\x98\x80"), "2"}}},
        {"a number", {{"a", 1}, {"b", "x"}}},
        {"a fraction", {{"a", 2.5}}},
        {"a boolean", {{"a", true}}},
        {"nothing", {{"a", QVariant()}}},
        {"a list", {{"a", QStringList{"x", "y"}}}},
        {"bytes", {{"a", QByteArray("x")}}},
        {"escaping deep inside", {{"1", record}, {"2", QVariantMap{{"x", QVariantMap{{"y", "\"z\""}}}}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto format : {QJsonDocument::Compact, QJsonDocument::Indented})
            EXPECT_EQ(VariantMapJson::toJson(c.map, format), reference(c.map, format)) << int(format);
    }
}
