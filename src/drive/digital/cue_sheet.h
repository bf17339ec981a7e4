// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets: the text of a disc image read into a fixed-size record (files,
// tracks, indexes, gaps and CD-TEXT), and the layout that places the files'
// frames on the disc as a pressed disc would hold them. Opening the audio
// files is the image source's business; this module only reads text and does
// arithmetic on frame counts.
#pragma once

#include "drive/drive.h"

#include <cstdint>

inline constexpr int CUE_MAX_FILES = MAX_TRACKS;
inline constexpr int CUE_PATH_SIZE = 1024;
inline constexpr int CUE_ERROR_SIZE = 1536;
inline constexpr int CUE_TEXT_SIZE = CDTEXT_FIELD_SIZE;
// Each track brings at most INDEX 00, INDEX 01, a PREGAP and a POSTGAP.
inline constexpr int CUE_MAX_EVENTS = 4 * MAX_TRACKS;
// Every file, and every gap cutting a file in two, plus the gaps themselves.
inline constexpr int CUE_MAX_SEGMENTS = CUE_MAX_FILES + 2 * CUE_MAX_EVENTS;
// Sheets larger than this are not sheets; real ones stay under 20 KiB.
inline constexpr int CUE_MAX_SHEET_BYTES = 256 * 1024;

// How the sheet declares a file; the image source decides from the content.
enum CueFileType : int32_t {
    CUE_FILE_BINARY,   // raw 16-bit little-endian
    CUE_FILE_MOTOROLA, // raw 16-bit big-endian
    CUE_FILE_AUDIO,    // WAVE, AIFF, FLAC, MP3 and the like: decoded
};

struct CueFile {
    char path[CUE_PATH_SIZE]; // joined to the sheet's folder when relative
    int32_t folder_length;    // bytes of path that are the sheet's folder
    CueFileType type;
    int32_t line;
    // Bytes of one sector in a raw file: 2352 for audio, less for some data
    // tracks; 0 until a track of the file names it.
    int32_t sector_bytes;
    // Set by the image source for a file only data tracks use that is not
    // there: it holds no frames, and its indexes need none.
    bool absent;
};

struct CueTrack {
    int32_t number;
    bool audio;
    int32_t sector_bytes;
    int32_t line;
    bool has_index1;
    char title[CUE_TEXT_SIZE];
    char performer[CUE_TEXT_SIZE];
};

// What happens at one point of the sheet, in the sheet's order: an index is
// met, or a gap of silence is put in.
enum CueEventKind : int32_t { CUE_INDEX0, CUE_INDEX1, CUE_SILENCE };

// A gap sits where the next index is met; the last track's POSTGAP sits after
// every file (file == file_count).
struct CueEvent {
    CueEventKind kind;
    int32_t track;  // 0-based
    int32_t file;   // the file being read when the index was met
    uint32_t frame; // within that file
    uint32_t gap;   // frames of silence, for CUE_SILENCE
    int32_t line;
};

struct CueSheet {
    char path[CUE_PATH_SIZE];
    bool windows1252; // the text was not valid UTF-8 and was read as Windows-1252
    int32_t file_count;
    CueFile file[CUE_MAX_FILES];
    int32_t track_count;
    CueTrack track[MAX_TRACKS];
    int32_t event_count;
    CueEvent event[CUE_MAX_EVENTS];
    char title[CUE_TEXT_SIZE];
    char performer[CUE_TEXT_SIZE];
    char genre[CUE_TEXT_SIZE]; // REM GENRE
    char date[CUE_TEXT_SIZE];  // REM DATE
};

// A run of disc frames: from a file, or silence when file is -1.
struct CueSegment {
    uint32_t disc_start;
    uint32_t frames;
    int32_t file;
    uint32_t file_frame;
};

// Between the audio session of an Enhanced CD and its data track lie the
// session's lead-out, the next lead-in and the data track's pregap.
inline constexpr uint32_t ENHANCED_CD_GAP_FRAMES = 11400;

struct CueLayout {
    int32_t segment_count;
    CueSegment segment[CUE_MAX_SEGMENTS];
    Toc toc;
};

// Reads the sheet at path into sheet; on failure returns -1 and writes one
// line naming the sheet and the line into error.
int parse_cue_sheet(const char *path, CueSheet &sheet, char *error, int error_size);

// Parses sheet text already in memory (the bytes from text to text + length);
// path names the sheet in messages and anchors relative file names.
int parse_cue_text(const char *path, const char *text, int32_t length, CueSheet &sheet, char *error,
                   int error_size);

// Places the files, whose lengths in frames are given in file order, on the
// disc from frame LEAD_IN_FRAMES on and fills the table of contents; -1 with
// a message naming the file and line when the sheet points past a file's end.
// Data tracks after the last audio track start ENHANCED_CD_GAP_FRAMES after
// the audio ends, as on an Enhanced CD (silence makes up what the sheet's
// files lack), and the last audio track ends where the audio does.
int layout_cue_sheet(const CueSheet &sheet, const uint32_t *file_frames, CueLayout &layout,
                     char *error, int error_size);

// Writes length bytes of Windows-1252 text as UTF-8 into out, with a final
// NUL; the five bytes the code page leaves undefined become the C1 code points
// of the same number, as Windows reads them. -1 when it does not fit.
int windows1252_to_utf8(const char *text, int32_t length, char *out, int size);

// Copies a title from outside a sheet (a file's tags) into a field as the
// sheet's own titles are copied: UTF-8 when it is valid, else Windows-1252,
// cut between characters, control characters made spaces.
void cue_copy_text(char *out, int size, const char *text, int32_t length);

// Fills text with the sheet's CD-TEXT: entry MAX_TRACKS the disc, 0.. the tracks.
void cue_disc_text(const CueSheet &sheet, DiscText &text);
