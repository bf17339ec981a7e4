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
#include "ui/key_help.h"
#include "ui/lookup_picker.h"
#include "ui/message_line.h"
#include "ui/screen.h"
#include "ui/terminal.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static struct {
    // The disc the running lookup is for, as the disc id the texts are filed
    // under; results are stored only while this disc is in the drive.
    uint64_t looked_up_disc;
    // The settings are read: before that, L would ask a server of no address.
    bool started;
    // The disc found at start-up still waits for its first look.
    bool first_disc_pending;
    // The user asked (L): the results are offered, never applied unasked.
    bool asked;
    PickerView view;
    // The link to add the last disc nobody knew, for the key help and the
    // line at shut-down.
    char add_link[1400];
} flow;

void start_lookups(int argc, char **argv)
{
    lookup_init(MIVO_VERSION);
    flow.started = true;
    editor_lookup = choose_titles;
    // --no-lookup as the command line read it, or among arguments handed to
    // start-up directly.
    if (command_line.lookup_disabled)
        lookup_settings.automatic = false;
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--no-lookup") == 0)
            lookup_settings.automatic = false;
    flow.first_disc_pending = true;
    atexit(stop_lookups);
}

void stop_lookups()
{
    if (flow.started)
        lookup_shutdown();
    flow.started = false;
}

// True when the disc in the drive has a title file, readable or not, that
// holds what the user typed: one of empty fields holds nothing.
static bool title_file_exists()
{
    if (player.db.unreadable || player.db.short_name || build_database_path(player.disc_id) != 0)
        return !database_is_empty(player.db, player.drive.toc) || player.db.unreadable;
    struct stat info;
    return stat(database_path, &info) == 0 && !database_is_empty(player.db, player.drive.toc);
}

static bool disc_in_drive()
{
    return player.drive.state > DRIVE_NO_DISC && player.drive.toc.count > 0;
}

// Starts a lookup of the disc now in the drive.
static void look_up_current_disc()
{
    flow.looked_up_disc = player.disc_id;
    start_lookup(player.drive.toc, static_cast<uint32_t>(player.disc_id));
    show_progress("Looking the disc up on MusicBrainz...");
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
    if (!disc_in_drive() || player.disc_id != flow.looked_up_disc) {
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

// The choice among the results, a screen of its own over the player or the
// editor. The drive is followed meanwhile: a disc change ends the choice.
static void draw_choice() { draw_lookup_picker(lookup_candidates(), flow.view, ""); }

static void close_choice()
{
    flow.asked = false;
    close_screen(choice_screen);
}

static void choice_key(int key)
{
    if (key == KEY_RESIZE)
        return;
    const CandidateList &list = lookup_candidates();
    PickerAction action = picker_key(key, flow.view, list.count);
    if (action == PICKER_NONE) {
        cancel_lookup();
        finish_lookup();
        close_choice();
    } else if (action == PICKER_CHOSEN) {
        const Candidate &chosen = list.item[flow.view.selected];
        close_choice();
        store_choice(chosen);
        finish_lookup();
    }
}

// mivo ends with the choice open: nothing is chosen.
static void leave_choice()
{
    flow.asked = false;
    cancel_lookup();
}

const Screen choice_screen = {"lookup choice", draw_choice, choice_key, leave_choice,
                              SCREEN_OPAQUE};

// Whether the outcome of the lookup may be acted on now: over the player, or
// over the editor when the user asked there. Keys typed meanwhile belong to
// the screen they were typed on, so over a prompt or the key help it waits.
static bool outcome_may_show()
{
    const Screen *top = top_screen();
    if (top == nullptr || top == &player_screen)
        return true;
    return flow.asked && top == &track_editor_screen;
}

// Says why the lookup found nothing, in words the message line can hold: a
// network that could not be reached is no reason to add the disc, and the
// link for a disc the servers did not know goes where there is room for it.
static void say_failure()
{
    const char *message = lookup_message();
    const char *link = strstr(message, " Add the disc: ");
    const int reason =
        link != nullptr ? static_cast<int>(link - message) : static_cast<int>(strlen(message));
    static constexpr char UNKNOWN[] = "No titles found.";
    static constexpr char NO_ANSWER[] = "Lookup failed: ";
    if (strncmp(message, UNKNOWN, sizeof UNKNOWN - 1) == 0) {
        if (lookup_add_disc_link(flow.add_link, sizeof flow.add_link) < 0)
            flow.add_link[0] = '\0';
        char note[sizeof flow.add_link + 64];
        snprintf(note, sizeof note, "No titles found for this disc. Add it to MusicBrainz:\n%s",
                 flow.add_link);
        set_key_help_note(note);
        show_message("No titles found for this disc; ? shows the link to add it.");
    } else if (strncmp(message, NO_ANSWER, sizeof NO_ANSWER - 1) == 0 &&
               strstr(message, "busy") == nullptr) {
        // The detail without its full stop.
        const int start = static_cast<int>(sizeof NO_ANSWER - 1);
        int length = reason - start;
        if (length > 0 && message[start + length - 1] == '.')
            length--;
        show_message("Lookup: the network could not be reached (%.*s)", length, message + start);
    } else {
        show_message("%.*s", reason, message);
    }
}

const char *unknown_disc_link() { return flow.add_link; }

void advance_lookup()
{
    if (flow.first_disc_pending) {
        flow.first_disc_pending = false;
        lookup_new_disc(title_file_exists());
    }
    LookupPhase phase = poll_lookup();
    if (phase != LOOKUP_RUNNING)
        end_progress();
    if (screen_is_open(choice_screen)) {
        if (phase != LOOKUP_DONE || !disc_in_drive() || player.disc_id != flow.looked_up_disc)
            close_choice();
        return;
    }
    if (phase == LOOKUP_FAILED) {
        flow.asked = false;
        say_failure();
        finish_lookup();
        return;
    }
    if (phase != LOOKUP_DONE)
        return;
    if (!disc_in_drive() || player.disc_id != flow.looked_up_disc) {
        flow.asked = false;
        finish_lookup();
        return;
    }
    if (!outcome_may_show())
        return;
    // Applied without asking only while nothing typed can be overwritten.
    int choice = automatic_choice(lookup_candidates());
    if (!flow.asked && choice >= 0 && texts_empty()) {
        store_choice(lookup_candidates().item[choice]);
        finish_lookup();
        return;
    }
    flow.view = PickerView{0, 0};
    open_screen(choice_screen);
}

void choose_titles()
{
    if (!disc_in_drive()) {
        show_message("No disc to look up.");
        return;
    }
    if (!flow.started) {
        show_message("Lookup: lookups are not set up.");
        return;
    }
    look_up_current_disc();
    flow.asked = true;
}
