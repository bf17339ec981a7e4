#include "editor/track_editor.h"

// Placeholder until the editor lands.
void run_track_editor(PlayerState &) {}
