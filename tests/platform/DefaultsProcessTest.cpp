// The file store as seen by several processes: restarts, concurrent writers, the lock, and writers
// killed in the middle of a save.
#include "AlternatingRecords.h"
#include "platform/SettingsUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <random>
#include <sys/resource.h>

namespace {

struct ToolResult {
    int exitCode = -1;
    QString output;
};

ToolResult runTool(const QStringList &arguments) {
    QProcess process;
    process.start(DEFAULTS_TOOL, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

// Started with set-on-input; has read the file once it answers "ready".
std::unique_ptr<QProcess> startWaitingWriter(const QString &file, const QString &key, const QString &json) {
    auto process = std::make_unique<QProcess>();
    process->start(DEFAULTS_TOOL, {file, "set-on-input", key, json});
    EXPECT_TRUE(process->waitForReadyRead(60000));
    EXPECT_EQ(process->readLine(), "ready\n");
    return process;
}

class DefaultsProcessTest : public testing::Test {
protected:
    QString file() const { return dir.path() + "/defaults.json"; }

    QJsonObject fileObject() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }

    QTemporaryDir dir;
};

TEST_F(DefaultsProcessTest, ValuesSurviveARestart) {
    struct Case {
        const char *key;
        const char *json;
        const char *readBack;
    };
    const Case cases[] = {
        {"selectedKey", R"("137")", "text \"137\"\n"},
        {"56",
         R"({"gasPriceKey":{"fast":"31.25","low":"20.5","standard":"25"},"sysTime":"","tokenPriceKey":"--"})",
         R"(dictionary {"gasPriceKey":{"fast":"31.25","low":"20.5","standard":"25"},"sysTime":"","tokenPriceKey":"--"})"
         "\n"},
        {"1", R"({"gasPriceKey":{"low":""},"extra":{"deep":{"er":"x"}}})",
         R"(dictionary {"extra":{"deep":{"er":"x"}},"gasPriceKey":{"low":""}})"
         "\n"},
        {"a/b", R"("")", "text \"\"\n"},
        {"number", "56", "other 56\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        const ToolResult saved = runTool({file(), "set", c.key, c.json});
        EXPECT_EQ(saved.exitCode, 0);
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(runTool({file(), "get", c.key}).output, c.readBack);
    }
    EXPECT_EQ(runTool({file(), "get", "137"}).output, "missing\n");
}

TEST_F(DefaultsProcessTest, WritersOfDifferentKeysMerge) {
    ASSERT_EQ(runTool({file(), "set", "selectedKey", R"("1")"}).exitCode, 0);

    // Both have read the file before either writes.
    auto first = startWaitingWriter(file(), "56", R"({"tokenPriceKey":"300"})");
    auto second = startWaitingWriter(file(), "137", R"({"tokenPriceKey":"0.9"})");
    for (QProcess *writer : {first.get(), second.get()}) {
        writer->write("\n");
        writer->closeWriteChannel();
        ASSERT_TRUE(writer->waitForFinished(60000));
        EXPECT_EQ(writer->exitCode(), 0);
    }

    EXPECT_EQ(fileObject().toVariantMap(), QVariantMap({{"selectedKey", "1"},
                                                        {"56", QVariantMap{{"tokenPriceKey", "300"}}},
                                                        {"137", QVariantMap{{"tokenPriceKey", "0.9"}}}}));
}

TEST_F(DefaultsProcessTest, ASaveWaitsForTheLockHolder) {
    ASSERT_EQ(runTool({file(), "set", "selectedKey", R"("1")"}).exitCode, 0);
    auto writer = startWaitingWriter(file(), "selectedKey", R"("56")");

    QLockFile lock(file() + ".lock");
    ASSERT_TRUE(lock.tryLock(0));
    writer->write("\n");
    writer->closeWriteChannel();
    // Not a speed check: while the lock is held the writer must not finish, however long we wait.
    EXPECT_FALSE(writer->waitForFinished(1000));
    EXPECT_EQ(fileObject().value("selectedKey").toString(), "1");

    lock.unlock();
    ASSERT_TRUE(writer->waitForFinished(60000));
    EXPECT_EQ(writer->exitCode(), 0);
    EXPECT_EQ(fileObject().value("selectedKey").toString(), "56");
}

TEST_F(DefaultsProcessTest, ASaveIsNotHeldUpByLockFilesOfKilledWriters) {
    QProcess gone;
    gone.start("/bin/true");
    const qint64 deadPid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(60000));
    const QByteArray deadWritersLock = QByteArray::number(deadPid) + "\ndefaults_tool\n\n";
    const struct {
        const char *name;
        QByteArray lock;
        const char *rmlock;   // nullptr: none
        const char *selected; // a new value each time: an unchanged one is not saved at all
    } cases[] = {
        {"killed before writing its lock", "", nullptr, R"("56")"},
        {"killed holding its lock", deadWritersLock, nullptr, R"("137")"},
        {"killed while removing a stale lock", deadWritersLock, "", R"("250")"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile lock(file() + ".lock");
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(c.lock);
        lock.close();
        if (c.rmlock) {
            QFile rmlock(file() + ".lock.rmlock");
            ASSERT_TRUE(rmlock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }

        // QLockFile gives up on a lock it cannot tell is stale after 30 s; this wait is a freeze guard.
        QProcess writer;
        writer.start(DEFAULTS_TOOL, {file(), "set", "selectedKey", c.selected});
        ASSERT_TRUE(writer.waitForFinished(15000));
        EXPECT_EQ(writer.exitCode(), 0);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"defaults.json"});
    }
}

// QLockFile removes a stale lock only under a lock of its own, which it cannot write on a full disk:
// it then waits for ever, and so would every save of the program.
TEST_F(DefaultsProcessTest, ALockOfAKilledWriterDoesNotFreezeASaveOnAFullDisk) {
    ASSERT_EQ(runTool({file(), "set", "selectedKey", R"("1")"}).exitCode, 0);
    QProcess gone;
    gone.start("/bin/true");
    const qint64 deadPid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(60000));
    QFile lock(file() + ".lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.write(QByteArray::number(deadPid) + "\ndefaults_tool\n\n");
    lock.close();

    QProcess writer;
    writer.setChildProcessModifier([] {
        // Every write fails, as on a full disk; creating and removing files still works.
        const rlimit none{0, 0};
        setrlimit(RLIMIT_FSIZE, &none);
        std::signal(SIGXFSZ, SIG_IGN);
    });
    writer.start(DEFAULTS_TOOL, {file(), "set", "selectedKey", R"("56")"});
    ASSERT_TRUE(writer.waitForFinished(15000)); // a freeze guard, not a speed check
    EXPECT_EQ(writer.readAllStandardOutput().split('\n').value(0), "not synchronized");
    EXPECT_EQ(fileObject().value("selectedKey").toString(), "1");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"defaults.json"});
}

