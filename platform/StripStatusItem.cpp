#include "platform/StripStatusItem.h"

#include "platform/PanelText.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
constexpr int horizontalPadding = 2;
}

StripStatusItem::StripStatusItem(double length)
    : m_window(std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                      Qt::WindowStaysOnTopHint |
                                                      Qt::WindowDoesNotAcceptFocus)) {
    m_window->setObjectName(QStringLiteral("gweibarStrip"));
    m_window->setWindowTitle(QStringLiteral("gweibar"));
    m_button = new QPushButton(m_window.get());
    m_button->setFlat(true);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 0px %1px; }").arg(horizontalPadding));
    QObject::connect(m_button, &QPushButton::clicked, m_window.get(), [this] {
        if (m_action)
            m_action();
    });
    if (QScreen *screen = QGuiApplication::primaryScreen())
        QObject::connect(screen, &QScreen::availableGeometryChanged, m_window.get(), [this] { layOut(); });
    m_length = length;
    layOut();
}

StripStatusItem::~StripStatusItem() = default;

void StripStatusItem::setLength(double points) {
    // Set twice per refresh, mostly to the same length; laying out again would measure the title again.
    if (points == m_length)
        return;
    m_length = points;
    layOut();
}

void StripStatusItem::setTitle(const QString &title) {
    if (title == m_title)
        return;
    m_title = title;
    layOut();
}

QSizeF StripStatusItem::sizeThatFits(const QSizeF &proposed) const {
    const QSizeF size = PanelText::size(m_title);
    return {std::min(size.width(), proposed.width()), std::min(size.height(), proposed.height())};
}

QRect StripStatusItem::bounds() const {
    return QRect(m_button->mapToGlobal(QPoint(0, 0)), m_button->size());
}

void StripStatusItem::setVisible(bool visible) {
    if (visible) {
        layOut();
        m_window->show();
        m_window->raise();
    } else {
        m_window->hide();
    }
}

bool StripStatusItem::isVisible() const {
    return m_window->isVisible();
}

QString StripStatusItem::shownText() const {
    return m_button->text();
}

void StripStatusItem::layOut() {
    const QFontMetricsF metrics(m_button->font());
    // A length beyond what a title may take would only push the strip across the screen.
    const int width = std::max(1, int(std::ceil(std::clamp(m_length, 0.0, PanelText::maxWidth + 5.0))));
    const int height = int(std::ceil(metrics.height())) + 4;
    // The item's length is the title's width plus a margin, so the title mostly fits: then eliding
    // would return it as it is, and its width is known without shaping it again.
    const qreal room = width - 2 * horizontalPadding;
    const QString &displayed = PanelText::displayed(m_title);
    const bool fits = m_button->font() == QGuiApplication::font() &&
                      PanelText::size(m_title).width() <= room && !displayed.contains(QChar(0x9c));
    m_button->setText(fits ? displayed : metrics.elidedText(displayed, Qt::ElideRight, room));
    m_button->setGeometry(0, 0, width, height);
    m_window->setFixedSize(width, height);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window->move(area.right() + 1 - width, area.top());
    }
}
