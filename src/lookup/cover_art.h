// SPDX-License-Identifier: GPL-3.0-or-later
// A release's front cover from the Cover Art Archive: one fetch at a time on
// the lookups' libcurl handle, moved on from the main loop without waiting,
// and a cache of the images under $XDG_CACHE_HOME/mivo/covers/ that also
// remembers the releases that have no cover. It knows nothing of the screen.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int COVER_PATH_SIZE = 1024;
inline constexpr int COVER_URL_SIZE = 512;
inline constexpr int MBID_SIZE = 37; // 36 characters and the NUL
// A reply larger than this is refused: a 500-pixel cover is far smaller.
inline constexpr size_t COVER_MAX_BYTES = 4 * 1024 * 1024;
// The cache is trimmed, oldest first, to this many bytes of images.
inline constexpr int64_t COVER_CACHE_BYTES = 32 * 1024 * 1024;

struct CoverSettings {
    char base_url[COVER_URL_SIZE];    // MIVO_COVERART_URL, https://coverartarchive.org by default
    // Empty when there is no home to keep it in, or its name is too long to
    // leave room for a file's.
    char cache_dir[COVER_PATH_SIZE - 128];
    int64_t cache_bytes;
};

extern CoverSettings cover_settings;

// Reads the settings; the network library is the lookups', loaded by
// whichever of them or of the fetches comes first (http_open).
void cover_init();

enum CoverState : int32_t {
    COVER_NONE,     // no cover: none asked for, none there, or the fetch failed
    COVER_FETCHING, // waiting for the archive
    COVER_READY,    // cover_file() names the image
};

// Finds a MusicBrainz release id in text (as the title file's disc note
// names the release the titles came from): false when there is none.
bool cover_release_in(const char *text, char *mbid);

// Asks for the release's front cover: from the cache at once, "none" at once
// for a release remembered to have none, otherwise fetched. Replaces any
// fetch of another release.
CoverState cover_fetch(const char *mbid);

// Drops the fetch; its reply is never read.
void cover_cancel();

// Moves the fetch on without waiting; returns the state.
CoverState cover_poll();

CoverState cover_state();

// The image's file while COVER_READY.
const char *cover_file();

// Why the last fetch gave no cover (for the log of a test or a user).
const char *cover_error();

// Waits at most timeout_ms for the fetch's sockets or input on the fds, as the
// lookups' wait does; returns at once when nothing is being fetched.
void cover_wait(const int *fds, int count, int timeout_ms);

// Writes size bytes to dir/name through a temporary file renamed into place,
// so a reader never sees half a file; 0 on success.
int cover_write_atomically(const char *dir, const char *name, const void *data, size_t size);

// Deletes the oldest images of dir until they take at most limit bytes,
// never the file named keep. Files that are not images are left alone.
void cover_trim_cache(const char *dir, int64_t limit, const char *keep);

// Makes dir and its missing parents (mode 0700); 0 when it exists after.
int cover_make_dirs(const char *dir);

// The kind of image data starts with: "jpg", "png", or nullptr for neither.
const char *cover_image_kind(const unsigned char *data, size_t size);
