// SPDX-License-Identifier: GPL-3.0-or-later
// The drive's output volume: the CD-ROM driver's volume requests, sent to the
// descriptor of the open drive, behind a record of functions tests can replace.
#pragma once

#include "drive/drive.h"

// The raw requests. is_drive tells whether the descriptor is a CD-ROM drive at
// all; read and write return 0 on success and -1 on failure.
struct VolumeRequests {
    bool (*is_drive)(int fd);
    int (*read)(int fd, Volume &volume);
    int (*write)(int fd, const Volume &volume);
};

// Whether fd is an open CD-ROM drive, asked without disturbing whatever it is.
bool is_cdrom_descriptor(int fd);

// This platform's requests; on a platform without them every read fails.
extern const VolumeRequests platform_volume_requests;

// Sends the requests through another record from now on; nullptr puts the
// platform's back. The record must outlive its use.
void set_volume_requests(const VolumeRequests *requests);

// Reads the volume of the drive open on fd; -1, without any request sent to
// fd, when fd is not a drive, and -1 when the drive refuses the read.
int read_drive_volume(int fd, Volume &volume);

// Writes the volume of the drive open on fd; -1 when fd is not a drive or the
// drive refuses.
int write_drive_volume(int fd, const Volume &volume);
