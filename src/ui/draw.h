// SPDX-License-Identifier: GPL-3.0-or-later
// Screen geometry and the drawing primitives the full-screen views share:
// rectangles, dividers that join a frame with tees, and labels cut with dots.
#pragma once

#include <curses.h>

// A half-open area: rows top..bottom-1, columns left..right-1. height and
// width are stored as set, never clamped, so they may be negative.
struct Rect {
    int top;
    int left;
    int bottom;
    int right;
    int height;
    int width;
};

// Stores the four edges and the height and width they give.
void set_rect(Rect &rect, int top, int left, int bottom, int right);

// The frame along the window's outermost rows and columns, standard corners.
void draw_border(WINDOW *window);

// A horizontal line of length cells from (row, col) with a tee at each end.
void draw_hdivider(WINDOW *window, int row, int col, int length);

// A vertical line of length cells from (row, col) with a tee at each end.
void draw_vdivider(WINDOW *window, int row, int col, int length);

// Prints text at (row, col) in at most width cells, counted in bytes; a text
// that does not fit ends in dots.
void draw_clipped(WINDOW *window, int row, int col, const char *text, int width);

// Prints at most count bytes of text at the cursor, never more than one cell
// per byte: a character cut by the limit is dropped whole, bytes that are not
// valid in the locale show as their ISO-8859-1 letter (or '?'), and control
// bytes show as '?'.
void draw_bytes(WINDOW *window, const char *text, int count);

// Shows the message line's current message over the window's bottom row,
// between the corners; an empty message leaves the row as drawn.
void draw_message_line(WINDOW *window);
