#!/usr/bin/env python3
"""Differential check of the native Ferrow path functions against pathmodel.

    pathdiff.py LIBRARY [--count N] [--seed S] [--keep-going] [--no-fault-checks]

Runs every path function of the library and of the model on the same inputs:
hand-picked paths, every short string over a small alphabet, and N generated
paths (reproducible from the seed). On a disagreement it prints the function,
the input and both answers and exits 1 (after the first one, or after all with
--keep-going). Exit 2: the library cannot be loaded or lacks a function.

Functions that change a buffer get a copy followed by spare cells holding a
marker; a changed marker is a write outside the buffer.
"""

import argparse
import ctypes
import os
import random
import sys
from ctypes import c_int, c_uint, c_uint16, c_uint32, c_void_p

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import difftools  # noqa: E402
import pathmodel as model  # noqa: E402
from difftools import Differences  # noqa: E402

MARK = 0xBEEF   # fills spare cells and unwritten out buffers
SPARE = 8       # spare cells behind every buffer

SIGNATURES = {
    "FU_ParsePath": (c_int, [c_void_p, c_void_p, c_int]),
    "FU_FindProtocol": (c_void_p, [c_void_p, c_int]),
    "FU_FindProtocolC": (c_void_p, [c_void_p, c_int]),
    "FU_FindHost": (c_void_p, [c_void_p, c_int]),
    "FU_FindHostC": (c_void_p, [c_void_p, c_int]),
    "FU_FindLocalInfo": (c_void_p, [c_void_p, c_int]),
    "FU_FindLocalInfoC": (c_void_p, [c_void_p, c_int]),
    "FU_FindFilename": (c_void_p, [c_void_p]),
    "FU_FindFilenameC": (c_void_p, [c_void_p]),
    "FU_FindExtension": (c_void_p, [c_void_p]),
    "FU_FindExtensionC": (c_void_p, [c_void_p]),
    "FU_FindLastSeparator": (c_void_p, [c_void_p]),
    "FU_FindLastSeparatorC": (c_void_p, [c_void_p]),
    "FU_FindNextSlash": (c_void_p, [c_void_p]),
    "FU_GetComponent": (c_int, [c_void_p, c_void_p, c_uint]),
    "FU_GetPathComponent": (c_int, [c_void_p, c_void_p, c_uint, c_uint32]),
    "FU_FormatSlashes": (c_void_p, [c_void_p, c_uint16]),
    "FU_FormatPath": (c_void_p, [c_void_p, c_uint16]),
    "FU_RemoveExtension": (c_int, [c_void_p]),
    "FU_RemoveFilename": (c_int, [c_void_p]),
    "FU_StripToRootPathName": (c_int, [c_void_p, c_int]),
    "FU_PathCompare": (c_int, [c_void_p, c_void_p]),
    "FU_IsPathContained": (c_int, [c_void_p, c_void_p]),
    "FU_ValidatePath": (c_int, [c_void_p, c_int]),
    "FU_IsValidName": (c_int, [c_void_p]),
}

Record = c_void_p * len(model.FIELDS)
JUNK = 0x5A5A5A5A  # what a record holds before the library fills it


def load(path):
    return difftools.load("pathdiff", path, SIGNATURES)


# ---- buffers ----------------------------------------------------------------

class Buffer:
    """A zero-terminated UTF-16 copy of text, followed by `spare` marked cells."""

    def __init__(self, text, spare=SPARE):
        self.text = text
        self.cells = [ord(c) for c in text] + [0] + [MARK] * spare
        self.array = (c_uint16 * len(self.cells))(*self.cells)
        self.address = ctypes.addressof(self.array)

    def at(self, index):
        return self.address + 2 * index

    def offset(self, pointer):
        """A returned pointer as a position in the text, None for NULL."""
        if pointer is None:
            return None
        delta = pointer - self.address
        if delta % 2 or not 0 <= delta < 2 * len(self.cells):
            return "foreign pointer 0x%x" % pointer
        return delta // 2

    def read(self):
        """The text up to the first terminator."""
        units = self.array[:]
        if 0 not in units:
            return "".join(map(chr, units)) + " <no terminator>"
        return "".join(map(chr, units[:units.index(0)]))

    def outside_writes(self, bound):
        """Cells at or behind `bound` that no longer hold their first value."""
        now = self.array[bound:]
        if now == self.cells[bound:]:
            return []
        return [bound + i for i, u in enumerate(now) if u != self.cells[bound + i]]


