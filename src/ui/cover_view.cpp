// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/cover_view.h"

#include "ui/chafa_library.h"
#include "ui/message_line.h"
#include "ui/player_screen.h"

#include <curses.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

// The columns the control panel's keys take, from its left edge: the longest
// label of the second column of hints ends 49 columns in; one more keeps the
// picture clear of it.
static constexpr int KEYS_WIDTH = 51;
static constexpr int MIN_COLS = 16;
static constexpr int MIN_ROWS = 6;

bool cover_region_for(int lines, int cols, CoverRegion &region)
{
    // Inside the control panel, a column and a row clear of its frame: it
    // spans rows 1 to lines - 8 above the disc information's six rows.
    region.top = 2;
    region.left = control_panel_left(cols) + KEYS_WIDTH;
    region.rows = lines - 10;
    region.cols = cols - 2 - region.left - 1;
    return region.rows >= MIN_ROWS && region.cols >= MIN_COLS;
}

static bool write_all(int fd, const char *data, size_t size, long &total)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        total += n;
    }
    return true;
}

static const char *library_name = CHAFA_LIBRARY_NAME;
static bool library_loaded;
static bool library_failed;
static char library_error[160];

bool cover_library_load()
{
    if (library_loaded)
        return true;
    if (library_failed)
        return false;
#if MIVO_TEST_HOOKS
    // Test hook: the end-to-end tests name a library that is not there to
    // see the player go on as it would without chafa.
    static bool hook_read;
    const char *hooked = getenv("MIVO_TEST_CHAFA_LIBRARY");
    if (!hook_read && hooked != nullptr && hooked[0] != '\0')
        library_name = hooked;
    hook_read = true;
#endif
    if (!chafa_library_open(library_name, libchafa, library_error, sizeof library_error)) {
        library_failed = true;
        return false;
    }
    // One picture now and then needs no pool of threads kept waiting.
    libchafa.set_n_threads(1);
    library_loaded = true;
    return true;
}

const char *cover_library_error() { return library_error; }

static bool library_reported;

void cover_use_library(const char *name)
{
    library_name = name;
    library_loaded = false;
    library_failed = false;
    library_reported = false;
    library_error[0] = '\0';
}

static ChafaPixelMode chafa_mode(CoverPixelMode mode)
{
    switch (mode) {
    case PIXELS_SIXELS:
        return CHAFA_PIXEL_MODE_SIXELS;
    case PIXELS_KITTY:
        return CHAFA_PIXEL_MODE_KITTY;
    case PIXELS_ITERM:
        return CHAFA_PIXEL_MODE_ITERM2;
    case PIXELS_SYMBOLS:
        break;
    }
    return CHAFA_PIXEL_MODE_SYMBOLS;
}

// What chafa's database knows of the terminal the environment names.
static ChafaTermInfo *term_info()
{
    static ChafaTermInfo *info;
    if (info == nullptr)
        info = libchafa.term_db_detect(libchafa.term_db_get_default(), environ);
    return info;
}

// The same with every image protocol's sequences filled in, so that a mode
// MIVO_COVER_MODE names can be printed whatever the database says.
static ChafaTermInfo *printing_info()
{
    static ChafaTermInfo *info;
    if (info == nullptr) {
        info = libchafa.term_info_copy(term_info());
        // The fallback comes as a reference of the caller's own.
        ChafaTermInfo *fallback = libchafa.term_db_get_fallback_info(libchafa.term_db_get_default());
        libchafa.term_info_supplement(info, fallback);
        libchafa.term_info_unref(fallback);
    }
    return info;
}

