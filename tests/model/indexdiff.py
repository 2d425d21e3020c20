#!/usr/bin/env python3
"""Differential check of the native Omrick library against indexmodel.

    indexdiff.py HOST [--count N] [--seed S] [--keep-going] [--only NAME] [--print NAME]

HOST is indexhost, the scenario host built against the library. The check runs
hand-picked scenarios (one or more for every rule and failure path) and N
generated ones (reproducible from the seed) through the host and through the
model, and compares the traces line by line: every IFileIO call with its
arguments and result, every helper, entry and parent call, every message with
its user and level, every result, the reference counts and the files' bytes.
Scenarios of a writer and a follower (follow-*) are also held to what a
follower must see whatever the model says: every entry the writer added, in
order, once all its media is there. On a difference it prints the scenario and both traces around the first
differing line and exits 1 (after the first, or after all with --keep-going).
Exit 2: the host cannot be run.
"""

import argparse
import os
import random
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import indexmodel as model  # noqa: E402
from indexmodel import M32, M64  # noqa: E402

BATCH = 250          # scenarios per run of the host
TIMEOUT = 120        # seconds per run of the host


# ---- index file images --------------------------------------------------------

def record(offset, length, custom=b"", pad=b""):
    r = bytearray(40)
    r[0:8] = (offset & M64).to_bytes(8, "little")
    r[8:12] = (length & M32).to_bytes(4, "little")
    r[12:12 + len(custom)] = custom[:24]
    r[36:36 + len(pad)] = pad[:4]
    return bytes(r)


def image(records=(), count=None, recsize=40, entoff=512, version=1, stype=M32, sid=0, desc=b"",
          dsize=None, hsize=128, magic=0xCAFEBABE, doff=None, res48=0, fill=0, length=None):
    """The bytes of an index file; every header field can be given."""
    h = bytearray(128)
    fields = {0: magic, 4: hsize, 8: version, 16: len(records) if count is None else count, 20: recsize,
              28: entoff, 32: stype, 36: sid, 40: len(desc) if dsize is None else dsize,
              44: hsize if doff is None else doff, 48: res48}
    for off, v in fields.items():
        model.put32(h, off, v)
    out = bytearray(h) + bytearray(desc)
    # Records of an implausible header are laid out as far as a small file allows.
    if records and entoff < 1 << 16:
        out.extend(bytes([fill]) * max(0, entoff - len(out)))
        stride = recsize if 40 <= recsize <= 1 << 13 else 40
        for r in records:
            out.extend(r.ljust(stride, b"\xee")[:stride])
    if length is not None:
        out = out[:length] if length <= len(out) else out + bytes(length - len(out))
    return bytes(out)


def hexof(data):
    return data.hex() if data else "="


def file_line(name, data):
    return "file %s %s" % (name, hexof(data))


# ---- hand-picked scenarios -----------------------------------------------------

def recs(n, base=0):
    return [record(base + 1000 * i, 100 + i, bytes([i + 1]) * 24, bytes([0xA0 + i]) * 4) for i in range(n)]


def writer(n=3, desc=None, version=1, extra=()):
    """Lines that make index w over io iw with n host entries e0.."""
    lines = ["io iw s:idx", "index w s:idx iw %d" % version]
    for i in range(n):
        lines.append("entry e%d %d %d %s" % (i, 1000 * i, 100 + i, (bytes([i + 1]) * 24).hex()))
        lines.append("call w AddEntry e%d" % i)
    if desc is not None:
        lines.append("call w SetDescription %s" % hexof(desc))
    lines.extend(extra)
    return lines


def reader(name="r", io="ir", fname="s:idx", extra=()):
    return ["io %s %s" % (io, fname), "index %s %s %s 1" % (name, fname, io)] + list(extra)


