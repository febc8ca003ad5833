#include "platform/NotificationCenter.h"

#include <algorithm>

NotificationCenter &NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(QObject *context, const QString &name, std::function<void()> handler) {
    m_observers.push_back({context, name, std::move(handler)});
}

void NotificationCenter::postNotificationName(const QString &name) {
    std::erase_if(m_observers, [](const Observer &o) { return o.context.isNull(); });
    // A handler may add observers while we deliver; iterate over a copy of the current list.
    const std::vector<Observer> observers = m_observers;
    for (const Observer &o : observers) {
        if (o.name == name && !o.context.isNull())
            o.handler();
    }
}

bool NotificationCenter::isObserving(const QObject *context, const QString &name) const {
    return std::any_of(m_observers.begin(), m_observers.end(), [&](const Observer &o) {
        return !o.context.isNull() && o.context == context && o.name == name;
    });
}
