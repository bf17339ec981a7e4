// SPDX-License-Identifier: GPL-3.0-or-later
// What a fuzz target gives the standalone driver besides LLVMFuzzerTestOneInput:
// the words of its format, which the driver splices into its inputs, and the
// bytes it puts before each seed file (a target reading its first bytes as
// settings gets a fixed choice for the seeds as they stand). libFuzzer ignores
// both.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzHints {
    const char *const *tokens;
    size_t token_count;
    const char *seed_prefix;
    size_t seed_prefix_length;
};

extern const FuzzHints fuzz_hints;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
