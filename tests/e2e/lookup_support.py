# SPDX-License-Identifier: GPL-3.0-or-later
"""The stand-in title services for end-to-end runs and the benchmark: the
server process with its request log, and the discs its recorded replies
answer, as the stand-in drive's control lines."""

import json
import os
import subprocess
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "lookup", "lookup_server.py")

# Discs whose tables of contents the recorded replies answer, as the stand-in
# drive's track lengths (its first track starts at frame 150).
PRIVATEERING_2 = [150, 24396, 42447, 65922, 82134, 101226, 116734, 139014, 162924, 184302,
                  202001]
FAMILY_JEWELS = [150, 15239, 29625, 45763, 61420, 75862, 91642, 108918, 123698, 139895,
                 153589, 169239, 188495, 205072]
UNKNOWN = [150, 20150, 40150, 60150]


def disc_line(offsets):
    return "disc " + " ".join(str(b - a) for a, b in zip(offsets, offsets[1:]))


class LookupServer:
    """lookup_server.py in a child process, with its request log."""

    def __init__(self):
        self.proc = subprocess.Popen(["/usr/bin/python3", SERVER], stdout=subprocess.PIPE,
                                     text=True)
        self.port = int(self.proc.stdout.readline())

    def url(self, mode):
        return f"http://127.0.0.1:{self.port}/{mode}/ws/2"

    def log(self):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/log") as reply:
            return [json.loads(line) for line in reply.read().decode().splitlines()]

    def requests(self, what="/discid/"):
        return [e for e in self.log() if what in e["path"]]

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)
