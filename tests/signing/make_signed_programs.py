#!/usr/bin/env python3
"""Makes the signing keys and the signed test programs in a folder.

Usage: make_signed_programs.py FOLDER [--large BYTES]

Keys (kept once made, so that a build pinned to them stays valid): a publisher (RSA 2048), a
backup (ECDSA P-256), a stranger (RSA 2048) and a time stamp authority (RSA 2048), each with a
self-signed certificate; their pins in pins.txt ("name pin" lines, from scripts/publisher-pin).
Programs (made every time): small 64-bit Windows programs built by mingw-w64 with a version
resource from windres, unsigned and signed in each of the ways the tests name, in programs/. With
--large, only programs/large.exe instead: a program of about BYTES signed by the publisher.
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import zipfile

KEYS = {"publisher": ["-newkey", "rsa:2048"],
        "backup": ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"],
        "stranger": ["-newkey", "rsa:2048"],
        "tsa": ["-newkey", "rsa:2048"]}
SIGNING_TIME = "1700000000"
PUBLISHER_PIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                             "publisher-pin")


PROGRAM = """const char kBuild[] = BUILD;
int main(void) { return kBuild[0] == 0; }
"""
VERSION_RESOURCE = """1 VERSIONINFO
FILEVERSION {commas}
PRODUCTVERSION {commas}
FILEOS 0x40004
FILETYPE 0x1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileDescription", "Muvra test program"
      VALUE "FileVersion", "{dots}"
      VALUE "OriginalFilename", "{name}"
      VALUE "ProductName", "Muvra"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
"""
# Bytes of a large program, pulled into a section of its own by the assembler.
PAYLOAD = """.section .payload,"dr"
.incbin "{path}"
"""


def windows_program(work, target, version=None, original_name="muvra.exe", build="first",
                    payload=None):
    """A 64-bit Windows program built by mingw-w64: with a version resource of `version` (a
    tuple of four numbers) naming `original_name`, none when `version` is None; `build` changes
    its code's bytes; `payload`, a file, adds a section holding its bytes."""
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "program.c")
    with open(source, "w") as out:
        out.write(PROGRAM)
    inputs = [source]
    if version is not None:
        script = os.path.join(work, "version.rc")
        with open(script, "w") as out:
            out.write(VERSION_RESOURCE.format(commas=",".join(map(str, version)),
                                              dots=".".join(map(str, version)),
                                              name=original_name))
        resource = os.path.join(work, "version.o")
        subprocess.run(["x86_64-w64-mingw32-windres", "-O", "coff", "-i", script, "-o", resource],
                       check=True, capture_output=True)
        inputs.append(resource)
    if payload is not None:
        assembly = os.path.join(work, "payload.S")
        with open(assembly, "w") as out:
            out.write(PAYLOAD.format(path=payload))
        inputs.append(assembly)
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O1", "-s", "-Wl,--no-insert-timestamp",
                    f'-DBUILD="{build} build"', "-o", target, *inputs],
                   check=True, capture_output=True)


