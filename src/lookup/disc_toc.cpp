// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/disc_toc.h"

#include "lookup/sha1.h"

#include <cstdio>
#include <cstring>

bool musicbrainz_toc(const Toc &drive_toc, LookupToc &toc)
{
    memset(&toc, 0, sizeof toc);
    int count = drive_toc.count;
    if (count < 1 || count > MAX_TRACKS)
        return false;
    toc.first = 1;
    toc.last = count;
    toc.leadout = drive_toc.track[count].offset;
    // An enhanced CD's data session ends the disc; MusicBrainz counts only the
    // audio session, which ends a fixed gap before the data track starts.
    if (count > 1 && !drive_toc.track[count - 1].audio) {
        toc.last = count - 1;
        toc.leadout = drive_toc.track[count - 1].offset - DATA_TRACK_GAP;
    }
    for (int i = 0; i < toc.last; i++)
        toc.offset[i] = drive_toc.track[i].offset;
    return true;
}

// Standard base64 with the three characters a URL would mangle replaced.
static void encode_base64(const uint8_t *data, int length, char *out)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
    int o = 0;
    for (int i = 0; i < length; i += 3) {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16;
        if (i + 1 < length)
            v |= static_cast<uint32_t>(data[i + 1]) << 8;
        if (i + 2 < length)
            v |= data[i + 2];
        out[o++] = alphabet[(v >> 18) & 63];
        out[o++] = alphabet[(v >> 12) & 63];
        out[o++] = i + 1 < length ? alphabet[(v >> 6) & 63] : '-';
        out[o++] = i + 2 < length ? alphabet[v & 63] : '-';
    }
    out[o] = '\0';
}

void musicbrainz_disc_id(const LookupToc &toc, char id[MB_DISC_ID_SIZE])
{
    // 2 + 2 hex digits for the track numbers, 8 for the lead-out and 8 for
    // each of 99 offsets, unused ones zero.
    char text[4 + 8 * 100 + 1];
    int n = snprintf(text, sizeof text, "%02X%02X%08X", static_cast<unsigned>(toc.first),
                     static_cast<unsigned>(toc.last), toc.leadout);
    for (int i = 0; i < MAX_TRACKS; i++) {
        uint32_t offset = i < toc.last ? toc.offset[i] : 0;
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%08X", offset);
    }
    uint8_t digest[SHA1_DIGEST_SIZE];
    sha1(text, static_cast<size_t>(n), digest);
    encode_base64(digest, SHA1_DIGEST_SIZE, id);
}

// Appends with snprintf and keeps count; false once the buffer is full.
static bool append(char *out, size_t size, int &used, const char *prefix, uint32_t value)
{
    if (used < 0)
        return false;
    int n = snprintf(out + used, size - static_cast<size_t>(used), "%s%u", prefix, value);
    if (n < 0 || static_cast<size_t>(used + n) >= size) {
        used = -1;
        return false;
    }
    used += n;
    return true;
}

int format_toc_argument(const LookupToc &toc, char *out, size_t size)
{
    int used = 0;
    append(out, size, used, "", static_cast<uint32_t>(toc.first));
    append(out, size, used, "+", static_cast<uint32_t>(toc.last));
    append(out, size, used, "+", toc.leadout);
    for (int i = 0; i < toc.last; i++)
        append(out, size, used, "+", toc.offset[i]);
    return used;
}

int format_cddb_query(const Toc &drive_toc, uint32_t cddb_id, char *out, size_t size)
{
    int count = drive_toc.count;
    if (count < 1 || count > MAX_TRACKS)
        return -1;
    int used = snprintf(out, size, "%08x", cddb_id);
    if (used < 0 || static_cast<size_t>(used) >= size)
        return -1;
    append(out, size, used, "+", static_cast<uint32_t>(count));
    for (int i = 0; i < count; i++)
        append(out, size, used, "+", drive_toc.track[i].offset);
    append(out, size, used, "+", drive_toc.track[count].offset / FRAMES_PER_SECOND);
    return used;
}

static uint32_t difference(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

uint32_t toc_distance(const LookupToc &toc, const uint32_t *offsets, int32_t count,
                      uint32_t leadout)
{
    if (count != toc.last - toc.first + 1)
        return UINT32_MAX;
    uint64_t sum = difference(toc.leadout, leadout);
    for (int i = 0; i < count; i++)
        sum += difference(toc.offset[i], offsets[i]);
    return sum >= UINT32_MAX ? UINT32_MAX - 1 : static_cast<uint32_t>(sum);
}
