# SPDX-License-Identifier: GPL-3.0-or-later
"""A bounded monkey run of mivo on the stand-in drive.

Random keys (the dialogs and the editor included, with typed answers), random
resizes and random drive events for a fixed time from a fixed seed. mivo must
stay up throughout, end with status 0 on q, give the terminal back, report
nothing through a sanitizer, and leave only disc files that read back strictly.
"""

import os
import random
import signal
import time

import harness
import xmcd
from harness import Mivo

PLAYER_KEYS = "pPuUsSeEmMcCrR+=-_[]*/?" + "x0 \x1b" + "9aZ"
ARROWS = ["\x1b[A", "\x1b[B", "\x1b[C", "\x1b[D", "\x1bOP", "\x1b[5~"]
EDITOR_KEYS = "dDuUcCxdddduu"
# Typed answers never hold q or Q: where no dialog opened they reach the player.
TEXT_CHARS = "abcdefghijklmnoprstuvwxyz ABCDEFGHIJKLMNOPRSTUVWXYZ0123456789-/\\\t#=.é"


def random_text(rng, longest):
    return "".join(rng.choice(TEXT_CHARS) for _ in range(rng.randint(0, longest)))


def random_size(rng):
    if rng.random() < 0.4:
        return rng.randint(1, 12), rng.randint(1, 32)
    return rng.randint(1, 60), rng.randint(1, 200)


# The places mivo can be in, told apart on a whole 24 by 80 screen: a box in
# the middle row is a dialog, whatever lies under it.
DIALOG_TITLES = ("Go to which track?", "Track name", "Artist / Album")


def place_on_screen(m):
    """Where a whole 24 by 80 screen says mivo is, or None while it is not whole."""
    top, bottom = m.row(0), m.row(23)
    if not (top.startswith("┌") and top.endswith("┐") and bottom.startswith("└")
            and bottom.endswith("┘")):
        return None
    if m.cell(11, 10).data == "┌" and m.cell(13, 69).data == "┘":
        title = m.row(11)[11:69].strip("─ ")
        return ("dialog", title) if title in DIALOG_TITLES else None
    # The key box grows with the commands: at 24 rows its title may stand on
    # the top row itself.
    if any("Keys and words on screen" in m.row(r) for r in range(3)):
        return ("help", None)
    if top[2:23] == "KEL Track List Editor" and m.row(19).startswith("├"):
        return ("editor", None)
    banner = xmcd.name_version()
    if top[2:2 + len(banner)] == banner and m.at(18, 28, 2) == "├─":
        return ("player", None)
    return None


def where(m):
    """Where mivo is once it has read every key sent: the terminal goes to
    another size and back with the screen blanked, so only what mivo drew
    after reading the keys is judged."""
    m.wait_keys_read()
    m.wait_quiet(0.2, 3)
    m.resize(23, 80, blank=True)
    m.wait_for(lambda m: m.row(0).startswith("┌"), 5, "a redraw at 23x80")
    m.resize(24, 80, blank=True)
    found = []

    def seen(m):
        found[:] = [place_on_screen(m)]
        return found[0] is not None
    m.wait_for(seen, 5, "a whole screen that tells where mivo is")
    return found[0]


def signal_storm(m, rng):
    """Resizes mixed with SIGTSTP and SIGCONT pairs, then mivo continued for
    good: a stop requested last may wait for the next key read."""
    for _ in range(rng.randint(5, 40)):
        m.resize(*random_size(rng))
        m.signal(signal.SIGTSTP)
        if rng.random() < 0.5:
            m.resize(*random_size(rng))
        m.signal(signal.SIGCONT)
    m.resize(24, 80)

    def running(m):
        if m.process_state() in ("T", "t"):
            m.signal(signal.SIGCONT)
            return False
        return True
    m.wait_for(running, 5, "mivo to continue")
    m.wait_quiet(0.6, 3)
    m.wait_for(running, 5, "mivo to continue")


