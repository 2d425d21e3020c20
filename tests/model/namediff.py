#!/usr/bin/env python3
"""Differential check of Dravel's TranslateExportedName against namemodel.

    namediff.py LIBRARY [--count N] [--seed S] [--keep-going]

Asks the native library and the model about the same names: worked examples,
names and texts at the 255/256-byte bounds, every short name over the marker
characters, and N generated decorated names (reproducible from the seed). On
a disagreement it prints the name and both answers and exits 1 (after the
first one, or after all with --keep-going). Exit 2: the library cannot be
loaded or lacks the function.

Every name is passed with its terminator as the last readable byte before an
inaccessible page, in a page the call may not write, and the text buffer is
256 bytes that end where an inaccessible page begins: a read past the name
or a write past the buffer (or into the name) kills the call, which runs in a
child process and is reported with its name. The worked examples run once
more in plain buffers followed by marked bytes, to show what a stray write
changed.
"""

import argparse
import ctypes
import mmap
import os
import random
import sys
from ctypes import c_int, c_size_t, c_void_p

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import difftools  # noqa: E402
import namemodel as model  # noqa: E402
from difftools import Differences  # noqa: E402

TEXT = 256   # the buffer callers give
MARK = 0xA5  # fills the text buffer and the bytes behind the buffers
SPARE = 32
PAGE = mmap.PAGESIZE
PROT_NONE = 0
LONGEST = PAGE - 1  # the longest name a page holds with its terminator

_libc = ctypes.CDLL(None, use_errno=True)
_libc.mprotect.argtypes = [c_void_p, c_size_t, c_int]
_libc.mprotect.restype = c_int


def load(path):
    return difftools.load("namediff", path, {"TranslateExportedName": (c_int, [c_void_p, c_void_p])})


def _protect(address, prot):
    if _libc.mprotect(address, PAGE, prot) != 0:
        difftools.unusable("namediff", "mprotect failed: errno %d" % ctypes.get_errno())


def _text_of(buffer):
    """What a text buffer holds up to its terminator."""
    end = buffer.find(b"\0")
    return buffer + b" <no terminator>" if end < 0 else buffer[:end]


class Fenced:
    """Four pages: the text buffer at the end of the first, the name at the
    end of the third; the second and fourth are inaccessible."""

    def __init__(self):
        self.map = mmap.mmap(-1, 4 * PAGE)
        self.base = ctypes.addressof(ctypes.c_char.from_buffer(self.map))
        _protect(self.base + PAGE, PROT_NONE)
        _protect(self.base + 3 * PAGE, PROT_NONE)

    def call(self, lib, name):
        start = 3 * PAGE - len(name) - 1
        _protect(self.base + 2 * PAGE, mmap.PROT_READ | mmap.PROT_WRITE)
        self.map[start:3 * PAGE] = name + b"\0"
        _protect(self.base + 2 * PAGE, mmap.PROT_READ)
        out = PAGE - TEXT
        self.map[out:PAGE] = bytes([MARK]) * TEXT
        result = lib.TranslateExportedName(self.base + start, self.base + out)
        return result, _text_of(self.map[out:PAGE])


def marked_call(lib, name):
    """The call in ordinary buffers followed by marked bytes: (result, text,
    what changed outside the text)."""
    source = name + b"\0" + bytes([MARK]) * SPARE
    name_buf = ctypes.create_string_buffer(source, len(source))
    text_buf = ctypes.create_string_buffer(bytes([MARK]) * (TEXT + SPARE), TEXT + SPARE)
    result = lib.TranslateExportedName(ctypes.addressof(name_buf), ctypes.addressof(text_buf))
    faults = []
    if name_buf.raw != source:
        faults.append("changed the name")
    behind = [i for i, b in enumerate(text_buf.raw[TEXT:], TEXT) if b != MARK]
    if behind:
        faults.append("wrote behind the text buffer at %d..%d" % (behind[0], behind[-1]))
    return result, _text_of(text_buf.raw[:TEXT]), tuple(faults)


def first_difference(a, b):
    n = 0
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    return n


def answer(value):
    """(result, text[, faults]) with a long text shortened."""
    result, text = value[0], value[1]
    if len(text) > 90:
        text = "%r...%r (%d bytes)" % (text[:40], text[-30:], len(text))
    else:
        text = repr(text)
    faults = value[2] if len(value) > 2 else ()
    return " ".join([str(result), text] + (["[%s]" % ", ".join(faults)] if faults else []))


