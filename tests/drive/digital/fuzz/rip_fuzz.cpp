// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for what a rip brings from outside besides its sheet's text:
// FILE names looked up on disk, file names put in order, tags made titles,
// and FLAC's CUESHEET block. The first byte picks which; the rest is the
// input. Each checks what must hold whatever the input:
//   names found lie in the test's folder tree and are regular files;
//   the order of names is an order (a before b exactly when b after a);
//   titles are valid UTF-8 without control characters, inside their field;
//   a block read as a sheet lays out as one.
//
// Long run (clang, libFuzzer):  build/fuzz/rip_libfuzzer -max_total_time=600 CORPUS_DIR
#include "drive/digital/cue_sheet.h"
#include "drive/digital/rip.h"
#include "drive/digital/sheet_files.h"
#include "fuzz_target.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace
{

// A rip's folder tree, made once: names to find and names to miss.
const char *tree()
{
    static char root[64];
    if (root[0] != '\0')
        return root;
    snprintf(root, sizeof root, "/tmp/mivo-rip-fuzz-%d", static_cast<int>(getpid()));
    atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    });
    const char *const folders[] = {"", "/rip", "/rip/Disc One", "/rip/sub"};
    for (const char *f : folders) {
        char path[128];
        snprintf(path, sizeof path, "%s%s", root, f);
        mkdir(path, 0700);
    }
    const char *const files[] = {"/out.wav", "/rip/a.WAV", "/rip/b.wv", "/rip/b.flac",
                                 "/rip/Disc One/01 Track.flac", "/rip/caf\xc3\xa9.wav",
                                 "/rip/sub/x.aiff"};
    for (const char *f : files) {
        char path[128];
        snprintf(path, sizeof path, "%s%s", root, f);
        if (FILE *out = fopen(path, "w"))
            fclose(out);
    }
    return root;
}

void check(bool holds)
{
    if (!holds)
        abort();
}

void fuzz_name(const char *data, size_t size)
{
    char folder[96];
    snprintf(folder, sizeof folder, "%s/rip/", tree());
    static char written[2048], decoded[4096], found[2048];
    size_t folder_length = strlen(folder);
    size_t name_length = strnlen(data, size < 1000 ? size : 1000);
    memcpy(written, folder, folder_length);
    memcpy(written + folder_length, data, name_length);
    written[folder_length + name_length] = '\0';
    memcpy(decoded, folder, folder_length);
    bool has_decoded =
        windows1252_to_utf8(data, static_cast<int32_t>(name_length), decoded + folder_length,
                            static_cast<int>(sizeof decoded - folder_length)) >= 0;
    if (find_sheet_file(written, static_cast<int32_t>(folder_length),
                        has_decoded ? decoded : nullptr, found, sizeof found) != 0)
        return;
    struct stat st;
    check(stat(found, &st) == 0 && S_ISREG(st.st_mode));
    // Found beyond the folder only as written: a search never leaves it.
    if (strncmp(found, folder, folder_length) != 0)
        check(strcmp(found, written) == 0 || strcmp(found, decoded) == 0 ||
              strstr(written, "..") != nullptr || strstr(decoded, "..") != nullptr);
}

void fuzz_order(const char *data, size_t size)
{
    static char a[512], b[512];
    size_t half = size / 2;
    size_t la = strnlen(data, half < 511 ? half : 511);
    size_t lb = strnlen(data + half, size - half < 511 ? size - half : 511);
    memcpy(a, data, la);
    a[la] = '\0';
    memcpy(b, data + half, lb);
    b[lb] = '\0';
    int ab = natural_compare(a, b);
    int ba = natural_compare(b, a);
    check(ab == -ba);
    check(natural_compare(a, a) == 0);
    check((ab == 0) == (strcmp(a, b) == 0));
}

bool valid_utf8_without_controls(const unsigned char *s)
{
    while (*s) {
        unsigned char c = *s;
        int n = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (n < 0 || c < 0x20 || c == 0x7f || (c == 0xc2 && s[1] >= 0x80 && s[1] < 0xa0))
            return false;
        for (int k = 1; k <= n; k++)
            if ((s[k] & 0xc0) != 0x80)
                return false;
        s += n + 1;
    }
    return true;
}

void fuzz_title(const char *data, size_t size)
{
    char field[CUE_TEXT_SIZE];
    cue_copy_text(field, sizeof field, data, static_cast<int32_t>(size < 100000 ? size : 100000));
    check(strlen(field) < sizeof field);
    check(valid_utf8_without_controls(reinterpret_cast<const unsigned char *>(field)));
}

// Reads numbers off the input, zero once it runs out.
struct Reader {
    const unsigned char *at;
    size_t left;
    uint64_t take(int bytes)
    {
        uint64_t v = 0;
        for (int i = 0; i < bytes && left > 0; i++, left--)
            v = v << 8 | *at++;
        return v;
    }
};

void fuzz_block(const char *data, size_t size)
{
    static FLAC__StreamMetadata_CueSheet_Track tracks[120];
    static FLAC__StreamMetadata_CueSheet_Index indices[120][8];
    static CueSheet sheet;
    static CueLayout layout;
    Reader r{reinterpret_cast<const unsigned char *>(data), size};
    FLAC__StreamMetadata_CueSheet block{};
    block.num_tracks = static_cast<uint32_t>(r.take(1) % 120);
    block.tracks = tracks;
    for (uint32_t t = 0; t < block.num_tracks; t++) {
        FLAC__StreamMetadata_CueSheet_Track &track = tracks[t];
        track = {};
        track.number = static_cast<FLAC__byte>(r.take(1));
        track.type = static_cast<uint32_t>(r.take(1) & 1);
        track.offset = r.take(5);
        track.num_indices = static_cast<FLAC__byte>(r.take(1) % 9);
        track.indices = indices[t];
        for (int k = 0; k < track.num_indices; k++) {
            indices[t][k].number = static_cast<FLAC__byte>(r.take(1) % 4);
            indices[t][k].offset = r.take(4);
        }
    }
    if (sheet_of_flac_block("/x/a.flac", block, sheet) != 0)
        return;
    check(sheet.file_count == 1 && sheet.track_count > 0 && sheet.track_count <= MAX_TRACKS);
    uint32_t frames = static_cast<uint32_t>(r.take(4) & 0x7fffffff);
    char error[CUE_ERROR_SIZE];
    if (layout_cue_sheet(sheet, &frames, layout, error, sizeof error) == 0) {
        check(layout.toc.count == sheet.track_count);
        for (int32_t t = 0; t + 1 <= layout.toc.count; t++)
            check(layout.toc.track[t].offset <= layout.toc.track[t + 1].offset);
    }
}

} // namespace

// The seeds carry their own first byte; the words are those of names and
// numbers people give files.
static const char *const RIP_TOKENS[] = {"\\", "/", "..", ".", ".wav", ".WAV", ".flac", ".wv", "Disc One",
                              "01", "10", "0", "\x92", "\xc3\xa9", "\x1b["};
const FuzzHints fuzz_hints = {RIP_TOKENS, sizeof RIP_TOKENS / sizeof RIP_TOKENS[0], "", 0};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const char *rest = reinterpret_cast<const char *>(data + 1);
    switch (data[0] % 4) {
    case 0:
        fuzz_name(rest, size - 1);
        break;
    case 1:
        fuzz_order(rest, size - 1);
        break;
    case 2:
        fuzz_title(rest, size - 1);
        break;
    default:
        fuzz_block(rest, size - 1);
        break;
    }
    return 0;
}