CoverPixelMode detect_cover_mode()
{
    const char *forced = getenv("MIVO_COVER_MODE");
    if (forced != nullptr && forced[0] != '\0') {
        if (strcmp(forced, "sixels") == 0)
            return PIXELS_SIXELS;
        if (strcmp(forced, "kitty") == 0)
            return PIXELS_KITTY;
        if (strcmp(forced, "iterm") == 0)
            return PIXELS_ITERM;
        return PIXELS_SYMBOLS;
    }
    if (!cover_library_load())
        return PIXELS_SYMBOLS;
    ChafaTermInfo *info = term_info();
    if (libchafa.term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_KITTY_IMMEDIATE_IMAGE_V1))
        return PIXELS_KITTY;
    if (libchafa.term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_ITERM2_IMAGE))
        return PIXELS_ITERM;
    if (libchafa.term_info_have_seq(info, CHAFA_TERM_SEQ_BEGIN_SIXELS))
        return PIXELS_SIXELS;
    return PIXELS_SYMBOLS;
}

// The colours the terminal can show, as chafa's database knows it.
static ChafaCanvasMode canvas_mode()
{
    ChafaTermInfo *info = term_info();
    if (libchafa.term_info_have_seq(info, CHAFA_TERM_SEQ_SET_COLOR_FGBG_DIRECT))
        return CHAFA_CANVAS_MODE_TRUECOLOR;
    if (libchafa.term_info_have_seq(info, CHAFA_TERM_SEQ_SET_COLOR_FGBG_256))
        return CHAFA_CANVAS_MODE_INDEXED_240;
    return CHAFA_CANVAS_MODE_INDEXED_16;
}

long render_cover(const CoverPixels &pixels, const CoverRegion &region, CoverPixelMode mode,
                  int cell_width, int cell_height, int fd)
{
    if (pixels.rgba == nullptr || region.rows <= 0 || region.cols <= 0 || !cover_library_load())
        return -1;
    if (cell_width <= 0 || cell_height <= 0) {
        cell_width = 10;
        cell_height = 20;
    }
    // The largest picture of the cover's shape that fits the region.
    gint cols = region.cols;
    gint rows = region.rows;
    libchafa.calc_canvas_geometry(pixels.width, pixels.height, &cols, &rows,
                               static_cast<gfloat>(cell_width) / static_cast<gfloat>(cell_height),
                               FALSE, FALSE);
    ChafaSymbolMap *symbols = libchafa.symbol_map_new();
    libchafa.symbol_map_add_by_tags(symbols, static_cast<ChafaSymbolTags>(
                                              CHAFA_SYMBOL_TAG_BLOCK | CHAFA_SYMBOL_TAG_BORDER |
                                              CHAFA_SYMBOL_TAG_SPACE));
    ChafaCanvasConfig *config = libchafa.canvas_config_new();
    libchafa.canvas_config_set_geometry(config, cols, rows);
    libchafa.canvas_config_set_cell_geometry(config, cell_width, cell_height);
    libchafa.canvas_config_set_pixel_mode(config, chafa_mode(mode));
    libchafa.canvas_config_set_canvas_mode(config, canvas_mode());
    libchafa.canvas_config_set_symbol_map(config, symbols);
    ChafaCanvas *canvas = libchafa.canvas_new(config);
    libchafa.canvas_draw_all_pixels(canvas, CHAFA_PIXEL_RGBA8_UNASSOCIATED, pixels.rgba,
                                 pixels.width, pixels.height, pixels.width * 4);
    GString *text = libchafa.canvas_print(canvas, printing_info());

    long total = 0;
    char move[32];
    // The cursor and its attributes are saved first: curses goes on from
    // where it believes the cursor is.
    bool ok = write_all(fd, "\0337", 2, total);
    if (mode == PIXELS_SYMBOLS) {
        // Rows come separated by newlines; each is placed on its own.
        const char *line = text->str;
        for (int row = 0; ok && line != nullptr && *line != '\0'; row++) {
            const char *end = strchr(line, '\n');
            size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
            int n = snprintf(move, sizeof move, "\033[%d;%dH", region.top + row + 1, region.left + 1);
            ok = write_all(fd, move, static_cast<size_t>(n), total) && write_all(fd, line, length, total);
            line = end != nullptr ? end + 1 : nullptr;
        }
    } else {
        int n = snprintf(move, sizeof move, "\033[%d;%dH", region.top + 1, region.left + 1);
        ok = write_all(fd, move, static_cast<size_t>(n), total) &&
             write_all(fd, text->str, text->len, total);
    }
    ok = ok && write_all(fd, "\033[0m\0338", 6, total);
    libchafa.string_free(text, TRUE);
    libchafa.canvas_unref(canvas);
    libchafa.canvas_config_unref(config);
    libchafa.symbol_map_unref(symbols);
    return ok ? total : -1;
}

