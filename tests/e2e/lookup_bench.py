#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Measures title lookups in the running mivo against the local stand-in
server (tests/lookup/lookup_server.py) and prints the figures.

    lookup_bench.py --mivo BUILD/mivo --standin-dir DIR

The longest a key waits for its effect on the screen while a lookup is held
up by a server that answers after 3 s, and by one that never answers: a turn
of the main loop that blocked would show here as a long wait. And the time
from the server's reply to the titles on the screen.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from harness import Mivo  # noqa: E402
from lookup_support import PRIVATEERING_2, LookupServer, disc_line  # noqa: E402

MODES = (("c", "Repeat CD"), ("r", "Repeat Track"))


def start(server, mode):
    return Mivo(control=[disc_line(PRIVATEERING_2)],
                env={"MIVO_NO_LOOKUP": "", "MIVO_MUSICBRAINZ_URL": server.url(mode)})


def key_waits(m, server, seconds):
    """Sends mode keys for `seconds` after the request arrived; the waits."""
    m.wait_for(lambda m: server.requests(), 10, "the request")
    waits = []
    end = time.monotonic() + seconds
    i = 0
    while time.monotonic() < end:
        key, mode = MODES[i % 2]
        i += 1
        sent = time.monotonic()
        m.send(key)
        m.wait_for(lambda m: mode in m.row(3), 5, mode)
        waits.append(time.monotonic() - sent)
        time.sleep(0.13)
    return waits


def turn_lengths(m, server, seconds):
    """The main loop's turns while the lookup waits, `seconds` long: each turn
    asks the stand-in drive for its status once, so the time between two
    "Status" lines of its call log is one turn, its wait included."""
    m.wait_for(lambda m: server.requests(), 10, "the request")
    seen, stamps = 0, []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        count = sum(1 for line in m.calls() if line.startswith("Status"))
        if count > seen:
            stamps.append(time.monotonic())
            seen = count
        time.sleep(0.001)
    return [b - a for a, b in zip(stamps, stamps[1:])]


def reply_to_screen(server, mode, delay):
    """Seconds from the server's reply (request time + delay) to the titles."""
    with start(server, mode) as m:
        m.wait_text("Privateering (disc 2)", 20)
        shown = time.time()
        asked = server.requests()[-1]["time"]
        return shown - asked - delay


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    opts = parser.parse_args()
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo),
                          standin_dir=os.path.abspath(opts.standin_dir))
    server = LookupServer()
    try:
        for mode, label, seconds in (("slow-3000", "server answering after 3 s", 2.8),
                                     ("never", "server never answering", 6.0)):
            with start(server, mode) as m:
                turns = turn_lengths(m, server, seconds)
            print(f"main-loop turns during a lookup, {label}: longest {max(turns) * 1000:.0f} ms "
                  f"over {len(turns)} turns (the wait is 500 ms)")
            with start(server, mode) as m:
                waits = key_waits(m, server, seconds)
            print(f"key to screen during a lookup, {label}: longest {max(waits) * 1000:.0f} ms, "
                  f"median {sorted(waits)[len(waits) // 2] * 1000:.0f} ms over {len(waits)} keys")
        for mode, delay in (("mb", 0.0), ("slow-3000", 3.0)):
            times = [reply_to_screen(server, mode, delay) for _ in range(3)]
            print(f"reply to titles on screen ({mode}): "
                  + ", ".join(f"{t * 1000:.0f} ms" for t in times)
                  + (" beyond the server's 3 s" if delay else ""))
    finally:
        server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
