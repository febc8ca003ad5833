#pragma once

#include <QByteArray>

#include <sys/types.h>

// A dbus-daemon of our own, so tests never touch the user's session bus.
class PrivateSessionBus {
public:
    // Starts the daemon; address() is empty when that failed.
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    QByteArray address() const { return m_address; }

private:
    QByteArray m_address;
    pid_t m_pid = 0;
};
