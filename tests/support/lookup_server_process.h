// SPDX-License-Identifier: GPL-3.0-or-later
// The project's stand-in for the title services (tests/lookup/lookup_server.py)
// as a child process on 127.0.0.1, for the tests that run lookups.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

struct LookupServerProcess {
    pid_t pid = -1;
    int port = 0;

    // Starts the server and reads the port it listens on; the data directory
    // is $MIVO_TEST_DATA (tests/data).
    void start()
    {
        const char *root = getenv("MIVO_TEST_DATA");
        std::string data = std::string(root ? root : "tests/data");
        std::string script = data + "/../lookup/lookup_server.py";
        std::string replies = data + "/lookup";
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            execl("/usr/bin/python3", "python3", script.c_str(), "--data", replies.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        FILE *out = fdopen(fds[0], "r");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(fscanf(out, "%d", &port), 1) << "the stand-in server did not start";
        fclose(out);
    }

    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }

    // The base address of one of the server's behaviours ("mb", "slow-800", ...).
    std::string url(const std::string &mode) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + "/" + mode + "/ws/2";
    }
};