class OutBuffer:
    """An out buffer of `size` marked cells."""

    def __init__(self, size):
        self.marks = [MARK] * size
        self.array = (c_uint16 * size)(*self.marks)
        self.address = ctypes.addressof(self.array)

    def state(self):
        """UNTOUCHED, the text written, or a description of a bad write."""
        units = self.array[:]
        if units == self.marks:
            return model.UNTOUCHED
        if 0 not in units:
            return ("no terminator", "".join(map(chr, units)))
        end = units.index(0)
        text = "".join(map(chr, units[:end]))
        behind = [end + 1 + j for j, u in enumerate(units[end + 1:]) if u != MARK]
        return text if not behind else (text, "also wrote cells", behind)


def shown(value):
    return repr(value)


# ---- the comparison ---------------------------------------------------------

class Checker:
    def __init__(self, lib, keep_going):
        self.lib = lib
        self.keep_going = keep_going
        self.found = 0
        self.calls = 0
        self.inputs = 0

    def same(self, function, args, native, expected):
        self.calls += 1
        if native == expected:
            return True
        self.found += 1
        print("DIFFERENCE in %s%s" % (function, args))
        print("    native: %s" % shown(native))
        print("    model:  %s" % shown(expected))
        sys.stdout.flush()
        if not self.keep_going:
            raise Differences()
        return False

    # Everything about one path.
    def path(self, text, flags):
        self.inputs += 1
        lib = self.lib
        for flag in flags:
            buf = Buffer(text)
            record = Record(*([JUNK] * len(model.FIELDS)))
            result = lib.FU_ParsePath(buf.address, ctypes.addressof(record), flag)
            native = (result, tuple(buf.offset(p) for p in record))
            if not self.same("FU_ParsePath", (text, flag), native, model.parse_result(text, flag)):
                continue
            parts = model.parse(text, flag)
            for index in component_indexes():
                out = OutBuffer(len(text) + 1 + SPARE)
                result = lib.FU_GetComponent(ctypes.addressof(record), out.address, index)
                self.same("FU_GetComponent", (text, flag, index), (result, out.state()),
                          model.get_component(text, parts, index))

            for name, fn in (("FU_FindProtocol", model.find_protocol),
                             ("FU_FindHost", model.find_host),
                             ("FU_FindLocalInfo", model.find_local_info)):
                want = fn(text, flag)
                for variant in (name, name + "C"):
                    got = buf.offset(getattr(lib, variant)(buf.address, flag))
                    self.same(variant, (text, flag), got, want)

            work = Buffer(text)
            want_buf = model.buffer_from(text)
            want = model.strip_to_root_path_name(want_buf, flag)
            self.in_place("FU_StripToRootPathName", (text, flag), work,
                          lib.FU_StripToRootPathName(work.address, flag), want, want_buf)

            work = Buffer(text)
            want_buf = model.buffer_from(text)
            want = model.validate_path(want_buf, flag)
            self.in_place("FU_ValidatePath", (text, flag), work,
                          lib.FU_ValidatePath(work.address, flag), want, want_buf)

        buf = Buffer(text)
        for name, fn in (("FU_FindFilename", model.find_filename),
                         ("FU_FindExtension", model.find_extension),
                         ("FU_FindLastSeparator", model.find_last_separator)):
            want = fn(text)
            for variant in (name, name + "C"):
                self.same(variant, (text,), buf.offset(getattr(lib, variant)(buf.address)), want)

        for pos in slash_starts(text):
            self.same("FU_FindNextSlash", (text, "from %d" % pos),
                      buf.offset(lib.FU_FindNextSlash(buf.at(pos))), model.find_next_slash(text, pos))

        for index in component_indexes():
            out = OutBuffer(len(text) + 1 + SPARE)
            unused = RNG.getrandbits(32)
            result = lib.FU_GetPathComponent(buf.address, out.address, index, unused)
            native = (result, out.state())
            want = model.get_path_component(text, index)
            if want == (0, model.UNTOUCHED) and native == (0, ""):
                want = native  # either is fine after a failed parse
            self.same("FU_GetPathComponent", (text, index, unused), native, want)

        for sep in ("\\", "/", RNG.choice(ODD_SEPARATORS)):
            work = Buffer(text)
            want_buf = model.buffer_from(text)
            model.format_slashes(want_buf, sep)
            self.in_place("FU_FormatSlashes", (text, sep), work,
                          work.offset(lib.FU_FormatSlashes(work.address, ord(sep))), 0, want_buf)

        for sep in ("\\", "/", "\0", RNG.choice(ODD_SEPARATORS)):
            work = Buffer(text)
            want_buf = model.buffer_from(text, 1)
            model.format_path(want_buf, sep)
            self.in_place("FU_FormatPath", (text, sep), work,
                          work.offset(lib.FU_FormatPath(work.address, ord(sep))), 0, want_buf,
                          room=1)

        for name, fn in (("FU_RemoveExtension", model.remove_extension),
                         ("FU_RemoveFilename", model.remove_filename)):
            work = Buffer(text)
            want_buf = model.buffer_from(text)
            want = fn(want_buf)
            self.in_place(name, (text,), work, getattr(lib, name)(work.address), want, want_buf)

        self.same("FU_IsValidName", (text,), lib.FU_IsValidName(buf.address),
                  model.is_valid_name(text))

    def in_place(self, function, args, work, result, want, want_buf, room=0):
        """Compares the result and the string left in the buffer, and checks
        that nothing was written behind the cells the function may use."""
        native = (result, work.read())
        outside = work.outside_writes(len(work.text) + 1 + room)
        if outside:
            native += ("wrote outside its buffer at", outside)
        self.same(function, args, native, (want, model.text_of(want_buf)))

    def pair(self, a, b):
        self.inputs += 1
        first, second = Buffer(a), Buffer(b)
        self.same("FU_PathCompare", (a, b),
                  self.lib.FU_PathCompare(first.address, second.address), model.path_compare(a, b))
        self.same("FU_IsPathContained", (a, b),
                  self.lib.FU_IsPathContained(first.address, second.address),
                  model.is_path_contained(a, b))
        self.same("FU_PathCompare", (a, "the same pointer"),
                  self.lib.FU_PathCompare(first.address, first.address),
                  model.path_compare(a, a, same_pointer=True))
        self.same("FU_IsPathContained", (a, "the same pointer"),
                  self.lib.FU_IsPathContained(first.address, first.address),
                  model.is_path_contained(a, a, same_pointer=True))

    # NULL arguments that every function documents.
    def nulls(self):
        lib = self.lib
        for flag in (0, 1):
            record = Record(*([JUNK] * len(model.FIELDS)))
            result = lib.FU_ParsePath(None, ctypes.addressof(record), flag)
            self.same("FU_ParsePath", (None, flag), (result, tuple(record)),
                      (0, (None,) * len(model.FIELDS)))
            for name in ("FU_FindProtocol", "FU_FindHost", "FU_FindLocalInfo"):
                for variant in (name, name + "C"):
                    self.same(variant, (None, flag), getattr(lib, variant)(None, flag), None)
            self.same("FU_StripToRootPathName", (None, flag), lib.FU_StripToRootPathName(None, flag), 0)
            self.same("FU_ValidatePath", (None, flag), lib.FU_ValidatePath(None, flag), 0)
        for name in ("FU_FindFilename", "FU_FindExtension", "FU_FindLastSeparator"):
            for variant in (name, name + "C"):
                self.same(variant, (None,), getattr(lib, variant)(None), None)
        self.same("FU_FormatSlashes", (None, "\\"), lib.FU_FormatSlashes(None, ord("\\")), None)
        self.same("FU_RemoveExtension", (None,), lib.FU_RemoveExtension(None), 0)
        self.same("FU_RemoveFilename", (None,), lib.FU_RemoveFilename(None), 0)
        out = OutBuffer(4)
        self.same("FU_GetPathComponent", (None, 2), lib.FU_GetPathComponent(None, out.address, 2, 0), 0)
        a = Buffer("a")
        for first, second, want in ((None, None, 0), (None, a.address, -1), (a.address, None, 1)):
            self.same("FU_PathCompare", (first and "a", second and "a"),
                      lib.FU_PathCompare(first, second), want)
        for path, container, want in ((None, None, 1), (None, a.address, 0), (a.address, None, 0)):
            self.same("FU_IsPathContained", (path and "a", container and "a"),
                      lib.FU_IsPathContained(path, container), want)

    # Unreadable and unwritable arguments that the library must survive. Each
    # runs in a child process so that a crash is reported, not fatal.
    def faults(self):
        lib = self.lib
        bad = 0x10  # an address no process maps
        text = Buffer("C:\\dir\\file.txt")
        record = Record()
        ok = lib.FU_ParsePath(text.address, ctypes.addressof(record), 1)
        assert ok == 1
        spare_record = Record()
        out = OutBuffer(8)
        cases = [
            ("FU_ParsePath", ("C:\\dir\\file.txt", "record NULL", 1), 0,
             lambda: lib.FU_ParsePath(text.address, None, 1)),
            ("FU_ParsePath", ("unreadable", "record", 1), 0,
             lambda: lib.FU_ParsePath(bad, ctypes.addressof(spare_record), 1)),
            ("FU_FindLastSeparatorC", ("unreadable",), None,
             lambda: lib.FU_FindLastSeparatorC(bad)),
            ("FU_FindNextSlash", (None,), None, lambda: lib.FU_FindNextSlash(None)),
            ("FU_FindNextSlash", ("unreadable",), None, lambda: lib.FU_FindNextSlash(bad)),
            ("FU_GetComponent", ("record NULL", "out", 2), 0,
             lambda: lib.FU_GetComponent(None, out.address, 2)),
            ("FU_GetComponent", ("parsed record", "out NULL", 2), 0,
             lambda: lib.FU_GetComponent(ctypes.addressof(record), None, 2)),
            ("FU_FormatPath", (None, "\\"), None, lambda: lib.FU_FormatPath(None, ord("\\"))),
            ("FU_FormatPath", ("unreadable", "\\"), None, lambda: lib.FU_FormatPath(bad, ord("\\"))),
            ("FU_FormatSlashes", ("unreadable", "\\"), bad,
             lambda: lib.FU_FormatSlashes(bad, ord("\\"))),
        ]
        for function, args, want, call in cases:
            native = difftools.in_child(call)
            self.same(function, args, native, repr(want))


