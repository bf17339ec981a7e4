// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/musicbrainz.h"

#include "common/hex.h"

#define JSMN_STATIC
#define JSMN_STRICT
#define JSMN_PARENT_LINKS
#include <jsmn.h>

#include <cstdio>
#include <cstring>

// A reply of a popular multi-disc release runs to several hundred KB; one
// token per 8 bytes of a full 1 MB buffer covers the densest real replies.
static constexpr int MAX_TOKENS = 131072;
static jsmntok_t tokens[MAX_TOKENS];
static int token_count;
static const char *json;

int musicbrainz_request_url(char *out, size_t size, const char *base, const char *disc_id,
                            const LookupToc &toc)
{
    char toc_text[4 + 12 * (MAX_TRACKS + 2)];
    if (format_toc_argument(toc, toc_text, sizeof toc_text) < 0)
        return -1;
    int n = snprintf(out, size,
                     "%s/discid/%s?toc=%s&inc=recordings+artist-credits+labels+release-groups"
                     "&fmt=json",
                     base, disc_id, toc_text);
    return n < 0 || static_cast<size_t>(n) >= size ? -1 : n;
}

// The token after the whole value at i. Tokens are in document order, so the
// value's members are exactly those that start before it ends.
static int skip(int i)
{
    int j = i + 1;
    while (j < token_count && tokens[j].start < tokens[i].end)
        j++;
    return j;
}

static bool is(int i, jsmntype_t type)
{
    return i >= 0 && i < token_count && tokens[i].type == type;
}

// The value of key in the object at i, or -1.
static int member(int i, const char *key)
{
    if (!is(i, JSMN_OBJECT))
        return -1;
    size_t key_length = strlen(key);
    int j = i + 1;
    for (int k = 0; k < tokens[i].size && j + 1 < token_count; k++) {
        const jsmntok_t &name = tokens[j];
        if (name.type == JSMN_STRING && static_cast<size_t>(name.end - name.start) == key_length &&
            memcmp(json + name.start, key, key_length) == 0)
            return j + 1;
        j = skip(j + 1);
    }
    return -1;
}

// The n-th element of the array at i, or -1; element walks are linear, so
// callers step with skip() instead when they go through a whole array.
static int first_element(int i) { return is(i, JSMN_ARRAY) && tokens[i].size > 0 ? i + 1 : -1; }

static uint32_t read_hex4(const char *p)
{
    uint32_t v = 0;
    for (int k = 0; k < 4; k++)
        v = v << 4 | static_cast<uint32_t>(hex_digit_value(p[k]));
    return v;
}

// Appends one code point as UTF-8 if it fits whole.
static void put_code_point(char *out, size_t size, size_t &used, uint32_t c)
{
    char bytes[4];
    size_t n;
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        n = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xc0 | c >> 6);
        bytes[1] = static_cast<char>(0x80 | (c & 0x3f));
        n = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xe0 | c >> 12);
        bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3f));
        n = 3;
    } else {
        bytes[0] = static_cast<char>(0xf0 | c >> 18);
        bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3f));
        n = 4;
    }
    if (used + n > size - 1) {
        used = size; // full: later characters are dropped too
        return;
    }
    memcpy(out + used, bytes, n);
    used += n;
}

// Decodes the string at i into out, escapes undone and cut at a character
// boundary; "" for anything but a string. A NUL is dropped, since the texts
// are C strings; other control characters are cleaned with the whole record.
static void text(int i, char *out, size_t size)
{
    out[0] = '\0';
    if (!is(i, JSMN_STRING))
        return;
    const char *p = json + tokens[i].start;
    const char *end = json + tokens[i].end;
    size_t used = 0;
    while (p < end && used < size) {
        uint32_t c = static_cast<unsigned char>(*p);
        if (c != '\\') {
            // Raw UTF-8 bytes: copy a whole sequence or nothing.
            size_t n = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4;
            if (n > static_cast<size_t>(end - p) || used + n > size - 1)
                break;
            memcpy(out + used, p, n);
            used += n;
            p += n;
            continue;
        }
        // jsmn's strict mode has checked the escape's form.
        char e = p[1];
        p += 2;
        switch (e) {
        case 'b':
            c = '\b';
            break;
        case 'f':
            c = '\f';
            break;
        case 'n':
            c = '\n';
            break;
        case 'r':
            c = '\r';
            break;
        case 't':
            c = '\t';
            break;
        case 'u':
            c = read_hex4(p);
            p += 4;
            if (c >= 0xd800 && c <= 0xdbff && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
                uint32_t low = read_hex4(p + 2);
                if (low >= 0xdc00 && low <= 0xdfff) {
                    c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                    p += 6;
                }
            }
            if (c >= 0xd800 && c <= 0xdfff)
                c = 0xfffd;
            break;
        default:
            c = static_cast<unsigned char>(e);
            break;
        }
        if (c != 0)
            put_code_point(out, size, used, c);
    }
    out[used < size ? used : size - 1] = '\0';
}

