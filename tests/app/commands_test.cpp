// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"
#include "app/commands.h"
#include "app/main_loop.h"
#include "app/player.h"
#include "database/disc_id.h"
#include "drive/sdl/sdl_volume.h"
#include "fake_sdl.h"
#include "ui/key_help.h"
#include "ui/message_line.h"

#include <curses.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <set>
#include <vector>

namespace
{

RecordedCall Play(int track, int frame, int ntracks, int nframes)
{
    return RecordedCall{CdCall::Play, {track, frame, ntracks, nframes}};
}
const RecordedCall Pause{CdCall::Pause, {}};
const RecordedCall Resume{CdCall::Resume, {}};
const RecordedCall Stop{CdCall::Stop, {}};
const RecordedCall Eject{CdCall::Eject, {}};

// The dialogs stand in for the prompt and the editor: the prompt gives what the
// test sets, the editor counts how often it was opened.
int prompt_answer = -1;
int prompts_opened = 0;
int editor_runs = 0;
int fake_prompt()
{
    prompts_opened++;
    return prompt_answer;
}
void fake_editor(DiscDatabase &, const DriveStatus &) { editor_runs++; }
const CommandDialogs fake_dialogs = {fake_prompt, fake_editor};

// A drive whose volume reads 100 on every channel and remembers what was written.
std::vector<Volume> volume_writes;
bool always_drive(int) { return true; }
int read_100(int, Volume &v)
{
    v = Volume{{100, 100, 100, 100}};
    return 0;
}
int record_write(int, const Volume &v)
{
    volume_writes.push_back(v);
    return 0;
}
const VolumeRequests fake_volume = {always_drive, read_100, record_write};

// Five tracks; the third is 20000 frames long, for skips past its end.
const std::vector<unsigned> DISC = {15000, 16000, 20000, 17000, 18000};

class Commands : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        reset_fake_sdl();
        player = PlayerState{};
        player.play_mode = MODE_NORMAL;
        open_fake_drive();
        prompt_answer = -1;
        prompts_opened = 0;
        editor_runs = 0;
        volume_writes.clear();
        use_player_commands();
        set_command_dialogs(&fake_dialogs);
        set_volume_requests(&fake_volume);
        close_key_help();
        clear_message();
    }
    void TearDown() override
    {
        set_command_dialogs(nullptr);
        set_volume_requests(nullptr);
    }

    // Puts the disc in the drive in the given state, as this turn's refresh left it.
    void drive_at(int status, int track, int frame)
    {
        insert_fake_disc(DISC);
        fake_sdl.reported.status = static_cast<CDstatus>(status);
        fake_sdl.reported.cur_track = track;
        fake_sdl.reported.cur_frame = frame;
        drive_refresh(player.drive);
        fake_sdl.calls.clear();
    }
};

constexpr int SAME = -1;

struct Case {
    const char *what;
    int key;
    int status = CD_STOPPED;
    int track = 2;
    int frame = 1000;
    int32_t mode = MODE_NORMAL;
    int prompt = -1;
    std::vector<RecordedCall> calls = {};
    int32_t mode_after = SAME;
    int editor = 0;
    int volume = -1; // channel 0 as written, -1 when nothing was written
    bool quit = false;
};

