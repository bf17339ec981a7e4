// SPDX-License-Identifier: GPL-3.0-or-later
#include "database/database.h"

#include "common/directory.h"
#include "database/disc_id.h"
#include "mivo_version.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// Real entries are a few kilobytes; one load reads no more than this, so a
// runaway file cannot hold up the player.
static constexpr off_t LOAD_LIMIT = 1 << 20;
static constexpr int READ_CHUNK = 4096;

// The longest keyword the loader tells lines apart by: "DTITLE=", "DGENRE=".
static constexpr int HEAD_SIZE = 7;

// A field line is broken once this many escaped value characters are on it.
static constexpr int WRAP_AFTER = 60;

// A save's temporary file still there after this many seconds was left by a
// save that never finished.
static constexpr time_t STALE_TEMPORARY_AGE = 60;

// What went wrong in the last failed load or save, for the user to read.
static char error_line[2 * DATABASE_PATH_SIZE];
static char conflict_note[128];

// How long a save waits for another program's save of the same directory.
static constexpr int LOCK_TRIES = 200;
static constexpr long LOCK_RETRY_NS = 10 * 1000 * 1000;

// Records a failure of the disc's file: the verb, the path (or, when the path
// did not fit, the home-relative name of the disc's file) and the reason.
static void set_error(const char *verb, uint64_t id, const char *reason)
{
    if (database_path[0] != '\0')
        snprintf(error_line, sizeof error_line, "could not %s %s: %s", verb, database_path, reason);
    else
        snprintf(error_line, sizeof error_line, "could not %s ~/.kel/%08" PRIx64 ": %s", verb, id,
                 reason);
}

namespace
{

// Where one line is in its reading: its first bytes, which tell the keyword,
// then an index after "TTITLE" or "EXTT", then the value, or a line to skip.
enum class LinePhase { HEAD, INDEX, VALUE, SKIP };

// The steps of reading an index the way strtoul with base 10 does.
enum class IndexStep { FIRST, SPACE, SIGN, DIGITS };

// The loader's state between bytes, so a line of any length is read whole
// from chunks of the file without ever being held in full.
struct LineReader {
    DiscDatabase *db;
    LinePhase phase;
    char head[HEAD_SIZE];
    int head_length;
    bool index_is_ext;
    IndexStep index_step;
    bool negative;
    unsigned long number;
    char *target;
    size_t target_length;
    bool escape;
    bool carriage_return; // a CR waiting to see whether a newline follows
};

} // namespace

// The white space strtoul skips before a number, in the C locale.
static bool is_strtoul_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Makes the field the target of the rest of the line, appending after the
// text it already holds.
static void start_value(LineReader &r, char *target)
{
    r.phase = LinePhase::VALUE;
    r.target = target;
    r.target_length = strnlen(target, TEXT_FIELD_SIZE - 1);
    r.escape = false;
}

// Takes one value byte: escapes are undone ("\t", "\n", any other character
// stands for itself) and the field is cut at TEXT_FIELD_SIZE - 1 bytes.
static void value_byte(LineReader &r, char c)
{
    if (r.escape) {
        r.escape = false;
        if (c == 't')
            c = '\t';
        else if (c == 'n')
            c = '\n';
    } else if (c == '\\') {
        r.escape = true;
        return;
    }
    if (r.target_length < TEXT_FIELD_SIZE - 1) {
        r.target[r.target_length++] = c;
        r.target[r.target_length] = '\0';
    }
}

// The field an index names once its "=" is reached: below MAX_DB_TRACKS, or
// "-0", which strtoul also reads as 0.
static void index_complete(LineReader &r)
{
    if (r.number >= static_cast<unsigned long>(MAX_DB_TRACKS) || (r.negative && r.number != 0)) {
        r.phase = LinePhase::SKIP;
        return;
    }
    TrackText &entry = r.db->entries[r.number];
    start_value(r, r.index_is_ext ? entry.ext : entry.title);
}

