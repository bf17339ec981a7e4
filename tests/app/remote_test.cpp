// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote.h"

#include "app/player.h"
#include "ui/command.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

TEST(RemoteRequests, WhereTheRemoteDiffersFromTheKeys)
{
    struct Case {
        MprisCommand command;
        int32_t state;
        int id;
    } cases[] = {
        // Play never restarts a playing disc, as the play key does.
        {MPRIS_PLAY, DRIVE_PLAYING, REMOTE_NOTHING},
        {MPRIS_PLAY, DRIVE_PAUSED, CMD_PLAY},
        {MPRIS_PLAY, DRIVE_STOPPED, CMD_PLAY},
        // Pause leaves a paused disc paused, where the pause key resumes it.
        {MPRIS_PAUSE, DRIVE_PLAYING, CMD_PAUSE},
        {MPRIS_PAUSE, DRIVE_PAUSED, CMD_PAUSE},
        // PlayPause on a stopped disc starts it, where the pause key does nothing.
        {MPRIS_PLAY_PAUSE, DRIVE_STOPPED, CMD_PLAY},
        {MPRIS_PLAY_PAUSE, DRIVE_PLAYING, CMD_PAUSE_RESUME},
        {MPRIS_PLAY_PAUSE, DRIVE_PAUSED, CMD_PAUSE_RESUME},
        {MPRIS_STOP, DRIVE_PLAYING, CMD_STOP},
        {MPRIS_NEXT, DRIVE_PAUSED, CMD_NEXT},
        {MPRIS_PREVIOUS, DRIVE_PLAYING, CMD_PREVIOUS},
        {MPRIS_QUIT, DRIVE_NO_DISC, CMD_QUIT},
        {MPRIS_SEEK, DRIVE_PLAYING, REMOTE_OWN},
        {MPRIS_SET_VOLUME, DRIVE_PLAYING, REMOTE_OWN},
        {MPRIS_RAISE, DRIVE_PLAYING, REMOTE_OWN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << c.command << " state " << c.state);
        EXPECT_EQ(remote_request_command(c.command, c.state), c.id);
    }
}

DriveStatus three_tracks(int32_t state, int32_t track, int32_t frame)
{
    DriveStatus d{};
    d.state = state;
    d.track = track;
    d.frame = frame;
    d.toc.count = 3;
    for (int i = 0; i <= 3; i++)
        d.toc.track[i] = {static_cast<uint32_t>(150 + i * 7500), 7500, true};
    return d;
}

TEST(RemoteFacts, TellTheDriveAndTheTitles)
{
    player = PlayerState{};
    player.disc_id = 0xabc;
    strcpy(player.db.entries[DISC_ENTRY].title, "Some Artist / An Album / Part 2");
    strcpy(player.db.entries[1].title, "Second");
    MprisFacts f = remote_facts(three_tracks(DRIVE_PAUSED, 1, 150), MODE_REPEAT_TRACK,
                                Volume{{255, 0, 0, 0}});
    EXPECT_EQ(f.playback, MPRIS_PAUSED);
    EXPECT_EQ(f.loop, MPRIS_LOOP_TRACK);
    EXPECT_DOUBLE_EQ(f.volume, 1.0);
    EXPECT_EQ(f.track_number, 2);
    EXPECT_EQ(f.position_us, 2000000);
    EXPECT_EQ(f.length_us, 100000000); // 7500 frames, exactly
    EXPECT_STREQ(f.title, "Second");
    EXPECT_STREQ(f.artist, "Some Artist");
    EXPECT_STREQ(f.album, "An Album / Part 2");
    EXPECT_TRUE(f.can_play && f.can_pause && f.can_seek && f.can_go_next && f.can_go_previous);

    // A title without " / " names both, as the title file's format has it.
    strcpy(player.db.entries[DISC_ENTRY].title, "Eponymous");
    f = remote_facts(three_tracks(DRIVE_STOPPED, 0, 0), MODE_REPEAT_CD, Volume{});
    EXPECT_STREQ(f.artist, "Eponymous");
    EXPECT_STREQ(f.album, "Eponymous");
    EXPECT_EQ(f.loop, MPRIS_LOOP_PLAYLIST);
    EXPECT_TRUE(f.can_play);
    EXPECT_FALSE(f.can_pause || f.can_seek);

    // A track the table does not hold is no current track.
    f = remote_facts(three_tracks(DRIVE_PLAYING, 7, 100), MODE_NORMAL, Volume{});
    EXPECT_EQ(f.track_number, 0);
    EXPECT_EQ(f.length_us, 0);
    EXPECT_EQ(f.loop, MPRIS_LOOP_NONE);

    // No disc: nothing can be done.
    f = remote_facts(three_tracks(DRIVE_NO_DISC, 0, 0), MODE_NORMAL, Volume{});
    EXPECT_EQ(f.playback, MPRIS_STOPPED);
    EXPECT_EQ(f.track_number, 0);
    EXPECT_FALSE(f.can_play || f.can_pause || f.can_seek || f.can_go_next || f.can_go_previous);
    player = PlayerState{};
}

} // namespace
