// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/image_source.h"

#include "drive/digital/cue_sheet.h"
#include "drive/digital/rip.h"
#include "drive/digital/sheet_files.h"

#include <fcntl.h>
#include <sndfile.h>
#include <wavpack/wavpack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace
{

constexpr int ERROR_SIZE = CUE_ERROR_SIZE + CUE_PATH_SIZE;
constexpr int CD_RATE = 44100;

enum FileKind : int32_t { RAW_LITTLE_ENDIAN, RAW_BIG_ENDIAN, DECODED, WAVPACK };

// What the probe found in each file, checked again whenever it is reopened.
struct FileInfo {
    FileKind kind;
    int32_t channels;     // decoded files: 1 or 2
    int64_t size;         // bytes
    int64_t samples;      // decoded files: sample frames
    int32_t sector_bytes; // raw files
    bool floating;        // decoded files whose samples are floating point
    int32_t bits;         // WavPack files: bits of an integer sample
};

// The one file open for reading; the image keeps no other handle.
struct OpenFile {
    int32_t file; // -1 when none
    int fd;
    SNDFILE *sound;
    int64_t position; // decoded files: the next sample frame a read returns
    WavpackContext *wavpack;
};

CueSheet sheet;
RipKind rip_kind;
CueLayout layout;
FileInfo info[CUE_MAX_FILES];
uint32_t file_frames[CUE_MAX_FILES];
// Files whose indexes belong to data tracks alone.
bool data_only[CUE_MAX_FILES];
OpenFile current = {-1, -1, nullptr, 0, nullptr};
bool loaded;
char error_text[ERROR_SIZE];
// Told once per damaged stretch, taken by notice().
char notice_text[ERROR_SIZE];
bool notice_pending;
bool in_damage;
// Floating-point samples on their way to 16 bits.
constexpr int FLOAT_CHUNK = 4096;
float float_samples[FLOAT_CHUNK * 2];
// WavPack's samples on their way to 16 bits.
int32_t wide_samples[FLOAT_CHUNK * 2];

// Lets go of the open file, if any.
void close_current()
{
    if (current.sound != nullptr)
        sf_close(current.sound);
    if (current.wavpack != nullptr)
        WavpackCloseFile(current.wavpack);
    if (current.fd >= 0)
        close(current.fd);
    current = {-1, -1, nullptr, 0, nullptr};
}

// True when the first bytes are a container libsndfile knows; anything else
// declared raw is read as raw samples.
bool has_container_magic(const unsigned char *head, ssize_t length)
{
    if (length < 12)
        return false;
    auto is = [&](int at, const char *magic) {
        return memcmp(head + at, magic, strlen(magic)) == 0;
    };
    return ((is(0, "RIFF") || is(0, "RIFX") || is(0, "RF64")) && is(8, "WAVE")) || is(0, "fLaC") ||
           (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) || is(0, "OggS") || is(0, "caff") ||
           is(0, ".snd") || is(0, "wvpk");
}

// Where a file comes from, for messages: the sheet and the line naming it,
// or the folder of a rip without a sheet.
const char *place(const CueFile &file)
{
    static char text[CUE_PATH_SIZE + 16];
    if (file.line > 0)
        snprintf(text, sizeof text, "%s:%d", sheet.path, file.line);
    else
        snprintf(text, sizeof text, "%s", sheet.path);
    return text;
}

// Finds the file a FILE line means (see sheet_files.h) and opens it without
// waiting: a FILE line naming a pipe must not hang mivo. A name not found
// stays as written, for the message.
int open_path(CueFile &file)
{
    char decoded[CUE_PATH_SIZE];
    const char *other = nullptr;
    if (sheet.windows1252) {
        const char *name = file.path + file.folder_length;
        memcpy(decoded, file.path, static_cast<size_t>(file.folder_length));
        if (windows1252_to_utf8(name, static_cast<int32_t>(strlen(name)),
                                decoded + file.folder_length,
                                CUE_PATH_SIZE - file.folder_length) >= 0)
            other = decoded;
    }
    char found[CUE_PATH_SIZE];
    if (find_sheet_file(file.path, file.folder_length, other, found, sizeof found) == 0)
        memcpy(file.path, found, strlen(found) + 1);
    return open(file.path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

// Opens a decoded file on an open descriptor, which stays the caller's to
// close, and checks that it holds CD audio mivo can play.
SNDFILE *open_sound(int fd, const CueFile &file, SF_INFO &format)
{
    memset(&format, 0, sizeof format);
    SNDFILE *sound = sf_open_fd(fd, SFM_READ, &format, SF_FALSE);
    if (sound == nullptr) {
        snprintf(error_text, sizeof error_text, "%s: cannot decode %s: %s", place(file),
                 file.path, sf_strerror(nullptr));
        return nullptr;
    }
    if (format.samplerate != CD_RATE || (format.channels != 1 && format.channels != 2)) {
        snprintf(error_text, sizeof error_text,
                 "%s: %s has %d Hz in %d channels; mivo plays 44100 Hz in one or two",
                 place(file), file.path, format.samplerate, format.channels);
        sf_close(sound);
        return nullptr;
    }
    return sound;
}

// True for the kinds whose decoder gives floating-point samples: their 1.0 is
// full scale, which libsndfile's own conversion to 16 bits does not know
// without reading the whole file for its peak first.
bool decodes_to_float(const SF_INFO &format)
{
    switch (format.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

// A tag's text into a field the rip left empty.
void take_tag(SNDFILE *sound, int tag, char *field)
{
    const char *value = sf_get_string(sound, tag);
    if (value != nullptr && field[0] == '\0')
        cue_copy_text(field, CUE_TEXT_SIZE, value, static_cast<int32_t>(strlen(value)));
}

// A folder's or a single file's tags name the disc and its tracks as CD-TEXT
// would: the album and the date from any file, the artist for the disc when
// every track has the same one.
void take_tags(SNDFILE *sound, int32_t index)
{
    if (rip_kind == RIP_SHEET)
        return;
    take_tag(sound, SF_STR_ALBUM, sheet.title);
    take_tag(sound, SF_STR_DATE, sheet.date);
    take_tag(sound, SF_STR_GENRE, sheet.genre);
    if (rip_kind == RIP_EMBEDDED) {
        take_tag(sound, SF_STR_ARTIST, sheet.performer);
        return;
    }
    CueTrack &track = sheet.track[index];
    take_tag(sound, SF_STR_TITLE, track.title);
    take_tag(sound, SF_STR_ARTIST, track.performer);
}

// After every file's tags: the disc's artist is the tracks' one artist.
void settle_disc_artist()
{
    if (rip_kind != RIP_FOLDER && rip_kind != RIP_SINGLE_FILE)
        return;
    for (int32_t t = 1; t < sheet.track_count; t++)
        if (strcmp(sheet.track[t].performer, sheet.track[0].performer) != 0)
            return;
    memcpy(sheet.performer, sheet.track[0].performer, sizeof sheet.performer);
}

// Opens a WavPack file with its correction file (name.wvc) when there is
// one, so a hybrid file plays lossless; checks that it is CD audio.
WavpackContext *open_wavpack(const CueFile &file)
{
    char why[80] = "";
    WavpackContext *wavpack =
        WavpackOpenFileInput(file.path, why, OPEN_WVC | OPEN_NORMALIZE | OPEN_TAGS, 0);
    if (wavpack == nullptr) {
        snprintf(error_text, sizeof error_text, "%s: cannot decode %s: %s", place(file),
                 file.path, why);
        return nullptr;
    }
    int rate = static_cast<int>(WavpackGetSampleRate(wavpack));
    int channels = WavpackGetNumChannels(wavpack);
    int bits = WavpackGetBitsPerSample(wavpack);
    if (rate != CD_RATE || (channels != 1 && channels != 2) || bits < 1 || bits > 32 ||
        WavpackGetNumSamples64(wavpack) < 0) {
        snprintf(error_text, sizeof error_text,
                 "%s: %s has %d Hz in %d channels; mivo plays 44100 Hz in one or two",
                 place(file), file.path, rate, channels);
        WavpackCloseFile(wavpack);
        return nullptr;
    }
    return wavpack;
}

// A WavPack tag's text into a field the rip left empty.
void take_wavpack_tag(WavpackContext *wavpack, const char *name, char *field)
{
    char value[CUE_TEXT_SIZE * 2];
    int length = WavpackGetTagItem(wavpack, name, value, sizeof value);
    if (length > 0 && field[0] == '\0')
        cue_copy_text(field, CUE_TEXT_SIZE, value, static_cast<int32_t>(strnlen(value, sizeof value)));
}

int probe_wavpack(int32_t index, int64_t size)
{
    CueFile &file = sheet.file[index];
    FileInfo &f = info[index];
    WavpackContext *wavpack = open_wavpack(file);
    if (wavpack == nullptr)
        return -1;
    f.kind = WAVPACK;
    f.channels = WavpackGetNumChannels(wavpack);
    f.samples = WavpackGetNumSamples64(wavpack);
    f.size = size;
    f.sector_bytes = FRAME_BYTES;
    f.floating = (WavpackGetMode(wavpack) & MODE_FLOAT) != 0;
    f.bits = WavpackGetBitsPerSample(wavpack);
    if (rip_kind != RIP_SHEET) {
        take_wavpack_tag(wavpack, "album", sheet.title);
        take_wavpack_tag(wavpack, "year", sheet.date);
        take_wavpack_tag(wavpack, "genre", sheet.genre);
        if (rip_kind == RIP_EMBEDDED) {
            take_wavpack_tag(wavpack, "artist", sheet.performer);
        } else {
            take_wavpack_tag(wavpack, "title", sheet.track[index].title);
            take_wavpack_tag(wavpack, "artist", sheet.track[index].performer);
        }
    }
    WavpackCloseFile(wavpack);
    if (f.samples / SAMPLES_PER_FRAME > 0x7fffffff) {
        snprintf(error_text, sizeof error_text, "%s: %s is too long", place(file), file.path);
        return -1;
    }
    file_frames[index] = static_cast<uint32_t>((f.samples + SAMPLES_PER_FRAME - 1) / SAMPLES_PER_FRAME);
    return 0;
}

// Learns each file's kind and length in frames, so that every error a sheet
// can hold is reported before anything plays.
int probe_file(int32_t index)
{
    CueFile &file = sheet.file[index];
    FileInfo &f = info[index];
    int fd = open_path(file);
    if (fd < 0 && data_only[index]) {
        // A data track's file is never read; rippers often leave it out.
        file.absent = true;
        file_frames[index] = 0;
        f = {RAW_LITTLE_ENDIAN, 2, 0, 0, FRAME_BYTES, false, 16};
        return 0;
    }
    if (fd < 0) {
        int error = errno;
        snprintf(error_text, sizeof error_text, "%s: cannot open %s: %s%s", place(file),
                 file.path, strerror(error),
                 error == ENOENT ? " (also tried with \\ as /, in any case and with other "
                                   "audio extensions)"
                                 : "");
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        snprintf(error_text, sizeof error_text, "%s: %s is not a regular file", place(file),
                 file.path);
        close(fd);
        return -1;
    }
    unsigned char head[12];
    ssize_t got = pread(fd, head, sizeof head, 0);
    if (got < 0 || fstat(fd, &st) < 0) {
        snprintf(error_text, sizeof error_text, "%s: cannot read %s: %s", place(file),
                 file.path, strerror(errno));
        close(fd);
        return -1;
    }
    // The type word is often wrong (FLAC declared WAVE), so the content
    // decides; a file declared raw without a known container is raw, and so
    // is one only data tracks use, which is never decoded.
    if (!data_only[index] && got >= 4 && memcmp(head, "wvpk", 4) == 0) {
        close(fd);
        return probe_wavpack(index, st.st_size);
    }
    if (!data_only[index] && (file.type == CUE_FILE_AUDIO || has_container_magic(head, got))) {
        SF_INFO format;
        SNDFILE *sound = open_sound(fd, file, format);
        if (sound != nullptr) {
            take_tags(sound, index);
            sf_close(sound);
        }
        close(fd);
        if (sound == nullptr)
            return -1;
        f.kind = DECODED;
        f.channels = format.channels;
        f.samples = format.frames;
        f.size = st.st_size;
        f.sector_bytes = FRAME_BYTES;
        f.floating = decodes_to_float(format);
        f.bits = 16;
        file_frames[index] =
            static_cast<uint32_t>((format.frames + SAMPLES_PER_FRAME - 1) / SAMPLES_PER_FRAME);
        if (format.frames / SAMPLES_PER_FRAME > 0x7fffffff) {
            snprintf(error_text, sizeof error_text, "%s: %s is too long", place(file),
                     file.path);
            return -1;
        }
        return 0;
    }
    close(fd);
    f.kind = file.type == CUE_FILE_MOTOROLA ? RAW_BIG_ENDIAN : RAW_LITTLE_ENDIAN;
    f.channels = 2;
    f.size = st.st_size;
    f.samples = 0;
    f.floating = false;
    f.bits = 16;
    f.sector_bytes = file.sector_bytes > 0 ? file.sector_bytes : FRAME_BYTES;
    int64_t frames = (st.st_size + f.sector_bytes - 1) / f.sector_bytes;
    if (frames > 0x7fffffff) {
        snprintf(error_text, sizeof error_text, "%s: %s is too long", place(file),
                 file.path);
        return -1;
    }
    file_frames[index] = static_cast<uint32_t>(frames);
    return 0;
}

// Makes the given file the open one; a file that changed since the probe is
// an error, never read as if it had not.
int select_file(int32_t index)
{
    if (current.file == index)
        return 0;
    close_current();
    CueFile &file = sheet.file[index];
    const FileInfo &f = info[index];
    int fd = open(file.path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        snprintf(error_text, sizeof error_text, "cannot open %s: %s", file.path, strerror(errno));
        return -1;
    }
    // A decoder would read a file cut short as damage; the cut is the news.
    struct stat st;
    if (fstat(fd, &st) < 0 || st.st_size < f.size) {
        snprintf(error_text, sizeof error_text, "%s has shrunk since the image was opened",
                 file.path);
        close(fd);
        return -1;
    }
    if (f.kind == RAW_LITTLE_ENDIAN || f.kind == RAW_BIG_ENDIAN) {
        current = {index, fd, nullptr, 0, nullptr};
        return 0;
    }
    if (f.kind == WAVPACK) {
        WavpackContext *wavpack = open_wavpack(file);
        if (wavpack == nullptr) {
            close(fd);
            return -1;
        }
        if (WavpackGetNumChannels(wavpack) != f.channels ||
            WavpackGetNumSamples64(wavpack) < f.samples) {
            snprintf(error_text, sizeof error_text, "%s has changed since the image was opened",
                     file.path);
            WavpackCloseFile(wavpack);
            close(fd);
            return -1;
        }
        current = {index, fd, nullptr, 0, wavpack};
        return 0;
    }
    SF_INFO format;
    SNDFILE *sound = open_sound(fd, file, format);
    if (sound == nullptr) {
        close(fd);
        return -1;
    }
    if (format.channels != f.channels || format.frames < f.samples) {
        snprintf(error_text, sizeof error_text, "%s has changed since the image was opened",
                 file.path);
        sf_close(sound);
        close(fd);
        return -1;
    }
    current = {index, fd, sound, 0, nullptr};
    return 0;
}

// Reads frames of a raw file; the bytes past the end of a file whose last
// sector is short are silence.
int read_raw(const FileInfo &f, uint32_t at, int32_t frames, int16_t *samples)
{
    char *out = reinterpret_cast<char *>(samples);
    int64_t start = static_cast<int64_t>(at) * f.sector_bytes;
    int64_t want = static_cast<int64_t>(frames) * FRAME_BYTES;
    int64_t in_file = f.size - start < want ? f.size - start : want;
    int64_t done = 0;
    while (done < in_file) {
        ssize_t got = pread(current.fd, out + done, static_cast<size_t>(in_file - done),
                            static_cast<off_t>(start + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            snprintf(error_text, sizeof error_text, "cannot read %s: %s",
                     sheet.file[current.file].path,
                     got < 0 ? strerror(errno) : "the file ends early");
            return -1;
        }
        done += got;
    }
    memset(out + done, 0, static_cast<size_t>(want - done));
    constexpr bool host_big = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    if ((f.kind == RAW_BIG_ENDIAN) != host_big) {
        for (int64_t i = 0; i < want / 2; i++) {
            uint16_t v = static_cast<uint16_t>(samples[i]);
            samples[i] = static_cast<int16_t>(static_cast<uint16_t>(v << 8 | v >> 8));
        }
    }
    return 0;
}

// Reads frames of floating-point samples as 16 bits: 1.0 is full scale
// whatever the file's peak, and louder samples are clipped, never wrapped.
sf_count_t read_float_frames(const FileInfo &f, int16_t *samples, sf_count_t frames)
{
    sf_count_t done = 0;
    const sf_count_t chunk = FLOAT_CHUNK * 2 / f.channels;
    while (done < frames) {
        sf_count_t want = frames - done < chunk ? frames - done : chunk;
        sf_count_t got = sf_readf_float(current.sound, float_samples, want);
        if (got <= 0)
            break;
        int16_t *out = samples + done * f.channels;
        for (sf_count_t i = 0; i < got * f.channels; i++) {
            float v = float_samples[i] * 32768.0f;
            out[i] = v >= 32767.0f    ? int16_t{32767}
                     : v <= -32768.0f ? int16_t{-32768}
                                      : static_cast<int16_t>(lrintf(v));
        }
        done += got;
        if (got < want)
            break;
    }
    return done;
}

// Writes the notice of a damaged stretch, once until the file reads again.
void note_damage(int64_t at)
{
    if (in_damage)
        return;
    in_damage = true;
    int64_t seconds = at / CD_RATE;
    snprintf(notice_text, sizeof notice_text, "%s is damaged at %d:%02d (%s); played as silence",
             sheet.file[current.file].path, static_cast<int>(seconds / 60),
             static_cast<int>(seconds % 60),
             current.sound != nullptr && sf_error(current.sound) != 0
                 ? sf_strerror(current.sound)
                 : "cannot seek there");
    notice_pending = true;
}

// Reads frames of a decoded file, one channel doubled to two. A stretch the
// decoder cannot read is silence: the file is opened afresh for the frames
// after it, since a decoder that lost its way does not find it again.
int read_decoded(const FileInfo &f, uint32_t at, int32_t frames, int16_t *samples)
{
    int64_t start = static_cast<int64_t>(at) * SAMPLES_PER_FRAME;
    int64_t want = static_cast<int64_t>(frames) * SAMPLES_PER_FRAME;
    int64_t in_file = f.samples - start < want ? f.samples - start : want;
    sf_count_t got = 0;
    bool damaged = false;
    if (current.position != start) {
        // A decoder seeks by decoding: failing, it met damage.
        damaged = sf_seek(current.sound, start, SEEK_SET) != start;
        current.position = start;
    }
    if (!damaged) {
        got = f.floating ? read_float_frames(f, samples, in_file)
                         : sf_readf_short(current.sound, samples, in_file);
        if (got < 0)
            got = 0;
        if (got != in_file) {
            if (sf_error(current.sound) == 0) {
                snprintf(error_text, sizeof error_text, "cannot read %s: the file ends early",
                         sheet.file[current.file].path);
                current.position = -1;
                return -1;
            }
            damaged = true;
        }
    }
    if (damaged) {
        struct stat st;
        if (fstat(current.fd, &st) == 0 && st.st_size < f.size) {
            snprintf(error_text, sizeof error_text, "%s has shrunk since the image was opened",
                     sheet.file[current.file].path);
            current.position = -1;
            return -1;
        }
        note_damage(start + got);
        close_current();
    } else {
        current.position += got;
        in_damage = false;
    }
    if (f.channels == 1) {
        for (int64_t i = got - 1; i >= 0; i--)
            samples[2 * i] = samples[2 * i + 1] = samples[i];
    }
    memset(samples + 2 * got, 0, static_cast<size_t>(want - got) * 4);
    return 0;
}

// Reads frames of a WavPack file as 16 bits: integer samples keep their top
// 16 bits, floating-point ones have the fixed scale of other files.
int read_wavpack(const FileInfo &f, uint32_t at, int32_t frames, int16_t *samples)
{
    int64_t start = static_cast<int64_t>(at) * SAMPLES_PER_FRAME;
    int64_t want = static_cast<int64_t>(frames) * SAMPLES_PER_FRAME;
    int64_t in_file = f.samples - start < want ? f.samples - start : want;
    if (current.position != start) {
        if (!WavpackSeekSample64(current.wavpack, start)) {
            snprintf(error_text, sizeof error_text, "cannot seek in %s: %s",
                     sheet.file[current.file].path, WavpackGetErrorMessage(current.wavpack));
            close_current();
            return -1;
        }
        current.position = start;
    }
    int64_t done = 0;
    const int64_t chunk = FLOAT_CHUNK * 2 / f.channels;
    while (done < in_file) {
        int64_t ask = in_file - done < chunk ? in_file - done : chunk;
        uint32_t got = WavpackUnpackSamples(current.wavpack, wide_samples, static_cast<uint32_t>(ask));
        if (got == 0)
            break;
        int16_t *out = samples + done * f.channels;
        for (int64_t i = 0; i < static_cast<int64_t>(got) * f.channels; i++) {
            int32_t v = wide_samples[i];
            if (f.floating) {
                float x;
                memcpy(&x, &v, sizeof x);
                x *= 32768.0f;
                out[i] = x >= 32767.0f    ? int16_t{32767}
                         : x <= -32768.0f ? int16_t{-32768}
                                          : static_cast<int16_t>(lrintf(x));
            } else {
                out[i] = static_cast<int16_t>(f.bits > 16 ? v >> (f.bits - 16) : v * (1 << (16 - f.bits)));
            }
        }
        done += got;
    }
    if (done != in_file) {
        snprintf(error_text, sizeof error_text, "cannot read %s: the file ends early",
                 sheet.file[current.file].path);
        close_current();
        return -1;
    }
    current.position += done;
    if (f.channels == 1) {
        for (int64_t i = done - 1; i >= 0; i--)
            samples[2 * i] = samples[2 * i + 1] = samples[i];
    }
    memset(samples + 2 * done, 0, static_cast<size_t>(want - done) * 4);
    return 0;
}

// The segment holding a disc frame, or -1 when it lies in none (the lead-in).
int32_t find_segment(uint32_t frame)
{
    int32_t low = 0;
    int32_t high = layout.segment_count - 1;
    while (low <= high) {
        int32_t middle = (low + high) / 2;
        const CueSegment &s = layout.segment[middle];
        if (frame < s.disc_start)
            high = middle - 1;
        else if (frame - s.disc_start >= s.frames)
            low = middle + 1;
        else
            return middle;
    }
    return -1;
}

// The frame where the run of frames starting at frame stops being audio or
// data: the end of its track, or the next track's start. Data frames, and
// those between an Enhanced CD's audio and its data, are never read out.
uint32_t track_run(uint32_t frame, bool &data)
{
    const Toc &toc = layout.toc;
    data = false;
    if (frame < toc.track[0].offset)
        return toc.track[0].offset;
    int32_t t = 0;
    while (t + 1 < toc.count && toc.track[t + 1].offset <= frame)
        t++;
    uint32_t end = toc.track[t].offset + toc.track[t].length;
    data = !toc.track[t].audio || frame >= end;
    return frame < end ? end : toc.track[t + 1].offset;
}

// Reads the sheet and probes every file, so a bad image fails here, before
// the screen starts, with the line that names its fault.
int image_open(const char *path)
{
    close_current();
    loaded = false;
    error_text[0] = '\0';
    notice_pending = false;
    in_damage = false;
    if (read_rip(path, sheet, rip_kind, error_text, sizeof error_text) < 0)
        return -1;
    for (int32_t i = 0; i < sheet.file_count; i++)
        data_only[i] = true;
    for (int32_t i = 0; i < sheet.event_count; i++) {
        const CueEvent &e = sheet.event[i];
        if (e.kind != CUE_SILENCE && e.file < sheet.file_count && sheet.track[e.track].audio)
            data_only[e.file] = false;
    }
    for (int32_t i = 0; i < sheet.file_count; i++)
        if (probe_file(i) < 0)
            return -1;
    settle_disc_artist();
    if (layout_cue_sheet(sheet, file_frames, layout, error_text, sizeof error_text) < 0)
        return -1;
    loaded = true;
    return 0;
}

// Forgets the image and its open file.
void image_close()
{
    close_current();
    loaded = false;
}

// An image never changes under mivo: a new one is a new open.
bool image_media_changed() { return false; }

// The disc as a drive would read it, or an empty tray after an eject.
int32_t image_load(Toc &toc, DiscText &text)
{
    memset(&text, 0, sizeof text);
    if (!loaded) {
        memset(&toc, 0, sizeof toc);
        return DRIVE_NO_DISC;
    }
    toc = layout.toc;
    cue_disc_text(sheet, text);
    for (int32_t t = 0; t < toc.count; t++)
        if (toc.track[t].audio)
            return DRIVE_STOPPED;
    return DRIVE_NO_DISC;
}

// Serves frames run by run: each run lies in one segment and one track, so a
// file is read in as few calls as the segments allow.
int32_t image_read(uint32_t frame, int32_t count, int16_t *samples)
{
    if (!loaded) {
        snprintf(error_text, sizeof error_text, "no image is open");
        return -1;
    }
    uint32_t leadout = layout.toc.track[layout.toc.count].offset;
    if (frame >= leadout || count <= 0)
        return 0;
    if (static_cast<uint32_t>(count) > leadout - frame)
        count = static_cast<int32_t>(leadout - frame);
    int32_t done = 0;
    while (done < count) {
        uint32_t at = frame + static_cast<uint32_t>(done);
        int16_t *out = samples + static_cast<std::ptrdiff_t>(done) * SAMPLES_PER_FRAME * 2;
        bool data;
        uint32_t end = track_run(at, data);
        int32_t s = find_segment(at);
        if (s >= 0) {
            uint32_t segment_end = layout.segment[s].disc_start + layout.segment[s].frames;
            end = segment_end < end ? segment_end : end;
        } else {
            // Before the first segment or past the last: the run ends where
            // a segment begins.
            for (int32_t i = 0; i < layout.segment_count; i++) {
                if (layout.segment[i].disc_start > at) {
                    end = layout.segment[i].disc_start < end ? layout.segment[i].disc_start : end;
                    break;
                }
            }
        }
        int32_t run = static_cast<int32_t>(end - at);
        if (run > count - done)
            run = count - done;
        const CueSegment *segment = s >= 0 ? &layout.segment[s] : nullptr;
        if (data || segment == nullptr || segment->file < 0) {
            memset(out, 0, static_cast<size_t>(run) * FRAME_BYTES);
        } else {
            const FileInfo &f = info[segment->file];
            uint32_t file_frame = segment->file_frame + (at - segment->disc_start);
            if (select_file(segment->file) < 0)
                return -1;
            int result = f.kind == DECODED   ? read_decoded(f, file_frame, run, out)
                         : f.kind == WAVPACK ? read_wavpack(f, file_frame, run, out)
                                             : read_raw(f, file_frame, run, out);
            if (result < 0) {
                close_current();
                return -1;
            }
        }
        done += run;
    }
    return done;
}

// An image's tray empties: nothing stays open and the next load finds no disc.
int image_eject()
{
    close_current();
    loaded = false;
    return 0;
}

// File names in the message come from the sheet: control bytes in them must
// not break the one line or steer a terminal.
const char *one_line(char *text)
{
    for (char *c = text; *c; c++)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f)
            *c = '?';
    return text;
}

const char *image_error() { return one_line(error_text); }

// The damage met since the last call, or nullptr.
const char *image_notice()
{
    if (!notice_pending)
        return nullptr;
    notice_pending = false;
    return one_line(notice_text);
}

} // namespace

const AudioSource image_audio_source = {
    "image",    image_open, image_close, image_media_changed,
    image_load, image_read, image_eject, image_error, image_notice,
};
