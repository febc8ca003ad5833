#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>

class QImage;

// One icon size as StatusNotifierItem hosts read it: D-Bus (iiay), pixels ARGB32 in network byte order.
struct StatusNotifierIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;

    static StatusNotifierIconPixmap fromImage(const QImage &image);
    // Registers this type and its list with QtDBus; needed before an object using them is exported.
    static void registerMetaTypes();
};

using StatusNotifierIconPixmapList = QList<StatusNotifierIconPixmap>;

QDBusArgument &operator<<(QDBusArgument &argument, const StatusNotifierIconPixmap &pixmap);
const QDBusArgument &operator>>(const QDBusArgument &argument, StatusNotifierIconPixmap &pixmap);

Q_DECLARE_METATYPE(StatusNotifierIconPixmap)
