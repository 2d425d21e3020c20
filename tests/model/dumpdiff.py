#!/usr/bin/env python3
"""Differential check of Dravel's dump output against dumpmodel.

    dumpdiff.py LIBRARY [--count N] [--seed S] [--keep-going]

Runs scenarios, each a sequence of dmp_output and dmp_printf calls from the
main thread and from a second one, in a fresh child process (the dump state
is process-wide, and some scenarios end by unloading the library), and
compares after every call the bytes of every file the scenario uses, and the
texts Brellu emitted with their user and level, with what the model says;
then the files once more after the child has ended. Fixed scenarios come
first, then N generated ones (reproducible from the seed). On a disagreement
it prints the scenario, the call and both answers and exits 1 (after the
first one, or after all with --keep-going). Exit 2: the library cannot be
loaded or lacks a function.
"""

import argparse
import ctypes
import os
import pickle
import queue
import random
import shutil
import sys
import tempfile
import threading
from ctypes import (CFUNCTYPE, POINTER, c_char_p, c_int, c_int64, c_uint, c_uint16, c_uint32,
                    c_uint64, c_void_p)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import difftools  # noqa: E402
import dumpmodel as model  # noqa: E402
from difftools import Differences  # noqa: E402

BRELLU_LEVEL = 100   # Brellu's maximum level in the children: the levels above it are not emitted
# Where the scenarios' files go: every buffer fill flushes the file, which
# costs nothing on a RAM disk.
SCRATCH = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
MAIN, OTHER = "main", "other"

# The paths a scenario may name: key -> (file name in the scenario's directory,
# what it holds before). Two cannot be opened: one in a missing directory, one
# a directory.
PATHS = {
    "new": ("dump.txt", None),
    "empty": ("empty.txt", b""),
    "even": ("old \u00e9ven.txt", b"\xff\xfeo\0l\0d\0\r\0\n\0"),
    "odd": ("odd.txt", b"odd"),
    "one": ("one.txt", b"\xff"),
    "missing": (os.path.join("no such directory", "dump.txt"), None),
    "directory": ("a directory", None),
}
UNOPENABLE = ("missing", "directory")
WATCHED = [key for key in PATHS if key != "directory"]

SIGNATURES = {
    "dmp_output": (None, [c_void_p]),
    "dmp_printf": (None, [c_uint32, c_uint32, c_void_p]),
}
CAPTURE = CFUNCTYPE(None, c_uint32, c_uint32, c_void_p, c_void_p)


def wide(text):
    """A zero-terminated UTF-16 array holding text."""
    return (c_uint16 * (len(text) + 1))(*[ord(c) for c in text], 0)


def units_at(address):
    p = ctypes.cast(address, POINTER(c_uint16))
    units = []
    while p[len(units)]:
        units.append(p[len(units)])
    return "".join(map(chr, units))


def c_args(args):
    """The ctypes values of a format's arguments, and what must stay alive."""
    values, keep = [], []
    for kind, value in args:
        if kind == "wstr":
            array = wide(value)
            keep.append(array)
            values.append(ctypes.cast(array, c_void_p))
        elif kind == "str":
            values.append(c_char_p(value))
        else:
            values.append({"int": c_int, "uint": c_uint, "int64": c_int64, "uint64": c_uint64,
                           "wchar": c_int}[kind](value))
    return values, keep


# ---- a scenario -------------------------------------------------------------
#
# steps: ("open", thread, key or None or "") and
#        ("print", thread, user, level, format, args);
# ending: "close" (a last dmp_output(None), then as "quick"), "unload" (the
# child exits normally, so the library's unload work runs), or "quick" (it
# leaves with _exit: nothing of the library runs).

class Scenario:
    def __init__(self, name, steps, ending="close"):
        self.name = name
        self.steps = list(steps)
        self.ending = ending
        if ending == "close":
            self.steps.append(("open", MAIN, None))
            self.ending = "quick"


def describe(step):
    if step[0] == "open":
        return "dmp_output(%r) on %s" % (step[2], step[1])
    _, thread, user, level, fmt, args = step
    text = model.format_text(fmt, args)
    shown = repr(fmt) if len(fmt) <= 80 else "%r... (%d units)" % (fmt[:60], len(fmt))
    return "dmp_printf(%d, %d, %s, %d args) on %s: text of %d units" % (
        user, level, shown, len(args), thread, len(text))


