#!/usr/bin/env python3
"""Loopback HTTP servers for the download tests and the benchmark.

  testservers.py nginx start DIR [--file NAME=BYTES ...]   the package server (real nginx), detached
  testservers.py nginx stop DIR
  testservers.py fault start DIR                           the fault-injecting server, detached
  testservers.py fault stop DIR
  testservers.py tinyproxy start DIR                       the HTTP proxy (real tinyproxy), detached
  testservers.py tinyproxy stop DIR

All listen on 127.0.0.1 only, on a free port that `start` writes to DIR/port once the server answers.

nginx also serves the same root over HTTPS on four more ports, one per server certificate, all for the host name
"localhost" unless said otherwise: "good" (issued by the test server CA DIR/tls/ca.der, which a test adds to the
prefix's trusted roots), "selfsigned", "wronghost" (issued by that CA for other.example) and "expired" (issued by
that CA, valid only in 2020). DIR/tls-ports lists "NAME PORT" per line. The certificates are made with openssl
on the first start and kept in DIR/tls.

nginx layout: DIR/html is the document root (DIR/html/files/* are generated random files), DIR/logs/access.log
holds one line per request: method TAB request-uri TAB Range header ("-" when absent) TAB status TAB body bytes
TAB the raw request line TAB the Via header ("-" when absent: the request did not come through the proxy).
/redirect/X answers 302 to /X (query kept); /shaped/X serves /X at 4 MiB/s per connection; a missing file is an
ordinary 404.

Fault server: see FaultHandler. DIR/blob.bin is the body it serves, DIR/requests.log records each request as
token TAB method TAB request line TAB Range header ("-" when absent) TAB status TAB If-Range header ("-" when
absent).

tinyproxy: DIR/tinyproxy.conf is written on start; DIR/logs/tinyproxy.log holds a "Request (file descriptor N):
METHOD URL HTTP/1.1" line per request it forwarded. It adds "Via: 1.1 tinyproxy (...)" to each.

Each server is stopped through the pid it wrote to DIR, after checking that the pid still belongs to it.
"""
import argparse
import gzip
import http.server
import os
import select
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time
import urllib.parse

DEFAULT_NGINX_FILES = {
    "files/pkg.bin": 4 * 1024 * 1024 + 12345,
    "files/small.bin": 100 * 1024,
    # Around the size from which the libcurl downloader fetches in parallel ranges (16 MiB).
    "files/16m-1.bin": 16 * 1024 * 1024 - 1,
    "files/16m.bin": 16 * 1024 * 1024,
    "files/40m+3.bin": 40 * 1024 * 1024 + 3,
    # The system downloader's URL encoding turns "a b 中.bin" into "a+b+%E4%B8%AD.bin"; nginx decodes the
    # escapes but keeps "+", so this is the file that request reaches.
    "files/a+b+中.bin": 64 * 1024,
}
FAULT_BLOB_BYTES = 3 * 1024 * 1024


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def serves(proc, port):
    """Waits up to 5 s for the started server `proc` to accept connections on `port`; whether it runs and does."""
    for _ in range(100):
        if proc.poll() is not None or answers(port):
            break
        time.sleep(0.05)
    return proc.poll() is None and answers(port)


