#pragma once

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Taken before libFuzzer's -close_fd_mask silences the code under test, so a verdict still gets out.
inline const int verdictFd = ::dup(STDERR_FILENO);

// A broken invariant ends the run with an abort, so that libFuzzer keeps the input as a crash.
inline void check(bool holds, const char *invariant, const QByteArray &detail = {}) {
    if (holds)
        return;
    dprintf(verdictFd >= 0 ? verdictFd : STDERR_FILENO, "invariant broken: %s\n%s\n", invariant,
            detail.constData());
    std::abort();
}