class Worker:
    """A second thread that runs what it is given, one call at a time."""

    def __init__(self):
        self.jobs = queue.Queue()
        self.done = queue.Queue()
        threading.Thread(target=self.loop, daemon=True).start()

    def loop(self):
        while True:
            self.jobs.get()()
            self.done.put(None)

    def run(self, call):
        self.jobs.put(call)
        self.done.get()


def run_native(library, directory, scenario):
    """In the child: every step, then what changed after it: a list of
    (texts Brellu emitted, {key: ("append", bytes) or ("whole", bytes or None)})."""
    brellu = ctypes.CDLL(os.path.join(os.path.dirname(os.path.abspath(library)), "libbrellu.so"))
    lib = difftools.load("dumpdiff", library, SIGNATURES)
    brellu.BrelluSetDefaultLevel.argtypes = [c_uint32]
    brellu.BrelluSetDefaultLevel(BRELLU_LEVEL)
    emitted = []
    capture = CAPTURE(lambda user, level, text, _: emitted.append((user, level, units_at(text))))
    brellu.BrelluSetCapture.argtypes = [CAPTURE, c_void_p]
    brellu.BrelluSetCapture(capture, None)
    worker = Worker()
    full = {key: os.path.join(directory, name) for key, (name, _) in PATHS.items()}
    seen = {key: read(full[key]) for key in WATCHED}
    report = []
    for step in scenario.steps:
        if step[0] == "open":
            path = None if step[2] is None else wide(full.get(step[2], step[2]))
            address = None if path is None else ctypes.addressof(path)
            call = lambda: lib.dmp_output(address)  # noqa: E731
        else:
            _, _, user, level, fmt, args = step
            values, alive = c_args(args)  # alive: what the values point into
            text = wide(fmt)
            call = lambda: lib.dmp_printf(user, level, ctypes.addressof(text), *values)  # noqa: E731
        if step[1] == MAIN:
            call()
        else:
            worker.run(call)
        changes = {}
        for key in WATCHED:
            now = read(full[key])
            if now != seen[key]:
                if seen[key] is not None and now is not None and now.startswith(seen[key]):
                    changes[key] = ("append", now[len(seen[key]):])
                else:
                    changes[key] = ("whole", now)
                seen[key] = now
        report.append((emitted[:], changes))
        del emitted[:]
    return report


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def leave_normally():
    ctypes.CDLL(None).exit(0)


class Checker:
    def __init__(self, library, keep_going):
        self.library = library
        self.keep_going = keep_going
        self.found = 0
        self.scenarios = 0
        self.calls = 0

    def report(self, scenario, where, what, native, expected):
        self.found += 1
        print("DIFFERENCE in scenario %s, %s" % (scenario.name, where))
        print("    %s" % what)
        print("    native: %s" % native)
        print("    model:  %s" % expected)
        print("    the calls:")
        for i, step in enumerate(scenario.steps):
            print("      %3d %s" % (i, describe(step)))
        print("      end: %s" % scenario.ending)
        sys.stdout.flush()
        if not self.keep_going:
            raise Differences()

    def files_differ(self, scenario, where, native, expected):
        for key in WATCHED:
            if native[key] != expected[key]:
                self.report(scenario, where, "file %r" % key, *file_difference(native[key], expected[key]))
                return True
        return False

    def run(self, scenario):
        self.scenarios += 1
        self.calls += len(scenario.steps)
        directory = tempfile.mkdtemp(prefix="dumpdiff-", dir=SCRATCH)
        try:
            self.run_in(directory, scenario)
        finally:
            shutil.rmtree(directory)

    def run_in(self, directory, scenario):
        files = {}
        for key, (name, content) in PATHS.items():
            files[key] = content
            if content is not None:
                with open(os.path.join(directory, name), "wb") as f:
                    f.write(content)
        os.mkdir(os.path.join(directory, PATHS["directory"][0]))

        answer = difftools.in_child(lambda: run_native(self.library, directory, scenario),
                                    lambda report: pickle.dumps(report).hex(),
                                    leave_normally if scenario.ending == "unload" else None)
        try:
            report = pickle.loads(bytes.fromhex(answer))
        except ValueError:
            self.report(scenario, "the run", "the child process", answer or "ended without an answer",
                        "a report of every call")
            return

        dump = model.Dump({key: files[key] for key in WATCHED}, UNOPENABLE, BRELLU_LEVEL)
        native_files = {key: files[key] for key in WATCHED}
        for i, (step, (emitted, changes)) in enumerate(zip(scenario.steps, report)):
            brellu_before = len(dump.brellu)
            if step[0] == "open":
                dump.output(step[2], step[1])
            else:
                _, thread, user, level, fmt, args = step
                dump.printf(thread, user, level, model.format_text(fmt, args))
            for key, (how, data) in changes.items():
                native_files[key] = native_files[key] + data if how == "append" else data
            where = "after call %d, %s" % (i, describe(step))
            expected = dump.brellu[brellu_before:]
            if emitted != expected:
                self.report(scenario, where, "what Brellu emitted", shown_texts(emitted),
                            shown_texts(expected))
                return
            if self.files_differ(scenario, where, native_files, dump.files):
                return

        if scenario.ending == "unload":
            dump.unload()
        native_files = {key: read(os.path.join(directory, PATHS[key][0])) for key in WATCHED}
        self.files_differ(scenario, "after the child ended (%s)" % scenario.ending, native_files,
                          dump.files)