TEST_F(Commands, KeyTable)
{
    const int EMPTY = CD_TRAYEMPTY, ERROR = CD_ERROR, STOPPED = CD_STOPPED;
    const int PLAYING = CD_PLAYING, PAUSED = CD_PAUSED;
    const int32_t CD = MODE_REPEAT_CD, TRACK = MODE_REPEAT_TRACK, NORMAL = MODE_NORMAL;
    // clang-format off
    const Case cases[] = {
        {.what = "volume up", .key = '*', .volume = 105},
        {.what = "volume up, empty drive", .key = '*', .status = EMPTY, .volume = 105},
        {.what = "volume down", .key = '/', .volume = 95},
        {.what = "volume down, drive error", .key = '/', .status = ERROR, .volume = 95},

        {.what = "next", .key = '+', .calls = {Play(3, 0, 0, 0)}},
        {.what = "next, second key", .key = '=', .status = PLAYING, .calls = {Play(3, 0, 0, 0)}},
        {.what = "next, one track only", .key = '+', .mode = TRACK, .calls = {Play(3, 0, 1, 0)}},
        {.what = "next onto the last track, one track", .key = '+', .track = 3, .mode = TRACK,
         .calls = {Play(4, 0, 0, 0)}},
        {.what = "next, empty drive", .key = '+', .status = EMPTY},
        {.what = "next, drive error", .key = '=', .status = ERROR},

        {.what = "previous", .key = '-', .frame = 100, .calls = {Play(1, 0, 0, 0)}},
        {.what = "previous, second key", .key = '_', .status = PAUSED, .frame = 100, .calls = {Play(1, 0, 0, 0)}},
        {.what = "previous restarts, one track", .key = '-', .mode = TRACK, .calls = {Play(2, 0, 1, 0)}},
        {.what = "previous, empty drive", .key = '-', .status = EMPTY, .frame = 0},
        {.what = "previous, drive error", .key = '_', .status = ERROR, .frame = 0},

        {.what = "repeat disc from normal", .key = 'c', .mode_after = CD},
        {.what = "repeat disc from repeat track", .key = 'C', .mode = TRACK, .mode_after = CD},
        {.what = "repeat disc, already", .key = 'c', .mode = CD, .mode_after = CD},

        {.what = "eject", .key = 'e', .status = PLAYING, .mode = CD, .calls = {Eject}, .mode_after = NORMAL},
        {.what = "eject, empty drive", .key = 'E', .status = EMPTY, .mode = TRACK, .calls = {Eject},
         .mode_after = NORMAL},
        {.what = "eject, drive error", .key = 'e', .status = ERROR, .calls = {Eject}, .mode_after = NORMAL},

        {.what = "go to, nothing entered", .key = 'g', .prompt = -1},
        {.what = "go to", .key = 'G', .prompt = 3, .calls = {Play(3, 0, 0, 0)}},
        {.what = "go to, one track", .key = 'g', .mode = TRACK, .prompt = 1, .calls = {Play(1, 0, 1, 0)}},
        {.what = "go to the last track, one track", .key = 'g', .mode = TRACK, .prompt = 4,
         .calls = {Play(4, 0, 0, 0)}},
        {.what = "go to beyond the disc", .key = 'g', .prompt = 7, .calls = {Play(7, 0, 0, 0)}},
        {.what = "go to, empty drive", .key = 'G', .status = EMPTY, .prompt = 1, .calls = {Play(1, 0, 0, 0)}},

        {.what = "mode from normal", .key = 'm', .mode = NORMAL, .mode_after = CD},
        {.what = "mode from repeat disc", .key = 'M', .mode = CD, .mode_after = TRACK},
        {.what = "mode from repeat track", .key = 'm', .mode = TRACK, .mode_after = NORMAL},

        {.what = "play while stopped", .key = 'p', .calls = {Play(0, 0, 0, 0)}},
        {.what = "play while playing restarts", .key = 'P', .status = PLAYING, .calls = {Play(0, 0, 0, 0)}},
        {.what = "play while paused resumes", .key = 'p', .status = PAUSED, .calls = {Resume}},
        {.what = "play, one track", .key = 'p', .mode = TRACK, .calls = {Play(0, 0, 1, 0)}},
        {.what = "play, empty drive", .key = 'p', .status = EMPTY},
        {.what = "play, drive error", .key = 'P', .status = ERROR},

        {.what = "quit", .key = 'q', .quit = true},
        {.what = "quit, upper case", .key = 'Q', .status = PLAYING, .quit = true},

        {.what = "repeat track from normal", .key = 'r', .mode_after = TRACK},
        {.what = "repeat track from repeat disc", .key = 'R', .mode = CD, .mode_after = TRACK},

        {.what = "stop", .key = 's', .status = PLAYING, .mode = CD, .calls = {Stop}, .mode_after = NORMAL},
        {.what = "stop while paused", .key = 'S', .status = PAUSED, .mode = TRACK, .calls = {Stop},
         .mode_after = NORMAL},
        {.what = "stop, empty drive", .key = 's', .status = EMPTY, .mode = CD, .mode_after = NORMAL},
        {.what = "stop, drive error", .key = 'S', .status = ERROR, .mode = TRACK, .mode_after = NORMAL},

        {.what = "editor", .key = 't', .editor = 1},
        {.what = "editor, upper case", .key = 'T', .status = PLAYING, .editor = 1},
        {.what = "editor, empty drive", .key = 't', .status = EMPTY},
        {.what = "editor, drive error", .key = 'T', .status = ERROR},

        {.what = "pause", .key = 'u', .status = PLAYING, .calls = {Pause}},
        {.what = "resume", .key = 'U', .status = PAUSED, .calls = {Resume}},
        {.what = "pause while stopped", .key = 'u', .status = STOPPED},
        {.what = "pause, empty drive", .key = 'U', .status = EMPTY},
        {.what = "space pauses", .key = ' ', .status = PLAYING, .calls = {Pause}},
        {.what = "space resumes", .key = ' ', .status = PAUSED, .calls = {Resume}},
        {.what = "space while stopped", .key = ' ', .status = STOPPED},
        {.what = "space, empty drive", .key = ' ', .status = EMPTY},

        {.what = "skip back", .key = '[', .calls = {Play(2, 700, 0, 0)}},
        {.what = "skip back, one track", .key = '[', .mode = TRACK, .calls = {Play(2, 700, 1, 0)}},
        {.what = "skip back, empty drive", .key = '[', .status = EMPTY, .calls = {Play(2, 700, 0, 0)}},
        {.what = "skip ahead", .key = ']', .calls = {Play(2, 1300, 0, 0)}},
        {.what = "skip ahead, one track", .key = ']', .mode = TRACK, .calls = {Play(2, 1300, 1, 0)}},
        {.what = "skip ahead in the last track, one track", .key = ']', .track = 4, .mode = TRACK,
         .calls = {Play(4, 1300, 0, 0)}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        drive_at(c.status, c.track, c.frame);
        player.play_mode = c.mode;
        prompt_answer = c.prompt;

        dispatch_key(c.key);

        EXPECT_EQ(fake_sdl.calls, c.calls);
        EXPECT_EQ(player.play_mode, c.mode_after == SAME ? c.mode : c.mode_after);
        EXPECT_EQ(player.quit, c.quit ? 1 : 0);
        EXPECT_EQ(editor_runs, c.editor);
        EXPECT_EQ(prompts_opened, c.key == 'g' || c.key == 'G' ? 1 : 0);
        if (c.volume < 0) {
            EXPECT_TRUE(volume_writes.empty());
        } else {
            ASSERT_EQ(volume_writes.size(), 1u);
            EXPECT_EQ(volume_writes[0].channel[0], c.volume);
            EXPECT_EQ(volume_writes[0].channel[1], c.volume);
        }
    }
}

TEST_F(Commands, PreviousThresholdWrapsAndSkipsNearBothEnds)
{
    struct PositionCase {
        const char *what;
        int key, track, frame;
        int play_track, play_frame;
    } cases[] = {
        {"449 frames into the third track", '-', 2, 449, 1, 0},
        {"450 frames into the third track", '-', 2, 450, 2, 0},
        {"at the start of the third track", '-', 2, 0, 1, 0},
        {"449 frames into the first track", '-', 0, 449, 4, 0},
        {"450 frames into the first track", '-', 0, 450, 0, 0},
        {"next from the last track", '+', 4, 5000, 0, 0},
        {"next from the first track", '+', 0, 5000, 1, 0},
        {"skip back 100 frames in", '[', 2, 100, 2, -200},
        {"skip back at the very start", '[', 0, 0, 0, -300},
        {"skip ahead near the end", ']', 2, 19900, 2, 20200},
        {"skip ahead of a counter at its top", ']', 2, INT_MAX, 2, INT_MIN + 299},
        {"skip back of a counter at its bottom", '[', 2, INT_MIN, 2, INT_MAX - 299},
    };
    for (const PositionCase &c : cases) {
        SCOPED_TRACE(c.what);
        drive_at(CD_PLAYING, c.track, c.frame);
        dispatch_key(c.key);
        EXPECT_EQ(fake_sdl.calls,
                  (std::vector<RecordedCall>{Play(c.play_track, c.play_frame, 0, 0)}));
    }
}

TEST_F(Commands, TrackNumbersFromAStrangeStatusAreHandedOverAsTheyAre)
{
    // Whatever the status says, the commands only compute with it.
    struct HandleCase {
        int numtracks, track, frame, key;
        RecordedCall play;
    } cases[] = {
        {0, 0, 0, '-', Play(-1, 0, 0, 0)},
        {0, -1, 0, '+', Play(0, 0, 0, 0)},
        {5, INT_MAX, 5000, '+', Play(INT_MIN, 0, 0, 0)},
        {INT_MIN, 0, 0, '-', Play(INT_MAX, 0, 0, 0)},
    };
    for (const HandleCase &c : cases) {
        drive_at(CD_PLAYING, 0, 0);
        player.drive.toc.count = c.numtracks;
        player.drive.track = c.track;
        player.drive.frame = c.frame;
        dispatch_key(c.key);
        EXPECT_EQ(fake_sdl.calls, (std::vector<RecordedCall>{c.play}))
            << "numtracks " << c.numtracks << " track " << c.track;
    }
}

TEST_F(Commands, ModeChangedOnAStoppedDriveStartsTheDiscInTheNextTurn)
{
    drive_at(CD_STOPPED, 0, 0);
    player.disc_id = compute_disc_id(player.drive.toc);
    dispatch_key('m');
    EXPECT_TRUE(fake_sdl.calls.empty());
    poll_drive();
    EXPECT_EQ(calls_of(CdCall::Play), (std::vector<RecordedCall>{Play(0, 0, 0, 0)}));
}

TEST_F(Commands, StopHoldsInTheNextTurn)
{
    drive_at(CD_PLAYING, 1, 5000);
    player.disc_id = compute_disc_id(player.drive.toc);
    player.play_mode = MODE_REPEAT_TRACK;
    dispatch_key('s');
    poll_drive();
    EXPECT_EQ(fake_sdl.handle.status, CD_STOPPED);
    EXPECT_TRUE(calls_of(CdCall::Play).empty());
}

TEST_F(Commands, OnlyTheBoundCodesDoAnything)
{
    const std::set<int> bound = {'*', '+', '=', '-', '_', '/', 'C', 'c', 'E', 'e',
                                 'G', 'g', 'M', 'm', 'P', 'p', 'Q', 'q', 'R', 'r',
                                 'S', 's', 'T', 't', 'U', 'u', '[', ']', ' ', '?'};
    ASSERT_EQ(bound.size(), 30u);
    std::vector<int> keys = {ERR,           KEY_F(1),   KEY_F(12), KEY_UP,  KEY_DOWN, KEY_ENTER,
                             KEY_BACKSPACE, KEY_RESIZE, KEY_MAX,   INT_MIN, INT_MAX,  -2};
    for (int k = 0; k < 1024; k++)
        keys.push_back(k);
    // Every code past a byte whose low byte is bound must not be taken for it.
    for (int k : bound)
        keys.push_back(k + 256);

    for (int key : keys) {
        if (bound.count(key))
            continue;
        for (int32_t mode : {MODE_REPEAT_CD, MODE_REPEAT_TRACK, MODE_NORMAL}) {
            drive_at(CD_PLAYING, 2, 1000);
            player.play_mode = mode;
            prompt_answer = 1;
            dispatch_key(key);
            ASSERT_TRUE(fake_sdl.calls.empty()) << "key " << key;
            ASSERT_EQ(player.play_mode, mode) << "key " << key;
            ASSERT_EQ(player.quit, 0) << "key " << key;
            ASSERT_EQ(prompts_opened + editor_runs, 0) << "key " << key;
            ASSERT_TRUE(volume_writes.empty()) << "key " << key;
        }
    }
}

TEST_F(Commands, NoOpenDriveReachesNoDrive)
{
    drive_close();
    fake_sdl.calls.clear();
    player.drive = DriveStatus{};
    for (int key : {'*', '/', '+', '-', 'e', 'g', 'p', 's', 't', 'u', '[', ']'}) {
        player.play_mode = MODE_REPEAT_CD;
        dispatch_key(key);
    }
    EXPECT_TRUE(fake_sdl.calls.empty());
    EXPECT_TRUE(volume_writes.empty());
    EXPECT_EQ(player.play_mode, MODE_REPEAT_CD);
    dispatch_key('s');
    EXPECT_EQ(player.play_mode, MODE_NORMAL);
}

} // namespace

