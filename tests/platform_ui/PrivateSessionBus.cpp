#include "PrivateSessionBus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

PrivateSessionBus::PrivateSessionBus() {
    FILE *daemon = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
    if (!daemon)
        return;
    char address[1024] = {};
    char pid[64] = {};
    const bool read = std::fgets(address, sizeof address, daemon) && std::fgets(pid, sizeof pid, daemon);
    ::pclose(daemon);
    if (!read)
        return;
    m_address = QByteArray(address).trimmed();
    m_pid = static_cast<pid_t>(std::atol(pid));
}

PrivateSessionBus::~PrivateSessionBus() {
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
}
