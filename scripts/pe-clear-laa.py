#!/usr/bin/env python3
"""pe-clear-laa.py FILE... - clears IMAGE_FILE_LARGE_ADDRESS_AWARE in PE images.

GNU ld for x86_64 PE always sets the flag and has no option to clear it; without it
a 64-bit process is limited to the low 2 GiB of address space."""
import struct
import sys

LAA = 0x0020


def clear(path):
    with open(path, "r+b") as f:
        data = f.read(0x400)
        if data[:2] != b"MZ":
            sys.exit(f"{path}: not a PE image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        f.seek(pe)
        if f.read(4) != b"PE\0\0":
            sys.exit(f"{path}: no PE signature")
        off = pe + 4 + 18          # IMAGE_FILE_HEADER.Characteristics
        f.seek(off)
        (ch,) = struct.unpack("<H", f.read(2))
        if ch & LAA:
            f.seek(off)
            f.write(struct.pack("<H", ch & ~LAA))


for p in sys.argv[1:]:
    clear(p)