def make_keys(folder):
    for name, key_options in KEYS.items():
        if os.path.exists(os.path.join(folder, name + ".crt")):
            continue
        extensions = ["-addext", "extendedKeyUsage=critical,timeStamping"] if name == "tsa" else []
        subprocess.run(["openssl", "req", "-x509", *key_options, "-nodes", "-days", "7300",
                        "-subj", f"/CN=Muvra test {name}", *extensions, "-keyout",
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


def first_section(data):
    """The first section's offset and size in the file."""
    table = struct.unpack_from("<I", data, 60)[0] + 24 + struct.unpack_from(
        "<H", data, struct.unpack_from("<I", data, 60)[0] + 20)[0]
    size, offset = struct.unpack_from("<II", data, table + 16)
    return offset, size


def section_headers(data):
    """Each section's header offset, in the order of the section table."""
    pe = struct.unpack_from("<I", data, 60)[0]
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from(
        "<H", data, pe + 20)[0]
    return [pe + 24 + optional_size + 40 * index for index in range(count)]


def table_of(data):
    """The certificate table's offset and size from data directory entry 4."""
    entry = struct.unpack_from("<I", data, 60)[0] + 24 + 112 + 32
    return entry, struct.unpack_from("<II", data, entry)


def der_read(data, at=0):
    """The element at `at` as (tag, contents or children, end); constructed ones are read whole."""
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        width = length & 0x7F
        length = int.from_bytes(data[at:at + width], "big")
        at += width
    contents = bytes(data[at:at + length])
    if tag & 0x20:
        children, inner = [], 0
        while inner < len(contents):
            child_tag, child, inner = der_read(contents, inner)
            children.append([child_tag, child])
        contents = children
    return tag, contents, at + length


def der_write(tag, contents):
    body = b"".join(der_write(*child) for child in contents) if tag & 0x20 else contents
    length = len(body)
    head = bytes([length]) if length < 0x80 else (
        bytes([0x80 | ((length.bit_length() + 7) // 8)]) +
        length.to_bytes((length.bit_length() + 7) // 8, "big"))
    return bytes([tag]) + head + body


def der_oid(dotted):
    numbers = [int(n) for n in dotted.split(".")]
    body = bytearray([numbers[0] * 40 + numbers[1]])
    for number in numbers[2:]:
        chunk = [number & 0x7F]
        while number > 0x7F:
            number >>= 7
            chunk.insert(0, 0x80 | (number & 0x7F))
        body += bytes(chunk)
    return [0x06, bytes(body)]


def signature_edited(edit):
    """A change that rewrites the primary signature's DER: `edit(signer_info)` changes the primary
    SignerInfo's fields in place; the certificate entry, the table and its size follow."""
    def change(data):
        entry, (offset, _) = table_of(data)
        tag, content_info, _ = der_read(data, offset + 8)
        original = der_write(tag, content_info)
        assert data[offset + 8:offset + 8 + len(original)] == original, "the signature is not DER"
        signer_infos = content_info[1][1][0][1][-1]
        edit(signer_infos[1][0][1])
        signature = der_write(tag, content_info)
        signature += bytes(-len(signature) % 8)
        struct.pack_into("<I", data, offset, 8 + len(signature))
        struct.pack_into("<I", data, entry + 4, 8 + len(signature))
        data[offset + 8:] = signature
    return change


def with_unsigned_attribute(oid, value):
    def edit(signer_info):
        if signer_info[-1][0] != 0xA1:
            signer_info.append([0xA1, []])
        signer_info[-1][1].append([0x30, [der_oid(oid), [0x31, [value]]]])
    return edit


def ecdsa_with_extra_zero(signer_info):
    """r with a leading zero byte it does not need: the same numbers, not their DER."""
    octets = signer_info[-1] if signer_info[-1][0] == 0x04 else signer_info[-2]
    _, numbers, _ = der_read(octets[1])
    numbers[0][1] = b"\0" + numbers[0][1]
    octets[1] = der_write(0x30, numbers)


def changed(source, target, change):
    data = bytearray(open(source, "rb").read())
    change(data)
    with open(target, "wb") as out:
        out.write(data)


def make_programs(folder):
    programs = os.path.join(folder, "programs")
    shutil.rmtree(programs, ignore_errors=True)
    os.makedirs(programs)
    path = lambda name: os.path.join(programs, name + ".exe")
    work = os.path.join(folder, "build")
    windows_program(work, path("unsigned"), (2, 6, 0, 0))
    # Releases of other versions and names, each signed by the publisher; 2.7 names itself in
    # capitals, as Windows would not mind.
    for name, version, original_name, build in [
            ("2.5", (2, 5, 0, 0), "muvra.exe", "first"),
            ("2.6-rebuilt", (2, 6, 0, 0), "muvra.exe", "second"),
            ("2.7", (2, 7, 0, 0), "MUVRA.EXE", "first"),
            ("wrong-name", (2, 8, 0, 0), "MuvraLoader.exe", "first"),
            ("no-version", None, None, "first")]:
        windows_program(work, path("unsigned-" + name), version, original_name, build)
        sign(folder, "publisher", path("unsigned-" + name), path("publisher-" + name),
             "-h", "sha256")
        os.remove(path("unsigned-" + name))
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
        offset, size = first_section(data)
        data[offset + size // 2] ^= 1

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

    def zip_in_table(data):
        entry, (_, size) = table_of(data)
        archive = io.BytesIO()
        with zipfile.ZipFile(archive, "w") as out:
            out.writestr("payload.txt", "not the publisher's")
        appended = archive.getvalue() + bytes(-len(archive.getvalue()) % 8)
        struct.pack_into("<I", data, entry + 4, size + len(appended))
        data += appended

    def table_before_overlay(data):
        entry, (offset, size) = table_of(data)
        table = data[offset:offset + size]
        del data[offset:offset + size]
        data[overlay_at:overlay_at] = table
        struct.pack_into("<I", data, entry, overlay_at)

    def headers_size(size):
        def change(data):
            struct.pack_into("<I", data, struct.unpack_from("<I", data, 60)[0] + 24 + 60, size)
        return change

    changed(path("publisher"), path("publisher-checksum-set"), set_checksum)
    changed(path("publisher"), path("zip-in-table"), zip_in_table)
    unsigned = open(path("unsigned"), "rb").read()
    overlay_at = len(unsigned)
    with open(path("unsigned-with-overlay"), "wb") as out:
        out.write(unsigned + b"overlay!" * 64)
    sign(folder, "publisher", path("unsigned-with-overlay"), path("publisher-with-overlay"),
         "-h", "sha256")
    changed(path("publisher-with-overlay"), path("table-before-overlay"), table_before_overlay)

    # The loader maps a section's bytes up to the file alignment and the headers to their size: a
    # table signed in either place is read as part of the program.
    def last_section_short_of_its_alignment(data):
        header = max(section_headers(data), key=lambda at: struct.unpack_from("<I", data, at + 20))
        size, offset = struct.unpack_from("<II", data, header + 16)
        assert offset + size == len(data)
        struct.pack_into("<I", data, header + 16, size - 8)
        del data[-8:]

    changed(path("unsigned"), path("unsigned-unaligned"), last_section_short_of_its_alignment)
    sign(folder, "publisher", path("unsigned-unaligned"), path("table-in-section-alignment"),
         "-h", "sha256")
    changed(path("unsigned"), path("unsigned-large-headers"), headers_size(len(unsigned) + 8))
    sign(folder, "publisher", path("unsigned-large-headers"), path("table-in-headers"),
         "-h", "sha256")
    time_stamp = ["-TSA-certs", os.path.join(folder, "tsa.crt"), "-TSA-key",
                  os.path.join(folder, "tsa.key"), "-TSA-time", SIGNING_TIME]
    sign(folder, "publisher", path("unsigned"), path("publisher-time-stamped"), "-h", "sha256",
         *time_stamp)
    sign(folder, "stranger", path("publisher"), path("publisher-with-nested-time-stamped"),
         "-h", "sha256", "-nest", *time_stamp)
    sign(folder, "publisher", path("unsigned"), path("unknown-unsigned-attribute"), "-h",
         "sha256", "-addUnauthenticatedBlob")
    sign(folder, "stranger", path("publisher"), path("nested-unknown-unsigned-attribute"),
         "-h", "sha256", "-nest", "-addUnauthenticatedBlob")
    # A countersignature, the older form of a time stamp: a SignerInfo in the unsigned attributes.
    countersigned = lambda signer_info: with_unsigned_attribute(
        "1.2.840.113549.1.9.6", [0x30, signer_info[:6]])(signer_info)
    changed(path("publisher"), path("publisher-countersigned"), signature_edited(countersigned))
    changed(path("publisher"), path("unknown-attribute-edited"),
            signature_edited(with_unsigned_attribute("1.2.3.4", [0x04, b"PK\3\4 archive"])))
    changed(path("backup"), path("backup-ecdsa-not-der"), signature_edited(ecdsa_with_extra_zero))
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
        work = os.path.join(folder, "build")
        os.makedirs(work, exist_ok=True)
        payload = os.path.join(work, "payload.bin")
        with open(payload, "wb") as out:
            out.write(b"L" * int(sys.argv[3]))
        unsigned = os.path.join(programs, "large-unsigned.exe")
        windows_program(work, unsigned, (2, 6, 0, 0), payload=payload)
        sign(folder, "publisher", unsigned, os.path.join(programs, "large.exe"), "-h", "sha256")
        os.remove(unsigned)
        os.remove(payload)
    else:
        make_programs(folder)


if __name__ == "__main__":
    main()
