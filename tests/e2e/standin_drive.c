// SPDX-License-Identifier: GPL-3.0-or-later
/* A stand-in for libSDL-1.2.so.0's CD-ROM interface, for driving the real mivo
 * binary in the end-to-end tests. It simulates one drive whose play position
 * follows the wall clock, takes its orders from a control file that the test
 * appends lines to, and writes every call it receives to a log file.
 *
 * Environment:
 *   MIVO_STANDIN_CONTROL  file of commands, re-read from where it was left on
 *                         every call (see apply_command for the commands)
 *   MIVO_STANDIN_LOG      file that receives one line per call
 *
 * It also answers the CD-ROM volume requests and fstat for the descriptor it
 * hands out as SDL_CD.id, a /dev/null descriptor that passes for a block
 * device, so the volume keys can be driven without a drive. All other
 * descriptors go to the C library untouched. */
/* SDL's own flags define it when the build passes them. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <SDL.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#define LINUX_CDROMVOLCTRL 0x530aUL
#define LINUX_CDROMVOLREAD 0x5313UL
#define LINUX_CDROM_GET_CAPABILITY 0x5331UL
#define STANDIN_CAPABILITIES 0x1ff /* tray, lock, speed, audio play and the like */
#define BSD_CDIOCGETVOL 0x4004630aUL
#define BSD_CDIOCSETVOL 0x8004630bUL
#define LEAD_IN_FRAMES 150

struct disc {
    int numtracks;
    unsigned length[SDL_MAX_TRACKS];
};

static struct {
    int control_read; /* bytes of the control file already applied */
    int drives;
    int init_result;
    int open_fail;
    char open_error[256];
    int open_delay_ms;
    char error[256];
    struct disc disc;     /* the disc in the drive, or the last one */
    int disc_in;          /* 1 while the tray holds the disc */
    int drive_error;      /* 1 while the drive reports CD_ERROR */
    CDstatus state;       /* CD_STOPPED, CD_PLAYING or CD_PAUSED with a disc */
    long play_pos;        /* absolute frame at play_clock */
    long play_end;        /* absolute frame where playback stops */
    double play_clock;    /* seconds, monotonic */
    double speed;         /* frames advance speed times real time */
    unsigned char volume[4];
    int volume_fail;
    int fake_fd;
} drive = {.drives = 1, .speed = 1.0, .volume = {128, 128, 0, 0}, .fake_fd = -1};

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* Appends one line to the call log; opened per line so a crash loses nothing. */
__attribute__((format(printf, 1, 2))) static void log_call(const char *format, ...)
{
    const char *path = getenv("MIVO_STANDIN_LOG");
    if (path == NULL || *path == '\0')
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > (int)sizeof line - 2)
        n = (int)sizeof line - 2;
    line[n++] = '\n';
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}

static long track_offset(int i)
{
    long offset = LEAD_IN_FRAMES;
    for (int k = 0; k < i && k < drive.disc.numtracks; k++)
        offset += drive.disc.length[k];
    return offset;
}

/* Moves the play position on to the present and stops at the end point. */
static void advance(void)
{
    if (drive.state != CD_PLAYING)
        return;
    double t = now();
    long pos = drive.play_pos + (long)((t - drive.play_clock) * CD_FPS * drive.speed);
    drive.play_clock = t;
    drive.play_pos = pos;
    if (pos >= drive.play_end) {
        drive.state = CD_STOPPED;
        log_call("event end-of-play");
    }
}

static void start_play(long from, long to)
{
    drive.play_pos = from;
    drive.play_end = to;
    drive.play_clock = now();
    drive.state = CD_PLAYING;
}

