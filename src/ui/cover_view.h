// SPDX-License-Identifier: GPL-3.0-or-later
// The disc's cover on the player screen, drawn through chafa in the part of
// the control panel that its keys leave empty on a wide terminal: with
// kitty's or iTerm's image protocol or sixels where the terminal has them
// (as chafa's terminal database tells from the environment), in Unicode
// block symbols otherwise. curses does not know those cells: the picture is
// written after curses' refresh, and only when the cover, the size or what
// was drawn over it changed, so an idle screen writes nothing. chafa is
// opened when a picture is first to be drawn, not at start-up; without it
// no cover is drawn and the message line says why, once.
#pragma once

#include "desktop/cover_image.h"

struct CoverRegion {
    int top;
    int left;
    int rows;
    int cols;
};

// Where the cover goes on a terminal of this size; false when there is no
// room for it beside the keys.
bool cover_region_for(int lines, int cols, CoverRegion &region);

enum CoverPixelMode : int32_t { PIXELS_SYMBOLS, PIXELS_SIXELS, PIXELS_KITTY, PIXELS_ITERM };

// Writes the picture to fd for the region, in the mode, with its cursor
// saved and restored around it; cell_width and cell_height are the
// terminal's cell size in pixels (0 when unknown). Returns the bytes written,
// -1 on failure (chafa among them).
long render_cover(const CoverPixels &pixels, const CoverRegion &region, CoverPixelMode mode,
                  int cell_width, int cell_height, int fd);

// Opens chafa the first time it is called; true at once after that. False
// when it cannot: cover_library_error then names the library and says why,
// and a library that failed to load is not looked for again.
bool cover_library_load();
const char *cover_library_error();

// Names the library the next cover_library_load opens instead of the one
// mivo was built with, and forgets an earlier failure and its message (for
// the tests); name is kept, not copied.
void cover_use_library(const char *name);

// The mode chafa's terminal database finds for the environment, or the one
// MIVO_COVER_MODE (symbols, sixels, kitty, iterm) names.
CoverPixelMode detect_cover_mode();

// The cover to show: an image file, or "" for none. Cheap when unchanged.
void set_cover_image(const char *path);

// The A key: shows or hides the cover.
void toggle_cover_view();
bool cover_view_shown();

// Something was drawn over the region (a box, a dialog, a resize, a
// suspend): the cover is drawn again at the next chance.
void cover_view_disturbed();

// True while the view has something to draw or wipe, or a picture to keep
// in step with the screen: the loop then waits through draw_cover_view's
// caller.
bool cover_view_pending();

// Draws the cover, or wipes it, if anything changed since the last time;
// called right after curses' refresh of the player screen.
void draw_cover_view();
