#!/usr/bin/env python3
"""A plain model of Dravel's dump output: dmp_output, dmp_printf and the dump
file they write, written for clarity.

Text is a str of UTF-16 code units (one character per unit, lone surrogates
allowed, never U+0000). A file is bytes. Dump(files) holds the process-wide
state of one process and a view of the disk: files maps each path the
scenario uses to its bytes, or None when it does not exist; a path the
library cannot open is in `unopenable`. What the library does:

- one dump file at a time; dmp_output(path) with a file open changes
  nothing, dmp_output(None) writes what is buffered and closes it (the
  owner thread becomes none); with no file open, a None or empty path does
  nothing and a path that cannot be opened leaves everything as it was;
- opening: a new or empty file gets the byte-order mark FF FE at once; an
  existing one is appended to, one byte further when its length is odd (the
  byte becomes a 0 when the next write lands behind it); the opening thread
  becomes the owner and the at-line-start flag 0;
- dmp_printf from a thread other than the owner does nothing at all;
  otherwise the whole text goes to Brellu (which emits it when the level
  passes), and with a file open it is cut to 2047 units (the formatting
  buffer holds 2048 with the terminator), its line ends converted with the
  at-line-start flag carried across calls (a CR before a LF is dropped, a CR
  at line start is dropped, any other CR or a LF becomes CR LF, anything else
  is copied), the conversion kept to 2048 units (a CR LF that does not fit
  whole ends it), neither cut leaving half a surrogate pair, and the result
  appended to the 8192-unit file buffer: when
  the buffer would reach 8192, it is filled, written whole (16384 bytes) and
  the rest starts the buffer again, then the file is flushed;
- at unload a dump file still open is written out and closed as by
  dmp_output(None).

Text reaches the file only in these writes, so files is what the disk holds
after every call. Run this file to check the model against worked examples.
"""

import sys

BOM = b"\xff\xfe"
BUFFER = 8192        # units of the file buffer
FORMAT_KEEP = 2047   # units of formatted text kept (a 2048-unit buffer and its terminator)
CONVERTED = 2048     # units the converted text may take
CR, LF = "\r", "\n"


def encode(text):
    return text.encode("utf-16-le", "surrogatepass")


def decode(data):
    return data.decode("utf-16-le", "surrogatepass")


def is_high_surrogate(c):
    return "\ud800" <= c <= "\udbff"


def cut_formatted(text):
    """The formatted text as the 2048-unit buffer keeps it. A cut text that
    ends with a high surrogate loses it too: its partner may be what was cut."""
    if len(text) <= FORMAT_KEEP:
        return text
    text = text[:FORMAT_KEEP]
    return text[:-1] if is_high_surrogate(text[-1]) else text


def convert(text, at_line_start):
    """The converted units of one call and the flag after them. A high
    surrogate is taken only with room for a partner behind it, so that the
    cut never splits a pair."""
    out, units = [], 0
    for i, c in enumerate(text):
        if c == CR and text[i + 1:i + 2] == LF:
            continue
        if c == CR and at_line_start:
            continue
        piece = CR + LF if c in (CR, LF) else c
        if units + (2 if is_high_surrogate(c) else len(piece)) > CONVERTED:
            break
        out.append(piece)
        units += len(piece)
        at_line_start = int(c in (CR, LF))
    return "".join(out), at_line_start


class Dump:
    def __init__(self, files, unopenable=(), brellu_level=None):
        self.files = dict(files)
        self.unopenable = set(unopenable)
        self.brellu_level = brellu_level  # None: Brellu lets every level through
        self.path = None       # the open dump file
        self.owner = None      # the thread that opened it
        self.position = 0      # where the next write lands
        self.buffer = ""
        self.at_line_start = 0
        self.brellu = []       # (user, level, text) that reached the debug output

    # -- the file ---------------------------------------------------------

    def _write(self, text):
        data = self.files[self.path]
        if self.position > len(data):
            data += b"\0" * (self.position - len(data))
        data = data[:self.position] + encode(text)
        self.files[self.path] = data
        self.position = len(data)

    # -- the functions ------------------------------------------------------

    def output(self, path, thread):
        if self.path is not None:
            if path is None:
                if self.buffer:
                    self._write(self.buffer)
                    self.buffer = ""
                self.owner = None
                self.path = None
            return
        if not path or path in self.unopenable:
            return
        self.path = path
        data = self.files.get(path) or b""
        self.files[path] = data
        if not data:
            self.position = 0
            self._write("\ufeff")
        else:
            self.position = len(data) + len(data) % 2
        self.owner = thread
        self.at_line_start = 0

    def printf(self, thread, user, level, text):
        if self.owner is not None and thread != self.owner:
            return
        if self.brellu_level is None or level <= self.brellu_level:
            self.brellu.append((user, level, text))
        if self.path is None:
            return
        converted, self.at_line_start = convert(cut_formatted(text), self.at_line_start)
        if len(self.buffer) + len(converted) < BUFFER:
            self.buffer += converted
            return
        room = BUFFER - len(self.buffer)
        self._write(self.buffer + converted[:room])
        rest = converted[room:]
        if len(rest) > BUFFER:
            # No call can get here while a call adds at most 2048 units.
            self._write(rest)
            rest = ""
        self.buffer = rest

    def unload(self):
        self.output(None, self.owner)


