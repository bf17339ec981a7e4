#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures the running mivo on the stand-in drive and prints the figures.

    bench.py --mivo BUILD/mivo --standin-dir DIR [--seconds N]

Terminal output per second while stopped and idle and while playing, the time
from a key to its effect on the screen, the time from start to the first full
screen, CPU time per minute while idle and the peak resident memory.
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from harness import Mivo  # noqa: E402

DISC = "disc 2250 3000 1500 4500 750"
MODES = ("Repeat CD", "Repeat Track", "Normal")


def bytes_between(m, t0, t1):
    with m.lock:
        return sum(n for t, n in m.chunks if t0 <= t < t1)


def output_rate(m, seconds):
    t0 = time.monotonic()
    time.sleep(seconds)
    return bytes_between(m, t0, time.monotonic()) / seconds


def mode_text(m):
    return m.at(3, 14, 14).strip()


def key_latencies(m, samples):
    """Seconds from the play-mode key to the new mode on the screen."""
    out = []
    for _ in range(samples):
        before = mode_text(m)
        t0 = time.monotonic()
        m.send("m")
        m.wait_for(lambda m: mode_text(m) != before, 3, "the mode to change")
        out.append(time.monotonic() - t0)
        time.sleep(0.05)
    return out


def cursor_row(m):
    """The track list's row in reverse video, or None."""
    for row in range(10, 15):
        if m.cell(row, 3).reverse:
            return row
    return None


def cursor_latencies(m, samples):
    """Seconds from a cursor key (Down, then Up) to the cursor's new row on the screen."""
    out = []
    for i in range(samples):
        before = cursor_row(m)
        key = "\x1bOB" if before == 10 or (before != 14 and i % 8 < 4) else "\x1bOA"
        t0 = time.monotonic()
        m.send(key)
        m.wait_for(lambda m: cursor_row(m) not in (None, before), 3, "the cursor to move")
        out.append(time.monotonic() - t0)
        time.sleep(0.05)
    return out


def enter_latencies(m, samples):
    """Seconds from Enter on a stopped disc to the track under the cursor shown playing."""
    out = []
    for i in range(samples):
        m.send("s")
        m.wait_for(lambda m: m.at(2, 14, 7) == "Stopped", 3, "the stop")
        m.send("\x1bOB" if i % 2 == 0 else "\x1bOA")
        m.wait_for(lambda m: cursor_row(m) is not None, 3, "the cursor")
        time.sleep(0.05)
        track = f"{cursor_row(m) - 9} of 5"
        t0 = time.monotonic()
        m.send("\r")
        m.wait_for(lambda m: m.at(2, 14, 7) == "Playing" and m.at(4, 14, 6) == track, 3,
                   "the chosen track playing")
        out.append(time.monotonic() - t0)
    return out


def say_latencies(label, lat):
    print(f"{label:35s} median {statistics.median(lat) * 1000:6.1f} ms, "
          f"99th percentile {percentile(lat, 99) * 1000:6.1f} ms ({len(lat)} keys)")


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--samples", type=int, default=100)
    opts = parser.parse_args()
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo), standin_dir=os.path.abspath(opts.standin_dir))

    m = Mivo(rows=24, cols=80, control=[DISC])
    try:
        t0 = m.started
        try:
            m.wait_for(lambda m: "Disc Information" in m.text(), 5, "the first screen")
            full = True
        except AssertionError:
            full = False
            print("the player screen is not drawn: times are to the first output")
        m.wait_for(lambda m: m.chunks, 10, "any output")
        first = (time.monotonic() if full else m.chunks[0][0]) - t0
        label = "start to first full screen" if full else "start to first output"
        print(f"{label:35s} {first * 1000:8.1f} ms")

        time.sleep(1)
        cpu0, w0 = m.cpu_seconds(), time.monotonic()
        idle = output_rate(m, opts.seconds)
        cpu1, w1 = m.cpu_seconds(), time.monotonic()
        print(f"terminal output, stopped and idle   {idle:8.1f} bytes/s")
        print(f"CPU time while idle                 {(cpu1 - cpu0) / (w1 - w0) * 60 * 1000:8.1f} ms per minute")

        m.send("p")
        time.sleep(1)
        playing = output_rate(m, opts.seconds)
        print(f"terminal output, playing            {playing:8.1f} bytes/s")
        m.send("s")
        time.sleep(0.5)

        if full and mode_text(m) in MODES:
            lat = key_latencies(m, opts.samples)
            print(f"key to its effect on screen         median {statistics.median(lat) * 1000:6.1f} ms, "
                  f"99th percentile {percentile(lat, 99) * 1000:6.1f} ms ({len(lat)} keys)")
            if cursor_row(m) is not None:
                say_latencies("cursor key to the cursor moved", cursor_latencies(m, opts.samples))
                say_latencies("Enter to the chosen track playing", enter_latencies(m, opts.samples))
            else:
                print("cursor key to the cursor moved      n/a: no cursor in the track list")
        else:
            print("key to its effect on screen         n/a: no player screen")
        print(f"peak resident memory                {m.peak_rss_kib():8d} KiB")
        m.send("s")
        m.send("q")
        m.wait_exit(5)
    finally:
        m.close()


if __name__ == "__main__":
    main()
