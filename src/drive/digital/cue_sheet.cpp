// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/cue_sheet.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

// The parser's working state, kept apart from the sheet it fills.
struct Parser {
    const char *path;
    CueSheet *sheet;
    char *error;
    int error_size;
    int32_t line;
    int32_t current_file;  // -1 before the first FILE line
    int32_t current_track; // -1 before the first TRACK line
    uint32_t pending_pregap;
    uint32_t pending_postgap;
    int32_t postgap_line;
    bool track_has_index;
    bool track_has_index0;
    int32_t last_index_file; // the file and frame of the last INDEX met, for order
    uint32_t last_index_frame;
};

// Writes "sheet:line: message" (or "sheet: message" when line is 0).
[[gnu::format(printf, 3, 4)]] int fail(Parser &p, int32_t line, const char *format, ...)
{
    int used = line > 0 ? snprintf(p.error, p.error_size, "%s:%d: ", p.path, line)
                        : snprintf(p.error, p.error_size, "%s: ", p.path);
    if (used < 0 || used >= p.error_size)
        return -1;
    va_list args;
    va_start(args, format);
    vsnprintf(p.error + used, static_cast<size_t>(p.error_size - used), format, args);
    va_end(args);
    // Text quoted from the sheet must not break the line or steer a terminal.
    for (char *c = p.error; *c; c++)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f)
            *c = '?';
    return -1;
}

// True when the bytes form well-made UTF-8 (no overlong forms, no surrogates).
bool valid_utf8(const unsigned char *s, int32_t length)
{
    int32_t i = 0;
    while (i < length) {
        unsigned char c = s[i];
        int extra;
        uint32_t min;
        uint32_t code;
        if (c < 0x80) {
            i++;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1, min = 0x80, code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2, min = 0x800, code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= length)
            return false;
        for (int k = 1; k <= extra; k++) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            code = code << 6 | (s[i + k] & 0x3f);
        }
        if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
        i += extra + 1;
    }
    return true;
}

// The characters Windows-1252 puts at 0x80..0x9f; 0 where it has none.
constexpr uint16_t WINDOWS_1252_HIGH[32] = {
    0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017d, 0,      0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178,
};

// The code point of one byte of Windows-1252 text.
uint32_t windows1252_code(unsigned char c)
{
    if (c >= 0x80 && c < 0xa0 && WINDOWS_1252_HIGH[c - 0x80] != 0)
        return WINDOWS_1252_HIGH[c - 0x80];
    return c;
}

// Writes a code point below 0x10000 as UTF-8; the bytes used.
int put_utf8(char *out, uint32_t code)
{
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        out[0] = static_cast<char>(0xc0 | code >> 6);
        out[1] = static_cast<char>(0x80 | (code & 0x3f));
        return 2;
    }
    out[0] = static_cast<char>(0xe0 | code >> 12);
    out[1] = static_cast<char>(0x80 | (code >> 6 & 0x3f));
    out[2] = static_cast<char>(0x80 | (code & 0x3f));
    return 3;
}

// Copies a text value into a field, from Windows-1252 when the sheet is,
// never splitting a character and turning control characters (C0, DEL and
// C1) into spaces so that nothing from a sheet can steer the terminal.
void copy_text(char *out, int size, const char *text, int32_t length, bool windows1252)
{
    int used = 0;
    for (int32_t i = 0; i < length;) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool c1 = c == 0xc2 && !windows1252 && i + 1 < length &&
                  static_cast<unsigned char>(text[i + 1]) < 0xa0;
        uint32_t code = windows1252 ? windows1252_code(c) : c;
        if (c < 0x20 || c == 0x7f || c1 || (windows1252 && code >= 0x80 && code < 0xa0)) {
            if (used + 1 >= size)
                break;
            out[used++] = ' ';
            i += c1 ? 2 : 1;
        } else if (windows1252 && c >= 0x80) {
            char bytes[3];
            int n = put_utf8(bytes, code);
            if (used + n >= size)
                break;
            memcpy(out + used, bytes, static_cast<size_t>(n));
            used += n;
            i++;
        } else {
            int n = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : 4;
            if (i + n > length || used + n >= size)
                break;
            memcpy(out + used, text + i, static_cast<size_t>(n));
            used += n;
            i += n;
        }
    }
    out[used] = '\0';
}