// A non-negative integer primitive, or 0.
static uint32_t number(int i)
{
    if (!is(i, JSMN_PRIMITIVE))
        return 0;
    uint64_t v = 0;
    for (int k = tokens[i].start; k < tokens[i].end; k++) {
        char c = json[k];
        if (c < '0' || c > '9')
            return 0;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<uint32_t>(v);
}

static bool text_equals(int i, const char *value)
{
    return is(i, JSMN_STRING) &&
           static_cast<size_t>(tokens[i].end - tokens[i].start) == strlen(value) &&
           memcmp(json + tokens[i].start, value, strlen(value)) == 0;
}

// Joins an artist credit's names and join phrases: "A feat. B".
static void artist_credit(int credit, char *out, size_t size)
{
    out[0] = '\0';
    char piece[LOOKUP_TEXT_SIZE];
    size_t used = 0;
    int j = first_element(credit);
    for (int k = 0; j >= 0 && k < tokens[credit].size; k++, j = skip(j)) {
        static const char *const parts[] = {"name", "joinphrase"};
        for (const char *key : parts) {
            text(member(j, key), piece, sizeof piece);
            size_t n = strlen(piece);
            if (used + n >= size)
                n = 0;
            memcpy(out + used, piece, n);
            used += n;
            out[used] = '\0';
        }
    }
}

// The year of a "YYYY-MM-DD" date, or "".
static void year_of(int date, char *out, size_t size)
{
    char value[32];
    text(date, value, sizeof value);
    out[0] = '\0';
    if (strlen(value) >= 4 && size > 4) {
        for (int k = 0; k < 4; k++)
            if (value[k] < '0' || value[k] > '9')
                return;
        memcpy(out, value, 4);
        out[4] = '\0';
    }
}

// The name of the genre with the most votes in the array at i.
static void top_genre(int genres, char *out, size_t size)
{
    out[0] = '\0';
    uint32_t best = 0;
    int j = first_element(genres);
    for (int k = 0; j >= 0 && k < tokens[genres].size; k++, j = skip(j)) {
        uint32_t count = number(member(j, "count"));
        if (out[0] == '\0' || count > best) {
            text(member(j, "name"), out, size);
            best = count;
        }
    }
}

static uint32_t difference(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// How a medium matches the disc.
struct MediumFit {
    bool usable;
    bool exact;
    uint32_t distance;
};

// Offsets of one of a medium's discs, held while comparing.
static uint32_t disc_offsets[MAX_TRACKS];

// Exact when one of its discs is ours; otherwise the nearest of its discs'
// tables, or for a medium without discs, the table its track lengths imply.
static MediumFit fit_medium(int medium, const LookupToc &toc, const char *disc_id)
{
    MediumFit fit = {false, false, UINT32_MAX};
    int tracks = member(medium, "tracks");
    int our_count = toc.last - toc.first + 1;
    if (!is(tracks, JSMN_ARRAY) || tracks == -1)
        return fit;
    bool same_count = tokens[tracks].size == our_count;
    int discs = member(medium, "discs");
    int d = first_element(discs);
    for (int k = 0; d >= 0 && k < tokens[discs].size; k++, d = skip(d)) {
        if (text_equals(member(d, "id"), disc_id)) {
            fit.exact = true;
            fit.distance = 0;
            fit.usable = same_count;
            return fit;
        }
        int offsets = member(d, "offsets");
        if (!is(offsets, JSMN_ARRAY) || tokens[offsets].size != our_count)
            continue;
        int o = first_element(offsets);
        for (int t = 0; o >= 0 && t < our_count; t++, o = skip(o))
            disc_offsets[t] = number(o);
        uint32_t distance =
            toc_distance(toc, disc_offsets, our_count, number(member(d, "sectors")));
        if (distance < fit.distance)
            fit.distance = distance;
    }
    if (!same_count)
        return fit;
    if (fit.distance == UINT32_MAX) {
        // Track lengths are in milliseconds; each one moves the next offset.
        uint64_t sum = 0;
        uint32_t expected = toc.offset[0];
        int t = first_element(tracks);
        for (int k = 0; t >= 0 && k < our_count; k++, t = skip(t)) {
            if (k > 0)
                sum += difference(toc.offset[k], expected);
            expected += static_cast<uint32_t>(static_cast<uint64_t>(number(member(t, "length"))) *
                                              FRAMES_PER_SECOND / 1000);
        }
        sum += difference(toc.leadout, expected);
        fit.distance = sum >= UINT32_MAX ? UINT32_MAX - 1 : static_cast<uint32_t>(sum);
    }
    fit.usable = true;
    return fit;
}

// Where the candidate is built before it is copied into the list.
static Candidate building;

// Fills the track texts, naming a track's artist only where it differs from
// the release's.
static void read_tracks(int tracks, Candidate &c)
{
    char artist[LOOKUP_TEXT_SIZE];
    char title[LOOKUP_TEXT_SIZE];
    int t = first_element(tracks);
    c.track_count = 0;
    for (int k = 0; t >= 0 && k < tokens[tracks].size && k < MAX_TRACKS; k++, t = skip(t)) {
        text(member(t, "title"), title, sizeof title);
        if (title[0] == '\0')
            text(member(member(t, "recording"), "title"), title, sizeof title);
        artist_credit(member(t, "artist-credit"), artist, sizeof artist);
        if (artist[0] == '\0')
            text(member(t, "artist"), artist, sizeof artist); // a CD stub's plain name
        if (artist[0] != '\0' && strcmp(artist, c.artist) != 0) {
            char joined[2 * LOOKUP_TEXT_SIZE + 4];
            snprintf(joined, sizeof joined, "%s / %s", artist, title);
            copy_text(c.track[k], LOOKUP_TEXT_SIZE, joined, strlen(joined));
        } else {
            memcpy(c.track[k], title, sizeof title);
        }
        c.track_count = k + 1;
    }
}

// The artist every track of the array credits, or "" when they differ or
// none is credited: what names a release that credits no artist itself.
static void common_track_artist(int tracks, char *out, size_t size)
{
    char artist[LOOKUP_TEXT_SIZE];
    out[0] = '\0';
    int t = first_element(tracks);
    for (int k = 0; t >= 0 && k < tokens[tracks].size; k++, t = skip(t)) {
        artist_credit(member(t, "artist-credit"), artist, sizeof artist);
        if (artist[0] == '\0' || (k > 0 && strcmp(artist, out) != 0)) {
            out[0] = '\0';
            return;
        }
        if (k == 0)
            copy_text(out, size, artist, strlen(artist));
    }
}

// One candidate from the release at r, if one of its media fits.
static bool read_release(int r, int order, const LookupToc &toc, const char *disc_id,
                         CandidateList &list)
{
    int media = member(r, "media");
    if (!is(media, JSMN_ARRAY))
        return false;
    int best = -1;
    MediumFit best_fit = {false, false, UINT32_MAX};
    int m = first_element(media);
    for (int k = 0; m >= 0 && k < tokens[media].size; k++, m = skip(m)) {
        MediumFit fit = fit_medium(m, toc, disc_id);
        if (fit.exact && !fit.usable)
            return false; // lists our disc with other tracks: not to be trusted
        if (!fit.usable)
            continue;
        if (best == -1 || (fit.exact && !best_fit.exact) ||
            (fit.exact == best_fit.exact && fit.distance < best_fit.distance)) {
            best = m;
            best_fit = fit;
        }
    }
    if (best == -1)
        return false;

    Candidate &c = building;
    memset(&c, 0, sizeof c);
    c.source = SOURCE_MUSICBRAINZ;
    c.exact = best_fit.exact;
    c.distance = best_fit.distance;
    c.order = order;
    artist_credit(member(r, "artist-credit"), c.artist, sizeof c.artist);
    text(member(r, "title"), c.title, sizeof c.title);
    int group = member(r, "release-group");
    year_of(member(r, "date"), c.year, sizeof c.year);
    if (c.year[0] == '\0')
        year_of(member(group, "first-release-date"), c.year, sizeof c.year);
    text(member(r, "country"), c.country, sizeof c.country);
    text(member(best, "format"), c.format, sizeof c.format);
    int labels = member(r, "label-info");
    int l = first_element(labels);
    for (int k = 0; l >= 0 && k < tokens[labels].size; k++, l = skip(l)) {
        text(member(member(l, "label"), "name"), c.label, sizeof c.label);
        text(member(l, "catalog-number"), c.catalog, sizeof c.catalog);
        if (c.label[0] != '\0' || c.catalog[0] != '\0')
            break;
    }
    top_genre(member(r, "genres"), c.genre, sizeof c.genre);
    if (c.genre[0] == '\0')
        top_genre(member(group, "genres"), c.genre, sizeof c.genre);
    text(member(r, "id"), c.release, sizeof c.release);
    c.disc_number = static_cast<int32_t>(number(member(best, "position")));
    c.disc_total = tokens[media].size;
    if (c.artist[0] == '\0')
        artist_credit(member(best, "artist-credit"), c.artist, sizeof c.artist);
    if (c.artist[0] == '\0')
        common_track_artist(member(best, "tracks"), c.artist, sizeof c.artist);
    read_tracks(member(best, "tracks"), c);
    clean_candidate(c);
    add_candidate(list, c);
    return true;
}

// A CD stub: an unreviewed entry with a title, an artist and track titles.
static int read_stub(int root, const LookupToc &toc, CandidateList &list)
{
    int tracks = member(root, "tracks");
    if (!is(tracks, JSMN_ARRAY))
        return REPLY_MALFORMED;
    if (tokens[tracks].size != toc.last - toc.first + 1) {
        list.rejected++;
        return 0;
    }
    Candidate &c = building;
    memset(&c, 0, sizeof c);
    c.source = SOURCE_MUSICBRAINZ;
    c.distance = UINT32_MAX - 1;
    text(member(root, "artist"), c.artist, sizeof c.artist);
    text(member(root, "title"), c.title, sizeof c.title);
    snprintf(c.format, sizeof c.format, "CD stub");
    text(member(root, "id"), c.release, sizeof c.release);
    read_tracks(tracks, c);
    c.disc_number = 1;
    c.disc_total = 1;
    clean_candidate(c);
    return add_candidate(list, c) ? 1 : 0;
}

int parse_musicbrainz_reply(const char *body, size_t length, const LookupToc &toc,
                            const char *disc_id, CandidateList &list)
{
    if (!valid_utf8(body, length))
        return REPLY_ENCODING;
    jsmn_parser parser;
    jsmn_init(&parser);
    int n = jsmn_parse(&parser, body, length, tokens, MAX_TOKENS);
    if (n == JSMN_ERROR_NOMEM)
        return REPLY_TOO_LARGE;
    if (n < 1)
        return REPLY_MALFORMED;
    token_count = n;
    json = body;
    if (!is(0, JSMN_OBJECT))
        return REPLY_MALFORMED;

    int releases = member(0, "releases");
    if (releases == -1) {
        if (member(0, "tracks") != -1)
            return read_stub(0, toc, list);
        return member(0, "error") != -1 ? 0 : REPLY_MALFORMED;
    }
    if (!is(releases, JSMN_ARRAY))
        return REPLY_MALFORMED;
    int added = 0;
    int r = first_element(releases);
    for (int k = 0; r >= 0 && k < tokens[releases].size; k++, r = skip(r)) {
        if (read_release(r, k, toc, disc_id, list))
            added++;
        else
            list.rejected++;
    }
    return added;
}
