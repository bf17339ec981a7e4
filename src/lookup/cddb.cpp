// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/cddb.h"

#include <cstdio>
#include <cstring>

// Percent-encodes everything but unreserved characters; false when full.
static bool append_escaped(char *out, size_t size, size_t &used, const char *text)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        bool plain = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ||
                     (*p >= '0' && *p <= '9') || *p == '-' || *p == '.' || *p == '_' || *p == '~';
        size_t n = plain ? 1 : 3;
        if (used + n >= size)
            return false;
        if (plain) {
            out[used++] = static_cast<char>(*p);
        } else {
            out[used++] = '%';
            out[used++] = hex[*p >> 4];
            out[used++] = hex[*p & 15];
        }
    }
    out[used] = '\0';
    return true;
}

int cddb_read_command(char *out, size_t size, const CddbMatch &match)
{
    int n = snprintf(out, size, "read+");
    if (n < 0 || static_cast<size_t>(n) >= size)
        return -1;
    size_t used = static_cast<size_t>(n);
    if (!append_escaped(out, size, used, match.category) || used + 1 >= size)
        return -1;
    out[used++] = '+';
    out[used] = '\0';
    if (!append_escaped(out, size, used, match.discid))
        return -1;
    return static_cast<int>(used);
}

int cddb_request_url(char *out, size_t size, const char *base, const char *command,
                     const char *email, const char *version)
{
    int n = snprintf(out, size, "%s?cmd=cddb+%s&hello=", base, command);
    if (n < 0 || static_cast<size_t>(n) >= size)
        return -1;
    size_t used = static_cast<size_t>(n);
    // The protocol's hello names a user and a host; the address's domain
    // serves as the host so that nothing about this machine is sent.
    const char *at = strchr(email, '@');
    const char *host = at != nullptr && at[1] != '\0' ? at + 1 : "localhost";
    if (!append_escaped(out, size, used, email))
        return -1;
    n = snprintf(out + used, size - used, "+");
    used += static_cast<size_t>(n);
    if (!append_escaped(out, size, used, host))
        return -1;
    n = snprintf(out + used, size - used, "+mivo+%s&proto=6", version);
    if (n < 0 || used + static_cast<size_t>(n) >= size)
        return -1;
    return static_cast<int>(used) + n;
}

namespace
{

// Walks a reply line by line, each ended by LF or CRLF; the last line may
// lack its end. Unnamed, as the title-file loader has a reader of its own.
struct LineReader {
    const char *p;
    const char *end;
};

} // namespace

static bool next_line(LineReader &reader, const char *&line, size_t &length)
{
    if (reader.p >= reader.end)
        return false;
    line = reader.p;
    const char *newline = static_cast<const char *>(memchr(reader.p, '\n', reader.end - reader.p));
    const char *stop = newline != nullptr ? newline : reader.end;
    reader.p = newline != nullptr ? newline + 1 : reader.end;
    if (stop > line && stop[-1] == '\r')
        stop--;
    length = static_cast<size_t>(stop - line);
    return true;
}

