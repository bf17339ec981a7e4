// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into the real mivo by tests/e2e/cdio_stall_bench.py: makes the
// drive's reads hang once, the way a scratched sector or a drive spinning up
// does, and times the main loop's turns around it.
//
// The drive is libcdio reading a BIN/CUE image, and libcdio reads the BIN
// through stdio, so the stall is one fread of a ".bin" file that waits
// MIVO_STALL_SECONDS once the file position reaches MIVO_STALL_AT_BYTES and,
// when MIVO_STALL_ARM_FILE is set, that file exists (so a bench can keep the
// stall for playback rather than the first reading of the disc).
// The main loop's key wait is a poll (or select) of half a second on the main
// thread; the time from one wait's return to the next wait's call is work the
// loop does between waits (a turn's own work, or a part of it where a key
// that woke the wait is then read by a second, immediate one), written to
// MIVO_TURN_LOG as
// "turn MS DURING_STALL" lines, after a "first-wait T" line for the first
// wait, and followed by "stall START END"; times are CLOCK_MONOTONIC seconds.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

static atomic_int stall_state; // 0 not yet, 1 stalling, 2 done
static atomic_llong stall_started_ns, stall_ended_ns;
static long long last_return_ns = -1;
static int log_fd = -1;

// The C library's own definition of a function this file stands in front of.
static void next_symbol(const char *name, void *function_pointer, size_t size)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    memcpy(function_pointer, &symbol, size);
}

static long long now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static int is_bin(FILE *stream)
{
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 4)
        return 0;
    target[n] = '\0';
    return strcmp(target + n - 4, ".bin") == 0;
}

size_t fread(void *ptr, size_t size, size_t count, FILE *stream)
{
    static size_t (*real)(void *, size_t, size_t, FILE *);
    if (!real)
        next_symbol("fread", &real, sizeof real);
    const char *at = getenv("MIVO_STALL_AT_BYTES");
    const char *arm = getenv("MIVO_STALL_ARM_FILE");
    if (at && atomic_load(&stall_state) == 0 && is_bin(stream) && ftello(stream) >= atoll(at) &&
        (!arm || access(arm, F_OK) == 0)) {
        int expected = 0;
        if (atomic_compare_exchange_strong(&stall_state, &expected, 1)) {
            const char *seconds = getenv("MIVO_STALL_SECONDS");
            atomic_store(&stall_started_ns, now_ns());
            struct timespec wait = {seconds ? atoi(seconds) : 3, 0};
            while (nanosleep(&wait, &wait) != 0) {
            }
            atomic_store(&stall_ended_ns, now_ns());
            atomic_store(&stall_state, 2);
        }
    }
    return real(ptr, size, count, stream);
}

// Called at the start of every long wait on the main thread: logs the work
// since the previous wait returned.
static void turn_starts(void)
{
    if (getpid() != gettid())
        return;
    long long now = now_ns();
    if (log_fd < 0) {
        const char *path = getenv("MIVO_TURN_LOG");
        if (!path)
            return;
        FILE *probe = fopen(path, "a");
        if (!probe)
            return;
        log_fd = dup(fileno(probe));
        fclose(probe);
    }
    if (last_return_ns < 0)
        dprintf(log_fd, "first-wait %.3f\n", (double)now / 1e9);
    if (last_return_ns >= 0) {
        int state = atomic_load(&stall_state);
        int during = state == 1 || (state == 2 && last_return_ns < atomic_load(&stall_ended_ns));
        dprintf(log_fd, "turn %.3f %d\n", (double)(now - last_return_ns) / 1e6, during);
    }
}

static void wait_returned(void)
{
    if (getpid() == gettid())
        last_return_ns = now_ns();
}

int poll(struct pollfd *fds, nfds_t n, int timeout)
{
    static int (*real)(struct pollfd *, nfds_t, int);
    if (!real)
        next_symbol("poll", &real, sizeof real);
    int long_wait = timeout >= 100;
    if (long_wait)
        turn_starts();
    int result = real(fds, n, timeout);
    if (long_wait)
        wait_returned();
    return result;
}

int select(int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *timeout)
{
    static int (*real)(int, fd_set *, fd_set *, fd_set *, struct timeval *);
    if (!real)
        next_symbol("select", &real, sizeof real);
    int long_wait = timeout && (timeout->tv_sec > 0 || timeout->tv_usec >= 100000);
    if (long_wait)
        turn_starts();
    int result = real(n, r, w, e, timeout);
    if (long_wait)
        wait_returned();
    return result;
}

__attribute__((destructor)) static void report_stall(void)
{
    if (log_fd >= 0 && atomic_load(&stall_state) == 2)
        dprintf(log_fd, "stall %.3f %.3f\n", (double)atomic_load(&stall_started_ns) / 1e9,
                (double)atomic_load(&stall_ended_ns) / 1e9);
}
