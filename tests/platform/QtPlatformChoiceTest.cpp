#include "platform/QtPlatformChoice.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace {
QMap<QByteArray, QByteArray> environment(std::initializer_list<std::pair<const char *, const char *>> set) {
    QMap<QByteArray, QByteArray> map;
    for (const auto &[name, value] : set)
        map.insert(name, value);
    return map;
}
} // namespace

TEST(QtPlatformChoice, RunsThroughXWaylandOnlyWhereTheSessionOffersItAndTheUserChoseNothing) {
    struct Case {
        const char *session;
        QMap<QByteArray, QByteArray> environment;
        const char *choice; // nullptr: Qt's own choice
    };
    const Case cases[] = {
        {"X11", environment({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}), nullptr},
        {"X11 without a session type", environment({{"DISPLAY", ":0"}}), nullptr},
        {"nothing set", environment({}), nullptr},
        {"GNOME on Wayland",
         environment({{"WAYLAND_DISPLAY", "wayland-0"},
                      {"DISPLAY", ":0"},
                      {"XDG_SESSION_TYPE", "wayland"},
                      {"XDG_CURRENT_DESKTOP", "GNOME"}}),
         "xcb;wayland"},
        {"a compositor without a session type",
         environment({{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}}), "xcb;wayland"},
        // Qt takes the session type alone for Wayland, on the default socket.
        {"Wayland session type, default socket",
         environment({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}}), "xcb;wayland"},
        {"Wayland without XWayland",
         environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_SESSION_TYPE", "wayland"}}), nullptr},
        {"Wayland session type without XWayland", environment({{"XDG_SESSION_TYPE", "wayland"}}), nullptr},
        // Set but empty still reads as offered to Qt; the fallback to Wayland covers it.
        {"Wayland, DISPLAY empty", environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}),
         "xcb;wayland"},
        {"user chose wayland",
         environment({{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}),
         nullptr},
        {"user chose xcb",
         environment({{"QT_QPA_PLATFORM", "xcb"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}),
         nullptr},
        {"user chose offscreen on X11", environment({{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":0"}}),
         nullptr},
        // An empty QT_QPA_PLATFORM is no choice: Qt ignores it too.
        {"QT_QPA_PLATFORM empty",
         environment({{"QT_QPA_PLATFORM", ""}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}),
         "xcb;wayland"},
        {"text console with a stale DISPLAY", environment({{"XDG_SESSION_TYPE", "tty"}, {"DISPLAY", ":0"}}),
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.session);
        const std::optional<QByteArray> choice = QtPlatformChoice::forEnvironment(c.environment);
        if (c.choice == nullptr) {
            EXPECT_FALSE(choice.has_value()) << choice->constData();
        } else {
            ASSERT_TRUE(choice.has_value());
            EXPECT_EQ(*choice, c.choice);
        }
    }
}

TEST(QtPlatformChoice, ReadsTheSetVariablesOfTheProcess) {
    const QByteArray names[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "DISPLAY"};
    QMap<QByteArray, QByteArray> saved;
    for (const QByteArray &name : names) {
        if (qEnvironmentVariableIsSet(name.constData()))
            saved.insert(name, qgetenv(name.constData()));
    }
    qunsetenv("QT_QPA_PLATFORM");
    qputenv("WAYLAND_DISPLAY", "wayland-7");
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("DISPLAY", "");
    const QMap<QByteArray, QByteArray> read = QtPlatformChoice::currentEnvironment();
    for (const QByteArray &name : names) {
        if (saved.contains(name))
            qputenv(name.constData(), saved.value(name));
        else
            qunsetenv(name.constData());
    }
    EXPECT_EQ(
        read,
        environment({{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ""}}));
}
