// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/rip.h"

#include "common/directory.h"
#include "drive/digital/sheet_files.h"
#include "drive/digital/source.h"

#include <FLAC/metadata.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wavpack/wavpack.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace
{

constexpr int NAME_SIZE = 256;
// Sheets a folder's message names before it says how many more there are.
constexpr int NAMED_SHEETS = 4;

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True when name ends in extension, in any case.
bool has_extension(const char *name, const char *extension)
{
    size_t length = strlen(name);
    size_t wanted = strlen(extension);
    if (length <= wanted)
        return false;
    for (size_t i = 0; i < wanted; i++)
        if (ascii_lower(name[length - wanted + i]) != extension[i])
            return false;
    return true;
}

bool is_audio_name(const char *name)
{
    for (const char *extension : SHEET_AUDIO_EXTENSIONS)
        if (has_extension(name, extension))
            return true;
    return false;
}

// One track a file, each from its start: the layout then gives every track
// whole frames and the disc its 2-second pregap, as a disc of those lengths.
void add_file_track(CueSheet &sheet, const char *path, int32_t folder_length)
{
    int32_t n = sheet.file_count++;
    CueFile &f = sheet.file[n];
    snprintf(f.path, sizeof f.path, "%s", path);
    f.folder_length = folder_length;
    f.type = CUE_FILE_AUDIO;
    f.sector_bytes = FRAME_BYTES;
    CueTrack &t = sheet.track[sheet.track_count++];
    t.number = n + 1;
    t.audio = true;
    t.sector_bytes = FRAME_BYTES;
    t.has_index1 = true;
    CueEvent &e = sheet.event[sheet.event_count++];
    e.kind = CUE_INDEX1;
    e.track = n;
    e.file = n;
}

// The names a folder holds, read with a fixed buffer (opendir would
// allocate), sheets and audio files apart.
struct FolderListing {
    int32_t sheets;
    char sheet[NAMED_SHEETS][NAME_SIZE];
    int32_t audio;
    char name[CUE_MAX_FILES][NAME_SIZE];
    int32_t order[CUE_MAX_FILES];
};

int list_folder(const char *folder, FolderListing &list, char *error, int error_size)
{
    alignas(DIRECTORY_BUFFER_ALIGN) static char buffer[32768];
    memset(&list, 0, sizeof list);
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        snprintf(error, static_cast<size_t>(error_size), "%s: %s", folder, strerror(errno));
        return -1;
    }
    DirectoryReader reader;
    directory_begin(reader, fd, buffer, sizeof buffer);
    while (const char *name = directory_next(reader)) {
        bool sheet = has_extension(name, ".cue");
        if ((!sheet && !is_audio_name(name)) || strlen(name) >= NAME_SIZE)
            continue;
        struct stat st;
        if (fstatat(fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (sheet) {
            if (list.sheets < NAMED_SHEETS)
                memcpy(list.sheet[list.sheets], name, strlen(name) + 1);
            list.sheets++;
        } else if (list.audio < CUE_MAX_FILES) {
            memcpy(list.name[list.audio], name, strlen(name) + 1);
            list.order[list.audio] = list.audio;
            list.audio++;
        } else {
            close(fd);
            snprintf(error, static_cast<size_t>(error_size),
                     "%s holds more than %d audio files, more than a disc's tracks", folder,
                     CUE_MAX_FILES);
            return -1;
        }
    }
    close(fd);
    return 0;
}

// A folder with one sheet is that sheet's rip; without one, its audio files
// are the tracks, in the order people number them.
int read_folder(const char *path, CueSheet &sheet, RipKind &kind, char *error, int error_size)
{
    static FolderListing list;
    if (list_folder(path, list, error, error_size) < 0)
        return -1;
    char folder[CUE_PATH_SIZE];
    size_t length = strlen(path);
    bool slash = length > 0 && path[length - 1] == '/';
    if (snprintf(folder, sizeof folder, "%s%s", path, slash ? "" : "/") >=
        static_cast<int>(sizeof folder)) {
        snprintf(error, static_cast<size_t>(error_size), "%s: name too long", path);
        return -1;
    }
    if (list.sheets > 1) {
        int used = snprintf(error, static_cast<size_t>(error_size), "%s holds %d CUE sheets (",
                            path, list.sheets);
        for (int i = 0; i < list.sheets && i < NAMED_SHEETS && used < error_size; i++)
            used += snprintf(error + used, static_cast<size_t>(error_size - used), "%s%s",
                             i > 0 ? ", " : "", list.sheet[i]);
        if (used < error_size)
            snprintf(error + used, static_cast<size_t>(error_size - used),
                     "%s): name the one to play", list.sheets > NAMED_SHEETS ? ", ..." : "");
        return -1;
    }
    if (list.sheets == 1) {
        char sheet_path[CUE_PATH_SIZE];
        if (snprintf(sheet_path, sizeof sheet_path, "%s%s", folder, list.sheet[0]) >=
            static_cast<int>(sizeof sheet_path)) {
            snprintf(error, static_cast<size_t>(error_size), "%s: name too long", path);
            return -1;
        }
        kind = RIP_SHEET;
        return parse_cue_sheet(sheet_path, sheet, error, error_size);
    }
    if (list.audio == 0) {
        snprintf(error, static_cast<size_t>(error_size),
                 "%s holds neither a CUE sheet nor audio files", path);
        return -1;
    }
    // Few enough for an insertion sort.
    for (int32_t i = 1; i < list.audio; i++)
        for (int32_t j = i; j > 0 && natural_compare(list.name[list.order[j - 1]],
                                                     list.name[list.order[j]]) > 0;
             j--) {
            int32_t swap = list.order[j];
            list.order[j] = list.order[j - 1];
            list.order[j - 1] = swap;
        }
    memset(&sheet, 0, sizeof sheet);
    snprintf(sheet.path, sizeof sheet.path, "%s", path);
    int32_t folder_length = static_cast<int32_t>(strlen(folder));
    for (int32_t i = 0; i < list.audio; i++) {
        char file[CUE_PATH_SIZE];
        if (snprintf(file, sizeof file, "%s%s", folder, list.name[list.order[i]]) >=
            static_cast<int>(sizeof file)) {
            snprintf(error, static_cast<size_t>(error_size), "%s: name too long", path);
            return -1;
        }
        add_file_track(sheet, file, folder_length);
    }
    kind = RIP_FOLDER;
    return 0;
}

} // namespace

int sheet_of_flac_block(const char *path, const FLAC__StreamMetadata_CueSheet &block,
                        CueSheet &sheet)
{
    memset(&sheet, 0, sizeof sheet);
    snprintf(sheet.path, sizeof sheet.path, "%s", path);
    CueFile &f = sheet.file[0];
    snprintf(f.path, sizeof f.path, "%s", path);
    const char *slash = strrchr(path, '/');
    f.folder_length = slash != nullptr ? static_cast<int32_t>(slash - path) + 1 : 0;
    f.type = CUE_FILE_AUDIO;
    f.sector_bytes = FRAME_BYTES;
    sheet.file_count = 1;
    uint64_t last = 0;
    for (uint32_t i = 0; i < block.num_tracks; i++) {
        const FLAC__StreamMetadata_CueSheet_Track &track = block.tracks[i];
        // The lead-out closes the list: 170 on a CD, 255 otherwise.
        if (track.number == 170 || track.number == 255 || track.num_indices == 0)
            continue;
        if (sheet.track_count >= MAX_TRACKS || track.number < 1 || track.number > MAX_TRACKS ||
            (sheet.track_count > 0 &&
             track.number <= sheet.track[sheet.track_count - 1].number))
            return -1;
        int32_t t = sheet.track_count++;
        CueTrack &out = sheet.track[t];
        out.number = track.number;
        out.audio = track.type == 0;
        out.sector_bytes = FRAME_BYTES;
        for (uint32_t k = 0; k < track.num_indices; k++) {
            const FLAC__StreamMetadata_CueSheet_Index &index = track.indices[k];
            if (index.number > 1)
                continue;
            uint64_t at = track.offset + index.offset;
            if (at < last || at / SAMPLES_PER_FRAME > 0x7fffffff ||
                sheet.event_count >= CUE_MAX_EVENTS || (index.number == 1 && out.has_index1))
                return -1;
            last = at;
            CueEvent &e = sheet.event[sheet.event_count++];
            e.kind = index.number == 0 ? CUE_INDEX0 : CUE_INDEX1;
            e.track = t;
            e.file = 0;
            e.frame = static_cast<uint32_t>(at / SAMPLES_PER_FRAME);
            out.has_index1 = out.has_index1 || index.number == 1;
        }
        if (!out.has_index1)
            return -1;
    }
    return sheet.track_count > 0 ? 0 : -1;
}

namespace
{

// Copies a CUESHEET tag's value; 1 when there was one.
int take_tag_text(const char *value, size_t length, char *text, int32_t text_size,
                  int32_t &text_length)
{
    if (length >= static_cast<size_t>(text_size))
        return -1;
    memcpy(text, value, length);
    text[length] = '\0';
    text_length = static_cast<int32_t>(length);
    return 1;
}

int read_flac_sheet(const char *path, char *text, int32_t text_size, int32_t &length,
                    CueSheet &sheet)
{
    FLAC__StreamMetadata *tags = nullptr;
    if (FLAC__metadata_get_tags(path, &tags) && tags != nullptr) {
        const FLAC__StreamMetadata_VorbisComment &comments = tags->data.vorbis_comment;
        int result = 0;
        for (uint32_t i = 0; i < comments.num_comments && result == 0; i++) {
            const char *entry = reinterpret_cast<const char *>(comments.comments[i].entry);
            size_t entry_length = comments.comments[i].length;
            if (entry_length >= 9 && strncasecmp(entry, "CUESHEET=", 9) == 0)
                result = take_tag_text(entry + 9, entry_length - 9, text, text_size, length);
        }
        FLAC__metadata_object_delete(tags);
        if (result != 0)
            return result;
    }
    FLAC__StreamMetadata *block = nullptr;
    if (!FLAC__metadata_get_cuesheet(path, &block) || block == nullptr)
        return 0;
    int result = sheet_of_flac_block(path, block->data.cue_sheet, sheet) == 0 ? 2 : -1;
    FLAC__metadata_object_delete(block);
    return result;
}

int read_wavpack_sheet(const char *path, char *text, int32_t text_size, int32_t &length)
{
    char why[80];
    WavpackContext *context = WavpackOpenFileInput(path, why, OPEN_TAGS, 0);
    if (context == nullptr)
        return -1;
    int size = WavpackGetTagItem(context, "cuesheet", nullptr, 0);
    int result = 0;
    if (size > 0 && size < text_size) {
        WavpackGetTagItem(context, "cuesheet", text, text_size);
        length = static_cast<int32_t>(strnlen(text, static_cast<size_t>(size)));
        result = 1;
    } else if (size > 0) {
        result = -1;
    }
    WavpackCloseFile(context);
    return result;
}

// One audio file: its own sheet when it carries one, else a disc of one track.
int read_single_file(const char *path, const char *format, CueSheet &sheet, RipKind &kind,
                     char *error, int error_size)
{
    static char text[CUE_MAX_SHEET_BYTES + 1];
    int32_t length = 0;
    int found = strcmp(format, "FLAC") == 0      ? read_flac_sheet(path, text, sizeof text, length, sheet)
                : strcmp(format, "WavPack") == 0 ? read_wavpack_sheet(path, text, sizeof text, length)
                                                 : 0;
    const char *slash = strrchr(path, '/');
    int32_t folder_length = slash != nullptr ? static_cast<int32_t>(slash - path) + 1 : 0;
    if (found < 0) {
        snprintf(error, static_cast<size_t>(error_size), "%s: its embedded cue sheet is damaged",
                 path);
        return -1;
    }
    if (found == 2) {
        kind = RIP_EMBEDDED;
        return 0;
    }
    if (found == 1) {
        if (parse_cue_text(path, text, length, sheet, error, error_size) < 0)
            return -1;
        if (sheet.file_count != 1) {
            snprintf(error, static_cast<size_t>(error_size),
                     "%s: its embedded cue sheet names %d files; it can name only the file itself",
                     path, sheet.file_count);
            return -1;
        }
        // The sheet names the file it was written for; the audio is here.
        CueFile &f = sheet.file[0];
        snprintf(f.path, sizeof f.path, "%s", path);
        f.folder_length = folder_length;
        f.type = CUE_FILE_AUDIO;
        kind = RIP_EMBEDDED;
        return 0;
    }
    memset(&sheet, 0, sizeof sheet);
    snprintf(sheet.path, sizeof sheet.path, "%s", path);
    add_file_track(sheet, path, folder_length);
    kind = RIP_SINGLE_FILE;
    return 0;
}

} // namespace

const char *audio_format_of(const unsigned char *head, size_t length)
{
    auto is = [&](size_t at, const char *magic) {
        size_t n = strlen(magic);
        return length >= at + n && memcmp(head + at, magic, n) == 0;
    };
    if (is(0, "fLaC"))
        return "FLAC";
    if (is(0, "wvpk"))
        return "WavPack";
    if (is(0, "MAC "))
        return "Monkey's Audio";
    if (is(0, "tBaK"))
        return "TAK";
    if ((is(0, "RIFF") || is(0, "RF64")) && is(8, "WAVE"))
        return "WAVE";
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC")))
        return "AIFF";
    if (is(0, "OggS"))
        return "Ogg";
    // An ID3 tag, or the sync word of an MPEG layer III frame (not a UTF-16
    // byte-order mark, FF FE).
    if (is(0, "ID3") ||
        (length >= 2 && head[0] == 0xff && (head[1] & 0xe0) == 0xe0 && (head[1] & 0x06) == 0x02))
        return "MP3";
    return nullptr;
}

int read_rip(const char *path, CueSheet &sheet, RipKind &kind, char *error, int error_size)
{
    kind = RIP_SHEET;
    struct stat st;
    if (stat(path, &st) != 0) {
        snprintf(error, static_cast<size_t>(error_size), "%s: %s", path, strerror(errno));
        return -1;
    }
    if (S_ISDIR(st.st_mode))
        return read_folder(path, sheet, kind, error, error_size);
    unsigned char head[12] = {};
    ssize_t got = -1;
    int fd = S_ISREG(st.st_mode) ? open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (fd >= 0) {
        got = pread(fd, head, sizeof head, 0);
        close(fd);
    }
    const char *format = got > 0 ? audio_format_of(head, static_cast<size_t>(got)) : nullptr;
    if (format == nullptr)
        return parse_cue_sheet(path, sheet, error, error_size);
    if (strcmp(format, "Monkey's Audio") == 0 || strcmp(format, "TAK") == 0) {
        snprintf(error, static_cast<size_t>(error_size),
                 "%s is %s, which no library of mivo's reads: convert it to FLAC or WavPack",
                 path, format);
        return -1;
    }
    return read_single_file(path, format, sheet, kind, error, error_size);
}

int natural_compare(const char *a, const char *b)
{
    const char *start_a = a;
    const char *start_b = b;
    while (*a != '\0' && *b != '\0') {
        if (is_digit(*a) && is_digit(*b)) {
            while (*a == '0' && is_digit(a[1]))
                a++;
            while (*b == '0' && is_digit(b[1]))
                b++;
            size_t run_a = 0, run_b = 0;
            while (is_digit(a[run_a]))
                run_a++;
            while (is_digit(b[run_b]))
                run_b++;
            if (run_a != run_b)
                return run_a < run_b ? -1 : 1;
            int order = strncmp(a, b, run_a);
            if (order != 0)
                return order < 0 ? -1 : 1;
            a += run_a;
            b += run_b;
            continue;
        }
        char la = ascii_lower(*a), lb = ascii_lower(*b);
        if (la != lb)
            return static_cast<unsigned char>(la) < static_cast<unsigned char>(lb) ? -1 : 1;
        a++;
        b++;
    }
    if (*a != *b)
        return *a == '\0' ? -1 : 1;
    // Names equal to the eye still get one order.
    int order = strcmp(start_a, start_b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int rip_folder(const char *path, char *out, size_t size)
{
    struct stat st;
    size_t length = strlen(path);
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
        const char *slash = strrchr(path, '/');
        if (slash == nullptr)
            return snprintf(out, size, ".") < static_cast<int>(size) ? 0 : -1;
        length = slash == path ? 1 : static_cast<size_t>(slash - path);
    }
    if (length >= size)
        return -1;
    memcpy(out, path, length);
    out[length] = '\0';
    return 0;
}

int read_embedded_sheet(const char *path, char *text, int32_t text_size, int32_t &length,
                        CueSheet &sheet)
{
    unsigned char head[12] = {};
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    ssize_t got = pread(fd, head, sizeof head, 0);
    close(fd);
    const char *format = got > 0 ? audio_format_of(head, static_cast<size_t>(got)) : nullptr;
    length = 0;
    if (format != nullptr && strcmp(format, "FLAC") == 0)
        return read_flac_sheet(path, text, text_size, length, sheet);
    if (format != nullptr && strcmp(format, "WavPack") == 0)
        return read_wavpack_sheet(path, text, text_size, length);
    return 0;
}
