// SPDX-License-Identifier: GPL-3.0-or-later
// SHA-1 over a byte string, for MusicBrainz's disc ids: no state beyond the
// call, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int SHA1_DIGEST_SIZE = 20;

// Writes the 20-byte digest of length bytes of data to digest.
void sha1(const void *data, size_t length, uint8_t digest[SHA1_DIGEST_SIZE]);
