#!/usr/bin/env python3
"""The product of the installation benchmark, made the same way every time.

    make_product.py generate DIR [--files N] [--megabytes M] [--folders F] [--seed S]
        writes N files of about M MiB in F folders below DIR (which must not
        exist): half text-like (words of a fixed vocabulary), half random
        bytes, sizes from 1 KiB to 5 MiB.
    make_product.py pack DIR PACK
        concatenates the files below DIR into one pack file for the floor
        program (install_floor.c), behind an index.
    make_product.py manifest DIR
        prints "relative/path size" for every file below DIR, sorted, with
        "/" separators: two trees are equal in names and sizes when their
        manifests are.

Pack format (all integers little-endian):
    pack   := "KYTPACK1" count:u32 folder_count:u32 folder* entry* data
    folder := length:u16 utf16le-name[length]             (relative, "\\"-separated, parents first)
    entry  := size:u64 length:u16 utf16le-name[length]    (relative, "\\"-separated)
    data   := the contents of the entries, in entry order, back to back
"""
import argparse
import itertools
import math
import os
import random
import struct
import sys

KIB = 1024
MIN_SIZE = KIB
MAX_SIZE = 5 * KIB * KIB


def folder_names(count):
    """Top folders with sub-folders below them, `count` folders in all."""
    tops = max(1, round(math.sqrt(count / 2)))
    names = []
    for top in range(tops):
        names.append(f"module{top:02d}")
    index = 0
    while len(names) < count:
        parent = names[index % tops]
        names.append(f"{parent}/part{index // tops:02d}")
        index += 1
    return names


def file_sizes(rng, count, total):
    """Sizes between MIN_SIZE and MAX_SIZE whose sum is close to `total`.

    Sizes are log-normal (a few large files, many small ones) around a
    median found by bisection on the sum of the drawn values, so the result
    depends only on the seed.
    """
    normals = [rng.gauss(0.0, 1.8) for _ in range(count)]
    # The extremes occur at least once each.
    normals[0], normals[1] = -100.0, 100.0

    def sizes_for(median):
        return [min(MAX_SIZE, max(MIN_SIZE, int(median * math.exp(n)))) for n in normals]

    low, high = float(MIN_SIZE), float(MAX_SIZE)
    for _ in range(60):
        middle = (low + high) / 2
        if sum(sizes_for(middle)) > total:
            high = middle
        else:
            low = middle
    sizes = sizes_for(low)
    # The remainder goes to the largest files that still have room.
    rest = total - sum(sizes)
    for i in sorted(range(count), key=lambda i: -sizes[i]):
        if rest <= 0:
            break
        step = min(MAX_SIZE - sizes[i], rest)
        sizes[i] += step
        rest -= step
    return sizes


def vocabulary(rng, count=6000):
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    weights = [12.7, 9.1, 8.2, 7.5, 7.0, 6.7, 6.3, 6.1, 6.0, 4.3, 4.0, 2.8, 2.8, 2.4, 2.2, 2.4, 2.0, 1.9, 1.0, 1.5,
               2.0, 0.8, 0.2, 0.1, 0.2, 0.1]
    words = set()
    while len(words) < count:
        length = rng.randint(2, 11)
        words.add("".join(rng.choices(letters, weights, k=length)))
    return sorted(words)


def text_bytes(rng, words, cumulative, size):
    """Lines of words (Zipf-like frequencies), cut to exactly `size` bytes."""
    parts = []
    produced = 0
    while produced < size:
        line = " ".join(rng.choices(words, cum_weights=cumulative, k=rng.randint(4, 16)))
        parts.append(line)
        produced += len(line) + 2
    return "\r\n".join(parts).encode("ascii")[:size].ljust(size, b"\n")


def generate(root, files, megabytes, folders, seed):
    if os.path.exists(root):
        sys.exit(f"make_product.py: {root} exists already")
    rng = random.Random(seed)
    words = vocabulary(rng)
    cumulative = list(itertools.accumulate(1.0 / (rank + 1) for rank in range(len(words))))
    names = folder_names(folders)
    sizes = file_sizes(rng, files, megabytes * KIB * KIB)
    for name in names:
        os.makedirs(os.path.join(root, name))
    total = 0
    for i, size in enumerate(sizes):
        folder = names[i % len(names)]
        text = i % 2 == 0
        path = os.path.join(root, folder, f"file{i:05d}.{'txt' if text else 'bin'}")
        data = text_bytes(rng, words, cumulative, size) if text else rng.randbytes(size)
        with open(path, "wb") as out:
            out.write(data)
        total += size
    print(f"{files} files, {total} bytes in {len(names)} folders under {root}")


def walk(root):
    """(relative folders parents first, relative files) below root, sorted, "/"-separated."""
    folders, files = [], []
    for directory, subdirs, names in os.walk(root):
        subdirs.sort()
        relative = os.path.relpath(directory, root)
        if relative != ".":
            folders.append(relative.replace(os.sep, "/"))
        for name in sorted(names):
            files.append(os.path.join(relative, name).replace(os.sep, "/").removeprefix("./"))
    return folders, sorted(files)


def windows_name(relative):
    encoded = relative.replace("/", "\\").encode("utf-16-le")
    return struct.pack("<H", len(encoded) // 2) + encoded


def pack(root, target):
    folders, files = walk(root)
    with open(target, "wb") as out:
        out.write(b"KYTPACK1" + struct.pack("<II", len(files), len(folders)))
        for folder in folders:
            out.write(windows_name(folder))
        for relative in files:
            out.write(struct.pack("<Q", os.path.getsize(os.path.join(root, relative))) + windows_name(relative))
        for relative in files:
            with open(os.path.join(root, relative), "rb") as source:
                while chunk := source.read(1 << 20):
                    out.write(chunk)


def manifest(root):
    _, files = walk(root)
    for relative in files:
        print(relative, os.path.getsize(os.path.join(root, relative)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("generate")
    make.add_argument("root")
    make.add_argument("--files", type=int, default=2000)
    make.add_argument("--megabytes", type=int, default=200)
    make.add_argument("--folders", type=int, default=40)
    make.add_argument("--seed", type=int, default=20261211)
    packing = commands.add_parser("pack")
    packing.add_argument("root")
    packing.add_argument("target")
    listing = commands.add_parser("manifest")
    listing.add_argument("root")
    arguments = parser.parse_args()
    if arguments.command == "generate":
        generate(arguments.root, arguments.files, arguments.megabytes, arguments.folders, arguments.seed)
    elif arguments.command == "pack":
        pack(arguments.root, arguments.target)
    else:
        manifest(arguments.root)


if __name__ == "__main__":
    main()
