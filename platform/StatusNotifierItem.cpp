#include "platform/StatusNotifierItem.h"

#include "platform/PanelText.h"
#include "platform/StatusNotifierItemAdaptor.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemsProperty = QStringLiteral("RegisteredStatusNotifierItems");
// A registration that lasted this long was no failed set-up: later drops start a new series of retries.
constexpr qint64 stableRegistrationMs = 60000;

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

    m_reregistration = new QTimer(this);
    m_reregistration->setSingleShot(true);
    connect(m_reregistration, &QTimer::timeout, this, &StatusNotifierItem::registerWithWatcher);
    const QString watcher = QString::fromLatin1(watcherService);
    m_bus.connect(watcher, watcherPath, watcher, QStringLiteral("StatusNotifierItemUnregistered"), this,
                  SLOT(watcherUnregisteredItem(QString)));
    m_bus.connect(watcher, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"), this,
                  SLOT(watcherPropertiesChanged(QString, QVariantMap, QStringList)));
    m_watcher = new QDBusServiceWatcher(watcher, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                m_reregistration->stop();
                m_reregistrations = 0;
                m_listed = false;
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
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(watcherService), watcherPath,
                                                       QString::fromLatin1(watcherService),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    // Under the connection's unique name, not the well-known one: for a well-known name GNOME's AppIndicator
    // support starts a name watcher beside its first read of the item, and when the watcher reports the
    // name after that read has filled its cache it clears Id and Menu from the cache, fails its own check of
    // them a second later and drops the item. The unique name gets no such watcher.
    call << m_bus.baseService();
    m_listed = false;
    ++m_pendingRegistrations;
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        --m_pendingRegistrations;
        // Always told, so that a refusal brings the strip back even though nothing changed here.
        m_registered = !watcher->isError();
        if (m_registered)
            m_registeredFor.start();
        emit registeredChanged(m_registered);
    });
}

bool StatusNotifierItem::isOwnEntry(const QString &entry) const {
    for (const QString &name : {m_bus.baseService(), m_serviceName}) {
        if (!name.isEmpty() && entry.startsWith(name) &&
            (entry.size() == name.size() || entry.at(name.size()) == QLatin1Char('/') ||
             entry.at(name.size()) == QLatin1Char('@')))
            return true;
    }
    return false;
}

void StatusNotifierItem::watcherUnregisteredItem(const QString &item) {
    if (isOwnEntry(item))
        droppedByWatcher();
}

void StatusNotifierItem::watcherPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                                  const QStringList &invalidated) {
    if (interface != QLatin1String(watcherService))
        return;
    if (changed.contains(itemsProperty)) {
        watcherListed(changed.value(itemsProperty).toStringList());
        return;
    }
    if (!invalidated.contains(itemsProperty))
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(watcherService), watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(watcherService) << itemsProperty;
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (!reply.isError())
            watcherListed(reply.value().variant().toStringList());
    });
}

void StatusNotifierItem::watcherListed(const QStringList &items) {
    if (std::any_of(items.begin(), items.end(), [this](const QString &item) { return isOwnEntry(item); })) {
        m_listed = true;
        return;
    }
    // Only a list that had the item says it was dropped: watchers differ in how they name items.
    if (m_listed)
        droppedByWatcher();
}

void StatusNotifierItem::droppedByWatcher() {
    m_listed = false;
    // While a registration is on its way its answer decides. Watchers tell one drop both ways: the second
    // finds the item unregistered already.
    if (m_pendingRegistrations > 0 || !m_registered)
        return;
    if (m_registeredFor.elapsed() >= stableRegistrationMs)
        m_reregistrations = 0;
    setRegistered(false);
    if (m_reregistrations < maxReregistrations) {
        m_reregistration->start(m_reregistrationDelay << m_reregistrations);
        ++m_reregistrations;
    }
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
