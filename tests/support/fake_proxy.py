#!/usr/bin/env python3
"""A misbehaving HTTP proxy for the tests, on loopback.

Usage: fake_proxy.py MODE [RECORD]. It prints "PORT <n>" once it accepts connections, then
answers every request (a line "request" appended to RECORD when given) as MODE says:
  refuse-407, refuse-403, refuse-502   that status, and the connection closed
  close                                the connection closed without an answer
  stall                                no answer at all while the connection stays open
  intercept                            "200 Connection established", then TLS with a certificate
                                       of its own that no CA of the tests signed
  socks5                               a SOCKS 5 proxy: each connection it is asked for is made,
                                       carried both ways, and its "host:port" appended to RECORD
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


def receive_exactly(connection, count):
    data = b""
    while len(data) < count:
        block = connection.recv(count - len(data))
        if not block:
            raise ConnectionError("closed")
        data += block
    return data


def carry(source, target):
    try:
        while block := source.recv(65536):
            target.sendall(block)
    except OSError:
        pass
    finally:
        target.close()


def socks5(connection, record):
    """The greeting without authentication, one CONNECT, then the bytes of both ways."""
    version, methods = receive_exactly(connection, 2)
    receive_exactly(connection, methods)
    connection.sendall(b"\x05\x00")
    version, command, _, kind = receive_exactly(connection, 4)
    if kind == 1:
        host = socket.inet_ntoa(receive_exactly(connection, 4))
    elif kind == 3:
        host = receive_exactly(connection, receive_exactly(connection, 1)[0]).decode()
    else:
        return
    port = int.from_bytes(receive_exactly(connection, 2), "big")
    with open(record, "a") as out:
        out.write(f"{host}:{port}\n")
    upstream = socket.create_connection((host, port))
    connection.sendall(b"\x05\x00\x00\x01" + bytes(6))
    threading.Thread(target=carry, args=(upstream, connection), daemon=True).start()
    carry(connection, upstream)


def answer(connection, mode, context, held):
    if mode == "socks5":
        try:
            socks5(connection, sys.argv[2])
        except (ConnectionError, OSError):
            connection.close()
        return
    with connection:
        if not read_request(connection):
            return
        if len(sys.argv) > 2:
            with open(sys.argv[2], "a") as out:
                out.write("request\n")
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
