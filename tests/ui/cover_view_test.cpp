// SPDX-License-Identifier: GPL-3.0-or-later
// The cover's place on the player screen, its decoding, and what chafa's
// drawing of it writes to the terminal in each of its modes.
#include "ui/cover_view.h"

#include "desktop/cover_image.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::string covers_data(const std::string &name)
{
    const char *root = getenv("MIVO_TEST_DATA");
    return std::string(root ? root : "tests/data") + "/covers/" + name;
}

std::string temp_file(const std::string &suffix)
{
    char name[] = "/tmp/mivo-view-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::string path = std::string(name) + suffix;
    rename(name, path.c_str());
    return path;
}

TEST(CoverRegion, OnlyWhereTheKeysLeaveRoom)
{
    struct Case {
        int lines, cols;
        bool room;
    } cases[] = {
        {24, 80, false},  // the classic size: the keys fill the panel
        {24, 98, false},  // one column short
        {24, 99, true},
        {15, 200, false}, // one row short
        {16, 200, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.lines << "x" << c.cols);
        CoverRegion r;
        ASSERT_EQ(cover_region_for(c.lines, c.cols, r), c.room);
        if (c.room) {
            // Clear of the longest key label (column 78) and of the frame.
            EXPECT_GE(r.left, 80);
            EXPECT_LE(r.left + r.cols, c.cols - 2);
            EXPECT_GE(r.top, 2);
            EXPECT_LE(r.top + r.rows, c.lines - 8);
        }
    }
}

// A JPEG of the given size, one colour, made with libjpeg.
void write_jpeg(const std::string &path, int width, int height)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3, 128);
    while (c.next_scanline < c.image_height) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    fclose(f);
}

TEST(CoverImage, DecodesJpegAndPngWithinTheBound)
{
    CoverPixels p;
    ASSERT_TRUE(decode_cover(covers_data("front.jpg").c_str(), p));
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.height, 32);
    // The top-left quarter is (220, 40, 200), give or take JPEG's rounding.
    EXPECT_NEAR(p.rgba[0], 220, 12);
    EXPECT_NEAR(p.rgba[1], 40, 12);
    EXPECT_NEAR(p.rgba[2], 200, 12);
    EXPECT_EQ(p.rgba[3], 255);

    // A large JPEG is scaled down as it is decoded.
    std::string big = temp_file(".jpg");
    write_jpeg(big, 3000, 40);
    ASSERT_TRUE(decode_cover(big.c_str(), p));
    EXPECT_LE(p.width, COVER_PIXELS_MAX);
    EXPECT_EQ(p.width, 750); // 3000 / 4
    unlink(big.c_str());

    std::string png = temp_file(".png");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 3;
    image.height = 2;
    image.format = PNG_FORMAT_RGBA;
    const unsigned char pixels[24] = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255,
                                      10, 11, 12, 255, 13, 14, 15, 255, 16, 17, 18, 128};
    ASSERT_TRUE(png_image_write_to_file(&image, png.c_str(), 0, pixels, 0, nullptr));
    ASSERT_TRUE(decode_cover(png.c_str(), p));
    EXPECT_EQ(p.width, 3);
    EXPECT_EQ(p.height, 2);
    EXPECT_EQ(std::vector<unsigned char>(p.rgba, p.rgba + 24),
              std::vector<unsigned char>(pixels, pixels + 24));
    unlink(png.c_str());
}

TEST(CoverImage, DamagedFilesAreNoCoverNotAnEnd)
{
    std::ifstream in(covers_data("front.jpg"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string jpeg = s.str();
    const std::string cases[] = {
        jpeg.substr(0, jpeg.size() / 3),            // cut short
        jpeg.substr(0, 2) + std::string(600, 'x'), // a JPEG's mark, then nothing of one
        "\x89PNG\r\n\x1a\n" + std::string(40, '\0'),
        "GIF89a, which mivo does not read",
    };
    for (const std::string &bytes : cases) {
        std::string path = temp_file(".img");
        std::ofstream(path, std::ios::binary) << bytes;
        CoverPixels p;
        EXPECT_FALSE(decode_cover(path.c_str(), p));
        EXPECT_EQ(p.rgba, nullptr);
        unlink(path.c_str());
    }
    CoverPixels p;
    EXPECT_FALSE(decode_cover("/nonexistent/cover.jpg", p));
}

std::string render(CoverPixelMode mode, const CoverRegion &region)
{
    CoverPixels p;
    EXPECT_TRUE(decode_cover(covers_data("front.jpg").c_str(), p));
    std::string path = temp_file(".out");
    FILE *f = fopen(path.c_str(), "w+");
    long n = render_cover(p, region, mode, 10, 20, fileno(f));
    fclose(f);
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    unlink(path.c_str());
    EXPECT_EQ(n, static_cast<long>(s.str().size()));
    return s.str();
}

TEST(CoverRender, EachModeWritesItsOwnSequencesInsideTheRegion)
{
    setenv("TERM", "xterm-256color", 1);
    const CoverRegion region = {2, 77, 10, 30};
    struct Case {
        CoverPixelMode mode;
        const char *mark; // what the mode's output holds
    } cases[] = {
        {PIXELS_SYMBOLS, "\033[38;"},
        {PIXELS_SIXELS, "\033P"},
        {PIXELS_KITTY, "\033_G"},
        {PIXELS_ITERM, "\033]1337;File="},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        std::string out = render(c.mode, region);
        // The cursor is saved first and given back last, attributes reset.
        ASSERT_GE(out.size(), 8u);
        EXPECT_EQ(out.substr(0, 2), "\0337");
        EXPECT_EQ(out.substr(out.size() - 6), "\033[0m\0338");
        EXPECT_NE(out.find(c.mark), std::string::npos) << testing::PrintToString(out.substr(0, 120));
        EXPECT_NE(out.find("\033[3;78H"), std::string::npos);
    }
    // Symbols: a row at a time, each placed at the region's left, none below it.
    std::string out = render(PIXELS_SYMBOLS, region);
    for (int row = 3; row <= 12; row++)
        EXPECT_NE(out.find("\033[" + std::to_string(row) + ";78H"), std::string::npos) << row;
    EXPECT_EQ(out.find("\033[13;78H"), std::string::npos);
    EXPECT_EQ(out.find('\n'), std::string::npos);
}

} // namespace
