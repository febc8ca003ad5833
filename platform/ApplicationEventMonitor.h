#pragma once

#include "platform/EventMonitor.h"

#include <QObject>

#include <functional>
#include <vector>

// Clicks in other applications, as far as the display server lets an application see them: neither
// X11 nor Wayland reports another client's clicks to us, but both move activation to the application
// clicked into. The handlers run when this application stops being the active one.
class ApplicationEventMonitor : public QObject, public EventMonitor {
    Q_OBJECT
public:
    explicit ApplicationEventMonitor(QObject *parent = nullptr);

    void addGlobalMonitorForLeftMouseDown(std::function<void()> handler) override;

private:
    void applicationStateChanged(Qt::ApplicationState state);

    Qt::ApplicationState m_state;
    std::vector<std::function<void()>> m_handlers;
};