def handpicked():
    S = []

    def add(name, lines):
        S.append((name, list(lines)))

    # -- entries
    add("entry-refs", ["static s 1 2 =", "basic b null", "plainentry p", "call s References", "addref s",
                       "call s References", "release s", "release s", "addref p", "release p", "release b"])
    for cap in (0, 39, 40, 41, 64, 0xFFFFFFFF):
        add("entry-getrep-%d" % cap, ["static s 0x1122334455667788 0xFFFFFFFF " + "ab" * 24,
                                      "call s GetFileRepresentation %d" % cap, "call s Length", "call s Offset"])
    for size in (0, 39, 40, 41):
        add("entry-setrep-%d" % size, ["static s 5 6 =", "call s SetFileRepresentation %d %s" % (size, "5a" * 40),
                                       "call s GetFileRepresentation 40", "call s Custom"])
    add("entry-static-setters", ["static s 0 0 =", "call s SetOffset2 0x10 0x2", "call s Offset",
                                 "call s SetOffset 0xFFFFFFFFFFFFFFFF", "call s Offset", "call s SetLength 0xFFFFFFFF",
                                 "call s Length", "call s Reference", "call s Custom"])
    add("entry-null-record", ["basic b null", "call b GetFileRepresentation 64", "call b SetFileRepresentation 40 00",
                              "call b Reference", "call b Offset", "call b Length", "call b Custom", "call b SetEntry " + "77" * 40,
                              "call b GetFileRepresentation 40", "call b SetEntry null",
                              "call b GetFileRepresentation 40"])
    add("entry-plain", ["plainentry p", "call p Offset", "call p Length", "call p Reference", "call p Custom",
                        "call p GetFileRepresentation 64", "call p SetFileRepresentation 40 00"])

    # -- helper defaults
    add("helper-defaults", ["helper h", "call h ClassName", "call h GetUser", "call h GetLevel 7",
                            "call h FillBMI 144", "call h FillBMI 0", "call h References"])
    add("helper-base-answers", ["io i", "index x s:idx i 1", "helper h", "entry e 0 1 =", "hentries h e",
                                "hanswer h StartIndexing base", "hanswer h StopIndexing base",
                                "hanswer h GetEntry base", "call x BuildIndex h - -",
                                "call x AddEntry e", "hanswer h StartValidation base",
                                "call x ValidateIndex h 0 - -", "hanswer h StartValidation 1",
                                "hanswer h ValidateEntry base", "hanswer h StopValidation base",
                                "call x ValidateIndex h 0 - -"])

    # -- CMFIndex defaults and sub-indexes
    plain_calls = ["ClassName", "Version", "Name", "Extension", "GetIO", "GetStreamID", "GetStreamType",
                   "Description", "NumberOfEntries", "GetEntry 0", "GetEntryTC 0", "AddEntryTC e",
                   "GetMetaData 1 0", "GetMetaDataTC 1 0", "GetUser", "GetLevel 9", "References",
                   "ReadIndex", "WriteIndex", "ValidateIndex", "AddEntry e", "BuildIndex2", "InitIndex4"]
    add("plain-defaults", ["io i", "entry e 0 0 =", "plain x s:nm i 9"] + ["call x " + c for c in plain_calls] +
        ["call x SetIO i", "refs", "call x SetIO -", "refs", "call x GetIO", "call x SetName -", "call x Name",
         "call x SetName s:", "call x Name", "call x SetName s:\u00e9t\u00e9", "call x Name"])
    add("basic-defaults", ["io i", "entry e 0 0 =", "index x s:nm i 9"] +
        ["call x " + c for c in plain_calls if c not in ("ReadIndex", "WriteIndex", "ValidateIndex", "AddEntry e",
                                                         "NumberOfEntries", "GetEntry 0")] +
        ["call x NumberOfStreams", "call x IsSet 1", "call x IsSet 0", "call x GetDataIO", "call x NumberOfEntries"])
    add("sub-bounds", ["io pio", "entry e10 10 1 =", "entry e14 14 1 =", "meta m", "pindex p s:par 3 pio 5 6",
                       "pentries p " + " ".join(["-"] * 10 + ["e10", "-", "-", "-", "e14"]), "pmeta p m",
                       "sub s p 10 5"] +
        ["call s " + c for c in ("NumberOfEntries", "GetEntry 0", "GetEntry 4", "GetEntry 5",
                                 "GetEntry 0xFFFFFFFFFFFFFFFF", "GetMetaData 2 0", "GetMetaData 2 5",
                                 "GetMetaDataTC 2 3", "GetMetaDataTC 2 -1", "GetMetaDataTC 2 4",
                                 "GetMetaDataTC 2 5", "ClassName", "Name", "Version", "GetIO", "GetStreamID",
                                 "GetStreamType", "Extension", "Description", "GetUser", "GetLevel 3",
                                 "References", "GetEntryTC 1", "ReadIndex")] + ["refs", "release s", "refs"])
    add("sub-wrap", ["pindex p s:par 3 - 0 0", "sub s p 0xFFFFFFFFFFFFFFFE 5", "call s GetEntry 1",
                     "call s GetEntry 2", "call s GetEntry 4", "call s GetMetaData 0 3"])
    add("sub-of-basic", writer(3) + ["sub s w 1 5", "call s GetEntry 0", "call s GetEntry 1", "call s GetEntry 2",
                                     "call s Name", "call s GetIO", "call s GetStreamType", "call s Version",
                                     "call s GetMetaDataTC 0 1", "refs", "release w", "call s GetEntry 0",
                                     "release s", "refs"])
    add("sub-of-sub", ["pindex p s:par 3 - 0 0", "sub s p 100 50", "sub t s 7 3", "call t GetEntry 2",
                       "call t GetEntry 3", "call t Name", "call t GetMetaDataTC 9 2", "refs"])

    # -- writing
    add("write-empty", ["io i", "index x s:idx i 7", "call x WriteIndex", "call x WriteIndex -"])
    for size in (0, 1, 384, 385, 896, 897):
        add("write-desc-%d" % size, writer(2, (bytes(range(256)) * 4)[:size]) +
            ["call w WriteIndex", "call w Description"])
    add("write-no-io", ["index x s:idx - 1", "call x WriteIndex", "call x ReadIndex", "call x WriteIndexHeader",
                        "call x ReadIndexHeader", "call x UpdateIndexHeader", "call x ReadIndexEntries 0 1",
                        "call x WriteIndexEntries 0 1", "entry e 0 1 =", "call x AddEntry e",
                        "call x WriteIndexEntries 0 1", "call x UpdateIndex", "call x GetDataIO",
                        "call x SetFlag 1 1", "call x GetEntry 5"])
    add("write-null-name", ["io i", "index x - i 1", "call x WriteIndex", "call x ReadIndex"])
    for op in ("open", "seek", "write"):
        for n in (1, 2, 3, 4, 5):
            for partial in ((0, 7) if op == "write" else (0,)):
                add("write-fail-%s-%d-%d" % (op, n, partial),
                    writer(3, b"desc") + ["iofail iw %s %d %d" % (op, n, partial), "call w WriteIndex", "refs"])
    add("write-rep-short", ["io i", "index x s:idx i 1", "entry a 1 2 " + "11" * 24 + " 12",
                            "entry b 3 4 " + "22" * 24, "call x AddEntry a", "call x AddEntry b", "call x WriteIndex"])
    add("write-rep-fail", ["io i", "index x s:idx i 1", "entry a 1 2 = fail", "entry b 3 4 =", "call x AddEntry b",
                           "call x AddEntry a", "call x WriteIndex", "refs"])
    add("write-after-clear", writer(3) + ["call w Clear", "call w NumberOfEntries", "call w WriteIndex",
                                          "call w WriteIndexEntries 0 0", "refs"])
    add("write-entries-ranges", writer(4) + ["ioopen iw 6"] +
        ["call w WriteIndexEntries %s" % r for r in
         ("0 4", "1 3", "3 2", "2 2", "0 5", "4 4", "4 5", "5 6", "0xFFFFFFFFFFFFFFFF 0", "1 0xFFFFFFFFFFFFFFFF")])
    add("write-header-closed", writer(1) + ["call w WriteIndexHeader", "call w UpdateIndexHeader",
                                            "call w WriteIndexEntries 0 1"])
    add("write-static-entries", ["io i", "index x s:idx i 1", "static s 0x123456789A 77 " + "cd" * 24,
                                 "call x AddEntry s", "call x AddEntry s", "call x WriteIndex", "refs"])

    # -- reading
    rs = recs(4)
    add("read-roundtrip", writer(3, b"hello") + ["call w WriteIndex"] + reader() +
        ["call r ReadIndex", "call r NumberOfEntries", "call r Description", "call r GetEntry 0", "keep k0",
         "call r GetEntry 2", "call r GetEntry 3", "refs", "release r", "refs", "call k0 Offset"])
    add("read-appends", [file_line("idx", image(rs))] + reader() +
        ["entry z 9 9 =", "call r AddEntry z", "call r ReadIndex", "call r NumberOfEntries", "call r GetEntry 0",
         "call r GetEntry 1", "call r GetEntry 4", "call r ReadIndex", "call r NumberOfEntries", "call r WriteIndex"])
    add("read-foreign-values", [file_line("idx", image(rs[:2], recsize=48, entoff=1024, stype=7, sid=3, version=9,
                                                       hsize=200, desc=b"xyz", magic=0x12345678))] + reader() +
        ["call r GetStreamType", "call r GetStreamID", "call r ReadIndex", "call r GetStreamType",
         "call r GetStreamID", "call r Version", "call r NumberOfEntries", "call r Description", "call r GetEntry 1",
         "call r WriteIndex"])
    add("read-missing-file", reader() + ["call r ReadIndex"])
    add("read-no-desc-keeps", [file_line("idx", image(rs[:1]))] + reader() +
        ["call r SetDescription 0a0b", "call r ReadIndex", "call r Description"])
    add("read-count-zero", [file_line("idx", image(rs[:2], count=0))] + reader() +
        ["call r ReadIndex", "call r NumberOfEntries"])
    add("read-count-short", [file_line("idx", image(rs[:2], count=3))] + reader() +
        ["call r ReadIndex", "call r NumberOfEntries", "call r GetEntry 1"])
    good = image(rs[:3], desc=b"descr")
    for op in ("open", "seek", "read"):
        for n in (1, 2, 3, 4, 5, 6):
            for partial in ((0, 5) if op == "read" else (0,)):
                add("read-fail-%s-%d-%d" % (op, n, partial),
                    [file_line("idx", good)] + reader() +
                    ["iofail ir %s %d %d" % (op, n, partial), "call r ReadIndex", "call r NumberOfEntries",
                     "call r Description", "call r GetEntry 0", "refs"])
    add("read-entries-ranges", [file_line("idx", image(rs))] + reader() + ["ioopen ir 5"] +
        ["call r ReadIndexEntries %s" % r for r in ("5 5", "6 5", "1 3", "0 1", "3 5", "0x100000000 0x100000001",
                                                    "0xFFFFFFFFFFFFFFFF 0")] +
        ["call r NumberOfEntries", "call r GetEntry 2"])
    # 64-bit record positions: the last byte offset there is, and one record beyond.
    last_first = (M64 - 512) // 40
    for first, last in ((0, M64), (2, M64), (1 << 58, (1 << 58) + 1), (1 << 59, (1 << 59) + 1),
                        (last_first, last_first + 1), (last_first + 1, last_first + 2), (last_first, M64)):
        add("read-entries-64-%x-%x" % (first, last), [file_line("idx", image(rs))] + reader() +
            ["ioopen ir 5", "call r ReadIndexEntries %d %d" % (first, last), "call r NumberOfEntries"])
    add("read-header-alone", [file_line("idx", image(rs, desc=b"12345"))] + reader() +
        ["call r ReadIndexHeader", "ioopen ir 5", "call r ReadIndexHeader", "call r NumberOfEntries",
         "call r Description", "call r GetEntry 0"])

    # -- headers that are not trusted
    bad = {
        "recsize-0": dict(recsize=0), "recsize-39": dict(recsize=39), "recsize-41": dict(recsize=41),
        "recsize-4096": dict(recsize=4096), "recsize-huge": dict(recsize=0x7FFFFFFF),
        "recsize-max": dict(recsize=M32), "entoff-0": dict(entoff=0), "entoff-127": dict(entoff=127),
        "entoff-128": dict(entoff=128), "entoff-huge": dict(entoff=0xFFFFFF00),
        "dsize-beyond": dict(dsize=100000), "dsize-max": dict(dsize=M32), "dsize-one-over": dict(dsize=4 * 40 + 385),
        "count-beyond": dict(count=5), "count-huge": dict(count=M32), "hsize-0": dict(hsize=0),
        "hsize-huge": dict(hsize=0xFFFFFF00), "magic-bad": dict(magic=0),
    }
    for tag, kw in bad.items():
        data = image(rs, **kw)
        add("header-" + tag, [file_line("idx", data)] + reader() +
            ["call r ReadIndex", "call r NumberOfEntries", "call r GetStreamType", "call r Description",
             "call r WriteIndexHeader", "ioopen ir 5", "call r ReadIndexHeader", "refs"])
    add("header-short-file", [file_line("idx", image(rs)[:100])] + reader() + ["call r ReadIndex"])
    add("header-entoff-inside-desc", [file_line("idx", image(rs[:1], desc=b"q" * 300, entoff=256,
                                                            length=1024))] + reader() + ["call r ReadIndex"])

    # -- header offset rule after a read
    add("header-offset-rule", [file_line("idx", image(rs[:1], hsize=200, entoff=512))] + reader() +
        ["call r ReadIndex", "call r SetDescription " + "aa" * 312, "call r WriteIndex",
         "call r SetDescription " + "aa" * 313, "call r WriteIndex", "call r SetDescription =", "call r WriteIndex"])
    # An entries offset beyond 32 bits cannot be written.
    for hs in (0xFFFFFE00, 0xFFFFFE01, 0xFFFFFF00):
        for size in (0, 1, 300):
            add("header-offset-overflow-%x-%d" % (hs, size), [file_line("idx", image(rs[:2], hsize=hs))] + reader() +
                ["call r ReadIndex", "call r SetDescription " + hexof(b"\xab" * size), "ioopen ir 5",
                 "call r WriteIndexHeader", "call r UpdateIndexHeader", "call r WriteIndex"])
    add("description-own-and-null", ["io i s:idx", "index x s:nm i 1", "call x SetDescriptionOwn",
                                     "call x SetDescription 0102", "call x SetDescriptionOwn", "call x Description",
                                     "call x SetDescriptionNull 5", "call x Description", "call x SetDescription 03",
                                     "call x SetDescriptionNull 0", "call x Description", "call x SetNameOwn",
                                     "call x Name", "call x SetName -", "call x SetNameOwn", "call x Name"])
    add("header-offset-never-lowered", writer(1, b"x" * 1000) + ["call w WriteIndex", "call w SetDescription =",
                                                                 "call w WriteIndex"])

    # -- AutoUpdate, GetEntry and UpdateIndex
    add("auto-getentry-beyond", writer(2) + ["call w WriteIndex", "call w SetFlag 1 1", "call w GetEntry 2",
                                             "ioopen iw 5", "call w GetEntry 2", "call w GetEntry 0xFFFFFFFFFFFFFFFF",
                                             "call w GetEntry 0x8000000000000000"])
    add("auto-reader-follows", [file_line("idx", image(rs[:2]))] + reader() +
        ["call r SetFlag 1 1", "ioopen ir 5", "call r GetEntry 0", "call r GetEntry 1", "call r GetEntry 2",
         "call r NumberOfEntries", file_line("idx", image(rs)), "call r GetEntry 3", "call r GetEntry 2",
         "call r NumberOfEntries", "call r GetEntry 4"])
    for n in range(1, 6):
        add("auto-reader-fail-read-%d" % n, [file_line("idx", image(rs, desc=b"dd"))] + reader() +
            ["call r SetFlag 1 1", "ioopen ir 5", "iofail ir read %d 3" % n, "call r GetEntry 1",
             "call r NumberOfEntries", "call r GetEntry 1", "call r GetEntry 3"])
    add("auto-add-no-data", ["io iw", "index w s:idx iw 1", "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1",
                             "entry a 0 10 =", "entry b 10 10 =", "call w AddEntry a", "call w AddEntry b",
                             "call w UpdateIndex", "refs"])
    add("auto-add-with-media", ["io d s:media", "iosize d 15", "io iw", "iodata iw d", "index w s:idx iw 1",
                                "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1",
                                "entry a 0 10 =", "entry b 10 10 =", "entry c 20 10 =",
                                "call w AddEntry a", "call w AddEntry b", "call w AddEntry c", "iosize d 30",
                                "call w UpdateIndex", "call w UpdateIndex", "refs"])
    add("auto-add-media-boundary", ["io d s:media", "iosize d 20", "io iw", "index w s:idx iw 1",
                                    "call w SetDataIO d", "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1",
                                    "entry a 0 20 =", "entry b 20 0 =", "entry c 19 2 =", "entry z 21 0 =",
                                    "call w AddEntry a", "call w AddEntry b", "call w AddEntry c",
                                    "call w AddEntry z", "iosize d 21", "call w UpdateIndex"])
    add("auto-add-offset-overflow", ["io d s:media", "iosize d 100", "io iw", "index w s:idx iw 1",
                                     "call w SetDataIO d", "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1",
                                     "entry a 0xFFFFFFFFFFFFFFF0 0x20 =", "entry b 0 1 =", "call w AddEntry a",
                                     "call w AddEntry b"])
    for op in ("seek", "write"):
        for n in (1, 2, 3):
            add("auto-add-fail-%s-%d" % (op, n),
                ["io iw", "index w s:idx iw 1", "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1",
                 "entry a 0 1 =", "entry b 1 1 =", "iofail iw %s %d" % (op, n), "call w AddEntry a",
                 "call w AddEntry b", "call w UpdateIndex", "call w NumberOfEntries"])
    add("auto-two-parties", ["io d s:media", "iosize d 0", "io iw", "iodata iw d", "index w s:idx iw 1",
                             "call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1"] + reader() +
        ["ioopen ir 5", "call r SetFlag 1 1"] +
        sum([["entry a%d %d 10 %02x" % (i, 10 * i, i), "call w AddEntry a%d" % i, "iosize d %d" % (10 * i + 5),
              "call r GetEntry %d" % i, "call w UpdateIndex", "call r GetEntry %d" % i] for i in range(5)], []) +
        ["iosize d 1000", "call w UpdateIndex", "call r GetEntry 4", "call r NumberOfEntries", "refs"])
    # The stored count after ranges written directly: partly, and above it.
    for n in (1, 2, 3, 4):
        add("stored-after-partial-%d" % n, writer(2) + ["call w WriteIndex"] +
            sum([["entry f%d %d 1 =" % (i, 5000 + i), "call w AddEntry f%d" % i] for i in range(2)], []) +
            ["ioopen iw 5", "iofail iw write %d" % (3 + n), "call w WriteIndexEntries 0 4", "call w SetFlag 1 1",
             "entry g 9000 1 =", "call w AddEntry g", "call w UpdateIndex"])
    add("stored-above", writer(2) + ["call w WriteIndex", "entry f 1 1 =", "call w AddEntry f", "call w AddEntry f",
                                     "ioopen iw 5", "call w WriteIndexEntries 3 4", "call w UpdateIndex",
                                     "call w WriteIndexEntries 2 4", "call w UpdateIndex"])
    add("stored-after-read", [file_line("idx", image(rs[:3]))] + reader() +
        ["ioopen ir 5", "call r ReadIndexEntries 1 3", "entry f 1 1 =", "call r AddEntry f", "call r UpdateIndex",
         "call r ReadIndexEntries 0 1", "call r UpdateIndex", "call r NumberOfEntries"])
    # A header write that fails while entries are appended, then a retry: the
    # follower must see the entry once the header is written again.
    for n in (4, 5):
        add("follow-header-retry-%d" % n,
            ["io d s:media", "iosize d 1000", "io iw s:idx", "iodata iw d", "index w s:idx iw 1", "call w WriteIndex",
             "ioopen iw 5", "call w SetFlag 1 1", "io ir s:idx", "index r s:idx ir 1", "ioopen ir 5",
             "call r SetFlag 1 1", "entry a0 0 10 =", "entry a1 10 10 =", "call w AddEntry a0",
             "iofail iw write %d" % n, "call w AddEntry a1", "call w UpdateIndex", "call r GetEntry 1"] +
            ["call r GetEntry %d" % i for i in range(3)] * 2)
    # A writer that asks beyond its own list re-reads its file's header, which
    # counts only the records whose media was there.
    add("follow-writer-probes",
        ["io d s:media", "iosize d 10", "io iw s:idx", "iodata iw d", "index w s:idx iw 1", "call w WriteIndex",
         "ioopen iw 5", "call w SetFlag 1 1", "io ir s:idx", "index r s:idx ir 1", "ioopen ir 5",
         "call r SetFlag 1 1", "entry a0 0 10 =", "entry a1 10 10 =", "call w AddEntry a0", "call w AddEntry a1",
         "call w GetEntry 2", "call w NumberOfEntries", "iosize d 20", "call w UpdateIndex"] +
        ["call r GetEntry %d" % i for i in range(3)] * 2)
    add("auto-read-index", [file_line("idx", image(rs))] + reader() +
        ["call r SetFlag 1 1", "call r ReadIndex", "call r NumberOfEntries", "call r UpdateIndex"])

    # -- building, validating and InitIndex
    add("build-null-helper", writer(2) + ["call w BuildIndex - - -", "call w NumberOfEntries", "refs"])
    add("build-empty", writer(2) + ["helper h", "call w BuildIndex h - -", "call w NumberOfEntries",
                                    "call w GetEntry 0", "call w WriteIndex"])
    add("build-entries", ["io d s:media", "report rp", "io i", "index x s:idx i 1", "helper h",
                          "entry a 0 5 =", "entry b 5 5 =", "hentries h a b a", "hanswer h StartIndexing 0",
                          "call x BuildIndex h d rp", "call x NumberOfEntries", "refs", "call x BuildIndex h - -",
                          "refs"])
    add("build-add-fails", ["io i", "index x s:idx i 1", "call x SetFlag 1 1", "helper h", "entry a 0 5 =",
                            "entry b 5 5 =", "hentries h a b", "call x BuildIndex h - -", "refs"])
    add("validate", writer(3) + ["helper h", "report rp", "io d", "call w ValidateIndex - 5 d rp",
                                 "call w ValidateIndex h 5 d rp", "hrefuse h 1", "call w ValidateIndex h 5 d rp",
                                 "hanswer h StartValidation 0", "call w ValidateIndex h 5 d rp",
                                 "hanswer h StartValidation 1", "call w Clear", "call w ValidateIndex h 0 - -"])
    add("init-rebuild", writer(2) + ["call w WriteIndex", "helper h", "entry n 1 1 =", "hentries h n",
                                     "io d s:media", "call w InitIndex h 5 1 d -", "call w GetDataIO", "refs"])
    add("init-read-validate", writer(2) + ["call w WriteIndex"] + reader() +
        ["helper h", "io d", "iodata ir d", "call r InitIndex h 0 0 - -", "call r GetDataIO", "refs"])
    add("init-read-fails-builds", reader() + ["helper h", "entry n 1 1 =", "hentries h n", "report rp",
                                              "call r InitIndex h 0 0 - rp", "call r NumberOfEntries", "refs"])
    add("init-no-io", ["index x s:idx - 1", "helper h", "io d", "call x InitIndex h 0 0 d -", "call x GetDataIO",
                       "call x InitIndex - 0 1 - -", "refs"])
    add("init-replaces-data", reader() + ["io d1", "io d2", "call r SetDataIO d1", "call r InitIndex - 0 1 d2 -",
                                          "call r GetDataIO", "call r SetDataIO d2", "refs", "call r SetDataIO -",
                                          "refs"])

    # -- a host's index that makes the entries of the records read, and has its own description
    for n in (1, 2, 3, 4):
        add("create-refused-%d" % n, [file_line("idx", image(rs))] + reader(extra=()) +
            ["index q s:idx ir 1 create=%d" % n, "call q ReadIndex", "call q NumberOfEntries", "call q GetEntry 0",
             "ioopen ir 5", "entry f 1 1 =", "call q AddEntry f", "call q UpdateIndex", "call q SetFlag 1 1",
             "call q GetEntry 6", "call q ReadIndexEntries 0 4", "refs"])
    add("create-logged", [file_line("idx", image(rs))] + reader() +
        ["index q s:idx ir 1 create=log", "call q ReadIndex", "call q SetFlag 1 1", "ioopen ir 5",
         file_line("idx", image(rs + recs(2, 9000))), "call q GetEntry 5"])
    for size in (0, 5, 384, 385):
        add("own-description-%d" % size, ["io i s:idx", "index x s:idx i 1 desc=%s" % hexof(b"\x42" * size),
                                          "call x SetDescription 0a0b0c", "call x Description", "entry e 0 1 =",
                                          "call x AddEntry e", "call x WriteIndex", "call x ReadIndex",
                                          "call x Description"])

    # -- messages through an index that re-routes them
    add("messages-rerouted", ["io i", "index x s:n\u00e4me i 1 user=7 level=100", "call x ReadIndex",
                              "call x GetUser", "call x GetLevel 1", "call x SetFlag 1 1", "call x GetEntry 3",
                              "index y - - 1 user=0", "call y ReadIndex", "call y WriteIndex"])
    # -- flags
    add("flags", ["index x s:a - 1"] + ["call x " + c for c in ("IsSet 1", "IsSet 0", "SetFlag 1 1", "IsSet 1",
                                                                 "IsSet 3", "SetFlag 2 1", "IsSet 3", "SetFlag 1 0",
                                                                 "IsSet 1", "IsSet 2", "SetFlag 3 0", "IsSet 2")])
    add("add-null", ["index x s:a - 1", "call x AddEntry -", "call x NumberOfEntries"])
    add("io-replaced", ["io a", "io b", "index x s:a a 1", "call x SetIO a", "refs", "call x SetIO b", "refs",
                        "call x GetIO", "call x WriteIndex"])
    return S


