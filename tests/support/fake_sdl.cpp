// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_sdl.h"

#include "drive/drive.h"

#include <SDL.h>
#include <gtest/gtest.h>

FakeSdl fake_sdl;

void reset_fake_sdl()
{
    fake_sdl = FakeSdl{};
    fake_sdl.reported.status = CD_TRAYEMPTY;
}

void insert_fake_disc(const std::vector<unsigned> &lengths, unsigned first_offset)
{
    SDL_CD &r = fake_sdl.reported;
    r = SDL_CD{};
    r.status = CD_STOPPED;
    r.numtracks = static_cast<int>(lengths.size());
    unsigned offset = first_offset;
    for (size_t i = 0; i < lengths.size(); i++) {
        r.track[i].id = static_cast<Uint8>(i + 1);
        r.track[i].type = SDL_AUDIO_TRACK;
        r.track[i].length = lengths[i];
        r.track[i].offset = offset;
        offset += lengths[i];
    }
    r.track[lengths.size()].offset = offset;
}

void open_fake_drive()
{
    DriveTarget target{};
    target.kind = TARGET_SDL_NUMBER;
    target.number = 0;
    set_drive_backend(nullptr);
    if (drive_open(target) != 0)
        ADD_FAILURE() << "the SDL backend did not open the fake drive";
    fake_sdl.calls.clear();
}

Toc toc_of(const SDL_CD &cd)
{
    Toc toc{};
    toc.count = cd.numtracks;
    for (int i = 0; i <= cd.numtracks && i <= MAX_TRACKS; i++) {
        toc.track[i].offset = cd.track[i].offset;
        toc.track[i].length = i < cd.numtracks ? cd.track[i].length : 0;
        toc.track[i].audio = cd.track[i].type == SDL_AUDIO_TRACK;
    }
    return toc;
}

std::vector<RecordedCall> calls_of(CdCall kind)
{
    std::vector<RecordedCall> out;
    for (const RecordedCall &c : fake_sdl.calls)
        if (c.call == kind)
            out.push_back(c);
    return out;
}

static void record(CdCall call, int a = 0, int b = 0, int c = 0, int d = 0)
{
    fake_sdl.calls.push_back(RecordedCall{call, {a, b, c, d}});
}

extern "C" {

int SDL_Init(Uint32)
{
    record(CdCall::Init);
    return fake_sdl.init_result;
}

void SDL_Quit(void) { record(CdCall::Quit); }

char *SDL_GetError(void) { return fake_sdl.error_text.data(); }

int SDL_CDNumDrives(void)
{
    record(CdCall::NumDrives);
    return fake_sdl.num_drives;
}

SDL_CD *SDL_CDOpen(int drive)
{
    record(CdCall::Open, drive);
    if (fake_sdl.open_fails)
        return nullptr;
    fake_sdl.opened_drive = drive;
    fake_sdl.handle = SDL_CD{};
    fake_sdl.handle.id = 1000 + drive;
    return &fake_sdl.handle;
}

CDstatus SDL_CDStatus(SDL_CD *cd)
{
    record(CdCall::Status);
    if (fake_sdl.before_status)
        fake_sdl.before_status(fake_sdl);
    int id = cd->id;
    *cd = fake_sdl.reported;
    cd->id = id;
    return cd->status;
}

int SDL_CDPlayTracks(SDL_CD *, int start_track, int start_frame, int ntracks, int nframes)
{
    record(CdCall::Play, start_track, start_frame, ntracks, nframes);
    SDL_CD &r = fake_sdl.reported;
    if (fake_sdl.simulate && fake_sdl.play_result == 0 && r.status > CD_TRAYEMPTY &&
        start_track >= 0 && start_track < r.numtracks) {
        r.status = CD_PLAYING;
        r.cur_track = start_track;
        r.cur_frame = start_frame;
    }
    return fake_sdl.play_result;
}

int SDL_CDPause(SDL_CD *)
{
    record(CdCall::Pause);
    if (fake_sdl.simulate && fake_sdl.reported.status == CD_PLAYING)
        fake_sdl.reported.status = CD_PAUSED;
    return 0;
}

int SDL_CDResume(SDL_CD *)
{
    record(CdCall::Resume);
    if (fake_sdl.simulate && fake_sdl.reported.status == CD_PAUSED)
        fake_sdl.reported.status = CD_PLAYING;
    return 0;
}

int SDL_CDStop(SDL_CD *)
{
    record(CdCall::Stop);
    if (fake_sdl.simulate && fake_sdl.reported.status > CD_STOPPED)
        fake_sdl.reported.status = CD_STOPPED;
    return 0;
}

int SDL_CDEject(SDL_CD *)
{
    record(CdCall::Eject);
    if (fake_sdl.simulate) {
        fake_sdl.reported = SDL_CD{};
        fake_sdl.reported.status = CD_TRAYEMPTY;
    }
    return 0;
}

void SDL_CDClose(SDL_CD *) { record(CdCall::Close); }

} // extern "C"

extern "C" {

int SDL_InitSubSystem(Uint32 flags)
{
    if (flags & SDL_INIT_AUDIO) {
        record(CdCall::InitAudio);
        return fake_sdl.audio_init_result;
    }
    record(CdCall::Init);
    return fake_sdl.init_result;
}

void SDL_QuitSubSystem(Uint32 flags)
{
    if (flags & SDL_INIT_AUDIO)
        record(CdCall::QuitAudio);
    if (flags & SDL_INIT_CDROM)
        record(CdCall::QuitCdrom);
}

int SDL_OpenAudio(SDL_AudioSpec *desired, SDL_AudioSpec *obtained)
{
    record(CdCall::OpenAudio, obtained != nullptr);
    int result = obtained ? fake_sdl.open_audio_result : fake_sdl.reopen_audio_result;
    if (result != 0)
        return result;
    fake_sdl.audio_desired = *desired;
    if (obtained) {
        *obtained = *desired;
        const SDL_AudioSpec &o = fake_sdl.audio_offered;
        if (o.freq)
            obtained->freq = o.freq;
        if (o.format)
            obtained->format = o.format;
        if (o.channels)
            obtained->channels = o.channels;
    }
    fake_sdl.audio_open = true;
    return 0;
}

void SDL_PauseAudio(int pause_on) { record(CdCall::PauseAudio, pause_on); }

void SDL_CloseAudio(void)
{
    record(CdCall::CloseAudio);
    fake_sdl.audio_open = false;
}

} // extern "C"
