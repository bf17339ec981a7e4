// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/mpris.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

static constexpr char OBJECT_PATH[] = "/org/mpris/MediaPlayer2";
static constexpr char ROOT_INTERFACE[] = "org.mpris.MediaPlayer2";
static constexpr char PLAYER_INTERFACE[] = "org.mpris.MediaPlayer2.Player";
static constexpr char BUS_NAME[] = "org.mpris.MediaPlayer2.mivo";
static constexpr char NO_TRACK[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
// A position this far from where the clock would have taken it was a jump.
static constexpr int64_t JUMP_TOLERANCE_US = 1500000;

static sd_bus *bus;
// Whether the bus has answered us once: a connection that fails before that
// was never really there, and is dropped without a word.
static bool bus_answered;
static MprisFacts facts;
static bool published;
static int64_t published_at_us;

static MprisRequest queue[MPRIS_QUEUE_SIZE];
static int queue_head;
static int queue_count;

bool mpris_running() { return bus != nullptr; }

int mpris_fd() { return bus != nullptr ? sd_bus_get_fd(bus) : -1; }

void mpris_stop()
{
    if (bus != nullptr)
        // No flush: a bus that stopped reading must not hold mivo up as it ends.
        sd_bus_close_unref(bus);
    bus = nullptr;
    bus_answered = false;
    published = false;
    queue_count = 0;
}

// A full queue refuses the call, so the caller hears that it was not done.
static MprisRequest *new_request(MprisCommand command, sd_bus_error *error)
{
    if (queue_count == MPRIS_QUEUE_SIZE) {
        sd_bus_error_set_const(error, "org.freedesktop.DBus.Error.LimitsExceeded",
                               "mivo has too many requests waiting");
        return nullptr;
    }
    MprisRequest *r = &queue[(queue_head + queue_count) % MPRIS_QUEUE_SIZE];
    queue_count++;
    *r = MprisRequest{};
    r->command = command;
    return r;
}

bool mpris_next_request(MprisRequest &request)
{
    if (queue_count == 0)
        return false;
    request = queue[queue_head];
    queue_head = (queue_head + 1) % MPRIS_QUEUE_SIZE;
    queue_count--;
    return true;
}

void mpris_track_id(const MprisFacts &f, char *out, int size)
{
    if (f.track_number <= 0)
        snprintf(out, static_cast<size_t>(size), "%s", NO_TRACK);
    else
        snprintf(out, static_cast<size_t>(size), "/org/mivo/disc/%016llx/track/%d",
                 static_cast<unsigned long long>(f.disc_id), f.track_number);
}

// ----- the root interface -----

static int method_raise(sd_bus_message *m, void *, sd_bus_error *error)
{
    if (new_request(MPRIS_RAISE, error) == nullptr)
        return -EBUSY;
    return sd_bus_reply_method_return(m, "");
}

static int method_quit(sd_bus_message *m, void *, sd_bus_error *error)
{
    if (new_request(MPRIS_QUIT, error) == nullptr)
        return -EBUSY;
    return sd_bus_reply_method_return(m, "");
}

static int get_false(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                     void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "b", 0);
}

static int get_true(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                    void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "b", 1);
}

static int get_identity(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                        void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "s", "mivo");
}

static int get_uri_schemes(sd_bus *, const char *, const char *, const char *,
                           sd_bus_message *reply, void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "as", 1, "file");
}

static int get_mime_types(sd_bus *, const char *, const char *, const char *,
                          sd_bus_message *reply, void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "as", 1, "application/x-cue");
}