// Takes one byte after "TTITLE" or "EXTT". As with strtoul, blanks and one
// sign may precede the digits; without digits the index is 0 only when "="
// follows the keyword directly. Anything but "=" after the digits skips the
// line.
static void index_byte(LineReader &r, char c)
{
    bool digit = c >= '0' && c <= '9';
    switch (r.index_step) {
    case IndexStep::FIRST:
        if (c == '=') {
            index_complete(r);
            return;
        }
        [[fallthrough]];
    case IndexStep::SPACE:
        if (is_strtoul_space(c)) {
            r.index_step = IndexStep::SPACE;
            return;
        }
        if (c == '+' || c == '-') {
            r.negative = c == '-';
            r.index_step = IndexStep::SIGN;
            return;
        }
        [[fallthrough]];
    case IndexStep::SIGN:
        if (!digit) {
            r.phase = LinePhase::SKIP;
            return;
        }
        r.index_step = IndexStep::DIGITS;
        [[fallthrough]];
    case IndexStep::DIGITS:
        if (digit) {
            // Only whether the number is below MAX_DB_TRACKS matters, so it
            // stops growing past that and never overflows.
            if (r.number < static_cast<unsigned long>(MAX_DB_TRACKS))
                r.number = r.number * 10 + static_cast<unsigned long>(c - '0');
            return;
        }
        if (c == '=')
            index_complete(r);
        else
            r.phase = LinePhase::SKIP;
        return;
    }
}

static void line_byte(LineReader &r, char c);

// Tells the line's keyword from its first bytes, then hands the bytes after
// the keyword to the index or the value. A line shorter than HEAD_SIZE comes
// here at its end with what it has.
static void classify_line(LineReader &r)
{
    const char *head = r.head;
    int length = r.head_length;
    auto starts = [head, length](const char *keyword) {
        int size = static_cast<int>(strlen(keyword));
        return length >= size && memcmp(head, keyword, static_cast<size_t>(size)) == 0;
    };
    DiscDatabase &db = *r.db;
    int used = length;
    r.phase = LinePhase::SKIP;
    if (length > 0 && head[0] == '#') {
        return;
    } else if (starts("DTITLE=")) {
        start_value(r, db.entries[DISC_ENTRY].title);
        used = 7;
    } else if (starts("DYEAR=")) {
        start_value(r, db.year);
        used = 6;
    } else if (starts("DGENRE=")) {
        start_value(r, db.genre);
        used = 7;
    } else if (starts("EXTD=")) {
        start_value(r, db.entries[DISC_ENTRY].ext);
        used = 5;
    } else if (starts("TTITLE") || starts("EXTT")) {
        r.phase = LinePhase::INDEX;
        r.index_is_ext = head[0] == 'E';
        r.index_step = IndexStep::FIRST;
        r.negative = false;
        r.number = 0;
        used = r.index_is_ext ? 4 : 6;
    }
    for (int i = used; i < length; i++)
        line_byte(r, head[i]);
}

// Takes one byte of a line, its line end and NUL bytes already left out.
static void line_byte(LineReader &r, char c)
{
    switch (r.phase) {
    case LinePhase::HEAD:
        r.head[r.head_length++] = c;
        if (r.head_length == HEAD_SIZE)
            classify_line(r);
        return;
    case LinePhase::INDEX:
        index_byte(r, c);
        return;
    case LinePhase::VALUE:
        value_byte(r, c);
        return;
    case LinePhase::SKIP:
        return;
    }
}

// Ends the current line (a backslash left at its end is dropped) and makes
// ready for the next.
static void end_line(LineReader &r)
{
    if (r.phase == LinePhase::HEAD)
        classify_line(r);
    r.phase = LinePhase::HEAD;
    r.head_length = 0;
}

// Ends a line whose last byte was a CR. The CR belongs to the line end unless
// a value's backslash escapes it, which is how the saver keeps a CR that ends
// a text.
static void end_line_after_cr(LineReader &r)
{
    if (r.phase == LinePhase::HEAD)
        classify_line(r);
    if (r.phase == LinePhase::VALUE && r.escape)
        value_byte(r, '\r');
    end_line(r);
}

