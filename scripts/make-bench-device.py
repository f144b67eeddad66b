#!/usr/bin/env python3
"""Writes the device folder the browser benchmark lists: files10k and files100k, with 10,000 and 100,000
files of varied names, sizes and times, and dirs10k with 10,000 empty folders. Made here with Linux tools because creating 110,000 files through
Wine takes minutes; the files are sparse, so they cost no disk space whatever their sizes. A folder that
is complete (its stamp file matches) is used as it is.

    make-bench-device.py <folder>
"""
import os
import random
import shutil
import sys

LAYOUT = {"files10k": 10_000, "files100k": 100_000}
FOLDERS = {"dirs10k": 10_000}
STAMP = "v2 " + " ".join(f"{d}={n}" for d, n in sorted({**LAYOUT, **FOLDERS}.items()))

SYLLABLES = ["ax", "bel", "cor", "dun", "ex", "fal", "gri", "hol", "in", "jor", "ka", "lum", "mes", "nor",
             "oth", "pra", "qui", "ras", "sen", "tor", "ul", "vek", "wen", "xy", "yl", "zan"]
EXTENSIONS = [".prgx", ".dlx", ".fwx", ".log", ".csv", ".txt", ".bin", ".cfg", ".dat", ".rcp", ""]
SEPARATORS = ["", "_", "-", " "]


def name(rng):
    words = []
    for _ in range(rng.randint(1, 4)):
        word = "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(1, 4)))
        style = rng.random()
        words.append(word.upper() if style < 0.15 else word.capitalize() if style < 0.5 else word)
    text = rng.choice(SEPARATORS).join(words)
    if rng.random() < 0.6:
        text += str(rng.randint(0, 99999))
    return text + rng.choice(EXTENSIONS)


def size(rng):
    # Mostly small files, some large ones, a few empty: the size sort has real work to do.
    if rng.random() < 0.03:
        return 0
    return min(int(10 ** rng.uniform(0, 8.5)), 0xFFFFFFFE)


def fill(folder, count, rng):
    os.makedirs(folder)
    seen = set()
    now = 1_700_000_000
    while len(seen) < count:
        n = name(rng)
        if n.lower() in seen:  # the device's file system ignores letter case
            continue
        seen.add(n.lower())
        path = os.path.join(folder, n)
        with open(path, "wb") as f:
            f.truncate(size(rng))
        t = now - rng.randint(0, 10 * 365 * 86400)
        os.utime(path, (t, t))


def fill_folders(folder, count, rng):
    os.makedirs(folder)
    seen = set()
    while len(seen) < count:
        n = name(rng)
        if n.lower() in seen:
            continue
        seen.add(n.lower())
        os.mkdir(os.path.join(folder, n))


def main():
    root = sys.argv[1]
    stamp = root.rstrip("/") + ".stamp"
    if os.path.isdir(root) and os.path.exists(stamp) and open(stamp).read() == STAMP:
        return
    if os.path.exists(stamp):
        os.remove(stamp)
    shutil.rmtree(root, ignore_errors=True)
    rng = random.Random(7)
    for directory, count in sorted(LAYOUT.items()):
        fill(os.path.join(root, directory), count, rng)
    for directory, count in sorted(FOLDERS.items()):
        fill_folders(os.path.join(root, directory), count, rng)
    with open(stamp, "w") as f:
        f.write(STAMP)


if __name__ == "__main__":
    main()
