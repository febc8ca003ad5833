#include "FakeStatusNotifierWatcher.h"
#include "QtPrinters.h"

#include "platform/PanelText.h"
#include "platform/StatusNotifierItem.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

bool waitFor(const std::function<bool()> &condition) {
    return QTest::qWaitFor(condition, 5000);
}

class StatusNotifierItemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(watcher.appear()); }

    std::unique_ptr<StatusNotifierItem>
    registeredItem(const QString &title = QStringLiteral("12 | 13.5 | 15")) {
        auto item = std::make_unique<StatusNotifierItem>(40.0);
        item->setTitle(title);
        EXPECT_TRUE(waitFor([&] { return item->isRegistered(); }));
        return item;
    }

    FakeStatusNotifierWatcher watcher;
};

// GNOME's AppIndicator support drops some of the items that register under a well-known name: it races a
// watcher of that name against its first read of the item.
TEST_F(StatusNotifierItemTest, RegistersUnderItsUniqueBusNameAndOwnsItsServiceName) {
    auto item = registeredItem();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_EQ(watcher.registrations(), QStringList{bus.baseService()});
    EXPECT_TRUE(item->serviceName().startsWith(QStringLiteral("org.kde.StatusNotifierItem-")));
    EXPECT_EQ(bus.interface()->serviceOwner(item->serviceName()).value(), bus.baseService());
}

TEST_F(StatusNotifierItemTest, PublishesWhatHostsRequire) {
    auto item = registeredItem(QStringLiteral("12 | 13.5 | 15"));
    const struct {
        const char *name;
        QVariant expected;
    } cases[] = {
        {"Category", QStringLiteral("ApplicationStatus")},
        {"Id", QStringLiteral("gweibar")},
        {"Status", QStringLiteral("Active")},
        {"Title", QStringLiteral("12 | 13.5 | 15")},
        {"XAyatanaLabel", QStringLiteral("12 | 13.5 | 15")},
        {"ItemIsMenu", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(watcher.itemProperty(item->serviceName(), QString::fromLatin1(c.name)), c.expected);
    }
    const QVariant menu = watcher.itemProperty(item->serviceName(), QStringLiteral("Menu"));
    ASSERT_TRUE(menu.canConvert<QDBusObjectPath>());
    // GNOME's AppIndicator support hides items whose menu is "/NO_DBUSMENU" or missing.
    EXPECT_FALSE(menu.value<QDBusObjectPath>().path().isEmpty());
    EXPECT_NE(menu.value<QDBusObjectPath>().path(), QStringLiteral("/NO_DBUSMENU"));

    StatusNotifierToolTip toolTip;
    watcher.itemProperty(item->serviceName(), QStringLiteral("ToolTip")).value<QDBusArgument>() >> toolTip;
    EXPECT_EQ(toolTip.title, QStringLiteral("12 | 13.5 | 15"));
}

TEST_F(StatusNotifierItemTest, IconPixelsAreArgbInNetworkByteOrder) {
    auto item = registeredItem();
    StatusNotifierIconPixmapList icon;
    watcher.itemProperty(item->serviceName(), QStringLiteral("IconPixmap")).value<QDBusArgument>() >> icon;
    ASSERT_FALSE(icon.isEmpty());
    for (const StatusNotifierIconPixmap &pixmap : icon) {
        ASSERT_EQ(pixmap.bytes.size(), pixmap.width * pixmap.height * 4);
        // The corner is transparent; the disc just inside the left edge, halfway down, is opaque green.
        const auto pixel = [&](int x, int y) { return pixmap.bytes.mid((y * pixmap.width + x) * 4, 4); };
        EXPECT_EQ(quint8(pixel(0, 0)[0]), 0);
        const QByteArray disc = pixel(1, pixmap.height / 2);
        EXPECT_GT(quint8(disc[0]), 0x80) << "alpha first";
        EXPECT_GT(quint8(disc[2]), quint8(disc[1])) << "green above red";
        EXPECT_GT(quint8(disc[2]), quint8(disc[3])) << "green above blue";
    }
}

TEST_F(StatusNotifierItemTest, SignalsANewLabelOnlyWhenTheTitleChanges) {
    auto item = registeredItem(QStringLiteral("1 | 2 | 3"));
    watcher.follow(item->serviceName());
    item->setTitle(QStringLiteral("1 | 2 | 3"));
    item->setTitle(QStringLiteral("4 | 5 | 6"));
    ASSERT_TRUE(waitFor([&] { return !watcher.newLabels().isEmpty(); }));
    QTest::qWait(100); // let a wrongly sent second signal arrive
    ASSERT_EQ(watcher.newLabels().size(), 1);
    EXPECT_EQ(watcher.newLabels().first().first, QStringLiteral("4 | 5 | 6"));
    EXPECT_EQ(watcher.itemProperty(item->serviceName(), QStringLiteral("XAyatanaLabel")),
              QStringLiteral("4 | 5 | 6"));
}

TEST_F(StatusNotifierItemTest, LengthBecomesALabelGuideOfThatWidth) {
    auto item = registeredItem();
    const QFontMetricsF metrics(QGuiApplication::font());
    const double digit = metrics.horizontalAdvance(QLatin1Char('0'));
    for (double length : {40.0, 87.5, 300.0}) {
        SCOPED_TRACE(length);
        item->setLength(length);
        EXPECT_EQ(item->length(), length);
        const QString guide =
            watcher.itemProperty(item->serviceName(), QStringLiteral("XAyatanaLabelGuide")).toString();
        EXPECT_EQ(guide, QString(guide.size(), QLatin1Char('0')));
        EXPECT_GE(metrics.horizontalAdvance(guide), length);
        EXPECT_LT(metrics.horizontalAdvance(guide), length + digit);
    }
    item->setLength(0);
    EXPECT_EQ(item->labelGuide(), QString());
}

TEST_F(StatusNotifierItemTest, EveryActivationRunsTheActionAnchoredAtThePoint) {
    auto item = registeredItem();
    const struct {
        const char *method;
        int x, y;
    } cases[] = {{"Activate", 300, 4}, {"SecondaryActivate", 12, 7}, {"ContextMenu", 640, 20}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.method);
        int runs = 0;
        QRect boundsWhenRun;
        item->setAction([&] {
            ++runs;
            boundsWhenRun = item->bounds();
        });
        const QDBusMessage reply =
            watcher.callItem(item->serviceName(), QString::fromLatin1(c.method), {c.x, c.y});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
        ASSERT_TRUE(waitFor([&] { return runs > 0; }));
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(boundsWhenRun.topLeft(), QPoint(c.x, c.y));
        EXPECT_LE(boundsWhenRun.width() * boundsWhenRun.height(), 4);
    }
}

