// SPDX-License-Identifier: GPL-3.0-or-later
// The sound card's callback: takes frames off the reader's ring at the
// current volume. It only reads atomics, moves ring counters and copies
// bytes: no lock, no allocation, no wait, no log.
#include "drive/digital/digital_threads.h"

#include <algorithm>
#include <cstring>
#include <ctime>

CallbackState callback;

void reset_callback()
{
    callback.played.store(0);
    callback.finished_generation.store(0);
    callback.failed_generation.store(0);
    callback.underruns.store(0);
    callback.fill_version.store(0);
    callback.fill_played.store(0);
    callback.fill_ns.store(0);
    callback.entry_offset = 0;
}

bool heard_sample(uint32_t gen, int64_t now, int latency, uint32_t &sample)
{
    uint64_t played = 0;
    int64_t at = 0;
    // The callback writes the pair in a few stores; a read that meets one
    // under way tries again, and after a few tries takes the last sample
    // handed over as the one heard.
    bool whole = false;
    for (int tries = 0; tries < 8 && !whole; tries++) {
        uint32_t before = callback.fill_version.load(std::memory_order_acquire);
        played = callback.fill_played.load(std::memory_order_relaxed);
        at = callback.fill_ns.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        whole =
            (before & 1) == 0 && callback.fill_version.load(std::memory_order_relaxed) == before;
    }
    uint64_t latest = callback.played.load(std::memory_order_acquire);
    if ((latest >> 32) != gen)
        return false;
    sample = static_cast<uint32_t>(latest);
    if (latency <= 0 || !whole || (played >> 32) != gen)
        return true;
    // The fill's last sample is heard latency samples after the fill began,
    // and the device plays on at its rate from what it holds.
    uint32_t handed = static_cast<uint32_t>(played);
    int64_t since = std::max<int64_t>(now - at, 0);
    int64_t ahead = std::min<int64_t>(since * OUTPUT_RATE / 1'000'000'000, latency);
    int64_t heard = int64_t{handed} - latency + ahead;
    sample = static_cast<uint32_t>(std::clamp<int64_t>(heard, 0, sample));
    return true;
}

// The gain of each volume level in 1/65536ths: (level / 255) cubed, as
// desktop mixers scale, so that every step is heard about alike (a step of 5
// near the top is some 0.5 dB, near the bottom several dB) and 0 is silence.
// 255 is unity, so full volume passes samples unchanged.
struct GainTable {
    int32_t gain[256];
    constexpr GainTable() : gain()
    {
        constexpr int64_t full = int64_t{255} * 255 * 255;
        for (int64_t level = 0; level < 256; level++)
            gain[level] = static_cast<int32_t>((level * level * level * 65536 + full / 2) / full);
    }
};
constexpr GainTable gains;
static_assert(gains.gain[255] == 65536 && gains.gain[0] == 0);

// Scales one sample by a gain in 1/65536ths.
static int16_t scaled(int16_t sample, int32_t gain)
{
    return static_cast<int16_t>(static_cast<int32_t>(sample) * gain / 65536);
}

// Copies n bytes (whole stereo samples) of PCM at the current volume.
static void copy_at_volume(uint8_t *out, const uint8_t *in, int n, uint32_t levels)
{
    int32_t left = gains.gain[levels & 0xff];
    int32_t right = gains.gain[(levels >> 8) & 0xff];
    if (left == 65536 && right == 65536) {
        memcpy(out, in, static_cast<size_t>(n));
        return;
    }
    for (int i = 0; i + 4 <= n; i += 4) {
        int16_t pair[2];
        memcpy(pair, in + i, sizeof pair);
        pair[0] = scaled(pair[0], left);
        pair[1] = scaled(pair[1], right);
        memcpy(out + i, pair, sizeof pair);
    }
}

void fill_audio(uint8_t *stream, int len)
{
    auto &frames = reader.frames;
    uint8_t *out = stream;
    int left = len & ~3;
    int64_t began = monotonic_ns();
    // paused is read before the generation: the main loop stores a new
    // generation before it clears paused, so unpaused audio is never stale.
    bool is_paused = main_loop.paused.load(std::memory_order_acquire);
    uint32_t gen = main_loop.generation.load(std::memory_order_acquire);
    uint32_t levels = main_loop.volume_bits.load(std::memory_order_relaxed);
    while (!is_paused && left > 0) {
        RingEntry *entry = frames.read_slot();
        if (entry == nullptr) {
            bool started = (callback.played.load(std::memory_order_relaxed) >> 32) == gen;
            if (started && callback.finished_generation.load(std::memory_order_relaxed) != gen &&
                callback.failed_generation.load(std::memory_order_relaxed) != gen)
                callback.underruns.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        if (entry->generation != gen) {
            // A command that came while this buffer was being filled may
            // already have audio queued: that is the newest, not stale.
            uint32_t now = main_loop.generation.load(std::memory_order_acquire);
            if (entry->generation == now) {
                gen = now;
                continue;
            }
        }
        if (entry->generation != gen || entry->kind != ENTRY_AUDIO) {
            if (entry->generation == gen && entry->kind == ENTRY_END)
                callback.finished_generation.store(gen, std::memory_order_release);
            if (entry->generation == gen && entry->kind == ENTRY_ERROR)
                callback.failed_generation.store(gen, std::memory_order_release);
            // The reader passes the end on to the main loop, which restarts a
            // repeat at once rather than at its next turn.
            if (entry->generation == gen && entry->kind != ENTRY_AUDIO)
                sem_post(&reader.wake);
            frames.release();
            callback.entry_offset = 0;
            continue;
        }
        int n = std::min(left, static_cast<int>(FRAME_BYTES - callback.entry_offset));
        copy_at_volume(out,
                       reinterpret_cast<const uint8_t *>(entry->samples) + callback.entry_offset, n,
                       levels);
        out += n;
        left -= n;
        callback.entry_offset += static_cast<uint32_t>(n);
        uint64_t sample = uint64_t{entry->frame} * SAMPLES_PER_FRAME + callback.entry_offset / 4;
        callback.played.store((uint64_t{gen} << 32) | (sample & 0xffffffffu),
                              std::memory_order_release);
        if (callback.entry_offset == FRAME_BYTES) {
            frames.release();
            callback.entry_offset = 0;
        }
    }
    if (out != stream) {
        uint32_t v = callback.fill_version.load(std::memory_order_relaxed);
        callback.fill_version.store(v + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        callback.fill_played.store(callback.played.load(std::memory_order_relaxed),
                                   std::memory_order_relaxed);
        callback.fill_ns.store(began, std::memory_order_relaxed);
        callback.fill_version.store(v + 2, std::memory_order_release);
    }
    memset(out, 0, static_cast<size_t>(len - (out - stream)));
    // Only a reader waiting for room is woken, and only once per nap: an idle
    // reader is left asleep while the ring stays empty.
    // The fence pairs with the reader's between its hungry flag and its look
    // at the ring: one of the two always sees the other.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (frames.size() < RING_LOW_WATER && reader.hungry.load(std::memory_order_relaxed) &&
        reader.hungry.exchange(false, std::memory_order_acq_rel))
        sem_post(&reader.wake);
}