TEST_F(Commands, QuestionMarkOpensTheKeyHelpAndTheNextKeyOnlyClosesIt)
{
    drive_at(CD_PLAYING, 2, 1000);
    dispatch_key('?');
    EXPECT_TRUE(key_help_open());
    // Waits and resizes leave it open.
    dispatch_key(ERR);
    dispatch_key(KEY_RESIZE);
    EXPECT_TRUE(key_help_open());
    // ? itself closes it too.
    dispatch_key('?');
    EXPECT_FALSE(key_help_open());
    for (int key : {'q', 'p', 'g'}) {
        SCOPED_TRACE(key);
        dispatch_key('?');
        dispatch_key(key);
        EXPECT_FALSE(key_help_open());
    }
    EXPECT_EQ(player.quit, 0);
    EXPECT_TRUE(fake_sdl.calls.empty());
    EXPECT_EQ(prompts_opened, 0);
}

int refuse_read(int, Volume &) { return -1; }
int refuse_write(int, const Volume &) { return -1; }

TEST_F(Commands, ARefusedCommandIsSaidOnTheMessageLine)
{
    struct RefusalCase {
        const char *what;
        int key;
        int status;
        const VolumeRequests *volume;
        const char *message;
    };
    const VolumeRequests no_read = {always_drive, refuse_read, record_write};
    const VolumeRequests no_write = {always_drive, read_100, refuse_write};
    const RefusalCase cases[] = {
        {"play", 'p', CD_STOPPED, &fake_volume, "The drive refused to play: fake drive error"},
        {"skip", ']', CD_PLAYING, &fake_volume, "The drive refused to play: fake drive error"},
        {"volume read", '*', CD_PLAYING, &no_read, "The drive refused to read the volume"},
        {"volume write", '/', CD_PLAYING, &no_write, "The drive refused to set the volume"},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        drive_at(c.status, 2, 1000);
        fake_sdl.play_result = -1;
        set_volume_requests(c.volume);
        dispatch_key(c.key);
        EXPECT_EQ(std::string(current_message()).rfind(c.message, 0), 0u) << current_message();
    }
    // A command the drive carries out says nothing.
    SetUp();
    drive_at(CD_STOPPED, 2, 1000);
    dispatch_key('p');
    EXPECT_STREQ(current_message(), "");
}

