#include "platform/PanelStatusItem.h"

#include "platform/StatusNotifierItem.h"
#include "platform/StripStatusItem.h"

PanelStatusItem::PanelStatusItem(std::unique_ptr<StatusNotifierItem> notifierItem,
                                 std::unique_ptr<StripStatusItem> strip)
    : m_notifierItem(std::move(notifierItem))
    , m_strip(std::move(strip)) {
    if (m_notifierItem) {
        connect(m_notifierItem.get(), &StatusNotifierItem::registeredChanged, this,
                [this](bool registered) { m_strip->setVisible(!registered); });
    }
    // While a watcher is answering our registration, showing the strip would only flash it.
    m_strip->setVisible(
        !(m_notifierItem && m_notifierItem->isExported() && m_notifierItem->isWatcherPresent()));
}

PanelStatusItem::~PanelStatusItem() = default;

bool PanelStatusItem::hostShowsItem() const {
    return m_notifierItem && m_notifierItem->isRegistered();
}

void PanelStatusItem::setLength(double points) {
    if (m_notifierItem)
        m_notifierItem->setLength(points);
    m_strip->setLength(points);
}

double PanelStatusItem::length() const {
    return m_strip->length();
}

void PanelStatusItem::setTitle(const QString &title) {
    if (m_notifierItem)
        m_notifierItem->setTitle(title);
    m_strip->setTitle(title);
}

QString PanelStatusItem::title() const {
    return m_strip->title();
}

QSizeF PanelStatusItem::sizeThatFits(const QSizeF &proposed) const {
    return m_strip->sizeThatFits(proposed);
}

void PanelStatusItem::setAction(std::function<void()> action) {
    if (m_notifierItem)
        m_notifierItem->setAction(action);
    m_strip->setAction(std::move(action));
}

QRect PanelStatusItem::bounds() const {
    return hostShowsItem() ? m_notifierItem->bounds() : m_strip->bounds();
}

bool PanelStatusItem::isStripShown() const {
    return m_strip->isVisible();
}
