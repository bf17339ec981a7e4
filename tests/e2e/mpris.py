# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end scenarios of the desktop's remote control: the real mivo on the
stand-in drive, a private session bus per scenario, and the desktop's own
clients (playerctl, gdbus) talking to it."""

import os
import select
import signal
import subprocess
import time
import xml.etree.ElementTree as ElementTree

import harness
import pcm_image
import xmcd
from lookup_support import LookupServer
from scenarios import DISC, E2E, MODE_ROW, VALUE_COL, status, track_value, wait_status

PLAYER = "mivo"
BUS_NAME = "org.mpris.MediaPlayer2.mivo"
MBID = "0c9ed8a5-60aa-4b02-bbb5-c1cd7b61b6a4"
COVERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "covers")
OBJECT = "/org/mpris/MediaPlayer2"


class SessionBus:
    """A dbus-daemon of the scenario's own, and the clients run against it."""

    def __init__(self):
        out = subprocess.run(["dbus-daemon", "--session", "--print-address=1", "--print-pid=1",
                              "--fork"], capture_output=True, text=True, check=True).stdout.split()
        self.address, self.pid = out[0], int(out[1])
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)

    def run(self, *command, check=False):
        return subprocess.run(command, capture_output=True, text=True, env=self.env, timeout=10,
                              check=check)

    def playerctl(self, *args):
        return self.run("playerctl", "-p", PLAYER, *args).stdout.strip()

    def call(self, interface_method, *args, dest=BUS_NAME):
        return self.run("gdbus", "call", "--session", "--dest", dest, "--object-path", OBJECT,
                        "--method", interface_method, *args)

    def popen(self, *command):
        """A client left running (a monitor, a follower), its output line-buffered."""
        return Lines(subprocess.Popen(("stdbuf", "-oL", *command), stdout=subprocess.PIPE,
                                      stderr=subprocess.DEVNULL, env=self.env))

    def close(self):
        try:
            os.kill(self.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass


def wait_until(what, check, timeout=5.0):
    """Polls check until it returns something true; fails naming what and the last value."""
    deadline = time.monotonic() + timeout
    value = None
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {value!r})")


