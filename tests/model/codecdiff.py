#!/usr/bin/env python3
"""Differential check of Tarnel's codecs against codecmodel.

    codecdiff.py TARNEL ZELKU [--count N] [--seed S] [--keep-going] [--no-fault-checks]

Registers the six codecs of the native library with a registry made here
(accepting, refusing, with failing allocations, with wrong versions) and
compares what it sees with the model; then asks every codec the same
questions as the model: its fixed answers, and DecompressQuery,
CompressQuery, the Begin and End operations, DecompressGetFormat and
CompressGetFormat over header pairs: every checked field of a few valid pairs
set to each of its boundary values, then N generated pairs (valid pairs with
one to a few fields changed, reproducible from the seed).

Every header lies at the end of a readable page followed by an unreadable
one, so that a read past it faults; input headers are read-only, so that a
write into one faults. A header holds 160 bytes when its biSize is 160 or
more, else 144: no header is read beyond the size it states. Headers the
allocator hands out end at an unreadable page too, and cells that receive a
value are exactly as large as the value. Calls run in child processes, where
a crash is an answer.

Compared: status, every debug line (category, level, text), the output
header's bytes after a query, the cell of a Begin operation, the sizes and
flags asked of the allocator, and the derived headers byte for byte.

On a disagreement it prints the call, the headers and both answers and exits
1 (after the first one, or after all with --keep-going). Exit 2: a library
cannot be loaded or lacks an entry point.
"""

import argparse
import ctypes
import os
import random
import sys
from ctypes import CFUNCTYPE, POINTER, c_int32, c_size_t, c_uint32, c_void_p

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import codecmodel as model  # noqa: E402
import difftools  # noqa: E402
from codecmodel import Header, UYVY, YUV  # noqa: E402
from difftools import Differences  # noqa: E402

TOOL = "codecdiff"
SENTINEL = 0x5A5A5A5A5A5A5A5A  # what an out cell holds before a call
CELL_SENTINEL = 0x5A5A5A5A

# ---- memory that faults past its end ------------------------------------------

