// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/command.h"

#include <cstring>

// The application's table, as set_commands was handed it.
static struct {
    const Command *table;
    int count;
} registry;

void set_commands(const Command *table, int count)
{
    registry.table = table;
    registry.count = table != nullptr ? count : 0;
}

const Command *commands() { return registry.table; }

int command_count() { return registry.count; }

const Command *find_command(CommandId id)
{
    for (int i = 0; i < registry.count; i++)
        if (registry.table[i].id == id)
            return &registry.table[i];
    return nullptr;
}

const Command *find_command_named(const char *name)
{
    if (name == nullptr)
        return nullptr;
    for (int i = 0; i < registry.count; i++)
        if (strcmp(registry.table[i].name, name) == 0)
            return &registry.table[i];
    return nullptr;
}

const Command *command_for_key(CommandPlace place, int key)
{
    if (key == 0)
        return nullptr;
    for (int i = 0; i < registry.count; i++) {
        const Command &c = registry.table[i];
        if (c.place != place)
            continue;
        for (int k = 0; k < COMMAND_KEYS && c.keys[k] != 0; k++)
            if (c.keys[k] == key)
                return &c;
    }
    return nullptr;
}

bool command_applies(const Command &command, const DriveStatus &drive)
{
    switch (command.need) {
    case NEED_DISC:
        return drive.state == DRIVE_STOPPED || drive.state == DRIVE_PLAYING ||
               drive.state == DRIVE_PAUSED;
    case NEED_NOT_EMPTY:
        return drive.state != DRIVE_NO_DISC || drive.tray_open;
    case NEED_NOTHING:
        break;
    }
    return true;
}
