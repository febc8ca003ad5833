#include "platform/QtPlatformChoice.h"

#include <QtGlobal>

namespace {
const char *const variables[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "DISPLAY"};
}

std::optional<QByteArray> QtPlatformChoice::forEnvironment(const QMap<QByteArray, QByteArray> &environment) {
    // Qt itself ignores an empty QT_QPA_PLATFORM, and counts a set WAYLAND_DISPLAY or DISPLAY even when
    // empty.
    if (!environment.value("QT_QPA_PLATFORM").isEmpty())
        return std::nullopt;
    const bool wayland =
        environment.contains("WAYLAND_DISPLAY") || environment.value("XDG_SESSION_TYPE") == "wayland";
    if (!wayland || !environment.contains("DISPLAY"))
        return std::nullopt;
    // Should the X server not answer after all, Wayland still beats not starting.
    return QByteArray("xcb;wayland");
}

QMap<QByteArray, QByteArray> QtPlatformChoice::currentEnvironment() {
    QMap<QByteArray, QByteArray> environment;
    for (const char *name : variables) {
        if (qEnvironmentVariableIsSet(name))
            environment.insert(name, qgetenv(name));
    }
    return environment;
}
