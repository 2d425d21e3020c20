#!/usr/bin/env python3
"""A plain model of the one-time import of the older text settings file into
a settings store, written for clarity, not speed.

parse_data(text) gives the entries the scanner hands over, in order, as
(section, name, type text, value text) tuples of bytes; set_parsed_info()
turns one entry into a typed write (or None when the entry is ignored);
Store applies writes with the store's rules. expected_store(text) does all
three and gives the store the import should leave: a list of
(section, name, type tag, value) with names upper-cased, in stored order.

The scanner skips the byte behind a stored value's line end only when the
two make a carriage return and line feed; after any other line end the scan
goes on with the very next byte.

Numbers are read as the Windows C runtime's formatted input reads them:
- blanks (tab, line feed, vertical tab, form feed, carriage return, space)
  are skipped before a number, but not before a literal separator of the
  format (so "1 ,2" read as "%d,%d" gives 1 and stops);
- an optional "+" or "-", for every conversion, unsigned and hexadecimal too;
- hexadecimal numbers may start with "0x" or "0X" when a hexadecimal digit
  follows it (the generator never writes "0x" followed by anything else);
- the longest run of digits is taken; no digit at all fails the conversion
  and the target keeps 0;
- the runtime accumulates in an integer of the conversion's width (32 bits for
  %d, %u, %x and %hx, 64 bits for %I64d and %I64u) and wraps silently; a
  "-" negates the wrapped value; %hx keeps the low 16 bits.
Text is converted from Windows-1252 to UTF-16 as the system does it: the five
bytes that code page leaves undefined become the control characters of the
same number.

A timecode entry's bytes come from the timecode library: the store holds it
as a Timecode value carrying the UTF-16 text that the library would be given.

Run this file to check the model against worked examples.
"""

import sys

# Type tags of the store.
INT, INT64, BOOL, STRING, STRINGA, STRINGW, PATH, GUID = (
    0x0400, 0x0800, 0x0C00, 0x1000, 0x1400, 0x1800, 0x1C00, 0x2000)
BIN, TIMECODE, COLOR, FONT, RECT, UINT, UINT64, DWORD = (
    0x2400, 0x2800, 0x2C00, 0x3000, 0x3400, 0x3800, 0x3C00, 0x4000)
SECTION = 0xFC00
IMPORTED = (INT, INT64, BOOL, STRING, STRINGA, STRINGW, PATH, GUID, TIMECODE, COLOR, RECT,
            UINT, UINT64, DWORD)

CR, LF = 0x0D, 0x0A


def is_line_end(b):
    return 0x01 <= b <= 0x0D


def is_blank(b):
    return 0x0E <= b <= 0x20


# ---- the scanner ------------------------------------------------------------

def _string_at(buf, start):
    end = buf.index(0, start)
    return bytes(buf[start:end])


def parse_data(text):
    """The entries of the text in the order the scanner stores them."""
    buf = bytearray(text) + b"\0"  # the import puts a zero byte behind the file
    entries = []
    section = None      # start of the current section name
    header_open = False
    name = None         # start of the current entry name
    i = 0
    while buf[i] != 0:
        b = buf[i]
        if b == ord("["):
            section = i + 1
            header_open = True
            name = None
            i += 1
            continue
        if section is None:
            i += 1
            continue
        if header_open:
            if b == ord("]"):
                buf[i] = 0
                header_open = False
            i += 1
            continue
        if is_line_end(b):
            name = None
            i += 1
            continue
        if name is None:
            if not is_blank(b):
                name = i
            i += 1
            continue
        if b != ord("="):
            i += 1
            continue

        # The name ends at "="; type, comma and value follow up to the line end.
        buf[i] = 0
        j = i + 1
        type_start = value_start = None
        comma = False
        while True:
            c = buf[j]
            if c == 0:
                if value_start is not None:
                    entries.append(_entry(buf, section, name, type_start, value_start))
                return entries
            if is_line_end(c):
                if value_start is not None:
                    buf[j] = 0
                    entries.append(_entry(buf, section, name, type_start, value_start))
                    if c == CR and buf[j + 1] == LF:
                        j += 1
                j += 1
                name = None
                break
            if type_start is None:
                if not is_blank(c):
                    type_start = j
            elif not comma:
                if c == ord(","):
                    buf[j] = 0
                    comma = True
            elif value_start is None:
                if not is_blank(c):
                    value_start = j
            j += 1
        i = j
    return entries


