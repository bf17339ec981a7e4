// The player's single-key commands.
#pragma once

// Carries out the command bound to key, if any; ERR and unbound keys do nothing.
void dispatch_key(int key);

// Starts playback at (track, frame): that track alone in Repeat Track, the rest
// of the disc otherwise.
void play_from(int track, int frame);

enum VolumeStep { VOLUME_DOWN = 0, VOLUME_UP = 1 };

// Moves the drive's output volume on channels 0 and 1 by one step of 5.
void step_volume(VolumeStep step);
