# SPDX-License-Identifier: GPL-3.0-or-later
"""Disc images played through the sound card, checked sample by sample.

mivo plays a generated image (tests/e2e/pcm_image.py) through SDL's disk
audio driver; what it wrote is decoded back into runs of positions and
compared with the source for the whole disc and after every key that moves
the position. The same scenarios run on classic SDL 1.2 and on sdl12-compat.
"""

import array
import math
import os
import shutil
import subprocess
import sys
import time

import pcm_image
from pcm_image import FRAME_SAMPLES as FS

import scenarios
from scenarios import E2E, wait_status, wait_track
from scenarios import status as status_of

# Tracks of 3, 2, 2.5 and 1.5 seconds.
DISC = [225, 150, 188, 112]
OFF = pcm_image.toc_offsets(DISC)
WHOLE = (OFF[0] * FS, OFF[-1] * FS)
# A short disc for the repeat modes.
SHORT = [75, 60, 45]
SHORT_OFF = pcm_image.toc_offsets(SHORT)
# A first track long enough to skip back 300 frames inside it.
LONG = [900, 150]
LONG_OFF = pcm_image.toc_offsets(LONG)


class DigitalPlayback:
    """The scenarios; a subclass names the SDL to run on."""

    DRIVE = None

    def image(self, lengths, **kw):
        folder = os.path.join(self.scratch, f"image{len(os.listdir(self.scratch))}")
        return pcm_image.write_image(folder, lengths, **kw)

    def setUp(self):
        import tempfile
        import shutil
        self.scratch = tempfile.mkdtemp(prefix="mivo-image-")
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def start_image(self, lengths=DISC, **kw):
        sheet = self.image(lengths)
        m = self.start(drive=self.DRIVE, args=[sheet], control=[], **kw)
        wait_status(m, "Stopped", 10)
        return m

    def played(self, m):
        return pcm_image.runs(m.audio_path)

    def wait_audio(self, m, predicate, what, timeout=20.0):
        """Waits until the runs written so far satisfy predicate; returns them."""
        deadline = time.monotonic() + timeout
        while True:
            got, _ = self.played(m)
            if predicate(got):
                return got
            if time.monotonic() > deadline:
                self.fail(f"no {what} in the audio written; runs {got}\n" + m.dump())
            time.sleep(0.1)

    def wait_past(self, m, frame):
        """Waits until audio of the given Toc frame has been written."""
        return self.wait_audio(m, lambda r: r and r[-1][1] >= frame * FS, f"frame {frame}")

    def finish(self, m):
        """Waits for the end of playback and returns the runs heard."""
        wait_status(m, "Stopped", 30)
        got, gap = self.played(m)
        self.quit_cleanly(m)
        self.assertEqual(m.stderr_lines(), [])
        return got, gap

    def assert_cut_then(self, got, first, second):
        """Two runs: the first from first up to anywhere, the second exactly second."""
        self.assertEqual(len(got), 2, got)
        self.assertEqual(got[0][0], first)
        self.assertLess(got[0][0], got[0][1])
        self.assertEqual(got[1], second)

    def test_whole_disc_byte_exact(self):
        m = self.start_image()
        m.send("p")
        wait_status(m, "Playing")
        got, gap = self.finish(m)
        self.assertEqual(got, [WHOLE])
        # Gapless across the track changes: nothing silent between samples.
        self.assertEqual(gap, 0)

    def test_next_track(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 30)
        m.send("+")
        got, _ = self.finish(m)
        self.assert_cut_then(got, WHOLE[0], (OFF[1] * FS, WHOLE[1]))
        self.assertLess(got[0][1], OFF[1] * FS)

    def test_previous_track_early_in_a_track(self):
        m = self.start_image()
        m.send("p")
        wait_track(m, "2 of 4", 10)
        m.send("-")
        got, _ = self.finish(m)
        self.assert_cut_then(got, WHOLE[0], WHOLE)
        self.assertGreater(got[0][1], OFF[1] * FS)

    def test_go_to_track(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 30)
        m.send("g")
        m.wait_text("Go to which track?")
        m.send("3\r")
        got, _ = self.finish(m)
        self.assert_cut_then(got, WHOLE[0], (OFF[2] * FS, WHOLE[1]))

    def test_enter_plays_the_track_under_the_cursor(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 30)
        # Two down from the playing first track, then Enter: the third plays.
        m.send("\x1bOB")
        m.send("j")
        m.wait_for(lambda m: m.cell(12, 3).reverse, 3, "the cursor on track 3")
        m.send("\r")
        got, _ = self.finish(m)
        self.assert_cut_then(got, WHOLE[0], (OFF[2] * FS, WHOLE[1]))

    def assert_skip(self, got, frames):
        """Two runs, the second starting on a frame about frames after the cut."""
        self.assertEqual(len(got), 2, got)
        self.assertEqual(got[1][1], LONG_OFF[-1] * FS)
        self.assertEqual(got[1][0] % FS, 0)
        jump = (got[1][0] - got[0][1]) / FS
        # The key acts on the position the screen showed, which is at most one
        # turn of the main loop (37 frames) old.
        self.assertGreaterEqual(jump, frames - 45, got)
        self.assertLessEqual(jump, frames + 8, got)

    def test_skip_forward(self):
        m = self.start_image(LONG)
        m.send("p")
        self.wait_past(m, LONG_OFF[0] + 60)
        m.send("]")
        got, _ = self.finish(m)
        self.assertEqual(got[0][0], LONG_OFF[0] * FS)
        self.assert_skip(got, 300)

    def test_skip_back(self):
        m = self.start_image(LONG)
        m.send("p")
        self.wait_past(m, LONG_OFF[0] + 450)
        m.send("[")
        got, _ = self.finish(m)
        self.assertEqual(got[0][0], LONG_OFF[0] * FS)
        self.assert_skip(got, -300)

    def test_pause_and_resume_are_sample_exact(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 40)
        m.send("u")
        wait_status(m, "Paused")
        # The pause is heard: no new audio while paused.
        paused_at = self.played(m)[0][-1][1]
        time.sleep(0.6)
        self.assertEqual(self.played(m)[0][-1][1], paused_at)
        m.send("u")
        got, gap = self.finish(m)
        self.assertEqual(got, [WHOLE])
        self.assertGreater(gap, 0.5 * 44100)

    def test_a_key_after_an_unknown_escape_sequence_is_not_held_back(self):
        """Alt+P sends Escape and p at once: curses returns the Escape and keeps
        the p, out of sight of the terminal's descriptor. It plays now, not at
        the next key."""
        m = self.start_image()
        m.send("\x1bp")
        wait_status(m, "Playing", 5)
        self.quit_cleanly(m)

    def test_stop_and_play_again(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 40)
        m.send("s")
        wait_status(m, "Stopped")
        m.send("p")
        wait_status(m, "Playing")
        got, _ = self.finish(m)
        self.assert_cut_then(got, WHOLE[0], WHOLE)

    def test_repeat_track_plays_the_track_again_and_again(self):
        m = self.start_image(SHORT)
        # On a stopped drive the repeat mode itself starts playback.
        m.send("r")
        track = (SHORT_OFF[0] * FS, SHORT_OFF[1] * FS)
        got = self.wait_audio(m, lambda r: len(r) >= 3, "three plays of track 1")
        self.quit_cleanly(m)
        self.assertEqual(got[:2], [track, track])
        self.assertEqual(got[2][0], track[0])

    def test_repeat_cd_plays_the_disc_again_and_again(self):
        m = self.start_image(SHORT)
        m.send("c")
        disc = (SHORT_OFF[0] * FS, SHORT_OFF[-1] * FS)
        got = self.wait_audio(m, lambda r: len(r) >= 3, "three plays of the disc", 30)
        self.quit_cleanly(m)
        self.assertEqual(got[:2], [disc, disc])
        self.assertEqual(got[2][0], disc[0])


    def test_eject_stops_and_empties_the_tray(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 30)
        m.send("e")
        wait_status(m, "No Audio")
        heard = self.played(m)[0]
        m.send("p")
        time.sleep(0.6)
        self.assertEqual(status_of(m), "No Audio")
        self.assertEqual(self.played(m)[0], heard)
        self.assertEqual(len(heard), 1)
        self.assertEqual(heard[0][0], WHOLE[0])
        self.quit_cleanly(m)

    def test_eject_again_closes_the_tray_and_reads_the_sheet_anew(self):
        m = self.start_image()
        m.send("p")
        self.wait_past(m, OFF[0] + 30)
        m.send("e")
        wait_status(m, "No Audio")
        # The sheet changes while the tray is open: two tracks of the same audio.
        sheet = m.proc.args[-1]
        with open(sheet) as f:
            lines = f.read().splitlines()
        with open(sheet, "w") as f:
            f.write("\n".join(lines[:5]) + "\n")
        m.send("e")
        wait_status(m, "Stopped", 10)
        m.wait_text("1 of 2")
        m.send("p")
        got = self.wait_audio(m, lambda r: len(r) == 2, "the disc played again")
        self.assertEqual(got[1][0], WHOLE[0])
        self.quit_cleanly(m)

    def test_no_sound_output_still_starts_and_says_why_once(self):
        sheet = self.image(DISC, title=("Band", "Record"))
        m = self.start(drive=self.DRIVE, args=[sheet], control=[],
                       env={"SDL_AUDIODRIVER": "no-such-driver"})
        wait_status(m, "Stopped", 10)
        m.wait_text("No sound output")
        m.wait_text("Record")
        self.assertEqual(m.text().count("No sound output"), 1)
        # Other keys work; the message, once cleared, does not come back.
        m.send("+")
        m.wait_no_text("No sound output")
        m.send("t")
        m.wait_text("KEL Track List Editor")
        m.send("q")
        m.wait_text("Control Panel")
        time.sleep(1.2)
        self.assertNotIn("No sound output", m.text())
        self.quit_cleanly(m)
        self.assertEqual(m.stderr_lines(), [])

    def test_volume_keys_follow_a_cubic_curve_in_measured_loudness(self):
        # A loud square wave, so that even low levels keep their precision.
        folder = os.path.join(self.scratch, "loud")
        os.makedirs(folder)
        wave = array.array("h", ([20000] * 100 + [-20000] * 100) * (1500 * FS // 100))
        if sys.byteorder != "little":
            wave.byteswap()
        with open(os.path.join(folder, "loud.bin"), "wb") as f:
            f.write(wave.tobytes())
        sheet = os.path.join(folder, "loud.cue")
        with open(sheet, "w") as f:
            f.write('FILE "loud.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n')
        m = self.start(drive=self.DRIVE, args=[sheet], control=[])
        wait_status(m, "Stopped", 10)
        m.send("p")
        second = 44100 * 4

        def written():
            return os.path.getsize(m.audio_path) if os.path.exists(m.audio_path) else 0

        m.wait_for(lambda m: written() > second // 2, 10, "audio")
        presses = 0
        # Presses of "/" (5 levels each) and the loudness they leave, in dB.
        for total, db in ((1, -0.52), (10, -5.69), (40, -40.0), (51, None)):
            m.send("/" * (total - presses))
            presses = total
            m.wait_keys_read()
            size = written()
            m.wait_for(lambda m: written() > size + second // 2, 10, "audio after the keys")
            with open(m.audio_path, "rb") as f:
                f.seek(written() // 4 * 4 - second // 5)
                tail = array.array("h", f.read(second // 5))
            rms = math.sqrt(sum(v * v for v in tail) / len(tail))
            if db is None:
                self.assertEqual(rms, 0.0, "the lowest level is silence")
            else:
                self.assertAlmostEqual(20 * math.log10(rms / 20000), db, delta=0.1)
        self.quit_cleanly(m)

    def test_bad_images_print_one_line_and_exit_1(self):
        bad = os.path.join(self.scratch, "bad")
        os.makedirs(bad)
        sheets = {
            "missing.cue": 'FILE "nothere.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n',
            "garbage.cue": "garbage line\n",
        }
        for name, text in sheets.items():
            with open(os.path.join(bad, name), "w") as f:
                f.write(text)
        cases = [
            ("missing audio file", os.path.join(bad, "missing.cue"), {}, "missing.cue:1: cannot open"),
            ("malformed sheet", os.path.join(bad, "garbage.cue"), {}, "garbage.cue:1: "),
        ]
        # No sound card is not among them: mivo starts without one.
        for name, sheet, env, start in cases:
            with self.subTest(name):
                m = self.start(drive=self.DRIVE, args=[sheet], control=[], env=env)
                self.assertEqual(m.wait_exit(5), 1)
                lines = m.stderr_lines()
                self.assertEqual(len(lines), 1, lines)
                self.assertIn(start, lines[0])
                time.sleep(0.1)
                self.assertEqual(bytes(m.raw), b"", "the terminal was touched")

    def test_a_damaged_stretch_is_silence_and_the_play_goes_on(self):
        sheet = self.image([300])
        folder = os.path.dirname(sheet)
        wav = os.path.join(folder, "disc.wav")
        flac = os.path.join(folder, "disc.flac")
        subprocess.run(["flac", "-s", "-f", "-o", flac, wav], check=True)
        os.remove(wav)
        with open(flac, "r+b") as f:
            f.seek(os.path.getsize(flac) // 2)
            f.write(bytes((i * 37 + 11) & 0xFF for i in range(4000)))
        with open(sheet) as f:
            text = f.read().replace("disc.wav", "disc.flac")
        with open(sheet, "w") as f:
            f.write(text)
        m = self.start(drive=self.DRIVE, args=[sheet], control=[], cols=200)
        wait_status(m, "Stopped", 10)
        m.send("p")
        m.wait_text(flac + " is damaged at 0:0", 10)
        got, _ = self.finish(m)
        # Before and after the damage, the file's own samples; silence between.
        self.assertEqual(got[0][0], 150 * FS)
        self.assertEqual(got[-1][1], 450 * FS)
        self.assertLess(sum(end - start for start, end in got), 300 * FS)

    def test_a_file_failing_during_the_play_is_named_with_its_reason(self):
        sheet = self.image([75])
        folder = os.path.dirname(sheet)
        shutil.copy(os.path.join(folder, "disc.wav"), os.path.join(folder, "two.wav"))
        with open(sheet, "a") as f:
            f.write('FILE "two.wav" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n')
        two = os.path.join(folder, "two.wav")
        cases = [
            ("deleted", lambda: os.remove(two), "cannot open " + two + ": No such file"),
            ("cut short", lambda: os.truncate(two, 1000), two + " has shrunk since"),
        ]
        for name, harm, words in cases:
            with self.subTest(name):
                shutil.copy(os.path.join(folder, "disc.wav"), two)
                m = self.start(drive=self.DRIVE, args=[sheet], control=[], cols=200)
                wait_status(m, "Stopped", 10)
                harm()
                m.send("p")
                wait_status(m, "Error", 10)
                m.wait_text(words, 5)
                self.quit_cleanly(m)

    def test_a_folder_of_files_plays_as_a_disc_in_natural_order(self):
        sheet = self.image(SHORT)
        folder = os.path.dirname(sheet)
        with open(os.path.join(folder, "disc.wav"), "rb") as f:
            header, data = f.read(44), f.read()
        os.remove(sheet)
        os.remove(os.path.join(folder, "disc.wav"))
        start = 0
        for name, frames in zip(["1 - a.wav", "2 - b.wav", "10 - c.wav"], SHORT):
            part = data[start * FS * 4:(start + frames) * FS * 4]
            head = (header[:4] + (36 + len(part)).to_bytes(4, "little") + header[8:40] +
                    len(part).to_bytes(4, "little"))
            with open(os.path.join(folder, name), "wb") as f:
                f.write(head + part)
            start += frames
        m = self.start(drive=self.DRIVE, args=[folder], control=[])
        wait_status(m, "Stopped", 10)
        m.send("p")
        wait_status(m, "Playing")
        got, gap = self.finish(m)
        self.assertEqual(got, [(SHORT_OFF[0] * FS, SHORT_OFF[-1] * FS)])

        # Two sheets: which one is the user's to say.
        for name in ("a.cue", "b.cue"):
            with open(os.path.join(folder, name), "w") as f:
                f.write('FILE "1 - a.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n')
        m = self.start(drive=self.DRIVE, args=[folder], control=[])
        self.assertEqual(m.wait_exit(5), 1)
        lines = m.stderr_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("holds 2 CUE sheets", lines[0])

    def test_cd_text_names_the_disc_until_titles_are_saved(self):
        sheet = self.image(SHORT, title=("Anna Blume", "Tones"))
        m = self.start(drive=self.DRIVE, args=[sheet], control=[])
        m.wait_text("Anna Blume / Tones", 10)
        m.wait_text("Tone 1")
        self.quit_cleanly(m)
        self.assertEqual(scenarios.kel_files(m.home), [])


class DigitalClassicSdl(DigitalPlayback, E2E):
    DRIVE = "image-classic"


class DigitalSdl12Compat(DigitalPlayback, E2E):
    DRIVE = "image-compat"

