#!/usr/bin/env python3
"""Minimal forwarding HTTP proxy for the tests: shows whether a client used it.

Accepts requests in absolute form (GET http://host:port/path) and in origin
form with a Host header (GET /path, as Wine's WinHTTP sends them), forwards
them to 127.0.0.1 only, and logs each forwarded URL.

Admin API, addressed to the proxy itself (Host = the proxy's own port):
  GET  /__admin/log    forwarded URLs (http://host:port/path as sent), one a line
  POST /__admin/clear  empties the log
"""

import argparse
import http.client
import http.server
import os
import signal
import sys
import threading
import urllib.parse

ALLOWED_HOSTS = {"127.0.0.1", "localhost"}
HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "proxy-authorization",
              "te", "trailer", "transfer-encoding", "upgrade"}
CHUNK = 256 * 1024


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QOVATestProxy/1.0"

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):
        pass

    def send_small(self, status, body):
        body = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def target(self):
        """(host, port, path) of the request, in either form."""
        if self.path.startswith("http://"):
            parts = urllib.parse.urlsplit(self.path)
            path = parts.path or "/"
            if parts.query:
                path += "?" + parts.query
            return parts.hostname, parts.port or 80, path
        host = self.headers.get("Host", "")
        name, _, port = host.rpartition(":") if ":" in host else (host, "", "80")
        return name, int(port or 80), self.path

    def do_GET(self):
        self.forward()

    def do_POST(self):
        self.forward()

    def do_HEAD(self):
        self.forward()

    def forward(self):
        host, port, path = self.target()
        state = self.server.state
        if port == self.server.server_address[1] and path.startswith("/__admin/"):
            return self.admin(path)
        if host not in ALLOWED_HOSTS:
            return self.send_small(502, "only 127.0.0.1 is forwarded\n")
        with state.lock:
            state.log.append("http://%s:%d%s" % (host, port, path))

        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        headers["Connection"] = "close"
        upstream = http.client.HTTPConnection(host, port, timeout=150)
        answered = False
        try:
            upstream.request(self.command, path, body=body, headers=headers)
            response = upstream.getresponse()
            answered = True
            self.send_response(response.status, response.reason)
            for k, v in response.getheaders():
                if k.lower() not in HOP_BY_HOP:
                    self.send_header(k, v)
            if response.getheader("Content-Length") is None:
                self.close_connection = True   # the end of the body is the end of the stream
            self.end_headers()
            if self.command != "HEAD":
                while True:
                    chunk = response.read1(CHUNK)
                    if not chunk:
                        break
                    self.wfile.write(chunk)
        except OSError as e:
            sys.stderr.write("proxy: %s:%d%s: %s\n" % (host, port, path, e))
            if answered:
                self.close_connection = True   # cut the body short as upstream did
            else:
                self.send_small(502, "upstream failed\n")
        finally:
            upstream.close()

    def admin(self, path):
        state = self.server.state
        if self.command == "GET" and path == "/__admin/log":
            with state.lock:
                text = "".join(u + "\n" for u in state.log)
            return self.send_small(200, text)
        if self.command == "POST" and path == "/__admin/clear":
            length = int(self.headers.get("Content-Length") or 0)
            if length:
                self.rfile.read(length)
            with state.lock:
                state.log = []
            return self.send_small(200, "ok\n")
        self.send_small(404, "unknown admin request\n")


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.log = []


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.state = State()

    def on_term(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(tmp, args.port_file)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
