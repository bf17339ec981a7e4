// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/cover_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <jpeglib.h>
#include <png.h>

static uint8_t buffer[COVER_PIXELS_MAX * COVER_PIXELS_MAX * 4];
// A JPEG's file is read into memory first: libjpeg's stdio source would want
// a FILE, which the C library allocates.
static constexpr size_t FILE_MAX = 16 * 1024 * 1024;
static uint8_t file_bytes[FILE_MAX];

static long read_file(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t total = 0;
    for (;;) {
        ssize_t got = read(fd, file_bytes + total, FILE_MAX - total);
        if (got < 0) {
            close(fd);
            return -1;
        }
        if (got == 0)
            break;
        total += static_cast<size_t>(got);
        if (total == FILE_MAX) {
            // Larger than any cover mivo takes.
            close(fd);
            return -1;
        }
    }
    close(fd);
    return static_cast<long>(total);
}

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

// libjpeg's own handler would end the process; a damaged file is only no cover.
static void jpeg_failed(j_common_ptr info)
{
    longjmp(reinterpret_cast<JpegError *>(info->err)->jump, 1);
}

static void jpeg_quiet(j_common_ptr, int) {}

static bool decode_jpeg(size_t size, CoverPixels &pixels)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_failed;
    error.manager.emit_message = jpeg_quiet;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file_bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    // libjpeg scales by 1/2, 1/4 or 1/8 while it decodes.
    info.scale_num = 1;
    info.scale_denom = 1;
    while (info.scale_denom < 8 && (info.image_width / info.scale_denom > COVER_PIXELS_MAX ||
                                     info.image_height / info.scale_denom > COVER_PIXELS_MAX))
        info.scale_denom *= 2;
    jpeg_start_decompress(&info);
    if (info.output_width > static_cast<unsigned>(COVER_PIXELS_MAX) ||
        info.output_height > static_cast<unsigned>(COVER_PIXELS_MAX) || info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    const size_t stride = static_cast<size_t>(info.output_width) * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = buffer + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    pixels = {buffer, static_cast<int32_t>(info.output_width),
              static_cast<int32_t>(info.output_height)};
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

static bool decode_png(size_t size, CoverPixels &pixels)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file_bytes, size))
        return false;
    if (image.width > static_cast<unsigned>(COVER_PIXELS_MAX) ||
        image.height > static_cast<unsigned>(COVER_PIXELS_MAX)) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_finish_read(&image, nullptr, buffer, 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    pixels = {buffer, static_cast<int32_t>(image.width), static_cast<int32_t>(image.height)};
    return true;
}

bool decode_cover(const char *path, CoverPixels &pixels)
{
    pixels = {nullptr, 0, 0};
    long size = read_file(path);
    if (size < 8)
        return false;
    bool ok = false;
    if (file_bytes[0] == 0xff && file_bytes[1] == 0xd8)
        ok = decode_jpeg(static_cast<size_t>(size), pixels);
    else if (memcmp(file_bytes, "\x89PNG", 4) == 0)
        ok = decode_png(static_cast<size_t>(size), pixels);
    if (!ok)
        pixels = {nullptr, 0, 0};
    return ok;
}
