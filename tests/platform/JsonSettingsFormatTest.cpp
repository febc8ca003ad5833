#include "platform/JsonSettingsFormat.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray written(const QSettings::SettingsMap &map) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(JsonSettingsFormat::write(buffer, map));
    return buffer.data();
}

bool readBack(const QByteArray &data, QSettings::SettingsMap &map) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return JsonSettingsFormat::read(buffer, map);
}

} // namespace

TEST(JsonSettingsFormat, RejectsDocumentsThatAreNotOneObject) {
    const char *documents[] = {"{", "{\"1\": ", "[]", "\"text\"", "null", "56", "\xff\xfe{}", "{} {}"};
    for (const char *document : documents) {
        SCOPED_TRACE(document);
        QSettings::SettingsMap map;
        EXPECT_FALSE(readBack(document, map));
        EXPECT_TRUE(map.isEmpty());
    }
}

TEST(JsonSettingsFormat, WritesARecordAsOneIndentedObject) {
    const QVariantMap record{{"gasPriceKey", QVariantMap{{"low", "1"}, {"standard", ""}, {"fast", "3"}}},
                             {"tokenPriceKey", "2.5"},
                             {"sysTime", ""}};
    const QByteArray expected = R"({
    "56": {
        "gasPriceKey": {
            "fast": "3",
            "low": "1",
            "standard": ""
        },
        "sysTime": "",
        "tokenPriceKey": "2.5"
    },
    "selectedKey": "56"
}
)";
    EXPECT_EQ(written({{JsonSettingsFormat::settingsKey("56"), record},
                       {JsonSettingsFormat::settingsKey("selectedKey"), "56"}}),
              expected);
}

TEST(JsonSettingsFormat, KeysArePercentEncodedAndComeBackWhole) {
    struct Case {
        QString fileKey;
        QString settingsKey;
    };
    const Case cases[] = {
        {"1", "1"},
        {"selectedKey", "selectedKey"},
        {"azAZ09-._~", "azAZ09-._~"},
        {"", "%"},
        {"%", "%25"},
        {"a/b", "a%2Fb"},
        {"/", "%2F"},
        {"a b", "a%20b"},
        {"\\", "%5C"},
        {"ü€", "%C3%BC%E2%82%AC"},
        {"key=value", "key%3Dvalue"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fileKey.toStdString());
        EXPECT_EQ(JsonSettingsFormat::settingsKey(c.fileKey), c.settingsKey);
        EXPECT_EQ(JsonSettingsFormat::fileKey(c.settingsKey), c.fileKey);
    }
}

TEST(JsonSettingsFormat, NeverOverwritesACorruptFileItCouldNotMoveAside) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/defaults.json";
    const auto writeFile = [](const QString &name, const QByteArray &data) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    };
    writeFile(path, "{corrupt");
    QFile corrupt(path);
    ASSERT_TRUE(corrupt.open(QIODevice::ReadOnly));
    // Replaced after it was opened: the file that was read is no longer there to be moved aside.
    writeFile(path + ".new", R"({"selectedKey": "56"})");
    ASSERT_EQ(std::rename(QFile::encodeName(path + ".new"), QFile::encodeName(path)), 0);

    QSettings::SettingsMap map;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(JsonSettingsFormat::read(corrupt, map));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.corrupt-*"}).isEmpty());

    QSaveFile refused(path);
    ASSERT_TRUE(refused.open(QIODevice::WriteOnly));
    EXPECT_FALSE(JsonSettingsFormat::write(refused, {{"k", "v"}}));
    refused.cancelWriting();

    QFile good(path);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    EXPECT_TRUE(JsonSettingsFormat::read(good, map));
    QSaveFile allowed(path);
    ASSERT_TRUE(allowed.open(QIODevice::WriteOnly));
    EXPECT_TRUE(JsonSettingsFormat::write(allowed, map));
}