// Blanks between words: CR is stripped before, other bytes are text.
bool is_space(char c) { return c == ' ' || c == '\t'; }

// The rest of a line after a keyword, with a quoted value unwrapped; a value
// that opens a quote runs to the line's last quote, so quotes inside survive.
bool unquote(const char *&text, int32_t &length)
{
    if (length > 0 && text[0] == '"') {
        const char *close = text + length - 1;
        while (close > text && *close != '"')
            close--;
        if (close == text)
            return false;
        length = static_cast<int32_t>(close - text - 1);
        text++;
    }
    return true;
}

// Splits the first word off text: word and its length, text advanced past it
// and the blanks after it.
void next_word(const char *&text, int32_t &length, const char *&word, int32_t &word_length)
{
    word = text;
    word_length = 0;
    while (word_length < length && !is_space(text[word_length]))
        word_length++;
    text += word_length;
    length -= word_length;
    while (length > 0 && is_space(*text))
        text++, length--;
}

// Keywords match in any case, as rippers write them in either.
bool word_is(const char *word, int32_t length, const char *name)
{
    return static_cast<int32_t>(strlen(name)) == length &&
           strncasecmp(word, name, static_cast<size_t>(length)) == 0;
}

// Reads mm:ss:ff into frames; minutes may run past 99 in long files.
bool parse_time(const char *text, int32_t length, uint32_t &frames)
{
    uint32_t part[3] = {0, 0, 0};
    int which = 0;
    int digits = 0;
    for (int32_t i = 0; i < length; i++) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            if (++digits > 5)
                return false;
            part[which] = part[which] * 10 + static_cast<uint32_t>(c - '0');
        } else if (c == ':' && which < 2 && digits > 0) {
            which++;
            digits = 0;
        } else {
            return false;
        }
    }
    if (which != 2 || digits == 0 || part[1] >= 60 || part[2] >= FRAMES_PER_SECOND)
        return false;
    frames = (part[0] * 60 + part[1]) * FRAMES_PER_SECOND + part[2];
    return true;
}

// Reads a whole number of at most the given digits.
bool parse_number(const char *text, int32_t length, int32_t &number, int32_t digits = 2)
{
    if (length < 1 || length > digits)
        return false;
    number = 0;
    for (int32_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        number = number * 10 + (text[i] - '0');
    }
    return true;
}

// Bytes per sector of a track mode; 0 for a mode mivo does not know.
int32_t sector_bytes_of(const char *mode, int32_t length)
{
    struct Mode {
        const char *name;
        int32_t bytes;
    };
    static const Mode modes[] = {
        {"AUDIO", 2352},      {"MODE1/2048", 2048}, {"MODE1/2352", 2352}, {"MODE2/2048", 2048},
        {"MODE2/2324", 2324}, {"MODE2/2336", 2336}, {"MODE2/2352", 2352}, {"CDI/2336", 2336},
        {"CDI/2352", 2352},   {"CDG", 2448},
        // A ripper's stand-in for the data track of an Enhanced or mixed-mode
        // disc it did not read.
        {"MODEx/2xxx", 2352},
    };
    for (const Mode &m : modes)
        if (word_is(mode, length, m.name))
            return m.bytes;
    return 0;
}

// Notes an index or a gap in the sheet's order, at the current file.
int add_event(Parser &p, CueEventKind kind, uint32_t frame, uint32_t gap)
{
    CueSheet &s = *p.sheet;
    if (s.event_count >= CUE_MAX_EVENTS)
        return fail(p, p.line, "too many indexes and gaps");
    CueEvent &e = s.event[s.event_count++];
    e.kind = kind;
    e.track = p.current_track;
    e.file = kind == CUE_SILENCE && p.current_file < 0 ? 0 : p.current_file;
    e.frame = frame;
    e.gap = gap;
    e.line = p.line;
    return 0;
}

