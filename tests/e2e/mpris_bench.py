#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures the desktop's remote control and the cover in the real mivo on the
stand-in drive, with a session bus of its own, and prints the figures.

    mpris_bench.py --mivo BUILD/mivo --standin-dir DIR [--calls N] [--idle S]

- From a method call's reply, which mivo sends as its loop wakes for the
  call, to the drive command the call comes to: median and 99th percentile.
- Bytes written and CPU used by an idle mivo over S seconds, with the remote
  control on and a cover shown, against both off.
- Resident memory with a cover shown, against without one.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dbus  # noqa: E402  (python3-dbus)

import harness  # noqa: E402
import xmcd  # noqa: E402
from harness import Mivo  # noqa: E402
from scenarios import DISC, DISC_LINE  # noqa: E402  (before mpris, which it imports)
from mpris import BUS_NAME, COVERS, MBID, OBJECT, SessionBus, wait_until  # noqa: E402


def call_latencies(bus, calls):
    m = Mivo(control=[DISC_LINE], env={"DBUS_SESSION_BUS_ADDRESS": bus.address,
                                       "MIVO_NO_MPRIS": ""})
    try:
        connection = dbus.bus.BusConnection(bus.address)
        wait_until("mivo on the bus", lambda: connection.name_has_owner(BUS_NAME))
        player = dbus.Interface(connection.get_object(BUS_NAME, OBJECT),
                                "org.mpris.MediaPlayer2.Player")
        after_reply = []
        for _ in range(calls):
            mark = m.mark()
            player.PlayPause()
            replied = time.monotonic()
            while not m.calls_matching(r"^(PlayTracks|Pause|Resume)", since=mark):
                time.sleep(0.0002)
            after_reply.append((time.monotonic() - replied) * 1000)
            time.sleep(0.02)  # the loop is asleep again before the next call
        return after_reply
    finally:
        m.close()


COVER = os.path.join(COVERS, "front.jpg")


def cover_home(scratch):
    """A home whose title file names a release, and a cache that has its cover."""
    home = os.path.join(scratch, "home")
    toc = harness.standin_toc(DISC)
    path = os.path.join(home, ".kel", harness.disc_file_name(toc))
    xmcd.write(path, "Anna Example / Songs for Tests", ["One"], toc[:-1])
    with open(path, encoding="latin-1") as f:
        text = f.read().replace("EXTD=\n", f"EXTD=https://musicbrainz.org/release/{MBID}\n")
    with open(path, "w", encoding="latin-1") as f:
        f.write(text)
    covers = os.path.join(scratch, "cache", "mivo", "covers")
    os.makedirs(covers)
    shutil.copy(COVER, os.path.join(covers, MBID + ".jpg"))
    return home


def rss_kib(m):
    with open(f"/proc/{m.pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def idle_run(bus, scratch, remote, cover, seconds):
    """(bytes written, CPU seconds, resident KiB) of a mivo left alone."""
    env = {"XDG_CACHE_HOME": os.path.join(scratch, "cache"),
           "MIVO_COVERART_URL": "http://127.0.0.1:9"}
    if remote:
        env.update(DBUS_SESSION_BUS_ADDRESS=bus.address, MIVO_NO_MPRIS="")
    m = Mivo(rows=30, cols=120, control=[DISC_LINE], env=env,
             home=cover_home(scratch) if cover else None)
    try:
        m.wait_text("Stopped")
        if cover:
            m.wait_for(lambda m: any(m.screen.buffer[y][x].bg not in harness.COLOUR.values()
                                     and m.screen.buffer[y][x].bg != "default"
                                     for y in range(30) for x in range(80, 119)), 10, "the cover")
        m.wait_quiet(1.0, 10)
        written, cpu = len(m.raw), m.cpu_seconds()
        time.sleep(seconds)
        return len(m.raw) - written, m.cpu_seconds() - cpu, rss_kib(m)
    finally:
        m.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    parser.add_argument("--calls", type=int, default=200)
    parser.add_argument("--idle", type=float, default=20)
    parser.add_argument("--cover", help="the JPEG to show (a 32-pixel test image by default)")
    opts = parser.parse_args()
    global COVER
    COVER = opts.cover or COVER
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo),
                          standin_dir=os.path.abspath(opts.standin_dir))
    bus = SessionBus()
    try:
        ms = sorted(call_latencies(bus, opts.calls))
        p99 = ms[min(len(ms) - 1, int(len(ms) * 0.99))]
        print(f"method reply to drive command: median {statistics.median(ms):.2f} ms, "
              f"p99 {p99:.2f} ms, max {ms[-1]:.2f} ms ({len(ms)} PlayPause calls)")
        for label, remote, cover in (("remote control on, cover shown", True, True),
                                     ("remote control on, no cover", True, False),
                                     ("remote control off, no cover", False, False)):
            scratch = tempfile.mkdtemp(prefix="mivo-mpris-bench-")
            try:
                written, cpu, rss = idle_run(bus, scratch, remote, cover, opts.idle)
            finally:
                shutil.rmtree(scratch, True)
            print(f"idle {opts.idle:.0f} s, {label}: {written} bytes written, "
                  f"{cpu * 1000:.0f} ms CPU, resident {rss} KiB")
    finally:
        bus.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
