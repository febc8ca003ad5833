#pragma once

#include "platform/EventMonitor.h"
#include "support/CallJournal.h"

#include <functional>
#include <vector>

// Lets a test play a left click in another application.
class FakeEventMonitor : public EventMonitor {
public:
    void addGlobalMonitorForLeftMouseDown(std::function<void()> handler) override {
        if (journal)
            journal->note(QStringLiteral("monitor"));
        handlers.push_back(std::move(handler));
    }
    void clickElsewhere() const {
        for (const auto &handler : handlers)
            handler();
    }

    std::vector<std::function<void()>> handlers;
    CallJournal *journal = nullptr;
};
