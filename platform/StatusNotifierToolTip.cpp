#include "platform/StatusNotifierToolTip.h"

#include <QDBusMetaType>

void StatusNotifierToolTip::registerMetaType() {
    qDBusRegisterMetaType<StatusNotifierToolTip>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const StatusNotifierToolTip &toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.iconPixmaps << toolTip.title << toolTip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, StatusNotifierToolTip &toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.iconPixmaps >> toolTip.title >> toolTip.description;
    argument.endStructure();
    return argument;
}
