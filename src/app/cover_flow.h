// SPDX-License-Identifier: GPL-3.0-or-later
// The disc's cover as the player uses it: an image in a rip's folder first,
// else the front cover of the MusicBrainz release its titles came from,
// fetched and cached; followed as the disc and its titles change.
#pragma once

// Reads the settings, once the lookups have read theirs; the network library
// is loaded by the first fetch or lookup.
void start_covers();

// Part of every turn: notices a new disc or new titles and moves a fetch on.
void advance_cover();

// The cover's image file, or "" while the disc has none (yet).
const char *current_cover();

// True while a cover is being fetched, so the loop's wait watches for it.
bool cover_fetching();

// Waits for the fetch or input on fds, as the lookups' wait does.
void wait_for_cover(const int *fds, int count, int timeout_ms);
