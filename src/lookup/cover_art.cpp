// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/cover_art.h"

#include "common/directory.h"
#include "lookup/curl_library.h"
#include "lookup/http.h"
#include "lookup/lookup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CoverSettings cover_settings;

static constexpr char DEFAULT_BASE_URL[] = "https://coverartarchive.org";
// A release remembered to have no front cover: an empty file of this suffix.
static constexpr char NONE_SUFFIX[] = ".none";

static CURL *easy;
static bool attached;
static CoverState state = COVER_NONE;
static char mbid_fetched[MBID_SIZE];
static char file[COVER_PATH_SIZE];
static char error_text[CURL_ERROR_SIZE];
static unsigned char body[COVER_MAX_BYTES];
static size_t body_length;
static bool oversized;
// The fetch's end, as http_pump hands it over: result, or -1 while running.
static int finished_result = -1;
// A release whose fetch failed this run is not asked again until mivo restarts.
static char failed_mbid[MBID_SIZE];

static void copy_setting(char *out, size_t size, const char *name, const char *fallback)
{
    const char *value = getenv(name);
    snprintf(out, size, "%s", value != nullptr && value[0] != '\0' ? value : fallback);
}

static void transfers_closing();

static void transfer_done(void *handle, int result)
{
    if (handle == easy && attached)
        finished_result = result;
}

void cover_init()
{
    CoverSettings &s = cover_settings;
    copy_setting(s.base_url, sizeof s.base_url, "MIVO_COVERART_URL", DEFAULT_BASE_URL);
    size_t length = strlen(s.base_url);
    while (length > 0 && s.base_url[length - 1] == '/')
        s.base_url[--length] = '\0';
    s.cache_dir[0] = '\0';
    const char *cache = getenv("XDG_CACHE_HOME");
    const char *home = getenv("HOME");
    // XDG's base directory rules take an absolute path only; others are ignored.
    int n = 0;
    if (cache != nullptr && cache[0] == '/')
        n = snprintf(s.cache_dir, sizeof s.cache_dir, "%s/mivo/covers", cache);
    else if (home != nullptr && home[0] == '/')
        n = snprintf(s.cache_dir, sizeof s.cache_dir, "%s/.cache/mivo/covers", home);
    if (n < 0 || n >= static_cast<int>(sizeof s.cache_dir))
        s.cache_dir[0] = '\0';
    s.cache_bytes = COVER_CACHE_BYTES;
    http_share(transfer_done, transfers_closing);
}

int cover_make_dirs(const char *dir)
{
    char path[COVER_PATH_SIZE];
    if (snprintf(path, sizeof path, "%s", dir) >= static_cast<int>(sizeof path))
        return -1;
    for (char *p = path + 1; *p != '\0'; p++) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(path, 0700) != 0 && errno != EEXIST)
            return -1;
        *p = '/';
    }
    if (mkdir(path, 0700) != 0 && errno != EEXIST)
        return -1;
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

int cover_write_atomically(const char *dir, const char *name, const void *data, size_t size)
{
    char temp[COVER_PATH_SIZE];
    char final_path[COVER_PATH_SIZE];
    int n = snprintf(temp, sizeof temp, "%s/.%s.%ld.part", dir, name, static_cast<long>(getpid()));
    int m = snprintf(final_path, sizeof final_path, "%s/%s", dir, name);
    if (n < 0 || n >= static_cast<int>(sizeof temp) || m < 0 || m >= static_cast<int>(sizeof final_path))
        return -1;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return -1;
    const char *p = static_cast<const char *>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t written = write(fd, p, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            close(fd);
            unlink(temp);
            return -1;
        }
        p += written;
        left -= static_cast<size_t>(written);
    }
    // The descriptor is closed whatever fsync says, or a failing disk would
    // leak one per cover.
    const bool synced = fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!synced || !closed || rename(temp, final_path) != 0) {
        unlink(temp);
        return -1;
    }
    return 0;
}

static bool is_cached_image(const char *name)
{
    const char *dot = strrchr(name, '.');
    return name[0] != '.' && dot != nullptr && (strcmp(dot, ".jpg") == 0 || strcmp(dot, ".png") == 0);
}

