// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/lookup_flow.h"

#include "app/command_line.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/database.h"
#include "database/disc_id.h"
#include "editor/track_editor.h"
#include "lookup/apply_titles.h"
#include "lookup/lookup.h"
#include "mivo_version.h"
#include "ui/lookup_picker.h"
#include "ui/message_line.h"
#include "ui/terminal.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

// The disc the running lookup is for, as the disc id the texts are filed
// under; results are stored only while this disc is in the drive.
static uint64_t looked_up_disc;
static bool lookups_ready;
// The disc found at start-up still waits for its first look.
static bool first_disc_pending;

void start_lookups(int argc, char **argv)
{
    lookups_ready = lookup_init(MIVO_VERSION);
    editor_lookup = choose_titles;
    // --no-lookup as the command line read it, or among arguments handed to
    // start-up directly.
    if (command_line.lookup_disabled)
        lookup_settings.automatic = false;
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--no-lookup") == 0)
            lookup_settings.automatic = false;
    first_disc_pending = true;
    atexit(stop_lookups);
}

void stop_lookups()
{
    if (lookups_ready)
        lookup_shutdown();
    lookups_ready = false;
}

// True when the disc in the drive has a title file, readable or not, that
// holds what the user typed: one of empty fields holds nothing.
static bool title_file_exists()
{
    if (player.db.unreadable || player.db.short_name || build_database_path(player.disc_id) != 0)
        return !database_is_empty(player.db) || player.db.unreadable;
    struct stat info;
    return stat(database_path, &info) == 0 && !database_is_empty(player.db);
}

static bool disc_in_drive()
{
    return player.drive.state > DRIVE_NO_DISC && player.drive.toc.count > 0;
}

// Starts a lookup of the disc now in the drive.
static void look_up_current_disc()
{
    looked_up_disc = player.disc_id;
    start_lookup(player.drive.toc, static_cast<uint32_t>(player.disc_id));
}

// True when the texts hold nothing at all, as after loading a disc without a
// title file: nothing typed can be lost.
static bool texts_empty()
{
    const DiscDatabase &db = player.db;
    if (db.entries[DISC_ENTRY].title[0] || db.entries[DISC_ENTRY].ext[0] || db.year[0] ||
        db.genre[0])
        return false;
    for (int i = 0; i < MAX_DB_TRACKS; i++)
        if (db.entries[i].title[0] || db.entries[i].ext[0])
            return false;
    return true;
}

void lookup_new_disc(bool has_title_file)
{
    cancel_lookup();
    finish_lookup();
    if (!lookup_settings.automatic || has_title_file || !disc_in_drive())
        return;
    static DiscText text;
    if (drive_disc_text(text) == 0 && text.present)
        return;
    if (lookup_missed(player.drive.toc))
        return;
    look_up_current_disc();
}

// Makes the candidate the disc's texts and writes its title file at once.
static void store_choice(const Candidate &c)
{
    if (!disc_in_drive() || player.disc_id != looked_up_disc) {
        show_message("The disc changed; the titles found were not stored.");
        return;
    }
    if (!apply_candidate(c, player.drive.toc.count, player.db)) {
        show_message("Lookup: the titles found do not fit this disc.");
        return;
    }
    if (save_database(player.db, player.drive.toc) != 0)
        show_message("%s", database_error());
    else if (database_conflict_note()[0] != '\0')
        show_message("%s", database_conflict_note());
    else
        show_message("Titles from %s: %.80s / %.80s",
                     c.source == SOURCE_GNUDB ? "gnudb" : "MusicBrainz", c.artist, c.title);
}

// The choice among the results, with the lookup's progress shown until they
// arrive. The drive is followed meanwhile: a disc change ends the choice.
static void run_choice()
{
    PickerView view = {0, 0};
    const CandidateList &list = lookup_candidates();
    for (;;) {
        LookupPhase phase = poll_lookup();
        if (phase == LOOKUP_FAILED) {
            show_message("%s", lookup_message());
            finish_lookup();
            return;
        }
        if (phase == LOOKUP_IDLE)
            return;
        draw_lookup_picker(list, view,
                           phase == LOOKUP_RUNNING ? "Looking the disc up on MusicBrainz..." : "");
        int key = read_key_or_news(5);
        // A hung-up terminal or a quit signal ends mivo: nothing is chosen.
        if (terminal_lost() || player.quit) {
            player.quit = 1;
            cancel_lookup();
            return;
        }
        PickerAction action = picker_key(key, view, phase == LOOKUP_DONE ? list.count : 0);
        if (action == PICKER_NONE) {
            cancel_lookup();
            finish_lookup();
            return;
        }
        if (action == PICKER_CHOSEN) {
            store_choice(list.item[view.selected]);
            finish_lookup();
            return;
        }
        poll_drive();
        if (player.disc_id != looked_up_disc)
            return; // the new disc's lookup, if any, has replaced this one
    }
}

void advance_lookup()
{
    if (first_disc_pending) {
        first_disc_pending = false;
        lookup_new_disc(title_file_exists());
    }
    LookupPhase phase = poll_lookup();
    if (phase == LOOKUP_FAILED) {
        show_message("%s", lookup_message());
        finish_lookup();
        return;
    }
    if (phase != LOOKUP_DONE)
        return;
    if (!disc_in_drive() || player.disc_id != looked_up_disc) {
        finish_lookup();
        return;
    }
    // Applied without asking only while nothing typed can be overwritten.
    int choice = automatic_choice(lookup_candidates());
    if (choice >= 0 && texts_empty()) {
        store_choice(lookup_candidates().item[choice]);
        finish_lookup();
        return;
    }
    run_choice();
}

void choose_titles()
{
    if (!disc_in_drive()) {
        show_message("No disc to look up.");
        return;
    }
    if (!lookups_ready) {
        show_message("Lookup: the network library could not start.");
        return;
    }
    look_up_current_disc();
    run_choice();
}
