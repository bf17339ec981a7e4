// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/lookup.h"

#include "lookup/cddb.h"
#include "lookup/http.h"
#include "lookup/musicbrainz.h"

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

LookupSettings lookup_settings;

static constexpr char DEFAULT_MUSICBRAINZ_URL[] = "https://musicbrainz.org/ws/2";
static constexpr char DEFAULT_GNUDB_URL[] = "https://gnudb.gnudb.org/~cddb/cddb.cgi";
static constexpr char CONTACT[] = "maintainers@users.noreply.c-seed-9b1bc217.example";
static char client_version[32];

// MusicBrainz allows one request a second; a 503 asks for more room.
static constexpr int64_t REQUEST_INTERVAL_MS = 1000;
static constexpr int64_t FIRST_BACKOFF_MS = 2000;
static constexpr int MAX_BUSY_RETRIES = 2;
static constexpr int MAX_GNUDB_READS = 4;

enum Step : int32_t {
    STEP_NONE,
    STEP_MUSICBRAINZ, // waiting for the rate limit, then for the reply
    STEP_GNUDB_QUERY,
    STEP_GNUDB_READ,
};

static struct {
    LookupPhase phase;
    Step step;
    bool request_sent;
    Toc toc;
    LookupToc mb_toc;
    uint32_t cddb_id;
    char disc_id[MB_DISC_ID_SIZE];
    int busy_retries;
    int64_t backoff_ms;
    int bad_replies; // replies that could not be read
    int oversized;   // replies larger than the reply buffer
    int misfits;     // replies naming more tracks than the disc has
    int failures;    // servers that did not answer
    char failure[LOOKUP_MESSAGE_SIZE];
    CddbMatch matches[MAX_CDDB_MATCHES];
    int match_count;
    int next_match;
    char message[LOOKUP_MESSAGE_SIZE];
} lookup;

static CandidateList candidates;
static Candidate gnudb_entry;
static int64_t next_request_ms;

// Discs looked up in vain since start-up, by MusicBrainz disc id.
static constexpr int MISS_MEMORY = 64;
static char missed[MISS_MEMORY][MB_DISC_ID_SIZE];
static int missed_count;

static int64_t now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Copies an environment variable, or the fallback when it is unset or empty.
static void setting(char *out, const char *name, const char *fallback)
{
    const char *value = getenv(name);
    if (value == nullptr || value[0] == '\0')
        value = fallback;
    snprintf(out, LOOKUP_URL_SIZE, "%s", value);
    // A base given with a trailing slash would double it in every request.
    size_t length = strlen(out);
    while (length > 0 && out[length - 1] == '/' && strstr(name, "URL") != nullptr)
        out[--length] = '\0';
}

void lookup_init(const char *version)
{
    LookupSettings &s = lookup_settings;
    setting(s.musicbrainz_url, "MIVO_MUSICBRAINZ_URL", DEFAULT_MUSICBRAINZ_URL);
    setting(s.gnudb_url, "MIVO_GNUDB_URL", DEFAULT_GNUDB_URL);
    setting(s.gnudb_email, "MIVO_GNUDB_EMAIL", "");
    const char *off = getenv("MIVO_NO_LOOKUP");
    s.automatic = off == nullptr || off[0] == '\0' || strcmp(off, "0") == 0;
    snprintf(client_version, sizeof client_version, "%s", version);
    snprintf(s.user_agent, sizeof s.user_agent, "mivo/%s ( %s )", version, CONTACT);
    s.timeout_ms = 10000;
#if MIVO_TEST_HOOKS
    // Test hook: the end-to-end tests name a library that is not there to
    // see a lookup fail as it would without libcurl.
    const char *library = getenv("MIVO_TEST_CURL_LIBRARY");
    if (library != nullptr && library[0] != '\0')
        http_use_library(library);
#endif
}

void lookup_shutdown()
{
    cancel_lookup();
    http_shutdown();
}

