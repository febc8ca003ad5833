#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// Sends standard output into a pipe while it lives, so a test can see what was printed so far, and when.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        if (pipe2(m_pipe, O_NONBLOCK) != 0)
            return;
        m_saved = dup(STDOUT_FILENO);
        dup2(m_pipe[1], STDOUT_FILENO);
    }
    ~StdoutCapture() {
        std::fflush(stdout);
        if (m_saved >= 0) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
        for (int fd : m_pipe) {
            if (fd >= 0)
                close(fd);
        }
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything printed since the last call.
    QString take() {
        std::fflush(stdout);
        QByteArray bytes;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(m_pipe[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return QString::fromUtf8(bytes);
    }

private:
    int m_pipe[2] = {-1, -1};
    int m_saved = -1;
};