// FILE "name" TYPE or FILE name TYPE: the name joined to the sheet's folder.
int handle_file(Parser &p, const char *args, int32_t length)
{
    CueSheet &s = *p.sheet;
    const char *name = args;
    int32_t name_length;
    const char *type;
    int32_t type_length;
    if (length > 0 && args[0] == '"') {
        const char *close = args + length - 1;
        while (close > args && *close != '"')
            close--;
        if (close == args)
            return fail(p, p.line, "FILE name lacks its closing quote");
        name = args + 1;
        name_length = static_cast<int32_t>(close - name);
        type = close + 1;
        while (type < args + length && is_space(*type))
            type++;
        type_length = static_cast<int32_t>(args + length - type);
    } else {
        // An unquoted name may hold blanks: the type is the last word.
        type = args + length;
        while (type > args && !is_space(type[-1]))
            type--;
        type_length = static_cast<int32_t>(args + length - type);
        name_length = static_cast<int32_t>(type - args);
        while (name_length > 0 && is_space(name[name_length - 1]))
            name_length--;
    }
    if (name_length <= 0 || type_length <= 0)
        return fail(p, p.line, "FILE needs a file name and a type");
    if (s.file_count >= CUE_MAX_FILES)
        return fail(p, p.line, "more than %d files", CUE_MAX_FILES);

    CueFile &f = s.file[s.file_count];
    if (word_is(type, type_length, "BINARY"))
        f.type = CUE_FILE_BINARY;
    else if (word_is(type, type_length, "MOTOROLA"))
        f.type = CUE_FILE_MOTOROLA;
    else
        f.type = CUE_FILE_AUDIO;
    f.line = p.line;
    f.sector_bytes = 0;

    // Relative names count from the sheet's folder, not mivo's.
    int folder = 0;
    if (name[0] != '/') {
        const char *slash = strrchr(p.path, '/');
        folder = slash == nullptr ? 0 : static_cast<int>(slash - p.path) + 1;
    }
    if (folder + name_length >= CUE_PATH_SIZE)
        return fail(p, p.line, "FILE name too long");
    memcpy(f.path, p.path, static_cast<size_t>(folder));
    memcpy(f.path + folder, name, static_cast<size_t>(name_length));
    f.path[folder + name_length] = '\0';
    f.folder_length = folder;
    if (memchr(f.path, '\0', static_cast<size_t>(folder + name_length)) != nullptr)
        return fail(p, p.line, "FILE name holds a NUL byte");
    p.current_file = s.file_count++;
    return 0;
}

// Checks that the track before a new one (or the last) reached INDEX 01.
int finish_track(Parser &p)
{
    if (p.current_track < 0)
        return 0;
    CueTrack &t = p.sheet->track[p.current_track];
    if (!t.has_index1 && !t.audio && p.track_has_index0 && p.pending_pregap == 0) {
        // A data track a ripper did not read may have only its INDEX 00:
        // the disc's data starts there as far as anyone can tell.
        for (int32_t i = p.sheet->event_count - 1; i >= 0; i--) {
            CueEvent &e = p.sheet->event[i];
            if (e.track == p.current_track && e.kind == CUE_INDEX0) {
                e.kind = CUE_INDEX1;
                t.has_index1 = true;
                break;
            }
        }
    }
    if (!t.has_index1)
        return fail(p, t.line, "track %02d has no INDEX 01", t.number);
    if (p.pending_pregap > 0)
        return fail(p, t.line, "track %02d has a PREGAP but no INDEX 01 after it", t.number);
    return 0;
}

// TRACK nn MODE: a new track, after the one before it was complete.
int handle_track(Parser &p, const char *args, int32_t length)
{
    CueSheet &s = *p.sheet;
    const char *number_word;
    int32_t number_length;
    next_word(args, length, number_word, number_length);
    int32_t number;
    if (p.current_file < 0)
        return fail(p, p.line, "TRACK before any FILE");
    if (finish_track(p) < 0)
        return -1;
    if (s.track_count >= MAX_TRACKS)
        return fail(p, p.line, "more than %d tracks", MAX_TRACKS);
    if (!parse_number(number_word, number_length, number, 3) || number < 1 || number > MAX_TRACKS)
        return fail(p, p.line, "TRACK needs a number from 01 to 99");
    int32_t sector = sector_bytes_of(args, length);
    if (sector == 0)
        return fail(p, p.line, "unknown track type '%.*s'", length, args);
    if (s.track_count > 0 && number <= s.track[s.track_count - 1].number)
        return fail(p, p.line, "track %02d follows track %02d", number,
                    s.track[s.track_count - 1].number);
    CueTrack &t = s.track[s.track_count];
    t.number = number;
    t.audio = word_is(args, length, "AUDIO");
    t.sector_bytes = sector;
    t.line = p.line;
    t.has_index1 = false;
    t.title[0] = '\0';
    t.performer[0] = '\0';
    p.current_track = s.track_count++;
    p.track_has_index = false;
    p.track_has_index0 = false;
    return 0;
}

