#include "platform/PopoverWindow.h"
#include "QtPrinters.h"
#include "platform/ApplicationEventMonitor.h"
#include "platform/ViewController.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QTest>
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
        {"below, no room: above it instead", QRect(500, 780, 80, 20), Edge::MaxY, area, QPoint(380, 680)},
        {"below, no room on either side: lifted", QRect(500, 60, 80, 20), Edge::MaxY, QRect(0, 0, 1000, 150),
         QPoint(380, 50)},
        {"right of it, centred", QRect(100, 300, 30, 20), Edge::MaxX, area, QPoint(130, 260)},
        {"right of it, no room: left of it instead", QRect(900, 300, 30, 20), Edge::MaxX, area,
         QPoint(700, 260)},
        {"right of it, just room", QRect(770, 300, 30, 20), Edge::MaxX, area, QPoint(800, 260)},
        {"right of it, no room on either side: pushed back", QRect(100, 300, 30, 20), Edge::MaxX,
         QRect(0, 0, 250, 800), QPoint(50, 260)},
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

TEST(PopoverPlacement, ASecondPopoverFromAButtonOfOneAtTheScreenEdgeLeavesTheButtonFree) {
    const QRect area(0, 0, 1280, 800);
    const QRect first(1020, 13, 260, 138); // at the right edge, as under a panel item in the corner
    const QRect button(first.left() + 60, first.top() + 107, 65, 22);
    const QSize size(152, 138);
    const QRect second(PopoverWindow::placement(button, Edge::MaxX, size, area), size);
    EXPECT_TRUE(area.contains(second));
    EXPECT_FALSE(second.intersects(button)) << "covers the button it belongs to";
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

// A view laid out around one field, whose text a test changes while the popover is hidden.
class FieldController : public ViewController {
public:
    FieldController()
        : ViewController(QStringLiteral("NoSuchInterfaceFile")) {}
    QLabel *field() {
        if (!m_field) {
            m_field = new QLabel(view());
            auto *layout = new QHBoxLayout(view());
            layout->addWidget(m_field);
        }
        return m_field;
    }

private:
    QLabel *m_field = nullptr;
};

TEST(PopoverWindow, PlacedAtTheSizeItsViewHasNowAfterChangesWhileHidden) {
    PopoverWindow popover;
    auto *controller = new FieldController;
    popover.setContentViewController(controller);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(screen.right() - 10, screen.top() + 2, 1, 1);
    for (int characters : {2, 40, 80, 2}) {
        SCOPED_TRACE(characters);
        controller->field()->setText(QString(characters, QLatin1Char('8')));
        popover.showRelativeToRect(anchor, Edge::MaxY);
        const QRect placed = popover.window()->geometry();
        EXPECT_EQ(placed.size(), popover.window()->sizeHint());
        EXPECT_EQ(placed.topRight(), anchor.bottomRight() + QPoint(0, 1));
        EXPECT_TRUE(screen.contains(placed));
        // Nothing moves or resizes it once the event loop has run.
        QTest::qWait(20);
        EXPECT_EQ(popover.window()->geometry(), placed);
        popover.close();
    }
}

TEST(PopoverWindow, StaysBesideItsAnchorWhenItsViewChangesSizeWhileShown) {
    PopoverWindow popover;
    auto *controller = new FieldController;
    popover.setContentViewController(controller);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(screen.right() - 10, screen.top() + 2, 1, 1);
    controller->field()->setText(QStringLiteral("88"));
    popover.showRelativeToRect(anchor, Edge::MaxY);
    for (int characters : {40, 80, 2}) {
        SCOPED_TRACE(characters);
        controller->field()->setText(QString(characters, QLatin1Char('8')));
        QTest::qWait(50);
        const QRect now = popover.window()->geometry();
        EXPECT_EQ(now.size(), popover.window()->sizeHint());
        EXPECT_EQ(now.topRight(), anchor.bottomRight() + QPoint(0, 1));
        EXPECT_TRUE(screen.contains(now));
    }
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

TEST(PopoverWindow, ClosingTheActiveOneHandsActivationToAnotherShownOne) {
    // The price popover and, opened from it, the network list; the event monitor closes the price
    // popover as the application does.
    PopoverWindow price, list;
    QWidget *priceWindow = price.window(), *listWindow = list.window();
    price.setContentViewController(new RecordingController(&priceWindow));
    list.setContentViewController(new RecordingController(&listWindow));
    ApplicationEventMonitor monitor;
    int clicksElsewhere = 0;
    monitor.addGlobalMonitorForLeftMouseDown([&] {
        ++clicksElsewhere;
        price.close();
    });

    price.showRelativeToRect(QRect(900, 0, 50, 20), Edge::MaxY);
    ASSERT_TRUE(QTest::qWaitForWindowActive(priceWindow));
    list.showRelativeToRect(QRect(700, 120, 60, 20), Edge::MaxX);
    ASSERT_TRUE(QTest::qWaitForWindowActive(listWindow));

    list.close();
    EXPECT_FALSE(list.isShown());
    EXPECT_TRUE(QTest::qWaitForWindowActive(priceWindow));
    QTest::qWait(50);
    EXPECT_TRUE(price.isShown());
    EXPECT_EQ(clicksElsewhere, 0);
    EXPECT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);
}

TEST(PopoverWindow, ClosingOneThatIsNotActiveLeavesTheActivationWhereItIs) {
    PopoverWindow first, second;
    QWidget *firstWindow = first.window(), *secondWindow = second.window();
    first.setContentViewController(new RecordingController(&firstWindow));
    second.setContentViewController(new RecordingController(&secondWindow));
    second.showRelativeToRect(QRect(700, 120, 60, 20), Edge::MaxX);
    ASSERT_TRUE(QTest::qWaitForWindowActive(secondWindow));
    first.showRelativeToRect(QRect(900, 0, 50, 20), Edge::MaxY);
    ASSERT_TRUE(QTest::qWaitForWindowActive(firstWindow));

    second.close();
    QTest::qWait(50);
    EXPECT_TRUE(firstWindow->isActiveWindow());
    first.close();
    QTest::qWait(50);
    EXPECT_FALSE(second.isShown()) << "a closed popover must not come back";
}

TEST(PopoverWindow, OnesOpenedFromAViewInsideAnotherCloseWithIt) {
    PopoverWindow price, list, elsewhere;
    QWidget *priceWindow = price.window(), *listWindow = list.window(), *elsewhereWindow = elsewhere.window();
    price.setContentViewController(new RecordingController(&priceWindow));
    list.setContentViewController(new RecordingController(&listWindow));
    elsewhere.setContentViewController(new RecordingController(&elsewhereWindow));

    price.showRelativeToRect(QRect(900, 0, 50, 20), Edge::MaxY);
    const QRect buttonInPrice(priceWindow->geometry().center(), QSize(40, 20));
    list.showRelativeToRect(buttonInPrice, Edge::MaxX);
    elsewhere.showRelativeToRect(QRect(100, 500, 20, 20), Edge::MaxY);

    price.close();
    EXPECT_FALSE(price.isShown());
    EXPECT_FALSE(list.isShown());
    EXPECT_TRUE(elsewhere.isShown()) << "its anchor lies outside the closed popover";

    // Shown again from elsewhere, it no longer belongs to the price popover.
    price.showRelativeToRect(QRect(900, 0, 50, 20), Edge::MaxY);
    list.showRelativeToRect(QRect(100, 300, 40, 20), Edge::MaxX);
    price.close();
    EXPECT_TRUE(list.isShown());
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
