# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs the real mivo binary in a pseudo-terminal and reads its screen back.

A Mivo object starts build/mivo on a pty of a chosen size with its own HOME,
feeds everything it writes to a pyte screen, and offers what a scenario needs:
waiting for text, reading cells with their attributes, keys, resizes, signals,
the exit status and a check that the terminal was given back. The drive is
either the stand-in library (tests/e2e/standin_drive.c, steered through a
control file and logging every call) or sdl12-compat's virtual disc made of
the demo disc's mp3 files, with the disk audio driver writing the sound to a
file the test can inspect.
"""

import codecs
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

import pyte
import pyte.screens

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# Set by run.py from its command line.
CONFIG = {"mivo": None, "standin_dir": None, "demo_disc": None}

# While set, no wait lasts longer (scenarios of features not yet built).
TIMEOUT_CAP = None

# curses colour numbers as pyte names them.
COLOUR = {0: "black", 1: "red", 2: "green", 3: "brown", 4: "blue",
          5: "magenta", 6: "cyan", 7: "white"}

# SDL's disk driver announces itself on standard error; sdl12-compat's with
# CRITICAL on both lines.
# Classic SDL's says it with WARNING and an unprefixed second line.
_SDL_NOISE = re.compile(r"^((CRITICAL|WARNING): )?(You are using the SDL disk (i/o|writer) audio driver!"
                        r"|\s*Writing to file)")
_SANITIZER = re.compile(r"AddressSanitizer|LeakSanitizer|runtime error:|UndefinedBehaviorSanitizer")


class _Stream(pyte.Stream):
    """pyte's stream plus the xterm sequences ncurses uses that pyte lacks.

    It is fed decoded text and runs with pyte's UTF-8 mode off, since in that
    mode pyte ignores the switch to the line-drawing character set that
    ncurses uses for the frame."""

    csi = dict(pyte.Stream.csi, b="repeat_last", S="scroll_up", T="scroll_down")

    def __init__(self, screen):
        super().__init__(screen)
        self.use_utf8 = False


class _Screen(pyte.Screen):
    """pyte's screen with repeat-last-character and scroll up and down."""

    def __init__(self, columns, lines):
        super().__init__(columns, lines)
        self.last_char = " "

    def draw(self, data):
        if data:
            self.last_char = data[-1]
        super().draw(data)

    def repeat_last(self, count=1, **_):
        self.draw(self.last_char * max(count, 1))

    def scroll_up(self, count=1, **_):
        top, bottom = self.margins or pyte.screens.Margins(0, self.lines - 1)
        for _ in range(max(count, 1)):
            for y in range(top, bottom):
                self.buffer[y] = self.buffer[y + 1]
            self.buffer.pop(bottom, None)
        self.dirty.update(range(self.lines))

    def scroll_down(self, count=1, **_):
        top, bottom = self.margins or pyte.screens.Margins(0, self.lines - 1)
        for _ in range(max(count, 1)):
            for y in range(bottom, top, -1):
                self.buffer[y] = self.buffer[y - 1]
            self.buffer.pop(top, None)
        self.dirty.update(range(self.lines))


def sdl12_compat_dir():
    """sdl12-compat's library directory, found the way scripts/sdl-env.sh does."""
    out = subprocess.run(
        ["bash", "-c", 'source "$1/scripts/sdl-env.sh" && find_sdl12_compat_dir', "-", REPO],
        capture_output=True, text=True, check=False)
    return out.stdout.strip() or None


# The session leader of a job-control run: puts mivo (argv[2:]) in a process
# group of its own in the terminal's foreground, writes its pid to argv[1],
# and ends with mivo's exit status (128 + the signal that ended it).
_JOB_CONTROL_SHELL = r"""
import os, signal, sys
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    os.tcsetpgrp(1, os.getpid())
    for sig in (signal.SIGTTOU, signal.SIGPIPE, signal.SIGXFSZ):
        signal.signal(sig, signal.SIG_DFL)
    os.execv(sys.argv[2], sys.argv[2:])
with open(sys.argv[1] + ".new", "w") as f:
    f.write(str(pid))
os.rename(sys.argv[1] + ".new", sys.argv[1])
_, status = os.waitpid(pid, 0)
code = os.waitstatus_to_exitcode(status)
os._exit(code if code >= 0 else 128 - code)
"""


