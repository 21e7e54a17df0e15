"""Reads the text of a screenshot with Tesseract (the launcher's light text on its dark page)."""
import os
import re
import subprocess
import tempfile

import screen

SCALE = 3  # small interface text reads reliably only enlarged


def _prepared(image):
    """The image enlarged and inverted to dark text on light grey."""
    rows = []
    for row in image.rows:
        line = bytearray()
        for x in range(0, len(row), 3):
            grey = 255 - max(row[x:x + 3])
            line += bytes((grey, grey, grey)) * SCALE
        rows.extend([bytes(line)] * SCALE)
    return screen.Image(image.width * SCALE, image.height * SCALE, rows)


def _tesseract(image, *arguments):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "screen.png")
        _prepared(image).save_png(path)
        return subprocess.run(["tesseract", path, "-"] + list(arguments), capture_output=True,
                              text=True, check=True).stdout


def normalised(text):
    return " ".join(text.lower().split())


def text_of(image):
    """All the text on the image, lower case, with single spaces."""
    return normalised(_tesseract(image))


def position_of(image, phrase):
    """The centre of the first occurrence of `phrase` (words on one line), or None."""
    wanted = phrase.lower().split()
    words = []
    for line in _tesseract(image, "tsv").splitlines()[1:]:
        fields = line.split("\t")
        if len(fields) == 12 and fields[11].strip():
            left, top, width, height = map(int, fields[6:10])
            words.append((re.sub(r"\W", "", fields[11].lower()), left, top, width, height))
    for at in range(len(words) - len(wanted) + 1):
        if [w[0] for w in words[at:at + len(wanted)]] == [re.sub(r"\W", "", w) for w in wanted]:
            first, last = words[at], words[at + len(wanted) - 1]
            x = (first[1] + last[1] + last[3]) // 2
            y = first[2] + first[4] // 2
            return x // SCALE, y // SCALE
    return None
