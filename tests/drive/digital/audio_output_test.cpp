// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/audio_output.h"

#include "fake_sdl.h"

#include <gtest/gtest.h>

#include <SDL.h>

namespace
{

int fills;
void counting_fill(uint8_t *stream, int len)
{
    fills++;
    for (int i = 0; i < len; i++)
        stream[i] = 7;
}

class AudioOutputTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        reset_fake_sdl();
        fills = 0;
    }
    void TearDown() override { sdl_audio_output.close(); }
};

TEST_F(AudioOutputTest, OpensCdAudioStartsItAndFeedsTheCallbackFromTheFill)
{
    ASSERT_EQ(sdl_audio_output.open(counting_fill), 0) << sdl_audio_output.error();
    const SDL_AudioSpec &asked = fake_sdl.audio_desired;
    EXPECT_EQ(asked.freq, 44100);
    EXPECT_EQ(asked.format, AUDIO_S16SYS);
    EXPECT_EQ(asked.channels, 2);
    ASSERT_NE(asked.callback, nullptr);
    std::vector<RecordedCall> expected = {{CdCall::InitAudio, {}},
                                          {CdCall::OpenAudio, {1, 0, 0, 0}},
                                          {CdCall::PauseAudio, {0, 0, 0, 0}}};
    EXPECT_EQ(fake_sdl.calls, expected);
    Uint8 buffer[16] = {};
    asked.callback(asked.userdata, buffer, sizeof buffer);
    EXPECT_EQ(fills, 1);
    EXPECT_EQ(buffer[15], 7);

    fake_sdl.calls.clear();
    sdl_audio_output.close();
    expected = {
        {CdCall::PauseAudio, {1, 0, 0, 0}}, {CdCall::CloseAudio, {}}, {CdCall::QuitAudio, {}}};
    EXPECT_EQ(fake_sdl.calls, expected);
    EXPECT_FALSE(fake_sdl.audio_open);
}

TEST_F(AudioOutputTest, ADeviceOfAnotherFormatIsReopenedForSdlToConvert)
{
    fake_sdl.audio_offered.freq = 48000;
    ASSERT_EQ(sdl_audio_output.open(counting_fill), 0);
    std::vector<RecordedCall> expected = {{CdCall::InitAudio, {}},
                                          {CdCall::OpenAudio, {1, 0, 0, 0}},
                                          {CdCall::CloseAudio, {}},
                                          {CdCall::OpenAudio, {0, 0, 0, 0}},
                                          {CdCall::PauseAudio, {0, 0, 0, 0}}};
    EXPECT_EQ(fake_sdl.calls, expected);
}

struct FailureCase {
    const char *name;
    int init_result;
    int open_result;
    SDL_AudioSpec offered;
    int reopen_result;
    const char *error_start;
};

TEST_F(AudioOutputTest, FailuresSayWhyAndLeaveTheSoundSystemShut)
{
    const FailureCase cases[] = {
        {"no sound system", -1, 0, {}, 0, "Could not start the sound system: fake drive error"},
        {"no device", 0, -1, {}, 0, "Could not open the sound card: fake drive error"},
        {"wrong format, no conversion",
         0,
         0,
         {48000, AUDIO_U8, 1, 0, 0, 0, 0, nullptr, nullptr},
         -1,
         "The sound card refuses 44100 Hz 16-bit stereo: fake drive error"},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        reset_fake_sdl();
        fake_sdl.audio_init_result = c.init_result;
        fake_sdl.open_audio_result = c.open_result;
        fake_sdl.audio_offered = c.offered;
        fake_sdl.reopen_audio_result = c.reopen_result;
        EXPECT_EQ(sdl_audio_output.open(counting_fill), -1);
        EXPECT_STREQ(sdl_audio_output.error(), c.error_start);
        EXPECT_FALSE(fake_sdl.audio_open);
        size_t inits = calls_of(CdCall::InitAudio).size();
        size_t quits = calls_of(CdCall::QuitAudio).size();
        EXPECT_EQ(quits, c.init_result == 0 ? inits : 0u);
        sdl_audio_output.close();
        EXPECT_TRUE(calls_of(CdCall::PauseAudio).empty());
    }
}

} // namespace
