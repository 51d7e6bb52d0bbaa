#!/usr/bin/env python3
"""Local update server for the tests and the benchmarks.

Serves GET /<path> from a root directory over HTTP/1.1 with keep-alive and
Content-Length, with ETag and Last-Modified, and single byte ranges
(Range: bytes=N- or N-M, 206 with Content-Range; If-Range with the ETag or
the Last-Modified date, else the whole file with 200; 416 past the end), and
conditional requests (If-None-Match with the ETag or "*", else
If-Modified-Since not before the file's time: 304 without a body).
Faults can be set per path, and every request path is logged.

Admin API (never logged):
  POST /__admin/serve        body: root directory (Unix path, or a Windows path
                             such as Z:\\dir or C:\\dir mapped through the Wine
                             prefix); clears faults, delay, the log and the counters
  POST /__admin/fault        body: "<kind>[,<kind>...] <url path>"; kind "none"
                             clears the path's faults
  POST /__admin/delay        body: milliseconds every logged request waits
                             before it is answered (0: none)
  GET  /__admin/log          requested paths, percent-decoded, UTF-8, one a line
  GET  /__admin/requests     one line per logged request: path, Range and
                             If-Range headers ("-" when absent), status, tab-separated
  GET  /__admin/connections  number of connections that carried logged requests
  GET  /__admin/bytes        body bytes sent for logged requests

Fault kinds: 404, 500, drop (connection reset mid-body; ignores Range), short
(body shorter than its Content-Length, then close), long (more bytes than
Content-Length), stall (headers, then silence), pause (headers and half the
body, then silence), hang (no answer at all), trickle (a few bytes a second).
Silence and trickles end after at most 120 s or when the server stops.
Answers without a Content-Length, and hostile ones:
  chunked     the whole file, Transfer-Encoding: chunked (64 KiB chunks)
  nolength    the whole file, no Content-Length: its end is the closed connection
  bigtrickle  Content-Length: 1 GiB, then 1 KiB a second of the file (repeated)
  slowchunks  chunked, 1 KiB a second of the file (repeated), never ending
  headreset   the headers (with the file's length), then a connection reset
Further kinds, combinable with a comma:
  cut@N, cut@P%, cut@-1   the next answer for the path is reset after the body
                          reached byte offset N, P percent of the file, or one
                          byte before its end; fires once, then the path is
                          served normally
  swap                    when a cut fires, the file is replaced by its sibling
                          "<name>.next" (a new ETag): the file changed on the
                          server between two attempts
  norange                 Range and If-Range are ignored: always 200 and the
                          whole file
  noetag                  no ETag: Last-Modified only, and a 304 for an
                          If-Modified-Since not before the file's time
Answers that are not the file:
  30X@URL     status 301, 302, 303, 307 or 308 with Location: URL (no comma)
  portal      200, Content-Type text/html, a login page (as a captive portal)
  htmlbody    200, Content-Type application/octet-stream, the login page
  textpage    200, Content-Type text/plain, a line of text
"""

import argparse
import email.utils
import http.server
import itertools
import os
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse

SILENCE_LIMIT_S = 120.0
TRICKLE_BYTES = 4
TRICKLE_PERIOD_S = 0.25
FAULT_KINDS = {"404", "500", "drop", "short", "long", "stall", "pause", "hang", "trickle",
               "chunked", "nolength", "bigtrickle", "slowchunks", "headreset"}
HOSTILE_KINDS = ("chunked", "nolength", "bigtrickle", "slowchunks", "headreset")
SLOW_BYTES = 1024
SLOW_PERIOD_S = 1.0
MODIFIER_KINDS = {"swap", "norange", "noetag"}


PORTAL_PAGE = b"\xef\xbb\xbf\r\n  <!DOCTYPE html><html><body><form>Hotel Wi-Fi login</form></body></html>\n"
REDIRECT_CODES = ("301", "302", "303", "307", "308")


def valid_kind(kind):
    if kind in FAULT_KINDS or kind in MODIFIER_KINDS or kind in ("portal", "htmlbody", "textpage"):
        return True
    if kind[:3] in REDIRECT_CODES and kind[3:4] == "@":
        return len(kind) > 4
    if kind.startswith("cut@"):
        arg = kind[4:]
        try:
            return arg == "-1" or (arg.endswith("%") and 0 <= int(arg[:-1]) <= 100) or int(arg) >= 0
        except ValueError:
            return False
    return False


def cut_offset(kind, size):
    """Byte offset at which a cut@ kind resets the connection."""
    arg = kind[4:]
    if arg == "-1":
        return max(size - 1, 0)
    if arg.endswith("%"):
        return size * int(arg[:-1]) // 100
    return min(int(arg), size)