static const sd_bus_vtable root_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", method_raise, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Quit", "", "", method_quit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("CanQuit", "b", get_true, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanRaise", "b", get_false, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("HasTrackList", "b", get_false, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Identity", "s", get_identity, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", get_uri_schemes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", get_mime_types, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

// ----- the player interface -----

static int simple_method(sd_bus_message *m, MprisCommand command, sd_bus_error *error)
{
    if (new_request(command, error) == nullptr)
        return -EBUSY;
    return sd_bus_reply_method_return(m, "");
}

static int method_play(sd_bus_message *m, void *, sd_bus_error *e) { return simple_method(m, MPRIS_PLAY, e); }
static int method_pause(sd_bus_message *m, void *, sd_bus_error *e) { return simple_method(m, MPRIS_PAUSE, e); }
static int method_play_pause(sd_bus_message *m, void *, sd_bus_error *e)
{
    return simple_method(m, MPRIS_PLAY_PAUSE, e);
}
static int method_stop(sd_bus_message *m, void *, sd_bus_error *e) { return simple_method(m, MPRIS_STOP, e); }
static int method_next(sd_bus_message *m, void *, sd_bus_error *e) { return simple_method(m, MPRIS_NEXT, e); }
static int method_previous(sd_bus_message *m, void *, sd_bus_error *e)
{
    return simple_method(m, MPRIS_PREVIOUS, e);
}

static int method_seek(sd_bus_message *m, void *, sd_bus_error *error)
{
    int64_t offset = 0;
    int r = sd_bus_message_read(m, "x", &offset);
    if (r < 0)
        return r;
    MprisRequest *request = new_request(MPRIS_SEEK, error);
    if (request == nullptr)
        return -EBUSY;
    request->offset_us = offset;
    return sd_bus_reply_method_return(m, "");
}

static int method_set_position(sd_bus_message *m, void *, sd_bus_error *error)
{
    const char *track = nullptr;
    int64_t position = 0;
    int r = sd_bus_message_read(m, "ox", &track, &position);
    if (r < 0)
        return r;
    // A position meant for another track, or outside this one, is ignored,
    // as a remote acting on stale news would otherwise move the wrong track.
    char current[128];
    mpris_track_id(facts, current, sizeof current);
    if (strcmp(track, current) == 0 && facts.track_number > 0 && position >= 0 &&
        position <= facts.length_us) {
        MprisRequest *request = new_request(MPRIS_SET_POSITION, error);
        if (request == nullptr)
            return -EBUSY;
        request->position_us = position;
    }
    return sd_bus_reply_method_return(m, "");
}

static int method_open_uri(sd_bus_message *m, void *, sd_bus_error *error)
{
    const char *uri = nullptr;
    int r = sd_bus_message_read(m, "s", &uri);
    if (r < 0)
        return r;
    char path[MPRIS_PATH_SIZE];
    if (!mpris_uri_to_path(uri, path, sizeof path))
        return sd_bus_error_set_const(error, "org.freedesktop.DBus.Error.NotSupported",
                                      "mivo opens local files only (file://)");
    MprisRequest *request = new_request(MPRIS_OPEN, error);
    if (request == nullptr)
        return -EBUSY;
    memcpy(request->path, path, sizeof path);
    return sd_bus_reply_method_return(m, "");
}

static int get_playback_status(sd_bus *, const char *, const char *, const char *,
                               sd_bus_message *reply, void *, sd_bus_error *)
{
    static const char *const names[] = {"Stopped", "Playing", "Paused"};
    return sd_bus_message_append(reply, "s", names[facts.playback]);
}

static int get_loop_status(sd_bus *, const char *, const char *, const char *,
                           sd_bus_message *reply, void *, sd_bus_error *)
{
    static const char *const names[] = {"None", "Track", "Playlist"};
    return sd_bus_message_append(reply, "s", names[facts.loop]);
}

static int set_loop_status(sd_bus *, const char *, const char *, const char *,
                           sd_bus_message *value, void *, sd_bus_error *error)
{
    const char *name = nullptr;
    int r = sd_bus_message_read(value, "s", &name);
    if (r < 0)
        return r;
    MprisLoop loop;
    if (strcmp(name, "None") == 0)
        loop = MPRIS_LOOP_NONE;
    else if (strcmp(name, "Track") == 0)
        loop = MPRIS_LOOP_TRACK;
    else if (strcmp(name, "Playlist") == 0)
        loop = MPRIS_LOOP_PLAYLIST;
    else
        return sd_bus_error_set_const(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                      "LoopStatus is None, Track or Playlist");
    MprisRequest *request = new_request(MPRIS_SET_LOOP, error);
    if (request == nullptr)
        return -EBUSY;
    request->loop = loop;
    return 0;
}

static int get_rate(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                    void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "d", 1.0);
}

// mivo plays at one speed only; other rates are ignored.
static int set_rate(sd_bus *, const char *, const char *, const char *, sd_bus_message *value,
                    void *, sd_bus_error *)
{
    double rate = 0;
    int r = sd_bus_message_read(value, "d", &rate);
    return r < 0 ? r : 0;
}

static int get_volume(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                      void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "d", facts.volume);
}

