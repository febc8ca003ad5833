#include "TestStatusNotifierWatcher.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <cstdio>

namespace {

const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

void printLine(const QString &line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

TestStatusNotifierWatcher::TestStatusNotifierWatcher(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus) {}

bool TestStatusNotifierWatcher::publish() {
    return m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                    QDBusConnection::ExportAllProperties) &&
           m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

QStringList TestStatusNotifierWatcher::registeredItems() const {
    return m_service.isEmpty() ? QStringList() : QStringList{m_service + m_path};
}

void TestStatusNotifierWatcher::RegisterStatusNotifierItem(const QString &serviceOrPath) {
    // Items pass either their bus name or, as some do, only their object path.
    const bool isPath = serviceOrPath.startsWith(QLatin1Char('/'));
    const QString service = isPath ? message().service() : serviceOrPath;
    const QString path = isPath ? serviceOrPath : QStringLiteral("/StatusNotifierItem");
    if (!m_service.isEmpty())
        m_bus.disconnect(m_service, m_path, itemInterface, QStringLiteral("XAyatanaNewLabel"), this,
                         SLOT(labelChanged()));
    m_service = service;
    m_path = path;
    m_bus.connect(m_service, m_path, itemInterface, QStringLiteral("XAyatanaNewLabel"), this,
                  SLOT(labelChanged()));

    auto *gone = new QDBusServiceWatcher(service, m_bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(gone, &QDBusServiceWatcher::serviceUnregistered, this, [this, gone](const QString &name) {
        gone->deleteLater();
        printLine(QStringLiteral("unregistered ") + name);
        if (name == m_service)
            m_service.clear();
    });

    printLine(QStringLiteral("registered ") + service);
    emit StatusNotifierItemRegistered(service + path);
    readLabel();
}

void TestStatusNotifierWatcher::RegisterStatusNotifierHost(const QString &) {
    emit StatusNotifierHostRegistered();
}

void TestStatusNotifierWatcher::labelChanged() {
    readLabel();
}

void TestStatusNotifierWatcher::readLabel() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        m_service, m_path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << itemInterface << QStringLiteral("XAyatanaLabel");
    // Labels are printed in the order they were asked for: replies on one connection arrive in order.
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        QDBusPendingReply<QDBusVariant> reply = *watcher;
        if (reply.isError())
            printLine(QStringLiteral("error ") + reply.error().name());
        else
            printLine(QStringLiteral("label ") + reply.value().variant().toString());
    });
}

void TestStatusNotifierWatcher::activate(const QString &method, int x, int y) {
    if (m_service.isEmpty()) {
        printLine(QStringLiteral("error no item"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_path, itemInterface, method);
    call << x << y;
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        printLine(watcher->isError() ? QStringLiteral("error ") + watcher->error().name()
                                     : QStringLiteral("activated"));
    });
}