// Takes one byte of the file. NUL bytes are dropped, so the bytes around them
// join; a line ends at "\n", and a CR right before it belongs to the line end.
static void file_byte(LineReader &r, char c)
{
    if (c == '\0')
        return;
    if (r.carriage_return) {
        r.carriage_return = false;
        if (c == '\n') {
            end_line_after_cr(r);
            return;
        }
        line_byte(r, '\r');
    }
    if (c == '\r')
        r.carriage_return = true;
    else if (c == '\n')
        end_line(r);
    else
        line_byte(r, c);
}

// Empties the texts that belong to the disc of this table of contents.
static void clear_texts(DiscDatabase &db, const Toc &toc)
{
    db.entries[DISC_ENTRY].title[0] = '\0';
    db.entries[DISC_ENTRY].ext[0] = '\0';
    db.year[0] = '\0';
    db.genre[0] = '\0';
    int tracks = usable_track_count(toc);
    for (int i = 0; i < tracks; i++) {
        db.entries[i].title[0] = '\0';
        db.entries[i].ext[0] = '\0';
    }
}

// Marks the file as one a save must not replace and records why.
static int unreadable_file(DiscDatabase &db, uint64_t id, const char *reason)
{
    db.unreadable = 1;
    set_error("load", id, reason);
    return -1;
}

// Feeds an open regular file through the line reader, up to LOAD_LIMIT bytes.
// Returns 0, or an errno value when the file could not be read to its end.
static int read_lines(int fd, DiscDatabase &db)
{
    LineReader reader{};
    reader.db = &db;
    reader.phase = LinePhase::HEAD;
    char chunk[READ_CHUNK];
    off_t total = 0;
    int failure = 0;
    for (;;) {
        off_t room = LOAD_LIMIT - total + 1;
        ssize_t got = read(fd, chunk, room < READ_CHUNK ? static_cast<size_t>(room) : READ_CHUNK);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = errno;
            break;
        }
        if (got == 0)
            break;
        if (total + got > LOAD_LIMIT) {
            got = static_cast<ssize_t>(LOAD_LIMIT - total);
            failure = EFBIG;
        }
        total += got;
        for (ssize_t i = 0; i < got; i++)
            file_byte(reader, chunk[i]);
        if (failure != 0)
            break;
    }
    // The last line needs no newline; a CR that ends the file ends that line.
    if (reader.carriage_return)
        end_line_after_cr(reader);
    else
        end_line(reader);
    return failure;
}

static int load_texts(DiscDatabase &db, const Toc &toc);
static int read_open_file(int fd, DiscDatabase &db, uint64_t id);

// FNV-1a: a field's fingerprint, to tell whether it changed since the load.
static uint64_t text_hash(const char *text)
{
    uint64_t hash = 0xcbf29ce484222325u;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++)
        hash = (hash ^ *p) * 0x100000001b3u;
    return hash;
}

void remember_loaded_texts(DiscDatabase &db)
{
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        db.field_hash[e][0] = text_hash(db.entries[e].title);
        db.field_hash[e][1] = text_hash(db.entries[e].ext);
    }
    db.year_genre_hash[0] = text_hash(db.year);
    db.year_genre_hash[1] = text_hash(db.genre);
    db.loaded = 1;
}

// Replaces the disc's texts with those of its file; the entries beyond the
// disc's tracks are left alone since nothing shows or saves them.
int load_database(DiscDatabase &db, const Toc &toc)
{
    int result = load_texts(db, toc);
    remember_loaded_texts(db);
    return result;
}

// The load itself, without the record of what it loaded.
static int load_texts(DiscDatabase &db, const Toc &toc)
{
    uint64_t id = compute_disc_id(toc);
    db.unreadable = 0;
    db.short_name = 0;
    bool named = build_database_path(id) == 0;
    clear_texts(db, toc);
    if (!named)
        return unreadable_file(db, id, strerror(ENAMETOOLONG));

    // Without O_NONBLOCK a FIFO in place of the file would block the open.
    int fd = open(database_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENOENT && id > UINT32_MAX) {
        // freedb and the other xmcd tools name every entry with 8 digits.
        uint64_t short_id = id & UINT32_MAX;
        if (build_database_path(short_id) != 0)
            return unreadable_file(db, short_id, strerror(ENAMETOOLONG));
        fd = open(database_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 || errno != ENOENT) {
            db.short_name = 1;
            id = short_id;
        } else {
            build_database_path(id); // no file under either name: saves use the long one
            errno = ENOENT;
        }
    }
    if (fd < 0) {
        // No file yet for this disc is the ordinary case, not a failure.
        if (errno == ENOENT || errno == ENOTDIR)
            return -1;
        return unreadable_file(db, id, strerror(errno));
    }
    return read_open_file(fd, db, id);
}

