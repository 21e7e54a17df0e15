#!/usr/bin/env python3
"""A fake GitHub for the tests: a real TLS server on loopback.

Usage: fake_github.py FOLDER [PORT]. It makes a test CA and certificates in FOLDER, listens on
127.0.0.1 on PORT (default: a free port) and prints "PORT <n>" once it accepts connections. Each request is
answered from FOLDER/routes.json (read per request) and logged, before it is answered, as one
JSON line in FOLDER/requests.jsonl.

routes.json maps a "host path" key (path with query) to a route:
  status    (default 200)
  body      text, or body_size with body_byte (a repeated character), or body_file (a path)
  location  adds a Location header (for redirects)
  headers   more headers of the answer, by name
  mode      "normal", "drop" (send half the body, then close), "stall" (send half, then wait),
            "gate" (send half, wait until the file named by "gate" exists, then send the rest;
            while it waits, one more byte every 2 s, up to the last, so that the client's 8 s
            silence limit does not end a wait as long as the test needs),
            "hang" (answer nothing for 30 s), "trickle" (the body in four parts, "pause" seconds
            apart, 3 by default)
  etag      sent as the ETag header; with etag_changes, each answer's differs
  ranges    true: "Range: bytes=N-" is answered with 206 and the rest of the body (416 past its
            end) unless If-Range names another ETag
  break_after  each of the first "breaks" answers (all when not given) sends only this many
            bytes of its body, then closes the connection
  framing   "length" (default: a Content-Length header), "chunked" (the body in four chunks, the
            last chunk in a write of its own) or "close" (no length: the body ends when the
            connection closes)
  announce  the Content-Length sent in place of the body's own; the connection closes after the
            body
The bytes each answer sent are logged as one JSON line in FOLDER/sent.jsonl.
Unknown keys answer 404. The host "untrusted.test" presents a certificate of another CA.
"""
import http.server
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

TRUSTED_HOSTS = ["api.github.com", "github.com", "objects.githubusercontent.com", "localhost"]
UNTRUSTED_HOST = "untrusted.test"


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_ca(folder, name):
    key, cert = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".pem")
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
        "-days", "2", "-subj", "/CN=Muvra test " + name)
    return key, cert