def _entry(buf, section, name, type_start, value_start):
    return (_string_at(buf, section), _string_at(buf, name), _string_at(buf, type_start),
            _string_at(buf, value_start))


# ---- formatted input ----------------------------------------------------------

_SPACES = b"\t\n\v\f\r "
_DIGITS = {10: b"0123456789", 16: b"0123456789abcdefABCDEF"}


def scan_number(text, pos, base, bits):
    """One integer conversion at pos: (value modulo 2**bits, position behind
    it), or (None, pos) when it fails."""
    i = pos
    while i < len(text) and text[i] in _SPACES:
        i += 1
    negative = False
    if i < len(text) and text[i] in b"+-":
        negative = text[i] == ord("-")
        i += 1
    digits = _DIGITS[base]
    if (base == 16 and text[i:i + 1] == b"0" and text[i + 1:i + 2] in (b"x", b"X")
            and text[i + 2:i + 3] != b"" and text[i + 2] in digits):
        i += 2
    start = i
    while i < len(text) and text[i] in digits:
        i += 1
    if i == start:
        return None, pos
    value = int(text[start:i], base)
    if negative:
        value = -value
    return value % (1 << bits), i


def scan_format(text, conversions, separator):
    """The values of a format of conversions (base, bits) joined by one literal
    separator byte; those after the first failure stay 0."""
    values = [0] * len(conversions)
    pos = 0
    for k, (base, bits) in enumerate(conversions):
        if k:
            if text[pos:pos + 1] != separator:
                break
            pos += 1
        value, pos = scan_number(text, pos, base, bits)
        if value is None:
            break
        values[k] = value
    return values


def scan_one(text, base, bits):
    return scan_format(text, [(base, bits)], b"")[0]


def ansi_to_utf16(data):
    """UTF-16 code units of Windows-1252 text."""
    units = []
    for b in data:
        if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D):
            units.append(b)
        else:
            units.append(ord(bytes([b]).decode("cp1252")))
    return units


def utf16_bytes(units):
    return b"".join(u.to_bytes(2, "little") for u in units)


def le(value, size):
    return value.to_bytes(size, "little")


# ---- one entry ----------------------------------------------------------------

class Timecode:
    """A timecode value, known by the text the timecode library is given."""

    def __init__(self, units):
        self.units = tuple(units)

    def __eq__(self, other):
        return isinstance(other, Timecode) and other.units == self.units

    def __repr__(self):
        return "Timecode(%r)" % "".join(map(chr, self.units))


def set_parsed_info(section, name, type_text, value):
    """The write one entry makes, as (section, name, tag, value bytes), or None."""
    tag = scan_one(type_text, 16, 32)
    if tag == INT:
        data = le(scan_one(value, 10, 32), 4)
    elif tag == INT64:
        data = le(scan_one(value, 10, 64), 8)
    elif tag == BOOL:
        data = le(0 if value[:1] == b"0" else 1, 4)
    elif tag in (STRING, STRINGW):
        data = utf16_bytes(ansi_to_utf16(value) + [0])
    elif tag == STRINGA:
        data = value + b"\0"
    elif tag == PATH:
        units = ansi_to_utf16(value)[:259]
        data = utf16_bytes(units + [0] * (260 - len(units)))
    elif tag == GUID:
        groups = scan_format(value, [(16, 32)] + [(16, 16)] * 6, b"-")
        data = le(groups[0], 4) + le(groups[1], 2) + le(groups[2], 2)
        data += b"".join(g.to_bytes(2, "big") for g in groups[3:])
    elif tag == TIMECODE:
        data = Timecode(ansi_to_utf16(value))
    elif tag in (COLOR, DWORD):
        data = le(scan_one(value, 16, 32), 4)
    elif tag == RECT:
        data = b"".join(le(v, 4) for v in scan_format(value, [(10, 32)] * 4, b","))
    elif tag == UINT:
        data = le(scan_one(value, 10, 32), 4)
    elif tag == UINT64:
        data = le(scan_one(value, 10, 64), 8)
    else:
        return None  # binary, font, custom, unknown
    return section, name, tag, data


# ---- the store ------------------------------------------------------------------

def normalise(name):
    """Names are stored upper-cased; only a..z change."""
    return bytes(b - 32 if 0x61 <= b <= 0x7A else b for b in name)