def write_random_file(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        left = size
        while left > 0:
            chunk = min(left, 16 * 1024 * 1024)
            f.write(os.urandom(chunk))
            left -= chunk
    os.replace(tmp, path)


def pid_alive_with(pid, needle):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return needle.encode() in f.read()
    except OSError:
        return False


def stop_pid_file(pid_file, needle, sig):
    try:
        pid = int(open(pid_file).read().strip())
    except (OSError, ValueError):
        return
    if pid_alive_with(pid, needle):
        os.kill(pid, sig)
        for _ in range(100):
            if not pid_alive_with(pid, needle):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(pid_file)
    except OSError:
        pass


def remove_quietly(path):
    try:
        os.remove(path)
    except OSError:
        pass


# ---------------------------------------------------------------------------------------------------- nginx

NGINX_CONF = """\
worker_processes 1;
daemon off;
master_process on;
pid {dir}/nginx.pid;
error_log {dir}/logs/error.log warn;
{user}
events {{ worker_connections 256; }}
http {{
    types {{ application/octet-stream bin; }}
    default_type application/octet-stream;
    log_format tunivox '$request_method\\t$request_uri\\t$http_range\\t$status\\t$body_bytes_sent\\t$request\\t$http_via';
    access_log {dir}/logs/access.log tunivox;
    client_body_temp_path {dir}/tmp/body;
    proxy_temp_path {dir}/tmp/proxy;
    fastcgi_temp_path {dir}/tmp/fastcgi;
    uwsgi_temp_path {dir}/tmp/uwsgi;
    scgi_temp_path {dir}/tmp/scgi;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 30;
    server {{
        listen 127.0.0.1:{port};
        root {dir}/html;
        location /redirect/ {{
            rewrite ^/redirect/(.*)$ /$1 redirect;
        }}
        # A server that shapes each connection (the download benchmark's shaped case).
        location /shaped/ {{
            alias {dir}/html/;
            limit_rate 4m;
        }}
    }}
{tls_servers}
}}
"""

NGINX_TLS_SERVER = """    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {dir}/tls/{name}.crt;
        ssl_certificate_key {dir}/tls/{name}.key;
        root {dir}/html;
        location /redirect/ {{
            rewrite ^/redirect/(.*)$ /$1 redirect;
        }}
        # A redirection from https down to the plain http server.
        location /tohttp/ {{
            rewrite ^/tohttp/(.*)$ http://127.0.0.1:{http_port}/$1 redirect;
        }}
    }}
"""

TLS_CERTIFICATES = ("good", "selfsigned", "wronghost", "expired")


def make_tls(d):
    """The server certificates of the HTTPS ports, made once with openssl."""
    tls = os.path.join(d, "tls")
    if os.path.exists(os.path.join(tls, "ready")):
        return
    os.makedirs(tls, exist_ok=True)

    def run(*args):
        subprocess.run(["openssl", *args], cwd=tls, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "3650",
        "-subj", "/CN=Tunivox Test Server CA", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("x509", "-in", "ca.crt", "-outform", "DER", "-out", "ca.der")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "selfsigned.key", "-out", "selfsigned.crt",
        "-days", "3650", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost")
    with open(os.path.join(tls, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                "default_md = sha256\npolicy = any\ncopy_extensions = copy\nunique_subject = no\n"
                "[any]\ncommonName = supplied\n[server]\nbasicConstraints = CA:FALSE\n"
                "extendedKeyUsage = serverAuth\nkeyUsage = critical, digitalSignature, keyEncipherment\n")
    open(os.path.join(tls, "index.txt"), "w").close()
    with open(os.path.join(tls, "serial"), "w") as f:
        f.write("1000\n")
    valid = {"good": ("localhost", None), "wronghost": ("other.example", None),
             "expired": ("localhost", ("20200101000000Z", "20200201000000Z"))}
    for name, (host, dates) in valid.items():
        run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + host, "-addext", "subjectAltName=DNS:" + host)
        period = ["-startdate", dates[0], "-enddate", dates[1]] if dates else ["-days", "3650"]
        run("ca", "-batch", "-config", "ca.cnf", "-extensions", "server", "-cert", "ca.crt", "-keyfile", "ca.key",
            "-in", name + ".csr", "-out", name + ".crt", "-notext", *period)
    open(os.path.join(tls, "ready"), "w").close()


def nginx_binary():
    for candidate in ("/usr/sbin/nginx", "/usr/local/sbin/nginx"):
        if os.path.exists(candidate):
            return candidate
    return "nginx"


def nginx_start(d, files):
    d = os.path.abspath(d)
    nginx_stop(d)
    for sub in ("logs", "tmp", "html/files"):
        os.makedirs(os.path.join(d, sub), exist_ok=True)
    for name, size in files.items():
        write_random_file(os.path.join(d, "html", name), size)
    remove_quietly(os.path.join(d, "logs", "access.log"))
    remove_quietly(os.path.join(d, "port"))
    # nginx started by root would hand its workers to "nobody"; keep them as the user who runs the tests.
    user = ""
    if os.geteuid() == 0:
        import grp
        import pwd
        user = "user {} {};".format(pwd.getpwuid(os.geteuid()).pw_name, grp.getgrgid(os.getegid()).gr_name)
    make_tls(d)
    for _ in range(10):
        port = free_port()
        tls_ports = {name: free_port() for name in TLS_CERTIFICATES}
        tls_servers = "".join(NGINX_TLS_SERVER.format(dir=d, port=p, name=n, http_port=port) for n, p in tls_ports.items())
        conf = os.path.join(d, "nginx.conf")
        with open(conf, "w") as f:
            f.write(NGINX_CONF.format(dir=d, port=port, user=user, tls_servers=tls_servers))
        out = open(os.path.join(d, "logs", "stdout.log"), "ab")
        proc = subprocess.Popen([nginx_binary(), "-p", d, "-c", conf, "-e", os.path.join(d, "logs", "error.log")],
                                stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
        if serves(proc, port) and all(answers(p) for p in tls_ports.values()):
            with open(os.path.join(d, "tls-ports"), "w") as f:
                f.write("".join(f"{n} {p}\n" for n, p in tls_ports.items()))
            with open(os.path.join(d, "port"), "w") as f:
                f.write(f"{port}\n")
            print(f"nginx on 127.0.0.1:{port}, root {d}/html, pid {proc.pid}")
            return 0
        if proc.poll() is None:
            proc.kill()
    sys.stderr.write("nginx did not start; see " + os.path.join(d, "logs", "error.log") + "\n")
    return 1


def nginx_stop(d):
    d = os.path.abspath(d)
    stop_pid_file(os.path.join(d, "nginx.pid"), d, signal.SIGTERM)
    remove_quietly(os.path.join(d, "port"))
    return 0


# ---------------------------------------------------------------------------------------------------- fault server

class FaultHandler(http.server.BaseHTTPRequestHandler):
    """Serves DIR/blob.bin at /f/TOKEN/NAME?params. The token keys the per-test request counters; params:

    size=N      serve the first N bytes of the blob (0 gives an empty body with Content-Length: 0)
    cut=N       the first `cuts` GETs (default 1) send only N bytes of their body, then close the connection
    stall=N     the first `stalls` GETs (default 1) send N bytes, then hold the connection without sending
    rate=B      send the body at about B bytes per second
    norange=1   ignore Range: always 200 with the whole body
    get500=1    HEAD as usual, every GET answers 500
    headnolen=1 HEAD answers without Content-Length
    headfail=K  the first K HEADs answer 503 without Content-Length
    headlen0=1  HEAD says Content-Length: 0, GET sends the body without a length (ended by closing)
    headerr=K   the first K HEADs answer 503 with the Content-Length of an error page (1234)
    gzip=1      a request that accepts gzip gets the body gzip-compressed (Content-Encoding: gzip)
    repeat=K    the body is K copies of the blob, copy k with every byte XOR k (k = 0..K-1)
    plan=A,B,.. the n-th GET follows the n-th step: cOFFSET sends the body up to that offset of the whole file
                and closes the connection; e answers 503; GETs after the plan are served normally
    etag=1      HEAD and GET carry ETag "v1" and honour If-Range (a Range with another If-Range gets the whole
                body with 200)
    change=N    as etag=1, but once N GETs were counted (the N-th included) the file is another one: every byte
                XOR 0xFF, 1000 bytes shorter, ETag "v2"
    ignoreifrange=1  Range is honoured whatever If-Range says (a 206 of whatever file there is now)
    short=N     the first GET answers 200 with Content-Length N and only the first N bytes
    nolen=N     the first GET answers 200 without Content-Length and closes after N bytes
    shortrange=N  the first 206 answer holds only N bytes (its Content-Range and Content-Length say so)
    extra=N     a 206 answer to a closed range ("bytes=A-B") carries N bytes more than its (right) Content-Range;
                Content-Length counts them
    sign=1      a URL without "sig" answers 302 to itself plus "&sig=K" (K counts up); a signed URL serves one GET,
                later GETs of it answer 403 (it expired)
    """

    protocol_version = "HTTP/1.1"
    server_version = "FaultServer"

    def log_message(self, fmt, *args):  # the request log below replaces the default stderr lines
        pass

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def record(self, token, status):
        line = "\t".join([token, self.command, self.requestline, self.headers.get("Range", "-"), str(status),
                          self.headers.get("If-Range", "-")])
        with self.server.lock:
            with open(self.server.log_path, "a", encoding="utf-8") as f:
                f.write(line + "\n")

    def count(self, token, kind):
        with self.server.lock:
            key = (token, kind)
            self.server.counts[key] = self.server.counts.get(key, 0) + 1
            return self.server.counts[key]

    def serve(self, head):
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")
        token = parts[2] if len(parts) > 3 and parts[1] == "f" else "-"
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        num = lambda k, dflt=0: int(q.get(k, dflt))
        blob = self.server.blob
        if num("repeat"):
            blob = self.server.repeated(num("repeat"))
        body = blob[: num("size", len(blob))]
        if num("gzip") and "gzip" in self.headers.get("Accept-Encoding", ""):
            body = self.server.gzipped(body)
            coding = "gzip"
        else:
            coding = None
        if token == "-":
            self.record(token, 404)
            return self.send_simple(404, b"not found")
        n = self.count(token, "HEAD" if head else "GET")
        if num("sign"):
            sig = q.get("sig")
            if sig is None:
                k = self.count(token, "SIGN")
                self.record(token, 302)
                self.send_response(302)
                self.send_header("Location", self.path + "&sig=" + str(k))
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            if not head and self.count(token, "SIGGET" + sig) > 1:
                self.record(token, 403)
                return self.send_simple(403, b"expired")
        etag = None
        if num("etag") or num("change"):
            gets = n if not head else self.server.counts.get((token, "GET"), 0)
            etag = '"v1"'
            if num("change") and gets >= num("change"):
                etag = '"v2"'
                body = self.server.inverted(body)

        if head:
            if n <= num("headerr"):
                self.record(token, 503)
                self.send_response(503)
                self.send_header("Content-Length", "1234")
                self.end_headers()
                return
            if n <= num("headfail"):
                self.record(token, 503)
                self.send_response(503)
                self.send_header("Connection", "close")
                self.end_headers()
                self.close_connection = True
                return
            self.record(token, 200)
            self.send_response(200)
            if num("headlen0"):
                self.send_header("Content-Length", "0")
            elif not num("headnolen"):
                self.send_header("Content-Length", str(len(body)))
            if num("headnolen") or num("headlen0"):
                self.send_header("Connection", "close")
                self.close_connection = True
            self.send_header("Accept-Ranges", "bytes")
            if etag:
                self.send_header("ETag", etag)
            if coding:
                self.send_header("Content-Encoding", coding)
            self.end_headers()
            return

        plan = [step for step in q.get("plan", "").split(",") if step]
        step = plan[n - 1] if n <= len(plan) else ""
        if step == "e":
            self.record(token, 503)
            return self.send_simple(503, b"busy")
        if num("get500"):
            self.record(token, 500)
            return self.send_simple(500, b"server error")
        start = 0
        rng = self.headers.get("Range")
        status = 200
        if_range = self.headers.get("If-Range")
        if rng and etag and if_range is not None and if_range != etag and not num("ignoreifrange"):
            rng = None  # the client's copy is of another file: it gets the whole of this one
        if rng and not num("norange") and rng.startswith("bytes="):
            first, _, last = rng[6:].partition("-")
            start = int(first or 0)
            end = int(last) if last else len(body) - 1
            if start >= len(body):
                self.record(token, 416)
                return self.send_simple(416, b"")
            status = 206
            piece = body[start : end + 1]
            if "shortrange" in q and self.count(token, "206") == 1:
                piece = piece[: num("shortrange")]
        else:
            piece = body
            if "short" in q and n == 1:
                piece = piece[: num("short")]
        extra = b"\x5a" * num("extra") if status == 206 and rng and not rng.endswith("-") else b""
        nolen = "nolen" in q and n == 1 and status == 200
        self.record(token, status)
        self.send_response(status)
        if nolen:
            self.send_header("Connection", "close")
            self.close_connection = True
        elif extra:
            self.send_header("Content-Length", str(len(piece) + len(extra)))
        elif num("headlen0"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(piece)))
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{start + len(piece) - 1}/{len(body)}")
        self.send_header("Accept-Ranges", "bytes")
        if etag:
            self.send_header("ETag", etag)
        if coding:
            self.send_header("Content-Encoding", coding)
        self.end_headers()

        piece += extra
        limit = len(piece)
        if nolen:
            limit = min(limit, num("nolen"))
        if step.startswith("c"):
            limit = max(0, min(limit, int(step[1:]) - start))
            self.close_connection = True
        stall = False
        if "cut" in q and n <= num("cuts", 1):
            limit = min(limit, num("cut"))
            self.close_connection = True
        if "stall" in q and n <= num("stalls", 1):
            limit = min(limit, num("stall"))
            stall = True
            self.close_connection = True
        self.send_body(piece[:limit], num("rate"))
        if stall:
            self.hold()

    def send_simple(self, status, payload):
        self.send_response(status)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def send_body(self, data, rate):
        chunk = 16 * 1024
        begun = time.monotonic()
        for at in range(0, len(data), chunk):
            self.wfile.write(data[at : at + chunk])
            if rate:
                self.wfile.flush()
                due = begun + (at + chunk) / rate
                delay = due - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
        self.wfile.flush()

    def hold(self):
        # Keeps the connection open without sending, until the client goes away (or two minutes pass).
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.connection], [], [], 0.2)
            if ready:
                try:
                    if not self.connection.recv(4096):
                        return
                except OSError:
                    return

    def handle(self):
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass


class FaultServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def repeated(self, k):
        with self.lock:
            if k not in self.cache:
                self.cache[k] = b"".join(self.blob.translate(bytes(b ^ (i & 0xFF) for b in range(256)))
                                         for i in range(k))
            return self.cache[k]

    def inverted(self, body):
        key = ("inverted", len(body), body[:32])
        with self.lock:
            if key not in self.cache:
                self.cache[key] = body[:-1000].translate(bytes(b ^ 0xFF for b in range(256)))
            return self.cache[key]

    def gzipped(self, body):
        key = ("gzip", len(body), body[:32])
        with self.lock:
            if key not in self.cache:
                self.cache[key] = gzip.compress(body, compresslevel=1)
            return self.cache[key]


def fault_serve(d):
    d = os.path.abspath(d)
    server = FaultServer(("127.0.0.1", 0), FaultHandler)
    server.lock = threading.Lock()
    server.counts = {}
    server.cache = {}
    server.log_path = os.path.join(d, "requests.log")
    with open(os.path.join(d, "blob.bin"), "rb") as f:
        server.blob = f.read()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    with open(os.path.join(d, "port.tmp"), "w") as f:
        f.write(f"{server.server_address[1]}\n")
    os.replace(os.path.join(d, "port.tmp"), os.path.join(d, "port"))
    server.serve_forever(poll_interval=0.2)
    return 0


