#!/usr/bin/env python3
"""Independent reader for block images, used by the tests to check what the engine writes.

image_decode.py image <main.edi> <out.bin> [<main.edi> <out.bin> ...]
    Decodes every block with Python's own zlib/bz2/lzma modules and writes the imaged bytes.
    Prints "blocks=<n> coded=<n> raw=<n>". A block counts as coded only when its stream ends
    exactly at the end of the stored bytes.
streams <list>
    Each line of <list> is "<type>\t<stored>\t<expected>" (tab-separated, as paths may hold
    blanks): decodes the stored block stream
    (type 1 bzip2, 2 zlib, 3 lzma) strictly and compares it with the expected bytes.
"""
import bz2
import lzma
import os
import struct
import sys
import zlib


def decode(ctype, data):
    if ctype == 1:
        d = bz2.BZ2Decompressor()
    elif ctype == 2:
        d = zlib.decompressobj()
    elif ctype == 3:
        # 5-byte properties, then the raw stream with its end marker: the classic .lzma
        # layout once an "unknown size" field is put after the properties.
        data = data[:5] + b"\xff" * 8 + data[5:]
        d = lzma.LZMADecompressor(format=lzma.FORMAT_ALONE)
    else:
        raise ValueError("no codec")
    out = d.decompress(data)
    if not d.eof or d.unused_data:
        raise ValueError("stream does not end at the end of the block")
    return out


def image(main, out_path):
    with open(main, "rb") as f:
        main_bytes = f.read()
    hdr = main_bytes[:512]
    ctype, heads, slices, total = struct.unpack_from("<IIII", hdr, 260)
    per_slice = struct.unpack_from("<%dI" % slices, hdr, 276)
    base = main[: main.rfind(".") + 1] if "." in os.path.basename(main) else main + "."
    with open(base + "edp", "rb") as f:
        lines = f.read().split(b"\r\n")
    coded = raw = 0
    out = bytearray()
    block = 0
    for s in range(slices):
        with open(lines[s].decode(), "rb") as f:
            slice_bytes = f.read()
        start = 0
        for _ in range(per_slice[s]):
            end = struct.unpack_from("<I", main_bytes, 512 + 4 * block)[0]
            stored = slice_bytes[512 + start: 512 + end]
            try:
                data = decode(ctype, stored)
                coded += 1
            except Exception:
                if len(stored) % 512:
                    raise
                data = stored
                raw += 1
            out += data
            start = end
            block += 1
    assert block == total, (block, total)
    with open(out_path, "wb") as f:
        f.write(out)
    print("blocks=%d coded=%d raw=%d" % (block, coded, raw))


def streams(list_path):
    with open(list_path) as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for ctype, stored_path, want_path in rows:
        with open(stored_path, "rb") as f:
            data = decode(int(ctype), f.read())
        with open(want_path, "rb") as f:
            if data != f.read():
                raise SystemExit("mismatch: " + stored_path)
    print("streams=%d" % len(rows))


if __name__ == "__main__":
    if sys.argv[1] == "image":
        for i in range(2, len(sys.argv) - 1, 2):
            image(sys.argv[i], sys.argv[i + 1])
    else:
        streams(sys.argv[2])
