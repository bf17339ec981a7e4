// SPDX-License-Identifier: GPL-3.0-or-later
// Disc identity: the disc id and length computed from a drive's table of
// contents, and the path of the disc's file under ~/.kel.
#pragma once

#include "drive/drive.h"

#include <cinttypes>
#include <cstdint>

inline constexpr int DATABASE_PATH_SIZE = 1024;

// Path of the file of the disc id last passed to build_database_path.
extern char database_path[DATABASE_PATH_SIZE];

// The number of tracks the table and the disc's texts have entries for: the
// count held within 0 and 99, so a table from anywhere can never index past.
int usable_track_count(const Toc &toc);

// Sum of the tracks' lengths in frames, lead-out excluded; 0 without tracks.
int32_t disc_length_frames(const Toc &toc);

// The xmcd disc id, formed in 32 bits and widened with sign extension.
uint64_t compute_disc_id(const Toc &toc);

// Fills database_path with "$HOME/.kel/<id>" and returns 0. A path longer than
// DATABASE_PATH_SIZE - 2 characters leaves database_path empty and returns -1;
// exits with status 1 when no home directory can be found.
int build_database_path(uint64_t disc_id);