class Mivo:
    """One run of mivo in a pseudo-terminal."""

    def __init__(self, rows=24, cols=80, drive="standin", args=(), control=(),
                 home=None, term="xterm-256color", ignore_hangup=False, env=None,
                 binary=None, stdin_devnull=False, job_control=False):
        self.tmp = tempfile.mkdtemp(prefix="mivo-e2e-")
        self.home = home or os.path.join(self.tmp, "home")
        os.makedirs(self.home, exist_ok=True)
        self.control_path = os.path.join(self.tmp, "control")
        self.log_path = os.path.join(self.tmp, "calls.log")
        self.stderr_path = os.path.join(self.tmp, "stderr")
        self.audio_path = os.path.join(self.tmp, "audio.raw")
        with open(self.control_path, "w") as f:
            for line in control:
                f.write(line + "\n")

        full_env = {k: v for k, v in os.environ.items()
                    if k not in ("LD_PRELOAD", "LD_LIBRARY_PATH", "COLUMNS", "LINES",
                                 "SDL12COMPAT_FAKE_CDROM_PATH", "SDL_AUDIODRIVER")}
        full_env.update(HOME=self.home, TERM=term, LANG="C.UTF-8")
        # No run reaches the internet: title lookups are off unless a scenario
        # points them at the local stand-in server (tests/lookup/lookup_server.py).
        for name in ("MIVO_MUSICBRAINZ_URL", "MIVO_GNUDB_URL", "MIVO_GNUDB_EMAIL", "MIVO_COVERART_URL",
                     "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY",
                     "all_proxy"):
            full_env.pop(name, None)
        full_env.update(MIVO_NO_LOOKUP="1", MIVO_MUSICBRAINZ_URL="http://127.0.0.1:9/ws/2",
                        MIVO_COVERART_URL="http://127.0.0.1:9")
        # Nor the desktop's session bus, unless a scenario gives it a private one.
        full_env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        full_env.update(MIVO_NO_MPRIS="1")
        full_env.pop("LC_ALL", None)
        # The colours the screen tests look for are there unless a test asks.
        full_env.pop("NO_COLOR", None)
        if drive == "standin":
            full_env.update(LD_LIBRARY_PATH=CONFIG["standin_dir"],
                            MIVO_STANDIN_CONTROL=self.control_path,
                            MIVO_STANDIN_LOG=self.log_path)
        elif drive == "demo":
            lib = sdl12_compat_dir()
            if lib is None:
                raise RuntimeError("sdl12-compat's libSDL-1.2.so.0 was not found")
            full_env.update(LD_LIBRARY_PATH=lib,
                            SDL12COMPAT_FAKE_CDROM_PATH=CONFIG["demo_disc"],
                            SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=self.audio_path)
        elif drive in ("image-classic", "image-compat"):
            # A disc image played through the sound card, which is SDL's disk
            # driver writing to a file at about the pace of a real card: one
            # device buffer (2048 samples) per 46 ms.
            full_env.update(SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=self.audio_path,
                            SDL_DISKAUDIODELAY="46")
            if drive == "image-compat":
                lib = sdl12_compat_dir()
                if lib is None:
                    raise RuntimeError("sdl12-compat's libSDL-1.2.so.0 was not found")
                full_env.update(LD_LIBRARY_PATH=lib)
        if env:
            full_env.update(env)
        # While the screen is up mivo's standard error goes elsewhere, so a
        # sanitized build's reports go to files of the run's own, which
        # assert_no_sanitizer_report reads; the options already set are kept.
        self.sanitizer_log = os.path.join(self.tmp, "sanitizer")
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"):
            options = full_env.get(name, "")
            full_env[name] = (options + ":" if options else "") + "log_path=" + self.sanitizer_log

        self.rows, self.cols = rows, cols
        self.screen = _Screen(cols, rows)
        self.stream = _Stream(self.screen)
        self.decoder = codecs.getincrementaldecoder("utf-8")(errors="replace")
        self.lock = threading.Condition()
        self.raw = bytearray()
        self.chunks = []  # (monotonic time, byte count) of every read
        self.master, self.slave = os.openpty()
        self._set_size(rows, cols)
        self.initial_termios = termios.tcgetattr(self.slave)

        def child_setup():
            fcntl.ioctl(1, termios.TIOCSCTTY, 0)
            if ignore_hangup:
                signal.signal(signal.SIGHUP, signal.SIG_IGN)

        self.stderr_file = open(self.stderr_path, "wb")
        self.started = time.monotonic()
        command = [binary or CONFIG["mivo"], *args]
        if job_control:
            # A shell of its own above mivo, so mivo's process group is not
            # orphaned and a stop signal stops it as it would under a shell.
            self.pid_path = os.path.join(self.tmp, "pid")
            command = [sys.executable, "-c", _JOB_CONTROL_SHELL, self.pid_path, *command]
        self.proc = subprocess.Popen(
            command,
            stdin=subprocess.DEVNULL if stdin_devnull else self.slave, stdout=self.slave,
            stderr=self.stderr_file, env=full_env, cwd=self.tmp,
            start_new_session=True, preexec_fn=child_setup, close_fds=True)
        self.pid = self.proc.pid
        if job_control:
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                try:
                    with open(self.pid_path) as f:
                        self.pid = int(f.read())
                    break
                except (OSError, ValueError):
                    time.sleep(0.01)
            else:
                raise RuntimeError("the job-control shell did not start mivo")
        self._stop = False
        self.reader = threading.Thread(target=self._read_loop, daemon=True)
        self.reader.start()

    # ----- terminal plumbing -----

    def _set_size(self, rows, cols):
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))

    def _read_loop(self):
        while not self._stop:
            try:
                ready, _, _ = select.select([self.master], [], [], 0.05)
                if not ready:
                    continue
                data = os.read(self.master, 65536)
            except (OSError, ValueError):
                return
            if not data:
                return
            with self.lock:
                self.raw += data
                self.chunks.append((time.monotonic(), len(data)))
                self.stream.feed(self.decoder.decode(data))
                self.lock.notify_all()

    def resize(self, rows, cols, blank=False):
        """Changes the terminal's size; the kernel sends mivo SIGWINCH. With
        blank, the screen read back starts empty, so whatever shows afterwards
        was drawn after the resize."""
        with self.lock:
            self.rows, self.cols = rows, cols
            self.screen.resize(rows, cols)
            if blank:
                self.screen.reset()
        self._set_size(rows, cols)

    def input_pending(self):
        """Bytes typed that mivo has not read yet."""
        buf = fcntl.ioctl(self.slave, termios.FIONREAD, struct.pack("i", 0))
        return struct.unpack("i", buf)[0]

    def wait_keys_read(self, timeout=5.0):
        """Waits until mivo has read every key sent so far. The kernel moves
        what was written to the master side on to mivo's side a moment later,
        so the queue must be found empty twice, 50 ms apart."""
        for _ in range(2):
            self.wait_for(lambda m: m.input_pending() == 0, timeout, "the keys to be read")
            time.sleep(0.05)
        self.wait_for(lambda m: m.input_pending() == 0, timeout, "the keys to be read")

    def send(self, keys):
        """Types keys: a str or bytes, sent as one write."""
        if isinstance(keys, str):
            keys = keys.encode()
        os.write(self.master, keys)

    def signal(self, signum):
        if self.proc.poll() is None:
            os.kill(self.pid, signum)

    def hang_up(self):
        """Closes the terminal's master side, as a terminal window being closed."""
        self._stop = True
        self.reader.join(1)
        os.close(self.master)
        self.master = None

    # ----- reading the screen -----

    def lines(self):
        with self.lock:
            return list(self.screen.display)

    def text(self):
        return "\n".join(self.lines())

    def row(self, y):
        with self.lock:
            return self.screen.display[y]

    def cell(self, y, x):
        """pyte's Char at (y, x): data, fg, bg, bold, reverse, ..."""
        with self.lock:
            return self.screen.buffer[y][x]

    def at(self, y, x, n):
        """The n characters starting at (y, x)."""
        return self.row(y)[x:x + n]

    def attrs(self, y, x):
        c = self.cell(y, x)
        return {"bold": c.bold, "reverse": c.reverse, "fg": c.fg}

    def find(self, text):
        """(row, column) of the first place text stands, or None."""
        for y, line in enumerate(self.lines()):
            x = line.find(text)
            if x >= 0:
                return y, x
        return None

    def wait_for(self, predicate, timeout=5.0, what="condition"):
        """Waits until predicate(self) holds; fails with the screen when it does not."""
        if TIMEOUT_CAP is not None:
            timeout = min(timeout, TIMEOUT_CAP)
        deadline = time.monotonic() + timeout
        while True:
            try:
                if predicate(self):
                    return True
            except (IndexError, KeyError):
                pass
            if time.monotonic() > deadline:
                raise AssertionError(
                    f"timed out after {timeout}s waiting for {what}\n" + self.dump())
            with self.lock:
                self.lock.wait(0.05)

    def settle(self, check, timeout=5.0):
        """Runs check (a function that asserts) until it passes: a frame can
        reach the terminal in pieces, so a screen is judged once it is whole.
        Fails with check's own assertion and the screen when time runs out."""
        if TIMEOUT_CAP is not None:
            timeout = min(timeout, TIMEOUT_CAP)
        deadline = time.monotonic() + timeout
        while True:
            try:
                return check()
            except AssertionError as e:
                if time.monotonic() > deadline:
                    raise AssertionError(f"{e}\n" + self.dump()) from None
            with self.lock:
                self.lock.wait(0.05)

    def wait_text(self, text, timeout=5.0):
        return self.wait_for(lambda m: text in m.text(), timeout, repr(text))

    def wait_no_text(self, text, timeout=5.0):
        return self.wait_for(lambda m: text not in m.text(), timeout, f"{text!r} to go")

    def wait_quiet(self, quiet=0.3, timeout=5.0):
        """Waits until no output has come for `quiet` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                last = self.chunks[-1][0] if self.chunks else self.started
            if time.monotonic() - last >= quiet:
                return
            time.sleep(0.02)

    def dump(self):
        status = self.proc.poll()
        lines = self.lines()
        out = [f"--- screen {self.cols}x{self.rows}, exit status {status} ---"]
        out += [f"{i:2d}|{line}|" for i, line in enumerate(lines)]
        out.append("--- stderr ---")
        out.append(self.stderr_text())
        return "\n".join(out)

    # ----- process -----

    def running(self):
        return self.proc.poll() is None

    def process_state(self):
        """The kernel's one-letter state of mivo: R, S, T (stopped), Z, ..."""
        try:
            with open(f"/proc/{self.pid}/stat") as f:
                return f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            return None

    def wait_stopped(self, stopped=True, timeout=5.0):
        """Waits until mivo is stopped by a signal (or, with stopped False, runs again)."""
        self.wait_for(lambda m: (m.process_state() in ("T", "t")) == stopped, timeout,
                      "mivo to stop" if stopped else "mivo to continue")

    def wait_exit(self, timeout=5.0):
        """The exit status (negative for a signal); fails when mivo is still running."""
        if TIMEOUT_CAP is not None:
            timeout = min(timeout, TIMEOUT_CAP)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"mivo still running after {timeout}s\n" + self.dump())

    def cpu_seconds(self):
        """User plus system CPU time mivo has used so far."""
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def peak_rss_kib(self):
        with open(f"/proc/{self.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        return None

    def stderr_text(self):
        try:
            with open(self.stderr_path, "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def stderr_lines(self):
        """Standard error without the disk audio driver's announcements."""
        return [line for line in self.stderr_text().splitlines() if not _SDL_NOISE.match(line)]

    def sanitizer_reports(self):
        """The reports sanitizers wrote to the run's log files (log_path), one
        file per process."""
        reports = []
        for name in sorted(os.listdir(self.tmp)):
            if name.startswith("sanitizer."):
                with open(os.path.join(self.tmp, name), "rb") as f:
                    reports.append(f.read().decode(errors="replace"))
        return reports

    def assert_no_sanitizer_report(self):
        text = self.stderr_text()
        if _SANITIZER.search(text):
            raise AssertionError("sanitizer report on standard error:\n" + text)
        reports = self.sanitizer_reports()
        if reports:
            raise AssertionError("sanitizer report in the run's log:\n" + "\n".join(reports))

    def assert_terminal_restored(self):
        """The last screen is blank, the alternate screen is left, the cursor is
        visible again and the line discipline is as before mivo started."""
        # The last output can reach the master side a little after the exit.
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            with self.lock:
                if self.raw.rfind(b"\x1b[?1049l") > self.raw.rfind(b"\x1b[?1049h"):
                    break
            time.sleep(0.02)
        time.sleep(0.1)
        with self.lock:
            raw = bytes(self.raw)
        enter, leave = raw.rfind(b"\x1b[?1049h"), raw.rfind(b"\x1b[?1049l")
        assert enter >= 0, "mivo never entered the alternate screen"
        assert leave > enter, "mivo did not leave the alternate screen at the end"
        hide, show = raw.rfind(b"\x1b[?25l"), raw.rfind(b"\x1b[?25h")
        assert hide < show or hide < 0, "the cursor was left hidden"
        smkx, rmkx = raw.rfind(b"\x1b[?1h"), raw.rfind(b"\x1b[?1l")
        assert smkx < rmkx or smkx < 0, "the keypad was left in application mode"
        blank = [line for line in self.lines() if line.strip()]
        assert not blank, "the screen was not cleared at the end:\n" + self.dump()
        now = termios.tcgetattr(self.slave)
        for i, name in ((0, "iflag"), (1, "oflag"), (3, "lflag")):
            assert now[i] == self.initial_termios[i], f"terminal {name} not restored"

    def close(self):
        if self.proc.poll() is None:
            if self.pid != self.proc.pid:
                os.kill(self.pid, signal.SIGKILL)
            self.proc.kill()
            self.proc.wait(5)
        self._stop = True
        self.reader.join(1)
        for fd in (self.master, self.slave):
            if fd is not None:
                try:
                    os.close(fd)
                except OSError:
                    pass
        self.master = self.slave = None
        self.stderr_file.close()
        if not os.environ.get("MIVO_E2E_KEEP"):
            shutil.rmtree(self.tmp, ignore_errors=True)

    # ----- the stand-in drive -----

    def drive(self, *lines):
        """Appends commands to the stand-in drive's control file."""
        with open(self.control_path, "a") as f:
            for line in lines:
                f.write(line + "\n")

    def calls(self, since=0):
        """The calls the stand-in drive received, one string each."""
        try:
            with open(self.log_path) as f:
                return f.read().splitlines()[since:]
        except OSError:
            return []

    def mark(self):
        """A position in the call log; calls(since=mark) gives what came after."""
        return len(self.calls())

    def wait_call(self, pattern, since=0, timeout=5.0):
        """Waits for a logged call matching the regular expression; returns it."""
        rx = re.compile(pattern)
        found = []

        def seen(_):
            found[:] = [c for c in self.calls(since) if rx.search(c)]
            return bool(found)

        self.wait_for(seen, timeout, f"drive call /{pattern}/ (calls: {self.calls(since)[-12:]})")
        return found[0]

    def calls_matching(self, pattern, since=0):
        rx = re.compile(pattern)
        return [c for c in self.calls(since) if rx.search(c)]

    # ----- the disk audio driver -----

    def audio_size(self):
        try:
            return os.path.getsize(self.audio_path)
        except OSError:
            return 0

    def audio_nonzero(self, start, end=None):
        """Non-zero bytes in the sound written between two file sizes."""
        with open(self.audio_path, "rb") as f:
            f.seek(start)
            data = f.read() if end is None else f.read(max(end - start, 0))
        return len(data) - data.count(0), len(data)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# ----- the disc identity, as mivo computes it, for files a test puts in place -----

LEAD_IN = 150


def standin_toc(lengths):
    """Offsets (lead-out included) of the stand-in drive's disc of these lengths."""
    offsets = [LEAD_IN]
    for length in lengths:
        offsets.append(offsets[-1] + length)
    return offsets


def disc_id(offsets):
    """The xmcd disc id of a table of contents given as offsets, lead-out last."""
    n = len(offsets) - 1
    if n < 1:
        return n & 0xFFFFFFFFFFFFFFFF
    s = 0
    for f in offsets[:-1]:
        if f >= 75:
            s += sum(int(d) for d in str(f // 75))
    value = ((s % 255) << 24) | ((((offsets[n] // 75) - (offsets[0] // 75)) & 0xFFFFFFFF) << 8) | n
    value &= 0xFFFFFFFF
    if value & 0x80000000:
        value |= 0xFFFFFFFF00000000
    return value


def disc_file_name(offsets):
    return "%08x" % disc_id(offsets)


def mapped(m, name):
    """The mappings of files whose name holds name in the running mivo: the
    libraries opened on first use are not among them until then."""
    with open(f"/proc/{m.pid}/maps", encoding="utf-8") as f:
        return [line.split()[-1] for line in f if name in line]