// Reads the open file into db and closes it: 0, or -1 with db marked
// unreadable and the reason recorded.
static int read_open_file(int fd, DiscDatabase &db, uint64_t id)
{
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int failure = errno;
        close(fd);
        return unreadable_file(db, id, strerror(failure));
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return unreadable_file(db, id, "not a regular file");
    }
    int failure = read_lines(fd, db);
    close(fd);
    if (failure == EFBIG)
        return unreadable_file(db, id, "larger than 1 MiB, too large for a title file");
    if (failure != 0)
        return unreadable_file(db, id, strerror(failure));
    return 0;
}

// Appends formatted text; false, with the buffer marked, when it does not fit.
__attribute__((format(printf, 2, 3))) static bool put_format(TextBuffer &out, const char *format,
                                                             ...)
{
    va_list args;
    va_start(args, format);
    const size_t room = out.size - out.used;
    const int needed = vsnprintf(out.data + out.used, room, format, args);
    va_end(args);
    if (needed < 0 || static_cast<size_t>(needed) >= room) {
        out.overflowed = true;
        return false;
    }
    out.used += static_cast<size_t>(needed);
    return true;
}

// Appends length bytes of text; false, with the buffer marked, when they do not fit.
static bool put_text(TextBuffer &out, const char *text, size_t length)
{
    if (out.size - out.used < length) {
        out.overflowed = true;
        return false;
    }
    memcpy(out.data + out.used, text, length);
    out.used += length;
    return true;
}

// Writes the keyword and index that start every line of a field.
static bool write_field_start(TextBuffer &out, const char *keyword, int32_t index)
{
    if (index == -1)
        return put_format(out, "%s=", keyword);
    return put_format(out, "%s%d=", keyword, index);
}

// The bytes of the UTF-8 character text starts with: 2 to 4 for a lead byte
// followed by its continuation bytes, 1 for anything else (ASCII, or a byte
// of text that is not UTF-8, which is written as it stands).
static int character_length(const char *text)
{
    unsigned char lead = static_cast<unsigned char>(text[0]);
    int n = (lead & 0xe0) == 0xc0 ? 2 : (lead & 0xf0) == 0xe0 ? 3 : (lead & 0xf8) == 0xf0 ? 4 : 1;
    for (int i = 1; i < n; i++)
        if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80)
            return 1;
    return n;
}

// True when the multi-byte character at text would pass the longest line
// after count characters, and so starts the next line.
static bool breaks_before(const char *text, int count)
{
    int character = character_length(text);
    return character > 1 && count > 0 && count + character > WRAP_AFTER + 2;
}

// Breaks after 61 or 62 escaped characters so that no escape straddles two
// lines and no line is longer than 72 characters, and never inside a UTF-8
// character, so that each line is text on its own: a character that would
// pass 62 goes to the next line whole. A CR is escaped only where it would
// end a line, so files without such CRs are written as they always were.
int write_field(TextBuffer &out, const char *keyword, int32_t index, const char *text)
{
    if (!write_field_start(out, keyword, index))
        return -1;
    int count = 0;
    for (const char *p = text; *p != '\0'; p++) {
        int character = character_length(p);
        if (breaks_before(p, count)) {
            if (!put_text(out, "\n", 1) || !write_field_start(out, keyword, index))
                return -1;
            count = 0;
        }
        bool written;
        if (character > 1) {
            written = put_text(out, p, static_cast<size_t>(character));
            count += character;
            p += character - 1;
        } else if (*p == '\t') {
            written = put_text(out, "\\t", 2);
            count += 2;
        } else if (*p == '\n') {
            written = put_text(out, "\\n", 2);
            count += 2;
        } else if (*p == '\\') {
            written = put_text(out, "\\\\", 2);
            count += 2;
        } else if (*p == '\r' &&
                   (p[1] == '\0' || count + 1 > WRAP_AFTER || breaks_before(p + 1, count + 1))) {
            // A bare CR before the newline would read as part of the line end.
            written = put_text(out, "\\\r", 2);
            count += 2;
        } else {
            written = put_text(out, p, 1);
            count += 1;
        }
        if (!written)
            return -1;
        if (count > WRAP_AFTER) {
            if (!put_text(out, "\n", 1) || !write_field_start(out, keyword, index))
                return -1;
            count = 0;
        }
    }
    return put_text(out, "\n", 1) ? 0 : -1;
}

