// SPDX-License-Identifier: GPL-3.0-or-later
// Hexadecimal digits as outside text writes them: a URI's percent escapes, a
// JSON string's \u escapes.
#pragma once

// The value of one hexadecimal digit of either case, or -1 for anything else.
constexpr int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