# ---- the formats a scenario uses ---------------------------------------------

def format_text(fmt, args):
    """The text of a wide format with the conversions the checks generate:
    %[-0][width][.precision] then d i u x X c s, %hs, %I64d %I64u %I64x, %%.
    args are (kind, value): int, uint, int64, uint64 (a number), wchar (a
    unit), wstr (a str), str (bytes, read as Latin-1)."""
    out = []
    args = list(args)
    i = 0
    while i < len(fmt):
        c = fmt[i]
        if c != "%":
            out.append(c)
            i += 1
            continue
        j = i + 1
        if fmt[j] == "%":
            out.append("%")
            i = j + 1
            continue
        field = "%"
        while fmt[j] in "-0":
            field += fmt[j]
            j += 1
        while fmt[j].isdigit():
            field += fmt[j]
            j += 1
        if fmt[j] == ".":
            field += "."
            j += 1
            while fmt[j].isdigit():
                field += fmt[j]
                j += 1
        size = ""
        for s in ("I64", "h"):
            if fmt.startswith(s, j):
                size = s
                j += len(s)
        conv = fmt[j]
        kind, value = args.pop(0)
        if conv == "s":
            want = "str" if size == "h" else "wstr"
            assert kind == want, (fmt, kind)
            text = value.decode("latin-1") if kind == "str" else value
            out.append((field + "s") % text)
        elif conv == "c":
            assert kind == "wchar"
            out.append((field + "s") % chr(value))
        else:
            assert conv in "diuxX" and kind in ("int", "uint", "int64", "uint64"), (fmt, kind)
            assert (size == "I64") == (kind in ("int64", "uint64")), (fmt, kind)
            out.append((field + ("d" if conv in "iu" else conv)) % value)
        i = j + 1
    assert not args, fmt
    return "".join(out)


# ---- self-test ---------------------------------------------------------------

def _file_text(dump, path):
    return decode(dump.files[path])