/* Carries out one line of the control file. */
static void apply_command(char *line)
{
    char *word = strtok(line, " \t\r\n");
    if (word == NULL || word[0] == '#')
        return;
    char *rest = strtok(NULL, "\r\n");
    if (rest == NULL)
        rest = "";
    if (strcmp(word, "drives") == 0) {
        drive.drives = atoi(rest);
    } else if (strcmp(word, "init_fail") == 0) {
        drive.init_result = atoi(rest);
    } else if (strcmp(word, "open_fail") == 0) {
        drive.open_fail = 1;
        snprintf(drive.open_error, sizeof drive.open_error, "%s", rest);
    } else if (strcmp(word, "open_delay") == 0) {
        drive.open_delay_ms = atoi(rest);
    } else if (strcmp(word, "disc") == 0) {
        /* disc L1 L2 ...: track lengths in frames; the disc goes in, stopped */
        struct disc d = {0};
        char *save = NULL;
        for (char *tok = strtok_r(rest, " \t", &save); tok && d.numtracks < SDL_MAX_TRACKS;
             tok = strtok_r(NULL, " \t", &save))
            d.length[d.numtracks++] = (unsigned)strtoul(tok, NULL, 10);
        drive.disc = d;
        drive.disc_in = 1;
        drive.state = CD_STOPPED;
    } else if (strcmp(word, "empty") == 0) {
        drive.disc_in = 0;
        drive.state = CD_STOPPED;
    } else if (strcmp(word, "insert") == 0) {
        drive.disc_in = 1;
        drive.state = CD_STOPPED;
    } else if (strcmp(word, "error") == 0) {
        drive.drive_error = atoi(rest);
    } else if (strcmp(word, "seek_end") == 0) {
        /* seek_end N: N frames before the end of the current track */
        advance();
        if (drive.state == CD_PLAYING || drive.state == CD_PAUSED) {
            int t = 0;
            while (t + 1 < drive.disc.numtracks && track_offset(t + 1) <= drive.play_pos)
                t++;
            long target = track_offset(t + 1) - atol(rest);
            if (target > drive.play_pos)
                drive.play_pos = target;
            drive.play_clock = now();
        }
    } else if (strcmp(word, "speed") == 0) {
        advance();
        drive.speed = atof(rest);
    } else if (strcmp(word, "volume") == 0) {
        unsigned v[4] = {0, 0, 0, 0};
        sscanf(rest, "%u %u %u %u", &v[0], &v[1], &v[2], &v[3]);
        for (int i = 0; i < 4; i++)
            drive.volume[i] = (unsigned char)v[i];
    } else if (strcmp(word, "volume_fail") == 0) {
        drive.volume_fail = atoi(rest);
    }
}

/* Applies the lines appended to the control file since the last call. */
static void read_control(void)
{
    const char *path = getenv("MIVO_STANDIN_CONTROL");
    if (path == NULL || *path == '\0')
        return;
    FILE *f = fopen(path, "re");
    if (f == NULL)
        return;
    if (fseek(f, drive.control_read, SEEK_SET) == 0) {
        char line[4096];
        while (fgets(line, sizeof line, f) != NULL) {
            size_t n = strlen(line);
            if (n == 0 || line[n - 1] != '\n')
                break; /* a line still being written waits for the next call */
            drive.control_read += (int)n;
            apply_command(line);
        }
    }
    fclose(f);
}

static CDstatus current_status(void)
{
    read_control();
    advance();
    if (drive.drive_error)
        return CD_ERROR;
    if (!drive.disc_in)
        return CD_TRAYEMPTY;
    return drive.state;
}

int SDL_Init(Uint32 flags)
{
    read_control();
    log_call("Init %u", (unsigned)flags);
    if (drive.init_result != 0)
        snprintf(drive.error, sizeof drive.error, "stand-in init failure");
    return drive.init_result;
}

void SDL_Quit(void) { log_call("Quit"); }

/* The audio entry points mivo's digital backend calls. The stand-in is a
 * drive with an analog output only: it has no sound card to offer. */
int SDL_InitSubSystem(Uint32 flags)
{
    read_control();
    log_call("InitSubSystem %u", (unsigned)flags);
    return 0;
}

void SDL_QuitSubSystem(Uint32 flags) { log_call("QuitSubSystem %u", (unsigned)flags); }

int SDL_OpenAudio(SDL_AudioSpec *desired, SDL_AudioSpec *obtained)
{
    (void)desired;
    (void)obtained;
    log_call("OpenAudio");
    snprintf(drive.error, sizeof drive.error, "the stand-in drive has no sound card");
    return -1;
}

