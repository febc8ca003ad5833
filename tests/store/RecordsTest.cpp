#include "store/GasStoreService.h"

#include "RecordingUserDefaults.h"

#include <QVariantMap>

#include <gtest/gtest.h>

using GSS = GasStoreService;

namespace {
const QStringList tableOrder{"1", "56", "137", "250", "66", "128"};

QVariantMap gas(const QString &low, const QString &standard, const QString &fast) {
    return {{"low", low}, {"standard", standard}, {"fast", fast}};
}

QVariantMap record(const QVariantMap &gasPrices, const QString &token, const QString &time) {
    return {{"gasPriceKey", gasPrices}, {"tokenPriceKey", token}, {"sysTime", time}};
}

const QVariantMap emptyRecord = record(gas("", "", ""), "", "");

QStringList readAll(const QString &chainId) {
    // The combined read first, so that it is the one that meets records still to be created.
    const auto together = GSS::storedPrices(chainId);
    const auto prices = GSS::storedGasPrice(chainId);
    const QStringList all{prices.low, prices.standard, prices.fast, GSS::storedTokenPrice(chainId),
                          GSS::storedSysTime(chainId)};
    EXPECT_EQ(QStringList({together.gasPrices.low, together.gasPrices.standard, together.gasPrices.fast,
                           together.tokenPrice}),
              all.mid(0, 4))
        << "storedPrices reads what storedGasPrice and storedTokenPrice read";
    return all;
}
} // namespace

TEST(Records, FirstReadCreatesAllSixInTableOrderSilently) {
    RecordingUserDefaults defaults;
    testing::internal::CaptureStdout();
    EXPECT_EQ(readAll("56"), QStringList({"--", "--", "--", "--", "--"}));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(defaults.writtenKeys, tableOrder);
    EXPECT_EQ(defaults.synchronizeCount, 0);
    for (const QString &id : tableOrder)
        EXPECT_EQ(defaults.values.value(id).toMap(), emptyRecord) << id.toStdString();
}

TEST(Records, OnlyNonDictionariesAreReplaced) {
    const QVariantMap odd{{"note", "kept"}};
    const QVariant cases[] = {QVariant(QStringLiteral("garbage")), QVariant(250),
                              QVariant(QVariantList{1, 2}), QVariant(QStringLiteral(""))};
    for (const QVariant &stored : cases) {
        SCOPED_TRACE(stored.toString().toStdString());
        RecordingUserDefaults defaults;
        defaults.values.insert("250", stored);
        defaults.values.insert("66", odd);
        EXPECT_EQ(readAll("250"), QStringList({"--", "--", "--", "--", "--"}));
        EXPECT_EQ(defaults.values.value("250").toMap(), emptyRecord);
        EXPECT_EQ(defaults.values.value("66").toMap(), odd);
        EXPECT_FALSE(defaults.writtenKeys.contains("66"));
    }
}

TEST(Records, OnlyTheEmptyTextReadsAsMissing) {
    struct Case {
        const char *name;
        QVariant stored; // under "tokenPriceKey" and "low"; invalid: entry absent
        const char *read;
    };
    const Case cases[] = {
        {"empty", QStringLiteral(""), "--"},
        {"dashes", QStringLiteral("--"), "--"},
        {"zero", QStringLiteral("0"), "0"},
        {"blank", QStringLiteral(" "), " "},
        {"absent", QVariant(), "--"},
        {"number", QVariant(5), "--"},
        {"dictionary", QVariantMap{{"a", "b"}}, "--"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MemoryUserDefaults defaults;
        QVariantMap gasPrices = gas("", "7", "8");
        QVariantMap stored = record(gasPrices, "", "9");
        gasPrices.remove("low");
        stored.remove("tokenPriceKey");
        if (c.stored.isValid()) {
            gasPrices.insert("low", c.stored);
            stored.insert("tokenPriceKey", c.stored);
        }
        stored.insert("gasPriceKey", gasPrices);
        defaults.values.insert("1", stored);
        EXPECT_EQ(readAll("1"), QStringList({c.read, "7", "8", c.read, "9"}));
    }
}

TEST(Records, SavesChangeOneEntryAndSynchronizeAtOnce) {
    RecordingUserDefaults defaults;
    QVariantMap extraGas = gas("1", "2", "3");
    extraGas.insert("base", "0.5");
    QVariantMap start = record(extraGas, "300", "1700000000.0");
    start.insert("extra", "kept");
    for (const QString &id : tableOrder)
        defaults.values.insert(id, start);

    testing::internal::CaptureStdout();
    GSS::saveSysTime("1700000005.5", "56");
    GSS::saveTokenPrice("", "56");
    EXPECT_EQ(defaults.synchronizeCount, 2);
    QVariantMap expected = record(extraGas, "", "1700000005.5");
    expected.insert("extra", "kept");
    EXPECT_EQ(defaults.values.value("56").toMap(), expected) << "inner extra survives single-value saves";

    GSS::saveGasPrice("20.5", "25", "31.25", "56");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(defaults.synchronizeCount, 3);
    expected.insert("gasPriceKey", gas("20.5", "25", "31.25"));
    EXPECT_EQ(defaults.values.value("56").toMap(), expected) << "the gas dictionary is replaced whole";
    EXPECT_EQ(readAll("56"), QStringList({"20.5", "25", "31.25", "--", "1700000005.5"}));
    for (const QString &id : tableOrder) {
        if (id != "56") {
            EXPECT_EQ(defaults.values.value(id).toMap(), start) << id.toStdString();
        }
    }

    GSS::saveTokenPrice("--", "56");
    EXPECT_EQ(GSS::storedTokenPrice("56"), "--");
    EXPECT_EQ(defaults.values.value("56").toMap().value("tokenPriceKey"), "--");
}

TEST(Records, SavesIgnoreIdsOutsideTheTable) {
    for (const char *id : {"999", "", "selectedKey", "01"}) {
        SCOPED_TRACE(id);
        RecordingUserDefaults defaults;
        defaults.values.insert("selectedKey", "56");
        testing::internal::CaptureStdout();
        GSS::saveValue("x", id, "tokenPriceKey");
        GSS::saveGasPrice("1", "2", "3", id);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(defaults.synchronizeCount, 0);
        EXPECT_EQ(defaults.values.value("selectedKey"), "56");
        EXPECT_FALSE(defaults.writtenKeys.contains(id));
    }
}

TEST(Records, GasSavePrintsEveryRecordInTableOrder) {
    MemoryUserDefaults defaults;
    defaults.values.insert("250", record(gas("a\nb", "", ""), "", "")); // one line even for a line feed
    testing::internal::CaptureStdout();
    GSS::saveGasPrice("1", "2", "3", "137");
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());

    const QString empty =
        R"({"gasPriceKey":{"fast":"","low":"","standard":""},"sysTime":"","tokenPriceKey":""})";
    const QStringList expected{
        "1: save gasPrice:" + empty,
        "56: save gasPrice:" + empty,
        R"(137: save gasPrice:{"gasPriceKey":{"fast":"3","low":"1","standard":"2"},"sysTime":"","tokenPriceKey":""})",
        R"(250: save gasPrice:{"gasPriceKey":{"fast":"","low":"a\nb","standard":""},"sysTime":"","tokenPriceKey":""})",
        "66: save gasPrice:" + empty,
        "128: save gasPrice:" + empty,
        "",
    };
    EXPECT_EQ(out.split('\n'), expected);
}
