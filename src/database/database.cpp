#include "database/database.h"

#include "database/disc_id.h"
#include "mivo_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// One read takes at most LINE_LIMIT - 1 characters; files written by other
// programs may hold longer lines, which then arrive in pieces.
static constexpr int LINE_BUFFER_SIZE = 256;
static constexpr int LINE_LIMIT = 255;

// A field line is broken once this many escaped value characters are on it.
static constexpr int WRAP_AFTER = 60;

// Appends one line's value to a field, undoing the escapes and cutting the
// field at TEXT_FIELD_SIZE - 1 bytes.
static void append_value(char *target, const char *value)
{
    size_t length = strnlen(target, TEXT_FIELD_SIZE - 1);
    while (length < TEXT_FIELD_SIZE - 1 && *value != '\0') {
        char c = *value++;
        if (c == '\\') {
            c = *value++;
            if (c == '\0')
                break;
            if (c == 't')
                c = '\t';
            else if (c == 'n')
                c = '\n';
        }
        target[length++] = c;
    }
    target[length] = '\0';
}

// The field of a "TTITLE" or "EXTT" line: the index must follow the keyword
// directly (as strtoul reads it), be below MAX_DB_TRACKS and be followed by "=".
// Returns the value, or null for a line to ignore; *index receives the entry.
static const char *indexed_value(const char *after_keyword, int *index)
{
    char *end = nullptr;
    unsigned long n = strtoul(after_keyword, &end, 10);
    if (*end != '=' || n >= static_cast<unsigned long>(MAX_DB_TRACKS))
        return nullptr;
    *index = static_cast<int>(n);
    return end + 1;
}

// Hands one line, its newline already dropped, to the field it names.
static void read_line(DiscDatabase &db, const char *line)
{
    int index = 0;
    const char *value = nullptr;
    if (line[0] == '#')
        return;
    if (strncmp(line, "DTITLE=", 7) == 0) {
        append_value(db.entries[DISC_ENTRY].title, line + 7);
    } else if (strncmp(line, "EXTD=", 5) == 0) {
        append_value(db.entries[DISC_ENTRY].ext, line + 5);
    } else if (strncmp(line, "TTITLE", 6) == 0) {
        if ((value = indexed_value(line + 6, &index)) != nullptr)
            append_value(db.entries[index].title, value);
    } else if (strncmp(line, "EXTT", 4) == 0) {
        if ((value = indexed_value(line + 4, &index)) != nullptr)
            append_value(db.entries[index].ext, value);
    }
}

// Replaces the disc's texts with those of its file; the entries beyond the
// disc's tracks are left alone since nothing shows or saves them.
int load_database(PlayerState &state, const Toc &toc)
{
    DiscDatabase &db = state.db;
    build_database_path(compute_disc_id(toc));
    db.entries[DISC_ENTRY].title[0] = '\0';
    db.entries[DISC_ENTRY].ext[0] = '\0';
    int tracks = usable_track_count(toc);
    for (int i = 0; i < tracks; i++) {
        db.entries[i].title[0] = '\0';
        db.entries[i].ext[0] = '\0';
    }

    FILE *file = fopen(database_path, "r");
    if (file == nullptr)
        return -1;
    char line[LINE_BUFFER_SIZE];
    while (fgets(line, LINE_LIMIT, file) != nullptr) {
        size_t length = strlen(line);
        if (length > 0)
            line[length - 1] = '\0';
        read_line(db, line);
    }
    fclose(file);
    return 0;
}

// Writes the keyword and index that start every line of a field.
static bool write_field_start(FILE *file, const char *keyword, int32_t index)
{
    if (index == -1)
        return fprintf(file, "%s=", keyword) >= 0;
    return fprintf(file, "%s%d=", keyword, index) >= 0;
}

// Breaks after 61 or 62 escaped characters so that no escape straddles two
// lines and no line is longer than 72 characters.
int write_field(FILE *file, const char *keyword, int32_t index, const char *text)
{
    if (!write_field_start(file, keyword, index))
        return -1;
    int count = 0;
    for (const char *p = text; *p != '\0'; p++) {
        int written;
        if (*p == '\t') {
            written = fputs("\\t", file);
            count += 2;
        } else if (*p == '\n') {
            written = fputs("\\n", file);
            count += 2;
        } else if (*p == '\\') {
            written = fputs("\\\\", file);
            count += 2;
        } else {
            written = fputc(static_cast<unsigned char>(*p), file);
            count += 1;
        }
        if (written == EOF)
            return -1;
        if (count > WRAP_AFTER) {
            if (fputc('\n', file) == EOF || !write_field_start(file, keyword, index))
                return -1;
            count = 0;
        }
    }
    return fputc('\n', file) == EOF ? -1 : 0;
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
static bool write_entry(FILE *file, const DiscDatabase &db, const Toc &toc, uint64_t id)
{
    int tracks = usable_track_count(toc);
    if (fputs("# xmcd CD Database Entry\n#\n# Track frame offsets:\n", file) == EOF)
        return false;
    for (int i = 0; i < tracks; i++) {
        if (fprintf(file, "# %u\n", static_cast<unsigned>(toc.track[i].offset)) < 0)
            return false;
    }
    if (fprintf(file, "#\n# Disc length: %i seconds\n",
                disc_length_frames(toc) / FRAMES_PER_SECOND) < 0 ||
        fprintf(file, "# Submitted via: %s\n#\n", MIVO_NAME_VERSION) < 0 ||
        fprintf(file, "DISCID=%08" PRIx64 "\n", id) < 0)
        return false;

    const TrackText &disc = db.entries[DISC_ENTRY];
    if (write_field(file, "DTITLE", -1, disc.title) != 0)
        return false;
    for (int i = 0; i < tracks; i++) {
        if (write_field(file, "TTITLE", i, db.entries[i].title) != 0)
            return false;
    }
    if (write_field(file, "EXTD", -1, disc.ext) != 0)
        return false;
    for (int i = 0; i < tracks; i++) {
        if (write_field(file, "EXTT", i, db.entries[i].ext) != 0)
            return false;
    }
    return fputs("PLAYORDER=\n", file) != EOF;
}

// The permission bits for the new file: those of the file it replaces, or
// what fopen would have given a new file under the current file-creation mask.
static mode_t new_file_mode()
{
    struct stat old_file;
    if (stat(database_path, &old_file) == 0)
        return old_file.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Writes the new contents beside the old file and renames them over it only
// once they are on disk, so a full disk or a crash never leaves a short file.
int save_database(DiscDatabase &db, const Toc &toc)
{
    uint64_t id = compute_disc_id(toc);
    build_database_path(id);
    make_parent_directories();

    char temp_path[DATABASE_PATH_SIZE];
    int needed = snprintf(temp_path, sizeof temp_path, "%s.XXXXXX", database_path);
    if (needed < 0 || needed >= static_cast<int>(sizeof temp_path))
        return -1;
    int fd = mkstemp(temp_path);
    if (fd < 0)
        return -1;
    fchmod(fd, new_file_mode());
    FILE *file = fdopen(fd, "w");
    if (file == nullptr) {
        close(fd);
        unlink(temp_path);
        return -1;
    }

    bool written = write_entry(file, db, toc, id) && fflush(file) == 0 && fsync(fd) == 0;
    if (fclose(file) != 0)
        written = false;
    if (!written || rename(temp_path, database_path) != 0) {
        unlink(temp_path);
        return -1;
    }
    db.dirty = 0;
    return 0;
}
