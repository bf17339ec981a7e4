"""A bounded monkey run of mivo on the stand-in drive.

Random keys (the dialogs and the editor included, with typed answers), random
resizes and random drive events for a fixed time from a fixed seed. mivo must
stay up throughout, end with status 0 on q, give the terminal back, report
nothing through a sanitizer, and leave only disc files that read back strictly.
"""

import os
import random
import time

import harness
import xmcd
from harness import Mivo

PLAYER_KEYS = "pPuUsSeEmMcCrR+=-_[]*/" + "x0 \x1b" + "9aZ"
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

    def in_editor():
        return "KEL Track List Editor" in m.text()

    def dialog_open():
        text = m.text()
        return any(t in text for t in ("Go to which track?", "Track name", "Artist / Album"))

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
            m.send("g")
            time.sleep(0.05)
            m.send(answer + "\r")
        elif r < 0.55:
            act("editor")
            m.send(rng.choice("tT"))
            try:
                m.wait_for(lambda m: in_editor(), 1.0, "the editor")
            except AssertionError:
                # No disc, or a terminal too small to show the heading: at full
                # size the next redraw tells.
                m.resize(24, 80)
                time.sleep(1.0)
                if not in_editor():
                    continue
            for _ in range(rng.randint(1, 8)):
                k = rng.choice(EDITOR_KEYS + "eEtT\r")
                if k in "eEtT\r":
                    text = random_text(rng, 300 if rng.random() < 0.2 else 20)
                    act("edit", text)
                    m.send(k)
                    time.sleep(0.05)
                    m.send(text + "\r")
                else:
                    act("editor key", k)
                    m.send(k)
                if rng.random() < 0.2:
                    rows, cols = random_size(rng)
                    act("resize in editor", (rows, cols))
                    m.resize(rows, cols)
                time.sleep(rng.uniform(0, 0.1))
            m.resize(24, 80)
            m.wait_quiet(0.3, 3)
            if in_editor() and not dialog_open():
                m.send("q")
                m.wait_for(lambda m: not in_editor(), 3, "the editor to close")
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

    # Back to a normal size and out of any dialog or editor, then quit.
    check_alive()
    m.drive("error 0")
    m.resize(24, 80)
    time.sleep(1.0)  # a redraw at the full size, in the player or the editor
    m.wait_quiet(0.6, 5)
    for _ in range(4):
        if dialog_open():
            m.send("\r")
        elif in_editor():
            m.send("q")
        else:
            break
        m.wait_quiet(0.6, 5)
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
