// SPDX-License-Identifier: GPL-3.0-or-later
// One HTTP GET at a time through libcurl's multi interface, advanced from the
// main loop without waiting: the reply goes into a fixed 1 MB buffer, the
// transfer gives up after about ten seconds, and libcurl never prints.
#pragma once

#include <cstddef>

inline constexpr size_t HTTP_BODY_SIZE = 1024 * 1024;
// How many descriptors of the caller's http_wait watches besides the transfer.
inline constexpr unsigned HTTP_MAX_EXTRA_FDS = 4;

enum HttpState { HTTP_IDLE, HTTP_RUNNING, HTTP_DONE, HTTP_FAILED };

// Loads libcurl and sets it up the first time a transfer needs it, so that
// a run without lookups never maps it; true at once after that. False when
// it cannot: http_library_error then names the library and says why, and a
// library that failed to load is not looked for again.
bool http_open();
const char *http_library_error();

// Ends any transfer and releases what http_open set up; libcurl stays mapped.
void http_shutdown();

// Ends libcurl's set-up, if any, and names the library the next http_open
// loads instead of the one mivo was built with (for the tests); name is kept,
// not copied.
void http_use_library(const char *name);

// Starts a GET of url, ending any transfer still running; it fails once
// timeout_ms have passed. False when the transfer could not be set up.
bool http_start(const char *url, const char *user_agent, long timeout_ms);

// Moves the transfer on as far as it can without waiting.
HttpState http_poll();

// Drops the transfer; its reply is never read.
void http_cancel();

// Waits at most timeout_ms for the transfer's sockets or for input on one of
// the count extra_fds (-1 entries are left out). Returns at once when nothing
// is running.
void http_wait(const int *extra_fds, int count, int timeout_ms);

// Other transfers (the cover art's) run on the same libcurl handle as the
// lookups', so one wait serves them all. http_shared_multi gives that handle
// (a CURLM *, nullptr until http_open succeeded); done is told of each other
// transfer's end, with its easy handle and libcurl's result code, and closing
// is called by http_shutdown while libcurl is still up, to release their
// handles.
void http_share(void (*done)(void *easy, int result), void (*closing)());
void *http_shared_multi();

// Moves every transfer on the shared handle on without waiting, the lookups'
// included; ends are told to http_poll's caller and to http_share's done.
void http_pump();

// Waits like http_wait, for whatever transfers the shared handle has.
void http_wait_shared(const int *extra_fds, int count, int timeout_ms);

// The finished transfer's HTTP status, body (NUL-terminated) and length.
long http_status();
const char *http_body();
size_t http_length();

// True when the reply was larger than the buffer and was cut off.
bool http_oversized();

// Why the last transfer failed, in libcurl's words.
const char *http_error();
