#!/usr/bin/env python3
"""A loopback HTTP server for the tests of zuv's HTTP requests.

Usage: server.py LOG [CERT KEY]

Listens on 127.0.0.1 at a free port (and, given a certificate and key, a
second HTTPS port), and on ::1 at a third, prints "PORT [HTTPS-PORT] PORT6"
on one line, then serves
until /stop is asked for or 60 s have passed. Each request is appended to
LOG as one JSON line: method, path, headers (in the order sent) and body
(latin-1 text of the bytes).
"""

import json
import os
import socket
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LIFETIME = 60.0
log_lock = threading.Lock()
# Requests seen per path, for /count/PATH.
counts = {}

BYTES = bytes(range(256))
SCRIPT = b'Zuv []\nprint "served script"\n6 * 7\n'
JSON = b'{"a": null, "b": [1]}'


big_bodies = {}


def tiny_png():
    """A 2x1 RGBA PNG: one red pixel and one half-transparent blue one."""
    import struct
    import zlib

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", 2, 1, 8, 6, 0, 0, 0)
    rows = b"\x00" + bytes([255, 0, 0, 255, 0, 0, 255, 128])
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


PNG = tiny_png()


def big_body(n):
    # Made once per size: the benchmarks time the transfer, not this.
    if n not in big_bodies:
        block = bytes(range(256)) * 4096
        big_bodies[n] = (block * (n // len(block) + 1))[:n]
    return big_bodies[n]


class Handler(BaseHTTPRequestHandler):
    # Quiet: the driver reads the log, not stderr.
    def log_message(self, *args):
        pass

    def record(self, body):
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("latin-1"),
        }
        with log_lock:
            with open(self.server.log_path, "a") as f:
                f.write(json.dumps(entry) + "\n")

    def reply(self, status, body, headers=(), content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = self.path.split("?")[0]
        if path != "/big":
            self.record(body)
        with log_lock:
            counts[path] = counts.get(path, 0) + 1
        if path == "/text":
            self.reply(200, b"one\r\ntwo\r\nthree")
        elif path == "/bom":
            self.reply(200, b"\xef\xbb\xbfh\xc3\xa9\r\nx\r\n")
        elif path == "/bytes":
            self.reply(200, BYTES, content_type="application/octet-stream")
        elif path == "/missing":
            self.reply(404, b"no such page")
        elif path == "/dup":
            # Written by hand: the header "X-A:1" has no blank after its colon.
            self.send_response(200)
            self.send_header("X-Dup", "first")
            self.send_header("X-Dup", "second")
            self._headers_buffer.append(b"X-A:1\r\n")
            self.send_header("Content-Length", "3")
            self.end_headers()
            self.wfile.write(b"dup")
        elif path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/text")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path == "/latin1":
            # Header bytes that are not UTF-8 (Latin-1 "café" in a value and
            # in a name) beside a value that is UTF-8.
            self.send_response(200)
            self._headers_buffer.append(b"X-Latin: caf\xe9\r\n")
            self._headers_buffer.append(b"X-\xc9t\xe9: 1\r\n")
            self._headers_buffer.append(b"X-Utf8: caf\xc3\xa9\r\n")
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"ok")
        elif path == "/short":
            # Announces more than it sends, then closes.
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"only part")
            self.wfile.flush()
            self.close_connection = True
        elif path == "/loop":
            self.send_response(302)
            self.send_header("Location", "/loop")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path.startswith("/flaky/"):
            # Fails (404, then 500) until /recover is asked for, then serves
            # the script below; the status is per path.
            with log_lock:
                recovered = counts.get("/recover", 0) > 0
            if recovered:
                self.reply(200, b'Zuv []\nprint "recovered"\n[1 2]\n')
            elif counts[path] == 1:
                self.reply(404, b'print "ran the 404 page"')
            else:
                self.reply(500, b'print "ran the 500 page"')
        elif path == "/to-file":
            self.send_response(302)
            self.send_header("Location", "file:///dev/null")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif path == "/script.zuv":
            self.reply(200, SCRIPT)
        elif path == "/data.json":
            self.reply(200, JSON, content_type="application/json")
        elif path == "/image.png":
            self.reply(200, PNG, content_type="image/png")
        elif path == "/big":
            n = int(self.path.split("=")[1])
            self.reply(200, big_body(n), content_type="application/octet-stream")
        elif path.startswith("/count/"):
            with log_lock:
                seen = counts.get(path[len("/count"):], 0)
            self.reply(200, str(seen).encode())
        elif path == "/stop":
            # Gone before the next request can come.
            self.reply(200, b"bye")
            self.wfile.flush()
            os._exit(0)
        else:
            self.reply(200, b"ok")

    do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = do_PATCH = handle_any


class Server(ThreadingHTTPServer):
    daemon_threads = True


class Server6(Server):
    address_family = socket.AF_INET6


def main(argv):
    log_path = argv[1]
    plain = Server(("127.0.0.1", 0), Handler)
    plain.log_path = log_path
    servers = [plain]
    if len(argv) == 4:
        secure = Server(("127.0.0.1", 0), Handler)
        secure.log_path = log_path
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(argv[2], argv[3])
        secure.socket = context.wrap_socket(secure.socket, server_side=True)
        servers.append(secure)
    # The same handler on ::1, for IPv6 literal hosts.
    loopback6 = Server6(("::1", 0), Handler)
    loopback6.log_path = log_path
    servers.append(loopback6)
    print(" ".join(str(s.server_address[1]) for s in servers), flush=True)
    threading.Timer(LIFETIME, lambda: os._exit(0)).start()
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, daemon=True).start()
    plain.serve_forever()


if __name__ == "__main__":
    main(sys.argv)