def component_indexes():
    return list(range(8)) + [RNG.choice((8, 100, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF))]


def slash_starts(text):
    if len(text) <= 24:
        return range(len(text) + 1)
    return sorted({0, len(text)} | {RNG.randrange(len(text)) for _ in range(8)})


# ---- inputs -----------------------------------------------------------------

RNG = random.Random()

LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
# Units beyond ASCII: look-alikes of separators and colons, letters whose case
# changes outside the C locale, surrogate halves and non-characters.
WIDE = ("\u00e9\u00c9\u00ff\u0178\u0130\u0131\u017f\u00b5\u03a9\u03c9\u0430\u0410"
        "\u2215\u29f5\uff1a\uff0f\uff3c\uff0e\u00a0\u3000\u007f\u0080\u00a6"
        "\ud800\udbff\udc00\udfff\ufeff\ufffe\uffff")
# (weight, characters): the interesting characters far more often than chance.
ALPHABET = [(20, LETTERS), (8, "UNCunc"), (5, "0123456789"), (8, ":"), (12, "\\"),
            (10, "/"), (9, "."), (8, " "), (6, '?*"'), (3, "<>|"), (1, "\t\x01\x1f"),
            (6, WIDE)]
ALPHABET_WEIGHTS = [w for w, _ in ALPHABET]
NAME_ALPHABET = [(40, LETTERS), (6, "0123456789"), (4, " "), (4, "."), (2, "?*\""),
                 (3, WIDE), (1, ":"), (1, "<|")]
