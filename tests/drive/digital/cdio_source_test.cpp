// SPDX-License-Identifier: GPL-3.0-or-later
// The real-drive source, run on BIN/CUE images that libcdio opens as drives.
#include "bin_cue_image.h"
#include "database/disc_id.h"
#include "drive/digital/cdio_source.h"
#include "drive/drive.h"
#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <unistd.h>

namespace
{

const AudioSource &source = cdio_audio_source;

int remove_entry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

class CdioSourceTest : public ::testing::Test
{
  protected:
    char dir[64] = "/tmp/mivo-cdio-XXXXXX";
    char cue[1024] = "";
    Toc toc{};
    DiscText text{};

    void SetUp() override { ASSERT_NE(mkdtemp(dir), nullptr); }

    void TearDown() override
    {
        source.close();
        nftw(dir, remove_entry, 8, FTW_DEPTH | FTW_PHYS);
    }

    // Writes the image and opens it through the source.
    void open_image(const ImageLayout &layout)
    {
        ASSERT_TRUE(write_bin_cue(dir, "disc", layout, cue, sizeof cue));
        ASSERT_EQ(source.open(cue), 0) << source.error();
    }

    // Reads count frames at frame and checks every byte against the image.
    void expect_frames(uint32_t frame, int32_t count)
    {
        static int16_t got[SAMPLES_PER_FRAME * 2 * 64];
        static int16_t want[SAMPLES_PER_FRAME * 2];
        ASSERT_LE(count, 64);
        ASSERT_EQ(source.read(frame, count, got), count) << source.error();
        for (int32_t i = 0; i < count; ++i) {
            expected_frame(frame + static_cast<uint32_t>(i), want);
            ASSERT_EQ(memcmp(got + i * SAMPLES_PER_FRAME * 2, want, FRAME_BYTES), 0)
                << "frame " << frame + static_cast<uint32_t>(i);
        }
    }
};

ImageLayout three_audio_tracks()
{
    ImageLayout layout{};
    layout.count = 3;
    layout.track[0] = {300, true};
    layout.track[1] = {451, true};
    layout.track[2] = {226, true};
    return layout;
}

void expect_toc(const Toc &got, const Toc &want)
{
    ASSERT_EQ(got.count, want.count);
    for (int i = 0; i <= want.count; ++i) {
        EXPECT_EQ(got.track[i].offset, want.track[i].offset) << "track " << i;
        if (i < want.count) {
            EXPECT_EQ(got.track[i].length, want.track[i].length) << "track " << i;
            EXPECT_EQ(got.track[i].audio, want.track[i].audio) << "track " << i;
        }
    }
}

struct TocCase {
    const char *name;
    ImageLayout layout;
    int32_t state;
};

TEST_F(CdioSourceTest, ListsTheDrivesTableOfContentsWithDataTracksNeverAudio)
{
    const TocCase cases[] = {
        {"audio only", three_audio_tracks(), DRIVE_STOPPED},
        {"enhanced", {3, {{200, true}, {150, true}, {300, false}}, {}, {}}, DRIVE_STOPPED},
        {"mixed mode", {2, {{300, false}, {250, true}}, {}, {}}, DRIVE_STOPPED},
        {"data only", {1, {{400, false}}, {}, {}}, DRIVE_NO_DISC},
    };
    for (const TocCase &c : cases) {
        SCOPED_TRACE(c.name);
        open_image(c.layout);
        EXPECT_EQ(source.load(toc, text), c.state) << source.error();
        expect_toc(toc, layout_toc(c.layout));
        EXPECT_FALSE(text.present);
        source.close();
    }
}

// The same disc in the SDL backend (SDL's drive reports the same frame
// offsets) gets the same table of contents, so the same id and title file.
TEST_F(CdioSourceTest, DiscIdEqualsTheOneTheSdlBackendComputesForTheSameDisc)
{
    ImageLayout layout = three_audio_tracks();
    open_image(layout);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();

    reset_fake_sdl();
    insert_fake_disc({layout.track[0].frames, layout.track[1].frames, layout.track[2].frames});
    open_fake_drive();
    DriveStatus sdl_status{};
    ASSERT_EQ(drive_refresh(sdl_status), 0) << drive_error();
    drive_close();

    expect_toc(toc, sdl_status.toc);
    EXPECT_EQ(compute_disc_id(toc), compute_disc_id(sdl_status.toc));
    // Worked by hand: digit sums 2+6+3 (offsets at 2 s, 6 s, 12 s), 13 s long, 3 tracks.
    EXPECT_EQ(compute_disc_id(toc), 0x0b000d03u);
}

TEST_F(CdioSourceTest, ReadsByteExactAcrossSeeksAndTrackBoundaries)
{
    ImageLayout layout = three_audio_tracks();
    open_image(layout);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    expect_frames(150, 40);
    expect_frames(190, 13); // carries on without a seek
    expect_frames(700, 20); // forward jump into track 2
    expect_frames(440, 20); // back across the start of track 2 (450)
    expect_frames(460, 5);
}

TEST_F(CdioSourceTest, StopsAtTheLeadOutAndBeforeDataTracks)
{
    // Audio, then data to the end: an Enhanced CD, whose audio ends the
    // session gap before the data track.
    ImageLayout enhanced{2, {{11500, true}, {120, false}}, {}, {}};
    open_image(enhanced);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    int16_t samples[SAMPLES_PER_FRAME * 2 * 8];
    uint32_t audio_end = 150 + 11500 - 11400;
    EXPECT_EQ(source.read(audio_end - 3, 8, samples), 3);
    EXPECT_EQ(source.read(audio_end, 8, samples), 0);
    EXPECT_EQ(source.read(150 + 11500 + 10, 8, samples), 0); // inside the data track
    source.close();

    ImageLayout plain = three_audio_tracks();
    open_image(plain);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    uint32_t lead_out = toc.track[toc.count].offset;
    EXPECT_EQ(source.read(lead_out - 2, 8, samples), 2);
    EXPECT_EQ(source.read(lead_out, 8, samples), 0);
    expect_frames(lead_out - 2, 2); // a read back after the end seeks again
}

TEST_F(CdioSourceTest, CdTextComesInUtf8WithTheDiscAsItsOwnEntry)
{
    ImageLayout layout = three_audio_tracks();
    layout.disc_title = "Nachtmusik";
    layout.disc_performer = "Orchestre de la Ville";
    layout.track[0].title = "Ouverture \xe0 l'\xe9t\xe9"; // ISO-8859-1
    layout.track[1].title = "Caf\xe9";
    layout.track[1].performer = "Trio";
    open_image(layout);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    ASSERT_TRUE(text.present);
    EXPECT_STREQ(text.entry[MAX_TRACKS].title, "Nachtmusik");
    EXPECT_STREQ(text.entry[MAX_TRACKS].performer, "Orchestre de la Ville");
    EXPECT_STREQ(text.entry[0].title, "Ouverture \xc3\xa0 l'\xc3\xa9t\xc3\xa9");
    EXPECT_STREQ(text.entry[1].title, "Caf\xc3\xa9");
    EXPECT_STREQ(text.entry[1].performer, "Trio");
    EXPECT_STREQ(text.entry[2].title, "");
}

TEST(CdTextToUtf8, KeepsUtf8ConvertsLatin1AndCutsBetweenCharacters)
{
    struct Case {
        const char *in;
        int size;
        const char *out;
    } cases[] = {
        {"plain", 32, "plain"},
        {"\xc3\xa9t\xc3\xa9", 32, "\xc3\xa9t\xc3\xa9"},
        {"\xe9t\xe9", 32, "\xc3\xa9t\xc3\xa9"},
        {"ab\xc3\xa9", 4, "ab"},                          // UTF-8 never cut inside a character
        {"ab\xe9", 4, "ab"},                              // nor the Latin-1 that becomes two bytes
        {"\xc0\xaf", 32, "\xc3\x80\xc2\xaf"},             // an overlong is not UTF-8
        {"\xed\xa0\x80", 32, "\xc3\xad\xc2\xa0\xc2\x80"}, // nor a surrogate
        {nullptr, 8, ""},
    };
    for (const Case &c : cases) {
        char out[32];
        memset(out, 'x', sizeof out);
        cdtext_to_utf8(out, c.size, c.in);
        EXPECT_STREQ(out, c.out) << (c.in ? c.in : "(null)");
    }
}

TEST_F(CdioSourceTest, DriveGoneIsAnErrorAndItsReturnIsNoticed)
{
    ImageLayout layout = three_audio_tracks();
    open_image(layout);
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    EXPECT_FALSE(source.media_changed());

    char moved[1100];
    snprintf(moved, sizeof moved, "%s.away", cue);
    ASSERT_EQ(rename(cue, moved), 0);
    EXPECT_TRUE(source.media_changed());
    EXPECT_FALSE(source.media_changed()); // once per change
    EXPECT_EQ(source.load(toc, text), DRIVE_ERROR);
    EXPECT_NE(strstr(source.error(), "gone"), nullptr) << source.error();
    EXPECT_EQ(toc.count, 0);
    int16_t samples[SAMPLES_PER_FRAME * 2];
    EXPECT_EQ(source.read(150, 1, samples), -1);

    ASSERT_EQ(rename(moved, cue), 0);
    EXPECT_TRUE(source.media_changed());
    EXPECT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    expect_frames(300, 4);
}

TEST_F(CdioSourceTest, EjectEmptiesTheTray)
{
    open_image(three_audio_tracks());
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    EXPECT_EQ(source.eject(), 0) << source.error();
    EXPECT_EQ(source.load(toc, text), DRIVE_NO_DISC);
    EXPECT_EQ(toc.count, 0);
    int16_t samples[SAMPLES_PER_FRAME * 2];
    EXPECT_EQ(source.read(150, 1, samples), -1);
}

// "" is the system's default drive; the end-to-end tests put an image there.
TEST_F(CdioSourceTest, EmptyPathOpensTheDefaultDrive)
{
    unsetenv("MIVO_TEST_CDIO_IMAGE");
    char device[DRIVE_PATH_SIZE];
    if (!find_default_cd_device(device, sizeof device)) {
        EXPECT_EQ(source.open(""), -1);
        EXPECT_NE(strstr(source.error(), "no CD drive found"), nullptr) << source.error();
    }
    ASSERT_TRUE(write_bin_cue(dir, "disc", three_audio_tracks(), cue, sizeof cue));
    setenv("MIVO_TEST_CDIO_IMAGE", cue, 1);
    EXPECT_EQ(source.open(""), 0) << source.error();
    unsetenv("MIVO_TEST_CDIO_IMAGE");
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    expect_toc(toc, layout_toc(three_audio_tracks()));
}

// A FIFO named as the test image would hold start-up in its open for ever:
// the hook refuses what is no regular file, at once.
TEST_F(CdioSourceTest, TheTestImageHookRefusesAFifo)
{
    char fifo[512];
    snprintf(fifo, sizeof fifo, "%s/image.cue", dir);
    ASSERT_EQ(mkfifo(fifo, 0600), 0);
    setenv("MIVO_TEST_CDIO_IMAGE", fifo, 1);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(source.open("") == -1 ? 0 : 1);
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 500 && ended == 0; i++) {
        ended = waitpid(child, &status, WNOHANG);
        if (ended == 0)
            usleep(10 * 1000);
    }
    unsetenv("MIVO_TEST_CDIO_IMAGE");
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "opening the default drive waited on the FIFO";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the FIFO was taken as a drive";
}