# ---- generated scenarios -------------------------------------------------------

class Gen:
    """One random scenario: a few host objects, one or two indexes over shared
    files, and a random run of calls and host actions."""

    def __init__(self, rng):
        self.r = rng
        self.lines = []
        self.entries = []
        self.kept = 0

    def value64(self):
        r = self.r
        return r.choice([0, 1, 7, 40, 512, 0xFFFFFFFF, 0x100000000, 1 << 63, M64, M64 - 1,
                         r.randrange(1 << 16), r.randrange(1 << 64)])

    def small(self, limit=8):
        return self.r.randrange(limit)

    def position(self, n):
        r = self.r
        if r.random() < 0.8:
            return r.randrange(n + 3)
        return self.value64()

    def custom(self):
        return hexof(bytes(self.r.randrange(256) for _ in range(self.r.randrange(25))))

    def make_entries(self, media):
        r = self.r
        offset = 0
        for i in range(r.randrange(1, 9)):
            length = r.choice([0, 1, 10, 100, r.randrange(1, 500)])
            if r.random() < 0.1:
                off = self.value64()
            else:
                off = offset
                offset += length
            name = "e%d" % i
            if r.random() < 0.2:
                self.lines.append("static %s %d %d %s" % (name, off, length, self.custom()))
            else:
                rep = ""
                if r.random() < 0.15:
                    rep = " " + r.choice(["fail", str(r.randrange(41))])
                self.lines.append("entry %s %d %d %s%s" % (name, off, length, self.custom(), rep))
            self.entries.append(name)

    def file_image(self):
        r = self.r
        n = r.randrange(6)
        rs = [record(self.value64() if r.random() < 0.2 else 100 * i, r.randrange(300),
                     bytes(r.randrange(256) for _ in range(24)), bytes(r.randrange(256) for _ in range(4)))
              for i in range(n)]
        kw = {}
        if r.random() < 0.5:
            kw["desc"] = bytes(r.randrange(256) for _ in range(r.choice([0, 1, 5, 300, 384, 385])))
        if r.random() < 0.3:
            kw["recsize"] = r.choice([40, 40, 44, 48, 64, 39, 0, 4096, M32])
        if r.random() < 0.3:
            kw["entoff"] = r.choice([512, 1024, 128, 127, 0, 600, 0x7FFFFFFF])
        if r.random() < 0.3:
            kw["count"] = r.choice([0, n, n + 1, max(0, n - 1), M32, r.randrange(50)])
        if r.random() < 0.2:
            kw["stype"] = r.randrange(1 << 32)
            kw["sid"] = r.randrange(1 << 32)
        if r.random() < 0.2:
            kw["hsize"] = r.choice([128, 0, 64, 200, 512, 0xFFFFFE00, 0xFFFFFF00])
        if r.random() < 0.1:
            kw["dsize"] = r.choice([0, 1, 1000, M32])
        data = image(rs, **kw)
        if r.random() < 0.2:
            data = data[:r.randrange(len(data) + 1)]
        return data

    def scenario(self):
        r = self.r
        L = self.lines
        media = r.choice([0, 50, 300, 1000, 100000])
        L.append("io d s:media")
        L.append("iosize d %d" % media)
        L.append("io i1")
        if r.random() < 0.5:
            L.append("iodata i1 d")
        if r.random() < 0.4:
            L.append(file_line("idx", self.file_image()))
        self.make_entries(media)
        L.append("helper h")
        L.append("hentries h " + " ".join(r.choice(self.entries) for _ in range(r.randrange(6))))
        if r.random() < 0.1:
            L.append("hrefuse h %d" % r.randrange(6))
        for op in ("StartIndexing", "StopIndexing", "StartValidation", "StopValidation"):
            if r.random() < 0.1:
                L.append("hanswer h %s %s" % (op, r.choice(["0", "base"])))
        opts = ""
        if r.random() < 0.2:
            opts += " user=%d level=%d" % (r.randrange(100), r.randrange(20))
        if r.random() < 0.1:
            opts += " create=%s" % r.choice(["log", "1", "2", "3"])
        if r.random() < 0.05:
            opts += " desc=%s" % hexof(bytes(r.randrange(256) for _ in range(r.choice([0, 2, 385]))))
        L.append("index x %s i1 %d%s" % (r.choice(["s:idx", "s:idx", "s:other", "-"]), r.randrange(5), opts))
        indexes = ["x"]
        if r.random() < 0.4:
            L.append("io i2")
            L.append("index y s:idx i2 %d" % r.randrange(5))
            indexes.append("y")
        ios = ["i1", "i2"] if "y" in indexes else ["i1"]
        if r.random() < 0.5:
            L.append("call x SetFlag 1 1")
        for _ in range(r.randrange(3, 16)):
            self.step(r.choice(indexes), ios, media)
        return L

    def step(self, x, ios, media):
        r = self.r
        L = self.lines
        e = r.choice(self.entries)
        io = r.choice(ios)
        k = r.random()
        choices = [
            (8, lambda: "call %s AddEntry %s" % (x, e if r.random() < 0.95 else "-")),
            (4, lambda: "call %s WriteIndex" % x),
            (4, lambda: "call %s ReadIndex" % x),
            (2, lambda: "call %s ReadIndexHeader" % x),
            (2, lambda: "call %s WriteIndexHeader" % x),
            (2, lambda: "call %s UpdateIndexHeader" % x),
            (3, lambda: "call %s UpdateIndex" % x),
            (2, lambda: "call %s ReadIndexEntries %d %d" % (x, self.position(4), self.position(6))),
            (2, lambda: "call %s WriteIndexEntries %d %d" % (x, self.position(4), self.position(6))),
            (5, lambda: "call %s GetEntry %d" % (x, self.position(6))),
            (2, lambda: "call %s BuildIndex %s %s -" % (x, r.choice(["h", "h", "-"]), r.choice(["d", "-"]))),
            (2, lambda: "call %s ValidateIndex %s %d %s -" % (x, r.choice(["h", "h", "-"]), r.randrange(3),
                                                             r.choice(["d", "-"]))),
            (3, lambda: "call %s InitIndex %s %d %d %s -" % (x, r.choice(["h", "h", "-"]), self.value64(),
                                                            r.random() < 0.3, r.choice(["d", "-", "-"]))),
            (1, lambda: "call %s Clear" % x),
            (1, lambda: "call %s %s" % (x, r.choice(["SetDescriptionOwn", "SetDescriptionNull 0",
                                                    "SetDescriptionNull 3", "SetNameOwn"]))),
            (2, lambda: "call %s SetDescription %s" % (x, "=" if r.random() < 0.3 else bytes(
                r.randrange(256) for _ in range(r.choice([1, 3, 384, 385]))).hex())),
            (1, lambda: "call %s SetFlag %d %d" % (x, r.choice([1, 1, 0, 2, 3]), r.random() < 0.6)),
            (1, lambda: "call %s IsSet %d" % (x, r.choice([1, 0, 3]))),
            (2, lambda: "call %s %s" % (x, r.choice(["NumberOfEntries", "GetStreamType", "GetStreamID",
                                                    "Description", "NumberOfStreams", "GetDataIO", "Name",
                                                    "Version", "GetIO", "ClassName"]))),
            (1, lambda: "call %s SetDataIO %s" % (x, r.choice(["d", "-"]))),
            (3, lambda: "ioopen %s %d" % (io, r.choice([5, 5, 6]))),
            (1, lambda: "ioclose %s" % io),
            (3, lambda: "iofail %s %s %d %d" % (io, r.choice(["open", "seek", "read", "write"]), r.randrange(1, 8),
                                                 r.choice([0, 0, 1, 39, 127]))),
            (2, lambda: "iosize d %d" % r.choice([0, media, media * 2, r.randrange(2000), M64])),
            (1, lambda: "refs"),
        ]
        total = sum(w for w, _ in choices)
        pick = k * total
        for w, make in choices:
            pick -= w
            if pick < 0:
                line = make()
                break
        L.append(line)
        if " GetEntry " in line and r.random() < 0.2:
            L.append("keep k%d" % self.kept)
            self.kept += 1


