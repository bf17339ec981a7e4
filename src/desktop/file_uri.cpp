// SPDX-License-Identifier: GPL-3.0-or-later
// The file:// URIs of the remote control (OpenUri's and mpris:artUrl's), apart
// from the bus so that the fuzz targets need no bus library.
#include "desktop/mpris.h"

#include "common/hex.h"

#include <strings.h>

#include <cstring>

bool mpris_uri_to_path(const char *uri, char *path, int size)
{
    static constexpr char SCHEME[] = "file://";
    if (strncasecmp(uri, SCHEME, sizeof SCHEME - 1) != 0)
        return false;
    const char *p = uri + sizeof SCHEME - 1;
    // Only this machine's files: an empty host or localhost.
    if (strncasecmp(p, "localhost/", 10) == 0)
        p += 9;
    if (*p != '/')
        return false;
    int n = 0;
    for (; *p != '\0'; p++) {
        char c = *p;
        if (c == '%') {
            int high = hex_digit_value(p[1]);
            int low = high < 0 ? -1 : hex_digit_value(p[2]);
            if (low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            if (c == '\0')
                return false;
            p += 2;
        } else if (c == '?' || c == '#') {
            break;
        }
        if (n + 1 >= size)
            return false;
        path[n++] = c;
    }
    path[n] = '\0';
    return true;
}

bool mpris_path_to_uri(const char *path, char *uri, int size)
{
    static constexpr char SCHEME[] = "file://";
    static constexpr char HEX[] = "0123456789ABCDEF";
    if (static_cast<int>(sizeof SCHEME) > size)
        return false;
    memcpy(uri, SCHEME, sizeof SCHEME);
    int n = static_cast<int>(sizeof SCHEME) - 1;
    for (const char *p = path; *p != '\0'; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     strchr("/-._~!$&'()*+,;=:@", c) != nullptr;
        int need = plain ? 1 : 3;
        if (n + need >= size)
            return false;
        if (plain) {
            uri[n++] = static_cast<char>(c);
        } else {
            uri[n++] = '%';
            uri[n++] = HEX[c >> 4];
            uri[n++] = HEX[c & 15];
        }
    }
    uri[n] = '\0';
    return true;
}