// Every command once, each with what the screens and the help need: a help
// line that fits the key help's column, keys that fit theirs, and no key that
// runs two commands on one screen.
TEST_F(Commands, TheTableHoldsEachCommandOnceWithItsHelpAndKeys)
{
    std::set<int> ids;
    std::set<std::string> names;
    std::set<std::pair<int, int>> keys;
    for (int i = 0; i < player_command_count(); i++) {
        const Command &c = player_commands()[i];
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(ids.insert(c.id).second) << "id twice";
        EXPECT_TRUE(names.insert(c.name).second) << "name twice";
        EXPECT_EQ(find_command(c.id), &c);
        EXPECT_EQ(find_command_named(c.name), &c);
        ASSERT_NE(c.help, nullptr);
        EXPECT_GT(strlen(c.help), 0u) << "no help line";
        if (c.keys[0] != 0) {
            EXPECT_LE(strlen(c.help), 19u) << "help line too long for the key help";
        }
        EXPECT_NE(c.run, nullptr);
        EXPECT_EQ(c.keys[0] == 0, c.place == PLACE_REMOTE) << "only a remote's commands lack keys";
        if (c.keys[0] != 0) {
            EXPECT_GT(strlen(c.key_names), 0u);
            EXPECT_LE(strlen(c.key_names), 7u);
        }
        for (int k = 0; k < COMMAND_KEYS && c.keys[k] != 0; k++) {
            EXPECT_TRUE(keys.insert({c.place, c.keys[k]}).second) << "key " << c.keys[k] << " twice";
            EXPECT_EQ(command_for_key(c.place, c.keys[k]), &c);
        }
        if (c.hint_key != 0) {
            EXPECT_NE(strchr(c.key_names, c.hint_key), nullptr) << "the hint shows another key";
        }
    }
    for (int id = 0; id < COMMAND_COUNT; id++)
        EXPECT_TRUE(ids.count(id)) << "command id " << id << " has no entry";
}

