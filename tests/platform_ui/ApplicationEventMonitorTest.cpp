#include "platform/ApplicationEventMonitor.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ApplicationEventMonitor, RunsTheHandlersWhenTheApplicationStopsBeingActive) {
    // Each case starts with Active, whatever the real state was when the monitor was made.
    const struct {
        const char *what;
        std::vector<Qt::ApplicationState> states;
        int expectedRuns;
    } cases[] = {
        {"active, then inactive", {Qt::ApplicationActive, Qt::ApplicationInactive}, 1},
        {"active, then hidden", {Qt::ApplicationActive, Qt::ApplicationHidden}, 1},
        {"inactive twice", {Qt::ApplicationActive, Qt::ApplicationInactive, Qt::ApplicationInactive}, 1},
        {"active twice", {Qt::ApplicationActive, Qt::ApplicationActive}, 0},
        {"two clicks outside",
         {Qt::ApplicationActive, Qt::ApplicationInactive, Qt::ApplicationActive, Qt::ApplicationInactive},
         2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ApplicationEventMonitor monitor;
        int first = 0, second = 0;
        monitor.addGlobalMonitorForLeftMouseDown([&] { ++first; });
        monitor.addGlobalMonitorForLeftMouseDown([&] { ++second; });
        for (Qt::ApplicationState state : c.states)
            emit qGuiApp->applicationStateChanged(state);
        EXPECT_EQ(first, c.expectedRuns);
        EXPECT_EQ(second, c.expectedRuns);
    }
}

} // namespace
