// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/drive_target.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

DriveTarget current_drive_target;

int drive_target_for(const char *argument, DriveTarget &target)
{
    memset(&target, 0, sizeof target);
    target.kind = TARGET_SDL_NUMBER;
    if (argument == nullptr)
        return 0;
    char *end = nullptr;
    long number = strtol(argument, &end, 0);
    target.number = static_cast<int32_t>(number);
    if (end != argument && *end == '\0')
        return 0;
    struct stat st {
    };
    if (stat(argument, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
        return 0;
    if (strlen(argument) >= sizeof target.path)
        return -1;
    target.kind = S_ISBLK(st.st_mode) ? TARGET_DEVICE : TARGET_IMAGE;
    target.number = 0;
    snprintf(target.path, sizeof target.path, "%s", argument);
    return 0;
}
