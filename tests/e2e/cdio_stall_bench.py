#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real mivo's main-loop turns while a drive's reads stall for 3 s.

    cdio_stall_bench.py --mivo BUILD/mivo --standin-dir DIR --shim BUILD/.../libmivo_stall_shim.so

mivo plays a BIN/CUE image that libcdio opens as the default drive (read
through paranoia, as a real drive is) on sdl12-compat with SDL's disk driver.
The preloaded shim (stall_shim.c) hangs one read of the BIN for 3 s and logs
the main loop's work between waits: the time from the return of one of its
waits for a key (half a second at most) to the start of the next. Keys are sent throughout, so that turns
which handle a key are among those timed.

Two stalls: mid-disc while playing (also the gap it leaves in what is played),
and in the drive's first reading of its disc at start-up, as a drive spinning
up does (also how soon the screen is up and the disc shown).
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import pcm_image  # noqa: E402
from harness import Mivo  # noqa: E402

LENGTHS = [1500, 1500, 1500]
STALL_AT_SECONDS = 15
BYTES_PER_SECOND = 44100 * 4


def status(m):
    return m.at(2, 14, 14).strip()


def read_log(path):
    turns, stall, first_wait = [], None, None
    with open(path) as f:
        for line in f:
            words = line.split()
            if words[0] == "turn":
                turns.append((float(words[1]), words[2] == "1"))
            elif words[0] == "stall":
                stall = (float(words[1]), float(words[2]))
            elif words[0] == "first-wait":
                first_wait = float(words[1])
    return turns, stall, first_wait


def send_keys_for(m, seconds, keys):
    """Keys every 300 ms, so that turns which handle a key are timed too."""
    deadline = time.monotonic() + seconds
    i = 0
    while time.monotonic() < deadline:
        m.send(keys[i % len(keys)])
        i += 1
        time.sleep(0.3)


def start(scratch, name, stall_at_bytes, arm_file=None):
    sheet = pcm_image.write_image(os.path.join(scratch, name), LENGTHS, kind="BINARY")
    log = os.path.join(scratch, name, "turns.log")
    env = {"MIVO_TEST_CDIO_IMAGE": sheet, "LD_PRELOAD": SHIM,
           "MIVO_STALL_AT_BYTES": str(stall_at_bytes), "MIVO_STALL_SECONDS": "3",
           "MIVO_TURN_LOG": log}
    if arm_file:
        env["MIVO_STALL_ARM_FILE"] = arm_file
    return Mivo(drive="image-compat", args=[], control=[], env=env), log


def turn_figures(label, log):
    turns, stall, first_wait = read_log(log)
    if stall is None:
        print(f"{label}: the stall did not happen, no figures")
        return None
    during = [ms for ms, in_stall in turns if in_stall]
    print(f"{label}: the main loop's work between two waits for a key during the "
          f"{stall[1] - stall[0]:.1f} s stall: longest {max(during, default=float('nan')):.2f} ms "
          f"over {len(during)} waits; {max(ms for ms, _ in turns):.2f} ms over all "
          f"{len(turns)} waits of the run")
    return stall, first_wait


def mid_disc(scratch):
    arm = os.path.join(scratch, "armed")
    m, log = start(scratch, "mid", STALL_AT_SECONDS * BYTES_PER_SECOND, arm)
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 20, "the drive")
        open(arm, "w").close()
        m.send("p")
        m.wait_for(lambda m: status(m) == "Playing", 10, "playing")
        send_keys_for(m, STALL_AT_SECONDS + 8, "cr")  # play mode back and forth
        m.send("q")
        m.wait_exit(10)
        played, longest_gap = pcm_image.runs(m.audio_path)
    finally:
        m.close()
    if turn_figures(f"stall {STALL_AT_SECONDS} s into the disc", log):
        print(f"  what was played: {len(played)} unbroken run(s), longest silence inside "
              f"{longest_gap} sample(s)")


def at_start_up(scratch):
    m, log = start(scratch, "spin-up", 0)
    try:
        m.wait_for(lambda m: "Track List" in m.text(), 10, "the screen")
        screen_up = time.monotonic()
        # Volume up and down: a play mode would start the disc once it is read.
        send_keys_for(m, 1.0, "*/")
        m.wait_for(lambda m: status(m) == "Stopped", 20, "the disc")
        disc_shown = time.monotonic()
        send_keys_for(m, 1.0, "*/")
        m.send("q")
        m.wait_exit(10)
    finally:
        m.close()
    figures = turn_figures("a drive taking 3 s to read its disc at start-up", log)
    if figures:
        stall, _ = figures
        print(f"  screen up {(screen_up - m.started) * 1000:.0f} ms after the start "
              f"(the stall began {(stall[0] - m.started) * 1000:.0f} ms after it); "
              f"disc shown {(disc_shown - stall[1]) * 1000:.0f} ms after the stall ended")


def main():
    global SHIM
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    parser.add_argument("--shim", required=True)
    opts = parser.parse_args()
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo),
                          standin_dir=os.path.abspath(opts.standin_dir))
    SHIM = os.path.abspath(opts.shim)
    scratch = tempfile.mkdtemp(prefix="mivo-stall-")
    try:
        mid_disc(scratch)
        at_start_up(scratch)
        return 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


SHIM = None

if __name__ == "__main__":
    sys.exit(main())
