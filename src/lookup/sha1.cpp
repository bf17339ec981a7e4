// SPDX-License-Identifier: GPL-3.0-or-later
#include "lookup/sha1.h"

#include <cstring>

static uint32_t rotate_left(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// Mixes one 64-byte block into the five state words.
static void sha1_block(uint32_t state[5], const uint8_t block[64])
{
    uint32_t w[80];
    for (int i = 0; i < 16; i++)
        w[i] = static_cast<uint32_t>(block[4 * i]) << 24 |
               static_cast<uint32_t>(block[4 * i + 1]) << 16 |
               static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
    for (int i = 16; i < 80; i++)
        w[i] = rotate_left(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; i++) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5a827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ed9eba1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8f1bbcdc;
        } else {
            f = b ^ c ^ d;
            k = 0xca62c1d6;
        }
        uint32_t t = rotate_left(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotate_left(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

// The message is padded with 0x80, zeros and its length in bits, big-endian.
void sha1(const void *data, size_t length, uint8_t digest[SHA1_DIGEST_SIZE])
{
    uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    size_t whole = length / 64;
    for (size_t i = 0; i < whole; i++)
        sha1_block(state, bytes + 64 * i);

    uint8_t tail[128] = {};
    size_t rest = length % 64;
    if (rest > 0)
        memcpy(tail, bytes + 64 * whole, rest);
    tail[rest] = 0x80;
    size_t tail_size = rest < 56 ? 64 : 128;
    uint64_t bits = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; i++)
        tail[tail_size - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    sha1_block(state, tail);
    if (tail_size == 128)
        sha1_block(state, tail + 64);

    for (int i = 0; i < 5; i++) {
        digest[4 * i] = static_cast<uint8_t>(state[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(state[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(state[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(state[i]);
    }
}
