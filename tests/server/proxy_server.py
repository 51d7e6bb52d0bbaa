#!/usr/bin/env python3
"""Minimal forwarding HTTP proxy for the tests: shows whether a client used it.

Accepts requests in absolute form (GET http://host:port/path) and in origin
form with a Host header (GET /path, as Wine's WinHTTP sends them), forwards
them to 127.0.0.1 only, and logs each forwarded URL. CONNECT host:port opens
a tunnel (logged as "CONNECT host:port") for HTTPS.

It can ask for authentication as a company proxy does (407): "negotiate"
offers Negotiate and NTLM and plays the server's part of the NTLM exchange
(a challenge for a NEGOTIATE message, any AUTHENTICATE message accepted; a
Negotiate token that is not NTLM is accepted as it is), "basic" offers only
Basic and accepts nothing. Credentials are not checked: the tests look at
what the client sent.

Admin API, addressed to the proxy itself (Host = the proxy's own port):
  GET  /__admin/log       forwarded URLs (http://host:port/path as sent), one a line
  GET  /__admin/auth-log  per request received, the scheme of its
                          Proxy-Authorization header ("-" when none), and for
                          NTLM messages their type: "NTLM/1", "Negotiate/3"
  POST /__admin/clear     empties both logs and ends the open tunnels
  POST /__admin/auth      body: "none" (default), "negotiate" or "basic"
"""

import argparse
import base64
import select
import socket
import http.client
import http.server
import os
import signal
import struct
import sys
import threading
import urllib.parse

ALLOWED_HOSTS = {"127.0.0.1", "localhost"}
HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "proxy-authorization",
              "te", "trailer", "transfer-encoding", "upgrade"}
CHUNK = 256 * 1024
AUTH_MODES = {"none", "negotiate", "basic"}
NTLM_SIGNATURE = b"NTLMSSP\0"


def ntlm_challenge():
    """A minimal NTLM CHALLENGE message (type 2): no target name or info."""
    flags = 0x00000001 | 0x00000200 | 0x00008000 | 0x00080000 | 0x20000000 | 0x80000000
    return (NTLM_SIGNATURE + struct.pack("<I", 2) + struct.pack("<HHI", 0, 0, 48) + struct.pack("<I", flags)
            + bytes(range(1, 9)) + bytes(8) + struct.pack("<HHI", 0, 0, 48))


def auth_of(header):
    """(scheme, NTLM message type or 0, token bytes) of a Proxy-Authorization value."""
    scheme, _, token = (header or "").strip().partition(" ")
    try:
        raw = base64.b64decode(token.strip(), validate=True)
    except ValueError:
        raw = b""
    kind = struct.unpack("<I", raw[8:12])[0] if raw.startswith(NTLM_SIGNATURE) and len(raw) >= 12 else 0
    return scheme, kind, raw


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

    def do_CONNECT(self):
        host, _, port = self.path.rpartition(":")
        if host not in ALLOWED_HOSTS or not port.isdigit():
            return self.send_small(502, "only 127.0.0.1 is forwarded\n")
        if not self.authorised():
            return
        with self.server.state.lock:
            self.server.state.log.append("CONNECT %s:%s" % (host, port))
        try:
            upstream = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
        except OSError:
            return self.send_small(502, "upstream failed\n")
        self.send_response(200, "Connection established")
        self.end_headers()
        self.wfile.flush()
        self.close_connection = True
        ends = [self.connection, upstream]
        with self.server.state.lock:
            self.server.state.tunnels.add(self.connection)
        try:
            while True:
                readable, _, _ = select.select(ends, [], [], 150)
                if not readable:
                    break
                for end in readable:
                    data = end.recv(CHUNK)
                    if not data:
                        return
                    (upstream if end is self.connection else self.connection).sendall(data)
        except OSError:
            pass
        finally:
            with self.server.state.lock:
                self.server.state.tunnels.discard(self.connection)
            upstream.close()

    def forward(self):
        host, port, path = self.target()
        state = self.server.state
        if port == self.server.server_address[1] and path.startswith("/__admin/"):
            return self.admin(path)
        if host not in ALLOWED_HOSTS:
            return self.send_small(502, "only 127.0.0.1 is forwarded\n")
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else None
        if not self.authorised():
            return
        with state.lock:
            state.log.append("http://%s:%d%s" % (host, port, path))

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

    def authorised(self):
        """True to forward; otherwise a 407 has been sent."""
        state = self.server.state
        header = self.headers.get("Proxy-Authorization")
        scheme, kind, raw = auth_of(header)
        with state.lock:
            state.auth_log.append(("%s/%d" % (scheme, kind) if kind else scheme) if header else "-")
            mode = state.auth_mode
        if mode == "none":
            return True
        if mode == "negotiate" and scheme.lower() in ("ntlm", "negotiate"):
            if kind == 3 or (kind == 0 and raw and scheme.lower() == "negotiate"):
                return True
            if kind == 1:
                return self.ask_auth(["%s %s" % (scheme, base64.b64encode(ntlm_challenge()).decode())])
        if mode == "basic":
            return self.ask_auth(['Basic realm="QOVA test proxy"'])
        return self.ask_auth(["Negotiate", "NTLM"])

    def ask_auth(self, challenges):
        body = b"proxy authentication required\n"
        self.send_response(407)
        for c in challenges:
            self.send_header("Proxy-Authenticate", c)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        return False

    def admin(self, path):
        state = self.server.state
        if self.command == "GET" and path == "/__admin/log":
            with state.lock:
                text = "".join(u + "\n" for u in state.log)
            return self.send_small(200, text)
        if self.command == "GET" and path == "/__admin/auth-log":
            with state.lock:
                text = "".join(a + "\n" for a in state.auth_log)
            return self.send_small(200, text)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8", "replace").strip() if length else ""
        if self.command == "POST" and path == "/__admin/clear":
            with state.lock:
                state.log = []
                state.auth_log = []
                # A client keeps an idle tunnel for its next request, whatever
                # proxy setting asked for it: ended, the next CONNECT is logged.
                for tunnel in state.tunnels:
                    try:
                        tunnel.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass
            return self.send_small(200, "ok\n")
        if self.command == "POST" and path == "/__admin/auth":
            if body not in AUTH_MODES:
                return self.send_small(400, "usage: none|negotiate|basic\n")
            with state.lock:
                state.auth_mode = body
            return self.send_small(200, "ok\n")
        self.send_small(404, "unknown admin request\n")


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.log = []
        self.auth_log = []
        self.auth_mode = "none"
        self.tunnels = set()


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
