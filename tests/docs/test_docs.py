#!/usr/bin/env python3
"""The guides against the repository: every relative link resolves, every command a code block
shows for the build is one that scripts/, CMake's presets or ctest know, and every ctest name the
suite table of docs/development.md lists exists.

Usage: test_docs.py --build BUILD   (BUILD: a configured native build, whose `ctest -N` lists
its tests; the Windows preset's names are read from tests/CMakeLists.txt)
"""
import argparse
import glob
import json
import os
import re
import shlex
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = None
# Tools of others that a guide may show beside ours (signing, containers, the CI service).
OUTSIDE_TOOLS = {"osslsigncode", "openssl", "signtool", "docker", "git", "gh", "sha256sum",
                 "dotnet", "wine", "tar", "unzip", "apt-get"}


def guides():
    return [os.path.join(ROOT, "README.md")] + sorted(
        glob.glob(os.path.join(ROOT, "docs", "**", "*.md"), recursive=True))


def read(path):
    with open(path, encoding="utf-8") as source:
        return source.read()


def without_code(text):
    return re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)


def slug(heading):
    """The anchor GitHub gives a heading."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    return {slug(line.lstrip("#")) for line in without_code(read(path)).splitlines()
            if line.startswith("#")}


def code_blocks(text):
    """The lines of each fenced block marked as a shell's, continuations joined."""
    for block in re.findall(r"^```(?:sh|bash|shell)\n(.*?)^```", text, flags=re.S | re.M):
        yield from block.replace("\\\n", " ").splitlines()


def commands(line):
    """The commands of one shell line: comments dropped, split at && and ;."""
    words = shlex.split(line, comments=True)
    command = []
    for word in words + ["&&"]:
        if word in ("&&", ";", "||"):
            if command:
                yield command
            command = []
        else:
            command.append(word)


def presets():
    with open(os.path.join(ROOT, "CMakePresets.json")) as source:
        document = json.load(source)
    return {entry["name"] for kind in ("configurePresets", "buildPresets", "testPresets")
            for entry in document.get(kind, [])}


def program_targets():
    # The project's own files only: a build folder's Wine prefix links to the whole file system.
    listed = subprocess.run(["git", "-C", ROOT, "ls-files", "*CMakeLists.txt"],
                            capture_output=True, text=True, check=True).stdout.split()
    names = set()
    for path in listed:
        names.update(re.findall(r"add_executable\(([\w-]+)", read(os.path.join(ROOT, path))))
    return names


def ctest_names():
    """The tests of the native build, and those tests/CMakeLists.txt adds for Windows."""
    listed = subprocess.run(["ctest", "--test-dir", BUILD, "-N"], capture_output=True, text=True,
                            check=True).stdout
    names = set(re.findall(r"Test +#\d+: (\S+)", listed))
    declared = read(os.path.join(ROOT, "tests", "CMakeLists.txt"))
    names.update(re.findall(r"add_test\(NAME ([\w-]+)", declared))
    for loop in re.findall(r"foreach\(suite ([\w -]+)\)", declared):
        names.update(loop.split())
    return names


HELP = {}


def script_help(name):
    if name not in HELP:
        done = subprocess.run([os.path.join(ROOT, "scripts", name), "--help"], capture_output=True,
                              text=True, timeout=5)
        HELP[name] = done.stdout if done.returncode == 0 else ""
    return HELP[name]


class DocumentationTest(unittest.TestCase):
    def test_the_front_door_is_short_and_shows_the_two_commands(self):
        readme = read(os.path.join(ROOT, "README.md"))
        self.assertLessEqual(len(readme.splitlines()), 120)
        for command in ("scripts/run", "scripts/test"):
            self.assertIn(f"`{command}", readme)
        for guide in ("publishing", "user-guide", "reference", "development"):
            self.assertIn(f"docs/{guide}.md", readme)
        self.assertTrue(os.path.isfile(os.path.join(ROOT, "LICENSE")))

    def test_every_relative_link_resolves(self):
        for guide in guides():
            folder = os.path.dirname(guide)
            for target in re.findall(r"\]\(([^)\s]+)\)", without_code(read(guide))):
                if re.match(r"[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                resolved = os.path.normpath(os.path.join(folder, path)) if path else guide
                with self.subTest(guide=os.path.relpath(guide, ROOT), link=target):
                    self.assertTrue(os.path.exists(resolved), f"{resolved} is missing")
                    if anchor and resolved.endswith(".md"):
                        self.assertIn(anchor, anchors(resolved))

    def test_every_command_in_a_code_block_is_known(self):
        known_presets, targets, tests = presets(), program_targets(), ctest_names()
        for guide in guides():
            for line in code_blocks(read(guide)):
                for command in commands(line):
                    with self.subTest(guide=os.path.relpath(guide, ROOT), command=command):
                        self.check_command(command, known_presets, targets, tests)

    def check_command(self, command, known_presets, targets, tests):
        program, arguments = command[0], command[1:]
        options = [word.split("=")[0] for word in arguments if word.startswith("--")]
        if program.startswith("scripts/"):
            name = program[len("scripts/"):]
            self.assertTrue(os.access(os.path.join(ROOT, program), os.X_OK), program)
            for option in options:
                self.assertIn(option, script_help(name), f"{program} --help does not name it")
        elif program in ("cmake", "ctest"):
            for option, value in zip(arguments, arguments[1:]):
                if option == "--preset":
                    self.assertIn(value, known_presets)
                if program == "ctest" and option == "-R":
                    self.assertTrue(any(re.search(value, test) for test in tests),
                                    f"no ctest test matches {value}")
        elif program == "python3":
            self.assertTrue(os.path.isfile(os.path.join(ROOT, arguments[0])), arguments[0])
        elif program.startswith("build/"):
            preset, _, name = program[len("build/"):].partition("/")
            self.assertIn(preset, known_presets)
            self.assertIn(name.removesuffix(".exe"), targets)
        else:
            self.assertIn(program, OUTSIDE_TOOLS)

    def test_each_suite_the_table_lists_is_a_ctest_test(self):
        text = read(os.path.join(ROOT, "docs", "development.md"))
        table = re.search(r"^\| ctest name \|.*\n\|[-| ]+\n((?:\|.*\n)+)", text, flags=re.M)
        self.assertIsNotNone(table, "docs/development.md has no table of suites")
        rows = table.group(1).splitlines()
        self.assertGreater(len(rows), 10)
        tests = ctest_names()
        for row in rows:
            first_cell = re.split(r"(?<!\\)\|", row)[1].replace("\\|", "|")
            for name in re.findall(r"`([^`]+)`", first_cell):
                with self.subTest(name=name):
                    if name.startswith("-R "):  # the cases ctest -R selects
                        self.assertTrue(any(re.search(name[3:], test) for test in tests))
                    else:
                        self.assertIn(name, tests)


def main():
    global BUILD
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    known, rest = parser.parse_known_args()
    BUILD = os.path.abspath(known.build)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
