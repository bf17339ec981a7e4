// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cover_flow.h"

#include "app/drive_target.h"
#include "app/player.h"
#include "desktop/folder_cover.h"
#include "lookup/cover_art.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// What the cover was last chosen for: the disc, its disc note (which names
// the release) and the target the drive was opened with.
static uint64_t chosen_for_disc;
static char chosen_for_note[TEXT_FIELD_SIZE];
static char chosen_for_target[DRIVE_PATH_SIZE];
static bool chosen;
static char cover[COVER_PATH_SIZE];

void start_covers()
{
    cover_init();
    atexit(cover_cancel);
}

// The folder a disc image's files are in: the target itself when it is a
// folder, the sheet's folder otherwise; false for a drive.
static bool rip_folder(char *folder, size_t size)
{
    const DriveTarget &t = current_drive_target;
    if (t.kind != TARGET_IMAGE || t.path[0] == '\0')
        return false;
    struct stat st;
    if (stat(t.path, &st) == 0 && S_ISDIR(st.st_mode))
        return snprintf(folder, size, "%s", t.path) < static_cast<int>(size);
    const char *slash = strrchr(t.path, '/');
    if (slash == nullptr)
        return snprintf(folder, size, ".") < static_cast<int>(size);
    int length = slash == t.path ? 1 : static_cast<int>(slash - t.path);
    return snprintf(folder, size, "%.*s", length, t.path) < static_cast<int>(size);
}

static void choose_cover()
{
    cover[0] = '\0';
    cover_cancel();
    if (player.drive.state <= DRIVE_NO_DISC)
        return;
    char folder[DRIVE_PATH_SIZE];
    if (rip_folder(folder, sizeof folder)) {
        if (find_folder_image(folder, cover, sizeof cover))
            return;
        char name[64];
        snprintf(name, sizeof name, "embedded-%016llx", static_cast<unsigned long long>(player.disc_id));
        if (cover_settings.cache_dir[0] != '\0' &&
            extract_flac_picture(folder, cover_settings.cache_dir, name, cover, sizeof cover))
            return;
        cover[0] = '\0';
    }
    char mbid[MBID_SIZE];
    if (cover_release_in(player.db.entries[DISC_ENTRY].ext, mbid) &&
        cover_fetch(mbid) == COVER_READY)
        snprintf(cover, sizeof cover, "%s", cover_file());
}

void advance_cover()
{
    const char *note = player.db.entries[DISC_ENTRY].ext;
    if (!chosen || chosen_for_disc != player.disc_id || strcmp(chosen_for_note, note) != 0 ||
        strcmp(chosen_for_target, current_drive_target.path) != 0) {
        chosen = true;
        chosen_for_disc = player.disc_id;
        snprintf(chosen_for_note, sizeof chosen_for_note, "%s", note);
        snprintf(chosen_for_target, sizeof chosen_for_target, "%s", current_drive_target.path);
        choose_cover();
    }
    if (cover_state() == COVER_FETCHING && cover_poll() == COVER_READY)
        snprintf(cover, sizeof cover, "%s", cover_file());
}

const char *current_cover() { return cover; }

bool cover_fetching() { return cover_state() == COVER_FETCHING; }

void wait_for_cover(const int *fds, int count, int timeout_ms) { cover_wait(fds, count, timeout_ms); }
