// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the CUE sheet reader: any bytes as a sheet's text. The first
// byte sets the length of the sheet's files. A sheet read must stay within its
// tables with texts of valid UTF-8 free of control characters; a failure must
// say why. A sheet laid out on the disc must give runs of frames that follow
// each other without a hole, never past a file's end, and a table of contents
// in disc order ending where the runs end.
#include "drive/digital/cue_sheet.h"
#include "fuzz_target.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace
{

const char *const TOKENS[] = {
    "FILE ",      "TRACK ",   "INDEX 00 ", "INDEX 01 ", "INDEX 02 ", "PREGAP ",  "POSTGAP ",
    "TITLE ",     "PERFORMER ", "REM GENRE ", "REM DATE ", "CATALOG ", "FLAGS DCP", "ISRC ",
    " WAVE",      " BINARY",  " MOTOROLA", " AUDIO",   " MODE1/2352", " MODE2/2352",
    " MODEx/2xxx", "00:00:00", "99:59:74",  "00:02:00", "\"a.wav\"", "\"\"", "\xef\xbb\xbf",
    "\\",          "01",        "99",
};

CueSheet sheet;
CueLayout layout;
DiscText text;
char error[CUE_ERROR_SIZE];
uint32_t file_frames[CUE_MAX_FILES];

[[noreturn]] void fail(const char *what)
{
    fprintf(stderr, "cue sheet fuzz: %s\n", what);
    abort();
}

void check_text(const char *t, size_t size)
{
    const char *end = static_cast<const char *>(memchr(t, '\0', size));
    if (end == nullptr)
        fail("a text without its NUL");
    const unsigned char *p = reinterpret_cast<const unsigned char *>(t);
    for (; *p != 0; p++) {
        if (*p < 0x20 || *p == 0x7f)
            fail("a control character in a text");
        if (*p >= 0x80) {
            int n = (*p & 0xe0) == 0xc0 ? 2 : (*p & 0xf0) == 0xe0 ? 3 : (*p & 0xf8) == 0xf0 ? 4 : 0;
            if (n == 0)
                fail("a text that is not UTF-8");
            for (int k = 1; k < n; k++)
                if ((p[k] & 0xc0) != 0x80)
                    fail("a text that is not UTF-8");
            p += n - 1;
        }
    }
}

void check_layout()
{
    uint32_t disc = layout.segment_count > 0 ? layout.segment[0].disc_start : 0;
    for (int32_t i = 0; i < layout.segment_count; i++) {
        const CueSegment &s = layout.segment[i];
        if (s.disc_start != disc)
            fail("runs of frames with a hole or an overlap");
        if (s.file >= sheet.file_count || s.file < -1)
            fail("a run of a file the sheet does not name");
        if (s.file >= 0 && static_cast<uint64_t>(s.file_frame) + s.frames > file_frames[s.file])
            fail("a run past its file's end");
        disc += s.frames;
    }
    const Toc &toc = layout.toc;
    if (toc.count != sheet.track_count)
        fail("a table of another track count");
    for (int32_t t = 0; t < toc.count; t++)
        if (toc.track[t + 1].offset < toc.track[t].offset ||
            toc.track[t].length != toc.track[t + 1].offset - toc.track[t].offset)
            fail("a table out of disc order");
    if (layout.segment_count > 0 && toc.track[toc.count].offset != disc)
        fail("a lead-out where the runs do not end");
}

} // namespace

const FuzzHints fuzz_hints = {TOKENS, std::size(TOKENS), "\x40", 1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size - 1 > static_cast<size_t>(CUE_MAX_SHEET_BYTES))
        return 0;
    size_t length = size - 1;
    char *copy = static_cast<char *>(malloc(length > 0 ? length : 1));
    memcpy(copy, data + 1, length);
    int result = parse_cue_text("/nonexistent/fuzz.cue", copy, static_cast<int32_t>(length), sheet,
                                error, sizeof error);
    free(copy);
    if (memchr(error, '\0', sizeof error) == nullptr)
        fail("an error without its NUL");
    if (result < 0) {
        if (error[0] == '\0')
            fail("a failure without a reason");
        return 0;
    }
    if (sheet.track_count < 1 || sheet.track_count > MAX_TRACKS || sheet.file_count < 0 ||
        sheet.file_count > CUE_MAX_FILES || sheet.event_count < 0 ||
        sheet.event_count > CUE_MAX_EVENTS)
        fail("a count beyond its table");
    for (int32_t f = 0; f < sheet.file_count; f++)
        if (memchr(sheet.file[f].path, '\0', sizeof sheet.file[f].path) == nullptr)
            fail("a path without its NUL");
    check_text(sheet.title, sizeof sheet.title);
    check_text(sheet.performer, sizeof sheet.performer);
    for (int32_t t = 0; t < sheet.track_count; t++) {
        check_text(sheet.track[t].title, sizeof sheet.track[t].title);
        check_text(sheet.track[t].performer, sizeof sheet.track[t].performer);
    }
    cue_disc_text(sheet, text);

    for (int32_t f = 0; f < sheet.file_count; f++)
        file_frames[f] = 1 + (data[0] * 7919u + static_cast<uint32_t>(f) * 104729u) % 450000u;
    error[0] = '\0';
    if (layout_cue_sheet(sheet, file_frames, layout, error, sizeof error) < 0) {
        if (error[0] == '\0')
            fail("a layout failure without a reason");
        return 0;
    }
    check_layout();
    return 0;
}