def sub_scenario(r):
    """Views over a host parent or a file-backed index, nested, with 64-bit
    starts and counts, positions and timecodes."""
    L = ["io pio", "meta m"]
    names = []
    for i in range(r.randrange(1, 6)):
        L.append("entry e%d %d %d =" % (i, 10 * i, 10))
        names.append("e%d" % i)
    if r.random() < 0.5:
        L.append("pindex p %s %d %s %d %d" % (r.choice(["s:par", "-", "s:"]), r.randrange(9), r.choice(["pio", "-"]),
                                              r.randrange(1 << 32), r.randrange(1 << 32)))
        L.append("pentries p " + " ".join(r.choice(names + ["-"]) for _ in range(r.randrange(12))))
        L.append("pmeta p " + r.choice(["m", "-"]))
    else:
        L += ["io pio2 s:idx", "index p s:idx pio2 %d" % r.randrange(9)]
        L += ["call p AddEntry %s" % r.choice(names) for _ in range(r.randrange(6))]
        if r.random() < 0.5:
            L += ["call p WriteIndex", "ioopen pio2 5", "call p SetFlag 1 1"]
            if r.random() < 0.5:
                L += ["call p Clear"]

    def bound():
        return r.choice([0, 1, 2, 5, 100, M64, M64 - 1, 1 << 63, (1 << 64) - 3, r.randrange(1 << 64)])

    views = ["p"]
    for i in range(r.randrange(1, 4)):
        L.append("sub s%d %s %d %d" % (i, r.choice(views), bound() if r.random() < 0.3 else r.randrange(4),
                                        bound() if r.random() < 0.3 else r.randrange(8)))
        views.append("s%d" % i)
    for _ in range(r.randrange(4, 14)):
        v = r.choice(views[1:])
        k = r.random()
        if k < 0.35:
            L.append("call %s GetEntry %d" % (v, r.randrange(10) if r.random() < 0.7 else bound()))
            if r.random() < 0.15:
                L.append("keep k%d" % len(L))
        elif k < 0.55:
            L.append("call %s GetMetaData %d %d" % (v, r.randrange(5), r.randrange(10) if r.random() < 0.7 else bound()))
        elif k < 0.7:
            L.append("call %s GetMetaDataTC %d %d" % (v, r.randrange(5), r.choice(
                [-1, 0, 1, 3, 7, -(1 << 31), (1 << 31) - 1, r.randrange(-20, 20)])))
        elif k < 0.9:
            L.append("call %s %s" % (v, r.choice(["Name", "Version", "GetIO", "GetStreamID", "GetStreamType",
                                                  "NumberOfEntries", "ClassName", "Extension", "Description",
                                                  "GetUser", "References", "GetEntryTC 2"])))
        elif k < 0.95:
            L.append("refs")
        else:
            # The view keeps its parent alive.
            if "release p" not in L:
                L.append("release p")
    return L


