#include "platform/PopoverWindow.h"

#include "platform/ViewController.h"

#include <QGuiApplication>
#include <QLayout>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <algorithm>

PopoverWindow::PopoverWindow()
    : m_window(
          std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)) {
    m_window->setObjectName(QStringLiteral("gweibarPopover"));
    m_window->setWindowTitle(QStringLiteral("gweibar popover"));
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

PopoverWindow::~PopoverWindow() {
    forget();
    for (PopoverWindow *other : shownPopovers()) {
        if (other->m_owner == this)
            other->m_owner = nullptr;
    }
    m_controller.reset();
}

std::vector<PopoverWindow *> &PopoverWindow::shownPopovers() {
    static std::vector<PopoverWindow *> shown;
    return shown;
}

void PopoverWindow::forget() {
    std::erase(shownPopovers(), this);
}

void PopoverWindow::setDarkAppearance() {
    QPalette palette;
    const QColor window(0x2b, 0x2b, 0x2d), base(0x1e, 0x1e, 0x20), button(0x3a, 0x3a, 0x3c);
    const QColor text(0xf2, 0xf2, 0xf2), dimmed(0x8e, 0x8e, 0x93), highlight(0x2f, 0x65, 0xca);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, dimmed);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, highlight.lighter(140));
    palette.setColor(QPalette::Mid, button.darker(120));
    palette.setColor(QPalette::Dark, base.darker(130));
    palette.setColor(QPalette::Light, button.lighter(130));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dimmed);
    m_window->setPalette(palette);
    m_window->setAutoFillBackground(true);
}

void PopoverWindow::setContentViewController(ViewController *controller) {
    if (controller == m_controller.get())
        return;
    m_controller.reset(controller);
}

void PopoverWindow::showRelativeToRect(const QRect &anchor, Edge edge) {
    if (m_controller) {
        // The view loads when first shown; a controller set later brings its own.
        QWidget *view = m_controller->view();
        if (view->parentWidget() != m_window.get())
            m_window->layout()->addWidget(view);
        m_controller->viewWillAppear();
        // A hidden widget's layout waits until it shows, so fields changed while the popover was hidden
        // have not resized the view yet; placed at its old size, the popover would overhang the screen.
        if (QLayout *content = view->layout())
            content->activate();
    }
    m_window->adjustSize();

    m_anchor = anchor;
    m_edge = edge;
    place();
    m_window->show();
    if (!m_followsSize && m_window->windowHandle()) {
        // Fields that change while it is shown resize it; it stays beside its anchor and on the screen.
        const auto follow = [this] {
            if (m_window->isVisible())
                place();
        };
        QObject::connect(m_window->windowHandle(), &QWindow::widthChanged, m_window.get(), follow);
        QObject::connect(m_window->windowHandle(), &QWindow::heightChanged, m_window.get(), follow);
        m_followsSize = true;
    }
    m_window->raise();
    // Active, so that a click into another application deactivates us and closes it.
    m_window->activateWindow();
    forget();
    const auto &shown = shownPopovers();
    const auto owner = std::find_if(shown.rbegin(), shown.rend(), [&](const PopoverWindow *p) {
        return p->m_window->isVisible() && p->m_window->frameGeometry().contains(anchor.center());
    });
    m_owner = owner != shown.rend() ? *owner : nullptr;
    shownPopovers().push_back(this);
}

void PopoverWindow::close() {
    if (!m_window->isVisible())
        return;
    // A popover opened from a view in this one would be left pointing at nothing.
    for (PopoverWindow *other : std::vector(shownPopovers())) {
        if (other->m_owner == this)
            other->close();
    }
    const bool wasActive = m_window->isActiveWindow();
    m_window->hide();
    forget();
    // Hiding the active window leaves the application without one, which the event monitor takes
    // for a click elsewhere; another popover still shown takes the activation over instead.
    if (!wasActive)
        return;
    const auto &shown = shownPopovers();
    const auto other = std::find_if(shown.rbegin(), shown.rend(),
                                    [](const PopoverWindow *p) { return p->m_window->isVisible(); });
    if (other != shown.rend())
        (*other)->m_window->activateWindow();
}

void PopoverWindow::place() {
    const QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    m_window->move(placement(m_anchor, m_edge, m_window->size(), area));
}

bool PopoverWindow::isShown() const {
    return m_window->isVisible();
}

QPoint PopoverWindow::placement(const QRect &anchor, Edge edge, const QSize &size, const QRect &area) {
    QPoint position = edge == Edge::MaxY ? QPoint(anchor.right() + 1 - size.width(), anchor.bottom() + 1)
                                         : QPoint(anchor.right() + 1,
                                                  anchor.top() + anchor.height() / 2 - size.height() / 2);
    if (area.isValid()) {
        // Clamping alone would push the popover back over its anchor (and what the anchor belongs to).
        if (edge == Edge::MaxY && position.y() + size.height() > area.bottom() + 1 &&
            anchor.top() - size.height() >= area.top())
            position.setY(anchor.top() - size.height());
        if (edge == Edge::MaxX && position.x() + size.width() > area.right() + 1 &&
            anchor.left() - size.width() >= area.left())
            position.setX(anchor.left() - size.width());
        // Right and bottom first, so that a popover larger than the area keeps its top-left corner on it.
        position.setX(std::max(std::min(position.x(), area.right() + 1 - size.width()), area.left()));
        position.setY(std::max(std::min(position.y(), area.bottom() + 1 - size.height()), area.top()));
    }
    return position;
}