def fault_start(d):
    d = os.path.abspath(d)
    fault_stop(d)
    os.makedirs(d, exist_ok=True)
    write_random_file(os.path.join(d, "blob.bin"), FAULT_BLOB_BYTES)
    remove_quietly(os.path.join(d, "requests.log"))
    open(os.path.join(d, "requests.log"), "w").close()
    out = open(os.path.join(d, "stdout.log"), "ab")
    proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "fault", "serve", d],
                            stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    with open(os.path.join(d, "server.pid"), "w") as f:
        f.write(f"{proc.pid}\n")
    port_file = os.path.join(d, "port")
    for _ in range(200):
        if os.path.exists(port_file):
            port = int(open(port_file).read())
            if answers(port):
                print(f"fault server on 127.0.0.1:{port}, pid {proc.pid}")
                return 0
        if proc.poll() is not None:
            break
        time.sleep(0.05)
    sys.stderr.write("fault server did not start; see " + os.path.join(d, "stdout.log") + "\n")
    return 1


def fault_stop(d):
    d = os.path.abspath(d)
    stop_pid_file(os.path.join(d, "server.pid"), d, signal.SIGTERM)
    remove_quietly(os.path.join(d, "port"))
    return 0


# ---------------------------------------------------------------------------------------------------- tinyproxy