void SDL_PauseAudio(int pause_on) { log_call("PauseAudio %d", pause_on); }

void SDL_CloseAudio(void) { log_call("CloseAudio"); }

char *SDL_GetError(void) { return drive.error; }

int SDL_CDNumDrives(void)
{
    read_control();
    log_call("NumDrives");
    return drive.drives;
}

const char *SDL_CDName(int n)
{
    return n >= 0 && n < drive.drives ? "/dev/standin-cdrom" : NULL;
}

SDL_CD *SDL_CDOpen(int n)
{
    read_control();
    log_call("Open %d", n);
    if (drive.open_delay_ms > 0) {
        struct timespec ts = {drive.open_delay_ms / 1000, (drive.open_delay_ms % 1000) * 1000000L};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
    if (drive.open_fail) {
        snprintf(drive.error, sizeof drive.error, "%s", drive.open_error);
        return NULL;
    }
    if (n < 0 || n >= drive.drives) {
        snprintf(drive.error, sizeof drive.error, "Invalid CD-ROM drive index");
        return NULL;
    }
    SDL_CD *cd = calloc(1, sizeof *cd);
    if (cd == NULL)
        return NULL;
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    drive.fake_fd = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 200);
    if (fd >= 0)
        close(fd);
    cd->id = drive.fake_fd;
    return cd;
}

CDstatus SDL_CDStatus(SDL_CD *cd)
{
    CDstatus status = current_status();
    log_call("Status %d", (int)status);
    if (cd == NULL)
        return status;
    /* Classic SDL clears the position and shows it only while playing or paused. */
    cd->status = status;
    cd->numtracks = 0;
    cd->cur_track = 0;
    cd->cur_frame = 0;
    memset(cd->track, 0, sizeof cd->track);
    if (status > CD_TRAYEMPTY) {
        cd->numtracks = drive.disc.numtracks;
        for (int i = 0; i <= drive.disc.numtracks; i++) {
            cd->track[i].id = (Uint8)(i + 1);
            cd->track[i].type = SDL_AUDIO_TRACK;
            cd->track[i].length = i < drive.disc.numtracks ? drive.disc.length[i] : 0;
            cd->track[i].offset = (Uint32)track_offset(i);
        }
        if (status == CD_PLAYING || status == CD_PAUSED) {
            int t = 0;
            while (t + 1 < drive.disc.numtracks && track_offset(t + 1) <= drive.play_pos)
                t++;
            cd->cur_track = t;
            cd->cur_frame = (int)(drive.play_pos - track_offset(t));
        }
    }
    return status;
}

/* Checks and end point as classic SDL 1.2 computes them, 10 frames fudge included. */
int SDL_CDPlayTracks(SDL_CD *cd, int strack, int sframe, int ntracks, int nframes)
{
    CDstatus status = current_status();
    int result = -1;
    int numtracks = drive.disc.numtracks;
    const int asked_ntracks = ntracks, asked_nframes = nframes;
    (void)cd;
    if (status <= CD_TRAYEMPTY) {
        snprintf(drive.error, sizeof drive.error, "Tray empty");
    } else if (strack < 0 || strack >= numtracks) {
        snprintf(drive.error, sizeof drive.error, "Invalid starting track");
    } else {
        if (ntracks == 0 && nframes == 0) {
            ntracks = numtracks - strack;
            nframes = 0;
        }
        int etrack = strack + ntracks;
        int eframe = etrack == strack ? sframe + nframes : nframes;
        long start = track_offset(strack) + sframe;
        if (etrack > numtracks) {
            snprintf(drive.error, sizeof drive.error, "Invalid play length");
        } else if (sframe >= (int)drive.disc.length[strack] || start < 0) {
            snprintf(drive.error, sizeof drive.error, "Invalid starting frame for track %d", strack);
        } else if (etrack < numtracks && eframe > (int)drive.disc.length[etrack]) {
            snprintf(drive.error, sizeof drive.error, "Invalid ending frame for track %d", etrack);
        } else {
            long length = track_offset(etrack) + eframe - start - 10;
            if (length > 0)
                start_play(start, start + length);
            result = 0;
        }
    }
    log_call("PlayTracks %d %d %d %d -> %d", strack, sframe, asked_ntracks, asked_nframes, result);
    return result;
}