def entry_scenario(r):
    """The entry classes on their own."""
    L = []
    ids = []
    for i in range(r.randrange(1, 4)):
        kind = r.choice(["static", "basic", "plainentry"])
        if kind == "static":
            L.append("static x%d %d %d %s" % (i, r.randrange(1 << 64), r.randrange(1 << 32),
                                             hexof(bytes(r.randrange(256) for _ in range(r.randrange(25))))))
        elif kind == "basic":
            L.append("basic x%d %s" % (i, hexof(bytes(r.randrange(256) for _ in range(40)))))
        else:
            L.append("plainentry x%d" % i)
        ids.append((("x%d" % i), kind))
    for _ in range(r.randrange(3, 12)):
        x, kind = r.choice(ids)
        ops = ["Offset", "Length", "Reference", "References", "Custom",
               "GetFileRepresentation %d" % r.choice([0, 1, 39, 40, 41, 48, 64, M32, r.randrange(100)]),
               "SetFileRepresentation %d %s" % (r.choice([39, 40, 40, 41, 0, M32]),
                                                bytes(r.randrange(256) for _ in range(40)).hex())]
        if kind == "static":
            ops += ["SetLength %d" % r.randrange(1 << 32), "SetOffset %d" % r.randrange(1 << 64),
                    "SetOffset2 %d %d" % (r.randrange(1 << 32), r.randrange(1 << 32))]
        if kind == "basic":
            ops += ["SetEntry %s" % bytes(r.randrange(256) for _ in range(40)).hex()]
        L.append("call %s %s" % (x, r.choice(ops)))
        if r.random() < 0.1:
            L.append("addref %s" % x)
            L.append("call %s References" % x)
            L.append("release %s" % x)
    return L


