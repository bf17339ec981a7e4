// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/chafa_library.h"

#include "chafa_library_name.h"
#include "common/shared_library.h"

ChafaLibrary libchafa;

const char CHAFA_LIBRARY_NAME[] = MIVO_CHAFA_SONAME;

bool chafa_library_open(const char *name, ChafaLibrary &out, char *error, size_t size)
{
    ChafaLibrary found;
    const LibraryFunction functions[] = {
        {"chafa_set_n_threads", &found.set_n_threads},
        {"chafa_term_db_get_default", &found.term_db_get_default},
        {"chafa_term_db_detect", &found.term_db_detect},
        {"chafa_term_db_get_fallback_info", &found.term_db_get_fallback_info},
        {"chafa_term_info_copy", &found.term_info_copy},
        {"chafa_term_info_supplement", &found.term_info_supplement},
        {"chafa_term_info_unref", &found.term_info_unref},
        {"chafa_term_info_have_seq", &found.term_info_have_seq},
        {"chafa_calc_canvas_geometry", &found.calc_canvas_geometry},
        {"chafa_symbol_map_new", &found.symbol_map_new},
        {"chafa_symbol_map_add_by_tags", &found.symbol_map_add_by_tags},
        {"chafa_symbol_map_unref", &found.symbol_map_unref},
        {"chafa_canvas_config_new", &found.canvas_config_new},
        {"chafa_canvas_config_set_geometry", &found.canvas_config_set_geometry},
        {"chafa_canvas_config_set_cell_geometry", &found.canvas_config_set_cell_geometry},
        {"chafa_canvas_config_set_pixel_mode", &found.canvas_config_set_pixel_mode},
        {"chafa_canvas_config_set_canvas_mode", &found.canvas_config_set_canvas_mode},
        {"chafa_canvas_config_set_symbol_map", &found.canvas_config_set_symbol_map},
        {"chafa_canvas_config_unref", &found.canvas_config_unref},
        {"chafa_canvas_new", &found.canvas_new},
        {"chafa_canvas_draw_all_pixels", &found.canvas_draw_all_pixels},
        {"chafa_canvas_print", &found.canvas_print},
        {"chafa_canvas_unref", &found.canvas_unref},
        {"g_string_free", &found.string_free},
    };
    static_assert(sizeof functions / sizeof functions[0] == sizeof(ChafaLibrary) / sizeof(void (*)()),
                  "every function of the record is looked up");
    if (!open_shared_library(name, functions, sizeof functions / sizeof functions[0], error, size))
        return false;
    out = found;
    return true;
}
