#!/usr/bin/env python3
"""qz frame encode, decode and info end to end.

A PNG picture goes through every codec and back (qz frame encode, then qz
frame decode to BMP) and comes back within the quantisation of BT.601
studio-range YUV: a 4:4:4 codec within 3 per channel, the 4:2:2 codecs within
4 on this smooth picture (their chroma is shared by pixel pairs, and the UYVY
codec filters it), every one at 40 dB or more. Also: qz frame info of each
stored frame, the 4:4:4 YUV samples (--yuv: a grey picture has Cb and Cr 128),
the half-size preview of the packed codec, a UYVY frame written with --raw as
bare uyvy422 bytes and read back with the header given on the command line,
and the refusals (a frame cut short, a picture size a codec does not take, a
file that is no frame).

With --uyvy-check PROGRAM the bare UYVY frame and qz's decode of it are also
handed to PROGRAM (a reader of plain uyvy422 frames built on another library),
which must agree.

usage: frame_roundtrip.py QZ [--emulator WINE] [--uyvy-check PROGRAM]
"""
import argparse
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

W, H = 720, 576
CODECS = ["planar", "meshed", "packed", "packed-extd", "uyvy", "packed-709"]
BOUND = {"meshed": 3}  # largest difference per channel; 4 for the rest
LEAST_PSNR = 40.0


def write_png(path, w, h, pixel):
    """An 8-bit RGB PNG of unfiltered rows (the test's own fixture maker)."""
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            raw.extend(pixel(x, y))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + chunk(b"IEND", b""))