// libcdio's own handler prints warnings on the terminal and exits the process
// on an error; mivo's keeps the message and lets open fail. A sheet without
// its BIN draws such a warning.
TEST_F(CdioSourceTest, LibcdioErrorsNeitherPrintNorExit)
{
    snprintf(cue, sizeof cue, "%s/broken.cue", dir);
    FILE *f = fopen(cue, "w");
    ASSERT_NE(f, nullptr);
    fputs("FILE \"broken.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", f);
    fclose(f);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int opened = source.open(cue);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(opened, -1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_NE(last_cdio_message()[0], '\0');
    EXPECT_NE(strstr(source.error(), "broken.cue"), nullptr) << source.error();

    EXPECT_EQ(source.open("/nonexistent/sr9"), -1);
    EXPECT_NE(strstr(source.error(), "no such drive"), nullptr) << source.error();
}

// A block device that is no CD drive is refused at once with one line naming it.
TEST_F(CdioSourceTest, ABlockDeviceThatIsNoCdDriveIsRefused)
{
    const char *candidates[] = {"/dev/loop0", "/dev/vda", "/dev/sda", "/dev/nvme0n1", "/dev/zram0"};
    const char *device = nullptr;
    for (const char *c : candidates) {
        struct stat info;
        int fd = open(c, O_RDONLY | O_NONBLOCK);
        if (stat(c, &info) == 0 && S_ISBLK(info.st_mode) && fd >= 0)
            device = c;
        if (fd >= 0)
            close(fd);
        if (device != nullptr)
            break;
    }
    if (device == nullptr)
        GTEST_SKIP() << "no block device this user can open";
    EXPECT_EQ(source.open(device), -1);
    EXPECT_EQ(std::string(source.error()), std::string(device) + " is not a CD drive");
}

// Sectors the drive cannot read are given up after a few retries: the read
// returns (silence for them) instead of retrying for ever, whether playback
// runs into them or jumps into them.
TEST_F(CdioSourceTest, UnreadableSectorsAreSkippedAfterRetries)
{
    open_image(three_audio_tracks());
    ASSERT_EQ(source.load(toc, text), DRIVE_STOPPED) << source.error();
    char bin[1100];
    snprintf(bin, sizeof bin, "%s/disc.bin", dir);
    ASSERT_EQ(truncate(bin, static_cast<off_t>(FRAME_BYTES) * 500), 0); // frames 650 on
    expect_frames(150 + 470, 10);

    static int16_t samples[SAMPLES_PER_FRAME * 2 * 40];
    EXPECT_EQ(source.read(150 + 480, 40, samples), 40); // runs into them
    EXPECT_GT(cdio_skipped_frames(), 0);
    int32_t skipped = cdio_skipped_frames();
    EXPECT_EQ(source.read(150 + 700, 8, samples), 8); // jumps into them
    EXPECT_GE(cdio_skipped_frames(), skipped + 8);
    for (int i = 0; i < SAMPLES_PER_FRAME * 2 * 8; ++i)
        ASSERT_EQ(samples[i], 0) << "sample " << i;
    expect_frames(200, 4); // what can be read still reads exactly
}

} // namespace
