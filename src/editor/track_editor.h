// The track list editor: a full-screen loop for the disc and track titles that
// saves the disc's file when it is left.
#pragma once

#include "core/player.h"

// Runs the editor until the user leaves it, then saves the texts.
void run_track_editor(PlayerState &state);
