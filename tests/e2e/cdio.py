# SPDX-License-Identifier: GPL-3.0-or-later
"""A CD drive read through libcdio and paranoia, played through the sound card.

There is no drive here, so libcdio opens a raw BIN/CUE image as the system's
default drive: MIVO_TEST_CDIO_IMAGE names the sheet, and mivo takes it for
what libcdio would find as the default drive. mivo runs on sdl12-compat, whose
SDL reports no CD drives, so `mivo` without an argument falls back to that
drive and reads it digitally, as it would a real one. What SDL's disk audio
driver writes is read back sample by sample (tests/e2e/pcm_image.py).
"""

import os
import shutil
import tempfile

import harness
import pcm_image
import xmcd
from pcm_image import FRAME_SAMPLES as FS

from scenarios import E2E, status, wait_status

DISC = [225, 150, 188]
OFF = pcm_image.toc_offsets(DISC)
WHOLE = (OFF[0] * FS, OFF[-1] * FS)
AUDIO_ROW = 7  # the status box's row under "CD:"


class CdioDrive(E2E):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="mivo-cdio-")
        self.addCleanup(shutil.rmtree, self.scratch, True)
        self.sheet = pcm_image.write_image(os.path.join(self.scratch, "disc"), DISC,
                                           kind="BINARY")

    def start_drive(self, image=True):
        env = {"MIVO_TEST_CDIO_IMAGE": self.sheet if image else ""}
        return self.start(drive="image-compat", args=[], control=[], env=env)

    def test_default_drive_plays_byte_exact_and_says_digital(self):
        m = self.start_drive()
        wait_status(m, "Stopped", 10)
        self.assertIn("Audio:", m.row(AUDIO_ROW))
        self.assertIn("digital", m.row(AUDIO_ROW))
        self.assertIn(f"of {len(DISC)}", m.dump())
        m.send("p")
        wait_status(m, "Playing", 10)
        wait_status(m, "Stopped", 30)
        got, gap = pcm_image.runs(m.audio_path)
        self.quit_cleanly(m)
        self.assertEqual(got, [WHOLE])
        self.assertEqual(gap, 0)
        # Only sdl12-compat's notes on its missing drive, before the screen.
        self.assertEqual([l for l in m.stderr_lines() if not l.startswith("INFO: ")], [])

    def test_a_seek_lands_on_the_exact_sample(self):
        m = self.start_drive()
        wait_status(m, "Stopped", 10)
        m.send("g")
        m.wait_text("Go to which track?")
        m.send("3\r")
        wait_status(m, "Playing", 10)
        wait_status(m, "Stopped", 30)
        got, _ = pcm_image.runs(m.audio_path)
        self.quit_cleanly(m)
        self.assertEqual(got, [(OFF[2] * FS, WHOLE[1])])

    def test_eject_then_the_drive_going_and_coming_back(self):
        m = self.start_drive()
        wait_status(m, "Stopped", 10)
        away = self.sheet + ".away"
        os.rename(self.sheet, away)
        wait_status(m, "Error", 5)
        os.rename(away, self.sheet)
        wait_status(m, "Stopped", 5)
        m.send("e")
        wait_status(m, "No Audio", 5)
        self.assertTrue(m.running())
        self.quit_cleanly(m)

    def test_a_data_only_disc_shows_no_audio_and_stays_up(self):
        folder = os.path.join(self.scratch, "data")
        os.makedirs(folder)
        with open(os.path.join(folder, "data.bin"), "wb") as f:
            f.write(bytes(2352 * 300))
        self.sheet = os.path.join(folder, "data.cue")
        with open(self.sheet, "w") as f:
            f.write('FILE "data.bin" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n')
        m = self.start_drive()
        wait_status(m, "No Audio", 10)
        m.send("p")
        m.wait_quiet(0.6, 3)
        self.assertEqual(status(m), "No Audio")
        self.quit_cleanly(m)

    def test_a_drive_still_reading_its_disc_at_start_up_does_not_hold_the_screen(self):
        """The drive's first reading of the disc hangs for 5 s, as a drive
        spinning up does: the screen comes up saying so, keys work, and the
        disc arrives with its titles as an inserted one does."""
        shim = harness.CONFIG.get("stall_shim")
        if not shim:
            self.skipTest("run.py was not given --stall-shim")
        home = os.path.join(self.scratch, "home")
        xmcd.write(os.path.join(home, ".kel", harness.disc_file_name(OFF)),
                   "Spun / Up", ["First", "Second", "Third"], OFF[:-1])
        # The shim comes before the sanitizers' runtime, which then need not be first.
        asan = os.environ.get("ASAN_OPTIONS", "")
        m = self.start(drive="image-compat", args=[], control=[], home=home,
                       env={"MIVO_TEST_CDIO_IMAGE": self.sheet, "LD_PRELOAD": shim,
                            "MIVO_STALL_AT_BYTES": "0", "MIVO_STALL_SECONDS": "5",
                            "ASAN_OPTIONS": asan + ":verify_asan_link_order=0"})
        wait_status(m, "Reading disc", 10)
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "the key while the drive reads")
        m.send("s")  # back to Normal, or the disc would start once read
        m.wait_for(lambda m: "Normal" in m.row(3), 2, "the key while the drive reads")
        wait_status(m, "Stopped", 15)
        m.wait_text("Spun / Up")
        m.wait_text("First")
        self.quit_cleanly(m)

    def test_no_sdl_drive_and_no_default_drive_ends_with_the_message(self):
        m = self.start_drive(image=False)
        self.assertEqual(m.wait_exit(10), 1)
        # sdl12-compat says why it has no drive before mivo says so.
        self.assertEqual(m.stderr_lines()[-1:], ["No CDROM devices available"])
