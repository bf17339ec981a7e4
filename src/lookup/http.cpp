// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/http.h"

#include "lookup/curl_library.h"

#include <cstdio>
#include <cstring>

static CURLM *multi;
static CURL *easy;
static HttpState state = HTTP_IDLE;
static bool attached;
static char body[HTTP_BODY_SIZE + 1];
static size_t body_length;
static bool oversized;
static long status;
static char error_text[CURL_ERROR_SIZE];

// Appends to the fixed buffer; returning less than given makes libcurl end
// the transfer, which is what an oversized reply deserves.
static size_t receive(char *data, size_t size, size_t count, void *)
{
    size_t length = size * count;
    if (length > HTTP_BODY_SIZE - body_length) {
        oversized = true;
        return 0;
    }
    memcpy(body + body_length, data, length);
    body_length += length;
    body[body_length] = '\0';
    return length;
}

// Told of the end of a transfer that is not the lookups' own, and of the
// shutdown that ends them.
static void (*other_done)(void *easy, int result);
static void (*others_closing)();

static const char *library_name = CURL_LIBRARY_NAME;
static bool library_failed;
static bool started; // curl_global_init succeeded and awaits its cleanup
static char library_error[160];

bool http_open()
{
    if (multi != nullptr)
        return true;
    if (library_failed)
        return false;
    if (!curl_library_open(library_name, libcurl, library_error, sizeof library_error)) {
        library_failed = true;
        return false;
    }
    if (libcurl.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        snprintf(library_error, sizeof library_error, "%s could not start", library_name);
        library_failed = true;
        return false;
    }
    started = true;
    multi = libcurl.multi_init();
    easy = libcurl.easy_init();
    if (multi == nullptr || easy == nullptr) {
        snprintf(library_error, sizeof library_error, "%s could not start", library_name);
        http_shutdown();
        library_failed = true;
        return false;
    }
    return true;
}

const char *http_library_error() { return library_error; }

static void detach()
{
    if (attached) {
        libcurl.multi_remove_handle(multi, easy);
        attached = false;
    }
}

void http_shutdown()
{
    if (multi != nullptr && others_closing != nullptr)
        others_closing();
    detach();
    if (easy != nullptr)
        libcurl.easy_cleanup(easy);
    if (multi != nullptr)
        libcurl.multi_cleanup(multi);
    if (started)
        libcurl.global_cleanup();
    started = false;
    easy = nullptr;
    multi = nullptr;
    state = HTTP_IDLE;
}

void http_use_library(const char *name)
{
    http_shutdown();
    library_name = name;
    library_failed = false;
    library_error[0] = '\0';
}

bool http_start(const char *url, const char *user_agent, long timeout_ms)
{
    if (!http_open()) {
        snprintf(error_text, sizeof error_text, "%s", library_error);
        state = HTTP_FAILED;
        return false;
    }
    detach();
    libcurl.easy_reset(easy);
    body_length = 0;
    body[0] = '\0';
    oversized = false;
    status = 0;
    error_text[0] = '\0';
    // No signals (the loop must not be interrupted for DNS time-outs), no
    // progress meter and no verbose output: the screen belongs to curses.
    libcurl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    libcurl.easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    libcurl.easy_setopt(easy, CURLOPT_VERBOSE, 0L);
    libcurl.easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
    libcurl.easy_setopt(easy, CURLOPT_URL, url);
    libcurl.easy_setopt(easy, CURLOPT_USERAGENT, user_agent);
    libcurl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    libcurl.easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeout_ms);
    libcurl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
    libcurl.easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    libcurl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    if (libcurl.multi_add_handle(multi, easy) != CURLM_OK) {
        state = HTTP_FAILED;
        return false;
    }
    attached = true;
    state = HTTP_RUNNING;
    return true;
}

void http_share(void (*done)(void *easy, int result), void (*closing)())
{
    other_done = done;
    others_closing = closing;
}

void *http_shared_multi() { return multi; }

// Moves every transfer on the shared handle; false when libcurl failed.
static bool pump()
{
    int running = 0;
    if (multi == nullptr || libcurl.multi_perform(multi, &running) != CURLM_OK)
        return false;
    int queued = 0;
    while (CURLMsg *message = libcurl.multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        if (message->easy_handle != easy) {
            if (other_done != nullptr)
                other_done(message->easy_handle, message->data.result);
            continue;
        }
        CURLcode result = message->data.result;
        libcurl.easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        if (error_text[0] == '\0')
            strncpy(error_text, libcurl.easy_strerror(result), sizeof error_text - 1);
        detach();
        state = result == CURLE_OK ? HTTP_DONE : HTTP_FAILED;
    }
    return true;
}

void http_pump()
{
    if (!pump() && state == HTTP_RUNNING) {
        detach();
        state = HTTP_FAILED;
    }
}

HttpState http_poll()
{
    if (state != HTTP_RUNNING)
        return state;
    http_pump();
    return state;
}

void http_wait_shared(const int *extra_fds, int count, int timeout_ms)
{
    if (multi == nullptr)
        return;
    curl_waitfd extra[HTTP_MAX_EXTRA_FDS];
    unsigned n = 0;
    for (int i = 0; i < count && n < HTTP_MAX_EXTRA_FDS; i++)
        if (extra_fds[i] >= 0)
            extra[n++] = {extra_fds[i], CURL_WAIT_POLLIN, 0};
    int ready = 0;
    libcurl.multi_poll(multi, n > 0 ? extra : nullptr, n, timeout_ms, &ready);
}

void http_cancel()
{
    detach();
    state = HTTP_IDLE;
}

void http_wait(const int *extra_fds, int count, int timeout_ms)
{
    if (state != HTTP_RUNNING)
        return;
    http_wait_shared(extra_fds, count, timeout_ms);
}

long http_status() { return status; }
const char *http_body() { return body; }
size_t http_length() { return body_length; }
bool http_oversized() { return oversized; }
const char *http_error() { return error_text; }
