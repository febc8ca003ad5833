#include "FakeStatusNotifierWatcher.h"
#include "QtPrinters.h"

#include "platform/PanelStatusItem.h"
#include "platform/StatusNotifierItem.h"
#include "platform/StripStatusItem.h"
#include "platform/SystemStatusBar.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

bool waitFor(const std::function<bool()> &condition) {
    return QTest::qWaitFor(condition, 5000);
}

PanelStatusItem *panelItem(const std::unique_ptr<StatusItem> &item) {
    return dynamic_cast<PanelStatusItem *>(item.get());
}

TEST(PanelStatusItem, WithoutAWatcherTheStripShowsTheItem) {
    std::unique_ptr<StatusItem> item = SystemStatusBar::statusItemWithLength(40.0);
    PanelStatusItem *panel = panelItem(item);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isStripShown());
    EXPECT_EQ(item->length(), 40.0);

    int runs = 0;
    item->button()->setAction([&] { ++runs; });
    item->button()->setTitle(QStringLiteral("1 | 2 | 3"));
    item->setLength(item->button()->sizeThatFits(QSizeF(500, 50)).width() + 5);
    EXPECT_EQ(panel->strip()->shownText(), QStringLiteral("1 | 2 | 3"));
    EXPECT_EQ(item->button()->bounds(), panel->strip()->bounds());
}

TEST(PanelStatusItem, FollowsTheWatcherComingAndGoing) {
    FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.appear());
    std::unique_ptr<StatusItem> item = SystemStatusBar::statusItemWithLength(40.0);
    PanelStatusItem *panel = panelItem(item);
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isStripShown()) << "no flash of the strip while the watcher answers";
    ASSERT_TRUE(waitFor([&] { return panel->notifierItem()->isRegistered(); }));
    EXPECT_FALSE(panel->isStripShown());

    item->button()->setTitle(QStringLiteral("7 | 8 | 9"));
    item->setLength(60.0);
    EXPECT_EQ(panel->notifierItem()->label(), QStringLiteral("7 | 8 | 9"));
    EXPECT_EQ(panel->strip()->title(), QStringLiteral("7 | 8 | 9"));
    EXPECT_EQ(panel->strip()->length(), 60.0);

    // Anchored where the host was clicked while the host shows the item, at the strip without a host.
    watcher.callItem(panel->notifierItem()->serviceName(), QStringLiteral("Activate"), {100, 5});
    EXPECT_EQ(item->button()->bounds().topLeft(), QPoint(100, 5));

    watcher.vanish();
    ASSERT_TRUE(waitFor([&] { return panel->isStripShown(); }));
    EXPECT_EQ(item->button()->bounds(), panel->strip()->bounds());
    ASSERT_TRUE(watcher.appear());
    ASSERT_TRUE(waitFor([&] { return !panel->isStripShown(); }));
}

TEST(PanelStatusItem, AnItemTheHostDroppedShowsTheStripUntilItIsRegisteredAgain) {
    FakeStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.appear());
    std::unique_ptr<StatusItem> item = SystemStatusBar::statusItemWithLength(40.0);
    PanelStatusItem *panel = panelItem(item);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitFor([&] { return panel->notifierItem()->isRegistered(); }));
    EXPECT_FALSE(panel->isStripShown());

    watcher.unregister(FakeStatusNotifierWatcher::itemId(watcher.registrations().first()));
    ASSERT_TRUE(waitFor([&] { return panel->isStripShown(); }));
    ASSERT_TRUE(waitFor([&] { return !panel->isStripShown(); }));
    EXPECT_TRUE(panel->notifierItem()->isRegistered());
    EXPECT_EQ(watcher.registrations().size(), 2);
}

TEST(PanelStatusItem, AHostThatKeepsDroppingTheItemLeavesTheStrip) {
    FakeStatusNotifierWatcher watcher;
    watcher.dropEveryRegistration();
    ASSERT_TRUE(watcher.appear());
    std::unique_ptr<StatusItem> item = SystemStatusBar::statusItemWithLength(40.0);
    PanelStatusItem *panel = panelItem(item);
    ASSERT_NE(panel, nullptr);
    panel->notifierItem()->setReregistrationDelay(10);
    ASSERT_TRUE(waitFor(
        [&] { return watcher.registrations().size() == 1 + StatusNotifierItem::maxReregistrations; }));
    QTest::qWait(500);
    EXPECT_TRUE(panel->isStripShown());
    EXPECT_FALSE(panel->notifierItem()->isRegistered());
}

TEST(PanelStatusItem, AWatcherThatRefusesTheItemLeavesTheStrip) {
    FakeStatusNotifierWatcher watcher;
    watcher.refuseRegistrations();
    ASSERT_TRUE(watcher.appear());
    std::unique_ptr<StatusItem> item = SystemStatusBar::statusItemWithLength(40.0);
    PanelStatusItem *panel = panelItem(item);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitFor([&] { return panel->isStripShown(); }));
    EXPECT_EQ(watcher.registrations().size(), 1);
}

} // namespace
