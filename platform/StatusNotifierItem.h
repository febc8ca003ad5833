#pragma once

#include "platform/StatusItem.h"
#include "platform/StatusNotifierIconPixmap.h"
#include "platform/StatusNotifierToolTip.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <optional>

class QDBusServiceWatcher;
class QTimer;
class StatusNotifierItemAdaptor;

// The panel item as a freedesktop StatusNotifierItem. The title travels as the Ayatana label (drawn as
// text by GNOME's AppIndicator support and Budgie) and as the tooltip; hosts without labels show the
// icon. The item owns a name org.kde.StatusNotifierItem-<pid>-<n>, registers with
// org.kde.StatusNotifierWatcher under its connection's unique name, and again whenever a watcher appears, or
// when the watcher drops it while still running (StatusNotifierItemUnregistered, or left out of
// RegisteredStatusNotifierItems): after a second, then after twice as long each time, at most
// maxReregistrations times in a row.
//
// Length: hosts size the label themselves. The item's length becomes XAyatanaLabelGuide, a run of "0"
// as wide as the length in the panel font, which hosts use to reserve the label's width.
class StatusNotifierItem : public QObject, public StatusItem, public StatusButton {
    Q_OBJECT
public:
    static constexpr const char *watcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char *objectPath = "/StatusNotifierItem";
    static constexpr int maxReregistrations = 5;

    explicit StatusNotifierItem(double length, const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);
    ~StatusNotifierItem() override;

    StatusButton *button() override { return this; }
    void setLength(double points) override;
    double length() const override { return m_length; }

    void setTitle(const QString &title) override;
    QString title() const override { return m_title; }
    QSizeF sizeThatFits(const QSizeF &proposed) const override;
    void setAction(std::function<void()> action) override { m_action = std::move(action); }
    // A small rectangle at the point of the last activation; the top-right corner of the primary screen
    // before the first one.
    QRect bounds() const override;

    // The bus took our name and object (false without a session bus).
    bool isExported() const { return m_exported; }
    // A watcher accepted the item.
    bool isRegistered() const { return m_registered; }
    bool isWatcherPresent() const;
    QString serviceName() const { return m_serviceName; }
    // The wait before the first new registration after a drop.
    void setReregistrationDelay(int msecs) { m_reregistrationDelay = msecs; }

    // Published through the adaptor.
    QString label() const;
    QString labelGuide() const { return m_guide; }
    StatusNotifierIconPixmapList iconPixmaps() const { return m_icon; }
    StatusNotifierToolTip toolTip() const;
    // A host asks for the item's window at (x, y), in the display server's pixels.
    void activate(int x, int y);

    // Where a point in the display server's pixels lies in Qt's device-independent coordinates.
    static QPoint logicalPoint(const QPoint &nativePoint);

signals:
    // After every answer to a registration, and when the watcher goes away or drops the item.
    void registeredChanged(bool registered);

private slots:
    void watcherUnregisteredItem(const QString &item);
    void watcherPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated);

private:
    void registerWithWatcher();
    void setRegistered(bool registered);
    // Whether an entry of the watcher's (a bus name, "name/path" or "name@path") is this item.
    bool isOwnEntry(const QString &entry) const;
    void watcherListed(const QStringList &items);
    void droppedByWatcher();

    QDBusConnection m_bus;
    QString m_serviceName;
    bool m_exported = false;
    bool m_registered = false;
    StatusNotifierItemAdaptor *m_adaptor = nullptr; // child
    QDBusServiceWatcher *m_watcher = nullptr;       // child
    QTimer *m_reregistration = nullptr;             // child
    int m_pendingRegistrations = 0;
    // The watcher's list had the item since it last registered.
    bool m_listed = false;
    int m_reregistrations = 0; // in a row
    QElapsedTimer m_registeredFor;
    QString m_title;
    QString m_label;
    QString m_guide;
    double m_length = 0;
    std::function<void()> m_action;
    std::optional<QPoint> m_anchor;
    StatusNotifierIconPixmapList m_icon;
    int m_reregistrationDelay = 1000;
};
