#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""mivo against cmus and mpv as a listener hears them: each plays a 45-minute
disc (12 FLAC files, and the same as one WAV) into a PulseAudio null sink that
this script starts, paced by the server's clock, and the sink's monitor is
recorded. Every sample of the disc says where it lies (pcm_image's pattern,
kept exactly by FLAC), so the recording tells what was heard and when.

    sink_bench.py --mivo BUILD/mivo [--seconds N] [--players mivo,cmus,mpv]

Per player and file kind: CPU per minute and wake-ups per second playing and
paused, command to first screen and to first sound, pause to silence, resume
and seek to new sound (as heard), shown time minus heard time, resident and
private memory. A peer that is not installed is skipped with a note. Not a
test: no limits.
"""

import argparse
import array
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import pcm_image  # noqa: E402
from harness import Mivo  # noqa: E402

TRACKS = 12
TRACK_FRAMES = 16875  # 3:45, so the disc lasts 45 minutes
LEAD_IN = pcm_image.LEAD_IN
RATE = 44100


# ----- the disc -----

def write_pcm(path, first, count):
    """count frames of the pattern from Toc frame first as raw native PCM."""
    with open(path, "wb") as f:
        for start in range(first, first + count, 75):
            chunk = array.array("h")
            for frame in range(start, min(start + 75, first + count)):
                chunk.extend(pcm_image.frame_pcm(frame))
            f.write(chunk.tobytes())


def wav_header(data_bytes):
    return (b"RIFF" + (36 + data_bytes).to_bytes(4, "little") + b"WAVEfmt " +
            (16).to_bytes(4, "little") + (1).to_bytes(2, "little") +
            (2).to_bytes(2, "little") + (RATE).to_bytes(4, "little") +
            (RATE * 4).to_bytes(4, "little") + (4).to_bytes(2, "little") +
            (16).to_bytes(2, "little") + b"data" + data_bytes.to_bytes(4, "little"))


def make_disc(folder):
    """The disc as 12 FLAC files with their sheet and as one WAV with its
    sheet. Returns {"flac": (sheet, first file), "wav": (sheet, wav)}."""
    os.makedirs(folder, exist_ok=True)
    wav = os.path.join(folder, "disc.wav")
    raw = os.path.join(folder, "disc.raw")
    write_pcm(raw, LEAD_IN, TRACKS * TRACK_FRAMES)
    size = os.path.getsize(raw)
    with open(wav, "wb") as out, open(raw, "rb") as inp:
        out.write(wav_header(size))
        shutil.copyfileobj(inp, out, 1 << 20)
    track_bytes = TRACK_FRAMES * pcm_image.FRAME_SAMPLES * 4
    lines = []
    with open(raw, "rb") as inp:
        for n in range(1, TRACKS + 1):
            name = f"track{n:02d}.flac"
            enc = subprocess.Popen(
                ["flac", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                 "--channels=2", "--bps=16", f"--sample-rate={RATE}", "-o",
                 os.path.join(folder, name), "-"], stdin=subprocess.PIPE)
            enc.stdin.write(inp.read(track_bytes))
            enc.stdin.close()
            if enc.wait() != 0:
                raise RuntimeError("flac failed")
            lines += [f'FILE "{name}" WAVE', f"  TRACK {n:02d} AUDIO", "    INDEX 01 00:00:00"]
    os.unlink(raw)
    flac_sheet = os.path.join(folder, "flac.cue")
    with open(flac_sheet, "w") as f:
        f.write("\n".join(lines) + "\n")
    wav_sheet = os.path.join(folder, "wav.cue")
    with open(wav_sheet, "w") as f:
        f.write('FILE "disc.wav" WAVE\n')
        for n in range(1, TRACKS + 1):
            f.write(f"  TRACK {n:02d} AUDIO\n    INDEX 01 {pcm_image.msf((n - 1) * TRACK_FRAMES)}\n")
    return {"flac": (flac_sheet, os.path.join(folder, "track01.flac")),
            "wav": (wav_sheet, wav)}


# ----- the sound server and what it plays -----

class Pulse:
    """A PulseAudio of the bench's own, in a private runtime directory, with a
    null sink as its only output. Run as root it needs no system mode: a
    daemon without dbus, a private runtime and state directory is enough."""

    def __init__(self, folder):
        self.dir = folder
        os.makedirs(os.path.join(folder, "state"), exist_ok=True)
        script = os.path.join(folder, "bench.pa")
        with open(script, "w") as f:
            f.write("load-module module-null-sink sink_name=bench rate=44100 format=s16le "
                    "channels=2\nload-module module-native-protocol-unix\n"
                    "set-default-sink bench\n")
        self.env = dict(XDG_RUNTIME_DIR=folder, PULSE_RUNTIME_PATH=os.path.join(folder, "pulse"),
                        PULSE_STATE_PATH=os.path.join(folder, "state"),
                        PULSE_SERVER="unix:" + os.path.join(folder, "pulse", "native"))
        env = dict(os.environ, HOME=folder, **self.env)
        self.log = open(os.path.join(folder, "pulse.log"), "wb")
        self.proc = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "-F", script], env=env, stdout=self.log, stderr=self.log)
        deadline = time.monotonic() + 10
        while subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode != 0:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError("PulseAudio did not start; see " + self.log.name)
            time.sleep(0.1)

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class Recorder:
    """The null sink's monitor as it arrives: per block of samples, its
    arrival time, whether it was silent and the Toc frame of its last sample."""

    BLOCK = 441 * 4  # 10 ms

    def __init__(self, pulse):
        env = dict(os.environ, **pulse.env)
        self.proc = subprocess.Popen(
            ["parec", "-d", "bench.monitor", "--raw", "--format=s16le", "--rate=44100",
             "--channels=2", "--latency-msec=5"], env=env, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.lock = threading.Lock()
        self.blocks = []  # (time, silent, frame or None)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        fd = self.proc.stdout.fileno()
        pending = b""
        while True:
            data = os.read(fd, 65536)
            if not data:
                return
            now = time.monotonic()
            pending += data
            whole = len(pending) - len(pending) % self.BLOCK
            out = []
            for at in range(0, whole, self.BLOCK):
                block = array.array("h", pending[at:at + self.BLOCK])
                silent = not any(block)
                left = block[-2]
                frame = left - 1 if left > 0 else None
                out.append((now, silent, frame))
            pending = pending[whole:]
            with self.lock:
                self.blocks.extend(out)
                del self.blocks[:-30000]

    def since(self, t):
        with self.lock:
            return [b for b in self.blocks if b[0] >= t]

    def wait(self, t, predicate, timeout=10.0):
        """The time of the first block after t that meets predicate."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for b in self.since(t):
                if predicate(b):
                    return b[0]
            time.sleep(0.005)
        return None

    def heard_frame(self, near):
        """The Toc frame heard last, unwrapped near an expected frame."""
        with self.lock:
            frames = [b for b in self.blocks[-5:] if b[2] is not None and not b[1]]
        if not frames:
            return None, None
        t, _, f = frames[-1]
        # The left channel holds the frame modulo 32000.
        f += round((near - f) / 32000) * 32000
        return t, f

    def close(self):
        self.proc.terminate()
        self.proc.wait()


