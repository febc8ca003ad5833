#include "platform/StatusNotifierItem.h"

#include "platform/PanelText.h"
#include "platform/StatusNotifierItemAdaptor.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// A white drop on a green disc, drawn at each size hosts commonly ask for.
StatusNotifierIconPixmapList makeIcon() {
    StatusNotifierIconPixmapList icon;
    for (int size : {16, 22, 32}) {
        QImage image(size, size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2e, 0x9d, 0x5b));
        painter.drawEllipse(QRectF(0, 0, size, size));
        const double s = size;
        QPainterPath drop;
        drop.moveTo(s * 0.5, s * 0.18);
        drop.cubicTo(s * 0.62, s * 0.38, s * 0.72, s * 0.5, s * 0.72, s * 0.6);
        drop.arcTo(QRectF(s * 0.28, s * 0.38, s * 0.44, s * 0.44), 0, -180);
        drop.cubicTo(s * 0.28, s * 0.5, s * 0.38, s * 0.38, s * 0.5, s * 0.18);
        painter.setBrush(Qt::white);
        painter.drawPath(drop);
        painter.end();
        icon.append(StatusNotifierIconPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(double length, const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_icon(makeIcon()) {
    static int instances = 0;
    m_serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(QCoreApplication::applicationPid())
                        .arg(++instances);
    setLength(length);

    StatusNotifierIconPixmap::registerMetaTypes();
    StatusNotifierToolTip::registerMetaType();
    m_adaptor = new StatusNotifierItemAdaptor(this);
    if (!m_bus.isConnected())
        return;
    m_exported =
        m_bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors) &&
        m_bus.registerService(m_serviceName);
    if (!m_exported)
        return;

    m_watcher = new QDBusServiceWatcher(QString::fromLatin1(watcherService), m_bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                setRegistered(false);
                if (!newOwner.isEmpty())
                    registerWithWatcher();
            });
    if (isWatcherPresent())
        registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (m_exported) {
        m_bus.unregisterService(m_serviceName);
        m_bus.unregisterObject(QString::fromLatin1(objectPath));
    }
}

bool StatusNotifierItem::isWatcherPresent() const {
    return m_bus.isConnected() && m_bus.interface() &&
           m_bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value();
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), QStringLiteral("/StatusNotifierWatcher"),
        QString::fromLatin1(watcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        // Always told, so that a refusal brings the strip back even though nothing changed here.
        m_registered = !watcher->isError();
        emit registeredChanged(m_registered);
    });
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered == m_registered)
        return;
    m_registered = registered;
    emit registeredChanged(registered);
}

void StatusNotifierItem::setLength(double points) {
    m_length = points;
    const QString guide = PanelText::guide(points);
    if (guide == m_guide)
        return;
    m_guide = guide;
    if (m_adaptor)
        emit m_adaptor->XAyatanaNewLabel(m_label, m_guide);
}

void StatusNotifierItem::setTitle(const QString &title) {
    m_title = title;
    const QString label = PanelText::displayed(title);
    // The title is set twice per refresh, mostly unchanged: only a change is worth a signal.
    if (label == m_label)
        return;
    m_label = label;
    emit m_adaptor->NewTitle();
    emit m_adaptor->NewToolTip();
    emit m_adaptor->XAyatanaNewLabel(m_label, m_guide);
}

QSizeF StatusNotifierItem::sizeThatFits(const QSizeF &proposed) const {
    const QSizeF size = PanelText::size(m_title);
    return {std::min(size.width(), proposed.width()), std::min(size.height(), proposed.height())};
}

QRect StatusNotifierItem::bounds() const {
    if (m_anchor)
        return QRect(*m_anchor, QSize(1, 1));
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect geometry = screen->geometry();
    return QRect(QPoint(geometry.right(), geometry.top()), QSize(1, 1));
}

QString StatusNotifierItem::label() const {
    return m_label;
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const {
    return {QString(), {}, m_label, QString()};
}

void StatusNotifierItem::activate(int x, int y) {
    m_anchor = logicalPoint(QPoint(x, y));
    // Answer the host first; the action opens windows.
    QTimer::singleShot(0, this, [this] {
        if (m_action)
            m_action();
    });
}

QPoint StatusNotifierItem::logicalPoint(const QPoint &nativePoint) {
    // Qt keeps each screen's top-left corner at its native position and scales the rest.
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        const QRect native(logical.topLeft(), (QSizeF(logical.size()) * ratio).toSize());
        if (native.contains(nativePoint)) {
            // The logical pixel that holds the native one: never rounded off the screen's edge.
            const QPointF offset = QPointF(nativePoint - logical.topLeft()) / ratio;
            return logical.topLeft() + QPoint(int(std::floor(offset.x())), int(std::floor(offset.y())));
        }
    }
    return nativePoint;
}
