// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/sheet_files.h"

#include "common/directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace
{

constexpr size_t PATH_SIZE = 4096;

bool is_regular(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Copies text into out; false when it does not fit.
bool copy_path(char *out, size_t size, const char *text)
{
    size_t length = strlen(text);
    if (length >= size)
        return false;
    memcpy(out, text, length + 1);
    return true;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal but for the case of ASCII letters; other bytes (UTF-8 among them)
// must match exactly.
bool same_in_any_case(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

// How well a folder's entry answers for the wanted name: 0 exactly, 1 in
// another case, 2 + k the same stem with extension k; -1 not at all.
int rank_entry(const char *entry, const char *name, size_t name_length, bool extensions)
{
    size_t entry_length = strlen(entry);
    if (entry_length == name_length && memcmp(entry, name, name_length) == 0)
        return 0;
    if (entry_length == name_length && same_in_any_case(entry, name, name_length))
        return 1;
    if (!extensions)
        return -1;
    size_t stem = name_length;
    while (stem > 0 && name[stem - 1] != '.')
        stem--;
    stem = stem > 1 ? stem - 1 : name_length;
    if (entry_length <= stem || !same_in_any_case(entry, name, stem))
        return -1;
    int k = 0;
    for (const char *extension : SHEET_AUDIO_EXTENSIONS) {
        size_t length = strlen(extension);
        if (entry_length == stem + length && same_in_any_case(entry + stem, extension, length))
            return 2 + k;
        k++;
    }
    return -1;
}

// Looks through folder ("" for the current one) for the best entry answering
// for name: a folder when want_folder, else a regular file. Writes its name
// to found; false when there is none.
bool scan_folder(const char *folder, const char *name, size_t name_length, bool want_folder,
                 char *found, size_t found_size)
{
    alignas(DIRECTORY_BUFFER_ALIGN) static char buffer[32768];
    int fd = open(folder[0] != '\0' ? folder : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int best = -1;
    DirectoryReader reader;
    directory_begin(reader, fd, buffer, sizeof buffer);
    // Nothing ranks above an exact name, so the search ends at one.
    while (best != 0) {
        const char *entry = directory_next(reader);
        if (entry == nullptr)
            break;
        int rank = rank_entry(entry, name, name_length, !want_folder);
        if (rank < 0 || (best >= 0 && rank >= best))
            continue;
        struct stat st;
        if (fstatat(fd, entry, &st, 0) != 0 ||
            (want_folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)))
            continue;
        if (!copy_path(found, found_size, entry))
            continue;
        best = rank;
    }
    close(fd);
    return best >= 0;
}

// Walks the name part by part from the sheet's folder, matching each in any
// case and the last also by its stem.
bool search(const char *path, int32_t folder_length, char *out, size_t out_size)
{
    char reached[PATH_SIZE];
    const char *name = path + folder_length;
    size_t used = 0;
    if (folder_length > 0) {
        if (static_cast<size_t>(folder_length) >= sizeof reached)
            return false;
        memcpy(reached, path, static_cast<size_t>(folder_length));
        used = static_cast<size_t>(folder_length);
    } else if (name[0] == '/') {
        reached[used++] = '/';
    }
    reached[used] = '\0';
    while (*name != '\0') {
        while (*name == '/')
            name++;
        size_t length = strcspn(name, "/");
        bool last = name[length] == '\0' || name[length + strspn(name + length, "/")] == '\0';
        if (length == 0)
            break;
        if (length == 1 && name[0] == '.') {
            name += length;
            continue;
        }
        if (length == 2 && name[0] == '.' && name[1] == '.')
            return false;
        char found[256];
        if (!scan_folder(reached, name, length, !last, found, sizeof found))
            return false;
        size_t found_length = strlen(found);
        if (used + found_length + 2 > sizeof reached)
            return false;
        memcpy(reached + used, found, found_length);
        used += found_length;
        if (!last)
            reached[used++] = '/';
        reached[used] = '\0';
        name += length;
        if (last)
            return copy_path(out, out_size, reached);
    }
    return false;
}

// The path with the name part's backslashes read as slashes; false when
// there were none or it does not fit.
bool with_slashes(const char *path, int32_t folder_length, char *out, size_t size)
{
    if (!copy_path(out, size, path))
        return false;
    bool any = false;
    for (char *c = out + folder_length; *c; c++)
        if (*c == '\\')
            *c = '/', any = true;
    return any;
}

} // namespace

int find_sheet_file(const char *written, int32_t folder_length, const char *decoded, char *out,
                    size_t out_size)
{
    const char *variants[] = {written, decoded};
    char slashed[PATH_SIZE];
    for (const char *path : variants) {
        if (path == nullptr)
            continue;
        if (is_regular(path))
            return copy_path(out, out_size, path) ? 0 : -1;
        if (with_slashes(path, folder_length, slashed, sizeof slashed) && is_regular(slashed))
            return copy_path(out, out_size, slashed) ? 0 : -1;
    }
    for (const char *path : variants) {
        if (path == nullptr)
            continue;
        if (!copy_path(slashed, sizeof slashed, path))
            continue;
        with_slashes(path, folder_length, slashed, sizeof slashed);
        if (search(slashed, folder_length, out, out_size))
            return 0;
    }
    return -1;
}
