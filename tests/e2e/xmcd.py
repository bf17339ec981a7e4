# SPDX-License-Identifier: GPL-3.0-or-later
"""A strict reader of the disc files mivo writes under ~/.kel.

It accepts exactly the layout mivo's saver produces: the fixed comment header
with the track frame offsets and the disc length, the DISCID line, the fields
DTITLE, TTITLEn, EXTD, EXTTn in that order with n counting up from 0, each
broken into lines of at most 62 escaped characters, and an empty PLAYORDER
line last. Anything else is an error naming the line.
"""

import os
import re

HEADER_END = ["#", "# Disc length: {} seconds", "# Submitted via: {}", "#"]


def name_version():
    """How the mivo under test names itself ("mivo 1.0.0"); run.py asks it."""
    return os.environ["MIVO_NAME_VERSION"]
MAX_LINE = 72
MAX_TEXT = 255


class XmcdError(Exception):
    pass


def _decode(value, where):
    """Unescapes one line's value; returns the text and its escaped weight."""
    out, i = [], 0
    while i < len(value):
        ch = value[i]
        if ch == "\\":
            if i + 1 >= len(value):
                raise XmcdError(f"{where}: escape split over two lines")
            nxt = value[i + 1]
            if nxt not in "tn\\":
                raise XmcdError(f"{where}: unknown escape \\{nxt}")
            out.append({"t": "\t", "n": "\n", "\\": "\\"}[nxt])
            i += 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def parse(path):
    """Reads one disc file strictly; returns its parts as a dict."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.endswith(b"\n"):
        raise XmcdError(f"{path}: does not end with a newline")
    text = data.decode("latin-1")
    lines = text.split("\n")[:-1]
    for n, line in enumerate(lines, 1):
        if len(line) + 1 > MAX_LINE:
            raise XmcdError(f"{path}:{n}: line of {len(line) + 1} characters")
    pos = 0

    def expect(pattern, what):
        nonlocal pos
        if pos >= len(lines):
            raise XmcdError(f"{path}: ends before {what}")
        m = re.fullmatch(pattern, lines[pos])
        if not m:
            raise XmcdError(f"{path}:{pos + 1}: expected {what}, found {lines[pos]!r}")
        pos += 1
        return m

    expect(r"# xmcd CD Database Entry", "the xmcd header")
    expect(r"#", "'#'")
    expect(r"# Track frame offsets:", "the offsets heading")
    offsets = []
    while pos < len(lines) and re.fullmatch(r"# \d+", lines[pos]):
        offsets.append(int(lines[pos][2:]))
        pos += 1
    expect(r"#", "'#' after the offsets")
    seconds = int(expect(r"# Disc length: (-?\d+) seconds", "the disc length").group(1))
    expect(re.escape(f"# Submitted via: {name_version()}"), "the submitter line")
    expect(r"#", "'#' after the header")
    discid = expect(r"DISCID=([0-9a-f]{8}|f{8}[0-9a-f]{8})", "DISCID").group(1)
    name = os.path.basename(path)
    if discid != name:
        raise XmcdError(f"{path}: DISCID {discid} differs from the file name")
    if int(discid, 16) & 0xFF != len(offsets) & 0xFF:
        raise XmcdError(f"{path}: DISCID {discid} does not end in the track count {len(offsets)}")

    def field(keyword):
        nonlocal pos
        prefix = keyword + "="
        parts = []
        while True:
            if pos >= len(lines) or not lines[pos].startswith(prefix):
                if not parts:
                    raise XmcdError(f"{path}:{pos + 1}: expected {prefix}")
                raise XmcdError(f"{path}:{pos + 1}: field {keyword} ends after a full line")
            value = lines[pos][len(prefix):]
            weight = len(value)
            if weight > 62:
                raise XmcdError(f"{path}:{pos + 1}: {weight} value characters on one line")
            parts.append(_decode(value, f"{path}:{pos + 1}"))
            pos += 1
            # The saver breaks a line only once it carries more than 60 characters.
            if weight <= 60:
                break
        result = "".join(parts)
        if len(result.encode("latin-1")) > MAX_TEXT:
            raise XmcdError(f"{path}: {keyword} holds more than {MAX_TEXT} bytes")
        return result

    dtitle = field("DTITLE")
    ttitles = [field(f"TTITLE{i}") for i in range(len(offsets))]
    extd = field("EXTD")
    extts = [field(f"EXTT{i}") for i in range(len(offsets))]
    expect(r"PLAYORDER=", "an empty PLAYORDER")
    if pos != len(lines):
        raise XmcdError(f"{path}:{pos + 1}: text after PLAYORDER")
    return {"discid": discid, "offsets": offsets, "seconds": seconds, "dtitle": dtitle,
            "ttitles": ttitles, "extd": extd, "extts": extts}


def write(path, dtitle="", ttitles=(), offsets=()):
    """Writes a simple disc file of the kind mivo reads, for a test to put in place."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="latin-1") as f:
        f.write("# xmcd CD Database Entry\n#\n# Track frame offsets:\n")
        for off in offsets:
            f.write(f"# {off}\n")
        f.write(f"#\n# Disc length: 0 seconds\n#\nDISCID={os.path.basename(path)}\n")
        f.write(f"DTITLE={dtitle}\n")
        for i, title in enumerate(ttitles):
            f.write(f"TTITLE{i}={title}\n")
        f.write("EXTD=\nPLAYORDER=\n")