static void remember_miss()
{
    for (int i = 0; i < missed_count; i++)
        if (strcmp(missed[i], lookup.disc_id) == 0)
            return;
    // The oldest miss makes room; looking that disc up again costs one request.
    if (missed_count == MISS_MEMORY) {
        memmove(missed[0], missed[1], sizeof missed[0] * (MISS_MEMORY - 1));
        missed_count--;
    }
    memcpy(missed[missed_count++], lookup.disc_id, MB_DISC_ID_SIZE);
}

bool lookup_missed(const Toc &toc)
{
    LookupToc mb_toc;
    char id[MB_DISC_ID_SIZE];
    if (!musicbrainz_toc(toc, mb_toc))
        return false;
    musicbrainz_disc_id(mb_toc, id);
    for (int i = 0; i < missed_count; i++)
        if (strcmp(missed[i], id) == 0)
            return true;
    return false;
}

// The user's way to give MusicBrainz the disc, shown when nothing was found.
static int attach_link(char *out, size_t size)
{
    char toc_text[4 + 12 * (MAX_TRACKS + 2)];
    if (format_toc_argument(lookup.mb_toc, toc_text, sizeof toc_text) < 0)
        toc_text[0] = '\0';
    return snprintf(out, size, "https://musicbrainz.org/cdtoc/attach?id=%s&tracks=%d&toc=%s",
                    lookup.disc_id, lookup.mb_toc.last, toc_text);
}

int lookup_add_disc_link(char *out, size_t size) { return attach_link(out, size); }

static void fail(const char *reason)
{
    // The link goes last, so a long table of contents only cuts the link.
    int n = snprintf(lookup.message, sizeof lookup.message, "%.160s Add the disc: ", reason);
    if (n > 0 && static_cast<size_t>(n) < sizeof lookup.message)
        attach_link(lookup.message + n, sizeof lookup.message - static_cast<size_t>(n));
    lookup.phase = LOOKUP_FAILED;
    lookup.step = STEP_NONE;
}

// Ends the lookup with the candidates gathered, or a message saying why there
// are none; a disc nobody knows is remembered so it is not asked for again.
static void finish_gathering()
{
    http_cancel();
    lookup.step = STEP_NONE;
    if (candidates.count > 0) {
        rank_candidates(candidates);
        lookup.phase = LOOKUP_DONE;
        return;
    }
    if (lookup.misfits > 0 || candidates.rejected > 0) {
        fail("Lookup: the titles found do not fit this disc.");
    } else if (lookup.oversized > 0) {
        fail("Lookup: reply too large.");
    } else if (lookup.bad_replies > 0) {
        fail("Lookup: reply unreadable.");
    } else if (lookup.failures > 0) {
        char reason[LOOKUP_MESSAGE_SIZE];
        snprintf(reason, sizeof reason, "Lookup failed: %.120s.", lookup.failure);
        fail(reason);
    } else {
        remember_miss();
        fail("No titles found.");
    }
}

// The reason may quote a server: it is shown cleaned, like a found title.
static void note_failure(const char *what)
{
    lookup.failures++;
    copy_text(lookup.failure, sizeof lookup.failure, what, strlen(what));
    clean_text(lookup.failure);
}

// The longest CDDB command mivo sends: a query with every track's offset.
static constexpr size_t GNUDB_COMMAND_SIZE = 16 + 12 * (MAX_TRACKS + 3);

// Sends one CDDB command to gnudb as the given step; a request that cannot
// be made ends the gathering with the failure noted.
static void ask_gnudb(const char *command, Step step)
{
    char url[3 * LOOKUP_URL_SIZE + GNUDB_COMMAND_SIZE];
    lookup.step = step;
    if (cddb_request_url(url, sizeof url, lookup_settings.gnudb_url, command,
                         lookup_settings.gnudb_email, client_version) < 0 ||
        !http_start(url, lookup_settings.user_agent, lookup_settings.timeout_ms)) {
        note_failure("gnudb could not be asked");
        finish_gathering();
    }
}