NAME_WEIGHTS = [w for w, _ in NAME_ALPHABET]
ODD_SEPARATORS = ("\0", "x", ":", ".", " ", "\u2215", "\uff3c")


def pick(alphabet, weights):
    return RNG.choice(RNG.choices(alphabet, weights)[0][1])


def raw():
    length = RNG.choice((RNG.randint(0, 6), RNG.randint(0, 16), RNG.randint(0, 48)))
    return "".join(pick(ALPHABET, ALPHABET_WEIGHTS) for _ in range(length))


def name(low=1, high=8):
    if RNG.random() < 0.1:
        return RNG.choice((".", "..", "UNC", "unc", "COM1", "con", "a.b.c"))
    return "".join(pick(NAME_ALPHABET, NAME_WEIGHTS) for _ in range(RNG.randint(low, high)))


def sep():
    return "\\" if RNG.random() < 0.65 else "/"


def tail(low=0, high=4):
    """Directories and a file, each behind a separator except the first."""
    parts = [name() for _ in range(RNG.randint(low, high))]
    text = sep().join(parts)
    if parts and RNG.random() < 0.5:
        text += "." + name(0, 4)
    if RNG.random() < 0.2:
        text += sep()
    return text


def drive():
    text = RNG.choice(LETTERS) + ":"
    roll = RNG.random()
    if roll < 0.7:
        text += sep() + tail()
    elif roll < 0.9:
        text += tail()
    return text


