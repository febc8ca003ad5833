#include "QtPrinters.h"

#include "platform/PopoverWindow.h"
#include "platform/StatusNotifierItem.h"
#include "platform/ViewController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

class ScaledScreenTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0); }
};

TEST_F(ScaledScreenTest, ScreenPixelsFromTheHostBecomeDeviceIndependentPixels) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint nativeRight(screen.left() + 2 * screen.width() - 1, screen.top() + 4);
    const struct {
        QPoint native;
        QPoint logical;
    } cases[] = {
        {QPoint(0, 0), QPoint(0, 0)},
        {QPoint(600, 20), QPoint(300, 10)},
        {nativeRight, QPoint(screen.right(), screen.top() + 2)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StatusNotifierItem::logicalPoint(c.native), c.logical);
}

TEST_F(ScaledScreenTest, APopoverFromAnActivationAtTheRightEdgeStaysOnScreen) {
    StatusNotifierItem item(40.0);
    QRect anchor;
    item.setAction([&] { anchor = item.bounds(); });
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    item.activate(2 * screen.width() - 3, 6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return anchor.isValid(); }, 5000));
    EXPECT_TRUE(screen.contains(anchor));

    PopoverWindow popover;
    auto *controller = new ViewController(QStringLiteral("NoSuchInterfaceFile"));
    controller->view()->setFixedSize(120, 90);
    popover.setContentViewController(controller);
    popover.showRelativeToRect(anchor, Popover::Edge::MaxY);
    const QRect frame = popover.window()->frameGeometry();
    EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y();
    EXPECT_EQ(frame.size(), QSize(120, 90));
    EXPECT_EQ(frame.top(), anchor.bottom() + 1);
}

} // namespace