int SDL_CDPlay(SDL_CD *cd, int start, int length)
{
    (void)cd;
    CDstatus status = current_status();
    log_call("Play %d %d", start, length);
    if (status <= CD_TRAYEMPTY)
        return -1;
    start_play(start, (long)start + length);
    return 0;
}

int SDL_CDPause(SDL_CD *cd)
{
    (void)cd;
    CDstatus status = current_status();
    log_call("Pause");
    if (status == CD_PLAYING)
        drive.state = CD_PAUSED;
    return 0;
}

int SDL_CDResume(SDL_CD *cd)
{
    (void)cd;
    CDstatus status = current_status();
    log_call("Resume");
    if (status == CD_PAUSED) {
        drive.state = CD_PLAYING;
        drive.play_clock = now();
    }
    return 0;
}

int SDL_CDStop(SDL_CD *cd)
{
    (void)cd;
    CDstatus status = current_status();
    log_call("Stop");
    if (status == CD_PLAYING || status == CD_PAUSED)
        drive.state = CD_STOPPED;
    return 0;
}

int SDL_CDEject(SDL_CD *cd)
{
    (void)cd;
    current_status();
    log_call("Eject");
    drive.disc_in = 0;
    drive.state = CD_STOPPED;
    return 0;
}

void SDL_CDClose(SDL_CD *cd)
{
    log_call("Close");
    if (drive.fake_fd >= 0)
        close(drive.fake_fd);
    drive.fake_fd = -1;
    free(cd);
}

/* The volume requests of Linux and of the BSDs both carry four channel bytes. */
static int answer_volume(unsigned long request, unsigned char *channels)
{
    if (request == LINUX_CDROM_GET_CAPABILITY)
        return STANDIN_CAPABILITIES;
    if (request == LINUX_CDROMVOLREAD || request == BSD_CDIOCGETVOL) {
        log_call("GetVolume%s", drive.volume_fail ? " -> -1" : "");
        if (drive.volume_fail) {
            errno = EIO;
            return -1;
        }
        memcpy(channels, drive.volume, 4);
        return 0;
    }
    if (request == LINUX_CDROMVOLCTRL || request == BSD_CDIOCSETVOL) {
        memcpy(drive.volume, channels, 4);
        log_call("SetVolume %u %u %u %u", drive.volume[0], drive.volume[1], drive.volume[2],
                 drive.volume[3]);
        return 0;
    }
    log_call("ioctl %#lx", request);
    errno = ENOTTY;
    return -1;
}

/* The C library's own definition of a function this file stands in front of. */
static void next_symbol(const char *name, void *function_pointer, size_t size)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    memcpy(function_pointer, &symbol, size);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (fd >= 0 && fd == drive.fake_fd) {
        read_control();
        return answer_volume(request, arg);
    }
    static int (*real_ioctl)(int, unsigned long, ...);
    if (real_ioctl == NULL)
        next_symbol("ioctl", &real_ioctl, sizeof real_ioctl);
    return real_ioctl(fd, request, arg);
}

static void pose_as_drive(struct stat *st)
{
    st->st_mode = S_IFBLK | 0660;
    st->st_rdev = makedev(11, 0);
}

int fstat(int fd, struct stat *st)
{
    static int (*real_fstat)(int, struct stat *);
    if (real_fstat == NULL)
        next_symbol("fstat", &real_fstat, sizeof real_fstat);
    int result = real_fstat(fd, st);
    if (result == 0 && fd >= 0 && fd == drive.fake_fd)
        pose_as_drive(st);
    return result;
}

int fstat64(int fd, struct stat64 *st)
{
    static int (*real_fstat64)(int, struct stat64 *);
    if (real_fstat64 == NULL)
        next_symbol("fstat64", &real_fstat64, sizeof real_fstat64);
    int result = real_fstat64(fd, st);
    if (result == 0 && fd >= 0 && fd == drive.fake_fd) {
        st->st_mode = S_IFBLK | 0660;
        st->st_rdev = makedev(11, 0);
    }
    return result;
}
