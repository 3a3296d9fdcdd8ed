#!/usr/bin/env python3
"""Deterministic benchmark trees.

  make_corpus.py mixed DIR   about 20,000 files of realistic sizes (about 1.6 GB),
                             some over 5 MiB, in nested folders
  make_corpus.py small DIR   50,000 files of 1-4 KiB

Every file gets an extension of the scanner's smart list, since sub-folders
are always walked with that filter on. The same seed gives the same bytes on
every machine. A file DIR/.planted lists the files whose hashes the benchmark
database holds, one path per line.
"""
import os
import random
import sys

EXTENSIONS = ["exe", "dll", "sys", "pdf", "doc", "docx", "xls", "xml", "scr", "com"]
FILES_PER_FOLDER = 100
CHUNK = 1 << 20


def write_file(path, size, rng):
    with open(path, "wb") as out:
        left = size
        while left > 0:
            n = min(left, CHUNK)
            out.write(rng.randbytes(n))
            left -= n


def mixed_size(rng):
    r = rng.random()
    if r < 0.001:  # 20 files or so over the 5 MiB limit
        return rng.randint(5 * 1024 * 1024, 12 * 1024 * 1024)
    if r < 0.008:  # about 140 files of 1-5 MiB
        return rng.randint(1024 * 1024, 5 * 1024 * 1024 - 1)
    # A long tail of small and medium files, median about 20 KB.
    return min(int(rng.lognormvariate(9.9, 1.4)), 1024 * 1024)


def build(kind, root):
    rng = random.Random(20261210 if kind == "mixed" else 4242)
    count = 20000 if kind == "mixed" else 50000
    planted = []
    total = 0
    for i in range(count):
        folder = os.path.join(root, "d%03d" % (i // FILES_PER_FOLDER // 10),
                              "s%02d" % (i // FILES_PER_FOLDER % 10))
        os.makedirs(folder, exist_ok=True)
        size = mixed_size(rng) if kind == "mixed" else rng.randint(1024, 4096)
        name = os.path.join(folder, "f%05d.%s" % (i, EXTENSIONS[i % len(EXTENSIONS)]))
        write_file(name, size, rng)
        total += size
        if i % 997 == 0 and size < 5 * 1024 * 1024:
            planted.append(name)
    with open(os.path.join(root, ".planted"), "w") as out:
        out.write("\n".join(planted) + "\n")
    print("%s: %d files, %.2f GB, %d planted" % (root, count, total / 1e9, len(planted)))


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("mixed", "small"):
        sys.exit(__doc__)
    kind, root = sys.argv[1], sys.argv[2]
    if os.path.exists(os.path.join(root, ".planted")):
        print("%s: already there" % root)
        return
    os.makedirs(root, exist_ok=True)
    build(kind, root)


if __name__ == "__main__":
    main()
