#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

// Observers by name; post delivers synchronously, in registration order, before it returns.
class NotificationCenter {
public:
    static NotificationCenter &defaultCenter();

    // The observer is dropped when `context` is destroyed.
    void addObserver(QObject *context, const QString &name, std::function<void()> handler);
    void postNotificationName(const QString &name);
    bool isObserving(const QObject *context, const QString &name) const;

private:
    struct Observer {
        QPointer<QObject> context;
        QString name;
        std::function<void()> handler;
    };
    std::vector<Observer> m_observers;
};
