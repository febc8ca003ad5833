#include "platform/SystemStatusBar.h"

#include "platform/PanelStatusItem.h"
#include "platform/StatusNotifierItem.h"
#include "platform/StripStatusItem.h"

#include <QDBusConnection>

std::unique_ptr<StatusItem> SystemStatusBar::statusItemWithLength(double length) {
    std::unique_ptr<StatusNotifierItem> notifierItem;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        notifierItem = std::make_unique<StatusNotifierItem>(length, bus);
    return std::make_unique<PanelStatusItem>(std::move(notifierItem),
                                             std::make_unique<StripStatusItem>(length));
}
