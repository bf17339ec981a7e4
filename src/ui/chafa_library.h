// SPDX-License-Identifier: GPL-3.0-or-later
// libchafa, opened with dlopen when a cover is first to be drawn rather than
// linked: a run that shows no cover never maps it nor glib, whose relocated
// pages would otherwise be private memory spent for nothing. The functions
// the cover view calls, and glib's g_string_free for the text chafa prints
// into, are reached through one record of pointers; chafa's headers still
// give the types and constants.
#pragma once

#include <chafa.h>

#include <cstddef>

struct ChafaLibrary {
    decltype(&chafa_set_n_threads) set_n_threads;
    decltype(&chafa_term_db_get_default) term_db_get_default;
    decltype(&chafa_term_db_detect) term_db_detect;
    decltype(&chafa_term_db_get_fallback_info) term_db_get_fallback_info;
    decltype(&chafa_term_info_copy) term_info_copy;
    decltype(&chafa_term_info_supplement) term_info_supplement;
    decltype(&chafa_term_info_unref) term_info_unref;
    decltype(&chafa_term_info_have_seq) term_info_have_seq;
    decltype(&chafa_calc_canvas_geometry) calc_canvas_geometry;
    decltype(&chafa_symbol_map_new) symbol_map_new;
    decltype(&chafa_symbol_map_add_by_tags) symbol_map_add_by_tags;
    decltype(&chafa_symbol_map_unref) symbol_map_unref;
    decltype(&chafa_canvas_config_new) canvas_config_new;
    decltype(&chafa_canvas_config_set_geometry) canvas_config_set_geometry;
    decltype(&chafa_canvas_config_set_cell_geometry) canvas_config_set_cell_geometry;
    decltype(&chafa_canvas_config_set_pixel_mode) canvas_config_set_pixel_mode;
    decltype(&chafa_canvas_config_set_canvas_mode) canvas_config_set_canvas_mode;
    decltype(&chafa_canvas_config_set_symbol_map) canvas_config_set_symbol_map;
    decltype(&chafa_canvas_config_unref) canvas_config_unref;
    decltype(&chafa_canvas_new) canvas_new;
    decltype(&chafa_canvas_draw_all_pixels) canvas_draw_all_pixels;
    decltype(&chafa_canvas_print) canvas_print;
    decltype(&chafa_canvas_unref) canvas_unref;
    // glib's, found through chafa's handle among its dependencies.
    decltype(&g_string_free) string_free;
};

// The functions of the library the cover view loaded.
extern ChafaLibrary libchafa;

// The libchafa the build was made against, by its SONAME.
extern const char CHAFA_LIBRARY_NAME[];

// Opens the shared library name and resolves every function of the record
// into out. On failure error names the library and says why, in the dynamic
// loader's words where it has some, and out is left as it was. The library
// stays mapped until mivo ends.
bool chafa_library_open(const char *name, ChafaLibrary &out, char *error, size_t size);