def follow_scenario(r):
    """A writer with AutoUpdate appends while its media grows; a reader with
    AutoUpdate follows the same file; now and then an IO call fails."""
    L = ["io d s:media", "iosize d 0", "io iw", "iodata iw d", "index w s:idx iw 1"]
    if r.random() < 0.3:
        L.append("call w SetDescription %s" % bytes(r.randrange(256) for _ in range(r.choice([3, 384, 385]))).hex())
    L += ["call w WriteIndex", "ioopen iw 5", "call w SetFlag 1 1", "io ir s:idx", "index r s:idx ir 1",
          "ioopen ir 5", "call r SetFlag 1 1"]
    media = 0
    made = 0
    asked = 0
    for _ in range(r.randrange(5, 30)):
        k = r.random()
        if k < 0.35:
            length = r.choice([0, 1, 10, 100])
            L.append("entry a%d %d %d %s" % (made, r.choice([media, media + r.randrange(50)]), length,
                                             (bytes([made & 255]) * 4).hex()))
            L.append("call w AddEntry a%d" % made)
            made += 1
        elif k < 0.55:
            media += r.choice([1, 10, 50, 200])
            L.append("iosize d %d" % media)
        elif k < 0.65:
            L.append("call w UpdateIndex")
        elif k < 0.9:
            asked = r.choice([asked, asked + 1, r.randrange(made + 2)])
            L.append("call r GetEntry %d" % asked)
        elif k < 0.92:
            # The writer asks beyond its own list, as a host that probes may.
            L.append("call w GetEntry %d" % (made + r.randrange(3)))
        elif k < 0.95:
            L.append("iofail %s %s %d %d" % (r.choice(["iw", "ir"]), r.choice(["seek", "read", "write"]),
                                              r.randrange(1, 4), r.choice([0, 1, 39])))
        else:
            L.append("call r NumberOfEntries")
    # All media present: once UpdateIndex is asked again after each failure a
    # scripted IO call may still hold for it, the reader must see every entry,
    # in order (in the second pass, after a failure the first may have met).
    L += ["iosize d %d" % (1 << 40)] + ["call w UpdateIndex"] * 5
    L += ["call r GetEntry %d" % i for i in range(made + 1)] * 2
    return L


