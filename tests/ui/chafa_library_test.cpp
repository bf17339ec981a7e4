// SPDX-License-Identifier: GPL-3.0-or-later
// chafa opened at run time: the build's library resolves every function the
// cover view calls (glib's among them), one that is not there or is not
// chafa gives a reason naming it, and without it the player screen draws no
// cover, says why once, and writes nothing to the terminal.
#include "ui/chafa_library.h"
#include "ui/cover_view.h"
#include "ui/message_line.h"

#include "desktop/cover_image.h"
#include "test_screen.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

constexpr char MISSING[] = "libmivo-no-such-library.so.0";

std::string front_cover()
{
    const char *root = getenv("MIVO_TEST_DATA");
    return std::string(root ? root : "tests/data") + "/covers/front.jpg";
}

// The size of what fds 1 and 2 received while body ran.
template <typename Body> off_t terminal_output_of(Body body)
{
    char name[] = "/tmp/mivo-chafa-XXXXXX";
    int out = mkstemp(name);
    EXPECT_GE(out, 0);
    unlink(name);
    fflush(stdout);
    fflush(stderr);
    int saved_out = dup(STDOUT_FILENO);
    int saved_err = dup(STDERR_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    body();
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    close(saved_out);
    close(saved_err);
    struct stat st;
    fstat(out, &st);
    close(out);
    return st.st_size;
}

TEST(ChafaLibrary, TheBuildsLibraryResolvesEveryFunction)
{
    ChafaLibrary lib;
    memset(&lib, 0, sizeof lib);
    char error[160] = "";
    ASSERT_TRUE(chafa_library_open(CHAFA_LIBRARY_NAME, lib, error, sizeof error)) << error;
    void (*functions[sizeof lib / sizeof(void (*)())])();
    memcpy(functions, &lib, sizeof lib);
    for (auto *f : functions)
        EXPECT_NE(f, nullptr);
    // The pointers are the libraries' own: a canvas prints into a GString
    // that glib's function, found through chafa, frees.
    ChafaCanvasConfig *config = lib.canvas_config_new();
    ASSERT_NE(config, nullptr);
    lib.canvas_config_set_geometry(config, 2, 1);
    ChafaCanvas *canvas = lib.canvas_new(config);
    ASSERT_NE(canvas, nullptr);
    const unsigned char red[4 * 4] = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
    lib.canvas_draw_all_pixels(canvas, CHAFA_PIXEL_RGBA8_UNASSOCIATED, red, 2, 2, 8);
    GString *text = lib.canvas_print(canvas, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(text->len, 0u);
    lib.string_free(text, TRUE);
    lib.canvas_unref(canvas);
    lib.canvas_config_unref(config);
}

TEST(ChafaLibrary, ALibraryThatCannotServeSaysWhichAndWhy)
{
    const struct {
        const char *name;
        const char *reason;
    } cases[] = {
        {MISSING, "libmivo-no-such-library.so.0 could not be loaded: cannot open shared object file"},
        // There, but not chafa: the first function it lacks is named.
        {"libc.so.6", "libc.so.6 could not be loaded: it has no chafa_set_n_threads"},
    };
    for (const auto &c : cases) {
        ChafaLibrary lib;
        memset(&lib, 0xa5, sizeof lib);
        ChafaLibrary before = lib;
        char error[160] = "";
        EXPECT_FALSE(chafa_library_open(c.name, lib, error, sizeof error)) << c.name;
        EXPECT_EQ(strncmp(error, c.reason, strlen(c.reason)), 0) << error;
        EXPECT_EQ(memcmp(&lib, &before, sizeof lib), 0) << c.name << ": the record was touched";
    }
}

// ctest runs each case in a process of its own, so here chafa is opened for
// the first time.
TEST(ChafaLibrary, OpeningItWritesNothingToTheTerminal)
{
    setenv("TERM", "xterm-256color", 1);
    unsetenv("MIVO_COVER_MODE");
    bool loaded = false;
    EXPECT_EQ(terminal_output_of([&] {
                  loaded = cover_library_load();
                  detect_cover_mode();
              }),
              0);
    EXPECT_TRUE(loaded) << cover_library_error();
}

class WithoutChafa : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        cover_use_library(MISSING);
        unsetenv("MIVO_COVER_MODE");
    }
    void TearDown() override
    {
        set_cover_image("");
        draw_cover_view();
        clear_message();
        cover_use_library(CHAFA_LIBRARY_NAME);
    }
};

TEST_F(WithoutChafa, NoPictureIsWrittenAndTheModeIsSymbols)
{
    CoverPixels pixels;
    ASSERT_TRUE(decode_cover(front_cover().c_str(), pixels));
    const CoverRegion region = {2, 77, 10, 30};
    char name[] = "/tmp/mivo-chafa-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    EXPECT_EQ(render_cover(pixels, region, PIXELS_SYMBOLS, 10, 20, fd), -1);
    struct stat st;
    fstat(fd, &st);
    close(fd);
    EXPECT_EQ(st.st_size, 0);
    setenv("TERM_PROGRAM", "iTerm.app", 1);
    EXPECT_EQ(detect_cover_mode(), PIXELS_SYMBOLS);
    unsetenv("TERM_PROGRAM");
    // A mode asked for by name needs no library to be known.
    setenv("MIVO_COVER_MODE", "kitty", 1);
    EXPECT_EQ(detect_cover_mode(), PIXELS_KITTY);
    EXPECT_FALSE(cover_library_load());
    EXPECT_NE(strstr(cover_library_error(), MISSING), nullptr) << cover_library_error();
}

TEST_F(WithoutChafa, ThePlayerScreenSaysWhyOnceAndDrawsNothing)
{
    open_test_screen(30, 120);
    const std::string expected =
        std::string("Cover: ") + MISSING + " could not be loaded: cannot open shared object file";
    off_t written = terminal_output_of([&] {
        set_cover_image(front_cover().c_str());
        draw_cover_view();
    });
    EXPECT_EQ(written, 0);
    EXPECT_EQ(std::string(current_message()).rfind(expected, 0), 0u) << current_message();
    // Hidden and shown again, drawn over, resized: no second message.
    clear_message();
    written = terminal_output_of([&] {
        toggle_cover_view();
        draw_cover_view();
        toggle_cover_view();
        draw_cover_view();
        cover_view_disturbed();
        draw_cover_view();
    });
    EXPECT_EQ(written, 0);
    EXPECT_STREQ(current_message(), "");
    EXPECT_FALSE(cover_view_pending()) << "a view with nothing to draw keeps the loop awake";
}

} // namespace
