#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QJsonObject parsed(const QByteArray &json) {
    return QJsonDocument::fromJson(json).object();
}

TEST(QuitProcess, QuitFromThePopoverEndsNormallyWithEveryValueAlreadyOnDisk) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/gweibar/defaults.json";
    QProcess tool;
    tool.start(QUIT_TOOL, {file});
    ASSERT_TRUE(tool.waitForFinished(60000)) << "quit_tool did not end";
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    QByteArray atQuit;
    for (const QByteArray &line : tool.readAllStandardOutput().split('\n')) {
        if (line.startsWith("on disk at quit: "))
            atQuit = line.mid(int(sizeof "on disk at quit: ") - 1);
    }
    const QJsonObject onDisk = parsed(atQuit);
    const QJsonObject expected{
        {"gasPriceKey", QJsonObject{{"low", "12"}, {"standard", "13.5"}, {"fast", "15"}}},
        {"tokenPriceKey", "1800.25"},
        {"sysTime", "1700000000.5"},
    };
    EXPECT_EQ(onDisk.value("1").toObject(), expected) << atQuit.toStdString();
    for (const char *other : {"56", "137", "250", "66", "128"})
        EXPECT_TRUE(onDisk.value(other).isObject()) << other;

    // Nothing was left for the teardown to write.
    QFile after(file);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(parsed(after.readAll()), onDisk);
}

} // namespace
