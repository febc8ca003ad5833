#include "platform/StatusNotifierIconPixmap.h"

#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

StatusNotifierIconPixmap StatusNotifierIconPixmap::fromImage(const QImage &image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    StatusNotifierIconPixmap pixmap;
    pixmap.width = argb.width();
    pixmap.height = argb.height();
    pixmap.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
    uchar *out = reinterpret_cast<uchar *>(pixmap.bytes.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto *line = reinterpret_cast<const quint32 *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4)
            qToBigEndian<quint32>(line[x], out);
    }
    return pixmap;
}

void StatusNotifierIconPixmap::registerMetaTypes() {
    qDBusRegisterMetaType<StatusNotifierIconPixmap>();
    qDBusRegisterMetaType<StatusNotifierIconPixmapList>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const StatusNotifierIconPixmap &pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, StatusNotifierIconPixmap &pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}
