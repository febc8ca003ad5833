#include "FakeStatusNotifierWatcher.h"

#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTest>
#include <QTimer>

namespace {

QString nextConnectionName() {
    static int connections = 0;
    return QStringLiteral("fake-watcher-%1").arg(++connections);
}

} // namespace

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher()
    : m_connectionName(nextConnectionName())
    , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName)) {
    m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

FakeStatusNotifierWatcher::~FakeStatusNotifierWatcher() {
    vanish();
    m_bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool FakeStatusNotifierWatcher::appear() {
    return m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::vanish() {
    m_bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void FakeStatusNotifierWatcher::RegisterStatusNotifierItem(const QString &service) {
    m_registrations.append(service);
    if (m_refuse) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("refused"));
        return;
    }
    const QString id = itemId(service);
    QStringList items = m_items;
    if (!items.contains(id))
        items.append(id);
    publishItems(items);
    // After the reply, which goes out when this returns.
    if (m_dropAll)
        QTimer::singleShot(0, this, [this, id] { unregister(id); });
}

QString FakeStatusNotifierWatcher::itemId(const QString &service) {
    return service.startsWith(QLatin1Char(':')) ? service + QStringLiteral("@/StatusNotifierItem") : service;
}

void FakeStatusNotifierWatcher::unregister(const QString &id) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"),
                                                     QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                     QStringLiteral("StatusNotifierItemUnregistered"));
    signal << id;
    m_bus.send(signal);
    QStringList items = m_items;
    items.removeAll(id);
    publishItems(items);
}

void FakeStatusNotifierWatcher::publishItems(const QStringList &items, bool withValue) {
    m_items = items;
    const QString property = QStringLiteral("RegisteredStatusNotifierItems");
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/StatusNotifierWatcher"),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.kde.StatusNotifierWatcher")
           << (withValue ? QVariantMap{{property, items}} : QVariantMap())
           << (withValue ? QStringList() : QStringList{property});
    m_bus.send(signal);
}

void FakeStatusNotifierWatcher::follow(const QString &service) {
    m_bus.connect(service, QStringLiteral("/StatusNotifierItem"),
                  QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("XAyatanaNewLabel"), this,
                  SLOT(newLabel(QString, QString)));
}

void FakeStatusNotifierWatcher::newLabel(const QString &label, const QString &guide) {
    m_newLabels.append({label, guide});
}

QDBusMessage FakeStatusNotifierWatcher::waitForReply(const QDBusMessage &call) {
    // The item answers from this thread's event loop, so wait while running it.
    QDBusPendingCall pending = m_bus.asyncCall(call);
    return QTest::qWaitFor([&] { return pending.isFinished(); }, 5000) ? pending.reply() : QDBusMessage();
}

QVariant FakeStatusNotifierWatcher::itemProperty(const QString &service, const QString &name) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusMessage reply = waitForReply(get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

QDBusMessage FakeStatusNotifierWatcher::callItem(const QString &service, const QString &method,
                                                 const QVariantList &arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/StatusNotifierItem"),
                                                       QStringLiteral("org.kde.StatusNotifierItem"), method);
    call.setArguments(arguments);
    return waitForReply(call);
}