// INDEX nn mm:ss:ff: only 00 and 01 shape the disc; later ones are checked
// for order and otherwise skipped.
int handle_index(Parser &p, const char *args, int32_t length)
{
    CueSheet &s = *p.sheet;
    if (p.current_track < 0)
        return fail(p, p.line, "INDEX before any TRACK");
    CueTrack &t = s.track[p.current_track];
    const char *number_word;
    int32_t number_length;
    next_word(args, length, number_word, number_length);
    int32_t number;
    uint32_t frame;
    if (!parse_number(number_word, number_length, number))
        return fail(p, p.line, "INDEX needs a number from 00 to 99");
    if (!parse_time(args, length, frame))
        return fail(p, p.line, "INDEX time '%.*s' is not mm:ss:ff", length, args);
    if (p.last_index_file == p.current_file && frame <= p.last_index_frame)
        return fail(p, p.line, "INDEX %02d of track %02d at %.*s is not after the index before it",
                    number, t.number, length, args);
    if (number == 0 && (p.track_has_index0 || t.has_index1))
        return fail(p, p.line, "INDEX 00 of track %02d out of order", t.number);
    if (number == 1 && t.has_index1)
        return fail(p, p.line, "track %02d has two INDEX 01", t.number);
    if (number > 1 && !t.has_index1)
        return fail(p, p.line, "INDEX %02d of track %02d comes before its INDEX 01", number,
                    t.number);

    // A raw file whose sectors change size midway cannot be laid out by its
    // length, so each file keeps the one size of the tracks found in it.
    CueFile &f = s.file[p.current_file];
    if (f.sector_bytes == 0)
        f.sector_bytes = t.sector_bytes;
    else if (f.sector_bytes != t.sector_bytes && f.type != CUE_FILE_AUDIO)
        return fail(p, p.line, "tracks of %d and %d bytes a sector share one file", f.sector_bytes,
                    t.sector_bytes);

    // The previous track's POSTGAP ends where this track's first index is.
    if (!p.track_has_index && p.pending_postgap > 0) {
        if (add_event(p, CUE_SILENCE, frame, p.pending_postgap) < 0)
            return -1;
        p.pending_postgap = 0;
    }
    if (number == 1 && p.pending_pregap > 0) {
        if (add_event(p, CUE_SILENCE, frame, p.pending_pregap) < 0)
            return -1;
        p.pending_pregap = 0;
    }
    if (number <= 1 && add_event(p, number == 0 ? CUE_INDEX0 : CUE_INDEX1, frame, 0) < 0)
        return -1;
    if (number == 0)
        p.track_has_index0 = true;
    if (number == 1)
        t.has_index1 = true;
    p.track_has_index = true;
    p.last_index_file = p.current_file;
    p.last_index_frame = frame;
    return 0;
}

// PREGAP before a track's INDEX lines, POSTGAP after its INDEX 01: silence
// that is in no file, put in where the next index is met.
int handle_gap(Parser &p, bool pregap, const char *args, int32_t length)
{
    if (p.current_track < 0)
        return fail(p, p.line, "%s before any TRACK", pregap ? "PREGAP" : "POSTGAP");
    const CueTrack &t = p.sheet->track[p.current_track];
    uint32_t frames;
    if (!parse_time(args, length, frames))
        return fail(p, p.line, "%s time '%.*s' is not mm:ss:ff", pregap ? "PREGAP" : "POSTGAP",
                    length, args);
    if (pregap) {
        if (p.track_has_index)
            return fail(p, p.line, "PREGAP of track %02d after its INDEX lines", t.number);
        p.pending_pregap = frames;
    } else {
        if (!t.has_index1)
            return fail(p, p.line, "POSTGAP of track %02d before its INDEX 01", t.number);
        p.pending_postgap = frames;
        p.postgap_line = p.line;
    }
    return 0;
}