def follow_property(lines, got):
    """What a follower must see whatever the model says: after the last
    UpdateIndex, GetEntry(i) of the reader gives the record of the writer's
    i-th entry, and nothing after the last. None, or what is wrong."""
    records = []
    for line in lines:
        t = line.split()
        if t[0] == "entry":
            records.append(record(int(t[2], 0), int(t[3], 0), bytes(model.parse_hex(t[4]))).hex())
    made = len(records)
    answers = []
    for i, line in enumerate(got):
        if line.startswith("> call r GetEntry "):
            for after in got[i + 1:]:
                if after.startswith("= "):
                    answers.append(after[2:])
                    break
    last = answers[-(made + 1):] if len(answers) > made else []
    if len(last) != made + 1:
        return "the reader's last pass is missing"
    for i, answer in enumerate(last[:made]):
        if not answer.startswith("lib:" + records[i]):
            return "the reader's GetEntry(%d) is %s, not the writer's entry %d" % (i, answer[:60], i)
    if last[made] != "-":
        return "the reader has an entry %d beyond the writer's %d" % (made, made)
    return None


FAMILIES = (("gen", 10, lambda r: Gen(r).scenario()), ("sub", 2, sub_scenario), ("entry", 1, entry_scenario),
            ("follow", 3, follow_scenario))


