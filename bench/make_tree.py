#!/usr/bin/env python3
"""Makes benchmark trees of incompressible files.

  make_tree.py big DIR      about 2,000 files, 600 MB: mixed sizes, two of 60 MB
  make_tree.py small DIR    50,000 files of 1 KB in 100 directories
  make_tree.py KIND DIR [SEED]  another seed makes an older copy of the tree
  make_tree.py huge DIR     one 1 GB file (999,000,000 bytes, the most a package
                            row holds) and a few small ones
"""
import os
import random
import sys


def write(path, size, rng):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(left, 8 << 20)
            f.write(rng.randbytes(n))
            left -= n


def setup(root):
    with open(os.path.join(root, "ovixsetup.ini"), "w") as f:
        f.write("[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2026-12-01\n")


def big(root, rng):
    write(os.path.join(root, "bin", "kernel_a.dll"), 60 << 20, rng)
    write(os.path.join(root, "bin", "kernel_b.dll"), 60 << 20, rng)
    budget = (600 << 20) - (120 << 20)
    sizes = []
    # Mostly small and medium files, as an installation holds them.
    for i in range(1998):
        r = rng.random()
        sizes.append(int(2 << 10 + 0) if r < 0.4 else int(rng.uniform(4 << 10, 64 << 10)) if r < 0.8
                     else int(rng.uniform(64 << 10, 1 << 20)))
    scale = budget / sum(sizes)
    for i, s in enumerate(sizes):
        write(os.path.join(root, "lib%02d" % (i % 40), "part%04d.dll" % i), max(1, int(s * scale)), rng)


def small(root, rng):
    for i in range(50000):
        write(os.path.join(root, "d%03d" % (i % 100), "f%05d.xml" % i), 1024, rng)


def huge(root, rng):
    write(os.path.join(root, "bin", "huge.dll"), 999000000, rng)
    for i in range(10):
        write(os.path.join(root, "lua", "s%d.lua" % i), 4096, rng)


def main():
    kind, root = sys.argv[1], sys.argv[2]
    # Another seed gives the same file names with other sizes and bytes: an
    # older copy of the same installation.
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 2026
    rng = random.Random(seed)
    os.makedirs(root, exist_ok=True)
    {"big": big, "small": small, "huge": huge}[kind](root, rng)
    setup(root)


if __name__ == "__main__":
    main()
