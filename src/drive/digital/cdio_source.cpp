// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/cdio_source.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <cdio/memory.h>
#include <cdio/mmc.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace
{

constexpr int MESSAGE_SIZE = 256;
// Few retries: a badly scratched sector is given up after these rather than
// holding playback for minutes; the ring covers what the retries take.
// Paranoia weighs giving up only on every fifth retry, so the count must be a
// multiple of five: with 3 it would retry until its overlap grew to the limit.
constexpr int READ_RETRIES = 5;
// Between an Enhanced CD's audio session and its data session lie the first
// session's lead-out and the second's lead-in and pregap, none of it audio.
constexpr uint32_t SESSION_GAP_FRAMES = 11400;
constexpr uint32_t NO_FRAME = UINT32_MAX;
constexpr int ERROR_SIZE = DRIVE_PATH_SIZE + 2 * MESSAGE_SIZE;

struct CdioSourceState {
    CdIo_t *cdio;
    cdrom_drive_t *drive; // paranoia's view of cdio
    cdrom_paranoia_t *paranoia;
    char path[DRIVE_PATH_SIZE];
    bool image;          // a BIN/CUE sheet opened as a drive
    bool ejected;        // an image "ejected": no disc until it is opened again
    bool present;        // path existed at the last look
    Toc toc;             // the disc last loaded
    uint32_t next_frame; // where paranoia will read next without a seek
    int32_t skipped;
    char error[ERROR_SIZE];
    // Written by libcdio's and paranoia's callbacks, which run on the thread
    // that made the libcdio call: the one thread that owns this source.
    char log_message[MESSAGE_SIZE];
};

// Owned by the thread that calls the source: the digital backend's reader.
CdioSourceState state;

// Copies at most size-1 bytes of text and always terminates it.
void copy_text(char *dst, int size, const char *src)
{
    snprintf(dst, static_cast<size_t>(size), "%s", src ? src : "");
}

// Keeps the last line of a message, without its line break.
void keep_message(const char *message)
{
    if (!message || !*message)
        return;
    const char *end = message + strlen(message);
    while (end > message && (end[-1] == '\n' || end[-1] == '\r'))
        --end;
    const char *start = end;
    while (start > message && start[-1] != '\n')
        --start;
    if (end == start)
        return;
    snprintf(state.log_message, sizeof state.log_message, "%.*s", static_cast<int>(end - start),
             start);
}

// libcdio's log handler: stores warnings and errors, never prints or exits.
void store_cdio_log(cdio_log_level_t level, const char message[])
{
    if (level >= CDIO_LOG_WARN)
        keep_message(message);
}

// Takes paranoia's queued messages and errors into log_message and frees them.
void collect_paranoia_messages()
{
    if (!state.drive)
        return;
    char *messages = cdio_cddap_messages(state.drive);
    if (messages) {
        keep_message(messages);
        cdio_cddap_free_messages(messages);
    }
    char *errors = cdio_cddap_errors(state.drive);
    if (errors) {
        keep_message(errors);
        cdio_cddap_free_messages(errors);
    }
}

// Paranoia's report on each read: counts the frames it gave up on.
void paranoia_event(long, paranoia_cb_mode_t mode)
{
    if (mode == PARANOIA_CB_SKIP)
        ++state.skipped;
    else if (mode == PARANOIA_CB_READERR)
        copy_text(state.log_message, MESSAGE_SIZE, "read error");
}

// Sets error() to the reason, with libcdio's last word on it when there is one.
void set_error(const char *what)
{
    if (state.log_message[0])
        snprintf(state.error, sizeof state.error, "%s: %s (%s)", state.path, what,
                 state.log_message);
    else
        snprintf(state.error, sizeof state.error, "%s: %s", state.path, what);
}

// True when the device node or sheet is there at all.
bool path_exists(const char *path) { return access(path, F_OK) == 0; }

// False only for a device that answers but is no CD drive: CDROM_GET_CAPABILITY
// is answered by CD drives alone, and any other block device (a disk, a loop
// device) would read as a drive without a disc for ever. A device that cannot
// be opened is left to libcdio to report.
bool is_cd_drive(const char *path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return true;
    bool answered = ioctl(fd, CDROM_GET_CAPABILITY, 0) >= 0 || (errno != ENOTTY && errno != EINVAL);
    close(fd);
    return answered;
}

// A name ending in .cue is an image for libcdio's BIN/CUE driver.
bool is_cue_sheet(const char *path)
{
    size_t length = strlen(path);
    return length > 4 && strcasecmp(path + length - 4, ".cue") == 0;
}

// Lets paranoia go, keeping the libcdio handle.
void drop_paranoia()
{
    collect_paranoia_messages();
    if (state.paranoia)
        cdio_paranoia_free(state.paranoia);
    state.paranoia = nullptr;
    if (state.drive)
        cdio_cddap_close_no_free_cdio(state.drive);
    state.drive = nullptr;
    state.next_frame = NO_FRAME;
}

// Lets paranoia and the libcdio handle go.
void drop_handle()
{
    drop_paranoia();
    if (state.cdio)
        cdio_destroy(state.cdio);
    state.cdio = nullptr;
}

// Opens the drive, or the image, with the driver that fits it.
CdIo_t *open_handle() { return cdio_open(state.path, state.image ? DRIVER_BINCUE : DRIVER_DEVICE); }

// True when the path appeared or disappeared since the last look.
bool presence_changed()
{
    bool present = path_exists(state.path);
    bool changed = present != state.present;
    state.present = present;
    return changed;
}

// Checks that a string is well-formed UTF-8 (no overlongs, no surrogates).
bool valid_utf8(const unsigned char *s)
{
    while (*s) {
        unsigned char c = *s;
        int more;
        uint32_t min;
        uint32_t code;
        if (c < 0x80) {
            ++s;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            more = 1, min = 0x80, code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            more = 2, min = 0x800, code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            more = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        ++s;
        for (int i = 0; i < more; ++i, ++s) {
            if ((*s & 0xc0) != 0x80)
                return false;
            code = (code << 6) | (*s & 0x3f);
        }
        if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
    }
    return true;
}

} // namespace

// libcdio gives CD-TEXT in UTF-8 where it knows the block's encoding; what is
// not UTF-8 is taken as ISO-8859-1, CD-TEXT's default character set.
void cdtext_to_utf8(char *dst, int size, const char *src)
{
    if (size <= 0)
        return;
    dst[0] = '\0';
    if (!src)
        return;
    const auto *in = reinterpret_cast<const unsigned char *>(src);
    int out = 0;
    if (valid_utf8(in)) {
        // Cut only between characters so the copy stays well-formed.
        int length = static_cast<int>(strlen(src));
        if (length > size - 1) {
            length = size - 1;
            while (length > 0 && (in[length] & 0xc0) == 0x80)
                --length;
        }
        memcpy(dst, src, static_cast<size_t>(length));
        dst[length] = '\0';
        return;
    }
    for (; *in; ++in) {
        if (*in < 0x80) {
            if (out + 1 > size - 1)
                break;
            dst[out++] = static_cast<char>(*in);
        } else {
            if (out + 2 > size - 1)
                break;
            dst[out++] = static_cast<char>(0xc0 | (*in >> 6));
            dst[out++] = static_cast<char>(0x80 | (*in & 0x3f));
        }
    }
    dst[out] = '\0';
}

namespace
{

// Fills text with the disc's CD-TEXT; present stays false without any.
void read_cdtext(track_t first, DiscText &text)
{
    memset(&text, 0, sizeof text);
    cdtext_t *cdtext = cdio_get_cdtext(state.cdio);
    if (!cdtext)
        return;
    // libcdio numbers the disc 0 and the tracks as the disc does.
    for (int i = -1; i < state.toc.count; ++i) {
        track_t number = i < 0 ? 0 : static_cast<track_t>(first + i);
        CdTextEntry &entry = text.entry[i < 0 ? MAX_TRACKS : i];
        cdtext_to_utf8(entry.title, CDTEXT_FIELD_SIZE,
                       cdtext_get_const(cdtext, CDTEXT_FIELD_TITLE, number));
        cdtext_to_utf8(entry.performer, CDTEXT_FIELD_SIZE,
                       cdtext_get_const(cdtext, CDTEXT_FIELD_PERFORMER, number));
        if (entry.title[0] || entry.performer[0])
            text.present = true;
    }
}

// Reads the table of contents into state.toc; false when the drive has none.
bool read_toc(track_t &first)
{
    memset(&state.toc, 0, sizeof state.toc);
    first = cdio_get_first_track_num(state.cdio);
    track_t count = cdio_get_num_tracks(state.cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
        return false;
    if (count > MAX_TRACKS)
        count = MAX_TRACKS;
    for (int i = 0; i <= count; ++i) {
        track_t number = i == count ? static_cast<track_t>(CDIO_CDROM_LEADOUT_TRACK)
                                    : static_cast<track_t>(first + i);
        lba_t lba = cdio_get_track_lba(state.cdio, number);
        if (lba == CDIO_INVALID_LBA || lba < 0)
            return false;
        state.toc.track[i].offset = static_cast<uint32_t>(lba);
        state.toc.track[i].audio =
            i < count && cdio_get_track_format(state.cdio, number) == TRACK_FORMAT_AUDIO;
    }
    state.toc.count = count;
    for (int i = 0; i < count; ++i) {
        uint32_t start = state.toc.track[i].offset;
        uint32_t end = state.toc.track[i + 1].offset;
        state.toc.track[i].length = end > start ? end - start : 0;
    }
    return true;
}

// True when at least one track of the table holds audio.
bool has_audio(const Toc &toc)
{
    for (int i = 0; i < toc.count; ++i)
        if (toc.track[i].audio)
            return true;
    return false;
}

// Hands the drive to paranoia with full correction that still skips.
bool start_paranoia()
{
    char *messages = nullptr;
    state.drive = cdio_cddap_identify_cdio(state.cdio, CDDA_MESSAGE_LOGIT, &messages);
    if (messages) {
        keep_message(messages);
        cdio_cddap_free_messages(messages);
    }
    if (!state.drive)
        return false;
    cdio_cddap_verbose_set(state.drive, CDDA_MESSAGE_LOGIT, CDDA_MESSAGE_LOGIT);
    if (cdio_cddap_open(state.drive) != 0) {
        collect_paranoia_messages();
        cdio_cddap_close_no_free_cdio(state.drive);
        state.drive = nullptr;
        return false;
    }
    state.paranoia = cdio_paranoia_init(state.drive);
    if (!state.paranoia) {
        drop_paranoia();
        return false;
    }
    cdio_paranoia_modeset(state.paranoia, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    state.next_frame = NO_FRAME;
    collect_paranoia_messages();
    return true;
}

// The first frame past the run of audio tracks that holds frame; frame itself
// when frame lies in no audio track.
uint32_t audio_end(uint32_t frame)
{
    const Toc &toc = state.toc;
    int i = 0;
    while (i < toc.count && toc.track[i + 1].offset <= frame)
        ++i;
    if (i >= toc.count || frame < toc.track[i].offset || !toc.track[i].audio)
        return frame;
    int first = i;
    while (i < toc.count && toc.track[i].audio)
        ++i;
    uint32_t end = toc.track[i].offset;
    if (i < toc.count) {
        // Data to the end of the disc after audio: an Enhanced CD's second
        // session, whose gap cannot be read as audio.
        bool data_to_end = true;
        for (int j = i; j < toc.count; ++j)
            data_to_end = data_to_end && !toc.track[j].audio;
        if (data_to_end && end > toc.track[first].offset + SESSION_GAP_FRAMES)
            end -= SESSION_GAP_FRAMES;
    }
    return end;
}

// Opens the drive or image at path (the system's default drive for "").
int cdio_open_source(const char *path)
{
    install_cdio_log_handler();
    drop_handle();
    memset(&state.toc, 0, sizeof state.toc);
    state.error[0] = '\0';
    state.ejected = false;
    state.skipped = 0;
    if (!path || !*path) {
        if (!find_default_cd_device(state.path, sizeof state.path)) {
            copy_text(state.path, sizeof state.path, "default CD drive");
            set_error("no CD drive found");
            return -1;
        }
    } else if (strlen(path) >= sizeof state.path) {
        copy_text(state.error, sizeof state.error, "device path too long");
        return -1;
    } else {
        copy_text(state.path, sizeof state.path, path);
    }
    state.image = is_cue_sheet(state.path);
    state.present = path_exists(state.path);
    if (!state.image && state.present && !is_cd_drive(state.path)) {
        snprintf(state.error, sizeof state.error, "%s is not a CD drive", state.path);
        return -1;
    }
    state.cdio = open_handle();
    if (!state.cdio) {
        set_error(state.present ? "cannot open the drive" : "no such drive");
        return -1;
    }
    return 0;
}

// Lets the drive go; a later open starts afresh.
void cdio_close_source()
{
    drop_handle();
    memset(&state.toc, 0, sizeof state.toc);
}

// A disc change shows as the drive's media-changed flag; a drive unplugged or
// plugged back in as its device node going or coming.
bool cdio_media_changed()
{
    if (presence_changed())
        return true;
    if (!state.cdio || state.image)
        return false;
    int changed = cdio_get_media_changed(state.cdio);
    if (changed < 0) // a driver without the check asks the drive itself
        changed = mmc_get_media_changed(state.cdio);
    return changed == 1;
}

// Reads the disc now in the drive: table of contents, CD-TEXT and paranoia's
// set-up, on a fresh handle.
int32_t cdio_load(Toc &toc, DiscText &text)
{
    memset(&toc, 0, sizeof toc);
    memset(&text, 0, sizeof text);
    drop_handle();
    memset(&state.toc, 0, sizeof state.toc);
    state.skipped = 0;
    if (state.image && state.ejected)
        return DRIVE_NO_DISC;
    // A fresh handle: libcdio keeps the first table of contents it read.
    state.log_message[0] = '\0';
    state.cdio = open_handle();
    state.present = path_exists(state.path);
    if (!state.cdio) {
        set_error(state.present ? "cannot open the drive" : "the drive is gone");
        return DRIVE_ERROR;
    }
    if (!state.image)
        cdio_get_media_changed(state.cdio); // this load answers the change
    track_t first = 0;
    if (!read_toc(first)) {
        if (!path_exists(state.path)) {
            state.present = false;
            set_error("the drive is gone");
            return DRIVE_ERROR;
        }
        return DRIVE_NO_DISC; // an empty tray or a blank disc
    }
    toc = state.toc;
    if (!has_audio(state.toc))
        return DRIVE_NO_DISC;
    if (!start_paranoia()) {
        set_error("cannot read audio from the disc");
        return DRIVE_ERROR;
    }
    read_cdtext(first, text);
    return DRIVE_STOPPED;
}

// Reads audio frames through paranoia, up to the end of the run of audio
// tracks that holds frame.
int32_t cdio_read(uint32_t frame, int32_t count, int16_t *samples)
{
    if (!state.paranoia) {
        copy_text(state.error, sizeof state.error, "no audio disc loaded");
        return -1;
    }
    if (count <= 0)
        return 0;
    uint32_t end = audio_end(frame);
    if (end <= frame)
        return 0;
    if (static_cast<uint32_t>(count) > end - frame)
        count = static_cast<int32_t>(end - frame);
    int32_t i = 0;
    if (frame != state.next_frame) {
        // Paranoia rebuilds an empty cache from the start of the disc when it
        // must skip, so after a seek unreadable frames are passed over here,
        // one plain read each, and paranoia starts at the first that reads.
        for (; i < count; ++i) {
            int16_t *out = samples + static_cast<long>(i) * SAMPLES_PER_FRAME * 2;
            lsn_t lsn = static_cast<lsn_t>(frame) + i - LEAD_IN_FRAMES;
            if (lsn < 0) {
                set_error("cannot read before the first track");
                return i > 0 ? i : -1;
            }
            if (cdio_read_audio_sector(state.cdio, out, lsn) == DRIVER_OP_SUCCESS)
                break;
            memset(out, 0, FRAME_BYTES);
            ++state.skipped;
        }
        if (i < count) {
            lsn_t lsn = static_cast<lsn_t>(frame) + i - LEAD_IN_FRAMES;
            if (cdio_paranoia_seek(state.paranoia, lsn, SEEK_SET) < 0) {
                state.next_frame = NO_FRAME;
                set_error("cannot seek");
                return i > 0 ? i : -1;
            }
        }
    }
    for (; i < count; ++i) {
        int16_t *frame_samples =
            cdio_paranoia_read_limited(state.paranoia, paranoia_event, READ_RETRIES);
        if (!frame_samples) {
            collect_paranoia_messages();
            state.next_frame = NO_FRAME;
            set_error("read failed");
            return i > 0 ? i : -1;
        }
        memcpy(samples + static_cast<long>(i) * SAMPLES_PER_FRAME * 2, frame_samples, FRAME_BYTES);
    }
    state.next_frame = frame + static_cast<uint32_t>(count);
    collect_paranoia_messages();
    return count;
}

// Stops reading and opens the tray; an image is only taken out.
int cdio_eject_source()
{
    drop_paranoia();
    memset(&state.toc, 0, sizeof state.toc);
    if (state.image) {
        drop_handle();
        state.ejected = true;
        return 0;
    }
    if (!state.cdio)
        state.cdio = open_handle();
    if (!state.cdio) {
        set_error("cannot open the drive");
        return -1;
    }
    // On success libcdio closes the handle itself and clears the pointer.
    if (cdio_eject_media(&state.cdio) != DRIVER_OP_SUCCESS) {
        set_error("cannot eject");
        return -1;
    }
    return 0;
}

// Why the last call failed.
const char *cdio_source_error() { return state.error; }

} // namespace

const AudioSource cdio_audio_source = {
    "cdio",    cdio_open_source, cdio_close_source, cdio_media_changed,
    cdio_load, cdio_read,        cdio_eject_source, cdio_source_error,
};

// Puts mivo's handler in libcdio's place; again changes nothing.
void install_cdio_log_handler() { cdio_log_set_handler(store_cdio_log); }

// The last message the handlers kept.
const char *last_cdio_message() { return state.log_message; }

// Frames paranoia gave up on since the last load.
int32_t cdio_skipped_frames() { return state.skipped; }

#if MIVO_TEST_HOOKS
// The image the tests name, if it is a regular file: opened without waiting,
// as the sheet reader opens a sheet, so that a FIFO there cannot hold
// start-up, and refused otherwise.
static bool test_image_usable(const char *image)
{
    int fd = open(image, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular;
}
#endif

// Asks libcdio for the default drive, unless a test build's tests name an image.
bool find_default_cd_device(char *path, int size)
{
#if MIVO_TEST_HOOKS
    // Test hook: the end-to-end tests have no drive, so they name a BIN/CUE
    // image that libcdio opens in the default drive's place.
    const char *image = getenv("MIVO_TEST_CDIO_IMAGE");
    if (image && *image) {
        if (!test_image_usable(image))
            return false;
        copy_text(path, size, image);
        return true;
    }
#endif
    install_cdio_log_handler();
    char *device = cdio_get_default_device(nullptr);
    if (!device)
        return false;
    copy_text(path, size, device);
    cdio_free(device);
    return path[0] != '\0';
}
