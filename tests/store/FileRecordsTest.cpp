// The store over the real file-backed user defaults: values an outside edit left of another JSON kind.
#include "platform/SettingsUserDefaults.h"
#include "store/GasStoreService.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class FileRecords : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { UserDefaults::setStandard(nullptr); }

    QString file() const { return dir.path() + "/defaults.json"; }

    void writeFile(const QByteArray &json) const {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(json);
    }

    QJsonObject fileObject() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }

    QTemporaryDir dir;
};

TEST_F(FileRecords, ATextSavedOverANumberTakesEffect) {
    writeFile(R"({"selectedKey": 56, "1": {"gasPriceKey": {"low": "", "standard": "", "fast": ""},
                  "tokenPriceKey": 5, "sysTime": ""}})");
    SettingsUserDefaults defaults(file());
    UserDefaults::setStandard(&defaults);
    ASSERT_EQ(GasStoreService::selectedChainId(), "1");

    // What choosing BNBChain stores.
    defaults.setValue(QStringLiteral("selectedKey"), QStringLiteral("56"));
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(GasStoreService::selectedChainId(), "56");

    GasStoreService::saveTokenPrice(QStringLiteral("5"), QStringLiteral("1"));
    EXPECT_EQ(GasStoreService::storedTokenPrice(QStringLiteral("1")), "5");

    SettingsUserDefaults reopened(file());
    UserDefaults::setStandard(&reopened);
    EXPECT_EQ(GasStoreService::selectedChainId(), "56");
    EXPECT_EQ(GasStoreService::storedTokenPrice(QStringLiteral("1")), "5");
    EXPECT_EQ(fileObject().value("1").toObject().value("tokenPriceKey"), QJsonValue("5"));
}

} // namespace