def shown_texts(texts):
    out = []
    for user, level, text in texts:
        shown = repr(text) if len(text) <= 80 else "%r...%r (%d units)" % (text[:40], text[-20:], len(text))
        out.append("(%d, %d, %s)" % (user, level, shown))
    return "[%s]" % ", ".join(out)


def file_difference(native, expected):
    """The two contents shortened about where they first differ."""
    if native is None or expected is None:
        return (repr(None) if native is None else "%d bytes" % len(native),
                repr(None) if expected is None else "%d bytes" % len(expected))
    at = 0
    while at < min(len(native), len(expected)) and native[at] == expected[at]:
        at += 1
    start = max(0, at - 16 - at % 2)

    def excerpt(data):
        return "%d bytes, from byte %d: %s" % (len(data), start, data[start:start + 48].hex(" "))
    return ("differ at byte %d; %s" % (at, excerpt(native)), excerpt(expected))


# ---- inputs -----------------------------------------------------------------

RNG = random.Random()

LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .:;-=()[]"
# Units that are no line end but look like one to a careless eye or encoder,
# the byte-order mark, surrogate halves, and units of every byte pattern.
ODD = "\u0085\u2028\u2029\u000b\u000c\t\ufeff\ufffe\uffff\ud800\udbff\udc00\udfff\u00e9\u0100\u4e2d\u0a0d\u0d0a"
LINE_ENDS = ("\n", "\r", "\r\n", "\n\r", "\r\r", "\r\r\n")

CONVERSIONS = [  # (format, kind, how to make a value)
    ("%d", "int", lambda: RNG.choice((0, 1, -1, 42, -2 ** 31, 2 ** 31 - 1, RNG.randint(-99999, 99999)))),
    ("%i", "int", lambda: RNG.randint(-1000, 1000)),
    ("%u", "uint", lambda: RNG.choice((0, 7, 2 ** 32 - 1, RNG.getrandbits(32)))),
    ("%ud", "uint", lambda: RNG.getrandbits(16)),
    ("%x", "uint", lambda: RNG.getrandbits(32)),
    ("%X", "uint", lambda: RNG.getrandbits(32)),
    ("%08x", "uint", lambda: RNG.getrandbits(RNG.choice((8, 32)))),
    ("%3d", "int", lambda: RNG.randint(-50, 5000)),
    ("%-6d", "int", lambda: RNG.randint(-50, 500)),
    ("%5u", "uint", lambda: RNG.getrandbits(20)),
    ("%I64d", "int64", lambda: RNG.choice((-2 ** 63, 2 ** 63 - 1, RNG.getrandbits(48) - 2 ** 47))),
    ("%I64u", "uint64", lambda: RNG.getrandbits(64)),
    ("%I64x", "uint64", lambda: RNG.getrandbits(64)),
    ("%c", "wchar", lambda: ord(RNG.choice(LETTERS + ODD + "\r\n"))),
    ("%s", "wstr", lambda: words(0, 12)),
    ("%10s", "wstr", lambda: words(0, 14)),
    ("%.3s", "wstr", lambda: words(0, 6)),
    ("%-8s", "wstr", lambda: words(0, 10)),
    ("%hs", "str", lambda: bytes(RNG.choice(b"abc xyz\r\n\x80\xa0\xe9\xff") for _ in range(RNG.randint(0, 10)))),
]