libc = ctypes.CDLL(None, use_errno=True)
libc.mmap.restype = c_void_p
libc.mmap.argtypes = [c_void_p, c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
libc.mprotect.restype = ctypes.c_int
libc.mprotect.argtypes = [c_void_p, c_size_t, ctypes.c_int]
PAGE = os.sysconf("SC_PAGE_SIZE")
PROT_NONE, PROT_READ, PROT_WRITE = 0, 1, 2
MAP_PRIVATE, MAP_ANONYMOUS = 0x02, 0x20


class Fenced:
    """A page followed by an unreadable one: what is placed in it ends at the
    boundary, so a read or write past it faults."""

    def __init__(self):
        base = libc.mmap(None, 2 * PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
        if base in (None, ctypes.c_void_p(-1).value):
            difftools.unusable(TOOL, "mmap failed")
        if libc.mprotect(base + PAGE, PAGE, PROT_NONE) != 0:
            difftools.unusable(TOOL, "mprotect failed")
        self.base = base
        self.end = base + PAGE
        self.writable = True

    def _protect(self, writable):
        if self.writable != writable:
            libc.mprotect(self.base, PAGE, PROT_READ | PROT_WRITE if writable else PROT_READ)
            self.writable = writable

    def place(self, data, read_only=False):
        self._protect(True)
        address = self.end - len(data)
        ctypes.memmove(address, bytes(data), len(data))
        if read_only:
            self._protect(False)
        return address

    def room(self, size):
        """The address of size writable bytes that end at the boundary."""
        self._protect(True)
        return self.end - size

    def read(self, address, size):
        return ctypes.string_at(address, size)


def cell_value(fenced, address, size):
    return int.from_bytes(fenced.read(address, size), "little")


# ---- the host's objects --------------------------------------------------------


def class_type_info(name):
    """The address of a C++ type description of a class without bases named
    name (mangled), or None. The table of a host object points to one, as a
    compiler's would, so that a sanitized library that checks the dynamic
    type of the objects it calls finds the interface it expects."""
    try:
        table = ctypes.c_void_p.in_dll(ctypes.CDLL("libstdc++.so.6"), "_ZTVN10__cxxabiv117__class_type_infoE")
    except (OSError, ValueError):
        return None
    text = ctypes.create_string_buffer(name.encode())
    record = (c_void_p * 2)(ctypes.addressof(table) + 2 * ctypes.sizeof(c_void_p), ctypes.addressof(text))
    _type_infos.append((text, record))
    return ctypes.addressof(record)


_type_infos = []


class HostObject:
    """An object whose first field points to a table of functions, preceded
    by the offset to the top of the object and its type description; slots
    not given record that they were called."""

    def __init__(self, size, slots, name, type_name):
        self.stray = []
        self._keep = []
        table = (c_void_p * (size + 2))()
        table[0] = 0
        table[1] = class_type_info(type_name)
        for i in range(size):
            fn = slots.get(i)
            if fn is None:
                fn = CFUNCTYPE(None, c_void_p)(lambda this, i=i: self.stray.append("%s slot %d" % (name, i)))
            self._keep.append(fn)
            table[i + 2] = ctypes.cast(fn, c_void_p).value
        self.table = table
        self.object = (c_void_p * 2)(ctypes.addressof(table) + 2 * ctypes.sizeof(c_void_p), 0)
        self.address = ctypes.addressof(self.object)


REGISTER = CFUNCTYPE(c_int32, c_void_p, c_uint32, c_void_p)
ALLOC = CFUNCTYPE(c_void_p, c_void_p, c_uint32, c_uint32)


class Registry(HostObject):
    """A codec registry: RegisterCodec at slot 18 records the FourCC and the
    codec and answers status(row)."""

    def __init__(self, status, seen=None):
        self.offers = []
        self.status = status
        self.seen = seen  # called at each offer, for what the test looks at then
        super().__init__(24, {18: REGISTER(self._register)}, "registry", "14ICodecRegistry")

    def _register(self, this, fourcc, codec):
        row = len(self.offers)
        self.offers.append((fourcc, codec))
        if self.seen is not None:
            self.seen(row, codec)
        return self.status(row)


class Allocator(HostObject):
    """A frame allocator: Alloc at slot 1 hands out blocks that end at an
    unreadable page, or null when told to fail."""

    def __init__(self):
        self.requests = []
        self.given = []
        self.fail = False
        self.blocks = [Fenced(), Fenced()]
        super().__init__(4, {1: ALLOC(self._alloc)}, "allocator", "15IFrameAllocator")

    def _alloc(self, this, size, flags):
        self.requests.append((size, flags))
        if self.fail or size > PAGE:
            return None
        block = self.blocks[(len(self.requests) - 1) % 2].room(size)
        self.given.append(block)
        return block


# ---- the libraries ---------------------------------------------------------------

CAPTURE = CFUNCTYPE(None, c_uint32, ctypes.c_int, ctypes.c_int, c_void_p, c_void_p)
PRINT, ASSERT, EXCEPTION = 0, 1, 2  # kinds of captured texts


def wide_at(address, limit=4096):
    """The zero-terminated UTF-16 string at address."""
    p = ctypes.cast(address, POINTER(ctypes.c_uint16))
    units = []
    while len(units) < limit and p[len(units)]:
        units.append(p[len(units)])
    return "".join(chr(u) for u in units)


class Zelku:
    """Zelku's test hooks: every text it emits (kind, category, level, text),
    its allocator's failures and counts."""

    def __init__(self, path):
        void = (None, [])
        self.lib = difftools.load(TOOL, path, {
            "ZelkuSetCapture": (None, [CAPTURE, c_void_p]),
            "ZelkuSetLevel": (None, [ctypes.c_int, ctypes.c_int]),
            "ZelkuFailAllocation": (None, [c_uint32]),
            "ZelkuLiveBlocks": (c_int32, []),
            "ZelkuAllocations": (c_int32, []),
            "ZelkuResetLevels": void,
        })
        self.lines = []
        self._hook = CAPTURE(self._capture)
        self.lib.ZelkuSetCapture(self._hook, None)
        # Let every level of the codecs' category through.
        self.lib.ZelkuSetLevel(model.CATEGORY, 0x7FFFFFFF)

    def _capture(self, kind, category, level, text, context):
        self.lines.append((kind, category, level, wide_at(text)))

    def take(self):
        lines, self.lines = self.lines, []
        return lines

    def fail_allocation(self, n):
        self.lib.ZelkuFailAllocation(n)

    def live_blocks(self):
        return self.lib.ZelkuLiveBlocks()

    def allocations(self):
        return self.lib.ZelkuAllocations()


def printed(log):
    """The model's lines as the capture hook shows them."""
    return [(PRINT,) + line for line in log]


def assertion_text(line):
    return "Assertion failed: %s, file %s, line %d\n" % (model.ASSERT_EXPRESSION, model.ASSERT_FILE, line)


def exception_text(where):
    return "Exception caught in %s\n" % where


class NativeCodec:
    """A codec object of the library, called through its table of slots
    (native x86-64: the object is the first argument)."""

    def __init__(self, address):
        self.address = address
        table = ctypes.cast(address, POINTER(c_void_p))[0]
        self.slots = ctypes.cast(table, POINTER(c_void_p))
        for i, (name, result, args) in enumerate(SLOTS):
            setattr(self, name, self._bound(CFUNCTYPE(result, c_void_p, *args)(self.slots[i])))

    def _bound(self, fn):
        return lambda *args: fn(self.address, *args)

    def unbound(self, slot, result, *args):
        """Slot `slot` as a function that takes the object as well."""
        return CFUNCTYPE(result, c_void_p, *args)(self.slots[slot])


SLOTS = [
    ("DeletingDestructor", c_void_p, [c_uint32]),
    ("Destroy", None, []),
    ("GetVersion", c_uint32, []),
    ("GetCapabilities", c_uint32, []),
    ("OnBegin", c_uint32, []),
    ("OnEnd", c_uint32, []),
    ("GetInfo", c_uint32, [c_uint32, c_void_p, c_void_p]),
    ("SetInfo", c_uint32, [c_uint32, c_uint32, c_uint32]),
    ("DecompressGetFormat", c_uint32, [c_void_p, c_void_p, c_void_p, c_uint32]),
    ("DecompressQuery", c_uint32, [c_void_p, c_void_p]),
    ("DecompressBegin", c_uint32, [c_void_p, c_void_p, c_void_p]),
    ("Decompress", c_uint32, [c_void_p] * 7),
    ("DecompressEnd", c_uint32, [c_void_p]),
    ("CompressGetFormat", c_uint32, [c_void_p, c_void_p, c_void_p]),
    ("CompressQuery", c_uint32, [c_void_p, c_void_p]),
    ("CompressBegin", c_uint32, [c_void_p, c_void_p, c_void_p]),
    ("Compress", c_uint32, [c_void_p] * 7),
    ("CompressEnd", c_uint32, [c_void_p]),
    ("GetColorSpace", c_uint32, []),
]


# ---- showing headers and differences ----------------------------------------------

FOURCCS = {YUV: "@YUV", UYVY: "UYVY", model.KRAL: "KRAL"}


def show_value(name, value):
    if name in ("biCompression", "dwMarker") and value in FOURCCS:
        return FOURCCS[value]
    if name in ("biWidth", "biHeight") or 0 <= value < 10000:
        return str(value)
    return "0x%x" % value


def show_header(data):
    if data is None:
        return "null"
    h = Header(data)
    fields = " ".join("%s=%s" % (name, show_value(name, value)) for name, value in h.fields().items())
    return "%d bytes: %s\n        hex %s" % (len(data), fields, bytes(data).hex())


def show_bytes_difference(got, want):
    if got is None or want is None or len(got) != len(want):
        return "%s vs %s" % (show_header(got), show_header(want))
    names = []
    for name, (offset, code) in model.FIELDS.items():
        size = ctypes.sizeof(ctypes.c_uint16 if code == "H" else ctypes.c_uint32)
        if offset + size <= len(got) and got[offset:offset + size] != want[offset:offset + size]:
            names.append("%s native %s, model %s" % (
                name, show_value(name, getattr(Header(got), name)), show_value(name, getattr(Header(want), name))))
    rest = [i for i in range(len(got)) if got[i] != want[i]
            and not any(o <= i < o + (2 if c == "H" else 4) for o, c in model.FIELDS.values())]
    if rest:
        names.append("carried bytes at %s differ" % ", ".join(map(str, rest[:12])))
    return "; ".join(names)


class Comparison:
    def __init__(self):
        self.problems = []

    def same(self, what, got, want):
        if got != want:
            self.problems.append("%s: native %s, model %s" % (what, shown(got), shown(want)))

    def headers(self, what, got, want):
        if got != want:
            self.problems.append("%s: %s" % (what, show_bytes_difference(got, want)))


def shown(value):
    if isinstance(value, int) and value > 0xFFFF:
        return "0x%08x" % value
    return repr(value)


def status_of(value):
    return value & 0xFFFFFFFF


# ---- the pairs ------------------------------------------------------------------


class Case:
    """One header pair for one codec in one direction, with the GetFormat call
    that goes with its input."""
    __slots__ = ("row", "decode", "inp", "out", "index", "alloc_ok", "origin")

    def __init__(self, row, decode, inp, out, index, alloc_ok, origin):
        self.row, self.decode, self.inp, self.out = row, decode, inp, out
        self.index, self.alloc_ok, self.origin = index, alloc_ok, origin

    def describe(self):
        codec = model.CODECS[self.row]
        lines = ["%s %s pair (%s)" % (codec.name, "decode" if self.decode else "encode", self.origin),
                 "    input  %s" % show_header(self.inp),
                 "    output %s" % show_header(self.out)]
        return "\n".join(lines)


class Runner:
    """Asks the native codecs and the model the same questions (in a child)."""

    def __init__(self, zelku, codecs):
        self.zelku = zelku
        self.codecs = codecs
        self.inp = Fenced()
        self.out = Fenced()
        self.cell = Fenced()
        self.allocator = Allocator()

    def place_out(self, data):
        return self.out.place(data) if data is not None else None

    def pair(self, case):
        """"" when native and model agree on the case, else what differs."""
        c = Comparison()
        native = self.codecs[case.row]
        codec = model.CODECS[case.row]
        a_in = self.inp.place(case.inp, read_only=True)

        # The query.
        a_out = self.place_out(case.out)
        self.zelku.take()
        if case.decode:
            got = native.DecompressQuery(a_in, a_out)
        else:
            got = native.CompressQuery(a_in, a_out)
        lines = self.zelku.take()
        got_out = self.out.read(a_out, len(case.out)) if a_out else None
        log = []
        want_out = Header(case.out) if case.out is not None else None
        query = codec.decompress_query if case.decode else codec.compress_query
        want = query(Header(case.inp), want_out, log)
        name = "DecompressQuery" if case.decode else "CompressQuery"
        c.same(name + " status", status_of(got), want)
        c.same(name + " lines", lines, printed(log))
        if want_out is not None:
            c.headers(name + " output header after", got_out, bytes(want_out.data))

        # The Begin operation.
        a_out = self.place_out(case.out)
        a_cell = self.cell.place(CELL_SENTINEL.to_bytes(4, "little"))
        begin = native.DecompressBegin if case.decode else native.CompressBegin
        got = begin(a_in, a_out, a_cell)
        lines = self.zelku.take()
        log = []
        want_begin = codec.decompress_begin if case.decode else codec.compress_begin
        want, stores = want_begin(Header(case.inp), Header(case.out) if case.out is not None else None, log)
        name = "DecompressBegin" if case.decode else "CompressBegin"
        c.same(name + " status", status_of(got), want)
        c.same(name + " lines", lines, printed(log))
        c.same(name + " cell", cell_value(self.cell, a_cell, 4), 1 if stores else CELL_SENTINEL)
        if case.out is not None:
            c.headers(name + " output header after", self.out.read(a_out, len(case.out)), bytes(case.out))

        # The GetFormat operation of the input.
        self.get_format(c, case, a_in)
        if not c.problems:
            return ""
        return case.describe() + "\n" + "\n".join("    " + p for p in c.problems)

    def get_format(self, c, case, a_in):
        native = self.codecs[case.row]
        codec = model.CODECS[case.row]
        allocator = self.allocator
        allocator.requests = []
        allocator.given = []
        allocator.fail = not case.alloc_ok
        a_cell = self.cell.place(SENTINEL.to_bytes(8, "little"))
        self.zelku.take()
        if case.decode:
            name = "DecompressGetFormat(index %d%s)" % (case.index, "" if case.alloc_ok else ", failing allocator")
            got = native.DecompressGetFormat(a_in, a_cell, allocator.address, case.index)
        else:
            name = "CompressGetFormat(%s)" % ("" if case.alloc_ok else "failing allocator")
            got = native.CompressGetFormat(a_in, a_cell, allocator.address)
        lines = self.zelku.take()
        requests = list(allocator.requests)
        cell = cell_value(self.cell, a_cell, 8)

        wanted_requests = []

        def alloc(size, flags):
            wanted_requests.append((size, flags))
            return case.alloc_ok
        log = []
        if case.decode:
            want, header = codec.decompress_get_format(Header(case.inp), case.index, alloc, log)
        else:
            want, header = codec.compress_get_format(Header(case.inp), alloc, log)
        c.same(name + " status", status_of(got), want)
        c.same(name + " lines", lines, printed(log))
        c.same(name + " allocations (size, flags)", requests, wanted_requests)
        c.same(name + " stray calls", allocator.stray, [])
        allocator.stray = []
        if header is None:
            c.same(name + " output pointer", cell, SENTINEL)
            return
        if not allocator.given or cell != allocator.given[-1]:
            c.same(name + " output pointer is the allocated block", cell, allocator.given[-1:])
            return
        c.headers(name + " derived header", ctypes.string_at(cell, len(header.data)), bytes(header.data))


# ---- generating pairs ---------------------------------------------------------------

RNG = random.Random()

# Values of each checked field worth trying: both sides of every test the
# codecs make on it.
POOLS = {
    "biSize": [0, 40, 143, 144, 145, 159, 160, 161, 1000, 0x7FFFFFFF, 0xFFFFFFFF],
    "biWidth": [720, 719, 721, 0, 1, 2, 3, 5, -1, -2, -720, 1920, 4095, 0x7FFFFFFF, -0x80000000],
    "biHeight": [486, 576, 480, 512, 608, 485, 487, 488, 489, 511, 513, 524, 525, 526, 575, 577, 607,
                 609, 0, 1, 2, -1, -486, -576, -512, -608, -480, 1080, 0x7FFFFFFF, -0x80000000],
    "biPlanes": [0, 1, 2, 3, 4, 0x101, 0xFFFF],
    "biBitCount": [0, 1, 8, 15, 16, 17, 23, 24, 25, 31, 32, 33, 48, 0x118, 0xFFFF],
    "biCompression": [0, YUV, UYVY, 1, 3, model.fourcc("@yuv"), model.fourcc("YUY2"), YUV + 1, YUV << 8 & 0xFFFFFFFF,
                      0x80000000, 0xFFFFFFFF],
    "dwExtDataOffset": [0, 1, 40, 143, 144, 145, 160, 0xFFFFFFFF],
    "dwFormatFlag": [0, 1, 2, 3, 0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x100, 0x101, 0x80000001, 0xFFFFFFFE,
                     0xFFFFFFFF],
    "dwInterlace": [0, 1, 2, 0x80000000, 0xFFFFFFFF],
    "dwColorSpace": [0, 1, 2, 3, 0x100, 0x80000000, 0xFFFFFFFF],
    "dwBitsPerSample": [0, 1, 7, 8, 9, 10, 16, 0x108, 0x80000000, 0xFFFFFFFF],
    "dwSubsampling": [0, 1, 8, 15, 16, 17, 128, 144, 256, 511, 512, 513, 528, 0x80000200, 0xFFFFFFFF],
    "dwVertSubsampling": [0, 1, 2, 0x100, 0x80000000, 0xFFFFFFFF],
}
CARRIED = ("dwMarker", "dwAlphaMode", "dwRowAlign")


def size_pool(h):
    """biSizeImage values around every frame size the codecs compute for h."""
    width, height = h.biWidth, abs(h.biHeight)
    yrow, crow = model.planar_rows(width)
    sizes = {height * model.stride(width, 16), height * model.stride(width, 24), height * model.stride(width, 32),
             height * model.packed_stride(width), height * width * 2, height * (yrow + 2 * crow),
             2 * height * (yrow + 2 * crow), height * (yrow + 2 * crow) + 2 * yrow * height}
    pool = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF}
    for size in sizes:
        pool.update(v for v in (size - 1, size, size + 1) if 0 <= v <= 0xFFFFFFFF)
    return sorted(pool)


def fill(h):
    """Random bytes wherever the codecs only carry them."""
    for start, end in ((24, 40), (60, 84), (88, 144)):
        h.data[start:end] = bytes(RNG.getrandbits(8) for _ in range(end - start))
    for name in CARRIED + ("dwAttributes",):
        h.set(name, RNG.getrandbits(32))
    return h


def header(**fields):
    """A full 160-byte header: fields given, a random carried part, a YUV
    block of zeros unless given. It is laid out with header_length bytes."""
    h = fill(Header(bytes(model.YUV_SIZE)))
    defaults = dict(biPlanes=1, dwInterlace=RNG.choice((0, 0, 1)), dwBitsPerSample=RNG.choice((8, 8, 0)))
    defaults.update(fields)
    for name, value in defaults.items():
        h.set(name, value)
    return h


def rgb(width, height, bits, flag=0):
    return header(biSize=144, biWidth=width, biHeight=height, biBitCount=bits, biCompression=0,
                  dwFormatFlag=flag, dwExtDataOffset=0, biSizeImage=RNG.choice((0, RNG.getrandbits(20))),
                  dwColorSpace=RNG.choice((0, 2)), dwSubsampling=16)


def yuv(width, height, bits, subsampling, colour_space=0, planes=1, compression=YUV, flag=0, **more):
    return header(biSize=RNG.choice((160, 160, 160, 161, 1000)), biWidth=width, biHeight=height, biBitCount=bits,
                  biCompression=compression, biPlanes=planes, dwExtDataOffset=144, dwColorSpace=colour_space,
                  dwSubsampling=subsampling, dwVertSubsampling=0, dwFormatFlag=flag, **more)


def same_attributes(inp, out):
    out.set("dwAttributes", inp.dwAttributes ^ RNG.choice((0, 0, 8)))
    return out


def frame_size(codec, h):
    width, height = h.biWidth, abs(h.biHeight)
    if codec.family == "packed":
        return height * model.packed_stride(width)
    if codec.family == "planar":
        yrow, crow = model.planar_rows(width)
        return height * (yrow + 2 * crow) * (2 if h.biBitCount == 32 else 1)
    return height * model.stride(width, h.biBitCount)


def some_size(codec, h):
    size = frame_size(codec, h)
    return RNG.choice((0, size, size + RNG.randint(1, 4096))) if 0 <= size < 0xFFFFF000 else 0


def decode_pair(codec):
    """A pair the codec's DecompressQuery accepts."""
    cs = codec.colour_space
    if codec.family == "meshed":
        width, height = RNG.choice(((720, 486), (720, -576), (640, 480), (1, 1), (3, -5), (1920, 1080), (2, 0)))
        inp = yuv(width, height, RNG.choice((24, 32)), RNG.choice((16, 128)),
                  flag=RNG.choice((0, 0x10, 0x20, 0x21, 0x31)))
        out_height = abs(height)
    elif codec.family == "planar":
        width, height = RNG.choice(((720, 486), (720, 576), (720, -480), (640, 480), (1, 3), (65, -64)))
        inp = yuv(width, height, RNG.choice((24, 32)), 0, planes=3, flag=RNG.choice((1, 1, 1, 0, 0x21)))
        out_height = abs(height)
    elif codec.family == "yvy":
        width, height = RNG.choice(((720, 486), (720, 576), (640, 486), (1, 576), (2, 486), (1921, 576)))
        inp = yuv(width, height, 16, 512, compression=UYVY, flag=RNG.choice((0, 0x10, 0x20, 0x11, 3)))
        out_height = height
    else:
        if codec.extended:
            width, height = 720, RNG.choice((512, 608))
        else:
            width, height = RNG.choice(((720, 486), (720, 576), (640, 480), (719, 486), (1, 3), (721, -576)))
        interlaced = RNG.random() < 0.7
        inp = yuv(width, height, RNG.choice((16, 16, 24)), 512, cs,
                  flag=RNG.choice((1, 0x21, 0x11)) if interlaced else RNG.choice((0, 0x10, 0x20)),
                  dwInterlace=0 if interlaced and RNG.random() < 0.5 else RNG.choice((1, 2, 0xFFFFFFFF)))
        if width == 720:
            out_height = {486: 486, 576: 576, 512: 486, 608: 576}[height]
        else:
            out_height = RNG.choice((abs(height), 486, 0))
    inp.set("biSizeImage", some_size(codec, inp))
    roll = RNG.random()
    if roll < 0.2:
        return inp, None
    bits = RNG.choice((24, 32))
    flag = RNG.choice((0, 0x20, 0x10))
    if codec.family == "meshed" or roll < 0.6:
        out = rgb(width, out_height, bits, flag)
    elif codec.family == "packed":
        out = yuv(width, out_height, bits, RNG.choice((16, 256, 512)), cs, flag=flag)
    else:
        out = yuv(width, out_height, bits, 16, flag=flag)
    if codec.family == "planar":
        same_attributes(inp, out)
    return inp, out


def encode_pair(codec):
    """A pair the codec's CompressQuery accepts."""
    cs = codec.colour_space
    if codec.family == "meshed":
        width, height = RNG.choice(((720, 486), (720, 576), (640, 480), (1, 1), (3, 5), (1920, 1080), (2, 0)))
    elif codec.family == "planar":
        width, height = RNG.choice(((720, 486), (720, 576), (720, 480), (640, 480), (1, 576), (65, 486)))
    elif codec.family == "yvy" or codec.extended:
        width, height = RNG.choice(((720, 486), (720, 576), (640, 486), (1, 576), (721, 486)))
        if codec.extended:
            width = 720
    else:
        width, height = RNG.choice(((720, 486), (720, 576), (640, 480), (719, 486), (1, 3), (721, 600)))
    bits = RNG.choice((24, 32))
    flag = RNG.choice((0, 0x20, 0x100))
    if codec.family == "meshed" or RNG.random() < 0.6:
        inp = rgb(width, height, bits, flag)
    else:
        inp = yuv(width, height, bits, 16, cs, flag=flag)
    if RNG.random() < 0.2:
        return inp, None
    if codec.family == "meshed":
        out = yuv(width, RNG.choice((height, -height)), RNG.choice((24, 32)), RNG.choice((16, 128)))
        same_attributes(inp, out)
    elif codec.family == "planar":
        out = yuv(width, height, RNG.choice((24, 32)), 0, planes=3)
        same_attributes(inp, out)
    elif codec.family == "yvy":
        out = yuv(width, height, 16, 512, compression=UYVY)
        same_attributes(inp, out)
    else:
        if codec.extended:
            out_height = {486: 512, 576: 608}[height]
        elif width == 720:
            out_height = height
        else:
            out_height = RNG.choice((height, -height, 486))
        out = yuv(width, out_height, RNG.choice((16, 24)), 512, cs, flag=RNG.choice((1, 0x21, 0x11)))
    out.set("biSizeImage", RNG.choice((0, 1, 0xFFFFFFFF)))
    return inp, out


def laid_out(h):
    return None if h is None else bytes(h.data[:model.header_length(h.data)])


def mutate(h, other, name):
    """h with field name set to a value worth trying (other: the header on
    the other side of the pair, or None)."""
    roll = RNG.random()
    if name == "biSizeImage":
        value = RNG.choice(size_pool(h))
    elif name == "dwAttributes":
        base = other.dwAttributes if other is not None else h.dwAttributes
        value = base ^ RNG.choice((1, 4, 8, 9, 0x10, 0x80000000, 0, 0))
    elif name in CARRIED or roll < 0.1:
        value = RNG.getrandbits(32)
    elif other is not None and name in ("biWidth", "biHeight") and roll < 0.45:
        theirs = getattr(other, name)
        value = RNG.choice((theirs + 1, theirs - 1, -theirs, abs(theirs), theirs))
    else:
        value = RNG.choice(POOLS[name])
    h.set(name, value)


MUTABLE = list(POOLS) + ["biSizeImage", "dwAttributes"] + list(CARRIED)


def generated_case(row, decode, origin):
    codec = model.CODECS[row]
    inp, out = decode_pair(codec) if decode else encode_pair(codec)
    changes = RNG.choice((0, 1, 1, 1, 1, 2, 2, 3, 5))
    for _ in range(changes):
        if out is not None and RNG.random() < 0.4:
            mutate(out, inp, RNG.choice(MUTABLE))
        else:
            mutate(inp, out, RNG.choice(MUTABLE))
    if RNG.random() < 0.01:
        inp = Header(bytes(RNG.getrandbits(8) for _ in range(model.YUV_SIZE)))
    index = RNG.choice((0, 1, 2, 3, 4, 5, 6, 7, 8, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF)) if RNG.random() < 0.15 \
        else RNG.randint(0, 7)
    return Case(row, decode, laid_out(inp), laid_out(out), index, RNG.random() > 0.08, origin)


EXTREME_WIDTHS = (0, 0x7FFFFFFF, 0x55555556, 0x40000000, 0x3FFFFFFF, 0x20000000, 0x1FFFFFFF, -0x80000000, -0x7FFFFFFF)
EXTREME_HEIGHTS = (0x7FFFFFFF, -0x80000000, 0x40000000, -1903106573, 3, -2)


def boundary_values(h, other, name):
    if name == "biSizeImage":
        return size_pool(h)
    if name == "dwAttributes":
        base = (other or h).dwAttributes
        return [base ^ bit for bit in (0, 1, 4, 8, 9, 0x10, 0x80000000)]
    values = list(POOLS[name])
    if other is not None and name in ("biWidth", "biHeight"):
        theirs = getattr(other, name)
        values += [v for v in (theirs - 1, theirs + 1, -theirs) if v not in values and -2**31 <= v < 2**31]
    return values


def boundary_cases():
    """Each checked field of a few valid pairs of every codec and direction
    set to each value of its pool, on either side; then every alternative of
    GetFormat with a working and a failing allocator."""
    cases = []
    for row, codec in enumerate(model.CODECS):
        for decode in (True, False):
            for base in range(4):
                inp, out = decode_pair(codec) if decode else encode_pair(codec)
                if out is None:
                    out = (decode_pair(codec) if decode else encode_pair(codec))[1]
                sides = [("input", inp, out), ("output", out, inp)] if out is not None else [("input", inp, None)]
                for side, h, other in sides:
                    for name in list(POOLS) + ["biSizeImage", "dwAttributes"]:
                        for value in boundary_values(h, other, name):
                            changed = h.copy()
                            changed.set(name, value)
                            pair = (changed, other) if side == "input" else (other, changed)
                            for with_out in ((True, False) if side == "input" and base == 0 else (True,)):
                                cases.append(Case(row, decode, laid_out(pair[0]),
                                                  laid_out(pair[1]) if with_out else None,
                                                  len(cases) % 9, len(cases) % 11 != 0,
                                                  "%s %s = %s" % (side, name, show_value(name, value))))
                # Frames too large for any size arithmetic narrower than the
                # products themselves, claimed to be small or as large as can be.
                for width in EXTREME_WIDTHS:
                    for height in EXTREME_HEIGHTS:
                        for size in (1, 0xFFFFFFFF, 0):
                            changed = inp.copy()
                            changed.set("biWidth", width)
                            changed.set("biHeight", height)
                            changed.set("biSizeImage", size)
                            cases.append(Case(row, decode, laid_out(changed), None, len(cases) % 9, True,
                                              "extreme frame %d x %d, size %d" % (width, height, size)))
                for index in list(range(9)) + [0xFFFFFFFF]:
                    for alloc_ok in (True, False):
                        cases.append(Case(row, decode, laid_out(inp), laid_out(out), index, alloc_ok,
                                          "valid pair"))
    return cases


# ---- registration and the fixed answers ---------------------------------------------


class Fixed:
    """The checks that are not header pairs: registration, the codecs' fixed
    answers, and (with faults) unreadable arguments. Each scenario runs in a
    child and returns a list of problems."""

    def __init__(self, tarnel, zelku, faults):
        self.tarnel = tarnel
        self.zelku = zelku
        self.faults = faults

    def register(self, version, statuses, fail_row=None):
        """Problems of one EnumerateCodecs call, and the codecs it left with
        the registry."""
        zelku = self.zelku
        problems = []
        live0, allocations0 = zelku.live_blocks(), zelku.allocations()
        live_at_offer = []
        registry = Registry(lambda row: statuses[row] if row < len(statuses) else 0,
                            lambda row, codec: live_at_offer.append(zelku.live_blocks()))
        zelku.take()
        if fail_row is not None:
            zelku.fail_allocation(fail_row + 1)
        self.tarnel.EnumerateCodecs(registry.address, version)
        zelku.fail_allocation(0)
        lines = zelku.take()
        what = "EnumerateCodecs(version 0x%x, statuses %s%s)" % (
            version, statuses, "" if fail_row is None else ", allocation %d failing" % (fail_row + 1))

        def same(part, got, want):
            if got != want:
                problems.append("%s %s: native %r, model %r" % (what, part, got, want))

        events = model.enumerate_codecs(version, lambda row: statuses[row],
                                        lambda row: row != fail_row)
        offers = [(fourcc, codec is not None) for kind, fourcc, codec in
                  [e for e in events if e[0] == "offer"]]
        same("offers (FourCC, codec given)", [(f, bool(c)) for f, c in registry.offers], offers)
        same("lines", lines, [(ASSERT, e[4], 0, assertion_text(e[3])) for e in events if e[0] == "assert"])
        same("stray calls", registry.stray, [])
        kept, live, want_live = [], live0, []
        for row, (kind, fourcc, codec) in enumerate(e for e in events if e[0] == "offer"):
            want_live.append(live + (codec is not None))
            if codec is not None and statuses[row] >= 0:
                live += 1
        same("live blocks at each offer", live_at_offer, want_live)
        same("live blocks after", zelku.live_blocks(), live)
        same("allocations", zelku.allocations() - allocations0, len(offers))
        for row, (fourcc, address) in enumerate(registry.offers):
            if address and row < len(statuses) and statuses[row] >= 0:
                kept.append((row, NativeCodec(address)))
        return problems, kept

    def registration(self):
        problems = []
        refuse, accept = [-1] * 6, [0] * 6
        for version in (0, 1, 0x10001, 0x10003, 0x20002, 0x1010002, 0xFFFFFFFF):
            problems += self.register(version, accept)[0]
        mixed = [RNG.choice((0, 1, 0x7FFFFFFF, -1, -2, -0x80000000)) for _ in range(6)]
        for statuses in (refuse, [-0x80000000] * 6, [1, 2, 3, 4, 5, 0x7FFFFFFF], mixed):
            found, kept = self.register(model.VERSION, statuses)
            problems += found
            problems += self.destroy(kept)
        for row in range(6):
            for statuses in (accept, refuse):
                found, kept = self.register(model.VERSION, statuses, row)
                problems += found
                problems += self.destroy(kept)
        return problems

    def destroy(self, kept):
        problems = []
        for row, codec in kept:
            live = self.zelku.live_blocks()
            codec.Destroy()
            if self.zelku.live_blocks() != live - 1:
                problems.append("%s Destroy: live blocks %d before, %d after" % (
                    model.CODECS[row].name, live, self.zelku.live_blocks()))
        return problems

    def answers(self):
        """What every codec answers whatever the headers."""
        problems, kept = self.register(model.VERSION, [0] * 6)
        if len(kept) != 6:
            return problems + ["no six codecs to ask"]
        aux, value = Fenced(), Fenced()
        for row, native in kept:
            codec = model.CODECS[row]
            c = Comparison()
            self.zelku.take()
            c.same("GetVersion", native.GetVersion(), codec.get_version())
            c.same("GetCapabilities", native.GetCapabilities(), codec.get_capabilities())
            c.same("OnBegin", native.OnBegin(), 0)
            c.same("OnEnd", native.OnEnd(), 0)
            c.same("GetColorSpace", native.GetColorSpace(), codec.get_colour_space())
            for args in ((0, 0, 0), (1, 2, 3), (6, 0xFFFFFFFF, 0x80000000)):
                c.same("SetInfo%r" % (args,), native.SetInfo(*args), codec.set_info(*args))
            for arg in (0, 1, 0xFFFFFFFF):
                c.same("DecompressEnd(%d)" % arg, native.DecompressEnd(arg), codec.end())
                c.same("CompressEnd(%d)" % arg, native.CompressEnd(arg), codec.end())
            for id in list(range(13)) + [0x100, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]:
                want, where, what = codec.get_info(id)
                value_size = ctypes.sizeof(c_void_p) if isinstance(what, str) else 4
                a_aux = aux.place(CELL_SENTINEL.to_bytes(4, "little"))
                a_value = value.place(SENTINEL.to_bytes(8, "little")[:value_size])
                # A cell that must not be touched is unreadable when faults are checked.
                if self.faults and where != "aux":
                    a_aux = aux.end
                if self.faults and where != "value":
                    a_value = value.end
                got = native.GetInfo(id, a_aux, a_value)
                c.same("GetInfo(%d) status" % id, status_of(got), want)
                if where == "aux":
                    c.same("GetInfo(%d) aux" % id, cell_value(aux, a_aux, 4), what)
                elif not self.faults:
                    c.same("GetInfo(%d) aux" % id, cell_value(aux, a_aux, 4), CELL_SENTINEL)
                if where == "value" and isinstance(what, str):
                    pointer = cell_value(value, a_value, value_size)
                    c.same("GetInfo(%d) string" % id, wide_at(pointer, 200) if pointer else None, what)
                elif where == "value":
                    c.same("GetInfo(%d) value" % id, cell_value(value, a_value, 4), what)
                elif not self.faults:
                    c.same("GetInfo(%d) value" % id, cell_value(value, a_value, value_size),
                           int.from_bytes(SENTINEL.to_bytes(8, "little")[:value_size], "little"))
            c.same("lines", self.zelku.take(), [])
            problems += ["%s %s" % (codec.name, p) for p in c.problems]
        # The deleting destructor frees, and Destroy of no object does nothing
        # (a call on a null object, which sanitizers report whatever it does).
        row, native = kept[0]
        live = self.zelku.live_blocks()
        native.DeletingDestructor(1)
        if self.zelku.live_blocks() != live - 1:
            problems.append("%s deleting destructor: live blocks %d before, %d after" % (
                model.CODECS[row].name, live, self.zelku.live_blocks()))
        if self.faults:
            for row, native in kept[1:]:
                native.unbound(1, None)(None)
        problems += self.destroy(kept[1:])
        return problems

    def unreadable(self):
        """Operations given unreadable headers or cells report the fault and
        answer 0x8000FFFF."""
        problems, kept = self.register(model.VERSION, [0] * 6)
        bad = Fenced()
        nowhere = bad.end          # the unreadable page
        cells = Fenced()
        allocator = Allocator()
        for row, native in kept:
            codec = model.CODECS[row]
            names = {codec.name, codec.printed}
            good_in = {True: laid_out(decode_pair(codec)[0]), False: laid_out(encode_pair(codec)[0])}
            inputs = Fenced()

            def expect(what, call, operations, before=()):
                """The call reports one caught fault in one of the operations,
                after the lines `before` of the query it runs first."""
                self.zelku.take()
                got = call()
                lines = self.zelku.take()
                allowed = [(EXCEPTION, model.CATEGORY, 0, exception_text("%s::%s" % (n, o)))
                           for n in sorted(names) for o in operations]
                before = printed(before)
                if (status_of(got) != model.CAUGHT or len(lines) != len(before) + 1
                        or lines[:-1] != before or lines[-1] not in allowed):
                    problems.append("%s %s: native status 0x%08x and lines %r; model 0x%08x and lines %r, "
                                    "then one of %r" % (codec.name, what, status_of(got), lines, model.CAUGHT,
                                                        before, allowed))

            def query_lines(decode):
                log = []
                query = codec.decompress_query if decode else codec.compress_query
                query(Header(good_in[decode]), None, log)
                return log

            for pointer, shown_as in ((None, "null"), (nowhere, "unreadable")):
                expect("DecompressQuery(%s, null)" % shown_as,
                       lambda: native.DecompressQuery(pointer, None), ["DecompressQuery"])
                expect("CompressQuery(%s, null)" % shown_as,
                       lambda: native.CompressQuery(pointer, None), ["CompressQuery"])
                expect("DecompressGetFormat(%s)" % shown_as,
                       lambda: native.DecompressGetFormat(pointer, cells.room(8), allocator.address, 0),
                       ["DecompressQuery", "DecompressGetFormat"])
                expect("CompressGetFormat(%s)" % shown_as,
                       lambda: native.CompressGetFormat(pointer, cells.room(8), allocator.address),
                       ["CompressQuery", "CompressGetFormat"])
            a_dec = inputs.place(good_in[True], read_only=True)
            expect("DecompressBegin with an unreadable cell",
                   lambda: native.DecompressBegin(a_dec, None, nowhere), ["DecompressBegin"],
                   query_lines(True) if codec.family == "packed" else ())
            expect("DecompressGetFormat into an unreadable pointer",
                   lambda: native.DecompressGetFormat(a_dec, nowhere, allocator.address, 0), ["DecompressGetFormat"],
                   query_lines(True))
            a_enc = inputs.place(good_in[False], read_only=True)
            expect("CompressBegin with an unreadable cell",
                   lambda: native.CompressBegin(a_enc, None, nowhere), ["CompressBegin"])
            expect("CompressGetFormat into an unreadable pointer",
                   lambda: native.CompressGetFormat(a_enc, nowhere, allocator.address), ["CompressGetFormat"],
                   query_lines(False))
        return problems


# ---- the check ------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tarnel", help="the native Tarnel library, e.g. build/native/bin/libtarnel.so")
    parser.add_argument("zelku", help="the native Zelku library it loads, e.g. build/native/bin/libzelku.so")
    parser.add_argument("--count", type=int, default=20000, help="generated pairs (default 20000)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    parser.add_argument("--no-fault-checks", action="store_true",
                        help="skip unreadable arguments (for sanitized builds)")
    parser.add_argument("--batch", type=int, default=1000, help="pairs per child process (default 1000)")
    args = parser.parse_args()

    RNG.seed(args.seed)
    zelku = Zelku(args.zelku)
    tarnel = difftools.load(TOOL, args.tarnel, {"EnumerateCodecs": (None, [c_void_p, c_uint32])})
    faults = not args.no_fault_checks
    found = 0

    def report(text):
        nonlocal found
        found += 1
        print("DIFFERENCE " + text)
        sys.stdout.flush()
        if not args.keep_going:
            raise Differences()

    fixed = Fixed(tarnel, zelku, faults)
    scenarios = [fixed.registration, fixed.answers] + ([fixed.unreadable] if faults else [])
    pairs = 0
    try:
        for scenario, answer in difftools.in_batches(scenarios, lambda s: s(), batch=1):
            if isinstance(answer, str):
                report("%s: %s" % (scenario.__name__, answer))
            for problem in answer if isinstance(answer, list) else []:
                report(problem)

        # The codecs the pairs are asked of: registered here, in the parent, and
        # inherited by every child.
        problems, kept = fixed.register(model.VERSION, [0] * 6)
        if len(kept) != 6 or [row for row, _ in kept] != list(range(6)):
            print("%s: no six codecs registered; the pairs cannot be asked" % TOOL)
            return 1
        runner = Runner(zelku, [native for _, native in kept])
        cases = boundary_cases()
        boundary = len(cases)
        cases += [generated_case(RNG.randrange(6), RNG.random() < 0.5, "generated %d" % i)
                  for i in range(args.count)]
        for case, answer in difftools.in_batches(cases, runner.pair, batch=args.batch):
            pairs += 1
            if answer.startswith("crashed") or answer.startswith("exited"):
                answer = "%s\n    %s" % (case.describe(), answer)
            if answer:
                report(answer)
    except Differences:
        pass
    if found:
        print("%s: %d difference(s) (%d pairs asked)" % (TOOL, found, pairs))
        return 1
    print("%s: %d pairs agreed (%d boundary, %d generated; seed %d)%s" % (
        TOOL, pairs, boundary, args.count, args.seed, "" if faults else ", without unreadable arguments"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