def unc():
    s = sep()
    text = s + s + name()
    if RNG.random() < 0.85:
        text += sep() + name()
        if RNG.random() < 0.7:
            text += sep() + tail()
    return text


def long_prefix():
    if RNG.random() < 0.5:
        return "\\\\?\\" + drive()
    unc_word = "".join(RNG.choice((c, c.lower())) for c in "UNC")
    return "\\\\?\\" + unc_word + sep() + name() + sep() + name() + RNG.choice(("", sep() + tail()))


def device():
    return "\\\\.\\" + RNG.choice((name(), drive(), "COM1", "PhysicalDrive0"))


def url():
    protocol = "".join(RNG.choice(LETTERS) for _ in range(RNG.randint(2, 7)))
    if RNG.random() < 0.2:
        i = RNG.randint(0, len(protocol))
        protocol = protocol[:i] + RNG.choice(".+- 1\u00e9") + protocol[i:]
    text = protocol + "://" + name()
    if RNG.random() < 0.8:
        text += "/" + tail()
    return text


def relative():
    return tail(1, 5)


def long_path():
    target = RNG.randint(250, 700)
    text = RNG.choice((drive, unc, long_prefix, relative))()
    while len(text) < target:
        text += sep() + name(4, 40)
    return text


STRUCTURED = (drive, drive, unc, long_prefix, device, url, relative, relative, long_path)


