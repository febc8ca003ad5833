#include "platform/SettingsUserDefaults.h"
#include "ScopedPermissionChecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QVariantMap kRecord{{"gasPriceKey", QVariantMap{{"low", "20.5"}, {"standard", "25"}, {"fast", ""}}},
                          {"tokenPriceKey", "1834.27"},
                          {"sysTime", "1700000000.123"}};

mode_t mode(const QString &path) {
    struct stat info {};
    return stat(QFile::encodeName(path), &info) == 0 ? info.st_mode & 07777 : 0;
}

class SettingsUserDefaultsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    }

    QString directory() const { return home.path() + "/gweibar"; }
    QString file() const { return directory() + "/defaults.json"; }

    void writeFile(const QByteArray &data) const {
        QDir().mkpath(directory());
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    }

    QByteArray fileBytes() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QJsonObject fileObject() const { return QJsonDocument::fromJson(fileBytes()).object(); }

    QStringList asideFiles() const {
        return QDir(directory()).entryList({"defaults.json.corrupt-*"}, QDir::AllEntries | QDir::Hidden);
    }

    QTemporaryDir home;
};

TEST_F(SettingsUserDefaultsTest, StoresUnderTheUsersConfigDirectory) {
    SettingsUserDefaults defaults;
    EXPECT_EQ(defaults.filePath(), file());
    defaults.setValue("selectedKey", "56");
    ASSERT_TRUE(defaults.synchronize());

    EXPECT_EQ(mode(file()), 0600);
    EXPECT_EQ(mode(directory()), 0700);

    defaults.setValue("selectedKey", "137");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(mode(file()), 0600);
    EXPECT_EQ(fileObject().value("selectedKey").toString(), "137");
}

TEST_F(SettingsUserDefaultsTest, KeepsValuesAndKeysExactly) {
    struct Case {
        QString key;
        QVariant value;
    };
    const QVariantMap nested{{"outer", QVariantMap{{"inner", QVariantMap{{"deep", "x"}}}}},
                             {"", "empty key"}};
    const Case cases[] = {
        {"selectedKey", QString("137")},
        {"1", kRecord},
        {"56", QVariantMap{}},
        {"128", QString()},
        {"250", QString("--")},
        {"66", nested},
        {"a/b", QString("slash inside")},
        {"/b", QString("leading slash")},
        {"b", QString("not /b")},
        {"", QString("empty key")},
        {"A", QString("upper")},
        {"a", QString("lower")},
        {"ü €", QString("ü €")},
        {"long", QString(100000, 'x')},
    };

    SettingsUserDefaults defaults(file());
    for (const Case &c : cases)
        defaults.setValue(c.key, c.value);
    ASSERT_TRUE(defaults.synchronize());

    const QJsonObject saved = fileObject();
    EXPECT_EQ(saved.size(), std::size(cases));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        EXPECT_EQ(defaults.value(c.key), c.value);
        EXPECT_EQ(defaults.value(c.key).typeId(), c.value.typeId());
        EXPECT_EQ(saved.value(c.key).toVariant(), c.value);
    }
    EXPECT_FALSE(defaults.value("137").isValid());
}

TEST_F(SettingsUserDefaultsTest, LeavesEntriesWrittenByOthersAsTheyAre) {
    const QByteArray outside = R"({"selectedKey": 56, "250": "text", "list": [1, "2"], "flag": false,
                                   "none": null, "1": {"gasPriceKey": {"low": 3}, "extra": [true]}})";
    writeFile(outside);
    SettingsUserDefaults defaults(file());
    EXPECT_EQ(defaults.value("selectedKey").typeId(), QMetaType::LongLong);
    EXPECT_EQ(defaults.value("250").typeId(), QMetaType::QString);
    EXPECT_EQ(defaults.value("1").typeId(), QMetaType::QVariantMap);

    defaults.setValue("56", kRecord);
    ASSERT_TRUE(defaults.synchronize());
    QJsonObject expected = QJsonDocument::fromJson(outside).object();
    expected.insert("56", QJsonObject::fromVariantMap(kRecord));
    EXPECT_EQ(fileObject(), expected);
}