static int set_volume(sd_bus *, const char *, const char *, const char *, sd_bus_message *value,
                      void *, sd_bus_error *error)
{
    double volume = 0;
    int r = sd_bus_message_read(value, "d", &volume);
    if (r < 0)
        return r;
    if (std::isnan(volume))
        return sd_bus_error_set_const(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                      "Volume is a number");
    MprisRequest *request = new_request(MPRIS_SET_VOLUME, error);
    if (request == nullptr)
        return -EBUSY;
    request->volume = volume < 0 ? 0 : volume > 1 ? 1 : volume;
    return 0;
}

static int get_position(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                        void *, sd_bus_error *)
{
    return sd_bus_message_append(reply, "x", facts.position_us);
}

static int append_text(sd_bus_message *reply, const char *key, const char *text)
{
    if (text[0] == '\0')
        return 0;
    return sd_bus_message_append(reply, "{sv}", key, "s", text);
}

static int get_metadata(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,
                        void *, sd_bus_error *)
{
    char track_id[128];
    mpris_track_id(facts, track_id, sizeof track_id);
    int r = sd_bus_message_open_container(reply, 'a', "{sv}");
    if (r >= 0)
        r = sd_bus_message_append(reply, "{sv}", "mpris:trackid", "o", track_id);
    if (r >= 0 && facts.track_number > 0) {
        r = sd_bus_message_append(reply, "{sv}", "mpris:length", "x", facts.length_us);
        if (r >= 0)
            r = sd_bus_message_append(reply, "{sv}", "xesam:trackNumber", "i", facts.track_number);
        if (r >= 0)
            r = append_text(reply, "xesam:title", facts.title);
    }
    if (r >= 0 && facts.artist[0] != '\0')
        r = sd_bus_message_append(reply, "{sv}", "xesam:artist", "as", 1, facts.artist);
    if (r >= 0)
        r = append_text(reply, "xesam:album", facts.album);
    if (r >= 0)
        r = append_text(reply, "mpris:artUrl", facts.art_url);
    if (r >= 0)
        r = sd_bus_message_close_container(reply);
    return r;
}

static int get_fixed_rate(sd_bus *b, const char *p, const char *i, const char *n,
                          sd_bus_message *reply, void *u, sd_bus_error *e)
{
    return get_rate(b, p, i, n, reply, u, e);
}

#define FACT_GETTER(name, field)                                                                   \
    static int name(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply,   \
                    void *, sd_bus_error *)                                                        \
    {                                                                                              \
        return sd_bus_message_append(reply, "b", facts.field ? 1 : 0);                            \
    }
FACT_GETTER(get_can_play, can_play)
FACT_GETTER(get_can_pause, can_pause)
FACT_GETTER(get_can_seek, can_seek)
FACT_GETTER(get_can_go_next, can_go_next)
FACT_GETTER(get_can_go_previous, can_go_previous)
#undef FACT_GETTER

static constexpr uint64_t CHANGES = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;