static void start_gnudb()
{
    if (lookup_settings.gnudb_email[0] == '\0') {
        finish_gathering();
        return;
    }
    char command[GNUDB_COMMAND_SIZE];
    if (format_cddb_query(lookup.toc, lookup.cddb_id, command + 6, sizeof command - 6) < 0) {
        finish_gathering();
        return;
    }
    memcpy(command, "query+", 6);
    ask_gnudb(command, STEP_GNUDB_QUERY);
}

// Asks gnudb for the next listed entry, or ends the lookup after the last.
static void read_next_gnudb_entry()
{
    if (lookup.next_match >= lookup.match_count || lookup.next_match >= MAX_GNUDB_READS) {
        finish_gathering();
        return;
    }
    const CddbMatch &m = lookup.matches[lookup.next_match];
    char command[3 * (sizeof m.category + sizeof m.discid) + 8];
    if (cddb_read_command(command, sizeof command, m) < 0) {
        lookup.next_match++;
        read_next_gnudb_entry();
        return;
    }
    ask_gnudb(command, STEP_GNUDB_READ);
}

// Sends the MusicBrainz request once the rate limit allows it.
static void send_musicbrainz_request()
{
    int64_t now = now_ms();
    if (now < next_request_ms)
        return;
    char url[2 * LOOKUP_URL_SIZE + 12 * (MAX_TRACKS + 3)];
    if (musicbrainz_request_url(url, sizeof url, lookup_settings.musicbrainz_url, lookup.disc_id,
                                lookup.mb_toc) < 0 ||
        !http_start(url, lookup_settings.user_agent, lookup_settings.timeout_ms)) {
        note_failure("MusicBrainz could not be asked");
        start_gnudb();
        return;
    }
    next_request_ms = now + REQUEST_INTERVAL_MS;
    lookup.request_sent = true;
}

static void read_musicbrainz_reply(HttpState result)
{
    lookup.request_sent = false;
    long status = http_status();
    if (result == HTTP_DONE && status == 503 && lookup.busy_retries < MAX_BUSY_RETRIES) {
        // Busy: wait longer each time before the same request goes out again.
        lookup.busy_retries++;
        next_request_ms = now_ms() + lookup.backoff_ms;
        lookup.backoff_ms *= 2;
        return;
    }
    if (result == HTTP_FAILED && http_oversized()) {
        lookup.oversized++;
    } else if (result == HTTP_FAILED) {
        note_failure(http_error());
    } else if (status == 503) {
        next_request_ms = now_ms() + lookup.backoff_ms;
        note_failure("MusicBrainz is busy, try again later (L)");
    } else if (status == 404) {
        // An unknown disc without near matches: nothing found.
    } else if (status != 200) {
        char what[64];
        snprintf(what, sizeof what, "MusicBrainz answered %ld", status);
        note_failure(what);
    } else {
        int added = parse_musicbrainz_reply(http_body(), http_length(), lookup.mb_toc,
                                            lookup.disc_id, candidates);
        if (added < 0)
            lookup.bad_replies++;
    }
    start_gnudb();
}

static void read_gnudb_query(HttpState result)
{
    if (result != HTTP_DONE || http_status() != 200) {
        if (http_oversized())
            lookup.oversized++;
        else
            note_failure(result == HTTP_DONE ? "gnudb did not answer the query" : http_error());
        finish_gathering();
        return;
    }
    int code = parse_cddb_query(http_body(), http_length(), lookup.matches, MAX_CDDB_MATCHES,
                                lookup.match_count);
    if (code == REPLY_MALFORMED) {
        lookup.bad_replies++;
    } else if (code >= 400) {
        // The server's own line, without its line end, cut between characters.
        char what[LOOKUP_MESSAGE_SIZE] = "gnudb: ";
        copy_text(what + 7, 101, http_body(), strcspn(http_body(), "\r\n"));
        note_failure(what);
    }
    lookup.next_match = 0;
    read_next_gnudb_entry();
}

