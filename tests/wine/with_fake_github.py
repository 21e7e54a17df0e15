#!/usr/bin/env python3
"""Runs a Windows test command under Wine against the fake GitHub on port 443.

Usage: with_fake_github.py [--prefix WINEPREFIX] -- COMMAND...

Nothing a user can set redirects the program's HTTPS client, so the command runs in a network and
mount namespace of its own (root only): there the GitHub hosts resolve to loopback through a
private /etc/hosts, the fake GitHub listens on 443, and the system's CA bundle is the fake GitHub's
test CA. Wine's crypt32 copies the system's CAs into the prefix's LocalMachine ROOT store whenever
a process first opens it, replacing what was added there by hand, so the bundle is how WinHTTP
comes to trust the test CA. Wine's server owns the sockets of its programs, so the prefix's server
is restarted in the namespace and stopped afterwards. The command finds the server's folder, as
Windows names it, in MUVRA_TEST_FAKE_GITHUB.
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE_GITHUB = os.path.join(HERE, "..", "support", "fake_github.py")
HOSTS = ("api.github.com", "github.com", "objects.githubusercontent.com", "untrusted.test")
INSIDE = "MUVRA_FAKE_GITHUB_NAMESPACE"


def windows_path(path):
    """The path as Wine's Z: drive (the whole Unix tree) names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


CA_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def stop_wine_server():
    server = "/usr/lib/wine/wineserver64"
    if not os.path.exists(server):
        server = "wineserver"
    subprocess.run([server, "-k"], stderr=subprocess.DEVNULL)
    subprocess.run([server, "-w"], stderr=subprocess.DEVNULL)


def run_inside(arguments):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    if arguments.prefix:
        os.environ["WINEPREFIX"] = os.path.abspath(arguments.prefix)
    stop_wine_server()
    try:
        return serve_and_run(arguments)
    finally:
        stop_wine_server()


def bind(source, target, mounted):
    subprocess.run(["mount", "--bind", source, target], check=True)
    mounted.append(target)


def serve_and_run(arguments):
    with tempfile.TemporaryDirectory(prefix="muvra-wine-github-") as folder:
        hosts = os.path.join(folder, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost " + " ".join(HOSTS) + "\n")
        mounted = []
        try:
            bind(hosts, "/etc/hosts", mounted)
            return serve_fake_github(arguments, folder, mounted)
        finally:
            for target in reversed(mounted):
                subprocess.run(["umount", target], check=True)


def serve_fake_github(arguments, folder, mounted):
    server_folder = os.path.join(folder, "github")
    os.mkdir(server_folder)
    server = subprocess.Popen([sys.executable, FAKE_GITHUB, server_folder, "443"],
                              stdout=subprocess.PIPE, text=True)
    try:
        if not server.stdout.readline().startswith("PORT 443"):
            print("with_fake_github: the fake GitHub did not start on port 443", flush=True)
            return 1
        bind(os.path.join(server_folder, "ca.pem"), CA_BUNDLE, mounted)
        environment = {k: v for k, v in os.environ.items()
                       if not k.lower().endswith("_proxy")}
        environment["MUVRA_TEST_FAKE_GITHUB"] = windows_path(server_folder)
        return subprocess.run(arguments.command, env=environment).returncode
    finally:
        server.kill()
        server.wait()
        server.stdout.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    arguments = parser.parse_args()
    if arguments.command[:1] == ["--"]:
        arguments.command = arguments.command[1:]
    if os.environ.get(INSIDE) == "1":
        return run_inside(arguments)
    probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True)
    if probe.returncode != 0:
        print("with_fake_github: this process may not make network and mount namespaces; "
              "run the Windows suite as root.", flush=True)
        return 1
    environment = dict(os.environ, **{INSIDE: "1"})
    return subprocess.run(["unshare", "--net", "--mount", "--propagation", "private",
                           sys.executable] + sys.argv, env=environment).returncode


if __name__ == "__main__":
    sys.exit(main())