def shown(name):
    if len(name) > 70:
        return "%r... (%d bytes)" % (name[:70], len(name))
    return repr(name)


class Checker:
    def __init__(self, lib, keep_going):
        self.lib = lib
        self.keep_going = keep_going
        self.fenced = Fenced()
        self.names = 0

    def report(self, how, name, native, expected):
        print("DIFFERENCE in TranslateExportedName(%s)%s" % (shown(name), how))
        print("    native: %s" % answer(native))
        print("    model:  %s" % answer(expected))
        if native[1] != expected[1]:
            print("    texts differ from byte %d" % first_difference(native[1], expected[1]))
        sys.stdout.flush()
        if not self.keep_going:
            raise Differences()
        return 1

    def fenced_name(self, name):
        native = self.fenced.call(self.lib, name)
        expected = model.translate(name)
        return 0 if native == expected else self.report("", name, native, expected)

    def marked_name(self, name):
        native = marked_call(self.lib, name)
        expected = model.translate(name) + ((),)
        return 0 if native == expected else self.report(" in marked buffers", name, native, expected)

    def run(self, names, step):
        found, deaths = difftools.each_in_child(len(names), lambda i: step(names[i]), self.keep_going)
        for i, how in deaths:
            print("DIFFERENCE in TranslateExportedName(%s): the call %s" % (shown(names[i]), how))
            print("    model:  %r" % (model.translate(names[i]),))
        self.names += len(names)
        return found


# ---- inputs -----------------------------------------------------------------

RNG = random.Random()

IDENT = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_$"
ODD = bytes(range(1, 32)) + bytes(range(0x7F, 0x100)) + b"%% ?@_#:~<>,."
MARKERS = b"?@_0123456789%"


def one(choices):
    return bytes([RNG.choice(choices)])


def ident(low=1, high=10):
    return bytes(RNG.choice(IDENT) for _ in range(RNG.randint(low, high)))


def odd_bytes(n):
    return bytes(RNG.choice(ODD) for _ in range(n))


def digits():
    return str(RNG.choice((0, 4, 8, 12, 16, 100, 65536, 4294967296))).encode()


def stdcall():
    name = b"_" + ident()
    if RNG.random() < 0.3:
        name += b"@" + ident(0, 4)  # an "@" inside the name: the last one splits
    return name + b"@" + RNG.choice((digits(), b"", ident(0, 3)))


def cdecl():
    return b"_" + RNG.choice((ident(), b"", b"_" + ident()))


def plain():
    return RNG.choice((ident(), ident() + b"@" + digits(), odd_bytes(RNG.randint(1, 6)) + ident()))


def scope():
    """The scopes of a member: classes, namespaces, nested names."""
    return b"@".join(ident() for _ in range(RNG.randint(1, 3)))


def tail():
    """What follows the "@@": access and type codes with a few "@"."""
    parts = [bytes(RNG.choice(b"ABCDEGHIKMNPQSUVXYZ_0123456789?$") for _ in range(RNG.randint(0, 6)))
             for _ in range(RNG.randint(1, 4))]
    text = b"@".join(parts)
    if RNG.random() < 0.3:
        text += RNG.choice((b"@", b"@@", b"@Z", b"@@Z", b"V0@@Z", b"0@@"))
    return text


def member():
    body = b"?" + ident() + b"@"
    if RNG.random() < 0.8:
        body += scope()
    body += b"@@"
    if RNG.random() < 0.35:
        body += one(b"0123456789")
    return body + tail()


def special():
    code = RNG.choice((b"0", b"0", b"0", b"1", b"2", b"3", b"4", b"5", b"7", b"A", b"R", b"?", b"@"))
    name = b"??" + code + RNG.choice((ident(), scope(), b"")) + b"@@"
    if code == b"0" and RNG.random() < 0.5:
        return name + RNG.choice((b"QAE@ABV0@@Z", b"QAE@PBG@Z", b"QAE@XZ", b"QAE@", b"",
                                  b"QAE@AAV0@@Z", b"QAE@ABV1@@Z"))
    return name + tail()


def internal():
    return b"??_" + one(b"0123456789ABCDEFGR") + RNG.choice((ident(), b"", b"?AV" + ident())) \
        + RNG.choice((b"@@6B@", b"@@", b"@", b"", b"@@8"))


SHAPES = (stdcall, stdcall, cdecl, plain, member, member, member, special, special, special, internal)