// Reads a reply's first line into line and returns the three-digit code it
// starts with, or REPLY_MALFORMED when there is no such line.
static int read_status(LineReader &reader, const char *&line, size_t &length)
{
    if (!next_line(reader, line, length) || length < 3)
        return REPLY_MALFORMED;
    for (int i = 0; i < 3; i++)
        if (line[i] < '0' || line[i] > '9')
            return REPLY_MALFORMED;
    if (length > 3 && line[3] != ' ' && line[3] != '-')
        return REPLY_MALFORMED;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// The categories of the CDDB protocol, the only words a server may name an
// entry's category with.
static bool known_category(const char *word, size_t length)
{
    static const char *const categories[] = {"blues", "classical", "country", "data",
                                             "folk",  "jazz",      "misc",    "newage",
                                             "reggae", "rock",     "soundtrack"};
    for (const char *c : categories)
        if (strlen(c) == length && memcmp(c, word, length) == 0)
            return true;
    return false;
}

static bool hex_id(const char *word, size_t length)
{
    if (length != 8)
        return false;
    for (size_t i = 0; i < length; i++) {
        char c = word[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// Splits "category discid title" into a match; false when a field is missing,
// the category is not one of the protocol's or the id not 8 hex digits.
static bool read_match(const char *line, size_t length, CddbMatch &match)
{
    const char *end = line + length;
    const char *space1 = static_cast<const char *>(memchr(line, ' ', length));
    if (space1 == nullptr || space1 == line)
        return false;
    const char *space2 = static_cast<const char *>(memchr(space1 + 1, ' ', end - space1 - 1));
    if (space2 == nullptr)
        space2 = end;
    size_t category = static_cast<size_t>(space1 - line);
    size_t discid = static_cast<size_t>(space2 - space1 - 1);
    if (!known_category(line, category) || !hex_id(space1 + 1, discid))
        return false;
    memcpy(match.category, line, category);
    match.category[category] = '\0';
    memcpy(match.discid, space1 + 1, discid);
    match.discid[discid] = '\0';
    const char *title = space2 < end ? space2 + 1 : end;
    size_t title_length = static_cast<size_t>(end - title);
    if (valid_utf8(title, title_length))
        copy_text(match.title, sizeof match.title, title, title_length);
    else
        latin1_to_utf8(match.title, sizeof match.title, title, title_length);
    clean_text(match.title);
    return true;
}

int parse_cddb_query(const char *body, size_t length, CddbMatch *matches, int max, int &count)
{
    count = 0;
    LineReader reader = {body, body + length};
    const char *line;
    size_t line_length;
    int code = read_status(reader, line, line_length);
    if (code == REPLY_MALFORMED)
        return code;
    if (code == 200) {
        // The length is checked before it is cut: a bare "200" has no match.
        if (max < 1 || line_length < 4 || !read_match(line + 4, line_length - 4, matches[0]))
            return REPLY_MALFORMED;
        count = 1;
        return code;
    }
    if (code != 210 && code != 211)
        return code;
    // A list ends with a line holding only "."; without it the reply was cut.
    while (next_line(reader, line, line_length)) {
        if (line_length == 1 && line[0] == '.')
            return code;
        // A line that does not read as a match is skipped; the others are
        // still worth reading.
        if (count < max && read_match(line, line_length, matches[count]))
            count++;
    }
    count = 0;
    return REPLY_MALFORMED;
}

// Appends a field's value to target with \n, \t and \\ undone, cut at a
// character boundary.
static void append_value(char *target, size_t size, const char *value, size_t length, bool latin1)
{
    char decoded[LOOKUP_TEXT_SIZE];
    size_t used = 0;
    for (size_t i = 0; i < length && used < sizeof decoded - 1; i++) {
        char c = value[i];
        if (c == '\\' && i + 1 < length) {
            char e = value[++i];
            c = e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        decoded[used++] = c;
    }
    decoded[used] = '\0';
    size_t have = strlen(target);
    if (latin1)
        latin1_to_utf8(target + have, size - have, decoded, used);
    else
        copy_text(target + have, size - have, decoded, used);
}

// Splits "Artist / Title"; without the separator, both are the whole text,
// as the format's writers meant.
static void split_disc_title(const char *dtitle, Candidate &c)
{
    const char *separator = strstr(dtitle, " / ");
    if (separator == nullptr) {
        copy_text(c.artist, sizeof c.artist, dtitle, strlen(dtitle));
        copy_text(c.title, sizeof c.title, dtitle, strlen(dtitle));
        return;
    }
    copy_text(c.artist, sizeof c.artist, dtitle, static_cast<size_t>(separator - dtitle));
    copy_text(c.title, sizeof c.title, separator + 3, strlen(separator + 3));
}

int parse_cddb_read(const char *body, size_t length, int32_t disc_tracks, Candidate &c)
{
    static char dtitle[LOOKUP_TEXT_SIZE];
    memset(&c, 0, sizeof c);
    dtitle[0] = '\0';
    LineReader reader = {body, body + length};
    const char *line;
    size_t line_length;
    int code = read_status(reader, line, line_length);
    if (code == REPLY_MALFORMED)
        return code;
    if (code != 210)
        return code;
    CddbMatch where;
    if (line_length < 4 || !read_match(line + 4, line_length - 4, where))
        return REPLY_MALFORMED;
    snprintf(c.release, sizeof c.release, "%s %s", where.category, where.discid);
    c.source = SOURCE_GNUDB;
    c.disc_number = 1;
    c.disc_total = 1;
    bool latin1 = !valid_utf8(body, length);
    bool ended = false;
    int32_t tracks = 0;
    while (next_line(reader, line, line_length)) {
        if (line_length == 1 && line[0] == '.') {
            ended = true;
            break;
        }
        const char *equals = static_cast<const char *>(memchr(line, '=', line_length));
        if (line_length == 0 || line[0] == '#' || equals == nullptr)
            continue;
        size_t key = static_cast<size_t>(equals - line);
        const char *value = equals + 1;
        size_t value_length = line_length - key - 1;
        if (key == 6 && memcmp(line, "DTITLE", 6) == 0) {
            append_value(dtitle, sizeof dtitle, value, value_length, latin1);
        } else if (key == 5 && memcmp(line, "DYEAR", 5) == 0) {
            append_value(c.year, sizeof c.year, value, value_length, latin1);
        } else if (key == 6 && memcmp(line, "DGENRE", 6) == 0) {
            append_value(c.genre, sizeof c.genre, value, value_length, latin1);
        } else if (key > 6 && memcmp(line, "TTITLE", 6) == 0) {
            int32_t index = 0;
            for (size_t i = 6; i < key; i++) {
                if (line[i] < '0' || line[i] > '9' || index > MAX_TRACKS)
                    return REPLY_MALFORMED;
                index = index * 10 + (line[i] - '0');
            }
            if (index >= disc_tracks || index >= MAX_TRACKS)
                return REPLY_MISFIT;
            append_value(c.track[index], sizeof c.track[index], value, value_length, latin1);
            if (index + 1 > tracks)
                tracks = index + 1;
        }
    }
    if (!ended)
        return REPLY_MALFORMED;
    split_disc_title(dtitle, c);
    c.track_count = tracks;
    snprintf(c.format, sizeof c.format, "gnudb %.20s", where.category);
    clean_candidate(c);
    return code;
}