class Store:
    """Sections in order, each an ordered map of (name, tag) to the value."""

    def __init__(self):
        self.sections = {}  # dicts keep their insertion order

    def write(self, section, name, tag, data):
        """A typed writer: empty names are refused; a setting of the same
        section, name and tag keeps its place and takes the new value; new
        settings go to the end of their section, new sections to the end."""
        if not section or not name:
            return False
        settings = self.sections.setdefault(normalise(section), {})
        settings[(normalise(name), tag)] = data
        return True

    def records(self):
        return [(section, name, tag, data) for section, settings in self.sections.items()
                for (name, tag), data in settings.items()]


def expected_store(text):
    store = Store()
    for entry in parse_data(text):
        write = set_parsed_info(*entry)
        if write is not None:
            store.write(*write)
    return store.records()


# ---- worked examples --------------------------------------------------------------

def _guid(d1, d2, d3, tail):
    return le(d1, 4) + le(d2, 2) + le(d3, 2) + bytes(tail)


def _w(text):
    return utf16_bytes([ord(c) for c in text] + [0])


# (text, expected store)
EXAMPLES = [
    (b"[VIDEO]\r\nWidth=400,720\r\n", [(b"VIDEO", b"WIDTH", INT, le(720, 4))]),
    (b"[s]\r\na=C00,0\r\nb=C00,00\r\nc=C00,0x\r\nd=C00,1\r\ne=C00,no\r\n",
     [(b"S", n, BOOL, le(v, 4)) for n, v in
      ((b"A", 0), (b"B", 0), (b"C", 0), (b"D", 1), (b"E", 1))]),
    (b"a=400,1\r\n[s]\r\nnocomma=400\r\nbin=2400,1\r\nfont=3000,1\r\nnovalue=400,\r\n", []),
    (b"[s]\r\nt=1000,  padded  \r\n", [(b"S", b"T", STRING, _w("padded  "))]),
    (b"[s]\r\nr=3400,0,0,640,480\r\n",
     [(b"S", b"R", RECT, le(0, 4) + le(0, 4) + le(640, 4) + le(480, 4))]),
    (b"[s]\r\nv=1400,a[b]c\r\n", [(b"S", b"V", STRINGA, b"a[b]c\0")]),
    (b"[s]\r\ng=2000,6B29FC40-CA47-1067-B31D-00DD-0106-62DA\r\n",
     [(b"S", b"G", GUID, _guid(0x6B29FC40, 0xCA47, 0x1067,
                                (0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA)))]),
    # Sections: a "[" starts one anywhere outside a value, line ends belong to
    # the name, the rest of a header's line is read as an entry line.
    (b"[a\r\nb]x=400,1", [(b"A\r\nB", b"X", INT, le(1, 4))]),
    (b"[s] k=400,2\r\n", [(b"S", b"K", INT, le(2, 4))]),
    (b"[s]\r\nk[t]m=400,3\r\n", [(b"T", b"M", INT, le(3, 4))]),
    (b"[]\r\nk=400,3\r\n", []),  # an empty section name is refused by the writer
    (b"[s\r\nk=400,3\r\n", []),  # never closed
    # Names: blanks before "=" belong to it; "=" may start one.
    (b"[s]\r\n \x10 my key \t=400,4\r\n", []),  # the tab ends the line
    (b"[s]\r\n \x10 my key  =400,4\r\n", [(b"S", b"MY KEY  ", INT, le(4, 4))]),
    (b"[s]\r\n==400,5\r\n", [(b"S", b"=", INT, le(5, 4))]),
    (b"[s]\r\n=a=400,5\r\n", [(b"S", b"=A", INT, le(5, 4))]),
    # The type: blanks around it, junk behind it, wrapping, signs, a prefix.
    (b"[s]\r\na= 400 ,6\r\nb=0x400,7\r\nc=400g,8\r\nd=100000400,9\r\ne=-FFFFFC00,10\r\n"
     b"f=+400,11\r\ng=40O,12\r\nh=,400,13\r\n",
     [(b"S", n, INT, le(v, 4)) for n, v in
      ((b"A", 6), (b"B", 7), (b"C", 8), (b"D", 9), (b"E", 10), (b"F", 11))]),
    # Line ends: after a stored value only CR LF is one line end.
    (b"[s]\na=400,1\nb=400,2\rc=400,3\n\rd=400,4\r\n\r\ne=400,5",
     [(b"S", n, INT, le(v, 4)) for n, v in
      ((b"A", 1), (b"B", 2), (b"C", 3), (b"D", 4), (b"E", 5))]),
    (b"[s]\r\na=400,1\x01b=400,2\x0cc=400,3", [(b"S", n, INT, le(v, 4)) for n, v in
                                             ((b"A", 1), (b"B", 2), (b"C", 3))]),
    (b"[s]\r\na=400,\r\n5\r\n", []),
    (b"[s]\r\na=400,1\0b=400,2\r\n", [(b"S", b"A", INT, le(1, 4))]),
    # Numbers.
    (b"[s]\r\na=400,12abc\r\nb=400,abc\r\nc=400,2147483648\r\nd=400,4294967297\r\n"
     b"e=400,-\r\nf=400,+7\r\ng=400,0x10\r\n",
     [(b"S", n, INT, le(v % 2**32, 4)) for n, v in
      ((b"A", 12), (b"B", 0), (b"C", -2**31), (b"D", 1), (b"E", 0), (b"F", 7), (b"G", 0))]),
    (b"[s]\r\na=800,-9223372036854775809\r\nb=3C00,-1\r\nc=3800,4294967296\r\n"
     b"d=2C00,0xFF00ff\r\ne=4000,1FFFFFFFF\r\n",
     [(b"S", b"A", INT64, le(2**63 - 1, 8)), (b"S", b"B", UINT64, le(2**64 - 1, 8)),
      (b"S", b"C", UINT, le(0, 4)), (b"S", b"D", COLOR, le(0xFF00FF, 4)),
      (b"S", b"E", DWORD, le(0xFFFFFFFF, 4))]),
    (b"[s]\r\nr=3400,1, 2 ,3,4\r\nq=3400,-5,+6\r\n",
     [(b"S", b"R", RECT, le(1, 4) + le(2, 4) + le(0, 4) + le(0, 4)),
      (b"S", b"Q", RECT, le(2**32 - 5, 4) + le(6, 4) + le(0, 8))]),
    (b"[s]\r\ng=2000,12345-1-2-3-4-5-FFFFF\r\nh=2000,{1-2}\r\ni=2000,1- 2 -3\r\n",
     [(b"S", b"G", GUID, _guid(0x12345, 1, 2, (0, 3, 0, 4, 0, 5, 0xFF, 0xFF))),
      (b"S", b"H", GUID, bytes(16)), (b"S", b"I", GUID, _guid(1, 2, 0, bytes(8)))]),
    # Text: Windows-1252, its undefined bytes, long paths.
    (b"[s]\r\na=1800,\x80\x81\xe9\xff\r\nb=1C00," + b"x" * 300 + b"\r\n",
     [(b"S", b"A", STRINGW, _w("\u20ac\u0081\u00e9\u00ff")),
      (b"S", b"B", PATH, _w("x" * 259))]),
    (b"[s]\r\np=1C00,C:\\a\r\n", [(b"S", b"P", PATH, _w("C:\\a") + bytes(520 - 10))]),
    # The store: the same setting again replaces in place, a section again
    # (in another case) is the same section, another tag is another setting.
    (b"[s]\r\na=400,1\r\nb=400,2\r\n[t]\r\nc=400,3\r\n[S]\r\nA=400,9\r\nd=400,4\r\n"
     b"a=1000,x\r\n",
     [(b"S", b"A", INT, le(9, 4)), (b"S", b"B", INT, le(2, 4)), (b"S", b"D", INT, le(4, 4)),
      (b"S", b"A", STRING, _w("x")), (b"T", b"C", INT, le(3, 4))]),
    (b"[s]\r\nt=2800,01:00:00:00\r\n", [(b"S", b"T", TIMECODE, Timecode(map(ord, "01:00:00:00")))]),
    (b"[s]\r\nx=0,1\r\ny=FC00,1\r\nz=3FF,1\r\nw=10000,1\r\n", []),
]


def selftest():
    failures = []
    for text, want in EXAMPLES:
        got = expected_store(text)
        if got != want:
            failures.append("%r:\n    got  %r\n    want %r" % (text, got, want))
    for line in failures:
        print(line)
    print("import model self-test: %s"
          % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
