#pragma once

#include <QByteArray>
#include <QMap>

#include <optional>

// The Qt platform plugin the program asks for, decided from the session's environment before the
// application object exists. On Wayland a top-level window cannot place itself, so the popover could
// not open under its label there; where the session also offers XWayland, the program runs as an X
// client instead. A platform the user chose (QT_QPA_PLATFORM) stands.
class QtPlatformChoice {
public:
    // `environment`: the variables that are set, by name. Returns the value for QT_QPA_PLATFORM, or
    // nothing to leave Qt's own choice.
    static std::optional<QByteArray> forEnvironment(const QMap<QByteArray, QByteArray> &environment);
    // The variables forEnvironment reads, from this process's environment.
    static QMap<QByteArray, QByteArray> currentEnvironment();
};
