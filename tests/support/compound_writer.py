#!/usr/bin/env python3
"""Writes compound files (structured storage) for the carving tests.

    compound_writer.py OUTDIR RECIPE.json

RECIPE is a JSON list of files: {"file": name, "shift": 9 or 12, "root_clsid": 32 hex digits,
"entries": [{"name": ..., "type": "stream" | "storage", "size": bytes, "seed": n}, ...]}.
A stream given "from": name instead of a size and seed holds the bytes of that file of OUTDIR
(an embedded document: a file the recipe made before, or any other).
The entries follow the root entry in the directory in the order given. Streams below the
mini-stream cutoff (4096 bytes) go into the mini stream; larger ones take regular sectors.
The FAT marks its own sectors and the DIFAT's; a file that needs more than 109 FAT sectors
gets a DIFAT chain. The file ends with the last sector in use, so its size is what the FAT
describes.

    compound_writer.py --check FILE...

Reads each file back with olefile (the independent reader) and prints one line per file:
"<size> <names>" where names are the directory entries after the root in directory order,
joined by "/", control characters written as \\xNN, followed by "ok" when every stream's
bytes read back as written (the data is a function of the seed and size).
"""
import json
import os
import random
import struct
import sys

FREE = 0xFFFFFFFF
END = 0xFFFFFFFE
FATSECT = 0xFFFFFFFD
DIFSECT = 0xFFFFFFFC
NOSTREAM = 0xFFFFFFFF
SIGNATURE = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1])
MINI_CUTOFF = 4096
MINI_SECTOR = 64


def stream_bytes(seed, size):
    return random.Random(seed).randbytes(size)


def entry_bytes(e, folder):
    if "from" in e:
        with open(os.path.join(folder, e["from"]), "rb") as f:
            return f.read()
    return stream_bytes(e.get("seed", 1), e.get("size", 0))


def resolve_sizes(recipe, folder):
    """Gives every stream that holds a file's bytes the size of that file."""
    for e in recipe["entries"]:
        if "from" in e:
            e["size"] = os.path.getsize(os.path.join(folder, e["from"]))


def ceil_div(a, b):
    return (a + b - 1) // b