TEST_F(SettingsUserDefaultsTest, MovesAnUnreadableFileAsideAndStartsEmpty) {
    struct Case {
        const char *name;
        QByteArray content; // empty: a directory stands where the file should be
    };
    const Case cases[] = {
        {"garbage", "not json at all"},
        {"truncated record", R"({"selectedKey": "56", "1": {"gasPriceKey": {"low": "2)"},
        {"array", "[1, 2]"},
        {"text", R"("56")"},
        {"binary", QByteArray("\x00\xff\x13\x37", 4)},
        {"a directory", QByteArray()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(directory()).removeRecursively();
        if (c.content.isEmpty())
            ASSERT_TRUE(QDir().mkpath(file()));
        else
            writeFile(c.content);

        testing::internal::CaptureStderr();
        auto defaults = std::make_unique<SettingsUserDefaults>(file());
        const std::string errors = testing::internal::GetCapturedStderr();

        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.find(aside.front().toStdString()), std::string::npos) << errors;
        EXPECT_FALSE(defaults->value("selectedKey").isValid());
        if (!c.content.isEmpty()) {
            QFile moved(directory() + "/" + aside.front());
            ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
            EXPECT_EQ(moved.readAll(), c.content);
        }

        defaults->setValue("selectedKey", "137");
        ASSERT_TRUE(defaults->synchronize());
        defaults.reset();
        EXPECT_EQ(fileObject(), QJsonObject({{"selectedKey", "137"}}));
        EXPECT_EQ(asideFiles(), aside);
    }
}