# ----- the process as the system sees it -----

def proc_figures(pid):
    """CPU seconds and context switches of the threads alive now, resident and
    private KiB."""
    # The scheduler's own count in nanoseconds, per thread: the process's tick
    # count moves in steps of 10 ms, as coarse as an idle minute's whole cost.
    cpu = 0.0
    switches = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                cpu += int(f.read().split()[0]) / 1e9
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt", "nonvoluntary_ctxt")):
                        switches += int(line.split()[1])
        except OSError:
            pass
    rss = private = dirty = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Rss:"):
                rss = int(line.split()[1])
            elif line.startswith(("Private_Clean:", "Private_Dirty:")):
                private += int(line.split()[1])
                if line.startswith("Private_Dirty:"):
                    dirty = int(line.split()[1])
    return cpu, switches, rss, private, dirty


def rates(pid, seconds):
    """CPU seconds per minute and wake-ups per second over the next seconds."""
    cpu0, sw0, _, _, _ = proc_figures(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    cpu1, sw1, _, _, _ = proc_figures(pid)
    t1 = time.monotonic()
    return (cpu1 - cpu0) / (t1 - t0) * 60, (sw1 - sw0) / (t1 - t0)


# ----- the players -----

def mivo_position(m):
    """mivo's shown track and time in the track, in seconds."""
    text = m.text()
    match = re.search(r"Track:\s+(\d+) of .*?Time:\s+(\d+):(\d\d)", text, re.S)
    if not match:
        return None
    return int(match.group(1)), int(match.group(2)) * 60 + int(match.group(3))


def mpv_position(m):
    match = re.search(r"A: (\d\d):(\d\d):(\d\d)", m.text())
    if not match:
        return None
    return None, int(match.group(1)) * 3600 + int(match.group(2)) * 60 + int(match.group(3))


def cmus_position(m):
    match = re.search(r"(\d+):(\d\d) / \d+:\d\d", m.text())
    if not match:
        return None
    return None, int(match.group(1)) * 60 + int(match.group(2))


class Player:
    """One player in a pseudo-terminal, its keys named by what they do."""

    def __init__(self, name, m, position, keys, remote=None):
        self.name, self.m, self.position, self.keys, self.remote = name, m, position, keys, remote

    def act(self, what):
        if self.remote and what in self.remote:
            self.remote[what]()
        else:
            self.m.send(self.keys[what])


def first_screen(m, check, timeout=20.0):
    m.wait_for(check, timeout, "the first screen")
    with m.lock:
        return m.chunks[0][0] - m.started if m.chunks else None


def start_mivo(args, sheet, pulse, sdl):
    env = dict(pulse.env, SDL_AUDIODRIVER="pulse" if sdl == "classic" else "pulseaudio")
    if sdl == "sdl12-compat":
        env["LD_LIBRARY_PATH"] = harness.sdl12_compat_dir()
    m = Mivo(drive="none", args=["--no-lookup", sheet], env=env, binary=args.mivo)
    screen = first_screen(m, lambda m: "Stopped" in m.text())
    p = Player("mivo", m, mivo_position, {"play": "p", "pause": " ", "resume": " ", "seek": "]"})
    return p, screen, lambda: m.send("p")


def start_mpv(args, path, pulse):
    # mpv draws its status line on standard error.
    m = Mivo(drive="none", args=["-c", 'exec "$0" "$@" 2>&1', shutil.which("mpv"), "--no-config",
                                 "--no-video", "--ao=pulse", "--pause", path],
             env=dict(pulse.env), binary="/bin/sh")
    screen = first_screen(m, lambda m: "A:" in m.text() or "(Paused)" in m.text())
    p = Player("mpv", m, mpv_position, {"play": " ", "pause": " ", "resume": " ",
                                        "seek": "\x1b[C"})
    return p, screen, lambda: m.send(" ")


def start_cmus(args, path, pulse, folder):
    home = tempfile.mkdtemp(dir=folder)
    socket = os.path.join(home, "cmus.sock")
    env = dict(pulse.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"))
    os.makedirs(os.path.join(home, "config", "cmus"))
    with open(os.path.join(home, "config", "cmus", "rc"), "w") as f:
        f.write("set output_plugin=pulse\nset mpris=false\n")
    m = Mivo(drive="none", args=["--listen", socket], env=env, home=home,
             binary=shutil.which("cmus"))

    def remote(*words):
        subprocess.run(["cmus-remote", "--server", socket, *words], env=dict(os.environ, **env),
                       capture_output=True, check=False)

    screen = first_screen(m, lambda m: "Library" in m.text() or "artist" in m.text().lower())
    deadline = time.monotonic() + 10
    while not os.path.exists(socket) and time.monotonic() < deadline:
        time.sleep(0.05)
    p = Player("cmus", m, cmus_position, {}, remote={
        "pause": lambda: remote("-u"), "resume": lambda: remote("-u"),
        "seek": lambda: remote("-k", "+5")})
    return p, screen, lambda: remote("-f", path)


def shown_minus_heard(p, rec, track_start, seconds=8.0):
    """At each change of the shown second, the shown time minus the time in
    the track that was being heard then; in milliseconds."""
    out = []
    last = p.position(p.m)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        time.sleep(0.002)
        now = p.position(p.m)
        if now is None or now == last:
            continue
        last = now
        t, frame = rec.heard_frame(LEAD_IN + track_start + now[1] * 75)
        if frame is None:
            continue
        heard = (frame - LEAD_IN - track_start) / 75 + (time.monotonic() - t)
        out.append((now[1] - heard) * 1000)
    return out


def bench_player(name, args, kind, disc, pulse, rec, folder, sdl=None):
    sheet, single = disc[kind]
    t0 = time.monotonic()
    if name == "mivo":
        p, screen, play = start_mivo(args, sheet, pulse, sdl)
    elif name == "mpv":
        p, screen, play = start_mpv(args, single if kind == "wav" else sheet, pulse)
    else:
        p, screen, play = start_cmus(args, single, pulse, folder)
    fig = {"first screen (ms)": screen * 1000 if screen is not None else None}
    try:
        time.sleep(0.5)
        t = time.monotonic()
        play()
        heard = rec.wait(t, lambda b: not b[1], 20)
        fig["play to first sound (ms)"] = (heard - t) * 1000 if heard else None
        del t0
        time.sleep(2)
        cpu, wakes = rates(p.m.pid, args.seconds)
        fig["CPU per minute playing (ms)"] = cpu * 1000
        fig["wake-ups per second playing"] = wakes
        diffs = shown_minus_heard(p, rec, 0)
        fig["shown minus heard (ms, median)"] = statistics.median(diffs) if diffs else None
        fig["shown minus heard (ms, range)"] = (f"{min(diffs):.0f}..{max(diffs):.0f}"
                                                if diffs else None)
        _, _, rss, private, dirty = proc_figures(p.m.pid)
        fig["resident memory (MiB)"] = rss / 1024
        # A library's clean page is private only while no other process maps
        # it, so that figure moves with what else runs; the dirty part does not.
        fig["private memory (MiB)"] = private / 1024
        fig["private dirty memory (MiB)"] = dirty / 1024
        t = time.monotonic()
        p.act("pause")
        silent = rec.wait(t, lambda b: b[1])
        fig["pause to silence (ms)"] = (silent - t) * 1000 if silent else None
        time.sleep(args.idle_after)
        cpu, wakes = rates(p.m.pid, args.seconds)
        fig["CPU per minute paused (ms)"] = cpu * 1000
        fig["wake-ups per second paused"] = wakes
        t = time.monotonic()
        p.act("resume")
        sound = rec.wait(t, lambda b: not b[1])
        fig["resume to sound (ms)"] = (sound - t) * 1000 if sound else None
        time.sleep(1)
        _, before = rec.heard_frame(LEAD_IN + 1000)
        t = time.monotonic()
        p.act("seek")
        # New sound: a frame more than a second past where the play would be.
        jumped = rec.wait(t, lambda b: b[2] is not None and not b[1] and
                          (b[2] - before) % 32000 - (b[0] - t) * 75 > 75) if before else None
        fig["seek to new sound (ms)"] = (jumped - t) * 1000 if jumped else None
    finally:
        p.m.close()
    return fig


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", default="")
    parser.add_argument("--seconds", type=float, default=15.0)
    parser.add_argument("--idle-after", type=float, default=6.0)
    parser.add_argument("--players", default="mivo,cmus,mpv")
    parser.add_argument("--kinds", default="flac,wav")
    parser.add_argument("--disc", help="a folder to keep the disc in from run to run")
    parser.add_argument("--wake-floor", default="",
                        help="a program that only waits half a second at a time (mivo_wake_floor)")
    args = parser.parse_args()
    args.mivo = os.path.abspath(args.mivo)
    harness.CONFIG.update(mivo=args.mivo, standin_dir=args.standin_dir)
    for tool in ("pulseaudio", "parec", "pactl", "flac"):
        if shutil.which(tool) is None:
            print(f"skipped: {tool} is not installed (scripts/setup-tests.sh installs it)")
            return
    folder = tempfile.mkdtemp(prefix="mivo-sink-bench-")
    pulse = rec = None
    try:
        t = time.monotonic()
        disc_dir = args.disc or os.path.join(folder, "disc")
        if os.path.exists(os.path.join(disc_dir, "wav.cue")):
            disc = {"flac": (os.path.join(disc_dir, "flac.cue"),
                             os.path.join(disc_dir, "track01.flac")),
                    "wav": (os.path.join(disc_dir, "wav.cue"), os.path.join(disc_dir, "disc.wav"))}
        else:
            disc = make_disc(disc_dir)
        print(f"(the 45-minute disc made in {time.monotonic() - t:.0f} s)")
        pulse = Pulse(os.path.join(folder, "pulse"))
        rec = Recorder(pulse)
        # The server's first stream pays for setting the sink up: a moment of
        # silence goes first, so that no player's first sound carries it.
        subprocess.run(["pacat", "--raw", "--format=s16le", "--rate=44100", "--channels=2"],
                       input=bytes(44100), env=dict(os.environ, **pulse.env), check=False,
                       capture_output=True, timeout=20)
        columns = []
        for kind in args.kinds.split(","):
            for name in args.players.split(","):
                runs = [("classic", "mivo classic"), ("sdl12-compat", "mivo sdl12-compat")] \
                    if name == "mivo" else [(None, name)]
                for sdl, label in runs:
                    if name != "mivo" and shutil.which(name) is None:
                        print(f"note: {name} is not installed, so its column is skipped")
                        continue
                    if name == "mivo" and sdl == "sdl12-compat" and not harness.sdl12_compat_dir():
                        print("note: sdl12-compat is not installed, so its column is skipped")
                        continue
                    try:
                        fig = bench_player(name, args, kind, disc, pulse, rec, folder, sdl)
                    except Exception as e:  # a peer failing must not hide the others
                        print(f"note: {label} on {kind} failed: {e}")
                        continue
                    columns.append((f"{label} {kind}", fig))
        if args.wake_floor:
            floor = Mivo(drive="none", args=[], binary=os.path.abspath(args.wake_floor))
            try:
                time.sleep(1)
                cpu, wakes = rates(floor.pid, args.seconds)
            finally:
                floor.close()
            print(f"(a program that only wakes twice a second costs {cpu * 1000:.1f} ms CPU per minute, "
                  f"{wakes:.1f} wake-ups per second, on this machine)")
        rows = []
        for _, fig in columns:
            for key in fig:
                if key not in rows:
                    rows.append(key)
        width = max(len(r) for r in rows) if rows else 10
        for start in range(0, len(columns), 3):
            part = columns[start:start + 3]
            print(f"{'':{width}}" + "".join(f" | {c[0]:>22}" for c in part))
            for r in rows:
                cells = []
                for _, fig in part:
                    v = fig.get(r)
                    cells.append("-" if v is None else (f"{v:.1f}" if isinstance(v, float) else v))
                print(f"{r:{width}}" + "".join(f" | {c:>22}" for c in cells))
            print()
    finally:
        if rec:
            rec.close()
        if pulse:
            pulse.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    main()