// ----- the view on the player screen -----

static bool shown = true;
static char wanted[1024];
static char decoded[1024];
static CoverPixels pixels;
static bool dirty = true;
// What is on the terminal now: nothing, or a picture in this region.
static bool on_screen;
static CoverRegion drawn_region;
static CoverPixelMode drawn_mode;

void set_cover_image(const char *path)
{
    if (strcmp(path, wanted) == 0)
        return;
    snprintf(wanted, sizeof wanted, "%s", path);
    dirty = true;
}

void toggle_cover_view()
{
    shown = !shown;
    dirty = true;
}

bool cover_view_shown() { return shown; }

void cover_view_disturbed() { dirty = true; }

bool cover_view_pending() { return on_screen || (dirty && shown && wanted[0] != '\0'); }

static bool changed_since_decode() { return strcmp(decoded, wanted) != 0; }

// Blanks the region the picture took with spaces, which cover symbols and
// sixels, after kitty's own command for its images; a region of kitty's
// alone is left to curses, which has drawn it anew.
static void wipe(const CoverRegion &region, CoverPixelMode mode)
{
    long total = 0;
    write_all(STDOUT_FILENO, "\0337\033[0m", 6, total);
    if (mode == PIXELS_KITTY)
        write_all(STDOUT_FILENO, "\033_Ga=d\033\\", 8, total);
    for (int row = 0; mode != PIXELS_KITTY && row < region.rows; row++) {
        char line[64];
        int n = snprintf(line, sizeof line, "\033[%d;%dH\033[%dX", region.top + row + 1,
                         region.left + 1, region.cols);
        write_all(STDOUT_FILENO, line, static_cast<size_t>(n), total);
    }
    write_all(STDOUT_FILENO, "\0338", 2, total);
}

void draw_cover_view()
{
    CoverRegion region;
    bool room = cover_region_for(LINES, COLS, region);
    if (on_screen && (room ? memcmp(&region, &drawn_region, sizeof region) != 0 : true))
        dirty = true;
    if (!dirty)
        return;
    dirty = false;
    const bool changed = strcmp(decoded, wanted) != 0;
    if (shown && room && changed) {
        snprintf(decoded, sizeof decoded, "%s", wanted);
        if (wanted[0] == '\0' || !decode_cover(wanted, pixels))
            pixels = {nullptr, 0, 0};
    }
    const bool will_draw = shown && room && wanted[0] != '\0' && !changed_since_decode() &&
                           pixels.rgba != nullptr;
    if (on_screen) {
        // A resize has had curses draw the whole screen afresh, and the old
        // picture went with it; kitty keeps its images until told.
        const bool same_place = memcmp(&region, &drawn_region, sizeof region) == 0;
        if (drawn_mode == PIXELS_KITTY || (same_place && (!will_draw || changed)))
            wipe(drawn_region, same_place ? drawn_mode : PIXELS_KITTY);
        on_screen = false;
    }
    if (!will_draw)
        return;
    if (!cover_library_load()) {
        // Nothing else needs chafa: the player goes on without the picture.
        if (!library_reported)
            show_message("Cover: %s.", library_error);
        library_reported = true;
        return;
    }
    winsize size{};
    int cell_width = 0;
    int cell_height = 0;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        cell_width = size.ws_xpixel / size.ws_col;
        cell_height = size.ws_ypixel / size.ws_row;
    }
    drawn_mode = detect_cover_mode();
    if (render_cover(pixels, region, drawn_mode, cell_width, cell_height, STDOUT_FILENO) >= 0) {
        on_screen = true;
        drawn_region = region;
    }
}