// One line of the sheet, blanks and CR already trimmed.
int handle_line(Parser &p, const char *text, int32_t length)
{
    CueSheet &s = *p.sheet;
    const char *keyword;
    int32_t keyword_length;
    next_word(text, length, keyword, keyword_length);
    if (keyword_length == 0)
        return 0;

    if (word_is(keyword, keyword_length, "FILE"))
        return handle_file(p, text, length);
    if (word_is(keyword, keyword_length, "TRACK"))
        return handle_track(p, text, length);
    if (word_is(keyword, keyword_length, "INDEX"))
        return handle_index(p, text, length);
    if (word_is(keyword, keyword_length, "PREGAP"))
        return handle_gap(p, true, text, length);
    if (word_is(keyword, keyword_length, "POSTGAP"))
        return handle_gap(p, false, text, length);

    bool title = word_is(keyword, keyword_length, "TITLE");
    if (title || word_is(keyword, keyword_length, "PERFORMER")) {
        if (!unquote(text, length))
            return fail(p, p.line, "%.*s lacks its closing quote", keyword_length, keyword);
        char *field;
        if (p.current_track < 0)
            field = title ? s.title : s.performer;
        else
            field = title ? s.track[p.current_track].title : s.track[p.current_track].performer;
        copy_text(field, CUE_TEXT_SIZE, text, length, s.windows1252);
        return 0;
    }
    if (word_is(keyword, keyword_length, "REM")) {
        const char *name;
        int32_t name_length;
        next_word(text, length, name, name_length);
        char *field = nullptr;
        if (word_is(name, name_length, "GENRE"))
            field = s.genre;
        else if (word_is(name, name_length, "DATE"))
            field = s.date;
        if (field != nullptr && p.current_track < 0 && unquote(text, length))
            copy_text(field, CUE_TEXT_SIZE, text, length, s.windows1252);
        return 0;
    }
    // Lines that carry nothing a player needs.
    static const char *const ignored[] = {
        "CATALOG", "CDTEXTFILE", "FLAGS",   "ISRC",      "SONGWRITER", "COMPOSER",  "ARRANGER",
        "MESSAGE", "DISC_ID",    "UPC_EAN", "TOC_INFO1", "TOC_INFO2",  "SIZE_INFO", "GENRE",
    };
    for (const char *name : ignored)
        if (word_is(keyword, keyword_length, name))
            return 0;
    return fail(p, p.line, "unknown command '%.*s'", keyword_length, keyword);
}

} // namespace

// Walks the text line by line; the sheet record is cleared first so that a
// failed parse leaves nothing half-read behind.
int parse_cue_text(const char *path, const char *text, int32_t length, CueSheet &sheet, char *error,
                   int error_size)
{
    memset(&sheet, 0, sizeof sheet);
    snprintf(sheet.path, sizeof sheet.path, "%s", path);
    Parser p{};
    p.path = path;
    p.sheet = &sheet;
    p.error = error;
    p.error_size = error_size;
    p.current_file = -1;
    p.current_track = -1;
    p.last_index_file = -1;
    error[0] = '\0';

    if (length >= 3 && memcmp(text, "\xef\xbb\xbf", 3) == 0)
        text += 3, length -= 3;
    if (memchr(text, '\0', static_cast<size_t>(length)) != nullptr)
        return fail(p, 0, "not a CUE sheet (binary data)");
    sheet.windows1252 = !valid_utf8(reinterpret_cast<const unsigned char *>(text), length);

    const char *end = text + length;
    for (const char *at = text; at < end;) {
        const char *newline = static_cast<const char *>(memchr(at, '\n', end - at));
        const char *line_end = newline == nullptr ? end : newline;
        p.line++;
        const char *start = at;
        while (start < line_end && (is_space(*start) || *start == '\r'))
            start++;
        const char *stop = line_end;
        while (stop > start && (is_space(stop[-1]) || stop[-1] == '\r'))
            stop--;
        if (handle_line(p, start, static_cast<int32_t>(stop - start)) < 0)
            return -1;
        at = newline == nullptr ? end : newline + 1;
    }
    if (sheet.track_count == 0)
        return fail(p, 0, "no TRACK lines");
    if (finish_track(p) < 0)
        return -1;
    if (p.pending_postgap > 0) {
        p.line = p.postgap_line;
        if (add_event(p, CUE_SILENCE, 0, p.pending_postgap) < 0)
            return -1;
        sheet.event[sheet.event_count - 1].file = sheet.file_count;
    }
    return 0;
}

