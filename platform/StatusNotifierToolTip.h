#pragma once

#include "platform/StatusNotifierIconPixmap.h"

#include <QDBusArgument>
#include <QMetaType>
#include <QString>

// The tooltip of a StatusNotifierItem, D-Bus (sa(iiay)ss): icon name, icon pixmaps, title, description.
struct StatusNotifierToolTip {
    QString iconName;
    StatusNotifierIconPixmapList iconPixmaps;
    QString title;
    QString description;

    static void registerMetaType();
};

QDBusArgument &operator<<(QDBusArgument &argument, const StatusNotifierToolTip &toolTip);
const QDBusArgument &operator>>(const QDBusArgument &argument, StatusNotifierToolTip &toolTip);

Q_DECLARE_METATYPE(StatusNotifierToolTip)