// Creates every directory on database_path, ending the path at each "/" in
// turn; the second character is the first looked at so that a leading "/"
// never names an empty directory.
static void make_parent_directories()
{
    if (database_path[0] == '\0')
        return;
    for (char *p = database_path + 1; *p != '\0'; p++) {
        if (*p != '/')
            continue;
        *p = '\0';
        mkdir(database_path, 0777);
        *p = '/';
    }
}

// Writes the whole file: the header with the table of contents, the DISCID
// line, the fields and the empty play order. False as soon as a write fails.
static bool write_entry(TextBuffer &out, const DiscDatabase &db, const Toc &toc, uint64_t id)
{
    int tracks = usable_track_count(toc);
    if (!put_format(out, "# xmcd CD Database Entry\n#\n# Track frame offsets:\n"))
        return false;
    for (int i = 0; i < tracks; i++) {
        if (!put_format(out, "# %u\n", static_cast<unsigned>(toc.track[i].offset)))
            return false;
    }
    if (!put_format(out, "#\n# Disc length: %i seconds\n",
                    disc_length_frames(toc) / FRAMES_PER_SECOND) ||
        !put_format(out, "# Submitted via: %s\n#\n", MIVO_NAME_VERSION) ||
        !put_format(out, "DISCID=%08" PRIx64 "\n", id))
        return false;

    const TrackText &disc = db.entries[DISC_ENTRY];
    if (write_field(out, "DTITLE", -1, disc.title) != 0)
        return false;
    // Files without a year or genre stay as they always were.
    if (db.year[0] != '\0' && write_field(out, "DYEAR", -1, db.year) != 0)
        return false;
    if (db.genre[0] != '\0' && write_field(out, "DGENRE", -1, db.genre) != 0)
        return false;
    for (int i = 0; i < tracks; i++) {
        if (write_field(out, "TTITLE", i, db.entries[i].title) != 0)
            return false;
    }
    if (write_field(out, "EXTD", -1, disc.ext) != 0)
        return false;
    for (int i = 0; i < tracks; i++) {
        if (write_field(out, "EXTT", i, db.entries[i].ext) != 0)
            return false;
    }
    return put_format(out, "PLAYORDER=\n");
}