def smooth(x, y):
    return (40 + x * 170 // (W - 1), 30 + y * 190 // (H - 1), 200 - (x + y) * 150 // (W + H - 2))


def read_bmp(path):
    """(width, height, top-down rows of (r, g, b) tuples) of a 24- or 32-bit BMP."""
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise ValueError("%s is no BMP" % path)
    offset, = struct.unpack_from("<I", data, 10)
    w, h = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    bpp = bits // 8
    stride = (w * bpp + 3) // 4 * 4
    rows = []
    for y in range(abs(h)):
        r = y if h < 0 else abs(h) - 1 - y
        base = offset + r * stride
        rows.append([(data[base + x * bpp + 2], data[base + x * bpp + 1], data[base + x * bpp]) for x in range(w)])
    return w, abs(h), rows


def difference(rows, pixel):
    worst, total, n = 0, 0, 0
    for y, row in enumerate(rows):
        for x, got in enumerate(row):
            for a, b in zip(got, pixel(x, y)):
                d = abs(a - b)
                worst = max(worst, d)
                total += d * d
                n += 1
    psnr = float("inf") if total == 0 else 10 * math.log10(255.0 * 255.0 * n / total)
    return worst, psnr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("qz")
    ap.add_argument("--emulator", default=None)
    ap.add_argument("--uyvy-check", default=None)
    a = ap.parse_args()
    qz = ([a.emulator] if a.emulator else []) + [a.qz]
    problems = []

    def run(*args):
        return subprocess.run(qz + ["frame"] + list(args), capture_output=True, text=True, timeout=600)

    def expect(what, result, status=0, says=None, stream="stdout"):
        text = getattr(result, stream)
        if result.returncode != status or (says and says not in text):
            problems.append("%s: status %d (wanted %d)%s\n%s%s" % (
                what, result.returncode, status, ", wanted %r" % says if says else "", result.stdout, result.stderr))
            return False
        return True

    with tempfile.TemporaryDirectory() as tmp:
        picture = os.path.join(tmp, "in.png")
        write_png(picture, W, H, smooth)
        grey = os.path.join(tmp, "grey.png")
        write_png(grey, W, H, lambda x, y: (x * 255 // (W - 1),) * 3)

        for codec in CODECS:
            frame = os.path.join(tmp, codec + ".frame")
            back = os.path.join(tmp, codec + ".bmp")
            if not expect("encode " + codec, run("encode", codec, picture, frame), says="wrote"):
                continue
            expect("info " + codec, run("info", frame), says="taken by")
            if not expect("decode " + codec, run("decode", frame, back), says="wrote"):
                continue
            w, h, rows = read_bmp(back)
            if (w, h) != (W, H):
                problems.append("%s: decoded to %d x %d" % (codec, w, h))
                continue
            worst, psnr = difference(rows, smooth)
            bound = BOUND.get(codec, 4)
            print("%-12s largest difference %d (bound %d), PSNR %.2f dB" % (codec, worst, bound, psnr))
            if worst > bound or psnr < LEAST_PSNR:
                problems.append("%s: round trip off by up to %d, %.2f dB" % (codec, worst, psnr))

        # The 4:4:4 samples of a grey picture: Cb and Cr 128 everywhere.
        for codec in ("packed", "planar", "uyvy"):
            frame = os.path.join(tmp, "grey." + codec)
            samples = os.path.join(tmp, "grey-" + codec + ".bmp")
            if expect("encode grey " + codec, run("encode", codec, grey, frame)) and \
               expect("decode --yuv " + codec, run("decode", frame, samples, "--yuv"), says="Y, Cb, Cr"):
                _, _, rows = read_bmp(samples)
                chroma = {(p[1], p[2]) for row in rows for p in row}
                luma = [p[0] for p in rows[0]]
                if chroma != {(128, 128)} or not (16 <= min(luma) <= 17 and 234 <= max(luma) <= 235):
                    problems.append("%s --yuv: chroma %s, luma %d..%d" % (codec, sorted(chroma)[:4], min(luma), max(luma)))
        expect("decode --yuv meshed", run("decode", os.path.join(tmp, "meshed.frame"), os.path.join(tmp, "m.bmp"),
                                          "--yuv"), status=1, says="no 4:4:4 YUV output", stream="stderr")

        # The packed codec's preview: half the size, from the first field.
        preview = os.path.join(tmp, "preview.bmp")
        if expect("decode --half", run("decode", os.path.join(tmp, "packed.frame"), preview, "--half")):
            w, h, rows = read_bmp(preview)
            if (w, h) != (W // 2, H // 2):
                problems.append("--half: %d x %d" % (w, h))

        # Bare UYVY bytes: a plain uyvy422 frame, read back with the header given.
        raw = os.path.join(tmp, "in.uyvy422")
        rawBack = os.path.join(tmp, "raw.bmp")
        if expect("encode --raw", run("encode", "uyvy", picture, raw, "--raw"), says="uyvy422"):
            if os.path.getsize(raw) != W * H * 2:
                problems.append("--raw: %d bytes, not %d" % (os.path.getsize(raw), W * H * 2))
            expect("info --raw", run("info", raw, "--raw", "uyvy", str(W), str(H)), says="UYVY 4:2:2")
            if expect("decode --raw", run("decode", raw, rawBack, "--raw", "uyvy", str(W), str(H))):
                stored = os.path.join(tmp, "uyvy.bmp")
                if os.path.exists(stored) and open(stored, "rb").read() != open(rawBack, "rb").read():
                    problems.append("--raw: the bare frame decodes unlike the stored one")
                if a.uyvy_check:
                    r = subprocess.run([a.uyvy_check, raw, str(W), str(H), rawBack], capture_output=True, text=True,
                                       timeout=300)
                    print(r.stdout, end="")
                    if r.returncode != 0:
                        problems.append("another reader of uyvy422 disagrees:\n%s%s" % (r.stdout, r.stderr))

        # Refusals: each says why on stderr and ends with status 1.
        cut = os.path.join(tmp, "cut.frame")
        whole = os.path.join(tmp, "uyvy.frame")
        if os.path.exists(whole):
            open(cut, "wb").write(open(whole, "rb").read()[:-1])
            expect("a frame cut short", run("decode", cut, os.path.join(tmp, "x.bmp")), 1, "cut short", "stderr")
            expect("info of a frame cut short", run("info", cut), 1, "cut short", "stderr")
        small = os.path.join(tmp, "small.png")
        write_png(small, 64, 48, smooth)
        expect("a size uyvy refuses", run("encode", "uyvy", small, os.path.join(tmp, "s.frame")), 1,
               "does not take a 64 x 48 picture", "stderr")
        expect("no frame", run("info", picture), 1, "not a stored frame", "stderr")
        text = os.path.join(tmp, "notes.txt")
        open(text, "w").write("no picture here\n" * 20)
        expect("no picture", run("encode", "meshed", text, os.path.join(tmp, "y")), 1, "not a PNG or BMP picture",
               "stderr")
        expect("an unknown codec", run("encode", "nosuch", picture, os.path.join(tmp, "z")), 1, "no codec", "stderr")

    for p in problems:
        print("FAILED:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