TEST_F(StatusNotifierItemTest, ScrollingDoesNothing) {
    auto item = registeredItem();
    int runs = 0;
    item->setAction([&] { ++runs; });
    EXPECT_EQ(watcher.callItem(item->serviceName(), QStringLiteral("Scroll"), {3, QStringLiteral("vertical")})
                  .type(),
              QDBusMessage::ReplyMessage);
    QTest::qWait(50);
    EXPECT_EQ(runs, 0);
}

TEST_F(StatusNotifierItemTest, BoundsBeforeAnyActivationAreAtTheTopRightOfThePrimaryScreen) {
    auto item = registeredItem();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(item->bounds().topRight(), QPoint(screen.right(), screen.top()));
}

TEST_F(StatusNotifierItemTest, RegistersAgainWhenTheWatcherReappears) {
    auto item = registeredItem();
    watcher.vanish();
    ASSERT_TRUE(waitFor([&] { return !item->isRegistered(); }));
    ASSERT_TRUE(watcher.appear());
    ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
    const QString uniqueName = QDBusConnection::sessionBus().baseService();
    EXPECT_EQ(watcher.registrations(), (QStringList{uniqueName, uniqueName}));
}

// GNOME's AppIndicator support, for one, drops an item it failed to set up (it logs "While initalizing
// proxy for ..."), and says so in either of the two ways a watcher can.
TEST_F(StatusNotifierItemTest, RegistersAgainWhenTheHostDropsIt) {
    const QString uniqueName = QDBusConnection::sessionBus().baseService();
    const struct {
        const char *how;
        std::function<void(FakeStatusNotifierWatcher &, const StatusNotifierItem &)> drop;
    } cases[] = {
        {"unregistered as it registered",
         [](FakeStatusNotifierWatcher &w, const StatusNotifierItem &) {
             w.unregister(FakeStatusNotifierWatcher::itemId(w.registrations().last()));
         }},
        {"unregistered as bus name and path",
         [&](FakeStatusNotifierWatcher &w, const StatusNotifierItem &) {
             w.unregister(uniqueName + QStringLiteral("/StatusNotifierItem"));
         }},
        {"unregistered by its service name",
         [](FakeStatusNotifierWatcher &w, const StatusNotifierItem &item) {
             w.unregister(item.serviceName());
         }},
        {"no longer listed",
         [](FakeStatusNotifierWatcher &w, const StatusNotifierItem &) {
             w.publishItems({QStringLiteral(":1.999@/StatusNotifierItem")});
         }},
        {"no longer listed, the list only invalidated",
         [](FakeStatusNotifierWatcher &w, const StatusNotifierItem &) {
             w.publishItems({QStringLiteral(":1.999@/StatusNotifierItem")}, false);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        auto item = registeredItem();
        item->setReregistrationDelay(20);
        const QStringList before = watcher.registrations();
        c.drop(watcher, *item);
        ASSERT_TRUE(waitFor([&] { return !item->isRegistered(); }));
        ASSERT_TRUE(waitFor([&] { return item->isRegistered(); }));
        EXPECT_EQ(watcher.registrations(), before + QStringList{before.last()});
    }
}

TEST_F(StatusNotifierItemTest, OtherItemsLeavingChangeNothing) {
    auto item = registeredItem();
    item->setReregistrationDelay(20);
    const QString uniqueName = QDBusConnection::sessionBus().baseService();
    // Names that merely begin like the item's own.
    for (const QString &other :
         {uniqueName + QStringLiteral("0@/StatusNotifierItem"),
          uniqueName + QStringLiteral("0/StatusNotifierItem"), item->serviceName() + QStringLiteral("0"),
          QStringLiteral("/StatusNotifierItem")}) {
        SCOPED_TRACE(other.toStdString());
        watcher.unregister(other);
        QTest::qWait(150);
        EXPECT_TRUE(item->isRegistered());
        EXPECT_EQ(watcher.registrations().size(), 1);
    }
}

TEST_F(StatusNotifierItemTest, AHostThatKeepsDroppingTheItemIsAskedOnlyAFewTimes) {
    watcher.dropEveryRegistration();
    StatusNotifierItem item(40.0);
    item.setReregistrationDelay(10);
    ASSERT_TRUE(waitFor(
        [&] { return watcher.registrations().size() == 1 + StatusNotifierItem::maxReregistrations; }));
    // Waits double each time: the last one was 160 ms.
    QTest::qWait(1000);
    EXPECT_EQ(watcher.registrations().size(), 1 + StatusNotifierItem::maxReregistrations);
    EXPECT_FALSE(item.isRegistered());

    // A new host gets the item again.
    watcher.vanish();
    ASSERT_TRUE(watcher.appear());
    ASSERT_TRUE(
        waitFor([&] { return watcher.registrations().size() > 1 + StatusNotifierItem::maxReregistrations; }));
}

TEST_F(StatusNotifierItemTest, RegistersWhenAWatcherAppearsLater) {
    watcher.vanish();
    StatusNotifierItem item(40.0);
    EXPECT_TRUE(item.isExported());
    EXPECT_FALSE(item.isWatcherPresent());
    ASSERT_TRUE(watcher.appear());
    ASSERT_TRUE(waitFor([&] { return item.isRegistered(); }));
    EXPECT_EQ(watcher.registrations(), QStringList{QDBusConnection::sessionBus().baseService()});
}

TEST_F(StatusNotifierItemTest, AbsurdTitlesAreCutBeforeTheyReachTheBus) {
    auto item = registeredItem();
    watcher.follow(item->serviceName());
    const QString digits(10000, QLatin1Char('9'));
    item->setTitle(digits + QStringLiteral(" | 1 | 2"));
    EXPECT_EQ(item->title().size(), 10008);

    const QString label =
        watcher.itemProperty(item->serviceName(), QStringLiteral("XAyatanaLabel")).toString();
    EXPECT_FALSE(label.isEmpty());
    EXPECT_LE(label.size(), PanelText::maxCharacters + 1);
    EXPECT_LE(QFontMetricsF(QGuiApplication::font()).horizontalAdvance(label), PanelText::maxWidth);
    EXPECT_TRUE(label.endsWith(QChar(0x2026)));
    ASSERT_TRUE(waitFor([&] { return !watcher.newLabels().isEmpty(); }));
    EXPECT_EQ(watcher.newLabels().first().first, label);

    EXPECT_LE(item->sizeThatFits(QSizeF(500, 50)).width(), 500.0);
}

TEST(StatusNotifierItemPoint, ScreenPixelsMapToDeviceIndependentPixels) {
    // The offscreen screen is unscaled: points inside it and outside every screen stay as they are.
    for (const QPoint p : {QPoint(0, 0), QPoint(300, 4), QPoint(-50, 99999)})
        EXPECT_EQ(StatusNotifierItem::logicalPoint(p), p);
}

} // namespace
