// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/screen.h"

#include <curses.h>

static struct {
    const Screen *open[MAX_OPEN_SCREENS];
    int count;
} stack;

static int index_of(const Screen &screen)
{
    for (int i = 0; i < stack.count; i++)
        if (stack.open[i] == &screen)
            return i;
    return -1;
}

bool open_screen(const Screen &screen)
{
    if (index_of(screen) >= 0 || stack.count == MAX_OPEN_SCREENS)
        return false;
    stack.open[stack.count++] = &screen;
    return true;
}

void close_screen(const Screen &screen)
{
    const int at = index_of(screen);
    if (at >= 0)
        stack.count = at;
}

void leave_all_screens()
{
    while (stack.count > 0) {
        const Screen *screen = stack.open[stack.count - 1];
        stack.count--;
        if (screen->leave != nullptr)
            screen->leave();
    }
}

bool screen_is_open(const Screen &screen) { return index_of(screen) >= 0; }

int screen_count() { return stack.count; }

const Screen *top_screen() { return stack.count > 0 ? stack.open[stack.count - 1] : nullptr; }

bool screens_hold_drive()
{
    for (int i = 0; i < stack.count; i++)
        if (stack.open[i]->flags & SCREEN_HOLDS_DRIVE)
            return true;
    return false;
}

void draw_screens()
{
    int first = 0;
    for (int i = stack.count - 1; i >= 0; i--)
        if (stack.open[i]->flags & SCREEN_OPAQUE) {
            first = i;
            break;
        }
    for (int i = first; i < stack.count; i++)
        stack.open[i]->draw();
}

void screens_key(int key)
{
    const Screen *top = top_screen();
    if (key != ERR && top != nullptr)
        top->key(key);
}