// The permission bits for the new file: the read and write bits of the
// regular file it replaces, never execute, set-id or sticky bits a title file
// has no use for; otherwise what fopen would have given a new file under the
// file-creation mask (a device's bits would make it writable by everyone).
static mode_t new_file_mode()
{
    struct stat old_file;
    if (stat(database_path, &old_file) == 0 && S_ISREG(old_file.st_mode))
        return old_file.st_mode & 0666;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Opens the directory that holds database_path, for clearing leftovers and
// syncing the rename; -1 when it cannot be opened.
static int open_parent_directory()
{
    char *slash = strrchr(database_path, '/');
    if (slash == nullptr)
        return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (slash == database_path)
        return open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *slash = '\0';
    int fd = open(database_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *slash = '/';
    return fd;
}

// True for the name of one of this disc's save temporaries: the file name, a
// dot and the six letters or digits mkstemp puts in place of "XXXXXX".
static bool is_temporary_of(const char *name, const char *file_name, size_t file_name_length)
{
    if (strncmp(name, file_name, file_name_length) != 0 || name[file_name_length] != '.')
        return false;
    const char *suffix = name + file_name_length + 1;
    for (int i = 0; i < 6; i++) {
        char c = suffix[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return suffix[6] == '\0';
}

// Removes temporaries a save of this disc left when it never finished (mivo
// was killed or the machine went down). A minute is far longer than a save
// takes, so another instance's save in progress is never touched. Reads the
// directory with getdents64, since readdir's stream lives on the heap.
static void remove_stale_temporaries(int dir_fd)
{
    const char *slash = strrchr(database_path, '/');
    const char *file_name = slash != nullptr ? slash + 1 : database_path;
    size_t file_name_length = strlen(file_name);
    time_t now = time(nullptr);
    alignas(DIRECTORY_BUFFER_ALIGN) char entries[4096];
    DirectoryReader reader;
    directory_begin(reader, dir_fd, entries, sizeof entries);
    while (const char *name = directory_next(reader)) {
        if (!is_temporary_of(name, file_name, file_name_length))
            continue;
        struct stat info;
        if (fstatat(dir_fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            now - info.st_mtime > STALE_TEMPORARY_AGE)
            unlinkat(dir_fd, name, 0);
    }
}

// The longest entry: the header with a frame offset per track, and every
// field with each byte escaped to two, broken into lines that each repeat the
// keyword and index ("TTITLE98=" and the like, at most 16 bytes) and end in a
// newline. At most about 135 KB for 99 tracks.
static constexpr size_t MAX_HEADER_SIZE =
    256 + sizeof MIVO_NAME_VERSION + MAX_DB_TRACKS * sizeof "# 4294967295\n";
static constexpr size_t MAX_ESCAPED_FIELD = 2 * (TEXT_FIELD_SIZE - 1);
static constexpr size_t MAX_FIELD_SIZE =
    MAX_ESCAPED_FIELD + (MAX_ESCAPED_FIELD / WRAP_AFTER + 1) * (16 + 1);
// DTITLE, DYEAR, DGENRE and EXTD, and TTITLE and EXTT per track.
static constexpr size_t MAX_FIELDS = 4 + 2 * MAX_DB_TRACKS;
static constexpr size_t MAX_ENTRY_SIZE =
    MAX_HEADER_SIZE + MAX_FIELDS * MAX_FIELD_SIZE + sizeof "PLAYORDER=\n";

// Where a save formats the entry; only the main thread saves.
static char entry_text[140 * 1024];
static_assert(sizeof entry_text >= MAX_ENTRY_SIZE, "the longest entry must fit");

// Writes all of length bytes, going on after a short write or a signal; 0, or
// the errno value of the write that failed.
static int write_all(int fd, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}

// Writes the entry into the open temporary file and makes it durable; 0, or
// the errno value of the first step that failed. Closes fd in every case.
static int write_temporary(int fd, const DiscDatabase &db, const Toc &toc, uint64_t id)
{
    TextBuffer out{entry_text, sizeof entry_text, 0, false};
    int failure = 0;
    if (!write_entry(out, db, toc, id))
        failure = EOVERFLOW;
    if (failure == 0)
        failure = write_all(fd, out.data, out.used);
    if (failure == 0 && fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    return failure;
}

// Ends a save that did not replace the file: the temporary goes, dirty stays.
static int failed_save(const char *temp_path, uint64_t id, int failure)
{
    if (temp_path != nullptr)
        unlink(temp_path);
    set_error("save", id, strerror(failure));
    return -1;
}

// Writes the record into a temporary beside the file and renames it over the
// file only once it is on disk, so a full disk or a crash never leaves a short
// file. 0, or -1 with the error recorded.
static int replace_file(const DiscDatabase &texts, const Toc &toc, uint64_t id)
{
    char temp_path[DATABASE_PATH_SIZE];
    int needed = snprintf(temp_path, sizeof temp_path, "%s.XXXXXX", database_path);
    if (needed < 0 || needed >= static_cast<int>(sizeof temp_path))
        return failed_save(nullptr, id, ENAMETOOLONG);
    // Without the directory the save still goes on; only the clearing of
    // leftovers and the sync of the rename are missed.
    int dir_fd = open_parent_directory();
    if (dir_fd >= 0)
        remove_stale_temporaries(dir_fd);
    int fd = mkostemp(temp_path, O_CLOEXEC);
    if (fd < 0) {
        int failure = errno;
        if (dir_fd >= 0)
            close(dir_fd);
        return failed_save(nullptr, id, failure);
    }
    fchmod(fd, new_file_mode());

    int failure = write_temporary(fd, texts, toc, id);
    if (failure == 0 && rename(temp_path, database_path) != 0)
        failure = errno;
    else if (failure == 0)
        temp_path[0] = '\0';
    // The rename is durable only once the directory is; a file system that
    // cannot sync directories says EINVAL, which is no failure of the save.
    if (failure == 0 && dir_fd >= 0 && fsync(dir_fd) != 0 && errno != EINVAL)
        failure = errno;
    if (dir_fd >= 0)
        close(dir_fd);
    if (failure != 0)
        return failed_save(temp_path[0] != '\0' ? temp_path : nullptr, id, failure);
    return 0;
}

// Takes the lock every mivo's save of this directory takes: flock on the
// directory that holds the title files, so no lock file is left there. The
// descriptor to close to let it go; -1 when there is no lock to take (the
// directory cannot be opened, or its file system has no locks), which leaves
// the save as it was before locks; -2 when another program held it for two
// seconds.
static int lock_directory()
{
    int fd = open_parent_directory();
    if (fd < 0)
        return -1;
    for (int attempt = 0; attempt < LOCK_TRIES; attempt++) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(fd);
            return -1;
        }
        timespec pause = {0, LOCK_RETRY_NS};
        nanosleep(&pause, nullptr);
    }
    close(fd);
    return -2;
}

// The file as it is at the time of a save, read again under the lock.
static DiscDatabase on_disk;

// What a field of the file is called on the message line.
static void describe_field(char *out, size_t size, int entry, int kind)
{
    static const char *const kinds[] = {"title", "note"};
    if (kind == 2)
        snprintf(out, size, "The year");
    else if (kind == 3)
        snprintf(out, size, "The genre");
    else if (entry == DISC_ENTRY)
        snprintf(out, size, "The disc's %s", kinds[kind]);
    else
        snprintf(out, size, "Track %d's %s", entry + 1, kinds[kind]);
}

// Writes one field this copy edited over the file's: edited when it differs
// from what the load gave. Counts the edit, and the conflict when the file's
// text too changed since the load and differs from this copy's.
static void merge_field(const DiscDatabase &db, const char *mine, uint64_t loaded_hash,
                        char *theirs, int entry, int kind, int &edits)
{
    if (db.loaded && text_hash(mine) == loaded_hash)
        return;
    edits++;
    if (db.loaded && text_hash(theirs) != loaded_hash && strcmp(theirs, mine) != 0) {
        on_disk.conflicts++;
        if (on_disk.conflicts == 1)
            describe_field(conflict_note, sizeof conflict_note, entry, kind);
    }
    memcpy(theirs, mine, strlen(mine) + 1);
}

// Applies this copy's edits to on_disk; the number of fields edited.
static int merge_edits(const DiscDatabase &db, int tracks)
{
    int edits = 0;
    on_disk.conflicts = 0;
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        if (e >= tracks && e != DISC_ENTRY)
            continue;
        merge_field(db, db.entries[e].title, db.field_hash[e][0], on_disk.entries[e].title, e, 0,
                    edits);
        merge_field(db, db.entries[e].ext, db.field_hash[e][1], on_disk.entries[e].ext, e, 1,
                    edits);
    }
    merge_field(db, db.year, db.year_genre_hash[0], on_disk.year, DISC_ENTRY, 2, edits);
    merge_field(db, db.genre, db.year_genre_hash[1], on_disk.genre, DISC_ENTRY, 3, edits);
    return edits;
}

// True when a text of the file differs from what the load gave.
static bool file_changed_since_load(const DiscDatabase &db, int tracks)
{
    if (!db.loaded)
        return true;
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        if (e >= tracks && e != DISC_ENTRY)
            continue;
        if (text_hash(on_disk.entries[e].title) != db.field_hash[e][0] ||
            text_hash(on_disk.entries[e].ext) != db.field_hash[e][1])
            return true;
    }
    return text_hash(on_disk.year) != db.year_genre_hash[0] ||
           text_hash(on_disk.genre) != db.year_genre_hash[1];
}

// The disc's texts of on_disk become db's.
static void take_merged_texts(DiscDatabase &db, int tracks)
{
    for (int e = 0; e < tracks; e++)
        db.entries[e] = on_disk.entries[e];
    db.entries[DISC_ENTRY] = on_disk.entries[DISC_ENTRY];
    memcpy(db.year, on_disk.year, sizeof db.year);
    memcpy(db.genre, on_disk.genre, sizeof db.genre);
}

// The save under the lock: the file read again, this copy's edits over it.
static int save_locked(DiscDatabase &db, const Toc &toc, uint64_t id)
{
    int tracks = usable_track_count(toc);
    int fd = open(database_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
        return failed_save(nullptr, id, errno);
    struct stat info;
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        // No title file there to merge with (a device, a directory): what is
        // at the path is replaced, or the rename says why it cannot be.
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        // No file: every text is written, as for a first save.
        db.conflicts = 0;
        if (replace_file(db, toc, id) != 0)
            return -1;
        remember_loaded_texts(db);
        db.dirty = 0;
        return 0;
    }
    clear_database(on_disk);
    if (read_open_file(fd, on_disk, id) != 0) {
        set_error("save", id, "the file there could not be read, so it is left as it is");
        return -1;
    }
    bool changed = file_changed_since_load(db, tracks);
    int edits = merge_edits(db, tracks);
    // Nothing edited here but changed there: the file stays as the other
    // program left it. Otherwise it is written in full, as ever.
    if ((edits > 0 || !changed) && replace_file(on_disk, toc, id) != 0)
        return -1;
    db.conflicts = on_disk.conflicts;
    take_merged_texts(db, tracks);
    remember_loaded_texts(db);
    db.dirty = 0;
    return 0;
}

int save_database(DiscDatabase &db, const Toc &toc)
{
    conflict_note[0] = '\0';
    uint64_t id = compute_disc_id(toc);
    if (db.short_name)
        id &= UINT32_MAX;
    if (build_database_path(id) != 0)
        return failed_save(nullptr, id, ENAMETOOLONG);
    if (db.unreadable) {
        set_error("save", id, "the file there could not be read, so it is left as it is");
        return -1;
    }
    make_parent_directories();
    int lock = lock_directory();
    if (lock == -2) {
        set_error("save", id, "another program holds the title files' lock");
        return -1;
    }
    int result = save_locked(db, toc, id);
    if (lock >= 0)
        close(lock);
    if (result == 0 && db.conflicts > 1)
        snprintf(conflict_note, sizeof conflict_note,
                 "%d texts were also changed elsewhere since they were loaded; this copy's were "
                 "saved.",
                 static_cast<int>(db.conflicts));
    else if (result == 0 && db.conflicts == 1)
        snprintf(conflict_note + strlen(conflict_note), sizeof conflict_note - strlen(conflict_note),
                 " was also changed elsewhere since it was loaded; this copy's was saved.");
    else
        conflict_note[0] = '\0';
    return result;
}

const char *database_conflict_note() { return conflict_note; }

bool database_is_empty(const DiscDatabase &db, const Toc &toc)
{
    if (db.year[0] != '\0' || db.genre[0] != '\0')
        return false;
    // Entries past the disc's tracks may hold a longer disc's texts.
    int tracks = usable_track_count(toc);
    for (int e = 0; e < DB_ENTRY_COUNT; e++) {
        const TrackText &entry = db.entries[e];
        if ((e < tracks || e == DISC_ENTRY) && (entry.title[0] != '\0' || entry.ext[0] != '\0'))
            return false;
    }
    return true;
}

// Nothing of the previous disc may stay behind, or a later save would write
// it under another disc's name.
void clear_database(DiscDatabase &db)
{
    memset(db.entries, 0, sizeof db.entries);
    db.year[0] = '\0';
    db.genre[0] = '\0';
    db.unreadable = 0;
    db.short_name = 0;
    db.loaded = 0;
}

// The last failure's line, kept until the next one replaces it.
const char *database_error() { return error_line; }
