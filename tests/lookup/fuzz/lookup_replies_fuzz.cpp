// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the handling of the servers' HTTP replies: a whole lookup,
// MusicBrainz then gnudb, against a stand-in for the HTTP layer that answers
// each request with the next reply of the input.
//
// Input: a first byte (bit 0: gnudb is asked too; the rest: the disc's track
// count), then replies separated by lines "--"; each reply's first line is the
// HTTP status, or "x" for a transfer that failed and "o" for one cut off as
// too large. Requests must be addresses safe to send, the lookup must end once
// the replies are used up, and what it keeps (candidates, the message) must be
// clean text.
#include "fuzz_target.h"
#include "lookup/http.h"
#include "lookup/lookup.h"
#include "text_checks.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace
{

const char *const TOKENS[] = {
    "\n--\n", "200\n", "404\n", "503\n", "500\n", "x\n", "o\n", "{\"releases\":[", "]}",
    "{\"id\":\"s\",\"title\":\"T\",\"artist\":\"A\",\"tracks\":[{\"title\":\"t\"}]}",
    "211 close\n", "200 rock 01020304 A / B\n", "210 rock 01020304 x\n", "TTITLE0=", "DTITLE=",
    ".\n", "\x1b[2J",
};

const char *input;
size_t input_left;

// The reply being served: its status and body, NUL-terminated as the real
// layer keeps it.
char body[HTTP_BODY_SIZE + 1];
size_t body_length;
long status;
bool oversized;
HttpState state = HTTP_IDLE;

// Takes the next reply off the input; false when there is none.
bool next_reply()
{
    if (input_left == 0)
        return false;
    const char *end = input + input_left;
    const char *stop = input;
    while (stop < end && !(stop + 4 <= end && memcmp(stop, "\n--\n", 4) == 0))
        stop++;
    const char *line_end = static_cast<const char *>(memchr(input, '\n', stop - input));
    if (line_end == nullptr)
        line_end = stop;
    oversized = line_end > input && input[0] == 'o';
    status = 0;
    for (const char *p = input; p < line_end && *p >= '0' && *p <= '9' && status < 1000; p++)
        status = status * 10 + (*p - '0');
    if (line_end > input && (input[0] == 'x' || oversized))
        status = -1;
    const char *content = line_end < stop ? line_end + 1 : stop;
    body_length = static_cast<size_t>(stop - content);
    if (body_length > HTTP_BODY_SIZE)
        body_length = HTTP_BODY_SIZE;
    memcpy(body, content, body_length);
    body[body_length] = '\0';
    size_t used = static_cast<size_t>(stop - input) + (stop < end ? 4 : 0);
    input += used;
    input_left -= used;
    return true;
}

bool in_lookup;
int64_t clock_offset_ns;

[[noreturn]] void fail(const char *what, const char *text) { fuzzcheck::fail(what, text); }

} // namespace

// The rate limit and the back-off wait on the monotonic clock: inside the
// lookup, time runs a minute a call, so that no input waits.
extern "C" int clock_gettime(clockid_t id, struct timespec *t) noexcept
{
    int result = static_cast<int>(syscall(SYS_clock_gettime, id, t));
    if (result == 0 && in_lookup && id == CLOCK_MONOTONIC) {
        clock_offset_ns += 60LL * 1000000000LL;
        int64_t ns = t->tv_nsec + clock_offset_ns % 1000000000LL;
        t->tv_sec += clock_offset_ns / 1000000000LL + ns / 1000000000LL;
        t->tv_nsec = ns % 1000000000LL;
    }
    return result;
}

// The stand-in for lookup/http.cpp.
bool http_open() { return true; }
const char *http_library_error() { return ""; }
void http_shutdown() { state = HTTP_IDLE; }

bool http_start(const char *url, const char *, long)
{
    for (const char *p = url; *p; p++)
        if (*p <= ' ' || *p >= 0x7f || *p == '#' || *p == '"' || *p == '<' || *p == '>')
            fail("a request address unsafe to send", url);
    state = HTTP_RUNNING;
    return true;
}

HttpState http_poll()
{
    if (state != HTTP_RUNNING)
        return state;
    if (!next_reply()) {
        status = 0;
        body_length = 0;
        body[0] = '\0';
        oversized = false;
        state = HTTP_FAILED;
    } else {
        state = status < 0 ? HTTP_FAILED : HTTP_DONE;
    }
    return state;
}

void http_cancel() { state = HTTP_IDLE; }
void http_wait(const int *, int, int) {}
long http_status() { return status < 0 ? 0 : status; }
const char *http_body() { return body; }
size_t http_length() { return body_length; }
bool http_oversized() { return oversized; }
const char *http_error() { return "the stand-in's transfer failed"; }

const FuzzHints fuzz_hints = {TOKENS, std::size(TOKENS), "\x1b", 1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        lookup_init("1.0.0");
        ready = true;
    }
    if (size == 0)
        return 0;
    snprintf(lookup_settings.gnudb_email, LOOKUP_URL_SIZE, "%s",
             data[0] & 1 ? "fuzz@example.org" : "");
    Toc drive{};
    drive.count = 1 + (data[0] >> 1) % MAX_TRACKS;
    for (int i = 0; i <= drive.count; i++) {
        drive.track[i].offset = 150 + static_cast<uint32_t>(i) * 9000;
        drive.track[i].audio = true;
        drive.track[i].length = 9000;
    }
    input = reinterpret_cast<const char *>(data + 1);
    input_left = size - 1;
    state = HTTP_IDLE;

    in_lookup = true;
    start_lookup(drive, 0x01020304);
    int turns = 0;
    while (poll_lookup() == LOOKUP_RUNNING)
        if (++turns > 1000)
            fail("a lookup that does not end", "");
    in_lookup = false;

    const CandidateList &list = lookup_candidates();
    if (list.count < 0 || list.count > MAX_CANDIDATES)
        fail("a candidate count out of range", "");
    for (int i = 0; i < list.count; i++)
        fuzzcheck::check_candidate(list.item[i], drive.count);
    fuzzcheck::check_clean(lookup_message(), LOOKUP_MESSAGE_SIZE, "the lookup's message");
    finish_lookup();
    return 0;
}
