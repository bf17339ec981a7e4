#include "ui/prompt.h"

// Placeholders until the dialog lands: no input is ever read.
int prompt_string(char *, int, const char *) { return -1; }

int prompt_track_number() { return -1; }
