#include "QtPrinters.h"
#include "platform/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Runs gweibar-sniwatcher on the test bus and collects its output lines.
class SniWatcherTool {
public:
    SniWatcherTool() {
        m_process.start(QStringLiteral(GWEIBAR_SNIWATCHER), {});
        m_process.waitForStarted();
    }
    ~SniWatcherTool() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    bool waitForLine(const QString &line) {
        return QTest::qWaitFor(
            [&] {
                m_lines += QString::fromUtf8(m_process.readAllStandardOutput())
                               .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                return m_lines.contains(line);
            },
            5000);
    }
    void send(const QByteArray &command) { m_process.write(command); }
    void closeInput() { m_process.closeWriteChannel(); }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QStringList lines() const { return m_lines; }

private:
    QProcess m_process;
    QStringList m_lines;
};

TEST(SniWatcherTool, RecordsTheItemFollowsItsLabelAndActivatesIt) {
    SniWatcherTool tool;
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("watching")));

    StatusNotifierItem item(40.0);
    item.setTitle(QStringLiteral("12 | 13.5 | 15"));
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("registered ") + QDBusConnection::sessionBus().baseService()))
        << tool.lines().join('\n').toStdString();
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("label 12 | 13.5 | 15")));

    item.setTitle(QStringLiteral("-- | -- | 20"));
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("label -- | -- | 20")));

    QRect anchor;
    item.setAction([&] { anchor = item.bounds(); });
    tool.send("activate 640 12\n");
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("activated")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return anchor.isValid(); }, 5000));
    EXPECT_EQ(anchor.topLeft(), QPoint(640, 12));

    // Closed input must not stop it or make it spin: CI runs it without standard input.
    tool.closeInput();
    item.setTitle(QStringLiteral("1 | 2 | 3"));
    ASSERT_TRUE(tool.waitForLine(QStringLiteral("label 1 | 2 | 3")));
    EXPECT_TRUE(tool.isRunning());
}

} // namespace
