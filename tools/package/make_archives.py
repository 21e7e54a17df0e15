#!/usr/bin/env python3
"""Writes the release archives from the two release builds: the Windows zip, the Linux tarball and
SHA256SUMS. Entries are sorted, dated at the commit and have fixed owners and permissions, so the
same builds always give the same bytes.

Usage: make_archives.py --version V --epoch SECONDS --linux BUILD --windows BUILD --sdk NATIVE --out DIR
(NATIVE: the WebView2 SDK package's build/native folder, which the Windows build used)
"""
import argparse
import gzip
import hashlib
import io
import os
import struct
import tarfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# Third-party parts and where their licence texts come from: the Debian packages the build takes
# them from, and the WebView2 SDK package.
NOTICES = {
    "windows": [
        ("nlohmann/json", "JSON parsing, compiled into MuvraLoader.exe",
         "/usr/share/doc/nlohmann-json3-dev/copyright"),
        ("Microsoft Edge WebView2 loader", "WebView2Loader.dll, shipped beside MuvraLoader.exe",
         "{sdk}/../../LICENSE.txt"),
        ("mingw-w64 runtime and winpthreads", "the C runtime start-up and threads, linked statically",
         "/usr/share/doc/mingw-w64-x86-64-dev/copyright"),
        ("GCC runtime libraries (libstdc++, libgcc) under the GCC Runtime Library Exception",
         "the C++ standard library, linked statically",
         "/usr/share/doc/gcc-mingw-w64-base/copyright"),
    ],
    "linux": [
        ("nlohmann/json", "JSON parsing, compiled into muvra-loader",
         "/usr/share/doc/nlohmann-json3-dev/copyright"),
        ("WebKitGTK 4.1", "the window's browser view; a system package, not shipped",
         "/usr/share/doc/libwebkit2gtk-4.1-0/copyright"),
        ("libcurl", "HTTPS requests; a system package, not shipped",
         "/usr/share/doc/libcurl4/copyright"),
        ("OpenSSL", "TLS and SHA-256; a system package, not shipped",
         "/usr/share/doc/libssl3/copyright"),
    ],
}


def read(path):
    with open(path, "rb") as source:
        return source.read()


def notices(platform, sdk):
    parts = [f"Third-party software in Muvra Loader for {platform.capitalize()}\n"]
    for name, use, source in NOTICES[platform]:
        text = read(source.format(sdk=sdk)).decode("utf-8").strip()
        parts.append(f"{'=' * 78}\n{name}\nUsed for: {use}\n{'=' * 78}\n\n{text}\n")
    return "\n\n".join(parts).encode("utf-8")


def readme(platform, version):
    return read(os.path.join(HERE, f"README-{platform}.txt")).replace(b"@VERSION@",
                                                                      version.encode())


def icon_png():
    """The 256-pixel image of the program's icon, which the .ico file holds as a PNG."""
    ico = read(os.path.join(ROOT, "src", "app", "muvra.ico"))
    (count,) = struct.unpack("<H", ico[4:6])
    for index in range(count):
        size, offset = struct.unpack("<II", ico[6 + 16 * index + 8:6 + 16 * index + 16])
        if ico[offset:offset + 8] == b"\x89PNG\r\n\x1a\n":
            return ico[offset:offset + size]
    raise SystemExit("make_archives: the icon holds no PNG image")


def write_zip(path, folder, files, epoch):
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates start in 1980
    with zipfile.ZipFile(path, "w") as archive:
        for name, (data, mode) in sorted(files.items()):
            entry = zipfile.ZipInfo(f"{folder}/{name}", date_time=stamp)
            entry.create_system = 3
            entry.external_attr = (0o100000 | mode) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)


def write_tarball(path, folder, files, epoch):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name, (data, mode) in sorted(files.items()):
            entry = tarfile.TarInfo(f"{folder}/{name}")
            entry.size, entry.mode, entry.mtime = len(data), mode, epoch
            entry.uid = entry.gid = 0
            entry.uname = entry.gname = ""
            archive.addfile(entry, io.BytesIO(data))
    with open(path, "wb") as out, gzip.GzipFile(filename="", mode="wb", fileobj=out,
                                                 compresslevel=9, mtime=epoch) as packed:
        packed.write(buffer.getvalue())


def main():
    parser = argparse.ArgumentParser()
    for option in ("--version", "--linux", "--windows", "--sdk", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--epoch", type=int, required=True)
    arguments = parser.parse_args()
    version, epoch = arguments.version, arguments.epoch
    os.makedirs(arguments.out, exist_ok=True)

    windows = {
        "MuvraLoader.exe": (read(os.path.join(arguments.windows, "MuvraLoader.exe")), 0o755),
        "MuvraLoader.com": (read(os.path.join(arguments.windows, "MuvraLoader.com")), 0o755),
        "WebView2Loader.dll": (read(os.path.join(arguments.windows, "WebView2Loader.dll")), 0o755),
        "README.txt": (readme("windows", version).replace(b"\n", b"\r\n"), 0o644),
        "THIRD-PARTY-NOTICES.txt": (notices("windows", arguments.sdk).replace(b"\n", b"\r\n"),
                                    0o644),
    }
    linux = {
        "muvra-loader": (read(os.path.join(arguments.linux, "muvra-loader")), 0o755),
        "muvra-loader.png": (icon_png(), 0o644),
        "muvra-loader.desktop": (read(os.path.join(HERE, "muvra-loader.desktop")), 0o644),
        "README.txt": (readme("linux", version), 0o644),
        "THIRD-PARTY-NOTICES.txt": (notices("linux", arguments.sdk), 0o644),
    }
    names = {"windows": f"MuvraLoader-{version}-windows-x64.zip",
             "linux": f"muvra-loader-{version}-linux-x86_64.tar.gz"}
    # The top folders carry no version: a newer archive unpacked where the older one was keeps
    # settings.ini and app/ beside the new launcher.
    write_zip(os.path.join(arguments.out, names["windows"]), "MuvraLoader", windows, epoch)
    write_tarball(os.path.join(arguments.out, names["linux"]), "muvra-loader", linux, epoch)
    with open(os.path.join(arguments.out, "SHA256SUMS"), "w") as sums:
        for name in sorted(names.values()):
            digest = hashlib.sha256(read(os.path.join(arguments.out, name))).hexdigest()
            sums.write(f"{digest}  {name}\n")


if __name__ == "__main__":
    main()
