#include "platform/PopoverWindow.h"
#include "QtPrinters.h"
#include "platform/ViewController.h"

#include <QGuiApplication>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using Edge = Popover::Edge;

TEST(PopoverPlacement, NextToTheAnchorAndKeptOnTheArea) {
    const QRect area(0, 0, 1000, 800);
    const QSize size(200, 100);
    const struct {
        const char *what;
        QRect anchor;
        Edge edge;
        QRect area;
        QPoint expected;
    } cases[] = {
        {"below, right-aligned", QRect(500, 0, 80, 24), Edge::MaxY, area, QPoint(380, 24)},
        {"below, pushed off the left edge back", QRect(10, 0, 80, 24), Edge::MaxY, area, QPoint(0, 24)},
        {"below, at the bottom edge, lifted", QRect(500, 780, 80, 20), Edge::MaxY, area, QPoint(380, 700)},
        {"right of it, centred", QRect(100, 300, 30, 20), Edge::MaxX, area, QPoint(130, 260)},
        {"right of it, at the right edge", QRect(900, 300, 30, 20), Edge::MaxX, area, QPoint(800, 260)},
        {"right of it, at the top", QRect(100, 0, 30, 20), Edge::MaxX, area, QPoint(130, 0)},
        {"second screen left of the first", QRect(-300, 10, 40, 20), Edge::MaxY, QRect(-1280, 0, 1280, 1024),
         QPoint(-460, 30)},
        {"panel strut above the area", QRect(950, 2, 1, 1), Edge::MaxY, QRect(0, 30, 1000, 770),
         QPoint(751, 30)},
        {"larger than the area: top-left on it", QRect(500, 0, 80, 24), Edge::MaxY, QRect(0, 0, 150, 80),
         QPoint(0, 0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PopoverWindow::placement(c.anchor, c.edge, size, c.area), c.expected);
    }
}

class RecordingController : public ViewController {
public:
    explicit RecordingController(QWidget **window)
        : ViewController(QStringLiteral("NoSuchInterfaceFile"))
        , m_window(window) {}
    void viewWillAppear() override {
        ++appearances;
        shownBeforeAppearing = shownBeforeAppearing || (*m_window)->isVisible();
        view()->setFixedSize(240, 160);
    }
    int appearances = 0;
    bool shownBeforeAppearing = false;

private:
    QWidget **m_window;
};

TEST(PopoverWindow, ShowsTheControllersViewBesideTheAnchorOnScreen) {
    PopoverWindow popover;
    QWidget *window = popover.window();
    auto *controller = new RecordingController(&window);
    popover.setContentViewController(controller);
    EXPECT_FALSE(controller->isViewLoaded()) << "the view loads when first shown";

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(screen.right() - 10, screen.top() + 2, 1, 1);
    popover.showRelativeToRect(anchor, Edge::MaxY);
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(controller->appearances, 1);
    EXPECT_FALSE(controller->shownBeforeAppearing);
    EXPECT_EQ(controller->view()->window(), window);
    EXPECT_EQ(window->size(), QSize(240, 160));
    EXPECT_TRUE(screen.contains(window->frameGeometry()));
    EXPECT_EQ(window->geometry().topRight(), anchor.bottomRight() + QPoint(0, 1));
}

TEST(PopoverWindow, ShowingTwiceLeavesItShownAndClosingIsSafeWhenHidden) {
    PopoverWindow popover;
    QWidget *window = popover.window();
    auto *controller = new RecordingController(&window);
    popover.setContentViewController(controller);

    popover.close();
    EXPECT_FALSE(popover.isShown());
    popover.showRelativeToRect(QRect(100, 0, 50, 20), Edge::MaxY);
    popover.showRelativeToRect(QRect(100, 0, 50, 20), Edge::MaxY);
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(controller->appearances, 2);
    popover.close();
    EXPECT_FALSE(popover.isShown());
    popover.close();
    EXPECT_FALSE(popover.isShown());
}

TEST(PopoverWindow, ANewControllerReplacesAndDeletesTheOldOne) {
    PopoverWindow popover;
    QWidget *window = popover.window();
    QPointer<RecordingController> first = new RecordingController(&window);
    popover.setContentViewController(first);
    popover.showRelativeToRect(QRect(100, 0, 50, 20), Edge::MaxY);
    QPointer<QWidget> firstView = first->view();

    auto *second = new RecordingController(&window);
    popover.setContentViewController(second);
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(firstView.isNull());
    EXPECT_EQ(popover.contentViewController(), second);
    popover.showRelativeToRect(QRect(100, 0, 50, 20), Edge::MaxY);
    EXPECT_EQ(second->view()->window(), window);
}

TEST(PopoverWindow, DarkAppearanceDarkensTheWindowAndLightensItsText) {
    PopoverWindow popover;
    popover.setDarkAppearance();
    const QPalette palette = popover.window()->palette();
    EXPECT_LT(palette.color(QPalette::Window).lightnessF(), 0.3);
    EXPECT_GT(palette.color(QPalette::WindowText).lightnessF(), 0.7);
    EXPECT_GT(palette.color(QPalette::ButtonText).lightnessF(), 0.7);
}

} // namespace