// Reads the sheet into a static buffer: the reader thread is the only caller.
int parse_cue_sheet(const char *path, CueSheet &sheet, char *error, int error_size)
{
    static char buffer[CUE_MAX_SHEET_BYTES + 1];
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        snprintf(error, static_cast<size_t>(error_size), "%s: %s", path, strerror(errno));
        return -1;
    }
    ssize_t total = 0;
    for (;;) {
        ssize_t got = read(fd, buffer + total, sizeof buffer - static_cast<size_t>(total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            snprintf(error, static_cast<size_t>(error_size), "%s: %s", path, strerror(errno));
            close(fd);
            return -1;
        }
        if (got == 0)
            break;
        total += got;
        if (total > CUE_MAX_SHEET_BYTES) {
            snprintf(error, static_cast<size_t>(error_size),
                     "%s: too large for a CUE sheet (over %d KiB)", path,
                     CUE_MAX_SHEET_BYTES / 1024);
            close(fd);
            return -1;
        }
    }
    close(fd);
    return parse_cue_text(path, buffer, static_cast<int32_t>(total), sheet, error, error_size);
}

namespace
{

// Writes mm:ss:ff for messages.
void format_time(char *out, size_t size, uint32_t frames)
{
    snprintf(out, size, "%02u:%02u:%02u", frames / (60 * FRAMES_PER_SECOND),
             frames / FRAMES_PER_SECOND % 60, frames % FRAMES_PER_SECOND);
}

// The walk of the layout: the disc frame reached and the place in the files.
struct Walk {
    const CueSheet *sheet;
    const uint32_t *file_frames;
    CueLayout *layout;
    uint32_t disc;
    int32_t file;
    uint32_t frame;
};

// The longest image mivo lays out, so that frame counts never wrap.
constexpr uint32_t MAX_DISC_FRAMES = 0x7fffffff;

// Appends a run of frames at the walk's disc frame; false when the table or
// the frame count would overflow.
bool add_segment(Walk &w, int32_t file, uint32_t file_frame, uint32_t frames)
{
    if (frames == 0)
        return true;
    if (frames > MAX_DISC_FRAMES - w.disc || w.layout->segment_count >= CUE_MAX_SEGMENTS)
        return false;
    CueSegment &s = w.layout->segment[w.layout->segment_count++];
    s.disc_start = w.disc;
    s.frames = frames;
    s.file = file;
    s.file_frame = file_frame;
    w.disc += frames;
    return true;
}

// Lays out the files up to the given place: whole files before it, and the
// part of its own file from where the walk stood.
bool advance(Walk &w, int32_t file, uint32_t frame)
{
    // An absent file's frames are silence, as many as its indexes need.
    auto source = [&](int32_t f) { return w.sheet->file[f].absent ? -1 : f; };
    for (; w.file < file && w.file < w.sheet->file_count; w.file++, w.frame = 0) {
        uint32_t length = std::max(w.file_frames[w.file], w.frame);
        if (!add_segment(w, source(w.file), w.frame, length - w.frame))
            return false;
    }
    if (w.file < w.sheet->file_count && frame > w.frame) {
        if (!add_segment(w, source(w.file), w.frame, frame - w.frame))
            return false;
        w.frame = frame;
    }
    return true;
}

} // namespace

