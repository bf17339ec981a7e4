#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Figures of the real mivo playing a disc image through SDL's disk driver,
against the analog stand-in drive as the baseline.

    digital_bench.py --mivo BUILD/mivo --standin-dir DIR [--seconds N] [--hour-minutes M]

CPU time per minute of playback (digital and analog), resident memory after
one minute and after an hour of audio (Repeat CD, disk driver without delay),
gaps in a whole disc played while two busy loops hold both cores, and, for a
sheet of two 30-minute FLAC files, the time to the first screen and the
silence at `+` into the other file (--long-only: these alone).
"""

import argparse
import atexit
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
import pcm_image  # noqa: E402
from harness import Mivo  # noqa: E402

STATUS = (2, 14, 14)


def status(m):
    return m.at(*STATUS).strip()


def rss_kib(m):
    with open(f"/proc/{m.pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_per_minute(m, seconds):
    time.sleep(1)
    cpu0, w0 = m.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    cpu1, w1 = m.cpu_seconds(), time.monotonic()
    return (cpu1 - cpu0) / (w1 - w0) * 60


def digital_cpu(sheet, seconds, drive):
    m = Mivo(drive=drive, args=[sheet], control=[])
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 10, "the image")
        m.send("p")
        m.wait_for(lambda m: status(m) == "Playing", 5, "playing")
        return cpu_per_minute(m, seconds)
    finally:
        m.close()


def analog_cpu(seconds):
    m = Mivo(control=["disc 9000 9000"])
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 10, "the stand-in disc")
        m.send("p")
        m.wait_for(lambda m: status(m) == "Playing", 5, "playing")
        return cpu_per_minute(m, seconds)
    finally:
        m.close()


class PipeCounter:
    """Reads the disk driver's output from a FIFO, counting the bytes."""

    def __init__(self, path):
        self.path = path
        os.mkfifo(path)
        self.bytes = 0
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        with open(self.path, "rb", buffering=0) as f:
            while not self.stop:
                chunk = f.read(1 << 20)
                if not chunk:
                    return
                self.bytes += len(chunk)

    def seconds(self):
        return self.bytes / (44100 * 4)


def memory_over_an_hour(sheet, hour_minutes):
    tmp = tempfile.mkdtemp(prefix="mivo-bench-")
    counter = PipeCounter(os.path.join(tmp, "audio.fifo"))
    m = Mivo(drive="image-classic", args=[sheet], control=[],
             env={"SDL_DISKAUDIOFILE": counter.path, "SDL_DISKAUDIODELAY": "0"})
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 10, "the image")
        m.send("c")
        m.send("p")
        marks = {}
        deadline = time.monotonic() + 600
        while time.monotonic() < deadline:
            played = counter.seconds() / 60
            if "minute" not in marks and played >= 1:
                marks["minute"] = rss_kib(m)
            if played >= hour_minutes:
                marks["hour"] = rss_kib(m)
                break
            time.sleep(0.05)
        marks["played_minutes"] = counter.seconds() / 60
        marks["peak"] = m.peak_rss_kib()
        return marks
    finally:
        counter.stop = True
        m.close()


def gaps_under_load(sheet, drive, lengths):
    hogs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(2)]
    m = Mivo(drive=drive, args=[sheet], control=[])
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 10, "the image")
        m.send("p")
        m.wait_for(lambda m: status(m) == "Playing", 5, "playing")
        m.wait_for(lambda m: status(m) == "Stopped", sum(lengths) / 75 + 30, "the end of the disc")
        runs, longest_gap = pcm_image.runs(m.audio_path)
        offsets = pcm_image.toc_offsets(lengths)
        whole = [(offsets[0] * 588, offsets[-1] * 588)]
        return runs == whole, len(runs), longest_gap
    finally:
        m.close()
        for h in hogs:
            h.kill()
            h.wait()


def repeat_gaps(drive, scratch):
    """The silences between passes of a 2 s track played with Repeat Track:
    the loop restarts the track once the drive reports it stopped."""
    sheet = pcm_image.write_image(os.path.join(scratch, "repeat"), [150])
    m = Mivo(drive=drive, args=[sheet], control=[])
    try:
        m.wait_for(lambda m: status(m) == "Stopped", 10, "the image")
        m.send("r")
        m.send("p")
        m.wait_for(lambda m: len(pcm_image.runs(m.audio_path)[0]) >= 6, 60, "six passes")
        m.send("q")
        m.wait_exit(10)
        return pcm_image.silences(m.audio_path)
    finally:
        m.close()


def first_screen_ms(m):
    """Time from the start to the output that first showed the image stopped."""
    m.wait_for(lambda m: status(m) == "Stopped", 20, "the image")
    with m.lock:
        last = m.chunks[-1][0]
    return (last - m.started) * 1000