void cover_trim_cache(const char *dir, int64_t limit, const char *keep)
{
    static constexpr int MAX_FILES = 512;
    static struct {
        char name[256];
        int64_t size;
        int64_t mtime_ns;
    } files[MAX_FILES];
    int dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        return;
    int count = 0;
    int64_t total = 0;
    alignas(DIRECTORY_BUFFER_ALIGN) static char buffer[16384];
    DirectoryReader reader;
    directory_begin(reader, dir_fd, buffer, sizeof buffer);
    while (const char *name = directory_next(reader)) {
        struct stat st;
        if (!is_cached_image(name) || strlen(name) >= sizeof files[0].name ||
            fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        total += st.st_size;
        if (count == MAX_FILES || strcmp(name, keep) == 0)
            continue;
        snprintf(files[count].name, sizeof files[count].name, "%s", name);
        files[count].size = st.st_size;
        files[count].mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        count++;
    }
    while (total > limit && count > 0) {
        int oldest = 0;
        for (int i = 1; i < count; i++)
            if (files[i].mtime_ns < files[oldest].mtime_ns)
                oldest = i;
        if (unlinkat(dir_fd, files[oldest].name, 0) == 0)
            total -= files[oldest].size;
        files[oldest] = files[--count];
    }
    close(dir_fd);
}

// The cached image of a release, or its "none" mark: true when found.
static bool in_cache(const char *mbid, const char *suffix)
{
    if (cover_settings.cache_dir[0] == '\0')
        return false;
    char path[COVER_PATH_SIZE];
    snprintf(path, sizeof path, "%s/%s%s", cover_settings.cache_dir, mbid, suffix);
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (strcmp(suffix, NONE_SUFFIX) != 0)
        snprintf(file, sizeof file, "%s", path);
    return true;
}

static void detach()
{
    if (attached)
        libcurl.multi_remove_handle(static_cast<CURLM *>(http_shared_multi()), easy);
    attached = false;
    finished_result = -1;
}

// libcurl shuts down: the handle goes with it, and a fetch with the handle.
static void transfers_closing()
{
    cover_cancel();
    if (easy != nullptr)
        libcurl.easy_cleanup(easy);
    easy = nullptr;
}

void cover_cancel()
{
    detach();
    if (state == COVER_FETCHING)
        state = COVER_NONE;
}

static size_t receive(char *data, size_t size, size_t count, void *)
{
    size_t length = size * count;
    if (length > COVER_MAX_BYTES - body_length) {
        oversized = true;
        return 0;
    }
    memcpy(body + body_length, data, length);
    body_length += length;
    return length;
}

static CoverState give_up(const char *why)
{
    if (why != error_text)
        snprintf(error_text, sizeof error_text, "%s", why);
    snprintf(failed_mbid, sizeof failed_mbid, "%s", mbid_fetched);
    state = COVER_NONE;
    return state;
}

static bool start_transfer()
{
    CURLM *multi = static_cast<CURLM *>(http_shared_multi());
    if (multi == nullptr)
        return false;
    if (easy == nullptr)
        easy = libcurl.easy_init();
    if (easy == nullptr)
        return false;
    libcurl.easy_reset(easy);
    char url[COVER_URL_SIZE + 64];
    snprintf(url, sizeof url, "%s/release/%s/front-500", cover_settings.base_url, mbid_fetched);
    body_length = 0;
    oversized = false;
    error_text[0] = '\0';
    libcurl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    libcurl.easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
    libcurl.easy_setopt(easy, CURLOPT_VERBOSE, 0L);
    libcurl.easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
    libcurl.easy_setopt(easy, CURLOPT_URL, url);
    libcurl.easy_setopt(easy, CURLOPT_USERAGENT, lookup_settings.user_agent);
    libcurl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // The archive answers with a redirect to where the image is kept.
    libcurl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    libcurl.easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    libcurl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    libcurl.easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(COVER_MAX_BYTES));
    libcurl.easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(lookup_settings.timeout_ms));
    libcurl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(lookup_settings.timeout_ms));
    libcurl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    finished_result = -1;
    if (libcurl.multi_add_handle(multi, easy) != CURLM_OK)
        return false;
    attached = true;
    return true;
}

CoverState cover_fetch(const char *mbid)
{
    cover_cancel();
    snprintf(mbid_fetched, sizeof mbid_fetched, "%s", mbid);
    file[0] = '\0';
    if (in_cache(mbid, ".jpg") || in_cache(mbid, ".png")) {
        state = COVER_READY;
        return state;
    }
    state = COVER_NONE;
    if (in_cache(mbid, NONE_SUFFIX) || strcmp(mbid, failed_mbid) == 0)
        return state;
    if (!http_open())
        return give_up(http_library_error());
    if (!start_transfer())
        return give_up("the network library could not start the transfer");
    state = COVER_FETCHING;
    return state;
}

// Keeps the image that came; a release without a cover is remembered so.
static CoverState take_reply(int result)
{
    long status = 0;
    libcurl.easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    detach();
    const char *dir = cover_settings.cache_dir;
    if (result == CURLE_OK && status == 404) {
        if (dir[0] != '\0' && cover_make_dirs(dir) == 0) {
            char name[MBID_SIZE + 8];
            snprintf(name, sizeof name, "%s%s", mbid_fetched, NONE_SUFFIX);
            cover_write_atomically(dir, name, "", 0);
        }
        return give_up("the release has no front cover");
    }
    if (oversized || result == CURLE_FILESIZE_EXCEEDED)
        return give_up("the cover is larger than mivo takes");
    if (result != CURLE_OK)
        return give_up(error_text[0] != '\0' ? error_text : libcurl.easy_strerror(static_cast<CURLcode>(result)));
    if (status != 200)
        return give_up("the archive did not answer with the cover");
    const char *kind = cover_image_kind(body, body_length);
    if (kind == nullptr)
        return give_up("the archive's answer is not a JPEG or PNG image");
    char name[MBID_SIZE + 8];
    snprintf(name, sizeof name, "%s.%s", mbid_fetched, kind);
    if (dir[0] == '\0' || cover_make_dirs(dir) != 0 ||
        cover_write_atomically(dir, name, body, body_length) != 0)
        return give_up("the cover could not be kept in the cache");
    cover_trim_cache(dir, cover_settings.cache_bytes, name);
    snprintf(file, sizeof file, "%s/%s", dir, name);
    state = COVER_READY;
    return state;
}

CoverState cover_poll()
{
    if (state != COVER_FETCHING)
        return state;
    http_pump();
    if (finished_result >= 0)
        return take_reply(finished_result);
    return state;
}

CoverState cover_state() { return state; }
const char *cover_file() { return state == COVER_READY ? file : ""; }
const char *cover_error() { return error_text; }

void cover_wait(const int *fds, int count, int timeout_ms)
{
    if (state != COVER_FETCHING)
        return;
    http_wait_shared(fds, count, timeout_ms);
}