class Lines:
    """A running client's output, a line at a time, with a time limit."""

    def __init__(self, proc):
        self.proc = proc
        self.pending = b""

    def next(self, timeout):
        """One line, or None when none came in time."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    return None
                self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode(errors="replace").strip()

    def kill(self):
        self.proc.kill()
        self.proc.wait()


class Mpris(E2E):
    def bus(self):
        b = SessionBus()
        self.addCleanup(b.close)
        return b

    def start_on(self, bus, **kw):
        env = {"DBUS_SESSION_BUS_ADDRESS": bus.address, "MIVO_NO_MPRIS": ""}
        env.update(kw.pop("env", {}))
        m = self.start(env=env, **kw)
        wait_until("mivo on the bus", lambda: PLAYER in bus.run("playerctl", "-l").stdout.split())
        return m

    def wait_player(self, bus, expected, *args):
        return wait_until(f"playerctl {' '.join(args)} == {expected!r}",
                          lambda: bus.playerctl(*args) == expected)

    def test_methods_move_the_drive_as_the_keys_do(self):
        b = self.bus()
        m = self.start_on(b)
        self.wait_loop(m)
        self.wait_player(b, "Stopped", "status")
        # (command, drive call it makes, status after); each from where the last left it.
        steps = [
            (["play-pause"], r"^PlayTracks 0 0 0 0", "Playing"),  # stopped: starts
            (["play-pause"], r"^Pause$", "Paused"),
            (["play"], r"^Resume$", "Playing"),                  # paused: resumes
            (["next"], r"^PlayTracks 1 0 0 0", "Playing"),
            (["next"], r"^PlayTracks 2 0 0 0", "Playing"),
            (["previous"], r"^PlayTracks 1 0 0 0", "Playing"),
            (["pause"], r"^Pause$", "Paused"),
            (["stop"], r"^Stop$", "Stopped"),
        ]
        for args, call, after in steps:
            with self.subTest(args=args):
                mark = m.mark()
                b.playerctl(*args)
                m.wait_call(call, since=mark)
                self.wait_player(b, after, "status")
                wait_status(m, after)

    def test_play_on_a_playing_disc_does_nothing(self):
        b = self.bus()
        m = self.start_on(b)
        m.send("p")
        wait_status(m, "Playing")
        m.send("+")
        m.wait_for(lambda m: track_value(m) == "2 of 5", 3, "track 2")
        mark = m.mark()
        b.playerctl("play")
        b.playerctl("volume")  # answered after the Play was taken
        self.wait_loop(m, len(m.calls_matching(r"^Status")) + 3 - 1)
        self.assertEqual(m.calls_matching(r"^(PlayTracks|Pause|Resume|Stop)", since=mark), [])
        self.assertEqual(track_value(m), "2 of 5")

    def test_seeks_and_positions(self):
        b = self.bus()
        m = self.start_on(b)
        m.send("p")
        wait_status(m, "Playing")
        track_id = wait_until("a track id", lambda: b.playerctl("metadata", "mpris:trackid"))
        watcher = b.popen("gdbus", "monitor", "--session", "--dest", BUS_NAME)
        self.addCleanup(watcher.kill)
        # It has subscribed once it has found who owns the name.
        wait_until("the monitor", lambda: "is owned by" in (watcher.next(5) or ""))
        def seek(offset):
            r = b.call("org.mpris.MediaPlayer2.Player.Seek", offset)
            self.assertEqual(r.returncode, 0, r.stderr)

        cases = [
            # (what, the call, the drive call it makes)
            ("to 10 s", lambda: b.playerctl("position", "10"), r"^PlayTracks 0 750 0 "),
            ("back past the start", lambda: b.playerctl("position", "60-"), r"^PlayTracks 0 0 0 "),
            ("past the end: next track", lambda: b.playerctl("position", "100+"),
             r"^PlayTracks 1 0 0 "),
            # Offsets that overflow the position's sum or its count in frames.
            ("the largest offset: next track", lambda: seek("9223372036854775807"),
             r"^PlayTracks 2 0 0 "),
            ("an offset too large for frames: next track", lambda: seek("200000000000000000"),
             r"^PlayTracks 3 0 0 "),
        ]
        for what, call_it, call in cases:
            with self.subTest(what):
                mark = m.mark()
                call_it()
                m.wait_call(call, since=mark)
        seeked = []
        while len(seeked) < 2:
            line = watcher.next(5)
            self.assertIsNotNone(line, f"Seeked twice; saw {seeked}")
            if ".Seeked" in line:
                seeked.append(line)
        self.assertIn("int64 10000000", seeked[0])
        self.assertIn("int64 0", seeked[1])
        # SetPosition names the track it means: a stale one is ignored.
        mark = m.mark()
        r = b.call("org.mpris.MediaPlayer2.Player.SetPosition", track_id, "5000000")
        self.assertEqual(r.returncode, 0, r.stderr)
        b.playerctl("volume")
        time.sleep(0.3)
        self.assertEqual(m.calls_matching(r"^PlayTracks", since=mark), [])
        # A key's skip is a jump too.
        m.send("]")
        wait_until("Seeked after ]", lambda: ".Seeked" in (watcher.next(5) or ""))

    def test_volume_and_loop(self):
        b = self.bus()
        m = self.start_on(b)
        self.wait_loop(m)
        self.assertEqual(b.playerctl("volume"), "0.501961")  # the stand-in's 128
        for level, byte in (("0.2", 51), ("1.0", 255), ("0", 0)):
            with self.subTest(level=level):
                mark = m.mark()
                b.playerctl("volume", level)
                m.wait_call(rf"^SetVolume {byte} {byte} ", since=mark)
        m.send("*")
        self.wait_player(b, f"{5 / 255:.6f}", "volume")
        for loop, screen in (("Track", "Repeat Track"), ("Playlist", "Repeat CD"),
                             ("None", "Normal")):
            with self.subTest(loop=loop):
                b.playerctl("loop", loop)
                m.wait_for(lambda m: m.at(MODE_ROW, VALUE_COL, 14).strip() == screen, 3, screen)
                self.assertEqual(b.playerctl("loop"), loop)
        m.send("m")  # Normal -> Repeat CD
        self.wait_player(b, "Playlist", "loop")

    def test_metadata_matches_the_screen(self):
        b = self.bus()
        home = os.path.join(harness.tempfile.mkdtemp(prefix="mivo-e2e-home-"), "home")
        toc = harness.standin_toc(DISC)
        xmcd.write(os.path.join(home, ".kel", harness.disc_file_name(toc)),
                   "Anna Example / Songs for Tests", ["Opening", "Second Song", "Third"], toc[:-1])
        m = self.start_on(b, home=home)
        m.wait_text("Songs for Tests")
        m.send("p+")
        m.wait_text("Second Song")
        self.wait_player(b, "Second Song", "metadata", "xesam:title")
        self.assertEqual(b.playerctl("metadata", "xesam:artist"), "Anna Example")
        self.assertEqual(b.playerctl("metadata", "xesam:album"), "Songs for Tests")
        self.assertEqual(b.playerctl("metadata", "xesam:trackNumber"), "2")
        self.assertEqual(b.playerctl("metadata", "mpris:length"), str(3000 * 1000000 // 75))
        self.assertRegex(b.playerctl("metadata", "mpris:trackid"),
                         r"^'?/org/mivo/disc/[0-9a-f]{16}/track/2'?$")
        # Nothing in the tray: no track, and nothing can play.
        m.drive("empty")
        self.wait_player(b, "Stopped", "status")
        get = "org.freedesktop.DBus.Properties.Get"
        r = b.call(get, "org.mpris.MediaPlayer2.Player", "Metadata")
        self.assertIn("objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'", r.stdout)
        self.assertNotIn("xesam:title", r.stdout)
        for can in ("CanPlay", "CanPause", "CanSeek", "CanGoNext", "CanGoPrevious"):
            with self.subTest(can):
                r = b.call(get, "org.mpris.MediaPlayer2.Player", can)
                self.assertEqual(r.stdout.strip(), "(<false>,)")

    def test_titles_that_are_not_utf8_still_reach_the_bus(self):
        # An old title file may hold Latin-1; the bus takes only UTF-8, and
        # one bad byte would lose every property read together with it.
        b = self.bus()
        home = os.path.join(harness.tempfile.mkdtemp(prefix="mivo-e2e-home-"), "home")
        toc = harness.standin_toc(DISC)
        xmcd.write(os.path.join(home, ".kel", harness.disc_file_name(toc)),
                   "Zo\u00eb Example / Chansons d'\u00e9t\u00e9", ["Caf\u00e9", "Two"], toc[:-1])
        m = self.start_on(b, home=home)
        m.send("p")
        self.wait_player(b, "Playing", "status")
        self.assertEqual(b.playerctl("metadata", "xesam:title"), "Caf?")
        self.assertEqual(b.playerctl("metadata", "xesam:artist"), "Zo? Example")
        self.assertEqual(b.playerctl("metadata", "xesam:album"), "Chansons d'?t?")
        self.assertEqual(b.playerctl("metadata", "xesam:trackNumber"), "1")

    def test_follow_sees_each_change(self):
        b = self.bus()
        m = self.start_on(b)
        follower = b.popen("playerctl", "-p", PLAYER, "--follow", "status")
        self.addCleanup(follower.kill)
        self.assertEqual(follower.next(5), "Stopped")
        for key, expected in (("p", "Playing"), (" ", "Paused"), ("s", "Stopped")):
            with self.subTest(key=key):
                m.send(key)
                self.assertEqual(follower.next(5), expected)

    def test_interface_as_specified(self):
        """Every member the MPRIS interfaces require, with its types and access."""
        required = {
            "org.mpris.MediaPlayer2": {
                ("method", "Raise"): "", ("method", "Quit"): "",
                ("property", "CanQuit"): "b r", ("property", "CanRaise"): "b r",
                ("property", "HasTrackList"): "b r", ("property", "Identity"): "s r",
                ("property", "SupportedUriSchemes"): "as r",
                ("property", "SupportedMimeTypes"): "as r",
            },
            "org.mpris.MediaPlayer2.Player": {
                ("method", "Next"): "", ("method", "Previous"): "", ("method", "Pause"): "",
                ("method", "PlayPause"): "", ("method", "Stop"): "", ("method", "Play"): "",
                ("method", "Seek"): "in x Offset", ("method", "SetPosition"):
                    "in o TrackId, in x Position", ("method", "OpenUri"): "in s Uri",
                ("signal", "Seeked"): "x Position",
                ("property", "PlaybackStatus"): "s r", ("property", "LoopStatus"): "s rw",
                ("property", "Rate"): "d rw", ("property", "Metadata"): "a{sv} r",
                ("property", "Volume"): "d rw", ("property", "Position"): "x r",
                ("property", "MinimumRate"): "d r", ("property", "MaximumRate"): "d r",
                ("property", "CanGoNext"): "b r", ("property", "CanGoPrevious"): "b r",
                ("property", "CanPlay"): "b r", ("property", "CanPause"): "b r",
                ("property", "CanSeek"): "b r", ("property", "CanControl"): "b r",
            },
        }
        optional = {("property", n) for n in ("Fullscreen", "CanSetFullscreen", "DesktopEntry",
                                              "Shuffle")}
        b = self.bus()
        self.start_on(b)
        r = b.run("gdbus", "introspect", "--session", "--dest", BUS_NAME, "--object-path", OBJECT,
                  "--xml", check=True)
        root = ElementTree.fromstring(r.stdout)
        for name, members in required.items():
            with self.subTest(interface=name):
                iface = root.find(f"interface[@name='{name}']")
                self.assertIsNotNone(iface)
                seen = {}
                for member in iface:
                    key = (member.tag, member.get("name"))
                    if member.tag == "property":
                        seen[key] = f"{member.get('type')} {member.get('access')}".replace(
                            "readwrite", "rw").replace("read", "r")
                    else:
                        args = [a for a in member if a.tag == "arg"]
                        seen[key] = ", ".join(
                            (f"{a.get('direction')} " if member.tag == "method" else "") +
                            f"{a.get('type')} {a.get('name')}" for a in args)
                    if key in required[name]:
                        self.assertEqual(seen[key], required[name][key], key)
                    else:
                        self.assertIn(key, optional, f"{key} is not an MPRIS member")
                self.assertEqual(set(required[name]) - set(seen), set())
                if name.endswith("Player"):
                    emits = {p.get("name"): a.get("value") for p in iface.findall("property")
                             for a in p.findall("annotation")
                             if a.get("name") == "org.freedesktop.DBus.Property.EmitsChangedSignal"}
                    self.assertEqual(emits.get("Position"), "false")

    def test_quit_and_refusals(self):
        b = self.bus()
        m = self.start_on(b)
        r = b.call("org.mpris.MediaPlayer2.Player.OpenUri", "https://example.org/a.cue")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("NotSupported", r.stderr)
        r = b.call("org.mpris.MediaPlayer2.Player.OpenUri", "file:///nonexistent/disc.cue")
        self.assertEqual(r.returncode, 0, r.stderr)
        m.wait_text("Not a disc image: /nonexistent/disc.cue")
        r = b.run("playerctl", "-p", PLAYER, "loop", "Sometimes")
        self.assertEqual(b.playerctl("loop"), "None")
        r = b.call("org.mpris.MediaPlayer2.Quit")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(m.wait_exit(3), 0)
        m.assert_terminal_restored()

    def test_second_mivo_takes_an_instance_name(self):
        b = self.bus()
        first = self.start_on(b)
        second = self.start(env={"DBUS_SESSION_BUS_ADDRESS": b.address, "MIVO_NO_MPRIS": ""})
        wait_until("two players", lambda: len(b.run("playerctl", "-l").stdout.split()) == 2)
        names = b.run("playerctl", "-l").stdout.split()
        self.assertIn(f"mivo.instance{second.pid}", names)
        self.quit_cleanly(first)
        self.quit_cleanly(second)

    def test_without_a_bus_or_switched_off(self):
        b = self.bus()
        cases = [
            ("a stale address", {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus",
                                 "MIVO_NO_MPRIS": ""}, ()),
            ("MIVO_NO_MPRIS=1", {"DBUS_SESSION_BUS_ADDRESS": b.address, "MIVO_NO_MPRIS": "1"}, ()),
            ("--no-mpris", {"DBUS_SESSION_BUS_ADDRESS": b.address, "MIVO_NO_MPRIS": ""},
             ("--no-mpris",)),
        ]
        for what, env, args in cases:
            with self.subTest(what):
                m = self.start(env=env, args=args)
                self.wait_loop(m, 4)
                m.send("p")
                wait_status(m, "Playing")
                self.assertNotIn(PLAYER, b.run("playerctl", "-l").stdout)
                self.assertNotIn("bus", m.text())  # not a word of it
                self.quit_cleanly(m)

    def test_bus_lost_is_one_note(self):
        b = self.bus()
        m = self.start_on(b)
        b.close()
        m.wait_text("session bus went away")
        m.send("p")
        wait_status(m, "Playing")
        self.assertNotIn("session bus went away", m.text())
        m.send("s")
        wait_status(m, "Stopped")
        self.assertNotIn("session bus went away", m.text())
        self.quit_cleanly(m)


class Covers(E2E):
    """The disc's cover as mpris:artUrl: fetched from the stand-in archive and
    cached, or found in a rip's folder."""

    def setUp(self):
        import shutil
        import tempfile
        self.scratch = tempfile.mkdtemp(prefix="mivo-covers-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.b = SessionBus()
        self.addCleanup(self.b.close)

    def env(self, **more):
        env = {"DBUS_SESSION_BUS_ADDRESS": self.b.address, "MIVO_NO_MPRIS": "",
               "XDG_CACHE_HOME": os.path.join(self.scratch, "cache")}
        env.update(more)
        return env

    def art_url(self):
        return self.b.playerctl("metadata", "mpris:artUrl")

    def titled_home(self, note):
        home = os.path.join(self.scratch, "home")
        toc = harness.standin_toc(DISC)
        path = os.path.join(home, ".kel", harness.disc_file_name(toc))
        xmcd.write(path, "Anna Example / Songs for Tests", ["One"], toc[:-1])
        with open(path, encoding="latin-1") as f:
            text = f.read().replace("EXTD=\n", f"EXTD={note}\n")
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        return home

    def test_release_cover_is_fetched_cached_and_exported(self):
        s = LookupServer()
        self.addCleanup(s.close)
        home = self.titled_home(f"Titles from MusicBrainz, release "
                                f"https://musicbrainz.org/release/{MBID}")
        cached = os.path.join(self.scratch, "cache", "mivo", "covers", MBID + ".jpg")
        m = self.start(home=home, env=self.env(
            MIVO_COVERART_URL=f"http://127.0.0.1:{s.port}/caa"))
        wait_until("the cover's URL", lambda: self.art_url() == "file://" + cached)
        with open(cached, "rb") as got, open(os.path.join(COVERS, "front.jpg"), "rb") as want:
            self.assertEqual(got.read(), want.read())
        self.assertEqual(len(s.requests("/release/")), 1)
        self.assertRegex(s.requests("/release/")[0]["user_agent"], r"^mivo/\S+ \( \S+ \)$")
        self.quit_cleanly(m)
        # The next run takes it from the cache: the archive is not asked again.
        m = self.start(home=home, env=self.env(
            MIVO_COVERART_URL=f"http://127.0.0.1:{s.port}/caa"))
        wait_until("the cover's URL", lambda: self.art_url() == "file://" + cached)
        self.assertEqual(len(s.requests("/release/")), 1)
        self.quit_cleanly(m)

    def test_no_cover_no_url(self):
        s = LookupServer()
        self.addCleanup(s.close)
        home = self.titled_home(f"https://musicbrainz.org/release/{MBID}")
        m = self.start(home=home, env=self.env(
            MIVO_COVERART_URL=f"http://127.0.0.1:{s.port}/caa-none"))
        wait_until("the archive asked", lambda: s.requests("/release/"))
        self.wait_loop(m, len(m.calls_matching(r"^Status")) + 2)
        wait_until("the title", lambda: self.b.playerctl("metadata", "xesam:album"))
        self.assertEqual(self.art_url(), "")
        self.quit_cleanly(m)

    def test_folder_image_comes_first(self):
        import shutil
        folder = os.path.join(self.scratch, "rip")
        sheet = pcm_image.write_image(folder, [750, 750])
        shutil.copy(os.path.join(COVERS, "folder.jpg"), os.path.join(folder, "Folder.jpg"))
        m = self.start(drive="image-classic", args=[sheet], control=[], env=self.env())
        wait_until("the cover's URL",
                   lambda: self.art_url() == "file://" + os.path.join(folder, "Folder.jpg"))
        self.quit_cleanly(m)

    def test_open_uri_plays_another_image(self):
        import urllib.parse
        first = pcm_image.write_image(os.path.join(self.scratch, "one"), [750, 750])
        second = pcm_image.write_image(os.path.join(self.scratch, "two words"), [750, 750, 750])
        m = self.start(drive="image-classic", args=[first], control=[], env=self.env())
        wait_status(m, "Stopped", 10)
        wait_until("mivo on the bus", lambda: PLAYER in self.b.run("playerctl", "-l").stdout)
        self.assertEqual(track_value(m), "1 of 2")
        r = self.b.call("org.mpris.MediaPlayer2.Player.OpenUri",
                        "file://" + urllib.parse.quote(second))
        self.assertEqual(r.returncode, 0, r.stderr)
        m.wait_for(lambda m: track_value(m) == "1 of 3", 10, "the second image")
        self.quit_cleanly(m)

    def picture_cells(self, m):
        """Cells right of the control panel's keys that chafa coloured (in
        colours of its own: curses' are named ones)."""
        with m.lock:
            return sum(1 for y in range(m.rows) for x in range(77, m.cols - 1)
                       if m.screen.buffer[y][x].bg not in harness.COLOUR.values()
                       and m.screen.buffer[y][x].bg != "default")

    def test_cover_drawn_in_symbols_beside_the_keys(self):
        import shutil
        folder = os.path.join(self.scratch, "rip")
        sheet = pcm_image.write_image(folder, [750, 750])
        shutil.copy(os.path.join(COVERS, "front.jpg"), os.path.join(folder, "cover.jpg"))
        m = self.start(drive="image-classic", args=[sheet], control=[], rows=30, cols=110,
                       env={"XDG_CACHE_HOME": os.path.join(self.scratch, "cache")})
        wait_status(m, "Stopped", 10)
        shown = m.wait_for(lambda m: self.picture_cells(m) >= 200, 5, "the cover")
        self.assertTrue(shown)
        # Opened for the picture, with the glib it needs.
        self.assertNotEqual(harness.mapped(m, "libchafa"), [], "a cover drawn without libchafa")
        self.assertNotEqual(harness.mapped(m, "libglib"), [])
        # The keys and the frame are as they were.
        self.assertIn("[-] - Previous track", m.text())
        self.assertEqual(m.cell(2, 109).data, "│")
        # Nothing more is written while nothing changes.
        m.wait_quiet(0.3)
        before = len(m.raw)
        time.sleep(1.5)
        self.assertEqual(len(m.raw) - before, 0)
        # A hides it, A shows it again.
        m.send("a")
        m.wait_for(lambda m: self.picture_cells(m) == 0, 3, "the cover gone")
        m.send("A")
        m.wait_for(lambda m: self.picture_cells(m) >= 200, 3, "the cover back")
        # The key help's box goes over it; once closed, the cover is whole again.
        m.send("?")
        m.wait_text("Keys and words on screen")
        m.send("x")
        m.wait_no_text("Keys and words on screen")
        m.wait_for(lambda m: self.picture_cells(m) >= 200, 3, "the cover after the box")
        # Too narrow for it beside the keys: gone, and back when there is room.
        m.resize(24, 80)
        m.wait_for(lambda m: self.picture_cells(m) == 0, 3, "no cover at 80 columns")
        m.resize(30, 110)
        m.wait_for(lambda m: self.picture_cells(m) >= 200, 3, "the cover after the resize")
        self.quit_cleanly(m)

    def test_chafa_is_not_loaded_while_no_cover_is_shown(self):
        """A disc without a cover, with room for one: neither chafa nor glib
        is mapped, nor after the cover is hidden and shown again."""
        folder = os.path.join(self.scratch, "rip")
        sheet = pcm_image.write_image(folder, [750, 750])
        m = self.start(drive="image-classic", args=["--no-lookup", sheet], control=[],
                       rows=30, cols=110, env=self.env())
        wait_status(m, "Stopped", 10)
        m.send("a")
        m.send("A")
        # A key answered is a whole turn of the loop after the ones above.
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        self.assertEqual(harness.mapped(m, "libchafa"), [], "libchafa mapped with no cover")
        self.assertEqual(harness.mapped(m, "libglib"), [], "libglib mapped with no cover")
        self.quit_cleanly(m)

    def test_without_chafa_no_cover_one_message_and_the_player_goes_on(self):
        import shutil
        folder = os.path.join(self.scratch, "rip")
        sheet = pcm_image.write_image(folder, [750, 750])
        shutil.copy(os.path.join(COVERS, "front.jpg"), os.path.join(folder, "cover.jpg"))
        missing = "libmivo-missing.so.0"
        reason = f"Cover: {missing} could not be loaded: cannot open shared object file"
        m = self.start(drive="image-classic", args=["--no-lookup", sheet], control=[],
                       rows=30, cols=110, env=self.env(MIVO_TEST_CHAFA_LIBRARY=missing))
        wait_status(m, "Stopped", 10)
        m.wait_text(reason, 5)
        self.assertEqual(self.picture_cells(m), 0)
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        m.wait_no_text(reason)
        # Hidden and shown again: the reason is not repeated.
        m.send("a")
        m.send("A")
        m.send("p")
        wait_status(m, "Playing")
        self.assertNotIn(reason, m.text())
        self.assertEqual(self.picture_cells(m), 0)
        self.assertEqual(harness.mapped(m, "libchafa"), [])
        self.quit_cleanly(m)

    def test_cover_in_the_terminals_image_protocol_where_it_has_one(self):
        import shutil
        folder = os.path.join(self.scratch, "rip")
        sheet = pcm_image.write_image(folder, [750, 750])
        shutil.copy(os.path.join(COVERS, "front.jpg"), os.path.join(folder, "cover.jpg"))
        cases = [
            # (what, environment, what its output holds)
            ("iTerm's protocol", {"TERM_PROGRAM": "iTerm.app"}, b"\x1b]1337;File="),
            ("sixels, asked for", {"MIVO_COVER_MODE": "sixels"}, b"\x1bP"),
            ("kitty's protocol, asked for", {"MIVO_COVER_MODE": "kitty"}, b"\x1b_G"),
        ]
        for what, env, mark in cases:
            with self.subTest(what):
                m = self.start(drive="image-classic", args=[sheet], control=[], rows=30, cols=110,
                               env=dict(env, XDG_CACHE_HOME=os.path.join(self.scratch, "cache")))
                wait_status(m, "Stopped", 10)
                m.wait_for(lambda m: mark in bytes(m.raw), 5, f"{mark!r} in the output")
                # Placed right of the keys (a terminal narrower than the one where the
        # left boxes grow), with the cursor given back to curses.
                out = bytes(m.raw)
                at = out.index(mark)
                self.assertIn(b"\x1b7\x1b[3;81H", out[max(0, at - 40):at])
                self.assertIn(b"\x1b[0m\x1b8", out[at:])
                self.quit_cleanly(m)