TEST_F(SettingsUserDefaultsTest, AnUnchangedValueLeavesTheFileAsItIs) {
    SettingsUserDefaults defaults(file());
    defaults.setValue("1", kRecord);
    defaults.setValue("selectedKey", "56");
    ASSERT_TRUE(defaults.synchronize());
    struct stat before {};
    ASSERT_EQ(stat(QFile::encodeName(file()), &before), 0);

    defaults.setValue("1", QVariantMap(kRecord));
    defaults.setValue("selectedKey", "56");
    EXPECT_TRUE(defaults.synchronize());
    struct stat after {};
    ASSERT_EQ(stat(QFile::encodeName(file()), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "a save replaces the file; nothing changed, so none ran";

    QVariantMap changed = kRecord;
    changed.insert("tokenPriceKey", "1834.28");
    defaults.setValue("1", changed);
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileObject().value("1").toObject().value("tokenPriceKey").toString(), "1834.28");
}

// Qt calls a text and a number equal when the text reads as that number, inside maps too; the file
// keeps the kind, so such a value is a change and must be written.
TEST_F(SettingsUserDefaultsTest, AValueOfAnotherKindIsAChange) {
    struct Case {
        const char *name;
        QByteArray fileBefore;
        QString key;
        QVariant value;
    };
    const Case cases[] = {
        {"number, then its text", R"({"selectedKey": 56})", "selectedKey", QString("56")},
        {"fraction, then its text", R"({"selectedKey": 5.5})", "selectedKey", QString("5.5")},
        {"boolean, then its text", R"({"selectedKey": true})", "selectedKey", QString("true")},
        {"null, then the empty text", R"({"selectedKey": null})", "selectedKey", QString("")},
        {"number inside a record", R"({"1": {"tokenPriceKey": 5}})", "1",
         QVariantMap{{"tokenPriceKey", "5"}}},
        {"number two levels down", R"({"1": {"gasPriceKey": {"low": 1}}})", "1",
         QVariantMap{{"gasPriceKey", QVariantMap{{"low", "1"}}}}},
        {"list, then a record", R"({"1": ["5"]})", "1", QVariantMap{{"0", "5"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(c.fileBefore);
        SettingsUserDefaults defaults(file());
        defaults.setValue(c.key, c.value);
        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(fileObject().value(c.key), QJsonValue::fromVariant(c.value));
        EXPECT_EQ(defaults.value(c.key).typeId(), c.value.typeId());
    }
}

// Another process may change a key after this one read it; saving the value read earlier must put it
// back in the file, not be skipped against the stale copy in memory.
TEST_F(SettingsUserDefaultsTest, AValueChangedByAnotherWriterIsSavedAgain) {
    writeFile(R"({"selectedKey": "1", "1": {"tokenPriceKey": "300"}})");
    SettingsUserDefaults defaults(file());
    ASSERT_EQ(defaults.value("selectedKey"), QString("1"));
    ASSERT_EQ(defaults.value("1"), QVariantMap({{"tokenPriceKey", "300"}}));

    QThread::msleep(20); // a newer modification time than the one read
    writeFile(R"({"selectedKey": "137", "1": {"tokenPriceKey": "301"}, "56": {"tokenPriceKey": "7"}})");

    defaults.setValue("selectedKey", QString("1"));
    ASSERT_TRUE(defaults.synchronize());
    defaults.setValue("1", QVariantMap{{"tokenPriceKey", "300"}});
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileObject(),
              QJsonDocument::fromJson(
                  R"({"selectedKey": "1", "1": {"tokenPriceKey": "300"}, "56": {"tokenPriceKey": "7"}})")
                  .object());
}

// Reads between two syncs may be answered from memory; what another process wrote must show after
// the next sync, whether the file grew, kept its size or was replaced.
TEST_F(SettingsUserDefaultsTest, ReadsShowAnotherWritersChangeAfterTheNextSync) {
    struct Case {
        const char *name;
        QByteArray fileAfter;
        bool replace; // written as a new file renamed over the old one
        QVariant tokenPriceAfter;
        QVariant selectedAfter;
    };
    const QByteArray before = R"({"selectedKey": "1", "1": {"tokenPriceKey": "300"}})";
    const Case cases[] = {
        {"same size", R"({"selectedKey": "1", "1": {"tokenPriceKey": "301"}})", false, QString("301"),
         QString("1")},
        {"longer", R"({"selectedKey": "56", "1": {"tokenPriceKey": "3000"}})", false, QString("3000"),
         QString("56")},
        {"replaced, same size", R"({"selectedKey": "7", "1": {"tokenPriceKey": "300"}})", true,
         QString("300"), QString("7")},
        {"emptied", "", false, QVariant(), QVariant()},
    };
    const auto tokenPrice = [](const QVariant &record) {
        return record.typeId() == QMetaType::QVariantMap ? record.toMap().value("tokenPriceKey") : QVariant();
    };
    // The other writer's change reaches the reader through either kind of sync.
    const std::function<void(SettingsUserDefaults &)> syncs[] = {
        [](SettingsUserDefaults &defaults) { ASSERT_TRUE(defaults.synchronize()); },
        [](SettingsUserDefaults &defaults) { defaults.setValue("unrelated", QString("x")); },
    };
    for (const Case &c : cases) {
        for (std::size_t s = 0; s < std::size(syncs); ++s) {
            SCOPED_TRACE(std::string(c.name) + (s == 0 ? ", synchronize" : ", setValue"));
            QDir(directory()).removeRecursively();
            // QSettings keeps what it read of a path for the next instance, and trusts it while the
            // file's size and modification time (to the millisecond) stay the same.
            QThread::msleep(20);
            writeFile(before);
            SettingsUserDefaults defaults(file());
            ASSERT_TRUE(defaults.synchronize());
            ASSERT_EQ(defaults.value("selectedKey"), QString("1"));
            ASSERT_EQ(tokenPrice(defaults.value("1")), QString("300"));

            QThread::msleep(20); // a newer modification time than the one read
            if (c.replace) {
                QFile next(file() + ".next");
                ASSERT_TRUE(next.open(QIODevice::WriteOnly));
                next.write(c.fileAfter);
                next.close();
                ASSERT_EQ(::rename(QFile::encodeName(next.fileName()), QFile::encodeName(file())), 0);
            } else {
                writeFile(c.fileAfter);
            }
            syncs[s](defaults);
            EXPECT_EQ(defaults.value("selectedKey"), c.selectedAfter);
            EXPECT_EQ(tokenPrice(defaults.value("1")), c.tokenPriceAfter);
        }
    }
}

// Two instances on one file in one process share QSettings' view of it: what one sets, the other reads
// and saves at once, synced or not.
TEST_F(SettingsUserDefaultsTest, InstancesOnTheSameFileSeeEachOthersValues) {
    writeFile(R"({"selectedKey": "1", "1": {"tokenPriceKey": "300"}})");
    SettingsUserDefaults first(file());
    SettingsUserDefaults second(file());
    ASSERT_EQ(first.value("selectedKey"), QString("1"));
    ASSERT_EQ(second.value("selectedKey"), QString("1"));

    second.setValue("selectedKey", QString("56"));
    EXPECT_EQ(first.value("selectedKey"), QString("56"));

    // Setting back what it last read is a change for the first: the second's value is pending.
    first.setValue("selectedKey", QString("1"));
    ASSERT_TRUE(second.synchronize());
    ASSERT_TRUE(first.synchronize());
    EXPECT_EQ(fileObject().value("selectedKey"), QJsonValue("1"));
    EXPECT_EQ(second.value("selectedKey"), QString("1"));
}

// Keys that are no valid UTF-16 can share one entry of the file; reading one after setting the other
// gives what the file holds.
TEST_F(SettingsUserDefaultsTest, KeysSharingAnEntryReadTheSameValue) {
    const QString loneHigh(QChar(0xD800));
    const QString loneLow(QChar(0xDC00));
    writeFile("{}");
    SettingsUserDefaults defaults(file());
    ASSERT_TRUE(defaults.synchronize());
    ASSERT_EQ(defaults.value(loneHigh), defaults.value(loneLow));
    defaults.setValue(loneLow, QString("x"));
    EXPECT_EQ(defaults.value(loneHigh), defaults.value(loneLow));
}

TEST_F(SettingsUserDefaultsTest, AnEmptyFileIsNotCorrupt) {
    writeFile("");
    testing::internal::CaptureStderr();
    SettingsUserDefaults defaults(file());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST_F(SettingsUserDefaultsTest, AFileCorruptedWhileRunningIsMovedAsideBeforeTheNextSave) {
    SettingsUserDefaults defaults(file());
    defaults.setValue("1", kRecord);
    ASSERT_TRUE(defaults.synchronize());

    writeFile("{\"1\": {\"gasPriceKey\"");
    testing::internal::CaptureStderr();
    defaults.setValue("selectedKey", "56");
    EXPECT_TRUE(defaults.synchronize());
    testing::internal::GetCapturedStderr();

    ASSERT_EQ(asideFiles().size(), 1);
    EXPECT_EQ(fileObject().value("selectedKey").toString(), "56");
}

TEST_F(SettingsUserDefaultsTest, SameSecondCorruptionsGetTheirOwnNames) {
    for (int i = 0; i < 3; ++i) {
        writeFile("corrupt " + QByteArray::number(i));
        testing::internal::CaptureStderr();
        SettingsUserDefaults defaults(file());
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(asideFiles().size(), 3);
}

// Each condition makes writing impossible until the returned guard is destroyed.
using Condition = std::function<std::shared_ptr<void>(const QString &directory, const QString &file)>;

std::shared_ptr<void> withPermissions(const QString &path, QFile::Permissions during) {
    const QFile::Permissions before = QFile(path).permissions();
    QFile::setPermissions(path, during);
    auto checks = std::make_shared<ScopedPermissionChecks>();
    return std::shared_ptr<void>(nullptr, [path, before, checks](void *) mutable {
        checks.reset();
        QFile::setPermissions(path, before);
    });
}

TEST_F(SettingsUserDefaultsTest, AFailedWriteKeepsTheFileAndTheValuesInMemory) {
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadUser | QFile::ExeUser;
    const struct {
        const char *name;
        Condition condition;
    } cases[] = {
        {"read-only directory",
         [&](const QString &dir, const QString &) { return withPermissions(dir, readOnly); }},
        {"read-only file",
         [&](const QString &, const QString &f) {
             return withPermissions(f, QFile::ReadOwner | QFile::ReadUser);
         }},
        {"disk full",
         [](const QString &, const QString &) {
             // Writes past 4 KiB fail as they would on a full disk.
             rlimit before{};
             getrlimit(RLIMIT_FSIZE, &before);
             rlimit limited = before;
             limited.rlim_cur = 4096;
             const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
             setrlimit(RLIMIT_FSIZE, &limited);
             return std::shared_ptr<void>(nullptr, [before, previousHandler](void *) {
                 setrlimit(RLIMIT_FSIZE, &before);
                 std::signal(SIGXFSZ, previousHandler);
             });
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(directory()).removeRecursively();
        SettingsUserDefaults defaults(file());
        defaults.setValue("1", kRecord);
        ASSERT_TRUE(defaults.synchronize());
        const QByteArray before = fileBytes();

        const QVariantMap large{{"gasPriceKey", QVariantMap{{"low", QString(20000, '7')}}}};
        {
            const auto failing = c.condition(directory(), file());
            defaults.setValue("56", large);
            EXPECT_FALSE(defaults.synchronize());
            EXPECT_EQ(defaults.value("56"), large);
            EXPECT_EQ(defaults.value("1"), kRecord);
            defaults.setValue("selectedKey", "56");
            EXPECT_FALSE(defaults.synchronize());
        }
        EXPECT_EQ(fileBytes(), before);
        EXPECT_EQ(QDir(directory()).entryList(QDir::Files), QStringList{"defaults.json"});

        ASSERT_TRUE(defaults.synchronize());
        EXPECT_EQ(fileObject().toVariantMap(),
                  QVariantMap({{"1", kRecord}, {"56", large}, {"selectedKey", "56"}}));
    }
}

TEST_F(SettingsUserDefaultsTest, ANonDirectoryConfigHomeFailsWithoutHarm) {
    QFile blocker(home.path() + "/gweibar");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsUserDefaults defaults;
    defaults.setValue("selectedKey", "56");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(defaults.value("selectedKey"), "56");
    EXPECT_EQ(blocker.size(), 0);
}

TEST_F(SettingsUserDefaultsTest, SavesFromTheEventLoopAreOwnerOnlyToo) {
    int argc = 1;
    char name[] = "platform_tests";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SettingsUserDefaults defaults;
    defaults.setValue("selectedKey", "56");
    QCoreApplication::processEvents();

    EXPECT_EQ(fileObject().value("selectedKey").toString(), "56");
    EXPECT_EQ(mode(file()), 0600);
    EXPECT_EQ(mode(directory()), 0700);
}

} // namespace
