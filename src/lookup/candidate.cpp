// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/candidate.h"

#include <cstring>

void clear_candidates(CandidateList &list)
{
    list.count = 0;
    list.rejected = 0;
}

bool candidate_before(const Candidate &a, const Candidate &b)
{
    if (a.source != b.source)
        return a.source == SOURCE_MUSICBRAINZ;
    if (a.source == SOURCE_MUSICBRAINZ) {
        if (a.exact != b.exact)
            return a.exact;
        if (a.distance != b.distance)
            return a.distance < b.distance;
    }
    return a.order < b.order;
}

bool add_candidate(CandidateList &list, const Candidate &candidate)
{
    if (list.count < MAX_CANDIDATES) {
        list.item[list.count++] = candidate;
        return true;
    }
    int last = 0;
    for (int i = 1; i < list.count; i++)
        if (candidate_before(list.item[last], list.item[i]))
            last = i;
    if (!candidate_before(candidate, list.item[last]))
        return false;
    list.item[last] = candidate;
    return true;
}

// Insertion sort: the list is short, and a stable order keeps the server's
// order among equals. The records are large, so one spare is kept static.
void rank_candidates(CandidateList &list)
{
    static Candidate moving;
    for (int i = 1; i < list.count; i++) {
        if (!candidate_before(list.item[i], list.item[i - 1]))
            continue;
        moving = list.item[i];
        int j = i;
        while (j > 0 && candidate_before(moving, list.item[j - 1])) {
            list.item[j] = list.item[j - 1];
            j--;
        }
        list.item[j] = moving;
    }
}

// Same artist, title and track texts.
static bool same_titles(const Candidate &a, const Candidate &b)
{
    if (strcmp(a.artist, b.artist) != 0 || strcmp(a.title, b.title) != 0 ||
        a.track_count != b.track_count)
        return false;
    for (int i = 0; i < a.track_count; i++)
        if (strcmp(a.track[i], b.track[i]) != 0)
            return false;
    return true;
}

int automatic_choice(const CandidateList &list)
{
    int first = -1;
    for (int i = 0; i < list.count; i++) {
        const Candidate &c = list.item[i];
        if (!c.exact)
            continue;
        if (first == -1)
            first = i;
        else if (!same_titles(list.item[first], c))
            return -1;
    }
    return first;
}

// The length of the UTF-8 sequence starting at text[0], or 0 when it is not
// a valid one within length bytes.
static size_t utf8_sequence(const unsigned char *text, size_t length)
{
    unsigned char c = text[0];
    if (c < 0x80)
        return 1;
    size_t n;
    uint32_t min;
    uint32_t value;
    if ((c & 0xe0) == 0xc0) {
        n = 2;
        min = 0x80;
        value = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
        n = 3;
        min = 0x800;
        value = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
        n = 4;
        min = 0x10000;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (n > length)
        return 0;
    for (size_t i = 1; i < n; i++) {
        if ((text[i] & 0xc0) != 0x80)
            return 0;
        value = value << 6 | (text[i] & 0x3f);
    }
    if (value < min || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0;
    return n;
}

bool valid_utf8(const char *text, size_t length)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    size_t i = 0;
    while (i < length) {
        size_t n = utf8_sequence(p + i, length - i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void copy_text(char *out, size_t size, const char *text, size_t length)
{
    if (size == 0)
        return;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    size_t used = 0;
    size_t i = 0;
    while (i < length && text[i] != '\0') {
        size_t n = utf8_sequence(p + i, length - i);
        if (n == 0)
            n = 1; // a stray byte goes through as it is, one cell on screen
        if (used + n > size - 1)
            break;
        memcpy(out + used, text + i, n);
        used += n;
        i += n;
    }
    out[used] = '\0';
}

void latin1_to_utf8(char *out, size_t size, const char *text, size_t length)
{
    if (size == 0)
        return;
    size_t used = 0;
    for (size_t i = 0; i < length && text[i] != '\0'; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : 2;
        if (used + n > size - 1)
            break;
        if (n == 1) {
            out[used++] = static_cast<char>(c);
        } else {
            out[used++] = static_cast<char>(0xc0 | c >> 6);
            out[used++] = static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    out[used] = '\0';
}

// U+202A..U+202E and U+2066..U+2069: they reorder what follows them on a
// terminal line, in the editor and in any viewer of the file.
static bool bidi_control(const unsigned char *p, size_t n)
{
    if (n != 3 || p[0] != 0xe2)
        return false;
    return (p[1] == 0x80 && p[2] >= 0xaa && p[2] <= 0xae) ||
           (p[1] == 0x81 && p[2] >= 0xa6 && p[2] <= 0xa9);
}

void clean_text(char *text)
{
    unsigned char *p = reinterpret_cast<unsigned char *>(text);
    size_t length = strlen(text);
    size_t out = 0;
    size_t i = 0;
    while (i < length) {
        size_t n = utf8_sequence(p + i, length - i);
        if (n == 0) {
            p[out++] = '?';
            i++;
        } else if (n == 1 && (p[i] < 0x20 || p[i] == 0x7f)) {
            p[out++] = ' ';
            i++;
        } else if (n == 2 && p[i] == 0xc2 && p[i + 1] < 0xa0) {
            p[out++] = ' ';
            i += 2;
        } else if (bidi_control(p + i, n)) {
            i += n;
        } else {
            memmove(p + out, p + i, n);
            out += n;
            i += n;
        }
    }
    p[out] = '\0';
}

void clean_candidate(Candidate &c)
{
    char *texts[] = {c.artist, c.title, c.year,  c.country, c.format,
                     c.label,  c.catalog, c.genre, c.release};
    for (char *t : texts)
        clean_text(t);
    for (char(&t)[LOOKUP_TEXT_SIZE] : c.track)
        clean_text(t);
}
