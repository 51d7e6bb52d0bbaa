#!/usr/bin/env python3
"""Local update server for the tests and the benchmarks.

Serves GET /<path> from a root directory over HTTP/1.1 with keep-alive and
Content-Length. Faults can be set per path, and every request path is logged.

Admin API (never logged):
  POST /__admin/serve        body: root directory (Unix path, or a Windows path
                             such as Z:\\dir or C:\\dir mapped through the Wine
                             prefix); clears faults and the log
  POST /__admin/fault        body: "<kind> <url path>"; kind "none" clears it
  GET  /__admin/log          requested paths, percent-decoded, UTF-8, one a line
  GET  /__admin/connections  number of connections that carried logged requests

Fault kinds: 404, 500, drop (connection reset mid-body), short (body shorter
than its Content-Length, then close), long (more bytes than Content-Length),
stall (headers, then silence), pause (headers and half the body, then
silence), hang (no answer at all), trickle (a few bytes a second). Silence and trickles end after at most 120 s or when the server stops.
"""

import argparse
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
FAULT_KINDS = {"404", "500", "drop", "short", "long", "stall", "pause", "hang", "trickle"}


class ServerState:
    def __init__(self, root):
        self.lock = threading.Lock()
        self.root = root
        self.faults = {}
        self.log = []           # (decoded path, connection id)
        self.stopping = threading.Event()
        self.conn_ids = itertools.count(1)

    def serve(self, root):
        with self.lock:
            self.root = root
            self.faults = {}
            self.log = []

    def set_fault(self, path, kind):
        with self.lock:
            if kind == "none":
                self.faults.pop(path, None)
            else:
                self.faults[path] = kind

    def record(self, path, conn_id):
        with self.lock:
            self.log.append((path, conn_id))
            return self.root, self.faults.get(path)

    def log_text(self):
        with self.lock:
            return "".join(p + "\n" for p, _ in self.log)

    def connection_count(self):
        with self.lock:
            return len({c for _, c in self.log})


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

    def send_file_headers(self, length):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        self.end_headers()

    def wait_silently(self):
        self.server.state.stopping.wait(SILENCE_LIMIT_S)
        self.close_connection = True

    def reset_connection(self):
        # SO_LINGER 0 makes close() send RST instead of FIN.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    # --- requests --------------------------------------------------------

    def do_GET(self):
        if self.path.startswith("/__admin/"):
            return self.admin_get()
        path = decode_path(self.path)
        root, fault = self.server.state.record(path, self.conn_id)
        if fault in ("404", "500"):
            return self.send_small(int(fault), fault + "\n")
        if fault == "hang":
            return self.wait_silently()
        file_path = self.resolve(root, path)
        if file_path is None:
            return self.send_small(404, "not found\n")
        with open(file_path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            if fault is None:
                self.send_file_headers(size)
                if size:
                    self.connection.sendfile(f)
            elif fault == "stall":
                self.send_file_headers(size)
                self.wait_silently()
            elif fault == "pause":
                self.send_file_headers(size)
                self.wfile.write(f.read(size // 2))
                self.wait_silently()
            elif fault == "drop":
                declared = max(size, 2)
                self.send_file_headers(declared)
                self.wfile.write(f.read(declared // 2))
                time.sleep(0.2)  # let the first half reach the client before the reset
                self.reset_connection()
            elif fault == "short":
                self.send_file_headers(size + 16)
                self.wfile.write(f.read())
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
                self.wfile.write(head + f.read() + b"EXTRA-BYTES-BEYOND-CONTENT-LENGTH")
                self.close_connection = True
            elif fault == "trickle":
                self.send_file_headers(size)
                self.trickle(f, size)

    def do_POST(self):
        if self.path.startswith("/__admin/"):
            return self.admin_post()
        self.server.state.record(decode_path(self.path), self.conn_id)
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
                self.wfile.write(chunk)
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
            if (kind not in FAULT_KINDS and kind != "none") or not path.startswith("/"):
                return self.send_small(400, "usage: <kind> <url path>\n")
            state.set_fault(decode_path(path), kind)
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