TINYPROXY_CONF = """\
Port {port}
Listen 127.0.0.1
Allow 127.0.0.1
Timeout 60
MaxClients 50
LogFile "{dir}/logs/tinyproxy.log"
LogLevel Connect
{user}
"""


def tinyproxy_start(d):
    d = os.path.abspath(d)
    tinyproxy_stop(d)
    os.makedirs(os.path.join(d, "logs"), exist_ok=True)
    remove_quietly(os.path.join(d, "logs", "tinyproxy.log"))
    remove_quietly(os.path.join(d, "port"))
    # Started by root, tinyproxy would run as "nobody"; keep it as the user who runs the tests.
    user = ""
    if os.geteuid() == 0:
        import grp
        import pwd
        user = "User {}\nGroup {}".format(pwd.getpwuid(os.geteuid()).pw_name, grp.getgrgid(os.getegid()).gr_name)
    for _ in range(10):
        port = free_port()
        conf = os.path.join(d, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write(TINYPROXY_CONF.format(port=port, dir=d, user=user))
        out = open(os.path.join(d, "logs", "stdout.log"), "ab")
        proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                start_new_session=True)
        if serves(proc, port):
            with open(os.path.join(d, "server.pid"), "w") as f:
                f.write(f"{proc.pid}\n")
            with open(os.path.join(d, "port"), "w") as f:
                f.write(f"{port}\n")
            print(f"tinyproxy on 127.0.0.1:{port}, pid {proc.pid}")
            return 0
        if proc.poll() is None:
            proc.kill()
    sys.stderr.write("tinyproxy did not start; see " + os.path.join(d, "logs", "stdout.log") + "\n")
    return 1


def tinyproxy_stop(d):
    d = os.path.abspath(d)
    stop_pid_file(os.path.join(d, "server.pid"), "tinyproxy", signal.SIGTERM)
    remove_quietly(os.path.join(d, "port"))
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("server", choices=["nginx", "fault", "tinyproxy"])
    p.add_argument("action", choices=["start", "stop", "serve"])
    p.add_argument("dir")
    p.add_argument("--file", action="append", default=[], help="NAME=BYTES under html/ (nginx start)")
    a = p.parse_args()
    if a.server == "nginx":
        if a.action == "start":
            files = dict(DEFAULT_NGINX_FILES)
            for item in a.file:
                name, _, size = item.partition("=")
                files[name] = int(size)
            return nginx_start(a.dir, files)
        return nginx_stop(a.dir)
    if a.server == "tinyproxy":
        return {"start": tinyproxy_start, "stop": tinyproxy_stop}[a.action](a.dir)
    return {"start": fault_start, "stop": fault_stop, "serve": fault_serve}[a.action](a.dir)


if __name__ == "__main__":
    sys.exit(main())