def words(low, high):
    out = []
    for _ in range(RNG.randint(low, high)):
        roll = RNG.random()
        if roll < 0.75:
            out.append(RNG.choice(LETTERS))
        elif roll < 0.9:
            out.append(RNG.choice(LINE_ENDS))
        else:
            out.append(RNG.choice(ODD))
    return "".join(out)


def literal(low, high):
    return words(low, high).replace("%", "%%")


def short_print():
    """A format of literal text and a few conversions, and its arguments."""
    fmt, args = RNG.choice(("", "\r", "\n")), []
    for _ in range(RNG.randint(0, 4)):
        fmt += literal(0, 8)
        if RNG.random() < 0.7:
            conv, kind, value = RNG.choice(CONVERSIONS)
            fmt += conv
            args.append((kind, value()))
        elif RNG.random() < 0.3:
            fmt += "%%"
    fmt += RNG.choice(("", "", "\n", "\r\n", "\r", literal(0, 3)))
    return fmt, args


def long_print():
    """Texts about and beyond the 2048-unit buffers: long literals, long
    arguments, wide fields."""
    roll = RNG.randrange(4)
    n = RNG.choice((RNG.randint(1, 4000), RNG.randint(2040, 2056), RNG.randint(900, 1100)))
    if roll == 0:
        return "".join(RNG.choice(LETTERS) for _ in range(n)), []
    if roll == 1:
        return literal(0, 5) + "%s" + literal(0, 5), [("wstr", words(n, n))]
    if roll == 2:
        return "%%%dd|%%s" % n, [("int", RNG.randint(-9, 9)), ("wstr", words(0, 5))]
    return "%s%hs", [("wstr", "x" * n), ("str", b"\r\n" * RNG.randint(0, 3))]


def sized_print(length, ending=None):
    """A text of exactly `length` units (after formatting), its last units
    chosen to sit on the cut."""
    ending = ending if ending is not None else RNG.choice(("", "\n", "\r", "\r\n", "ab", "\n\n"))
    body = "".join(RNG.choice(LETTERS) for _ in range(max(0, length - len(ending))))
    text = (body + ending)[-length:] if length else ""
    if RNG.random() < 0.5:
        return text.replace("%", "%%"), []
    return "%s", [("wstr", text)]


def doubling_print():
    """Text that grows in the conversion: line feeds and lone CRs."""
    n = RNG.choice((RNG.randint(1000, 1030), RNG.randint(1, 2100), 1023, 1024, 1025, 2047))
    unit = RNG.choice(("\n", "\n", "a\r", "a\n", "\r\n", "\n\r"))
    text = (unit * n)[:n]
    if RNG.random() < 0.3:
        text = RNG.choice(LETTERS) + text
    return "%s", [("wstr", text)]


def a_print(thread=MAIN):
    roll = RNG.random()
    if roll < 0.6:
        fmt, args = short_print()
    elif roll < 0.8:
        fmt, args = long_print()
    elif roll < 0.9:
        fmt, args = doubling_print()
    else:
        fmt, args = sized_print(RNG.choice((2046, 2047, 2048, 2049, 2050, 1, 0)))
    return print_step(thread, fmt, args)


def print_step(thread, fmt, args):
    level = RNG.choice((0, 0, 1, 3, 10, 30, 99, 100, 101, 0xFFFFFFFF))
    return ("print", thread, RNG.choice((0, 0, 1, 7, 0x8000, 0xFFFFFFFF)), level, fmt, args)


def thread():
    return OTHER if RNG.random() < 0.15 else MAIN


def open_step(key=None, who=MAIN):
    if key is None:
        key = RNG.choice(("new", "new", "empty", "even", "odd", "one", "missing", "directory", ""))
    return ("open", who, key)