// Every index of the sheet lies inside its file; the gaps go in as silence at
// their places, and each track starts at its INDEX 01 as drives count it.
int layout_cue_sheet(const CueSheet &sheet, const uint32_t *file_frames, CueLayout &layout,
                     char *error, int error_size)
{
    memset(&layout, 0, sizeof layout);
    Walk w{&sheet, file_frames, &layout, LEAD_IN_FRAMES, 0, 0};
    // The first of the data tracks that end a disc with audio before them.
    int32_t enhanced = sheet.track_count;
    while (enhanced > 0 && !sheet.track[enhanced - 1].audio)
        enhanced--;
    if (enhanced == 0 || enhanced == sheet.track_count)
        enhanced = -1;
    uint32_t audio_end = 0;
    bool audio_ended = false;
    for (int32_t i = 0; i < sheet.event_count; i++) {
        const CueEvent &e = sheet.event[i];
        if (e.file < sheet.file_count && !sheet.file[e.file].absent) {
            uint32_t length = file_frames[e.file];
            // A data track may start where its file ends: a ripper's mark
            // that the data follows the audio there.
            bool index = e.kind != CUE_SILENCE && sheet.track[e.track].audio;
            if (e.frame > length || (index && e.frame == length)) {
                char at[16];
                char size[16];
                format_time(at, sizeof at, e.frame);
                format_time(size, sizeof size, length);
                snprintf(error, static_cast<size_t>(error_size),
                         "%s:%d: %s is shorter than the sheet says (%s long, the sheet reads it "
                         "at %s)",
                         sheet.path, e.line, sheet.file[e.file].path, size, at);
                return -1;
            }
        }
        bool fits = advance(w, e.file, e.frame);
        if (e.track == enhanced && !audio_ended) {
            audio_end = w.disc;
            audio_ended = true;
        }
        fits = fits && (e.kind != CUE_SILENCE || add_segment(w, -1, 0, e.gap));
        if (fits && e.track == enhanced && e.kind == CUE_INDEX1 &&
            w.disc - audio_end < ENHANCED_CD_GAP_FRAMES)
            fits = add_segment(w, -1, 0, ENHANCED_CD_GAP_FRAMES - (w.disc - audio_end));
        if (!fits) {
            snprintf(error, static_cast<size_t>(error_size), "%s:%d: image too long", sheet.path,
                     e.line);
            return -1;
        }
        if (e.kind == CUE_INDEX1)
            layout.toc.track[e.track].offset = w.disc;
    }
    if (!advance(w, sheet.file_count, 0)) {
        snprintf(error, static_cast<size_t>(error_size), "%s: image too long", sheet.path);
        return -1;
    }

    Toc &toc = layout.toc;
    toc.count = sheet.track_count;
    for (int32_t t = 0; t < toc.count; t++) {
        toc.track[t].audio = sheet.track[t].audio;
        uint32_t next = t + 1 < toc.count ? toc.track[t + 1].offset : w.disc;
        toc.track[t].length = next - toc.track[t].offset;
    }
    if (enhanced > 0)
        toc.track[enhanced - 1].length = audio_end - toc.track[enhanced - 1].offset;
    toc.track[toc.count].offset = w.disc;
    toc.track[toc.count].length = 0;
    toc.track[toc.count].audio = false;
    return 0;
}

void cue_copy_text(char *out, int size, const char *text, int32_t length)
{
    copy_text(out, size, text, length,
              !valid_utf8(reinterpret_cast<const unsigned char *>(text), length));
}

int windows1252_to_utf8(const char *text, int32_t length, char *out, int size)
{
    int used = 0;
    for (int32_t i = 0; i < length; i++) {
        char bytes[3];
        int n = put_utf8(bytes, windows1252_code(static_cast<unsigned char>(text[i])));
        if (used + n >= size)
            return -1;
        memcpy(out + used, bytes, static_cast<size_t>(n));
        used += n;
    }
    if (used >= size)
        return -1;
    out[used] = '\0';
    return used;
}

// Tracks' entries follow the sheet's order, whatever their numbers.
void cue_disc_text(const CueSheet &sheet, DiscText &text)
{
    memset(&text, 0, sizeof text);
    bool any = sheet.title[0] != '\0' || sheet.performer[0] != '\0';
    memcpy(text.entry[MAX_TRACKS].title, sheet.title, sizeof sheet.title);
    memcpy(text.entry[MAX_TRACKS].performer, sheet.performer, sizeof sheet.performer);
    for (int32_t t = 0; t < sheet.track_count; t++) {
        const CueTrack &track = sheet.track[t];
        any = any || track.title[0] != '\0' || track.performer[0] != '\0';
        memcpy(text.entry[t].title, track.title, sizeof track.title);
        memcpy(text.entry[t].performer, track.performer, sizeof track.performer);
    }
    text.present = any;
}
