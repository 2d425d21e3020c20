#!/usr/bin/env python3
"""Writes older text settings files and the store that importing each should
leave, as inimodel predicts it.

    inigen.py OUTDIR [--count N] [--seed S]

OUTDIR receives case_NNNN.ini and case_NNNN.expected for the worked examples
of inimodel and N generated files (reproducible from the seed). An expected
file has one line per setting in stored order (sections are implied by the
order), four fields separated by tabs:

    section  name  tag  value

section and name are the stored bytes in hexadecimal, tag is hexadecimal, and
value is the stored bytes in hexadecimal, except for a timecode: "timecode:"
and the hexadecimal UTF-16 (little-endian, no terminator) of the text that the
timecode library turns into the value. An empty file is an empty store.
"""

import argparse
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inimodel as model  # noqa: E402

RNG = random.Random()

LETTERS = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
HIGH = bytes(range(0x80, 0x100))
BLANKS = bytes(range(0x0E, 0x21))
ODD_LINE_ENDS = bytes(range(0x01, 0x0D))


def choose(*weighted):
    """One of (weight, value) pairs; a callable value is called."""
    value = RNG.choices([v for _, v in weighted], [w for w, _ in weighted])[0]
    return value() if callable(value) else value


def some(alphabet, low, high):
    return bytes(RNG.choice(alphabet) for _ in range(RNG.randint(low, high)))


def blanks(high=3):
    if RNG.random() < 0.6:
        return b""
    return bytes(0x20 if RNG.random() < 0.7 else RNG.choice(BLANKS)
                 for _ in range(RNG.randint(1, high)))


def flip_case(data):
    return bytes(b ^ 0x20 if (0x41 <= b <= 0x5A or 0x61 <= b <= 0x7A) and RNG.random() < 0.5
                 else b for b in data)


# ---- names ---------------------------------------------------------------------

def name_byte():
    return choose((60, lambda: RNG.choice(LETTERS)), (10, lambda: RNG.choice(b"0123456789")),
                  (5, 0x20), (5, lambda: RNG.choice(b"_.-#$")), (6, lambda: RNG.choice(HIGH)),
                  (2, lambda: RNG.choice(BLANKS)), (1, ord("]")), (1, ord(",")))


def fresh_name(low=1, high=10):
    if RNG.random() < 0.02:
        return bytes(RNG.choice(LETTERS) for _ in range(RNG.randint(200, 400)))
    first = RNG.choice(LETTERS) if RNG.random() < 0.8 else name_byte()
    if first <= 0x20:
        first = ord("x")
    return bytes([first]) + bytes(name_byte() for _ in range(RNG.randint(low, high) - 1))


class Names:
    """Names met so far, so that later ones repeat them (in either case)."""

    def __init__(self):
        self.seen = []

    def get(self, again=0.3, **kw):
        if self.seen and RNG.random() < again:
            name = RNG.choice(self.seen)
            return flip_case(name) if RNG.random() < 0.4 else name
        name = fresh_name(**kw)
        self.seen.append(name)
        return name


# ---- types and values --------------------------------------------------------------

IGNORED = (model.BIN, model.FONT, 0x0001, 0x03FF, 0x10000, model.SECTION, 0, 0x4400, 0x0401)


def spell_type(tag):
    """Ways of writing a tag that "%x" reads as the tag."""
    digits = "%X" % tag
    return choose(
        (30, digits.encode()),
        (8, digits.lower().encode()),
        (6, ("0" * RNG.randint(1, 3) + digits).encode()),
        (6, ("0x" + digits).encode()),
        (3, ("0X" + digits.lower()).encode()),
        (3, ("+" + digits).encode()),
        (3, ("-%X" % ((-tag) % 2**32)).encode()),
        (3, ("1%08X" % tag).encode()),                   # wraps to the tag
        (6, (digits + RNG.choice(("g", "z", " x", ".", "h", " 1", "\x0f"))).encode()),
        (8, digits.encode() + blanks(2)),                # blanks before the comma
    )


def type_text():
    return choose(
        (80, lambda: spell_type(RNG.choice(model.IMPORTED))),
        (10, lambda: spell_type(RNG.choice(IGNORED))),
        (4, lambda: some(b"ghijklmnopqrstuvwxyz?!", 1, 4)),   # no number at all
        (3, lambda: RNG.choice((b"40O", b"4oo", b"-", b"+", b"x400"))),
        (3, lambda: some(LETTERS + b"0123456789", 1, 6)),
    )


def decimal(bits, signed):
    top = 2**bits
    value = choose((30, lambda: RNG.randint(-1000, 1000)),
                   (15, lambda: RNG.randint(-top, top)),
                   (8, lambda: RNG.choice((top // 2 - 1, top // 2, -top // 2, -top // 2 - 1,
                                           top - 1, top, top + 1, -1, 0))),
                   (5, lambda: RNG.randint(-10**30, 10**30)))
    text = str(value)
    if value >= 0 and RNG.random() < 0.1:
        text = "+" + text
    if RNG.random() < 0.1:
        text = "0" * RNG.randint(1, 4) + text.lstrip("+-") if value >= 0 else text
    return text.encode()


