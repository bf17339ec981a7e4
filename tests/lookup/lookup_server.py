#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for MusicBrainz's and gnudb's web services on 127.0.0.1, serving
the recorded replies in tests/data/lookup, plus the misbehaving servers the
lookup must survive.

    lookup_server.py [--data DIR]

Prints the port it listens on as its first line, then serves until killed.
The first path element picks the behaviour, the rest is the service's own:

    /mb/ws/2/discid/<id>?toc=...   the recorded reply for that disc id
    /slow-<ms>/ws/2/...            the same after a delay of <ms>
    /never/ws/2/...                takes the request and never answers
    /busy/ws/2/...                 503 every time
    /busy-once/ws/2/...            503 the first time, then the reply
    /huge/ws/2/...                 a 2 MB reply
    /garbage/ws/2/...              text that is not JSON
    /cddb/cddb.cgi?cmd=...         CDDB over HTTP from the recorded replies
    /caa/release/<mbid>/front-500  a 307 redirect to /image/front.jpg, as the
                                   Cover Art Archive answers
    /caa-none/release/...          404: the release has no cover
    /caa-huge/release/...          a 20 MB reply, its length not announced
    /garbage/release/...           a page that is not an image
    /slow-<ms>/release/...         the redirect after a delay of <ms>
    /image/<name>                  an image of tests/data/covers
    /log                           every request so far, one JSON object a line
"""

import argparse
import json
import os
import socketserver
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))

# MusicBrainz disc id -> recorded reply; any other id gets the empty list that
# a toc= lookup without a match answers.
MB_REPLIES = {
    "J9dlQIdlpgKkwDn.nHo8SlQ0ks4-": "discid-exact-3releases-DERIVED.json",
    "6jCVgqiBloWPfG27I5IfdbECRQU-": "toc-fuzzy-5releases.json",
    "cjHcIwcM.pqRzRTSyWWyG_49t70-": "toc-fuzzy-3releases-pregap182.json",
    "wMr.cvfMuhfUKZQ4cTUL48rPo1Y-": "toc-fuzzy-multimedium-genres.json",
    "5Kmqj4OALmN4oJNUnFE5frqZ.nk-": "cdstub-CONSTRUCTED.json",
}
NO_MATCH = "toc-fuzzy-no-match.json"

# CDDB disc id -> query reply; (category, disc id) -> read reply.
CDDB_QUERIES = {
    "940aac0d": "query-210-multiple-exact-940aac0d-CONSTRUCTED.txt",
    "12340000": "query-200-utf8-12340000.txt",
}
CDDB_READS = {
    ("data", "940aac0d"): "read-210-940aac0d-proto5-crlf.txt",
    ("misc", "940aac0d"): "read-403-corrupt.txt",
    ("misc", "12340000"): "read-210-utf8-12340000-proto6.txt",
}


class State:
    data = None
    log = []
    busy_seen = set()
    lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def fixture(self, *parts):
        with open(os.path.join(State.data, *parts), "rb") as f:
            return f.read()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        with State.lock:
            State.log.append({"time": time.time(), "path": self.path,
                              "user_agent": self.headers.get("User-Agent", "")})
        parts = url.path.split("/")
        mode = parts[1] if len(parts) > 1 else ""
        if mode == "log":
            with State.lock:
                body = "".join(json.dumps(e) + "\n" for e in State.log).encode()
            return self.reply(200, body, "text/plain")
        if mode == "cddb":
            return self.cddb(urllib.parse.parse_qs(url.query))
        if mode == "image":
            with open(os.path.join(State.data, "..", "covers", os.path.basename(url.path)),
                      "rb") as f:
                return self.reply(200, f.read(), "image/jpeg")
        if len(parts) > 2 and parts[2] == "release":
            return self.cover(mode)
        if mode == "never":
            # Holds the connection open without a byte of answer.
            time.sleep(3600)
            return None
        if mode.startswith("slow-"):
            time.sleep(int(mode[5:]) / 1000)
        elif mode == "busy":
            return self.reply(503, b'{"error":"busy"}')
        elif mode == "busy-once":
            with State.lock:
                first = url.path not in State.busy_seen
                State.busy_seen.add(url.path)
            if first:
                return self.reply(503, b'{"error":"busy"}')
        elif mode == "huge":
            return self.reply(200, b'{"releases":[' + b" " * (2 * 1024 * 1024) + b"]}")
        elif mode == "garbage":
            return self.reply(200, b"<html>Service Unavailable</html>", "text/html")
        disc_id = parts[-1]
        name = MB_REPLIES.get(disc_id, NO_MATCH)
        return self.reply(200, self.fixture("musicbrainz", name))

    def cover(self, mode):
        if mode.startswith("slow-"):
            time.sleep(int(mode[5:]) / 1000)
        elif mode == "caa-none":
            return self.reply(404, b"Not Found", "text/plain")
        elif mode == "garbage":
            return self.reply(200, b"<html>Service Unavailable</html>", "text/html")
        elif mode == "caa-huge":
            self.send_response(200)
            self.send_header("Content-Type", "image/jpeg")
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"\xff\xd8\xff" + b"\0" * (1024 * 1024 - 3)
            try:
                for _ in range(20):
                    self.wfile.write(chunk)
            except ConnectionError:
                pass
            self.close_connection = True
            return None
        self.send_response(307)
        self.send_header("Location", "/image/front.jpg")
        self.send_header("Content-Length", "0")
        self.end_headers()
        return None

    def cddb(self, query):
        command = query.get("cmd", [""])[0].split()
        if not query.get("hello"):
            return self.reply(200, self.fixture("cddb", "any-409-no-handshake.txt"), "text/plain")
        if query.get("proto", [""])[0] != "6" or len(command) < 3 or command[0] != "cddb":
            return self.reply(200, self.fixture("cddb", "any-500-syntax-error.txt"), "text/plain")
        if command[1] == "query":
            name = CDDB_QUERIES.get(command[2], "query-202-no-match.txt")
            if name == "query-200-utf8-12340000.txt":
                return self.reply(200, "200 misc 12340000 Aïi / Aïi\r\n".encode(), "text/plain")
            return self.reply(200, self.fixture("cddb", name), "text/plain")
        if command[1] == "read" and len(command) >= 4:
            name = CDDB_READS.get((command[2], command[3]), "read-401-not-found.txt")
            return self.reply(200, self.fixture("cddb", name), "text/plain")
        return self.reply(200, self.fixture("cddb", "any-500-syntax-error.txt"), "text/plain")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that hangs up early (a cancelled lookup) is no error here.
        if isinstance(sys.exc_info()[1], ConnectionError):
            return
        super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", default=os.path.join(HERE, "..", "data", "lookup"))
    opts = parser.parse_args()
    State.data = os.path.abspath(opts.data)
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    socketserver.TCPServer.allow_reuse_address = True
    sys.exit(main())
