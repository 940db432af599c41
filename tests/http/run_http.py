#!/usr/bin/env python3
"""Run one HTTP test script of zuv against a loopback server of its own.

Usage: run_http.py ZUV_BINARY path/to/NAME.zuv

Starts server.py (an HTTP port and an HTTPS port with a fresh self-signed
certificate, both on 127.0.0.1, and an HTTP port on ::1), then runs NAME.zuv as run_script.py runs a
script test, with these variables in its environment:
  ZUV_HTTP    http://127.0.0.1:PORT
  ZUV_HTTPS   https://127.0.0.1:TLSPORT
  ZUV_HTTP6   http://[::1]:PORT6
  ZUV_CLOSED  http://127.0.0.1:CLOSEDPORT (a port nothing listens on)
  no_proxy    *
Then compares
  NAME.out       with stdout, the ports written @PORT@, @TLSPORT@, @CLOSEDPORT@,
                 @PORT6@, and "after N ms" for the time a connection took;
  NAME.requests  (when present) with the requests the server received, one
                 block per request: method and path, the headers sorted by
                 name, the body as a Python bytes literal.
The exit status must be 0.
"""

import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import run_script  # noqa: E402

TIMEOUT = 60.0


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=127.0.0.1",
                    "-days", "1", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def render_requests(log_path):
    if not os.path.exists(log_path):
        return b""
    out = []
    with open(log_path) as f:
        for line in f:
            r = json.loads(line)
            out.append("%s %s" % (r["method"], r["path"]))
            for k, v in sorted(r["headers"], key=lambda kv: kv[0].lower()):
                out.append("  %s: %s" % (k, v))
            out.append("  body: %r" % r["body"].encode("latin-1"))
    return ("\n".join(out) + "\n").encode() if out else b""


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    zuv = os.path.abspath(argv[1])
    script = os.path.abspath(argv[2])
    stem = script[:-len(".zuv")]
    root = tempfile.mkdtemp(prefix="zuv-http-")
    server = None
    try:
        cwd = os.path.join(root, "work")
        home = os.path.join(root, "home")
        tmp = os.path.join(root, "tmp")
        os.makedirs(os.path.join(home, ".cache"))
        os.makedirs(cwd)
        os.mkdir(tmp)
        shutil.copyfile(script, os.path.join(cwd, os.path.basename(script)))
        log = os.path.join(root, "requests.log")
        cert, key = make_certificate(root)
        server = subprocess.Popen([sys.executable, os.path.join(HERE, "server.py"), log, cert, key],
                                  stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        ports = server.stdout.readline().split()
        if len(ports) != 3:
            print("FAIL %s: the server did not start" % script)
            return 1
        port, tls_port, port6 = (int(p) for p in ports)
        closed = free_port()

        env = run_script.build_env(home, tmp, None)
        env.update({
            "ZUV_HTTP": "http://127.0.0.1:%d" % port,
            "ZUV_HTTPS": "https://127.0.0.1:%d" % tls_port,
            "ZUV_HTTP6": "http://[::1]:%d" % port6,
            "ZUV_CLOSED": "http://127.0.0.1:%d" % closed,
            "no_proxy": "*",
        })
        argv_zuv = [zuv, os.path.basename(script)]
        proc = subprocess.Popen(argv_zuv, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            out, err = proc.communicate(timeout=TIMEOUT)
            status = proc.returncode
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            status = "timed out"

        def normal(data):
            for number, name in ((tls_port, b"@TLSPORT@"), (closed, b"@CLOSEDPORT@"), (port, b"@PORT@")):
                data = data.replace(b"127.0.0.1:%d" % number, b"127.0.0.1:" + name)
            data = data.replace(b"[::1]:%d" % port6, b"[::1]:@PORT6@")
            # The transfer library's reason for a refused connection names
            # the port and how long it tried.
            data = data.replace(b"127.0.0.1 port %d" % closed, b"127.0.0.1 port @CLOSEDPORT@")
            data = re.sub(rb"after \d+ ms", b"after N ms", data)
            return data

        problems = []
        if status != 0:
            problems.append("exit status: expected 0, got %s" % status)
        expected_out = run_script.read_optional(stem + ".out") or b""
        if normal(out) != expected_out:
            problems.append("stdout differs:\n" + run_script.text_diff(expected_out, normal(out), "stdout"))
        expected_requests = run_script.read_optional(stem + ".requests")
        if expected_requests is not None:
            got = normal(render_requests(log))
            if got != expected_requests:
                problems.append("requests differ:\n" + run_script.text_diff(expected_requests, got, "requests"))
        if run_script.SANITIZER_REPORT.search(err):
            problems.append("sanitizer report on stderr")
        if not problems:
            return 0
        report = ["FAIL %s" % script, "command: %s" % " ".join(argv_zuv), "cwd: %s" % cwd]
        report.extend(problems)
        if err:
            report.append("stderr:\n" + run_script.clipped(err))
        print("\n".join(report))
        return 1
    finally:
        if server is not None and server.poll() is None:
            server.kill()
        if server is not None:
            server.wait()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