def hexadecimal(bits):
    value = choose((30, lambda: RNG.getrandbits(bits)), (10, lambda: RNG.getrandbits(8)),
                   (5, lambda: RNG.getrandbits(bits + 8)), (3, lambda: 0))
    text = "%X" % value if RNG.random() < 0.6 else "%x" % value
    roll = RNG.random()
    if roll < 0.1:
        text = "0x" + text
    elif roll < 0.15:
        text = "-" + text
    elif roll < 0.2:
        text = "+" + text
    return text.encode()


def junk():
    return choose((6, b""), (2, lambda: some(b"xyz;!#", 1, 3)), (1, b" 12"), (1, b"."),
                  (1, lambda: bytes([RNG.choice(BLANKS)]) + b"7"), (1, b"[x]"), (1, b",5"))


def number(maker):
    return maker() + junk()


def guid_text():
    widths = (32, 16, 16, 16, 16, 16, 16)
    groups = [hexadecimal(w) if RNG.random() < 0.2 else ("%0*X" % (w // 4, RNG.getrandbits(w))).encode()
              for w in widths]
    if RNG.random() < 0.3:
        groups = groups[:RNG.randint(1, 6)]
    seps = []
    for _ in groups[1:]:
        seps.append(choose((20, b"-"), (2, b"- "), (1, b" -"), (1, b"--"), (1, b":"), (1, b"")))
    text = groups[0]
    for sep, group in zip(seps, groups[1:]):
        text += sep + group
    if RNG.random() < 0.05:
        text = b"{" + text + b"}"
    return text + junk()


def rect_text():
    count = RNG.choice((4, 4, 4, 1, 2, 3, 5))
    parts = [decimal(32, True) if RNG.random() < 0.3 else str(RNG.randint(-2000, 4000)).encode()
             for _ in range(count)]
    text = parts[0]
    for part in parts[1:]:
        text += choose((20, b","), (3, b", "), (1, b" ,"), (1, b";")) + part
    return text + junk()


def text_value(low=1, high=24):
    alphabet = LETTERS * 3 + b"0123456789 .,:\\/[]=-_" + HIGH + BLANKS
    text = some(alphabet, low, high)
    if RNG.random() < 0.1:
        text = some(alphabet, 250, 320)
    return text


def timecode_text():
    return choose(
        (10, lambda: ("%02d:%02d:%02d:%02d" % (RNG.randint(0, 23), RNG.randint(0, 59),
                                              RNG.randint(0, 59), RNG.randint(0, 29))).encode()),
        (3, lambda: ("%02d:%02d:%02d;%02d" % (RNG.randint(0, 30), RNG.randint(0, 70),
                                              RNG.randint(0, 70), RNG.randint(0, 40))).encode()),
        (3, lambda: text_value(1, 12)),
    )


def value_for(tag):
    makers = {
        model.INT: lambda: number(lambda: decimal(32, True)),
        model.INT64: lambda: number(lambda: decimal(64, True)),
        model.BOOL: lambda: RNG.choice((b"0", b"00", b"0x", b"1", b"no", b"yes", b"true",
                                        b"false", b"-1", b"0 ", b"\xff")),
        model.STRING: text_value,
        model.STRINGA: text_value,
        model.STRINGW: text_value,
        model.PATH: lambda: choose((5, lambda: b"C:\\" + text_value(1, 40)),
                                   (1, lambda: b"D:\\" + some(LETTERS, 255, 300))),
        model.GUID: guid_text,
        model.TIMECODE: timecode_text,
        model.COLOR: lambda: number(lambda: hexadecimal(32)),
        model.DWORD: lambda: number(lambda: hexadecimal(32)),
        model.RECT: rect_text,
        model.UINT: lambda: number(lambda: decimal(32, False)),
        model.UINT64: lambda: number(lambda: decimal(64, False)),
    }
    if RNG.random() < 0.1:
        tag = RNG.choice(list(makers))  # a value of another type
    maker = makers.get(tag)
    value = maker() if maker else text_value(1, 8)
    if value[:1] in (b"",) or value[0] <= 0x20:
        value = b"v" + value  # the grammar drops leading blanks: keep the value as made
    return value


# ---- lines and files -------------------------------------------------------------

def entry_line(names):
    tag_text = type_text()
    tag = model.scan_one(tag_text, 16, 32)
    name = names.get()
    if RNG.random() < 0.03:
        name = b"=" + name
    line = blanks() + name + (blanks() if RNG.random() < 0.2 else b"")
    if RNG.random() < 0.96:
        line += b"=" + blanks() + tag_text
        if RNG.random() < 0.95:
            line += b"," + blanks()
            if RNG.random() < 0.96:
                line += value_for(tag)
                if RNG.random() < 0.15:
                    line += blanks()
    return line


def junk_line():
    return choose((3, lambda: some(LETTERS + b" =,;#", 0, 20)),
                  (1, lambda: b"; " + text_value(0, 20).replace(b"[", b"(")),
                  (1, b""))


class LineEnds:
    def __init__(self):
        self.style = RNG.choice(("crlf", "crlf", "lf", "cr", "mixed"))

    def __call__(self):
        if self.style == "crlf":
            return b"\r\n"
        if self.style == "lf":
            return b"\n"
        if self.style == "cr":
            return b"\r"
        return choose((10, b"\r\n"), (5, b"\n"), (4, b"\r"), (2, b"\n\r"), (2, b"\r\r\n"),
                      (2, b"\r\n\r\n"), (1, lambda: bytes([RNG.choice(ODD_LINE_ENDS)])))


def section_header(names):
    name = names.get(again=0.25, low=1, high=8)
    roll = RNG.random()
    if roll < 0.03:
        name = b""
    elif roll < 0.06:
        name = name + RNG.choice((b"\r\n", b"\n", b"\t", b"=")) + fresh_name(1, 3)
    elif roll < 0.08:
        name = fresh_name(1, 3) + b"[" + name  # the inner "[" starts the header again
    return blanks() + b"[" + name + b"]"


def generate():
    eol = LineEnds()
    sections = Names()
    keys = Names()
    out = b""
    if RNG.random() < 0.3:
        for _ in range(RNG.randint(1, 3)):
            out += RNG.choice((junk_line, lambda: entry_line(keys)))().replace(b"[", b"(") + eol()
    for _ in range(RNG.choice((0,) + (1, 2, 3, 4, 5) * 4)):
        out += section_header(sections)
        out += choose((10, eol), (2, lambda: blanks() + eol()), (2, lambda: b" " + entry_line(keys) + eol()),
                      (1, lambda: b" ; " + junk_line().replace(b"[", b"(") + eol()))
        for _ in range(RNG.randint(0, 8)):
            if RNG.random() < 0.1:
                out += junk_line().replace(b"[", b"(") + eol()
            out += entry_line(keys) + eol()
    roll = RNG.random()
    if roll < 0.25 and out.endswith((b"\n", b"\r")):
        out = out.rstrip(b"\r\n")           # the last line without its end
    elif roll < 0.3:
        out += b"[" + fresh_name(1, 5)      # a header never closed
    elif roll < 0.33 and out:
        spot = RNG.randrange(len(out))
        out = out[:spot] + b"\0" + out[spot:]  # the text ends at the first zero byte
    return out


def big_files():
    """Sizes no small file reaches: many settings in one section, and values
    and names longer than any 16-bit count."""
    eol = LineEnds()
    keys = Names()
    many = b"[many]\r\n" + b"".join(entry_line(keys) + eol() for _ in range(1500))
    long_text = bytes(RNG.choice(LETTERS + HIGH + b" ,[]=") for _ in range(70000))
    long_values = (b"[long]\r\n" + b"s=1000," + long_text + b"\r\n" + b"a=1400," + long_text
                   + b"\r\n" + b"p=1C00," + long_text + b"\r\n" + b"n" * 70000 + b"=400,7\r\n"
                   + b"[" + b"S" * 70000 + b"]\r\nx=400,8")
    return [many, long_values]


# ---- output -------------------------------------------------------------------------

def expected_lines(records):
    lines = []
    for section, name, tag, data in records:
        if isinstance(data, model.Timecode):
            value = "timecode:" + model.utf16_bytes(data.units).hex()
        else:
            value = data.hex()
        lines.append("%s\t%s\t%X\t%s\n" % (section.hex(), name.hex(), tag, value))
    return "".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--count", type=int, default=400, help="generated files (default 400)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    args = parser.parse_args()

    RNG.seed(args.seed)
    os.makedirs(args.outdir, exist_ok=True)
    for old in os.listdir(args.outdir):
        if old.startswith("case_"):
            os.remove(os.path.join(args.outdir, old))
    texts = [text for text, _ in model.EXAMPLES]
    texts += big_files()
    texts += [generate() for _ in range(args.count)]
    settings = 0
    for index, text in enumerate(texts):
        records = model.expected_store(text)
        settings += len(records)
        base = os.path.join(args.outdir, "case_%04d" % index)
        with open(base + ".ini", "wb") as f:
            f.write(text)
        with open(base + ".expected", "w", newline="\n") as f:
            f.write(expected_lines(records))
    print("inigen: %d files, %d expected settings in %s (seed %d)"
          % (len(texts), settings, args.outdir, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
