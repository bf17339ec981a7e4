// SPDX-License-Identifier: GPL-3.0-or-later
// What a person points mivo at when a disc was ripped: a CUE sheet, the
// folder of a rip (its one sheet, or its audio files as the disc's tracks in
// natural order), or one audio file (its embedded cue sheet, or one track).
// Each becomes the sheet record the image source lays out and plays; the
// names of folders' files and the embedded sheets are untrusted input.
#pragma once

#include "drive/digital/cue_sheet.h"

#include <FLAC/format.h>

#include <cstddef>
#include <cstdint>

// How a rip became a sheet.
enum RipKind : int32_t {
    RIP_SHEET,      // a sheet file, or the one sheet of a folder
    RIP_FOLDER,     // a folder's audio files, one a track
    RIP_EMBEDDED,   // an audio file's own cue sheet
    RIP_SINGLE_FILE // an audio file of one track
};

// Reads the rip at path into sheet. Folders and single files get
// INDEX 01 at the start of each file; their tracks' titles are the files'
// tags, filled in when the files are probed. -1 with one line in error: a
// folder with no sheet and no audio, a folder of several sheets (named), a
// format no library of mivo's reads (named), or the sheet's own faults.
int read_rip(const char *path, CueSheet &sheet, RipKind &kind, char *error, int error_size);

// Orders names as people count: runs of digits by their value, so "2" comes
// before "10"; otherwise bytewise, ASCII letters in any case.
int natural_compare(const char *a, const char *b);

// The folder a rip's files lie in, for whoever looks for what else the rip
// holds (cover images): the folder itself, or the folder of a sheet or audio
// file; "." for a bare file name. -1 when it does not fit.
int rip_folder(const char *path, char *out, size_t size);

// The format of an audio file by its first bytes: "FLAC", "WavPack",
// "Monkey's Audio", "TAK", "WAVE", "AIFF", "Ogg", "MP3", or nullptr for none
// of them (a sheet, say).
const char *audio_format_of(const unsigned char *head, size_t length);

// Reads FLAC's CUESHEET block (the file's, so untrusted: every number is
// checked) into a sheet of the one file at path; -1 when it describes no disc.
int sheet_of_flac_block(const char *path, const FLAC__StreamMetadata_CueSheet &block,
                        CueSheet &sheet);

// Reads the cue sheet an audio file carries: a CUESHEET tag (FLAC's Vorbis
// comments, WavPack's APEv2 tags) as text into text, or FLAC's CUESHEET block
// into sheet directly. Returns 1 for text, 2 for a block read into sheet, 0
// when the file carries none, -1 when it cannot be read.
int read_embedded_sheet(const char *path, char *text, int32_t text_size, int32_t &length,
                        CueSheet &sheet);