static void read_gnudb_entry(HttpState result)
{
    if (result == HTTP_DONE && http_status() == 200) {
        int code = parse_cddb_read(http_body(), http_length(), lookup.toc.count, gnudb_entry);
        if (code == 210) {
            gnudb_entry.order = lookup.next_match;
            add_candidate(candidates, gnudb_entry);
        } else if (code == REPLY_MISFIT) {
            lookup.misfits++;
        } else if (code < 0) {
            lookup.bad_replies++;
        }
    } else if (http_oversized()) {
        lookup.oversized++;
    } else {
        note_failure(result == HTTP_DONE ? "gnudb did not answer the read" : http_error());
    }
    lookup.next_match++;
    read_next_gnudb_entry();
}

void start_lookup(const Toc &toc, uint32_t cddb_id)
{
    cancel_lookup();
    memset(&lookup, 0, sizeof lookup);
    clear_candidates(candidates);
    lookup.toc = toc;
    lookup.cddb_id = cddb_id;
    lookup.backoff_ms = FIRST_BACKOFF_MS;
    if (!musicbrainz_toc(toc, lookup.mb_toc)) {
        snprintf(lookup.message, sizeof lookup.message, "Lookup: the disc has no audio tracks.");
        lookup.phase = LOOKUP_FAILED;
        return;
    }
    musicbrainz_disc_id(lookup.mb_toc, lookup.disc_id);
    // libcurl is loaded here, by the first lookup, not at start-up. Without
    // it no server was asked, so there is no disc to add, only the reason.
    if (!http_open()) {
        snprintf(lookup.message, sizeof lookup.message, "Lookup: %s.", http_library_error());
        clean_text(lookup.message);
        lookup.phase = LOOKUP_FAILED;
        return;
    }
    lookup.phase = LOOKUP_RUNNING;
    lookup.step = STEP_MUSICBRAINZ;
    send_musicbrainz_request();
}

void cancel_lookup()
{
    http_cancel();
    lookup.phase = LOOKUP_IDLE;
    lookup.step = STEP_NONE;
    lookup.request_sent = false;
}

LookupPhase poll_lookup()
{
    if (lookup.phase != LOOKUP_RUNNING)
        return lookup.phase;
    if (lookup.step == STEP_MUSICBRAINZ && !lookup.request_sent) {
        send_musicbrainz_request();
        return lookup.phase;
    }
    HttpState result = http_poll();
    if (result == HTTP_RUNNING || result == HTTP_IDLE)
        return lookup.phase;
    switch (lookup.step) {
    case STEP_MUSICBRAINZ:
        read_musicbrainz_reply(result);
        break;
    case STEP_GNUDB_QUERY:
        read_gnudb_query(result);
        break;
    case STEP_GNUDB_READ:
        read_gnudb_entry(result);
        break;
    case STEP_NONE:
        break;
    }
    return lookup.phase;
}

void wait_for_lookup_or_input(const int *fds, int count, int timeout_ms)
{
    if (lookup.phase == LOOKUP_RUNNING && lookup.step == STEP_MUSICBRAINZ && !lookup.request_sent) {
        // Only the rate limit holds the request back: wake when it is due.
        int64_t due = next_request_ms - now_ms();
        if (due < timeout_ms)
            timeout_ms = due < 0 ? 0 : static_cast<int>(due);
    } else if (lookup.phase == LOOKUP_RUNNING) {
        http_wait(fds, count, timeout_ms);
        return;
    }
    pollfd watched[HTTP_MAX_EXTRA_FDS];
    nfds_t n = 0;
    for (int i = 0; i < count && n < HTTP_MAX_EXTRA_FDS; i++)
        if (fds[i] >= 0)
            watched[n++] = {fds[i], POLLIN, 0};
    poll(watched, n, timeout_ms);
}

LookupPhase lookup_phase() { return lookup.phase; }
const CandidateList &lookup_candidates() { return candidates; }
const char *lookup_disc_id() { return lookup.disc_id; }
uint32_t lookup_cddb_id() { return lookup.cddb_id; }
const char *lookup_message() { return lookup.message; }
void finish_lookup() { lookup.phase = LOOKUP_IDLE; }
