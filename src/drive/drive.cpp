// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/drive.h"

#include "drive/digital/cdio_source.h"
#include "drive/digital/digital_backend.h"
#include "drive/sdl/sdl_backend.h"

#include <cstring>

// The drive layer is the main loop's alone.
static struct {
    // The backend drive_open chose; nullptr while none is open.
    const DriveBackend *open_backend;
    // A backend tests put in place of the choice by kind.
    const DriveBackend *installed_backend;
    const char *last_error = "no drive is open";
} drive;

void set_drive_backend(const DriveBackend *backend) { drive.installed_backend = backend; }

// The backend for a kind of target; the digital one joins here.
static const DriveBackend *backend_for(const DriveTarget &target)
{
    if (drive.installed_backend != nullptr)
        return drive.installed_backend;
    if (target.kind == TARGET_SDL_NUMBER)
        return &sdl_drive_backend;
    if (target.kind == TARGET_IMAGE || target.kind == TARGET_DEVICE ||
        target.kind == TARGET_DEFAULT_DEVICE)
        return &digital_drive_backend;
    return nullptr;
}

int drive_open(const DriveTarget &target)
{
    drive_close();
    const DriveBackend *backend = backend_for(target);
    if (backend == nullptr) {
        drive.last_error = "no backend plays this kind of target";
        return -1;
    }
    if (backend->open(target) != 0) {
        drive.last_error = backend->error();
        return -1;
    }
    drive.open_backend = backend;
    return 0;
}

int drive_open_default()
{
    DriveTarget sdl_drive{};
    sdl_drive.kind = TARGET_SDL_NUMBER;
    if (drive_open(sdl_drive) == 0 || !sdl_found_no_drives())
        return drive.open_backend ? 0 : -1;
    const char *sdl_reason = drive.last_error;
    // Looked up here, before the reader thread that owns libcdio exists.
    DriveTarget cd_drive{};
    cd_drive.kind = TARGET_DEFAULT_DEVICE;
    if (!find_default_cd_device(cd_drive.path, sizeof cd_drive.path)) {
        drive.last_error = sdl_reason;
        return -1;
    }
    return drive_open(cd_drive);
}

void drive_close()
{
    if (drive.open_backend == nullptr)
        return;
    drive.open_backend->close();
    drive.open_backend = nullptr;
}

// Keeps the backend's reason for the failure, or says that nothing was open.
static int result_of(int result)
{
    if (result != 0)
        drive.last_error =
            drive.open_backend != nullptr ? drive.open_backend->error() : "no drive is open";
    return result == 0 ? 0 : -1;
}

int drive_refresh(DriveStatus &status)
{
    if (drive.open_backend == nullptr) {
        memset(&status, 0, sizeof status);
        return result_of(-1);
    }
    int result = drive.open_backend->refresh(status);
    if (result != 0)
        memset(&status, 0, sizeof status);
    return result_of(result);
}

int drive_play(int32_t track, int32_t frame, PlaySpan span)
{
    return result_of(drive.open_backend ? drive.open_backend->play(track, frame, span) : -1);
}

int drive_pause() { return result_of(drive.open_backend ? drive.open_backend->pause() : -1); }

int drive_resume() { return result_of(drive.open_backend ? drive.open_backend->resume() : -1); }

int drive_stop() { return result_of(drive.open_backend ? drive.open_backend->stop() : -1); }

int drive_eject() { return result_of(drive.open_backend ? drive.open_backend->eject() : -1); }

int drive_get_volume(Volume &volume)
{
    return result_of(drive.open_backend ? drive.open_backend->get_volume(volume) : -1);
}

int drive_set_volume(const Volume &volume)
{
    return result_of(drive.open_backend ? drive.open_backend->set_volume(volume) : -1);
}

int drive_disc_text(DiscText &text)
{
    return result_of(drive.open_backend ? drive.open_backend->disc_text(text) : -1);
}

const char *drive_error() { return drive.last_error; }

const char *drive_notice()
{
    return drive.open_backend && drive.open_backend->notice ? drive.open_backend->notice()
                                                            : nullptr;
}

int drive_news_fd()
{
    return drive.open_backend && drive.open_backend->news_fd ? drive.open_backend->news_fd() : -1;
}

const char *drive_backend_name() { return drive.open_backend ? drive.open_backend->name : "none"; }
