#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// org.kde.StatusNotifierWatcher on its own connection to the test bus, recording what items do.
class FakeStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
public:
    FakeStatusNotifierWatcher();
    ~FakeStatusNotifierWatcher() override;

    // Takes or releases the watcher's well-known name.
    bool appear();
    void vanish();

    QStringList registrations() const { return m_registrations; }
    // Answers further registrations with an error, as a host that refuses the item does.
    void refuseRegistrations() { m_refuse = true; }
    QList<QPair<QString, QString>> newLabels() const { return m_newLabels; }

    // The items as GNOME's AppIndicator support lists them: a unique bus name as ":1.5@/StatusNotifierItem",
    // a well-known name as it is.
    QStringList registeredItems() const { return m_items; }
    static QString itemId(const QString &service);
    // Drops an item as a host does: StatusNotifierItemUnregistered(id), then the list without it.
    void unregister(const QString &id);
    // Announces the list of items: PropertiesChanged with the new value, or with the property only
    // invalidated.
    void publishItems(const QStringList &items, bool withValue = true);
    // Drops every item just after accepting it, as a host that fails to set the item up does.
    void dropEveryRegistration() { m_dropAll = true; }

    // Follows XAyatanaNewLabel of the item at `service`.
    void follow(const QString &service);
    // A property of the item at `service`, read over the bus; invalid on error.
    QVariant itemProperty(const QString &service, const QString &name);
    // Calls a method of the item over the bus and waits for the reply.
    QDBusMessage callItem(const QString &service, const QString &method, const QVariantList &arguments);

public slots:
    void RegisterStatusNotifierItem(const QString &service);

private slots:
    void newLabel(const QString &label, const QString &guide);

private:
    QDBusMessage waitForReply(const QDBusMessage &call);

    QString m_connectionName;
    QDBusConnection m_bus;
    QStringList m_registrations;
    bool m_refuse = false;
    bool m_dropAll = false;
    QStringList m_items;
    QList<QPair<QString, QString>> m_newLabels;
};