def make_leaf(folder, name, hosts, ca_key, ca_cert):
    key, csr, cert = (os.path.join(folder, name + ext) for ext in (".key", ".csr", ".pem"))
    ext_file = os.path.join(folder, name + ".ext")
    with open(ext_file, "w") as f:
        f.write("subjectAltName=" + ",".join("DNS:" + h for h in hosts) + "\n")
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", csr,
        "-subj", "/CN=" + hosts[0])
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key,
        "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext_file)
    return cert, key


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        folder = self.server.folder
        host = (self.headers.get("Host") or "").split(":")[0]
        entry = {"host": host, "path": self.path, "headers": dict(self.headers.items())}
        with self.server.log_lock, open(os.path.join(folder, "requests.jsonl"), "a") as log:
            log.write(json.dumps(entry) + "\n")
        try:
            with open(os.path.join(folder, "routes.json")) as f:
                routes = json.load(f)
                written = os.fstat(f.fileno())  # answers are counted per routes file written
                generation = (written.st_ino, written.st_ctime_ns)
        except FileNotFoundError:
            routes, generation = {}, 0
        route = routes.get(host + " " + self.path)
        if route is None:
            self.answer(404, b"Not Found", {})
            return
        if "body_file" in route:
            with open(route["body_file"], "rb") as f:
                body = f.read()
        elif "body_size" in route:
            body = route.get("body_byte", "x").encode() * route["body_size"]
        else:
            body = route.get("body", "").encode()
        extra = {"Location": route["location"]} if "location" in route else {}
        extra.update(route.get("headers", {}))
        if route.get("mode") == "hang":
            time.sleep(30)
            self.close_connection = True
            return
        with self.server.log_lock:
            counted = (generation, host + " " + self.path)
            answers = self.server.answers[counted] = self.server.answers.get(counted, 0) + 1
        status, mode = route.get("status", 200), route.get("mode", "normal")
        etag = route.get("etag")
        if etag and route.get("etag_changes"):
            etag = f'{etag[:-1]}-{answers}"'
        if etag:
            extra["ETag"] = etag
        asked = self.headers.get("Range", "")
        if route.get("ranges") and status == 200 and asked.startswith("bytes=") and \
                self.headers.get("If-Range", etag) == etag:
            start = int(asked[len("bytes="):].rstrip("-"))
            if start >= len(body):
                extra["Content-Range"] = f"bytes */{len(body)}"
                status, body = 416, b""
            else:
                status = 206
                extra["Content-Range"] = f"bytes {start}-{len(body) - 1}/{len(body)}"
                body = body[start:]
        sent = len(body)
        if "break_after" in route and answers <= route.get("breaks", answers):
            mode, sent = "break", min(len(body), route["break_after"])
        with self.server.log_lock, open(os.path.join(folder, "sent.jsonl"), "a") as log:
            log.write(json.dumps({"path": self.path, "status": status, "sent": sent}) + "\n")
        if route.get("framing", "length") != "length" or "announce" in route:
            self.answer_framed(status, body, extra, route.get("framing", "length"),
                               route.get("announce"))
            return
        self.answer(status, body, extra, mode, route.get("gate"), route.get("pause", 3), sent)

    def answer_framed(self, status, body, extra, framing, announce):
        self.send_response(status)
        if framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif framing == "length":
            self.send_header("Content-Length", str(announce))
        for name, value in extra.items():
            self.send_header(name, value)
        self.end_headers()
        if framing == "chunked":
            quarter = max(1, (len(body) + 3) // 4)
            for start in range(0, len(body), quarter):
                part = body[start:start + quarter]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
                self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
            self.wfile.flush()
            return
        self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_RDWR)

    def answer(self, status, body, extra, mode="normal", gate=None, pause=3, sent=0):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra.items():
            self.send_header(name, value)
        self.end_headers()
        if mode == "normal":
            self.wfile.write(body)
            return
        if mode == "trickle":
            quarter = (len(body) + 3) // 4
            for start in range(0, len(body), quarter):
                if start:
                    time.sleep(pause)
                self.wfile.write(body[start:start + quarter])
                self.wfile.flush()
            return
        self.wfile.write(body[:sent] if mode == "break" else body[: len(body) // 2])
        self.wfile.flush()
        if mode == "gate":
            sent, last_byte = len(body) // 2, time.monotonic()
            while not os.path.exists(gate):
                if time.monotonic() - last_byte >= 2 and sent < len(body) - 1:
                    self.wfile.write(body[sent:sent + 1])
                    self.wfile.flush()
                    sent, last_byte = sent + 1, time.monotonic()
                time.sleep(0.01)
            self.wfile.write(body[sent:])
            return
        if mode == "stall":
            time.sleep(15)
        self.close_connection = True
        self.connection.shutdown(socket.SHUT_RDWR)


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # refused handshakes and dropped connections are what the tests ask for


def main():
    folder = sys.argv[1]
    ca_key, ca_cert = make_ca(folder, "ca")
    rogue_key, rogue_cert = make_ca(folder, "rogue-ca")
    trusted = make_leaf(folder, "trusted", TRUSTED_HOSTS, ca_key, ca_cert)
    untrusted = make_leaf(folder, "untrusted", [UNTRUSTED_HOST], rogue_key, rogue_cert)

    contexts = {}
    for name, (cert, key) in (("trusted", trusted), ("untrusted", untrusted)):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        contexts[name] = context

    def choose(sock, server_name, _context):
        if server_name == UNTRUSTED_HOST:
            sock.context = contexts["untrusted"]

    contexts["trusted"].sni_callback = choose
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    server = QuietServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.folder = folder
    server.log_lock = threading.Lock()
    server.answers = {}
    server.socket = contexts["trusted"].wrap_socket(server.socket, server_side=True,
                                                    do_handshake_on_connect=False)
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
