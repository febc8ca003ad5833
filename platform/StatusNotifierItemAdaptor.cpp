#include "platform/StatusNotifierItemAdaptor.h"

#include "platform/StatusNotifierItem.h"

StatusNotifierItemAdaptor::StatusNotifierItemAdaptor(StatusNotifierItem *item)
    : QDBusAbstractAdaptor(item)
    , m_item(item) {
    // Properties are read on demand; the signals tell hosts when to read again.
    setAutoRelaySignals(false);
}

QString StatusNotifierItemAdaptor::title() const {
    return m_item->label();
}
StatusNotifierIconPixmapList StatusNotifierItemAdaptor::iconPixmap() const {
    return m_item->iconPixmaps();
}
StatusNotifierToolTip StatusNotifierItemAdaptor::toolTip() const {
    return m_item->toolTip();
}
QString StatusNotifierItemAdaptor::label() const {
    return m_item->label();
}
QString StatusNotifierItemAdaptor::labelGuide() const {
    return m_item->labelGuide();
}

void StatusNotifierItemAdaptor::Activate(int x, int y) {
    m_item->activate(x, y);
}
void StatusNotifierItemAdaptor::SecondaryActivate(int x, int y) {
    m_item->activate(x, y);
}
void StatusNotifierItemAdaptor::ContextMenu(int x, int y) {
    m_item->activate(x, y);
}
void StatusNotifierItemAdaptor::Scroll(int, const QString &) {}