def mutate(name):
    for _ in range(RNG.randint(1, 3)):
        i = RNG.randint(0, len(name))
        roll = RNG.randrange(7)
        if roll == 0:
            name = name[:i] + one(MARKERS) + name[i:]
        elif roll == 1:
            name = name[:i] + name[i + 1:]
        elif roll == 2 and i < len(name):
            name = name[:i] + one(MARKERS + ODD) + name[i + 1:]
        elif roll == 3:
            name = name[:i]
        elif roll == 4:
            name = name[:i] + RNG.choice((b"@@", b"@", b"??", b"?", b"%s", b"%n")) + name[i:]
        elif roll == 5:
            name = RNG.choice((b"?", b"??", b"_", b"??_", b"@")) + name
        else:
            name = name + odd_bytes(RNG.randint(1, 3))
    return name


def lengthen(name):
    """The name grown about the bounds: its parts made long, or padding put
    where the rules look, so that markers sit just inside or outside the 255
    bytes the function reads."""
    target = RNG.choice((RNG.randint(240, 270), RNG.randint(250, 260), RNG.randint(270, 1200)))
    if len(name) >= target:
        return name
    pad = bytes(RNG.choice(IDENT) for _ in range(target - len(name)))
    at = RNG.choice((0, 1, 2, 3, len(name) // 2, len(name))) if name else 0
    return name[:at] + pad + name[at:]


def generated():
    name = RNG.choice(SHAPES)()
    roll = RNG.random()
    if roll < 0.3:
        name = mutate(name)
    if RNG.random() < 0.15:
        name = lengthen(name)
    return name.replace(b"\0", b"")[:LONGEST]


def short_names():
    """Every name of up to six bytes over the markers the rules read."""
    alphabet = [bytes([c]) for c in b"?@_01a"]
    layer = [b""]
    yield b""
    for _ in range(6):
        layer = [s + c for s in layer for c in alphabet]
        yield from layer


def bounds():
    """Names around the 255 bytes read and texts around the 255 bytes
    written, in every rule."""
    names = []
    for n in range(250, 260):
        names += [b"_" + b"s" * (n - 3) + b"@8", b"_" + b"c" * (n - 1), b"p" * n,
                  b"?" + b"m" * (n - 8) + b"@C@@QAE", b"?" + b"m" * (n - 7) + b"@C@@2HA",
                  b"??_7" + b"C" * (n - 8) + b"@@6B", b"??1" + b"C" * (n - 8) + b"@@QAE",
                  b"??0" + b"C" * (n - 6) + b"@@X@", b"??" + b"?" * n]
        # Markers that fall out of the copy one byte at a time.
        names += [b"?" + b"m" * (n - 3) + b"@@2", b"??0C" + b"a" * (n - 8) + b"@@@@",
                  b"??_" + b"x" * (n - 4) + b"@", b"_" + b"x" * (n - 2) + b"@"]
    # Texts of 254 to 257 bytes, and rules that repeat a long class.
    for n in range(243, 252):
        names += [b"_" + b"x" * n + b"@4", b"x" * (n + 5), b"?m@" + b"C" * (n - 6) + b"@@QAE"]
    for k in (40, 60, 84, 85, 86, 120, 126, 127, 128, 250):
        klass = b"K" * k
        names += [b"??0" + klass + b"@@X@0@@", b"??0" + klass + b"@@X@Y@", b"??1" + klass + b"@@X",
                  b"??0" + klass + b"@@X@"]
    names += [b"A" * LONGEST, b"??0" + b"@" * (LONGEST - 3), b"?" + b"@" * (LONGEST - 1)]
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="the native Dravel library, e.g. build/native/bin/libdravel.so")
    parser.add_argument("--count", type=int, default=20000, help="generated names (default 20000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    args = parser.parse_args()

    RNG.seed(args.seed)
    checker = Checker(load(args.library), args.keep_going)
    examples = [name for name, _, _ in model.EXAMPLES]
    fixed = examples + bounds() + list(short_names())
    names = fixed + [generated() for _ in range(args.count)]
    found = checker.run(examples + bounds(), checker.marked_name)
    if not found or args.keep_going:
        found += checker.run(names, checker.fenced_name)
    if found:
        print("namediff: %d difference(s) in %d calls" % (found, checker.names))
        return 1
    print("namediff: %d names agreed (%d fixed, %d generated, seed %d)"
          % (len(names), len(fixed), args.count, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