def parse_range(header, size):
    """(start, end) inclusive for one "bytes=N-" or "bytes=N-M" range, "bad"
    for one past the end, None for anything else (served whole)."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    first, sep, last = header[6:].strip().partition("-")
    if not sep or not first.isdigit() or (last and not last.isdigit()):
        return None
    start = int(first)
    end = min(int(last), size - 1) if last else size - 1
    if start >= size:
        return "bad"
    if end < start:
        return None
    return start, end


class ServerState:
    def __init__(self, root):
        self.lock = threading.Lock()
        self.root = root
        self.faults = {}        # path -> set of kinds
        self.log = []           # [decoded path, connection id, range, if-range, status]
        self.delay_s = 0.0
        self.body_bytes = 0
        self.stopping = threading.Event()
        self.conn_ids = itertools.count(1)

    def serve(self, root):
        with self.lock:
            self.root = root
            self.faults = {}
            self.log = []
            self.delay_s = 0.0
            self.body_bytes = 0

    def set_fault(self, path, kinds):
        with self.lock:
            if kinds == {"none"}:
                self.faults.pop(path, None)
            else:
                self.faults[path] = set(kinds)

    def fire_cut(self, path, kind):
        """Removes a once-only cut; True when it was still set."""
        with self.lock:
            kinds = self.faults.get(path)
            if not kinds or kind not in kinds:
                return False
            kinds.discard(kind)
            if not kinds:
                self.faults.pop(path, None)
            return True

    def record(self, path, conn_id, byte_range, if_range):
        """Logs a request; returns (root, its faults, the log entry, delay)."""
        with self.lock:
            entry = [path, conn_id, byte_range or "-", if_range or "-", "-"]
            self.log.append(entry)
            return self.root, set(self.faults.get(path, ())), entry, self.delay_s

    def add_body_bytes(self, n):
        with self.lock:
            self.body_bytes += n

    def requests_text(self):
        with self.lock:
            return "".join("%s\t%s\t%s\t%s\n" % (e[0], e[2], e[3], e[4]) for e in self.log)

    def log_text(self):
        with self.lock:
            return "".join(e[0] + "\n" for e in self.log)

    def connection_count(self):
        with self.lock:
            return len({e[1] for e in self.log})


def decode_path(raw):
    """Percent-decoded path without the query, as UTF-8 text."""
    path = urllib.parse.urlsplit(raw).path if raw.startswith("http") else raw.split("?", 1)[0]
    return urllib.parse.unquote(path, encoding="utf-8", errors="surrogateescape")


def windows_to_unix(path):
    """Z:\\a\\b -> /a/b; other drives through the Wine prefix's dosdevices."""
    if len(path) >= 2 and path[1] == ":" and path[0].isalpha():
        rest = path[2:].replace("\\", "/")
        drive = path[0].lower()
        if drive == "z":
            return rest or "/"
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        return os.path.join(prefix, "dosdevices", drive + ":") + rest
    return path


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QOVATestServer/1.0"

    def version_string(self):
        return self.server_version

    def setup(self):
        super().setup()
        self.conn_id = next(self.server.state.conn_ids)
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, fmt, *args):
        pass  # the request log is kept in memory; stderr stays quiet

    # --- helpers ---------------------------------------------------------

    def send_small(self, status, body=b"", content_type="text/plain; charset=utf-8"):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def send_response(self, code, message=None):
        entry = getattr(self, "entry", None)
        if entry is not None:
            entry[4] = str(code)
        super().send_response(code, message)

    def send_file_headers(self, length, status=200, content_range=None):
        self.send_response(status)
        self.send_header("Content-Type", self.content_type)
        self.send_header("Content-Length", str(length))
        if self.validators:
            if not self.no_etag:
                self.send_header("ETag", self.validators[0])
            self.send_header("Last-Modified", self.validators[1])
            self.send_header("Accept-Ranges", "bytes")
        if content_range:
            self.send_header("Content-Range", content_range)
        self.end_headers()

    def write_body(self, data):
        self.wfile.write(data)
        self.server.state.add_body_bytes(len(data))

    def wait_silently(self):
        self.server.state.stopping.wait(SILENCE_LIMIT_S)
        self.close_connection = True

    def reset_connection(self):
        # SO_LINGER 0 makes close() send RST instead of FIN.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    # --- requests --------------------------------------------------------

    def do_GET(self):
        self.entry = None  # a keep-alive connection may carry admin requests too
        if self.path.startswith("/__admin/"):
            return self.admin_get()
        path = decode_path(self.path)
        byte_range, if_range = self.headers.get("Range"), self.headers.get("If-Range")
        root, faults, self.entry, delay_s = self.server.state.record(path, self.conn_id, byte_range, if_range)
        self.validators = None
        self.no_etag = "noetag" in faults
        self.content_type = "application/octet-stream"
        if delay_s and self.server.state.stopping.wait(delay_s):
            return
        for kind in ("404", "500"):
            if kind in faults:
                return self.send_small(int(kind), kind + "\n")
        for kind in faults:
            if kind[:3] in REDIRECT_CODES and kind[3:4] == "@":
                self.send_response(int(kind[:3]))
                self.send_header("Location", kind[4:])
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
        if "textpage" in faults:
            return self.send_small(200, "Welcome to the network\r\n")
        if "portal" in faults or "htmlbody" in faults:
            return self.send_small(200, PORTAL_PAGE, "text/html; charset=utf-8" if "portal" in faults
                                   else "application/octet-stream")
        if "hang" in faults:
            return self.wait_silently()
        file_path = self.resolve(root, path)
        if file_path is None:
            return self.send_small(404, "not found\n")
        if file_path.endswith(".pac"):
            self.content_type = "application/x-ns-proxy-autoconfig"
        with open(file_path, "rb") as f:
            st = os.fstat(f.fileno())
            size = st.st_size
            # Strong: it changes whenever the file is rewritten or replaced.
            self.validators = ('"%x-%x-%x"' % (st.st_ino, st.st_mtime_ns, size),
                               email.utils.formatdate(st.st_mtime, usegmt=True))
            legacy = [k for k in ("stall", "pause", "drop", "short", "long", "trickle") if k in faults]
            if not legacy and self.not_modified(st):
                self.send_response(304)
                if not self.no_etag:
                    self.send_header("ETag", self.validators[0])
                self.send_header("Last-Modified", self.validators[1])
                self.end_headers()
                return
            if legacy:
                return self.legacy_fault(legacy[0], f, size)
            hostile = [k for k in HOSTILE_KINDS if k in faults]
            if hostile:
                return self.hostile_answer(hostile[0], f.read())
            self.send_ranged(f, size, path, faults, file_path)

    def not_modified(self, st):
        """As a static server answers a conditional GET: the ETag decides when asked for."""
        tags = self.headers.get("If-None-Match")
        if tags is not None and not self.no_etag:
            tags = [t.strip() for t in tags.split(",")]
            return "*" in tags or any(t in (self.validators[0], "W/" + self.validators[0]) for t in tags)
        since = self.headers.get("If-Modified-Since")
        if since is None:
            return False
        try:
            return int(st.st_mtime) <= email.utils.parsedate_to_datetime(since).timestamp()
        except (TypeError, ValueError):
            return False

    def send_ranged(self, f, size, path, faults, file_path):
        wanted = None
        if "norange" not in faults and (self.headers.get("If-Range") is None
                                        or self.headers.get("If-Range") in self.validators):
            wanted = parse_range(self.headers.get("Range"), size)
        if wanted == "bad":
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if wanted is None:
            start, end = 0, size - 1
            self.send_file_headers(size)
        else:
            start, end = wanted
            self.send_file_headers(end - start + 1, 206, "bytes %d-%d/%d" % (start, end, size))
        cut = next((k for k in faults if k.startswith("cut@")), None)
        if cut and self.server.state.fire_cut(path, cut):
            stop = max(cut_offset(cut, size), start)
            f.seek(start)
            self.write_body(f.read(min(stop, end + 1) - start))
            # A clean close after the bytes: the client sees every byte sent,
            # then the end of the connection before the announced length.
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_WR)
            self.close_connection = True
            if "swap" in faults and os.path.isfile(file_path + ".next"):
                os.replace(file_path + ".next", file_path)
            return
        if end >= start:
            self.connection.sendfile(f, start, end - start + 1)
            self.server.state.add_body_bytes(end - start + 1)

    def legacy_fault(self, fault, f, size):
        if fault == "stall":
            self.send_file_headers(size)
            self.wait_silently()
        elif fault == "pause":
            self.send_file_headers(size)
            self.write_body(f.read(size // 2))
            self.wait_silently()
        elif fault == "drop":
            declared = max(size, 2)
            self.send_file_headers(declared)
            self.write_body(f.read(declared // 2))
            time.sleep(0.2)  # let the first half reach the client before the reset
            self.reset_connection()
        elif fault == "short":
            self.send_file_headers(size + 16)
            self.write_body(f.read())
            self.close_connection = True
        elif fault == "long":
            # One write with the headers, so that the surplus reaches the
            # client together with the body rather than as a later stray.
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self._headers_buffer.append(b"\r\n")
            head = b"".join(self._headers_buffer)
            self._headers_buffer = []
            self.write_body(head + f.read() + b"EXTRA-BYTES-BEYOND-CONTENT-LENGTH")
            self.close_connection = True
        elif fault == "trickle":
            self.send_file_headers(size)
            self.trickle(f, size)

    def hostile_answer(self, kind, data):
        self.close_connection = True
        chunked = kind in ("chunked", "slowchunks")
        if kind in ("slowchunks", "bigtrickle"):
            # SLOW_BYTES of the file (repeated) every SLOW_PERIOD_S, until the limit or the stop.
            data = (data or b"x") * (SLOW_BYTES // max(len(data), 1) + 1)
            ticks = int(SILENCE_LIMIT_S / SLOW_PERIOD_S)
            pieces = (data[:SLOW_BYTES] for _ in range(ticks) if not self.server.state.stopping.wait(SLOW_PERIOD_S))
        else:
            pieces = (data[at:at + 65536] for at in range(0, len(data), 65536))
        try:
            if kind == "headreset":
                self.send_file_headers(len(data))
                self.wfile.flush()
                time.sleep(0.2)  # the headers reach the client before the reset
                return self.reset_connection()
            self.send_response(200)
            self.send_header(*(("Transfer-Encoding", "chunked") if chunked else ("Content-Length", str(1 << 30))
                               if kind == "bigtrickle" else ("Connection", "close")))
            self.end_headers()
            for piece in pieces:
                self.write_body(b"%x\r\n%s\r\n" % (len(piece), piece) if chunked else piece)
                self.wfile.flush()
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
        except OSError:
            pass  # the client gave up

    def do_POST(self):
        self.entry = None
        if self.path.startswith("/__admin/"):
            return self.admin_post()
        self.entry = self.server.state.record(decode_path(self.path), self.conn_id, None, None)[2]
        self.read_body()
        self.send_small(405, "GET only\n")

    def trickle(self, f, size):
        deadline = time.monotonic() + SILENCE_LIMIT_S
        sent = 0
        try:
            while sent < size and time.monotonic() < deadline:
                if self.server.state.stopping.wait(TRICKLE_PERIOD_S):
                    break
                chunk = f.read(TRICKLE_BYTES)
                self.write_body(chunk)
                sent += len(chunk)
        except OSError:
            pass  # the client gave up
        self.close_connection = True

    def resolve(self, root, path):
        if root is None:
            return None
        parts = [p for p in path.split("/") if p]
        if not parts or any(p in (".", "..") or "\\" in p for p in parts):
            return None
        full = os.path.join(root, *parts)
        return full if os.path.isfile(full) else None

    def admin_get(self):
        state = self.server.state
        if self.path == "/__admin/log":
            return self.send_small(200, state.log_text())
        if self.path == "/__admin/connections":
            return self.send_small(200, "%d\n" % state.connection_count())
        if self.path == "/__admin/requests":
            return self.send_small(200, state.requests_text())
        if self.path == "/__admin/bytes":
            with state.lock:
                return self.send_small(200, "%d\n" % state.body_bytes)
        self.send_small(404, "unknown admin request\n")

    def admin_post(self):
        state = self.server.state
        body = self.read_body().decode("utf-8", errors="surrogateescape").strip()
        if self.path == "/__admin/serve":
            root = windows_to_unix(body)
            if not os.path.isdir(root):
                return self.send_small(400, "not a directory: %s\n" % root)
            state.serve(root)
            return self.send_small(200, "ok\n")
        if self.path == "/__admin/fault":
            kind, _, path = body.partition(" ")
            kinds = set(kind.split(","))
            if not (kinds == {"none"} or all(valid_kind(k) for k in kinds)) or not path.startswith("/"):
                return self.send_small(400, "usage: <kind>[,<kind>...] <url path>\n")
            state.set_fault(decode_path(path), kinds)
            return self.send_small(200, "ok\n")
        if self.path == "/__admin/delay":
            if not body.isdigit():
                return self.send_small(400, "usage: <milliseconds>\n")
            with state.lock:
                state.delay_s = int(body) / 1000.0
            return self.send_small(200, "ok\n")
        self.send_small(404, "unknown admin request\n")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128


def write_port_file(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)   # the starter polls for a non-empty file


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root")
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.state = ServerState(os.path.abspath(args.root) if args.root else None)

    def on_term(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    write_port_file(args.port_file, server.server_address[1])
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.state.stopping.set()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