def build(recipe, folder):
    shift = recipe.get("shift", 9)
    ss = 1 << shift
    per = ss // 4
    entries = recipe["entries"]

    mini = bytearray()
    minifat = []
    placements = []  # per entry: ("mini", first mini sector) / ("big", index) / None
    big = []
    for e in entries:
        size = e.get("size", 0)
        if e.get("type", "stream") != "stream" or size == 0:
            placements.append(None)
            continue
        data = entry_bytes(e, folder)
        if size < MINI_CUTOFF:
            first = len(mini) // MINI_SECTOR
            count = ceil_div(size, MINI_SECTOR)
            for i in range(count):
                minifat.append(first + i + 1 if i + 1 < count else END)
            mini += data + bytes(count * MINI_SECTOR - size)
            placements.append(("mini", first))
        else:
            placements.append(("big", len(big)))
            big.append(data)

    dir_sectors = ceil_div((1 + len(entries)) * 128, ss)
    minifat_sectors = ceil_div(len(minifat) * 4, ss)
    mini_sectors = ceil_div(len(mini), ss)
    big_sectors = [ceil_div(len(d), ss) for d in big]
    others = dir_sectors + minifat_sectors + mini_sectors + sum(big_sectors)
    nfat, ndifat = 1, 0
    while True:
        total = nfat + ndifat + others
        need_fat = ceil_div(total, per)
        need_difat = ceil_div(max(0, need_fat - 109), per - 1)
        if need_fat == nfat and need_difat == ndifat:
            break
        nfat, ndifat = need_fat, need_difat
    total = nfat + ndifat + others

    fat = [FREE] * (nfat * per)
    pos = 0

    def chain(start, count):
        for i in range(count):
            fat[start + i] = start + i + 1 if i + 1 < count else END

    fat_at = list(range(pos, pos + nfat))
    for s in fat_at:
        fat[s] = FATSECT
    pos += nfat
    difat_at = list(range(pos, pos + ndifat))
    for s in difat_at:
        fat[s] = DIFSECT
    pos += ndifat
    dir_start = pos
    chain(pos, dir_sectors)
    pos += dir_sectors
    minifat_start = pos if minifat_sectors else END
    chain(pos, minifat_sectors)
    pos += minifat_sectors
    mini_start = pos if mini_sectors else END
    chain(pos, mini_sectors)
    pos += mini_sectors
    big_start = []
    for n in big_sectors:
        big_start.append(pos)
        chain(pos, n)
        pos += n
    assert pos == total

    sectors = bytearray(total * ss)

    def put(sector, data):
        sectors[sector * ss:sector * ss + len(data)] = data

    for i, s in enumerate(fat_at):
        put(s, struct.pack("<%dI" % per, *fat[i * per:(i + 1) * per]))
    rest = fat_at[109:]
    for i, s in enumerate(difat_at):
        slots = rest[i * (per - 1):(i + 1) * (per - 1)]
        slots = slots + [FREE] * (per - 1 - len(slots))
        nxt = difat_at[i + 1] if i + 1 < len(difat_at) else END
        put(s, struct.pack("<%dI" % per, *(slots + [nxt])))

    def entry(name, kind, clsid, start, size, child, right):
        raw = name.encode("utf-16-le") + b"\0\0"
        assert len(raw) <= 64
        e = raw + bytes(64 - len(raw))
        e += struct.pack("<HBBIII", len(raw), kind, 1, NOSTREAM, right, child)
        e += clsid + struct.pack("<IQQIQ", 0, 0, 0, start, size)
        assert len(e) == 128
        return e

    root_clsid = bytes.fromhex(recipe.get("root_clsid", "00" * 16))
    d = entry("Root Entry", 5, root_clsid, mini_start, len(mini),
              1 if entries else NOSTREAM, NOSTREAM)
    for i, e in enumerate(entries):
        p = placements[i]
        kind = 2 if e.get("type", "stream") == "stream" else 1
        start, size = END, e.get("size", 0) if kind == 2 else 0
        if p and p[0] == "mini":
            start = p[1]
        elif p:
            start = big_start[p[1]]
        if kind == 1:
            start = 0
        right = i + 2 if i + 1 < len(entries) else NOSTREAM
        d += entry(e["name"], kind, bytes(16), start, size, NOSTREAM, right)
    while len(d) < dir_sectors * ss:
        d += bytes(64) + struct.pack("<HBBIII", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM) + bytes(48)
    put(dir_start, d)
    if minifat_sectors:
        mf = minifat + [FREE] * (minifat_sectors * per - len(minifat))
        put(minifat_start, struct.pack("<%dI" % len(mf), *mf))
    if mini_sectors:
        put(mini_start, bytes(mini))
    for i, data in enumerate(big):
        put(big_start[i], data)

    header = bytearray(SIGNATURE + bytes(16))
    header += struct.pack("<HHHHH", 0x3E, 3 if shift == 9 else 4, 0xFFFE, shift, 6)
    header += bytes(6)
    header += struct.pack("<IIIIIIIII", dir_sectors if shift != 9 else 0, nfat, dir_start, 0,
                          MINI_CUTOFF, minifat_start, minifat_sectors,
                          difat_at[0] if difat_at else END, ndifat)
    slots = fat_at[:109] + [FREE] * (109 - min(109, len(fat_at)))
    header += struct.pack("<109I", *slots)
    assert len(header) == 512
    header += bytes(ss - 512)
    return bytes(header) + bytes(sectors)


def escape(name):
    return "".join(c if 32 <= ord(c) < 127 else "\\x%02x" % ord(c) for c in name)


def check(path, recipes, folder):
    import olefile
    ole = olefile.OleFileIO(path)
    names = [escape(d.name) for d in ole.direntries[1:] if d is not None]
    ok = True
    recipe = recipes.get(os.path.basename(path))
    if recipe:
        for e in recipe["entries"]:
            if e.get("type", "stream") == "stream" and e.get("size", 0):
                got = ole.openstream(e["name"]).read()
                ok = ok and got == entry_bytes(e, folder)
    else:
        ok = False
    ole.close()
    return "%d %s %s" % (os.path.getsize(path), "/".join(names), "ok" if ok else "bad")


def main():
    if sys.argv[1] == "--check":
        recipe_path = sys.argv[2]
        recipes = {s["file"]: s for s in json.load(open(recipe_path))}
        for path in sys.argv[3:]:
            folder = os.path.dirname(os.path.abspath(path))
            recipe = recipes.get(os.path.basename(path))
            if recipe:
                resolve_sizes(recipe, folder)
            print(check(path, recipes, folder))
        return
    outdir, recipe_path = sys.argv[1], sys.argv[2]
    for recipe in json.load(open(recipe_path)):
        resolve_sizes(recipe, outdir)
        data = build(recipe, outdir)
        with open(os.path.join(outdir, recipe["file"]), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
