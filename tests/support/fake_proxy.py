#!/usr/bin/env python3
"""A misbehaving HTTP proxy for the tests, on loopback.

Usage: fake_proxy.py MODE. It prints "PORT <n>" once it accepts connections, then answers every
CONNECT as MODE says:
  refuse-407, refuse-403, refuse-502   that status, and the connection closed
  close                                the connection closed without an answer
  stall                                no answer at all while the connection stays open
  intercept                            "200 Connection established", then TLS with a certificate
                                       of its own that no CA of the tests signed
"""
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading

REASONS = {"407": "Proxy Authentication Required", "403": "Forbidden", "502": "Bad Gateway"}


def self_signed(folder):
    key, cert = os.path.join(folder, "proxy.key"), os.path.join(folder, "proxy.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=github.com", "-addext",
                    "subjectAltName=DNS:github.com,DNS:api.github.com,IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def read_request(connection):
    data = b""
    while b"\r\n\r\n" not in data:
        block = connection.recv(4096)
        if not block:
            return False
        data += block
    return True


def answer(connection, mode, context, held):
    with connection:
        if not read_request(connection):
            return
        if mode.startswith("refuse-"):
            status = mode.split("-")[1]
            connection.sendall(f"HTTP/1.1 {status} {REASONS[status]}\r\n"
                               "Content-Length: 0\r\nConnection: close\r\n\r\n".encode())
        elif mode == "stall":
            held.wait()
        elif mode == "intercept":
            connection.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            try:
                with context.wrap_socket(connection, server_side=True) as tls:
                    tls.recv(4096)
            except (ssl.SSLError, OSError):
                pass


def main():
    mode = sys.argv[1]
    context = self_signed(tempfile.mkdtemp(prefix="muvra-fake-proxy-")) if mode == "intercept" \
        else None
    held = threading.Event()
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(f"PORT {listener.getsockname()[1]}", flush=True)
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=answer, args=(connection, mode, context, held), daemon=True).start()


if __name__ == "__main__":
    main()
