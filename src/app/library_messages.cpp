// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/library_messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// A copy of the terminal's standard error while it points elsewhere; -1 when
// it is in place.
static int saved_stderr = -1;

int route_library_messages(const char *log_path)
{
    if (saved_stderr >= 0)
        return 0;
    const char *path = (log_path && *log_path) ? log_path : "/dev/null";
    int log = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0)
        log = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (log < 0)
        return -1;
    fflush(stderr);
    saved_stderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_stderr < 0 || dup2(log, STDERR_FILENO) < 0) {
        if (saved_stderr >= 0)
            close(saved_stderr);
        saved_stderr = -1;
        close(log);
        return -1;
    }
    close(log);
    return 0;
}

void restore_library_messages()
{
    if (saved_stderr < 0)
        return;
    fflush(stderr);
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
    saved_stderr = -1;
}
