#!/usr/bin/env python3
"""qz index from the outside: build, show and verify on AVI and raw files,
the errors on broken ones, follow beside a writer in another process, and AVI
files made by ffmpeg (where it is installed) against what ffprobe reports.

usage: qz_index.py [--wine] QZ
With --wine, QZ is a win32 program run through Wine, and paths are given in
the form Wine reads (Z: is the root of the file system).
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time


def chunk(cid, data):
    return cid + struct.pack("<I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def lst(kind, body):
    return chunk(b"LIST", kind + body)


def avi(frames):
    """An uncompressed AVI with one video stream; idx1 marks even frames as key frames."""
    strh = b"vids" + b"\0" * 52
    strf = struct.pack("<IiiHHIIiiII", 40, 8, 2, 1, 24, 0, 48, 0, 0, 0, 0)
    hdrl = lst(b"hdrl", chunk(b"avih", b"\0" * 56) + lst(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi, idx, where = b"", b"", []
    for i, f in enumerate(frames):
        idx += b"00db" + struct.pack("<III", 0 if i % 2 else 0x10, len(movi) + 4, len(f))
        where.append((12 + len(hdrl) + 12 + len(movi) + 8, len(f)))
        movi += chunk(b"00db", f)
    return chunk(b"RIFF", b"AVI " + hdrl + lst(b"movi", movi) + chunk(b"idx1", idx)), where


def header(count, version=1):
    return struct.pack("<IIIIIIIIIIII", 0xCAFEBABE, 128, version, 0, count, 40, 0, 512, 0xFFFFFFFF, 0, 0, 128) + b"\0" * 80


def main():
    wine = sys.argv[1] == "--wine"
    qz = sys.argv[-1]
    failures = []
    with tempfile.TemporaryDirectory() as d:
        def path(name):
            p = os.path.join(d, name)
            return "Z:" + p.replace("/", "\\") if wine else p

        def cmd(*args):
            return (["wine", qz] if wine else [qz]) + list(args)

        env = dict(os.environ, WINEDEBUG="-all")

        def run(*args):
            r = subprocess.run(cmd(*args), capture_output=True, env=env, timeout=300)
            return r.returncode, r.stdout.decode("utf-8").replace("\r\n", "\n"), r.stderr.decode("utf-8")

        def expect(what, got, want):
            if got != want:
                failures.append("%s: got %r, want %r" % (what, got, want))

        def entries(out):
            rows = []
            for line in out.splitlines():
                parts = line.split()
                if len(parts) >= 3 and all(p.isdigit() for p in parts[:3]):
                    rows.append(tuple(int(p) for p in parts[:3]) + tuple(parts[3:]))
            return rows

        # An AVI: one entry per frame, offsets and sizes of the chunk data, key flags from idx1.
        frames = [bytes([i]) * (48 + i) for i in range(5)]
        data, where = avi(frames)
        open(os.path.join(d, "a.avi"), "wb").write(data)
        code, out, err = run("index", "build", path("a.avi"))
        expect("build a.avi", (code, out.startswith("indexed ") and "5 entries" in out), (0, True))
        code, out, err = run("index", "show", path("a.avi.idx"))
        expect("show status", code, 0)
        expect("show entries", entries(out),
               [(i, o, n, "00db", "yes" if i % 2 == 0 else "no") for i, (o, n) in enumerate(where)])
        expect("show format", "8 x 2, 24 bits" in out, True)
        code, out, err = run("index", "show", path("a.avi.idx"), "--entries", "3:9")
        expect("show range", [r[0] for r in entries(out)], [3, 4])
        code, out, err = run("index", "verify", path("a.avi.idx"), path("a.avi"))
        expect("verify", (code, "matches" in out), (0, True))

        # The media changed after indexing: verify names the first entry that no longer fits.
        spoiled = bytearray(data)
        spoiled[where[2][0] - 8:where[2][0] - 4] = b"01wb"
        open(os.path.join(d, "b.avi"), "wb").write(bytes(spoiled))
        code, out, err = run("index", "verify", path("a.avi.idx"), path("b.avi"))
        expect("verify spoiled", (code, "entry 2:" in err), (1, True))

        # Broken files: a clear error, no index written.
        open(os.path.join(d, "cut.avi"), "wb").write(data[:len(data) - 30])
        code, out, err = run("index", "build", path("cut.avi"))
        expect("build truncated", (code, "truncated" in err), (1, True))
        expect("no index of a truncated file", os.path.exists(os.path.join(d, "cut.avi.idx")), False)
        code, out, err = run("index", "show", path("missing.idx"))
        expect("show missing", (code, "no such file" in err), (1, True))
        open(os.path.join(d, "junk.idx"), "wb").write(header(1000) + b"\0" * 100)
        code, out, err = run("index", "show", path("junk.idx"))
        expect("show junk", (code, "its header is not an index header" in err), (1, True))

        # Raw frames, into a named index.
        open(os.path.join(d, "r.raw"), "wb").write(b"x" * 1000)
        code, out, err = run("index", "build", path("r.raw"), "--raw", "300", "-o", path("r.idx"))
        expect("build raw", (code, "3 entries" in out), (0, True))
        code, out, err = run("index", "show", path("r.idx"))
        expect("show raw", entries(out), [(0, 0, 300), (1, 300, 300), (2, 600, 300)])

        # follow: a writer appends frames and records while qz follows the index.
        count = 40
        idx, media = os.path.join(d, "grow.idx"), os.path.join(d, "grow.raw")
        open(idx, "wb").write(header(0))
        open(media, "wb").close()
        follower = subprocess.Popen(cmd("index", "follow", path("grow.idx"), path("grow.raw"), "--count", str(count)),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        with open(idx, "r+b") as fi, open(media, "ab") as fm:
            for i in range(count):
                fm.write(bytes([i]) * 16)
                fm.flush()
                fi.seek(512 + 40 * i)
                fi.write(struct.pack("<QI", 16 * i, 16) + struct.pack("<I", i) + b"\0" * 24)
                fi.flush()
                fi.seek(0)
                fi.write(header(i + 1))
                fi.flush()
                if i % 8 == 0:
                    time.sleep(0.05)
        try:
            out, err = follower.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            follower.kill()
            out, err = follower.communicate()
        out = out.decode("utf-8").replace("\r\n", "\n")
        expect("follow status", follower.returncode, 0)
        expect("follow entries", entries(out), [(i, 16 * i, 16) for i in range(count)])

        # AVI files made by another tool: the entries are ffprobe's video packets.
        if shutil.which("ffmpeg") and shutil.which("ffprobe") and not wine:
            for codec in ("mjpeg", "rawvideo"):
                name = os.path.join(d, "ff-%s.avi" % codec)
                subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25",
                                "-frames:v", "12", "-c:v", codec, "-pix_fmt", "yuvj420p" if codec == "mjpeg" else "bgr24", "-y", name], check=True)
                probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                                        "packet=pos,size,flags", "-of", "default=noprint_wrappers=1", name],
                                       check=True, capture_output=True, text=True).stdout
                packets, cur = [], {}
                for line in probe.splitlines():
                    k, v = line.split("=", 1)
                    cur[k] = v
                    if len(cur) == 3:
                        packets.append((int(cur["pos"]), int(cur["size"]), "yes" if "K" in cur["flags"] else "no"))
                        cur = {}
                code, out, err = run("index", "build", name)
                expect("build ffmpeg %s" % codec, code, 0)
                code, out, err = run("index", "show", name + ".idx")
                expect("ffmpeg %s entries" % codec, [(r[1], r[2], r[4]) for r in entries(out)], packets)
                code, out, err = run("index", "verify", name + ".idx", name)
                expect("verify ffmpeg %s" % codec, code, 0)
        else:
            print("ffmpeg checks skipped: ffmpeg is not installed%s" % (" (or runs natively only)" if wine else ""))

    for f in failures:
        print("FAIL", f)
    print("qz index: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
