# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end scenarios of title lookups: the real mivo on the stand-in drive
against the project's own stand-in for the title services on 127.0.0.1."""

import os
import shutil
import tempfile
import time

import harness
import pcm_image
import xmcd
from lookup_support import FAMILY_JEWELS, PRIVATEERING_2, UNKNOWN, LookupServer, disc_line
from pending import needs
from scenarios import E2E, wait_status

class Lookup(E2E):
    def server(self):
        s = LookupServer()
        self.addCleanup(s.close)
        return s

    def start_looking(self, server, offsets, mode="mb", **kw):
        env = {"MIVO_NO_LOOKUP": "", "MIVO_MUSICBRAINZ_URL": server.url(mode)}
        env.update(kw.pop("env", {}))
        return self.start(control=[disc_line(offsets)], env=env, **kw)

    def disc_file(self, m, offsets):
        return os.path.join(m.home, ".kel", harness.disc_file_name(offsets))

    def test_libcurl_is_loaded_by_the_first_lookup_not_at_start(self):
        """With lookups off a disc image plays without libcurl in memory; L
        loads it and the lookup goes through it."""
        s = self.server()
        scratch = tempfile.mkdtemp(prefix="mivo-image-")
        self.addCleanup(shutil.rmtree, scratch, True)
        sheet = pcm_image.write_image(scratch, [225, 150])
        m = self.start(drive="image-classic", args=["--no-lookup", sheet], control=[],
                       env={"MIVO_NO_LOOKUP": "", "MIVO_MUSICBRAINZ_URL": s.url("mb")})
        wait_status(m, "Stopped", 10)
        # A key answered is a whole turn of the loop after the first, which
        # is where a lookup of the disc by itself would have started.
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        self.assertEqual(harness.mapped(m, "libcurl"), [], "libcurl mapped with lookups off")
        self.assertEqual(s.requests(), [])
        m.send("L")
        m.wait_for(lambda m: s.requests(), 10, "the request")
        self.assertNotEqual(harness.mapped(m, "libcurl"), [], "the lookup went without libcurl")
        m.wait_text("No titles found", 10)
        self.quit_cleanly(m)

    def test_without_libcurl_a_lookup_says_why_and_the_player_goes_on(self):
        s = self.server()
        missing = "libmivo-missing.so.0"
        reason = f"Lookup: {missing} could not be loaded: cannot open shared object file"
        m = self.start_looking(s, PRIVATEERING_2, cols=132,
                               env={"MIVO_TEST_CURL_LIBRARY": missing})
        m.wait_text(reason, 10)  # the lookup of the disc by itself
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        m.wait_no_text(reason)
        m.send("L")  # asked for: the same reason, at once
        m.wait_text(reason, 5)
        m.send("p")
        wait_status(m, "Playing")
        self.assertEqual(s.requests(), [], "a request without the library")
        self.assertEqual(harness.mapped(m, "libcurl"), [])
        self.quit_cleanly(m)

    def test_agreeing_results_are_stored_and_shown(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2)
        m.wait_text("Mark Knopfler / Privateering (disc 2)", 10)
        m.wait_text("Kingdom of Gold")
        with open(self.disc_file(m, PRIVATEERING_2), encoding="utf-8") as f:
            saved = f.read()
        for line in ("DTITLE=Mark Knopfler / Privateering (disc 2)", "TTITLE0=Kingdom of Gold",
                     "DYEAR=2012", "DGENRE=blues",
                     "EXTD=Titles from MusicBrainz, release https://musicbrainz.org/rele"):
            self.assertIn(line, saved)
        request = s.requests()[0]
        self.assertIn("/discid/wMr.cvfMuhfUKZQ4cTUL48rPo1Y-?toc=1+10+202001+150+24396",
                      request["path"])
        self.assertRegex(request["user_agent"], r"^mivo/\S+ \( \S+ \)$")
        self.quit_cleanly(m)

    def test_differing_results_open_the_choice(self):
        s = self.server()
        m = self.start_looking(s, FAMILY_JEWELS)
        m.wait_text("Titles found", 10)
        m.wait_text("exact")
        m.send("\x1bOB")  # Down: the German release, with a straight apostrophe
        m.wait_for(lambda m: m.cell(3, 2).reverse, 3, "the second candidate selected")
        m.send("\r")
        m.wait_no_text("Titles found")
        m.wait_text("Marina & the Diamonds / The Family Jewels")
        m.wait_text("Are You Satisfied?")
        with open(self.disc_file(m, FAMILY_JEWELS), encoding="utf-8") as f:
            self.assertIn("TTITLE4=Mowgli's Road", f.read())
        self.quit_cleanly(m)

    def test_off_switches(self):
        s = self.server()
        for how in ({"env": {"MIVO_NO_LOOKUP": "1"}}, {"args": ("--no-lookup",)}):
            m = self.start_looking(s, PRIVATEERING_2, **how)
            wait_status(m, "Stopped")
            self.wait_loop(m, 3)
            self.assertEqual(s.requests(), [], f"a lookup despite {how}")
            self.quit_cleanly(m)

    def test_typed_titles_are_kept_and_L_offers_the_choice(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, env={"MIVO_NO_LOOKUP": "1"})
        wait_status(m, "Stopped")
        time.sleep(0.6)
        self.assertEqual(s.requests(), [], "no lookup while switched off")
        m.send("L")
        m.wait_text("Titles found", 10)
        m.send("n")
        m.wait_no_text("Titles found")
        self.assertFalse(os.path.exists(self.disc_file(m, PRIVATEERING_2)))
        m.send("L")
        # Rows of the first choice can stand until the player screen is drawn
        # over them in full, and Enter while the lookup runs chooses nothing:
        # the heading, gone since, says the new results are up.
        m.wait_text("Titles found", 10)
        m.wait_text("disc 2 of 2")
        m.send("\r")
        # The title file is synced to disk before the screen shows the titles,
        # which on a busy disk can take seconds.
        m.wait_text("Mark Knopfler / Privateering (disc 2)", 30)
        self.assertTrue(os.path.exists(self.disc_file(m, PRIVATEERING_2)))
        self.quit_cleanly(m)

    def test_a_disc_nobody_knows_is_asked_for_once(self):
        s = self.server()
        m = self.start_looking(s, UNKNOWN)
        m.wait_for(lambda m: s.requests(), 10, "the request")
        wait_status(m, "Stopped")
        m.drive("empty")
        wait_status(m, "No Audio")
        m.drive("insert")
        wait_status(m, "Stopped")
        self.wait_loop(m, 4)
        self.assertEqual(len(s.requests()), 1, "a miss is remembered")
        # A quick second answer can put the same words over the first's while
        # they still show, and then nothing new is drawn: they go first.
        m.wait_no_text("No titles found", 10)
        mark = len(m.raw)
        m.send("L")  # asked for, it is looked up again
        m.wait_for(lambda m: len(s.requests()) == 2, 5, "the second request")
        # Q while the choice waits for the reply means "none", not quit; the
        # first lookup's words may still be on the screen, so they must be new.
        m.wait_for(lambda m: b"No titles found" in m.raw[mark:], 10, "the second answer")
        self.quit_cleanly(m)

    @needs("message_line")
    def test_nothing_found_is_said_with_the_link_in_full_in_the_help_and_at_the_end(self):
        s = self.server()
        m = self.start_looking(s, UNKNOWN)
        m.wait_text("No titles found for this disc; ? shows the link to add it.", 10)
        m.send("?")
        m.wait_text("Add it to MusicBrainz:")
        m.wait_text("https://musicbrainz.org/cdtoc/attach?id=")
        m.send(" ")
        m.wait_no_text("Keys and words on screen")
        self.quit_cleanly(m)
        lines = m.stderr_lines()
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^mivo: no titles found for the disc; add it to MusicBrainz: "
                                   r"https://musicbrainz\.org/cdtoc/attach\?id=\S+&tracks=\d+&toc=[0-9+]+$")

    def test_keys_stay_live_while_the_server_never_answers(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="never")
        m.wait_for(lambda m: s.requests(), 5, "the request")
        slowest = 0.0
        for key, mode in (("c", "Repeat CD"), ("r", "Repeat Track"), ("c", "Repeat CD"),
                          ("r", "Repeat Track")):
            sent = time.monotonic()
            m.send(key)
            m.wait_for(lambda m: mode in m.row(3), 2, mode)
            slowest = max(slowest, time.monotonic() - sent)
        self.assertLess(slowest, 0.5, "a key waited for the server")
        self.quit_cleanly(m)

    def test_resize_while_waiting_for_the_server_is_drawn_at_once(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="never")
        m.wait_for(lambda m: s.requests(), 5, "the request")
        sent = time.monotonic()
        m.resize(30, 100)
        m.wait_for(lambda m: m.row(29).startswith("\u2514") and m.row(29).endswith("\u2518"),
                   2, "the frame at 100x30")
        self.assertLess(time.monotonic() - sent, 0.45, "the resize waited for the lookup")
        self.quit_cleanly(m)

    @needs("message_line")
    def test_a_server_that_never_answers_is_given_up_on(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="never")
        m.wait_text("Lookup: the network could not be reached (", 15)
        self.assertNotIn("Add the disc", m.text())
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        self.quit_cleanly(m)

    def test_a_lookup_in_progress_is_said_until_it_ends(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="slow-4000")
        m.wait_text("Looking the disc up on MusicBrainz...", 5)
        # Other keys do not clear it.
        m.send("c")
        m.wait_for(lambda m: "Repeat CD" in m.row(3), 2, "Repeat CD")
        self.assertIn("Looking the disc up", m.text())
        m.wait_text("Mark Knopfler / Privateering (disc 2)", 15)
        m.wait_no_text("Looking the disc up", 3)
        self.quit_cleanly(m)

    def test_a_lookup_answered_while_the_editor_is_open_is_applied_when_it_is_left(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="slow-4000")
        m.wait_for(lambda m: s.requests(), 5, "the request")
        m.send("t")
        m.wait_text("KEL Track List Editor")
        m.wait_text("Looking the disc up", 3)
        # The answer comes while the editor is open; the message of the
        # lookup in progress then goes, and the titles wait for the editor.
        m.wait_no_text("Looking the disc up", 15)
        self.assertNotIn("Kingdom of Gold", m.text())
        m.send("q")
        m.wait_text("Mark Knopfler / Privateering (disc 2)", 5)
        self.assertNotIn("timed out", m.text())
        with open(self.disc_file(m, PRIVATEERING_2), encoding="utf-8") as f:
            self.assertIn("TTITLE0=Kingdom of Gold\n", f.read())
        self.quit_cleanly(m)

    def test_keys_typed_while_L_looks_up_act_on_the_player(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="slow-4000",
                               env={"MIVO_NO_LOOKUP": "1"})
        wait_status(m, "Stopped")
        m.send("L")
        m.send("p")  # the player's, as no choice is open yet
        wait_status(m, "Playing")
        # Asked for, the results open the choice once they are in.
        m.wait_text("Titles found", 10)
        m.send("n")
        m.wait_no_text("Titles found")
        self.quit_cleanly(m)

    def test_the_choice_shows_the_highlighted_candidates_tracks(self):
        s = self.server()
        m = self.start_looking(s, FAMILY_JEWELS)
        m.wait_text("Titles found", 10)
        m.wait_text("Tracks:")
        m.wait_text("01 Are You Satisfied?")
        m.send("n")
        m.wait_no_text("Titles found")
        self.quit_cleanly(m)

    def test_eject_during_a_lookup_stores_nothing(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, mode="slow-1500")
        m.wait_for(lambda m: s.requests(), 5, "the request")
        m.drive("empty")
        wait_status(m, "No Audio")
        time.sleep(2.0)
        self.assertFalse(os.path.exists(self.disc_file(m, PRIVATEERING_2)))
        self.assertNotIn("Privateering", m.text())
        self.quit_cleanly(m)

    def test_L_in_the_editor_replaces_typed_titles_by_choice(self):
        s = self.server()
        m = self.start_looking(s, PRIVATEERING_2, env={"MIVO_NO_LOOKUP": "1"})
        xmcd.write(self.disc_file(m, PRIVATEERING_2), "Typed / By Hand", ["mine"] * 10,
                   PRIVATEERING_2[:-1])
        m.drive("empty")
        wait_status(m, "No Audio")
        m.drive(disc_line(PRIVATEERING_2))
        m.wait_text("Typed / By Hand")
        m.send("t")
        m.wait_text("mine")
        m.send("L")
        m.wait_text("disc 2 of 2", 10)  # the results, not the lookup's progress
        m.send("\r")
        m.wait_text("Kingdom of Gold")
        m.send("q")
        m.wait_text("Mark Knopfler / Privateering (disc 2)")
        with open(self.disc_file(m, PRIVATEERING_2), encoding="utf-8") as f:
            saved = f.read()
        self.assertIn("DTITLE=Mark Knopfler / Privateering (disc 2)\n", saved)
        self.assertIn("TTITLE0=Kingdom of Gold\n", saved)
        self.quit_cleanly(m)