static const sd_bus_vtable player_vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Next", "", "", method_next, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Previous", "", "", method_previous, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Pause", "", "", method_pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PlayPause", "", "", method_play_pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Stop", "", "", method_stop, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Play", "", "", method_play, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", , method_seek,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position), "",
                             , method_set_position, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", , method_open_uri,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", get_playback_status, 0, CHANGES),
    SD_BUS_WRITABLE_PROPERTY("LoopStatus", "s", get_loop_status, set_loop_status, 0,
                             CHANGES | SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_WRITABLE_PROPERTY("Rate", "d", get_rate, set_rate, 0, CHANGES | SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("Metadata", "a{sv}", get_metadata, 0, CHANGES),
    SD_BUS_WRITABLE_PROPERTY("Volume", "d", get_volume, set_volume, 0,
                             CHANGES | SD_BUS_VTABLE_UNPRIVILEGED),
    // The clock moves it; only jumps are announced, with Seeked.
    SD_BUS_PROPERTY("Position", "x", get_position, 0, 0),
    SD_BUS_PROPERTY("MinimumRate", "d", get_fixed_rate, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("MaximumRate", "d", get_fixed_rate, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanGoNext", "b", get_can_go_next, 0, CHANGES),
    SD_BUS_PROPERTY("CanGoPrevious", "b", get_can_go_previous, 0, CHANGES),
    SD_BUS_PROPERTY("CanPlay", "b", get_can_play, 0, CHANGES),
    SD_BUS_PROPERTY("CanPause", "b", get_can_pause, 0, CHANGES),
    SD_BUS_PROPERTY("CanSeek", "b", get_can_seek, 0, CHANGES),
    SD_BUS_PROPERTY("CanControl", "b", get_true, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

// ----- the connection -----

static int name_reply(sd_bus_message *m, void *instance, sd_bus_error *)
{
    bus_answered = true;
    if (!sd_bus_message_is_method_error(m, nullptr)) {
        uint32_t result = 0;
        // 1: the name is ours; 4: it already was.
        if (sd_bus_message_read(m, "u", &result) >= 0 && (result == 1 || result == 4))
            return 0;
    }
    // Another mivo has the name: this one goes by its process id.
    static char instance_name[96];
    if (instance == nullptr) {
        snprintf(instance_name, sizeof instance_name, "%s.instance%ld", BUS_NAME,
                 static_cast<long>(getpid()));
        sd_bus_request_name_async(bus, nullptr, instance_name, 0, name_reply, instance_name);
    }
    return 0;
}

bool mpris_start()
{
    mpris_stop();
    if (sd_bus_open_user(&bus) < 0) {
        bus = nullptr;
        return false;
    }
    int r = sd_bus_add_object_vtable(bus, nullptr, OBJECT_PATH, ROOT_INTERFACE, root_vtable, nullptr);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus, nullptr, OBJECT_PATH, PLAYER_INTERFACE, player_vtable,
                                     nullptr);
    if (r >= 0)
        r = sd_bus_request_name_async(bus, nullptr, BUS_NAME, 0, name_reply, nullptr);
    if (r < 0) {
        mpris_stop();
        return false;
    }
    return true;
}

bool mpris_process()
{
    if (bus == nullptr)
        return true;
    for (;;) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            bool was_up = bus_answered;
            mpris_stop();
            return !was_up;
        }
        if (r == 0)
            return true;
    }
}

static bool same_text(const char *a, const char *b) { return strcmp(a, b) == 0; }

static void emit_seeked(int64_t position_us)
{
    sd_bus_emit_signal(bus, OBJECT_PATH, PLAYER_INTERFACE, "Seeked", "x", position_us);
}

void mpris_publish(const MprisFacts &now, int64_t now_us, bool seeked)
{
    const MprisFacts before = facts;
    const bool had = published;
    const int64_t elapsed = now_us - published_at_us;
    facts = now;
    published = true;
    published_at_us = now_us;
    if (bus == nullptr || !had)
        return;
    const char *changed[16];
    int n = 0;
    if (before.playback != now.playback)
        changed[n++] = "PlaybackStatus";
    if (before.loop != now.loop)
        changed[n++] = "LoopStatus";
    if (before.volume != now.volume)
        changed[n++] = "Volume";
    if (before.track_number != now.track_number || before.disc_id != now.disc_id ||
        before.length_us != now.length_us || !same_text(before.title, now.title) ||
        !same_text(before.artist, now.artist) || !same_text(before.album, now.album) ||
        !same_text(before.art_url, now.art_url))
        changed[n++] = "Metadata";
    if (before.can_play != now.can_play)
        changed[n++] = "CanPlay";
    if (before.can_pause != now.can_pause)
        changed[n++] = "CanPause";
    if (before.can_seek != now.can_seek)
        changed[n++] = "CanSeek";
    if (before.can_go_next != now.can_go_next)
        changed[n++] = "CanGoNext";
    if (before.can_go_previous != now.can_go_previous)
        changed[n++] = "CanGoPrevious";
    changed[n] = nullptr;
    if (n > 0)
        sd_bus_emit_properties_changed_strv(bus, OBJECT_PATH, PLAYER_INTERFACE,
                                            const_cast<char **>(changed));
    if (seeked) {
        emit_seeked(now.position_us);
        return;
    }
    // The clock moves a playing track's position; anything else is a jump.
    if (before.track_number == now.track_number && before.disc_id == now.disc_id &&
        now.track_number > 0 && now.playback != MPRIS_STOPPED) {
        int64_t expected = before.position_us +
                           (before.playback == MPRIS_PLAYING ? elapsed : 0);
        int64_t off = now.position_us - expected;
        if (off > JUMP_TOLERANCE_US || off < -JUMP_TOLERANCE_US)
            emit_seeked(now.position_us);
    }
}