def mutate(text):
    """One to three edits of the kind that break or shift a component."""
    for _ in range(RNG.randint(1, 3)):
        i = RNG.randint(0, len(text))
        roll = RNG.randrange(10)
        if roll == 0:
            text = text[:i] + pick(ALPHABET, ALPHABET_WEIGHTS) + text[i:]
        elif roll == 1 and text:
            text = text[:i] + text[i + 1:]
        elif roll == 2 and i < len(text):
            text = text[:i] + pick(ALPHABET, ALPHABET_WEIGHTS) + text[i + 1:]
        elif roll == 3:
            seps = [j for j, c in enumerate(text) if model.is_sep(c)]
            if seps:
                j = RNG.choice(seps)
                text = text[:j] + text[j] + text[j:]
        elif roll == 4:
            text = " " * RNG.randint(1, 3) + text
        elif roll == 5:
            text = text + " " * RNG.randint(1, 3)
        elif roll == 6:
            text = "".join(("/" if c == "\\" else "\\") if model.is_sep(c) and RNG.random() < 0.5
                           else c for c in text)
        elif roll == 7:
            text = "".join(RNG.choice((c.lower(), c.upper())) if c in LETTERS else c
                           for c in text)
        elif roll == 8:
            text = text[:i] + RNG.choice((":", ".", "\\", "/", "\\\\", "//")) + text[i:]
        else:
            text = text + sep()
    return text


def generated():
    roll = RNG.random()
    if roll < 0.25:
        return raw()
    text = RNG.choice(STRUCTURED)()
    if roll < 0.55:
        text = mutate(text)
    return text


def related(text):
    """A second path for the comparisons, mostly close to the first."""
    roll = RNG.randrange(9)
    if roll == 0:
        return text
    if roll == 1:
        return "".join(RNG.choice((c.lower(), c.upper())) if c in LETTERS else c for c in text)
    if roll == 2:
        return "".join(("/" if c == "\\" else "\\") if model.is_sep(c) else c for c in text)
    if roll == 3:
        return text[:RNG.randint(0, len(text))]
    if roll == 4:
        return text + RNG.choice(("\\", "/", "a", " ", "\\x"))
    if roll == 5 and text:
        i = RNG.randrange(len(text))
        return text[:i] + pick(ALPHABET, ALPHABET_WEIGHTS) + text[i + 1:]
    if roll == 6:
        return ""
    return generated()


def short_strings():
    """Every string of up to four characters over a small alphabet."""
    alphabet = "\\/:.a ?"
    layer = [""]
    for _ in range(4):
        layer = [s + c for s in layer for c in alphabet]
        yield from layer


def huge_paths():
    """Paths longer than any 16-bit count, which the grammar does not limit."""
    deep = "C:" + "".join("\\dir%05d" % i for i in range(7300)) + "\\file.ext"
    return [deep, " " * 70000 + "media://host/x.y", "a" * 70000 + ".b"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="the native Ferrow library, e.g. build/native/bin/libferrow.so")
    parser.add_argument("--count", type=int, default=20000, help="generated paths (default 20000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    parser.add_argument("--no-fault-checks", action="store_true",
                        help="skip unreadable arguments (for sanitized builds)")
    args = parser.parse_args()

    RNG.seed(args.seed)
    checker = Checker(load(args.library), args.keep_going)
    try:
        checker.nulls()
        if not args.no_fault_checks:
            checker.faults()
        fixed = [p for p, _, _ in model.PARSE_EXAMPLES if p is not None]
        for text in fixed + huge_paths() + list(short_strings()):
            checker.path(text, (0, 1))
        for _ in range(args.count):
            text = generated()
            flags = (0, 1) if RNG.random() < 0.9 else (0, 1, RNG.choice((2, -1, 0x100, -0x80000000)))
            checker.path(text, flags)
            checker.pair(text, related(text))
            checker.pair(related(text), text)
    except Differences:
        pass
    if checker.found:
        print("pathdiff: %d difference(s); %d inputs, %d calls compared"
              % (checker.found, checker.inputs, checker.calls))
        return 1
    print("pathdiff: %d inputs agreed (%d calls compared, seed %d)"
          % (checker.inputs, checker.calls, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
