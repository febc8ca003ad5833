#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

// org.kde.StatusNotifierWatcher for tests. Prints one line per event on standard output:
//   "registered <service>"  an item registered
//   "label <text>"          the item's XAyatanaLabel, read on registration and after each XAyatanaNewLabel
//   "unregistered <service>" the item left the bus
//   "activated" / "error <name>"  the answer to an activation asked for with activate()
class TestStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit TestStatusNotifierWatcher(const QDBusConnection &bus, QObject *parent = nullptr);

    // Takes the watcher's name and object on the bus.
    bool publish();
    // Calls `method` (Activate, SecondaryActivate or ContextMenu) with (x, y) on the last item registered.
    void activate(const QString &method, int x, int y);

    QStringList registeredItems() const;
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString &serviceOrPath);
    void RegisterStatusNotifierHost(const QString &service);

signals:
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierItemUnregistered(const QString &item);
    void StatusNotifierHostRegistered();

private slots:
    void labelChanged();

private:
    void readLabel();

    QDBusConnection m_bus;
    QString m_service;
    QString m_path;
};