TEST_F(DefaultsProcessTest, AWriterKilledMidSaveLeavesAWholeFile) {
    const QJsonObject records[] = {QJsonObject::fromVariantMap(alternatingRecord(0)),
                                   QJsonObject::fromVariantMap(alternatingRecord(1))};
    ASSERT_EQ(runTool({file(), "set", "marker", R"("kept")"}).exitCode, 0);
    {
        SettingsUserDefaults defaults(file());
        defaults.setValue("1", alternatingRecord(0));
        ASSERT_TRUE(defaults.synchronize());
    }

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayMs(0, 15);
    int killedWhileSaving = 0;
    int killedAfterRenameBeforeReport = 0;
    int emptyLockFiles = 0;
    int strayTemporaryFiles = 0;
    for (int kill = 0; kill < 200; ++kill) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", kill " << kill);
        QProcess writer;
        writer.start(DEFAULTS_TOOL, {file(), "alternate", "1"});
        // Kill only once saving is under way, however slowly the writer starts.
        ASSERT_TRUE(writer.waitForReadyRead(60000));
        QThread::msleep(delayMs(random));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished(60000));
        const QList<QByteArray> reports = writer.readAllStandardOutput().split('\n');
        const auto saves = std::count(reports.begin(), reports.end(), "saved");
        ASSERT_EQ(std::count(reports.begin(), reports.end(), "not saved"), 0);
        ASSERT_GT(saves, 0);

        // Either the last reported save or the one that was under way, whole.
        const QJsonObject saved = fileObject();
        ASSERT_EQ(saved.keys(), QStringList({"1", "marker"}));
        ASSERT_EQ(saved.value("marker").toString(), "kept");
        const QJsonObject &lastReported = records[(saves - 1) % 2];
        const QJsonObject &underWay = records[saves % 2];
        const QJsonObject record = saved.value("1").toObject();
        ASSERT_TRUE(record == lastReported || record == underWay);
        killedAfterRenameBeforeReport += record == underWay;

        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        killedWhileSaving += left.contains("defaults.json.lock");
        emptyLockFiles += left.contains("defaults.json.lock") && QFileInfo(file() + ".lock").size() == 0;
        for (const QString &name : left) {
            if (name == "defaults.json" || name.startsWith("defaults.json.lock"))
                continue;
            // The save's temporary file, given a name just before the rename.
            ASSERT_TRUE(QRegularExpression("^defaults\\.json\\.[A-Za-z0-9]{6}$").match(name).hasMatch())
                << name.toStdString();
            ++strayTemporaryFiles;
            QFile::remove(dir.path() + "/" + name);
        }
    }
    std::cout << "200 kills: " << killedWhileSaving << " while holding the lock (" << emptyLockFiles
              << " of them before the lock file was written), " << killedAfterRenameBeforeReport
              << " after the rename of a save before its report, " << strayTemporaryFiles
              << " left a temporary file\n";

    // A lock left by a killed writer does not block the next one for good.
    EXPECT_EQ(runTool({file(), "set", "marker", R"("still writable")"}).exitCode, 0);
    EXPECT_EQ(fileObject().value("marker").toString(), "still writable");
}

} // namespace