def generated(seed, count):
    out = []
    total = sum(w for _, w, _ in FAMILIES)
    for i in range(count):
        rng = random.Random("%d/%d" % (seed, i))
        pick = rng.randrange(total)
        for name, weight, make in FAMILIES:
            if pick < weight:
                break
            pick -= weight
        out.append(("%s-%d-%d" % (name, seed, i), make(rng)))
    return out


# ---- running the host -----------------------------------------------------------

def run_host(host, scenarios, unbuffered=False):
    """({name: trace lines}, failure, unfinished) from one run of the host
    over scenarios: failure says how the run ended when it did not end well
    (None when it did), unfinished is the scenario it ended in (None when
    there is none); the scenarios it did not reach are missing."""
    text = "".join("scenario %s\n%s\n" % (name, "\n".join(lines)) for name, lines in scenarios)
    try:
        p = subprocess.run([host] + (["-u"] if unbuffered else []), input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=TIMEOUT)
        out, err, rc = p.stdout, p.stderr, p.returncode
    except subprocess.TimeoutExpired as e:
        out, err, rc = e.stdout or b"", b"timed out", "timeout"
    traces = {}
    current = None
    done = False
    for line in out.decode("utf-8", "replace").split("\n"):
        if line.startswith("scenario "):
            current = line[9:]
            traces[current] = []
        elif line == "done":
            done = True
        elif current is not None and line:
            traces[current].append(line)
    if rc == 0 and done:
        return traces, None, None
    why = "exit %s%s: %s" % (rc, " after every scenario" if done else "",
                              err.decode("utf-8", "replace").strip()[-3000:])
    return traces, why, None if done else current


def expected(lines):
    try:
        return model.run(lines)
    except model.ScenarioError as e:
        return ["bad scenario: %s" % e]
    except Exception as e:  # a fault of the model: shown as its trace
        return ["model error: %r" % e]


def first_difference(want, got):
    for i in range(max(len(want), len(got))):
        a = want[i] if i < len(want) else "<nothing>"
        b = got[i] if i < len(got) else "<nothing>"
        if a != b:
            return i
    return None


def report(name, lines, want, got, i):
    print("=== %s: differs at trace line %d" % (name, i + 1))
    print("--- scenario")
    for line in lines:
        print("    " + (line if len(line) < 200 else line[:200] + "..."))
    lo = max(0, i - 12)
    print("--- model (expected)")
    for line in want[lo:i + 4]:
        print("    " + line)
    print("--- library (got)")
    for line in got[lo:i + 4]:
        print("    " + line)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host", help="the scenario host, e.g. build/native/tests/model/indexhost")
    parser.add_argument("--count", type=int, default=2000, help="generated scenarios (default 2000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    parser.add_argument("--only", help="run only the scenarios whose name starts with this")
    parser.add_argument("--print", dest="show", help="print the scenario of this name and its expected trace")
    args = parser.parse_args()

    scenarios = handpicked() + generated(args.seed, args.count)
    if args.show:
        for name, lines in scenarios:
            if name == args.show:
                print("\n".join(lines))
                print("--- expected")
                print("\n".join(expected(lines)))
                return 0
        print("indexdiff: no scenario %s" % args.show, file=sys.stderr)
        return 2
    if args.only:
        scenarios = [s for s in scenarios if s[0].startswith(args.only)]
    if not os.access(args.host, os.X_OK):
        print("indexdiff: cannot run %s (build the indexhost target first)" % args.host, file=sys.stderr)
        return 2

    found = 0
    lines_compared = 0
    for at in range(0, len(scenarios), BATCH):
        batch = scenarios[at:at + BATCH]
        traces, failure, unfinished = run_host(args.host, batch)
        if failure and not traces:
            _, alone, _ = run_host(args.host, [])
            if alone:
                print("indexdiff: %s does not run: %s" % (args.host, alone), file=sys.stderr)
                return 2
        if failure and unfinished is None and len(traces) == len(batch):
            # Every scenario ran; the host failed on its way out (a leak report).
            found += 1
            print("=== host run of scenarios %d to %d: %s" % (at, at + len(batch) - 1, failure))
            if not args.keep_going:
                return 1
        for name, lines in batch:
            got = traces.get(name)
            if got is None or name == unfinished:
                # Run it alone, unbuffered, to see how far it gets.
                one, why, _ = run_host(args.host, [(name, lines)], unbuffered=True)
                got = one.get(name, []) + (["host: %s" % why] if why else [])
            want = expected(lines)
            lines_compared += len(want)
            wrong = follow_property(lines, got) if name.startswith("follow-") else None
            if wrong:
                found += 1
                print("=== %s: %s" % (name, wrong))
                print("\n".join("    " + line for line in lines))
                if not args.keep_going:
                    return 1
            i = first_difference(want, got)
            if i is not None:
                found += 1
                report(name, lines, want, got, i)
                if not args.keep_going:
                    print("indexdiff: stopped at the first difference (--keep-going for all)")
                    return 1
    if found:
        print("indexdiff: %d of %d scenarios differ" % (found, len(scenarios)))
        return 1
    print("indexdiff: %d scenarios agreed (%d trace lines, seed %d)" % (len(scenarios), lines_compared, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
