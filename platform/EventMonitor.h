#pragma once

#include <functional>

// Runs a handler for left-mouse-down events that go to other applications.
class EventMonitor {
public:
    virtual ~EventMonitor() = default;
    virtual void addGlobalMonitorForLeftMouseDown(std::function<void()> handler) = 0;
};