def selftest():
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    # Line ends across calls. A fresh file is not at a line start: a first CR
    # makes an empty line.
    for texts, want in (
            (["a\r\nb"], "a\r\nb"), (["a\nb"], "a\r\nb"), (["a\rb"], "a\r\nb"),
            (["\rSTACK TRACE"], "\r\nSTACK TRACE"), (["x", "\rSTACK TRACE"], "x\r\nSTACK TRACE"),
            (["x\n", "\rSTACK TRACE"], "x\r\nSTACK TRACE"), (["a\r", "\nb"], "a\r\n\r\nb"),
            (["\r\r\r"], "\r\n"), (["a\r\r\rb"], "a\r\nb"), (["a\n\n"], "a\r\n\r\n"),
            (["a\n\r\n"], "a\r\n\r\n"), (["a\n\r"], "a\r\n"), (["a\r\r\nb"], "a\r\n\r\nb"),
            (["\n"], "\r\n"), (["\r"], "\r\n"), (["a", "\r", "\r", "b"], "a\r\nb")):
        dump = Dump({"f": None})
        dump.output("f", 1)
        for text in texts:
            dump.printf(1, 0, 0, text)
        dump.output(None, 1)
        check("line ends of %r" % texts, _file_text(dump, "f"), "\ufeff" + want)

    # The mark of a new or empty file, the pad of an odd one, nothing for an even one.
    for before, want in ((None, BOM + b"h\0"), (b"", BOM + b"h\0"), (b"ab", b"abh\0"),
                         (b"abc", b"abc\0h\0"), (b"\xff\xfeq\0", b"\xff\xfeq\0h\0")):
        dump = Dump({"f": before})
        dump.output("f", 1)
        dump.printf(1, 0, 0, "h")
        dump.output(None, 1)
        check("opening %r" % before, dump.files["f"], want)
    dump = Dump({"f": b"abc"})
    dump.output("f", 1)
    dump.output(None, 1)
    check("odd file, nothing printed", dump.files["f"], b"abc")

    # The buffer: 8191 units wait, the 8192nd writes them all.
    dump = Dump({"f": None})
    dump.output("f", 1)
    for _ in range(8):
        dump.printf(1, 0, 0, "x" * 1000)
    check("8000 units wait", dump.files["f"], BOM)
    dump.printf(1, 0, 0, "y" * 191)
    check("8191 units wait", dump.files["f"], BOM)
    dump.printf(1, 0, 0, "zw")
    check("the 8192nd is written", len(dump.files["f"]), 2 + 16384)
    check("the rest waits", dump.buffer, "w")
    dump.unload()
    check("unload writes the rest", decode(dump.files["f"])[-2:], "zw")

    # The cut: 2047 units formatted, 2048 converted, a CR LF only whole.
    for text, units in (("a" * 2046, 2046), ("a" * 2047, 2047), ("a" * 2048, 2047),
                        ("\n" * 1024, 2048), ("\n" * 1025, 2048), ("a" + "\n" * 1024, 2047),
                        ("a" * 2046 + "\r\n", 2047 + 1)):
        dump = Dump({"f": None})
        dump.output("f", 1)
        dump.printf(1, 0, 0, text)
        check("cut of %d units %r" % (len(text), text[-3:]), len(dump.buffer), units)
    # Neither cut leaves the first half of a surrogate pair.
    for text, tail in (("a" * 2046 + "\ud800\udc00", "aa"), ("a" * 2045 + "\ud800\udc00", "a\ud800\udc00"),
                       ("a" * 2046 + "\ud800", "a\ud800"), ("a" * 2046 + "\ud800z", "aa"),
                       ("\n" + "a" * 2044 + "\ud800\udc00", "a\ud800\udc00"),
                       ("\n" + "a" * 2045 + "\ud800", "aa"), ("\n" + "a" * 2044 + "\ud800\n", "a\ud800"),
                       ("\n" + "a" * 2044 + "b\udc00", "b\udc00")):
        dump = Dump({"f": None})
        dump.output("f", 1)
        dump.printf(1, 0, 0, text)
        check("surrogates at the cut of %d units %r" % (len(text), text[-3:]), dump.buffer[-len(tail):], tail)
    # A CR cut from its LF by the format buffer is a line end of its own.
    dump = Dump({"f": None})
    dump.output("f", 1)
    dump.printf(1, 0, 0, "a" * 2046 + "\r\n")
    dump.printf(1, 0, 0, "\nb")
    check("CR at the cut", dump.buffer[-5:], "\r\n\r\nb")

    # The owner thread, a second path, paths that do nothing.
    dump = Dump({"f": None, "g": None}, unopenable={"bad"})
    dump.output("bad", 1)
    dump.printf(2, 7, 3, "heard")
    dump.output("", 1)
    dump.output("f", 1)
    dump.output("g", 1)
    dump.printf(2, 7, 3, "ignored")
    dump.printf(1, 7, 3, "kept")
    dump.output(None, 2)
    check("second path", dump.files["g"], None)
    check("owner's text", _file_text(dump, "f"), "\ufeffkept")
    check("Brellu", dump.brellu, [(7, 3, "heard"), (7, 3, "kept")])

    check("format", format_text("%d|%-4u|%08x|%X|%3d|%ud|%%|%hs|%s|%.2s|%I64d|%c",
                                [("int", -5), ("uint", 7), ("uint", 0xbeef), ("uint", 0xab),
                                 ("int", 4), ("uint", 9), ("str", b"n\xe9"), ("wstr", "w\u1234"),
                                 ("wstr", "abc"), ("int64", -2 ** 40), ("wchar", 0x263a)]),
          "-5|7   |0000beef|AB|  4|9d|%|n\u00e9|w\u1234|ab|-1099511627776|\u263a")

    for line in failures:
        print(line)
    print("dump model self-test: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