def mixed():
    """Opens, prints from both threads, closes and reopens, in any order."""
    steps = [open_step(who=thread())] if RNG.random() < 0.85 else []
    for _ in range(RNG.randint(1, 40)):
        roll = RNG.random()
        if roll < 0.75:
            steps.append(a_print(thread()))
        elif roll < 0.85:
            steps.append(("open", thread(), None))
        else:
            steps.append(open_step(who=thread()))
    return Scenario("mixed", steps, RNG.choice(("close", "unload", "quick")))


def volume():
    """Enough text to fill the buffer several times, in calls of every size."""
    steps = [open_step(RNG.choice(("new", "even", "odd")))]
    total = RNG.randint(9000, 60000)
    while total > 0:
        step = a_print(MAIN) if RNG.random() < 0.4 else print_step(MAIN, *long_print())
        steps.append(step)
        total -= len(model.format_text(step[4], step[5]))
        if RNG.random() < 0.03:
            steps.append(a_print(OTHER))
    if RNG.random() < 0.5:
        steps.append(("open", MAIN, None))
    return Scenario("volume", steps, RNG.choice(("close", "unload", "quick")))


def fills():
    """Calls that bring the buffer to 8191, 8192 or 8193 units, and past."""
    steps = [open_step(RNG.choice(("new", "odd")))]
    dump = model.Dump({"new": None, "odd": b"odd"})
    dump.output(steps[0][2], MAIN)
    for _ in range(RNG.randint(1, 4)):
        # Units to add until the buffer holds target units (or would have).
        need = model.BUFFER + RNG.choice((-2, -1, 0, 0, 1, 2)) - len(dump.buffer)
        while need > 0:
            if need > model.FORMAT_KEEP:
                step = print_step(MAIN, *sized_print(RNG.randint(min(need // 3, 1000), model.FORMAT_KEEP), ""))
            else:
                ending = RNG.choice(("", "", "\n")) if need >= 2 else ""
                step = print_step(MAIN, *sized_print(need - (ending == "\n"), ending))
            steps.append(step)
            before = dump.at_line_start
            text = model.format_text(step[4], step[5])
            need -= len(model.convert(model.cut_formatted(text), before)[0])
            dump.printf(MAIN, 0, 0, text)
    return Scenario("fills", steps, RNG.choice(("close", "close", "unload")))


GENERATED = (mixed, mixed, mixed, volume, fills)


def fixed():
    """Scenarios for each rule, built by hand."""
    out = []

    def add(name, steps, ending="close"):
        out.append(Scenario(name, steps, ending))

    def p(fmt, *args, who=MAIN, user=0, level=0):
        return ("print", who, user, level, fmt, list(args))

    for key in ("new", "empty", "even", "odd", "one"):
        add("open %s, print, close" % key, [open_step(key), p("hello\n"), ("open", MAIN, None)], "quick")
        add("open %s, close at once" % key, [open_step(key), ("open", MAIN, None)], "quick")
        add("open %s, left open at unload" % key, [open_step(key), p("left %d\n", ("int", 5))], "unload")
        add("open %s, left open without unload" % key, [open_step(key), p("lost")], "quick")
        add("open %s twice" % key, [open_step(key), p("a"), ("open", MAIN, None), open_step(key),
                                    p("b\n"), ("open", MAIN, None)])
    for key in ("missing", "directory", ""):
        add("open %s fails" % key, [open_step(key), p("to Brellu\n"), p("other", who=OTHER),
                                    open_step("new"), p("now the file\n"), ("open", MAIN, None)])
    add("close without a file", [("open", MAIN, None), p("x"), ("open", MAIN, None)])
    add("second path", [open_step("new"), p("one"), open_step("even"), p("two"), open_step("odd"),
                        ("open", MAIN, None)])
    add("the owner thread", [open_step("new"), p("mine\n"), p("not yours\n", who=OTHER),
                             ("open", OTHER, None), p("after the close", who=OTHER)])
    add("opened by the other thread", [open_step("new", OTHER), p("ignored\n"), p("kept\n", who=OTHER),
                                       ("open", MAIN, None), p("to Brellu only\n")])
    add("a CR starts a line unless one just began",
        [open_step("new"), p("\rSTACK TRACE"), p("x"), p("\rSTACK TRACE\n"), p("\rSTACK TRACE"),
         p("a\r\nb"), p("a\nb"), p("a\rb"), p("a\r"), p("\nb\r"), p("\r"), p("\r\r\n")])
    add("user and level passed on", [open_step("new"), p("%u %d", ("uint", 9), ("int", -9), user=12345, level=99),
                                     p("filtered\n", level=101), p("mute", user=7, level=0xFFFFFFFF)])
    add("formats", [open_step("new"), p("%08x|%X|%3d|%ud|%hs|%s|%I64d|%%|%c\n", ("uint", 0xbeef), ("uint", 0xab),
                                        ("int", 7), ("uint", 4), ("str", b"n\xe9\r\n"), ("wstr", "w\u4e2d\r"),
                                        ("int64", -2 ** 40), ("wchar", 0x263a))])
    # The cut at every bound, with plain text, a CR LF across it, and text that doubles.
    for n in (2046, 2047, 2048, 2049):
        for ending in ("", "\n", "\r", "\r\n", "\n\n"):
            add("%d units ending %r" % (n, ending), [open_step("new"), p(*sized_text(n, ending)),
                                                       p("\nnext")])
    for n in (1022, 1023, 1024, 1025, 1026, 2047, 2048, 3000):
        add("%d line feeds" % n, [open_step("new"), p("%s", ("wstr", "\n" * n)), p("z")])
        add("a and %d line feeds" % n, [open_step("new"), p("%s", ("wstr", "a" + "\n" * n)), p("z")])
        add("%d lone CRs" % n, [open_step("new"), p("%s", ("wstr", "a\r" * (n // 2))), p("z")])
    # Neither cut splits a surrogate pair; lone halves elsewhere are copied.
    for text in ("a" * 2046 + "\ud800\udc00", "a" * 2045 + "\ud800\udc00z", "a" * 2046 + "\ud800",
                 "a" * 2046 + "\ud800z", "\n" + "a" * 2044 + "\ud800\udc00", "\n" + "a" * 2045 + "\ud800",
                 "\n" + "a" * 2044 + "\ud800\n", "\n\n" + "a" * 2043 + "\ud800z", "\udc00\ud800\n\ud800"):
        add("surrogates %r" % text[-3:], [open_step("new"), p("%s", ("wstr", text)), p("z")])
    # The buffer: filled exactly, by one unit more, and many times over.
    add("8191 then 1", [open_step("new")] + [p("x" * 2047)] * 4 + [p("yyy"), p("z")])
    add("8192 at once", [open_step("new")] + [p("x" * 2048)] * 4 + [p("after")])
    add("8193", [open_step("odd")] + [p("x" * 2000)] * 4 + [p("y" * 193)] + [p("z")])
    add("many fills", [open_step("new")] + [p("%s\n", ("wstr", "q" * 1500))] * 40, "quick")
    add("many fills, unloaded", [open_step("even")] + [p("%s\n", ("wstr", "q" * 1500))] * 40, "unload")
    return out


def sized_text(n, ending):
    body = "s" * max(0, n - len(ending))
    return "%s", ("wstr", (body + ending)[-n:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("library", help="the native Dravel library, e.g. build/native/bin/libdravel.so")
    parser.add_argument("--count", type=int, default=300, help="generated scenarios (default 300)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    args = parser.parse_args()

    RNG.seed(args.seed)
    # Fails early when the library is unusable, without loading it here: every
    # scenario must begin in a process that has never run it.
    if difftools.in_child(lambda: difftools.load("dumpdiff", args.library, SIGNATURES) and "ok", str) != "ok":
        return 2
    checker = Checker(args.library, args.keep_going)
    scenarios = fixed()
    scenarios += [RNG.choice(GENERATED)() for _ in range(args.count)]
    try:
        for scenario in scenarios:
            checker.run(scenario)
    except Differences:
        pass
    if checker.found:
        print("dumpdiff: %d difference(s); %d scenarios, %d calls compared"
              % (checker.found, checker.scenarios, checker.calls))
        return 1
    print("dumpdiff: %d scenarios agreed (%d calls, %d generated, seed %d)"
          % (checker.scenarios, checker.calls, args.count, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
