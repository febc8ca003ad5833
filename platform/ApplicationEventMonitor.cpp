#include "platform/ApplicationEventMonitor.h"

#include <QGuiApplication>

ApplicationEventMonitor::ApplicationEventMonitor(QObject *parent)
    : QObject(parent)
    , m_state(QGuiApplication::applicationState()) {
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &ApplicationEventMonitor::applicationStateChanged);
}

void ApplicationEventMonitor::addGlobalMonitorForLeftMouseDown(std::function<void()> handler) {
    m_handlers.push_back(std::move(handler));
}

void ApplicationEventMonitor::applicationStateChanged(Qt::ApplicationState state) {
    const bool wasActive = m_state == Qt::ApplicationActive;
    m_state = state;
    if (!wasActive || state == Qt::ApplicationActive)
        return;
    // A handler may add another handler; run the ones there were.
    const std::vector<std::function<void()>> handlers = m_handlers;
    for (const auto &handler : handlers)
        handler();
}