def monkey(test, seed, seconds, binary):
    """Runs the monkey; fails the test on any fault; returns a short report."""
    rng = random.Random(seed)
    discs = {"a": [2250, 3000, 1500, 4500, 750], "b": [1200, 1350, 900]}
    m = Mivo(rows=24, cols=80, control=["disc " + " ".join(map(str, discs["a"]))], binary=binary)
    test.addCleanup(m.close)
    counts = {}
    history = []

    def act(kind, detail=""):
        counts[kind] = counts.get(kind, 0) + 1
        history.append(f"{time.monotonic() - m.started:7.2f} {kind} {detail!r}")

    def check_alive():
        if not m.running():
            test.fail(f"mivo ended during the monkey run (seed {seed}):\n"
                      + "\n".join(history[-25:]) + "\n" + m.dump())

    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        check_alive()
        r = rng.random()
        if r < 0.40:
            key = rng.choice(PLAYER_KEYS) if rng.random() < 0.85 else rng.choice(ARROWS)
            act("key", key)
            m.send(key)
        elif r < 0.48:
            answer = rng.choice(["", "0", "1", "3", "5", "99", "-2", "abc", random_text(rng, 6)])
            act("go to", answer)
            m.send("g" + answer + "\r")
        elif r < 0.55:
            act("editor")
            m.send(rng.choice("tT"))
            place = where(m)
            act("where", place)
            if place[0] == "help":
                m.send("x")
                continue
            if place[0] != "editor":
                # No disc, or a dialog from a key sent before: the next turns
                # deal with it.
                continue
            for _ in range(rng.randint(1, 8)):
                k = rng.choice(EDITOR_KEYS + "eEtT\r")
                if k in "eEtT\r":
                    text = random_text(rng, 300 if rng.random() < 0.2 else 20)
                    act("edit", text)
                    m.send(k + text + "\r")
                else:
                    act("editor key", k)
                    m.send(k)
                if rng.random() < 0.2:
                    rows, cols = random_size(rng)
                    act("resize in editor", (rows, cols))
                    m.resize(rows, cols)
                time.sleep(rng.uniform(0, 0.1))
            place = where(m)
            act("where", place)
            if place[0] == "editor":
                m.send("q")
                m.wait_for(lambda m: place_on_screen(m) != ("editor", None), 3,
                           "the editor to close")
        elif r < 0.60:
            act("signal storm")
            signal_storm(m, rng)
        elif r < 0.72:
            rows, cols = random_size(rng)
            act("resize", (rows, cols))
            m.resize(rows, cols)
        else:
            event = rng.choice(["disc a", "disc b", "random disc", "empty", "insert", "error 1",
                                "error 0", "seek_end", "volume", "volume_fail"])
            if event in ("disc a", "disc b"):
                line = "disc " + " ".join(map(str, discs[event[-1]]))
            elif event == "random disc":
                lengths = [rng.randint(1, 9000) for _ in range(rng.randint(1, 99))]
                discs[f"r{len(discs)}"] = lengths
                line = "disc " + " ".join(map(str, lengths))
            elif event == "seek_end":
                line = f"seek_end {rng.randint(1, 400)}"
            elif event == "volume":
                line = "volume " + " ".join(str(rng.randint(0, 255)) for _ in range(4))
            elif event == "volume_fail":
                line = f"volume_fail {rng.randint(0, 1)}"
            else:
                line = event
            act("drive", line)
            m.drive(line)
        time.sleep(rng.uniform(0, 0.12))

    # Back to a normal size and out of any dialog, box or editor, then quit.
    check_alive()
    m.drive("error 0")
    for _ in range(6):
        place = where(m)
        act("where", place)
        if place[0] == "player":
            break
        m.send({"dialog": "\r", "help": "x", "editor": "q"}[place[0]])
    test.assertEqual(place[0], "player", "\n".join(history[-25:]))
    m.send("q")
    try:
        status = m.wait_exit(5)
    except AssertionError as e:
        raise AssertionError(f"{e}\nlast actions:\n" + "\n".join(history[-25:])
                             + "\nlast drive calls:\n" + "\n".join(m.calls()[-15:])) from None
    test.assertEqual(status, 0, "\n".join(history[-25:]))
    m.assert_terminal_restored()
    m.assert_no_sanitizer_report()

    known = {harness.disc_file_name(harness.standin_toc(lengths)) for lengths in discs.values()}
    files = sorted(os.listdir(os.path.join(m.home, ".kel"))) if os.path.isdir(
        os.path.join(m.home, ".kel")) else []
    for name in files:
        disc = xmcd.parse(os.path.join(m.home, ".kel", name))
        test.assertIn(name, known, "a file for a disc that never was in the drive")
        test.assertLessEqual(len(disc["ttitles"]), 99)
    summary = ", ".join(f"{k} {v}" for k, v in sorted(counts.items()))
    return (f"monkey seed {seed}, {seconds:.0f} s: {summary}; {len(files)} disc files read back"
)
