#!/usr/bin/env python3
"""Writes the deterministic company folder of the backup benchmark.

    bench_tree.py DIR MB

A few thousand small files in nested folders (30 % of the bytes) and four large ones
(70 %). The content mixes record-like text with random bytes so that deflate at level 6
saves about 60 %. The same arguments always give the same bytes.
"""
import os
import random
import sys

SMALL_FILES = 3000
LARGE_FILES = 4
POOL_BYTES = 8 << 20


def make_pool(rng):
    words = [bytes(rng.choice(b"ABCDEFGHJKLMNPQRSTUVWXYZ0123456789") for _ in range(rng.randint(3, 12)))
             for _ in range(800)]
    out = bytearray()
    while len(out) < POOL_BYTES:
        if rng.random() < 0.025:
            out += rng.randbytes(rng.randint(64, 512))
        else:
            line = b"|".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
            out += line + b"\r\n"
    return bytes(out[:POOL_BYTES])


def write_slice(path, pool, rng, size):
    with open(path, "wb") as f:
        left = size
        while left:
            start = rng.randrange(0, len(pool) - 4096)
            n = min(left, len(pool) - start, 1 << 20)
            f.write(pool[start:start + n])
            left -= n


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: bench_tree.py DIR MB\n")
        return 2
    root, mb = sys.argv[1], int(sys.argv[2])
    total = mb << 20
    rng = random.Random(20240105)
    pool = make_pool(rng)
    os.makedirs(root, exist_ok=True)
    small_total = total * 3 // 10
    mean = max(small_total // SMALL_FILES, 1)
    for i in range(SMALL_FILES):
        folder = os.path.join(root, "fp%02d" % (i % 24), "m%02d" % (i // 24 % 12))
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(0, 2 * mean)
        write_slice(os.path.join(folder, "inv%05d.dat" % i), pool, rng, size)
    os.makedirs(os.path.join(root, "db"), exist_ok=True)
    for i in range(LARGE_FILES):
        size = (total - small_total) // LARGE_FILES
        write_slice(os.path.join(root, "db", "ledger%d.db" % i), pool, rng, size)
    return 0


if __name__ == "__main__":
    sys.exit(main())