TEST_F(Commands, TheHelpListsEveryKeyOfTheTable)
{
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    print_usage(out);
    fclose(out);
    std::string usage(text, size);
    free(text);
    for (int i = 0; i < player_command_count(); i++) {
        const Command &c = player_commands()[i];
        if (c.keys[0] == 0)
            continue;
        std::string entry = std::string(c.key_names) + " ";
        entry += static_cast<char>(tolower(c.help[0]));
        entry += c.help + 1;
        // Joined lines may break an entry between its words.
        std::string flat = usage;
        for (char &ch : flat)
            if (ch == '\n')
                ch = ' ';
        EXPECT_NE(flat.find(entry), std::string::npos) << entry;
    }
}

TEST_F(Commands, ARemoteRunsCommandsByIdWithTheirArguments)
{
    struct RemoteCase {
        const char *what;
        CommandId id;
        int64_t argument;
        int status;
        std::vector<RecordedCall> calls;
        int32_t mode_after = SAME;
        int volume = -1;
    };
    const RemoteCase cases[] = {
        {"play", CMD_PLAY, 0, CD_STOPPED, {Play(0, 0, 0, 0)}},
        {"pause while playing", CMD_PAUSE, 0, CD_PLAYING, {Pause}},
        {"pause while paused stays paused", CMD_PAUSE, 0, CD_PAUSED, {}},
        {"seek ahead", CMD_SEEK_BY, 750, CD_PLAYING, {Play(2, 1750, 0, 0)}},
        {"seek back", CMD_SEEK_BY, -1500, CD_PLAYING, {Play(2, -500, 0, 0)}},
        {"seek by more than 32 bits", CMD_SEEK_BY, int64_t{1} << 40, CD_PLAYING,
         {Play(2, INT32_MIN + 999, 0, 0)}},
        {"seek to", CMD_SEEK_TO, 4500, CD_PLAYING, {Play(2, 4500, 0, 0)}},
        {"play a track", CMD_PLAY_TRACK, 4, CD_STOPPED, {Play(4, 0, 0, 0)}},
        {"play a track past the disc", CMD_PLAY_TRACK, 5, CD_STOPPED, {}},
        {"play a negative track", CMD_PLAY_TRACK, -1, CD_STOPPED, {}},
        {"play a track of no disc", CMD_PLAY_TRACK, 1, CD_TRAYEMPTY, {}},
        {"set the play mode", CMD_SET_PLAY_MODE, MODE_REPEAT_TRACK, CD_STOPPED, {}, MODE_REPEAT_TRACK},
        {"set a play mode that is none", CMD_SET_PLAY_MODE, 7, CD_STOPPED, {}},
        {"set the volume", CMD_SET_VOLUME, 60, CD_PLAYING, {}, SAME, 60},
        {"set the volume past the top", CMD_SET_VOLUME, 1000, CD_PLAYING, {}, SAME, 255},
        {"set the volume below the bottom", CMD_SET_VOLUME, -5, CD_PLAYING, {}, SAME, 0},
        {"a key's command ignores the argument", CMD_NEXT, 3, CD_PLAYING, {Play(3, 0, 0, 0)}},
    };
    for (const RemoteCase &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        drive_at(c.status, 2, 1000);
        EXPECT_EQ(run_command(c.id, c.argument), 0);
        EXPECT_EQ(fake_sdl.calls, c.calls);
        EXPECT_EQ(player.play_mode, c.mode_after == SAME ? MODE_NORMAL : c.mode_after);
        if (c.volume < 0) {
            EXPECT_TRUE(volume_writes.empty());
        } else {
            ASSERT_EQ(volume_writes.size(), 1u);
            EXPECT_EQ(volume_writes[0].channel[0], c.volume);
            EXPECT_EQ(volume_writes[0].channel[1], c.volume);
            EXPECT_EQ(volume_writes[0].channel[2], 100) << "the other channels are kept";
        }
    }
    EXPECT_EQ(run_command(static_cast<CommandId>(COMMAND_COUNT), 0), -1);
    EXPECT_EQ(run_command(static_cast<CommandId>(-1), 0), -1);
}

TEST_F(Commands, WhetherACommandAppliesFollowsTheDrive)
{
    const Command &play = *find_command(CMD_PLAY);
    const Command &eject = *find_command(CMD_EJECT);
    const Command &quit = *find_command(CMD_QUIT);
    struct ApplyCase {
        int status;
        bool play, eject;
    } cases[] = {
        {CD_ERROR, false, true},  {CD_TRAYEMPTY, false, false}, {CD_STOPPED, true, true},
        {CD_PLAYING, true, true}, {CD_PAUSED, true, true},      {7, false, true},
    };
    for (const ApplyCase &c : cases) {
        DriveStatus drive{};
        drive.state = static_cast<DriveState>(c.status);
        EXPECT_EQ(command_applies(play, drive), c.play) << c.status;
        EXPECT_EQ(command_applies(eject, drive), c.eject) << c.status;
        EXPECT_TRUE(command_applies(quit, drive)) << c.status;
    }
}
