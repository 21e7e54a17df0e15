#!/usr/bin/env python3
"""Makes the signing keys and the signed test programs in a folder.

Usage: make_signed_programs.py FOLDER [--large BYTES]

Keys (kept once made, so that a build pinned to them stays valid): a publisher (RSA 2048), a
backup (ECDSA P-256) and a stranger (RSA 2048), each with a self-signed certificate; their pins
in pins.txt ("name pin" lines, from scripts/publisher-pin). Programs (made every time): one small 64-bit Windows program,
unsigned and signed in each of the ways the tests name, in programs/. With --large, only
programs/large.exe instead: a program of about BYTES signed by the publisher.
"""
import os
import shutil
import struct
import subprocess
import sys

KEYS = {"publisher": ["-newkey", "rsa:2048"],
        "backup": ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"],
        "stranger": ["-newkey", "rsa:2048"]}
SIGNING_TIME = "1700000000"
PUBLISHER_PIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                             "publisher-pin")


def windows_program(body_size, fill):
    """A 64-bit Windows program with one section of `body_size` bytes of `fill`."""
    dos = bytearray(128)
    dos[0:2] = b"MZ"
    dos[60:64] = struct.pack("<I", 128)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, 1, 0, 0, 0, 240, 0x0022)
    optional = bytearray(240)
    struct.pack_into("<H", optional, 0, 0x20B)
    struct.pack_into("<I", optional, 16, 0x1000)  # entry point
    struct.pack_into("<Q", optional, 24, 0x140000000)  # image base
    struct.pack_into("<II", optional, 32, 0x1000, 0x200)  # section and file alignment
    struct.pack_into("<HH", optional, 40, 6, 0)  # operating system version
    struct.pack_into("<HH", optional, 48, 6, 0)  # subsystem version
    struct.pack_into("<I", optional, 56, 0x1000 + ((body_size + 0xFFF) & ~0xFFF))  # image size
    struct.pack_into("<I", optional, 60, 0x200)  # size of headers
    struct.pack_into("<H", optional, 68, 3)  # console subsystem
    struct.pack_into("<I", optional, 108, 16)  # data directories
    section = bytearray(40)
    section[0:5] = b".text"
    struct.pack_into("<IIII", section, 8, body_size, 0x1000, body_size, 0x200)
    struct.pack_into("<I", section, 36, 0x60000020)
    headers = bytes(dos) + coff + bytes(optional) + bytes(section)
    return headers + bytes(0x200 - len(headers)) + fill * body_size


def make_keys(folder):
    for name, key_options in KEYS.items():
        if os.path.exists(os.path.join(folder, name + ".crt")):
            continue
        subprocess.run(["openssl", "req", "-x509", *key_options, "-nodes", "-days", "7300",
                        "-subj", f"/CN=Muvra test {name}", "-keyout",
                        os.path.join(folder, name + ".key"), "-out",
                        os.path.join(folder, name + ".crt")], check=True, capture_output=True)


def pin(certificate):
    """The pin as a publisher gets it, from scripts/publisher-pin."""
    return subprocess.run([PUBLISHER_PIN, certificate], check=True, capture_output=True,
                          text=True).stdout.strip()


def sign(folder, key, source, target, *options):
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(folder, key + ".crt"),
                    "-key", os.path.join(folder, key + ".key"), "-time", SIGNING_TIME, *options,
                    "-in", source, "-out", target], check=True, capture_output=True)


def table_of(data):
    """The certificate table's offset and size from data directory entry 4."""
    entry = struct.unpack_from("<I", data, 60)[0] + 24 + 112 + 32
    return entry, struct.unpack_from("<II", data, entry)


def changed(source, target, change):
    data = bytearray(open(source, "rb").read())
    change(data)
    with open(target, "wb") as out:
        out.write(data)


def make_programs(folder, body_size=4096, fill=b"p"):
    programs = os.path.join(folder, "programs")
    shutil.rmtree(programs, ignore_errors=True)
    os.makedirs(programs)
    path = lambda name: os.path.join(programs, name + ".exe")
    with open(path("unsigned"), "wb") as out:
        out.write(windows_program(body_size, fill))
    sign(folder, "publisher", path("unsigned"), path("publisher"), "-h", "sha256")
    sign(folder, "backup", path("unsigned"), path("backup"), "-h", "sha256")
    sign(folder, "stranger", path("unsigned"), path("stranger"), "-h", "sha256")
    sign(folder, "publisher", path("unsigned"), path("publisher-sha384"), "-h", "sha384")
    sign(folder, "publisher", path("unsigned"), path("publisher-sha512"), "-h", "sha512")
    sign(folder, "publisher", path("unsigned"), path("publisher-sha1"), "-h", "sha1")
    sign(folder, "publisher", path("publisher-sha1"), path("sha1-with-nested-publisher"),
         "-h", "sha256", "-nest")
    sign(folder, "publisher", path("stranger"), path("stranger-with-nested-publisher"),
         "-h", "sha256", "-nest")
    sign(folder, "stranger", path("publisher"), path("publisher-with-nested-stranger"),
         "-h", "sha256", "-nest")

    def set_checksum(data):
        struct.pack_into("<I", data, struct.unpack_from("<I", data, 60)[0] + 24 + 64, 0x12345)

    def change_section(data):
        data[0x200 + body_size // 2] ^= 1

    def change_signature(data):
        _, (offset, _) = table_of(data)
        assert data[offset + 8:offset + 10] == b"\x30\x82"
        length = 4 + struct.unpack_from(">H", data, offset + 10)[0]  # the DER, without padding
        data[offset + 8 + length - 1] ^= 1  # the last byte of the signer's signature value

    def table_past_end(data):
        entry, (offset, size) = table_of(data)
        struct.pack_into("<I", data, entry + 4, size + 16)

    def certificate_field(position, value):
        def change(data):
            _, (offset, _) = table_of(data)
            struct.pack_into("<I" if position == 0 else "<H", data, offset + position, value)
        return change

    changed(path("publisher"), path("publisher-checksum-set"), set_checksum)
    changed(path("publisher"), path("section-changed"), change_section)
    changed(path("publisher"), path("signature-changed"), change_signature)
    changed(path("publisher"), path("table-past-end"), table_past_end)
    changed(path("publisher"), path("length-zero"), certificate_field(0, 0))
    changed(path("publisher"), path("other-revision"), certificate_field(4, 0x0100))
    changed(path("publisher"), path("other-type"), certificate_field(6, 0x0001))


def main():
    if len(sys.argv) not in (2, 4) or (len(sys.argv) == 4 and sys.argv[2] != "--large"):
        raise SystemExit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    make_keys(folder)
    with open(os.path.join(folder, "pins.txt"), "w") as out:
        for name in KEYS:
            out.write(f"{name} {pin(os.path.join(folder, name + '.crt'))}\n")
    if len(sys.argv) == 4:
        programs = os.path.join(folder, "programs")
        os.makedirs(programs, exist_ok=True)
        unsigned = os.path.join(programs, "large-unsigned.exe")
        with open(unsigned, "wb") as out:
            out.write(windows_program(int(sys.argv[3]) & ~0x1FF, b"L"))
        sign(folder, "publisher", unsigned, os.path.join(programs, "large.exe"), "-h", "sha256")
        os.remove(unsigned)
    else:
        make_programs(folder)


if __name__ == "__main__":
    main()
