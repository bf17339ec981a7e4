// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/sdl/sdl_volume.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/cdrom.h>
#elif defined(__FreeBSD__) || defined(__DragonFly__) || defined(__NetBSD__) ||                     \
    defined(__OpenBSD__) || defined(__APPLE__)
#include <sys/cdio.h>
#endif

#if defined(CDIOCGETVOL) && defined(CDIOCSETVOL)

// The BSD drivers have no harmless "are you a CD-ROM" request. A drive there
// is a character or block device and never a terminal; anything else that
// passes this test answers the volume read with an error, which skips the step.
bool is_cdrom_descriptor(int fd)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return false;
    if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        return false;
    return !isatty(fd);
}

static int platform_read(int fd, Volume &volume)
{
    struct ioc_vol v = {};
    if (ioctl(fd, CDIOCGETVOL, &v) == -1)
        return -1;
    for (int i = 0; i < 4; i++)
        volume.channel[i] = v.vol[i];
    return 0;
}

static int platform_write(int fd, const Volume &volume)
{
    struct ioc_vol v = {};
    for (int i = 0; i < 4; i++)
        v.vol[i] = volume.channel[i];
    return ioctl(fd, CDIOCSETVOL, &v) == -1 ? -1 : 0;
}

#elif defined(__linux__)

// Linux drives are block devices, which rules out terminals, pipes, sockets and
// files without sending them anything. Among block devices the capability
// query is the cdrom layer's own and only reads a mask: a disk or loop device
// merely answers it with an error, so it tells the drives apart safely.
bool is_cdrom_descriptor(int fd)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    return ioctl(fd, CDROM_GET_CAPABILITY, 0) >= 0;
}

static int platform_read(int fd, Volume &volume)
{
    struct cdrom_volctrl v = {};
    if (ioctl(fd, CDROMVOLREAD, &v) == -1)
        return -1;
    volume.channel[0] = v.channel0;
    volume.channel[1] = v.channel1;
    volume.channel[2] = v.channel2;
    volume.channel[3] = v.channel3;
    return 0;
}

static int platform_write(int fd, const Volume &volume)
{
    struct cdrom_volctrl v = {};
    v.channel0 = volume.channel[0];
    v.channel1 = volume.channel[1];
    v.channel2 = volume.channel[2];
    v.channel3 = volume.channel[3];
    return ioctl(fd, CDROMVOLCTRL, &v) == -1 ? -1 : 0;
}

#else

// Without the driver's requests no descriptor counts as a drive.
bool is_cdrom_descriptor(int) { return false; }

static int platform_read(int, Volume &) { return -1; }

static int platform_write(int, const Volume &) { return -1; }

#endif

const VolumeRequests platform_volume_requests = {is_cdrom_descriptor, platform_read,
                                                 platform_write};

static const VolumeRequests *requests = &platform_volume_requests;

void set_volume_requests(const VolumeRequests *replacement)
{
    requests = replacement ? replacement : &platform_volume_requests;
}

int read_drive_volume(int fd, Volume &volume)
{
    if (!requests->is_drive(fd))
        return -1;
    return requests->read(fd, volume) == 0 ? 0 : -1;
}

int write_drive_volume(int fd, const Volume &volume)
{
    if (!requests->is_drive(fd))
        return -1;
    return requests->write(fd, volume) == 0 ? 0 : -1;
}