def long_files(scratch, drive, runs=5):
    """Two 30-minute FLAC files, one a track: first screen, and the silence
    between the first file and the second at `+`."""
    folder = os.path.join(scratch, "long")
    sheet = os.path.join(folder, "long.cue")
    if not os.path.exists(sheet):
        os.makedirs(folder)
        one = os.path.join(folder, "one.flac")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", one,
                        "synth", "1800", "sine", "440", "vol", "0.5"], check=True)
        subprocess.run(["cp", one, os.path.join(folder, "two.flac")], check=True)
        with open(sheet, "w") as f:
            f.write('FILE "one.flac" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
                    'FILE "two.flac" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n')
    screens, silences = [], []
    for _ in range(runs):
        m = Mivo(drive=drive, args=[sheet], control=[])
        try:
            screens.append(first_screen_ms(m))
            m.send("p")
            # The file holds the silence of the stopped player too: wait for
            # the play to be heard before the key.
            m.wait_for(lambda m: "Time:       00:02" in m.text(), 10, "two seconds played")
            m.send("+")
            m.wait_for(lambda m: "2 of 2" in m.text() and "Time:       00:02" in m.text(), 20,
                       "two seconds of track 2")
            gaps = pcm_image.silences(m.audio_path)
            silences.append(max(gaps) / 44.1 if gaps else 0.0)
        finally:
            m.close()
    return screens, silences


def folder_first_screens(scratch, drive, runs=5):
    """mivo FOLDER on 20 FLAC files of 4 minutes, tagged: only their headers
    and tags are read before the screen comes up. A sheet of one short file is
    the baseline."""
    folder = os.path.join(scratch, "folder")
    if not os.path.exists(folder):
        os.makedirs(folder)
        one = os.path.join(folder, "01 - Track.flac")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", one,
                        "synth", "240", "sine", "440", "vol", "0.5"], check=True)
        subprocess.run(["metaflac", "--set-tag=TITLE=Track", "--set-tag=ARTIST=Anna",
                        "--set-tag=ALBUM=Tones", one], check=True)
        for n in range(2, 21):
            shutil.copy(one, os.path.join(folder, f"{n:02d} - Track.flac"))
    short = pcm_image.write_image(os.path.join(scratch, "short"), [75])
    out = {}
    for name, target in (("folder of 20 FLACs", folder), ("short sheet", short)):
        times = []
        for _ in range(runs):
            m = Mivo(drive=drive, args=[target], control=[])
            try:
                times.append(first_screen_ms(m))
            finally:
                m.close()
        out[name] = times
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mivo", required=True)
    parser.add_argument("--standin-dir", required=True)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--hour-minutes", type=float, default=60)
    parser.add_argument("--long-only", action="store_true")
    opts = parser.parse_args()
    harness.CONFIG.update(mivo=os.path.abspath(opts.mivo), standin_dir=os.path.abspath(opts.standin_dir))

    scratch = tempfile.mkdtemp(prefix="mivo-bench-images-")
    atexit.register(shutil.rmtree, scratch, True)
    for drive in ("image-classic", "image-compat"):
        screens, silences = long_files(scratch, drive)
        print(f"two 30-minute FLACs ({drive}): first screen "
              f"{' '.join(f'{s:.0f}' for s in screens)} ms; silence at + "
              f"{' '.join(f'{s:.0f}' for s in silences)} ms")
    for drive in ("image-classic", "image-compat"):
        for name, times in folder_first_screens(scratch, drive).items():
            print(f"{name} ({drive}): first screen {' '.join(f'{t:.0f}' for t in times)} ms")
    if opts.long_only:
        return

    # A minute in three tracks for the timings, ten minutes for the hour.
    minute = [1500, 1500, 1500]
    minute_sheet = pcm_image.write_image(os.path.join(scratch, "minute"), minute)
    long_sheet = pcm_image.write_image(os.path.join(scratch, "ten"), [15000, 15000, 15000])

    analog = analog_cpu(opts.seconds)
    print(f"CPU per minute, analog stand-in       {analog * 1000:8.1f} ms")
    for drive in ("image-classic", "image-compat"):
        cpu = digital_cpu(minute_sheet, opts.seconds, drive)
        print(f"CPU per minute, digital ({drive:13s}) {cpu * 1000:8.1f} ms")

    marks = memory_over_an_hour(long_sheet, opts.hour_minutes)
    print(f"resident memory after a minute of audio {marks.get('minute', 0):8d} KiB")
    print(f"resident memory after {marks['played_minutes']:.0f} minutes of audio "
          f"{marks.get('hour', 0):8d} KiB (peak {marks['peak']} KiB)")

    for drive in ("image-classic", "image-compat"):
        gaps = repeat_gaps(drive, scratch)
        if not gaps:
            print(f"Repeat Track, silence between passes ({drive}): none")
            continue
        ms = sorted(g / 44.1 for g in gaps)
        print(f"Repeat Track, silence between passes ({drive}): longest {ms[-1]:.1f} ms, "
              f"median {ms[len(ms) // 2]:.1f} ms over {len(ms)} restarts")

    for drive in ("image-classic", "image-compat"):
        exact, count, gap = gaps_under_load(minute_sheet, drive, minute)
        print(f"whole disc with both cores busy ({drive}): "
              f"{'byte-exact, no gap' if exact and gap == 0 else f'{count} runs, longest gap {gap} samples'}")


if __name__ == "__main__":
    main()
