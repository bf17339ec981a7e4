// SPDX-License-Identifier: GPL-3.0-or-later
// The choice among lookup results: a full-screen list, two rows a candidate
// (artist / title, then year, country, format, disc n of m, label and
// catalogue number, exact or near), moved with Up and Down, taken with Enter,
// refused with N. It draws and reads keys; what a choice does is the
// caller's.
#pragma once

#include "lookup/candidate.h"

#include <cstdint>

struct PickerView {
    int32_t selected; // index into the list
    int32_t top;      // first candidate shown
};

enum PickerAction { PICKER_STAY, PICKER_CHOSEN, PICKER_NONE };

// Draws the list with the selection highlighted; status, when not empty,
// replaces the list (a lookup still running, or why there is nothing).
void draw_lookup_picker(const CandidateList &list, PickerView &view, const char *status);

// Moves the selection for Up and Down, or ends the choice: Enter takes the
// selected candidate (when there is one), N, Q and Escape take none.
PickerAction picker_key(int key, PickerView &view, int32_t count);

// The second row of a candidate: "2010, GB, CD, disc 1 of 2, Label CAT, exact".
void describe_candidate(const Candidate &c, char *out, int size);
