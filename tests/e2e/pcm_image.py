# SPDX-License-Identifier: GPL-3.0-or-later
"""Disc images whose every sample says where it lies, and the reading back of
what mivo played through SDL's disk audio driver.

Sample i of Toc frame f carries 1 + f % 32000 on the left channel and
1 + i + 588 * (f // 32000 % 50) on the right: never zero, so silence and
audio never mix up, and any lost, repeated or stale sample breaks a run.
"""

import array
import os
import sys

FRAME_SAMPLES = 588
LEAD_IN = 150


def frame_pcm(frame):
    """One frame of the pattern as interleaved native-order 16-bit samples."""
    left = 1 + frame % 32000
    base = 1 + FRAME_SAMPLES * (frame // 32000 % 50)
    out = array.array("h", [0]) * (FRAME_SAMPLES * 2)
    out[0::2] = array.array("h", [left]) * FRAME_SAMPLES
    out[1::2] = array.array("h", range(base, base + FRAME_SAMPLES))
    return out


def msf(frames):
    return f"{frames // 4500:02d}:{frames // 75 % 60:02d}:{frames % 75:02d}"


def write_image(folder, lengths, name="disc", kind="WAVE", title=None):
    """Writes name.cue and its audio file (one for the disc) with tracks of the
    given lengths in frames, track 1 at Toc frame 150. Returns the sheet's path."""
    os.makedirs(folder, exist_ok=True)
    pcm = array.array("h")
    for f in range(LEAD_IN, LEAD_IN + sum(lengths)):
        pcm.extend(frame_pcm(f))
    if sys.byteorder != "little":
        pcm.byteswap()
    data = pcm.tobytes()
    if kind == "WAVE":
        audio = f"{name}.wav"
        header = (b"RIFF" + (36 + len(data)).to_bytes(4, "little") + b"WAVEfmt " +
                  (16).to_bytes(4, "little") + (1).to_bytes(2, "little") +
                  (2).to_bytes(2, "little") + (44100).to_bytes(4, "little") +
                  (44100 * 4).to_bytes(4, "little") + (4).to_bytes(2, "little") +
                  (16).to_bytes(2, "little") + b"data" + len(data).to_bytes(4, "little"))
        data = header + data
    else:
        audio = f"{name}.bin"
    with open(os.path.join(folder, audio), "wb") as f:
        f.write(data)
    lines = []
    if title:
        lines += [f'PERFORMER "{title[0]}"', f'TITLE "{title[1]}"']
    lines.append(f'FILE "{audio}" {kind}')
    start = 0
    for n, length in enumerate(lengths, 1):
        lines += [f"  TRACK {n:02d} AUDIO", f"    INDEX 01 {msf(start)}"]
        if title:
            lines.append(f'    TITLE "Tone {n}"')
        start += length
    sheet = os.path.join(folder, f"{name}.cue")
    with open(sheet, "w") as f:
        f.write("\n".join(lines) + "\n")
    return sheet


def toc_offsets(lengths):
    """Toc frame of each track's start, then the lead-out."""
    out = [LEAD_IN]
    for length in lengths:
        out.append(out[-1] + length)
    return out


def silences(path):
    """The lengths in samples of the silences between audible samples of a
    disk-driver file, in order."""
    with open(path, "rb") as f:
        data = f.read()
    data = data[:len(data) - len(data) % 4]
    pcm = array.array("h")
    pcm.frombytes(data)
    out = []
    gap = None
    for lv, rv in zip(pcm[0::2], pcm[1::2]):
        if lv == 0 and rv == 0:
            if gap is not None:
                gap += 1
            continue
        if gap:
            out.append(gap)
        gap = 0
    return out


def runs(path, start=0):
    """The audible samples of a disk-driver file from byte start on, as runs of
    consecutive positions: [(first sample, end sample), ...], plus the longest
    silence between two audible samples, in samples."""
    with open(path, "rb") as f:
        f.seek(start - start % 4)
        data = f.read()
    data = data[:len(data) - len(data) % 4]
    pcm = array.array("h")
    pcm.frombytes(data)
    if sys.byteorder != "little":
        pcm.byteswap()
    left, right = pcm[0::2], pcm[1::2]
    out = []
    longest_gap = 0
    gap = None
    for lv, rv in zip(left, right):
        if lv == 0 and rv == 0:
            if gap is not None:
                gap += 1
            continue
        if gap is not None and gap > longest_gap:
            longest_gap = gap
        gap = 0
        frame = (lv - 1) + 32000 * ((rv - 1) // FRAME_SAMPLES)
        pos = frame * FRAME_SAMPLES + (rv - 1) % FRAME_SAMPLES
        if out and out[-1][1] == pos:
            out[-1][1] = pos + 1
        else:
            out.append([pos, pos + 1])
    return [tuple(r) for r in out], longest_gap
