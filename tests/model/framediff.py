#!/usr/bin/env python3
"""Differential check of the frame conversions of Tarnel's codecs against
framemodel.

    framediff.py TARNEL ZELKU [--count N] [--seed S] [--keep-going] [--no-fault-checks]

Registers the six codecs of the native library, checks that their converters
hold the tables the model computes, then converts N generated frames
(reproducible from the seed; every codec, every conversion, through
Decompress and Compress and through the packed and planar codecs' own slots):
header pairs that the codecs' own queries accept (checked with codecmodel),
random and structured pixels, narrow and odd widths, negative heights, the
heights the queries allow and the extended ones, row alignments, flag words,
alpha modes, and sizes and pitches that would take a literal conversion
outside its input frame or the frame it allocates.

Placement: headers end at an unreadable page (input headers and frames are
read-only); input frames and the allocator's blocks lie either against an
unreadable page after them or against one before them, and the rest of their
pages holds guard bytes that are compared after the call. A read or write
outside a buffer faults or changes a guard byte. Calls run in child
processes, where a crash is an answer.

Compared: the status, the sizes asked of the allocator, the output pointer,
the output frame byte for byte (padding included: what the allocator left
there), the output header after the call, the debug lines (the timing lines'
milliseconds as any number), the Zelku blocks asked for and returned.

On a disagreement it prints the scenario and both answers and exits 1 (after
the first one, or after all with --keep-going). Exit 2: a library cannot be
loaded or lacks an entry point.
"""

import argparse
import ctypes
import os
import random
import sys
from ctypes import CFUNCTYPE, POINTER, c_int32, c_size_t, c_uint32, c_void_p

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import codecmodel  # noqa: E402
import framemodel as model  # noqa: E402
import difftools  # noqa: E402
from codecdiff import NativeCodec, Registry, HostObject, Zelku, show_header  # noqa: E402
from codecmodel import Header, YUV, UYVY, stride  # noqa: E402
from difftools import Differences  # noqa: E402

TOOL = "framediff"
SENTINEL = 0x5A5A5A5A5A5A5A5A
GUARD = 0xE7          # the bytes around every buffer
FILL = 0xC3           # what the allocator leaves in a block
ALLOC_CAP = 48 << 20  # larger blocks are refused by the allocator

libc = ctypes.CDLL(None, use_errno=True)
libc.mmap.restype = c_void_p
libc.mmap.argtypes = [c_void_p, c_size_t, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_long]
libc.munmap.restype = ctypes.c_int
libc.munmap.argtypes = [c_void_p, c_size_t]
libc.mprotect.restype = ctypes.c_int
libc.mprotect.argtypes = [c_void_p, c_size_t, ctypes.c_int]
PAGE = os.sysconf("SC_PAGE_SIZE")
PROT_NONE, PROT_READ, PROT_WRITE = 0, 1, 2
MAP_PRIVATE, MAP_ANONYMOUS = 0x02, 0x20


class Guarded:
    """size bytes between two unreadable pages: against the one after them
    (at_end) or the one before them; the rest of their pages holds GUARD."""

    def __init__(self, size, at_end):
        self.size = size
        self.pages = (size + PAGE - 1) // PAGE or 1
        self.length = (self.pages + 2) * PAGE
        base = libc.mmap(None, self.length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
        if base in (None, ctypes.c_void_p(-1).value):
            difftools.unusable(TOOL, "mmap of %d bytes failed" % self.length)
        self.base = base
        self.data = base + PAGE
        libc.mprotect(base, PAGE, PROT_NONE)
        libc.mprotect(self.data + self.pages * PAGE, PAGE, PROT_NONE)
        ctypes.memset(self.data, GUARD, self.pages * PAGE)
        self.address = self.data + self.pages * PAGE - size if at_end else self.data

    def put(self, data):
        ctypes.memmove(self.address, bytes(data), len(data))

    def fill(self, byte):
        ctypes.memset(self.address, byte, self.size)

    def read_only(self):
        libc.mprotect(self.data, self.pages * PAGE, PROT_READ)

    def contents(self):
        return ctypes.string_at(self.address, self.size)

    def guards_intact(self):
        before = ctypes.string_at(self.data, self.address - self.data)
        after_start = self.address + self.size
        after = ctypes.string_at(after_start, self.data + self.pages * PAGE - after_start)
        return before.count(GUARD) == len(before) and after.count(GUARD) == len(after)

    def free(self):
        libc.munmap(self.base, self.length)


ALLOC = CFUNCTYPE(c_void_p, c_void_p, c_uint32, c_uint32)


class FrameAllocator(HostObject):
    """The host's frame allocator: blocks between unreadable pages, filled with
    FILL, or null when told to fail or asked for more than ALLOC_CAP."""

    def __init__(self):
        self.requests = []
        self.blocks = []
        self.fail = False
        self.at_end = True
        super().__init__(4, {1: ALLOC(self._alloc)}, "allocator", "15IFrameAllocator")

    def reset(self, fail, at_end):
        for block in self.blocks:
            block.free()
        self.requests, self.blocks, self.fail, self.at_end, self.stray = [], [], fail, at_end, []

    def _alloc(self, this, size, flags):
        self.requests.append((size, flags))
        if self.fail or size > ALLOC_CAP:
            return None
        block = Guarded(size, self.at_end)
        block.fill(FILL)
        self.blocks.append(block)
        return block.address


def allocator_gives(fail):
    return lambda size: not fail and size <= ALLOC_CAP


# ---- scenarios ---------------------------------------------------------------------

CONVERSION_SLOT = 19
FAMILY = {0: "planar", 1: "meshed", 2: "packed", 3: "packed", 4: "yvy", 5: "packed"}
NAMES = [c.name for c in codecmodel.CODECS]

SMALL_WIDTHS = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 127, 129]


class Scenario:
    """One conversion call: everything needed to make it and to show it."""

    def __init__(self, index, row, op, inp, out, flags, alloc_fail, scratch_fail, in_at_end, out_at_end,
                 pixel_seed, pixels, origin):
        self.index, self.row, self.op = index, row, op
        self.inp, self.out = inp, out          # header bytes (laid out: 144 or 160)
        self.flags = flags
        self.alloc_fail, self.scratch_fail = alloc_fail, scratch_fail
        self.in_at_end, self.out_at_end = in_at_end, out_at_end
        self.pixel_seed, self.pixels = pixel_seed, pixels
        self.origin = origin

    def describe(self):
        return "\n".join([
            "scenario %d: %s %s (%s), flags %s%s%s, %s pixels, input %s, output blocks %s" % (
                self.index, NAMES[self.row], self.op, self.origin,
                "null" if self.flags is None else "0x%x" % self.flags,
                ", allocator failing" if self.alloc_fail else "",
                ", scratch row failing" if self.scratch_fail else "", self.pixels,
                "against the page after" if self.in_at_end else "against the page before",
                "against the page after" if self.out_at_end else "against the page before"),
            "    input  %s" % show_header(self.inp),
            "    output %s" % show_header(self.out)])


def laid_out(h):
    return bytes(h.data[:codecmodel.header_length(h.data)])


def new_header(rng, **fields):
    h = Header(bytes(160))
    for start, end in ((24, 40), (60, 84), (88, 108), (112, 144)):
        h.data[start:end] = bytes(rng.getrandbits(8) for _ in range(end - start))
    h.set("dwMarker", rng.getrandbits(32))
    h.set("dwAttributes", rng.getrandbits(32))
    h.set("dwBitsPerSample", rng.choice((8, 8, 0)))
    for name, value in fields.items():
        h.set(name, value)
    return h


def rgb_header(rng, width, height, bits, size=None, flag=0, alpha_mode=None):
    h = new_header(rng, biSize=144, biWidth=width, biHeight=height, biPlanes=1, biBitCount=bits,
                   biCompression=0, dwExtDataOffset=0, dwFormatFlag=flag)
    h.set("dwAlphaMode", alpha_mode if alpha_mode is not None else rng.choice((0, 0, 0, 1, 2, 0x80000000)))
    h.set("dwRowAlign", rng.choice((0, 0, 4, rng.getrandbits(32))))
    h.set("biSizeImage", size if size is not None else abs(height) * stride(width, bits))
    return h


def yuv_header(rng, width, height, bits, subsampling, colour_space=0, planes=1, compression=YUV, flag=0,
               size=0, align=0):
    h = new_header(rng, biSize=rng.choice((160, 160, 160, 200)), biWidth=width, biHeight=height,
                   biPlanes=planes, biBitCount=bits, biCompression=compression, dwExtDataOffset=144,
                   dwFormatFlag=flag, dwColorSpace=colour_space, dwSubsampling=subsampling,
                   dwVertSubsampling=0, biSizeImage=size, dwRowAlign=align)
    h.set("dwAlphaMode", rng.choice((0, 0, 0, 1, 2, 3)))
    return h


def host_size(rng, width, height, bits):
    """biSizeImage of a host frame: usually exact, sometimes 0, more, or short."""
    need = abs(height) * stride(width, bits)
    roll = rng.random()
    if roll < 0.7:
        return need
    if roll < 0.8:
        return 0
    if roll < 0.88:
        return need + rng.randint(1, 300)
    if roll < 0.96:
        return max(1, need - rng.choice((1, 2, 3, 4, stride(width, bits), rng.randint(1, max(1, need)))))
    return rng.choice((1, 2, 3))


def out_size(rng, exact, others=()):
    roll = rng.random()
    if roll < 0.7:
        return exact
    if roll < 0.75:
        return 0
    if roll < 0.85:
        return exact + rng.randint(1, 500)
    if roll < 0.92 and exact > 1:
        return exact - rng.choice((1, 2, 3, 4, max(1, exact // 3)))
    return rng.choice(list(others) + [1, exact]) if others else exact


def align_choice(rng, row):
    roll = rng.random()
    if roll < 0.4:
        return 0
    return rng.choice((1, 2, 3, 4, 4, 8, 16, 32, 64, 128, max(row, 0), max(row, 0) + 1, max(row, 0) + 2,
                       max(row, 0) + 64, 2048, rng.randint(1, 4096)))


def pick_width(rng, wide=0.04):
    if rng.random() < wide:
        return rng.choice((720, 719, 721, 640))
    return rng.choice(SMALL_WIDTHS)


def flags_choice(rng):
    roll = rng.random()
    if roll < 0.2:
        return None
    if roll < 0.35:
        return 0
    bits = (0x8, 0x80, 0x100, 0x200)
    value = 0
    for b in bits:
        if rng.random() < 0.35:
            value |= b
    if rng.random() < 0.15:
        value |= rng.getrandbits(32)
    return value


def packed_decode(rng, row):
    codec = codecmodel.CODECS[row]
    cs = codec.colour_space
    if codec.extended:
        width, height = 720, rng.choice((512, 608))
    elif rng.random() < 0.12:
        width, height = 720, rng.choice((486, 576))
    else:
        width = pick_width(rng, 0)
        height = rng.choice((1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, -1, -2, -3, -4, -7, -8, 512, 608, -512, -608,
                             486, 0))
    two = rng.random() < 0.75
    flag = rng.choice((1, 0x11, 0x21, 0x31)) if two else rng.choice((0, 0x10, 0x20))
    align = align_choice(rng, width * 2)
    h = yuv_header(rng, width, height, rng.choice((16, 16, 24)), 512, cs, flag=flag, align=align)
    h.set("dwInterlace", rng.choice((0, 1, 0xFFFFFFFF)) if two else rng.choice((1, 2, 0xFFFFFFFF)))
    pitch = model.packed_pitch(width, align)
    least = abs(height) * codecmodel.packed_stride(width)
    layout = abs(height) * pitch
    h.set("biSizeImage", rng.choice((0, 0, layout, layout, least, layout + rng.randint(1, 99),
                                     least + rng.randint(0, max(0, layout - least)))))
    if width == 720:
        out_height = {486: 486, 576: 576, 512: 486, 608: 576}[height]
    else:
        out_height = rng.choice((abs(height), abs(height), abs(height) + 1, max(abs(height) - 1, 0), 1, 0))
    return h, out_height


def decoder_output(rng, row, inp, out_height):
    codec = codecmodel.CODECS[row]
    width = inp.biWidth
    bits = rng.choice((24, 32))
    yuv_out = FAMILY[row] != "meshed" and rng.random() < 0.4
    exact = abs(out_height) * stride(width, bits)
    if yuv_out:
        subsampling = 16 if FAMILY[row] != "packed" or rng.random() < 0.8 else rng.choice((256, 512))
        out = yuv_header(rng, width, out_height, bits, subsampling, codec.colour_space,
                         flag=rng.choice((0, 0x20, 0x10)), size=out_size(rng, exact, (exact // 4,)))
    else:
        out = rgb_header(rng, width, out_height, bits, size=out_size(rng, exact, (exact // 4,)),
                         flag=rng.choice((0, 0x20, 0x10)))
    if FAMILY[row] == "planar":
        out.set("dwAttributes", inp.dwAttributes ^ rng.choice((0, 0, 8)))
    return out


def planar_decode(rng):
    width = pick_width(rng)
    height = rng.choice((1, 2, 3, 4, 5, 6, 8, 9, -1, -2, -4, -5, 480, 486, 488, 489, 576, -486, 0))
    bits = rng.choice((24, 32))
    h = yuv_header(rng, width, height, bits, 0, planes=3, flag=rng.choice((1, 1, 1, 0, 0x21)))
    yrow, crow = codecmodel.planar_rows(width)
    least = abs(height) * (yrow + 2 * crow) * (2 if bits == 32 else 1)
    h.set("biSizeImage", rng.choice((0, least, least, least + rng.randint(1, 200))))
    h.set("dwRowAlign", rng.choice((0, 64, rng.getrandbits(32))))
    return h, abs(height)


def meshed_decode(rng):
    width = pick_width(rng)
    height = rng.choice((1, 2, 3, 4, 5, 7, 8, 16, -1, -2, -3, -8, 0, 486))
    bits = rng.choice((24, 32))
    align = align_choice(rng, width * bits // 8)
    h = yuv_header(rng, width, height, bits, rng.choice((16, 128)), flag=rng.choice((0, 0x10, 0x20, 0x21, 3)),
                   align=align)
    least = abs(height) * stride(width, bits)
    layout = abs(height) * model.padded_row(width * bits // 8, align)
    h.set("biSizeImage", rng.choice((0, 0, least, layout, layout, max(least, layout) + rng.randint(1, 99))))
    return h, abs(height)


def yvy_decode(rng):
    width = pick_width(rng)
    height = rng.choice((486, 576))
    align = align_choice(rng, width * 2)
    h = yuv_header(rng, width, height, 16, 512, compression=UYVY, flag=rng.choice((0, 0x10, 0x20, 3)),
                   align=align)
    least = abs(height) * stride(width, 16)
    layout = abs(height) * model.padded_row(width * 2, align)
    h.set("biSizeImage", rng.choice((0, 0, least, layout, layout, max(least, layout) + rng.randint(1, 99))))
    return h, height


def host_input(rng, row, width, height, rgb_only=False):
    codec = codecmodel.CODECS[row]
    bits = rng.choice((24, 32, 32))
    if rgb_only or rng.random() < 0.6:
        return rgb_header(rng, width, height, bits, size=host_size(rng, width, height, bits),
                          flag=rng.choice((0, 0x20, 0x100)))
    h = yuv_header(rng, width, height, bits, 16, codec.colour_space, flag=rng.choice((0, 0x20)),
                   size=host_size(rng, width, height, bits))
    return h


def encode_pair(rng, row):
    family = FAMILY[row]
    codec = codecmodel.CODECS[row]
    if family == "packed":
        if codec.extended or rng.random() < 0.12:
            width, height = 720, rng.choice((486, 576))
        else:
            width, height = pick_width(rng, 0), rng.choice((1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 512, 608, 486, 0))
        inp = host_input(rng, row, width, height)
        if codec.extended:
            out_height = {486: 512, 576: 608}[height]
        elif width == 720:
            out_height = height
        else:
            out_height = rng.choice((height, height, -height, 512, 608, -512, height + 1, max(height - 1, 0)))
        align = align_choice(rng, width * 2)
        out = yuv_header(rng, width, out_height, rng.choice((16, 16, 24)), 512, codec.colour_space,
                         flag=rng.choice((1, 0x11, 0x21)), align=align)
        exact = abs(out_height) * width * 2
        layout = abs(out_height) * model.packed_pitch(width, align or 4)
        out.set("biSizeImage", out_size(rng, exact, (layout, layout, layout + 3)))
    elif family == "planar":
        width, height = pick_width(rng), rng.choice((480, 486, 576))
        inp = host_input(rng, row, width, height)
        bits = rng.choice((24, 32))
        out = yuv_header(rng, width, height, bits, 0, planes=3, flag=1, align=rng.choice((0, 64)))
        yrow, crow = codecmodel.planar_rows(width)
        exact = height * (yrow + 2 * crow) + (2 * yrow * height if bits == 32 else 0)
        out.set("biSizeImage", out_size(rng, exact, (height * (yrow + 2 * crow + (yrow if bits == 32 else 0)),)))
        out.set("dwAttributes", inp.dwAttributes ^ rng.choice((0, 8)))
    elif family == "meshed":
        width, height = pick_width(rng), rng.choice((1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 0, 486))
        inp = host_input(rng, row, width, height, rgb_only=True)
        inp.set("dwFormatFlag", rng.choice((0, 0x10, 0x20, 0x30)))
        bits = rng.choice((24, 32))
        align = align_choice(rng, width * bits // 8)
        out = yuv_header(rng, width, rng.choice((height, -height)), bits, rng.choice((16, 128)),
                         flag=rng.choice((0, 0, 1, 0x11, 0x10, 0x21)), align=align)
        exact = height * stride(width, bits)
        layout = height * model.padded_row(width * bits // 8, align or 4)
        out.set("biSizeImage", out_size(rng, exact, (layout, layout)))
        out.set("dwAttributes", inp.dwAttributes ^ rng.choice((0, 8)))
    else:
        width, height = pick_width(rng), rng.choice((486, 576))
        inp = host_input(rng, row, width, height)
        align = align_choice(rng, width * 2)
        out = yuv_header(rng, width, height, 16, 512, compression=UYVY, flag=rng.choice((0, 0x20, 1)), align=align)
        exact = height * stride(width, 16)
        layout = height * model.padded_row(width * 2, align or 4)
        out.set("biSizeImage", out_size(rng, exact, (layout, layout)))
        out.set("dwAttributes", inp.dwAttributes ^ rng.choice((0, 8)))
    return inp, out


def accepted(row, decode, inp, out):
    codec = codecmodel.CODECS[row]
    i, o = Header(laid_out(inp)), Header(laid_out(out))
    query = codec.decompress_query if decode else codec.compress_query
    try:
        return query(i, o, []) == codecmodel.OK
    except codecmodel.ReadPast:
        return False


def generate(index, rng):
    """A scenario the codec's own query accepts."""
    for attempt in range(200):
        row = rng.randrange(6)
        family = FAMILY[row]
        decode = rng.random() < 0.5
        if decode:
            if family == "packed":
                inp, out_height = packed_decode(rng, row)
            elif family == "planar":
                inp, out_height = planar_decode(rng)
            elif family == "meshed":
                inp, out_height = meshed_decode(rng)
            else:
                inp, out_height = yvy_decode(rng)
            out = decoder_output(rng, row, inp, out_height)
        else:
            inp, out = encode_pair(rng, row)
        if not accepted(row, decode, inp, out):
            continue
        slots = model.slots_of(row)
        op = "Decompress" if decode else "Compress"
        if slots and rng.random() < 0.4:
            if decode:
                choices = ["DecompressToBGR", "DecompressToBGRHalf"] if out.biCompression == 0 else \
                    ["DecompressToYUV"]
            else:
                choices = ["CompressFromBGR"] if inp.biCompression == 0 else ["CompressFromYUV"]
            op = rng.choice([c for c in choices if c in slots])
        flags = flags_choice(rng)
        pixels = rng.choice(("random", "random", "uniform", "extremes", "ramp", "alpha"))
        return Scenario(index, row, op, laid_out(inp), laid_out(out), flags, rng.random() < 0.04,
                        row == 4 and not decode and rng.random() < 0.05, rng.random() < 0.5, rng.random() < 0.5,
                        rng.getrandbits(32), pixels, "generated")
    raise RuntimeError("no accepted pair")


def standard(rng, start):
    """Full-size frames of the heights the codecs are made for, through every
    conversion of every codec, with the sizes the queries give."""
    scenarios = []

    def add(row, op, inp, out, flags=None):
        decode = op.startswith("Decompress")
        if decode:
            ok = accepted(row, True, inp, out)
        else:
            ok = accepted(row, False, inp, out)
            codecmodel.CODECS[row].compress_query(inp, out, [])  # the size the host is told
        if not ok:
            raise RuntimeError("a standard pair is refused by the query: %s %s" % (NAMES[row], op))
        scenarios.append(Scenario(start + len(scenarios), row, op, laid_out(inp), laid_out(out), flags, False,
                                  False, rng.random() < 0.5, rng.random() < 0.5, rng.getrandbits(32),
                                  rng.choice(("random", "ramp", "alpha")), "standard"))

    def rgb(height, bits, alpha_mode=0):
        return rgb_header(rng, 720, height, bits, alpha_mode=alpha_mode)

    def yuv444(height, bits, cs=0):
        return yuv_header(rng, 720, height, bits, 16, cs, size=height * stride(720, bits))

    for row in (2, 3, 5):
        cs = codecmodel.CODECS[row].colour_space
        for stored, shown in (((512, 486), (608, 576)) if row == 3 else ((486, 486), (576, 576))):
            inp = yuv_header(rng, 720, stored, 16, 512, cs, flag=1, size=stored * 1440)
            add(row, "Decompress", inp, rgb(shown, 32))
            add(row, "DecompressToBGR", inp, rgb(shown, 24))
            add(row, "Decompress", inp, rgb(shown, 32), flags=0x80)
            add(row, "DecompressToYUV", inp, yuv444(shown, rng.choice((24, 32)), cs))
            out = yuv_header(rng, 720, stored, 16, 512, cs, flag=1)
            add(row, "Compress", rgb(shown, 32), out.copy(), flags=rng.choice((0, 8)))
            add(row, "CompressFromYUV", yuv444(shown, 32, cs), out.copy(), flags=8)
    yrow, crow = 768, 384
    for height in (486, 576):
        for bits in (24, 32):
            size = height * (yrow + 2 * crow) * (2 if bits == 32 else 1)
            inp = yuv_header(rng, 720, height, bits, 0, planes=3, flag=1, size=size)
            inp.set("dwAttributes", 0)
            out = rgb(height, rng.choice((24, 32)))
            out.set("dwAttributes", 8)
            add(0, rng.choice(("Decompress", "DecompressToBGR")), inp, out)
            out = yuv444(height, rng.choice((24, 32)))
            out.set("dwAttributes", 0)
            add(0, "Decompress", inp, out)
            out = yuv_header(rng, 720, height, bits, 0, planes=3, flag=1)
            out.set("dwAttributes", 0)
            source = rgb(height, 32)
            source.set("dwAttributes", 0)
            add(0, "Compress", source, out.copy(), flags=rng.choice((0, 8)))
            source = yuv444(height, 32)
            source.set("dwAttributes", 0)
            add(0, "CompressFromYUV", source, out.copy(), flags=0x108)
    for height, subsampling in ((486, 16), (576, 128)):
        inp = yuv_header(rng, 720, height, 32, subsampling, size=height * 2880, align=4)
        add(1, "Decompress", inp, rgb(height, 32))
        out = yuv_header(rng, 720, height, 32, subsampling, align=rng.choice((0, 4)))
        out.set("dwAttributes", 0)
        source = rgb(height, 32)
        source.set("dwAttributes", 0)
        add(1, "Compress", source, out, flags=8)
    for height in (486, 576):
        inp = yuv_header(rng, 720, height, 16, 512, compression=UYVY, size=height * 1440, align=4)
        add(4, "Decompress", inp, rgb(height, 32))
        add(4, "Decompress", inp, yuv444(height, 24))
        for source in (rgb(height, 24), yuv444(height, 32)):
            out = yuv_header(rng, 720, height, 16, 512, compression=UYVY, align=0)
            out.set("dwAttributes", 0)
            source.set("dwAttributes", 0)
            add(4, "Compress", source, out, flags=rng.choice((0, 8)))
    return scenarios


def input_frame_size(sc):
    """The input buffer of a scenario, as the model plans it."""
    call = make_call(sc, b"")
    row, op = call.row, call.op
    inp = call.inp
    if op.startswith("Decompress"):
        if FAMILY[row] == "packed":
            need = model.packed_need(inp, model.packed_pitch(inp.biWidth, inp.dwRowAlign))
        elif FAMILY[row] == "planar":
            need = model._planar_geometry(inp)[5]
        elif FAMILY[row] == "meshed":
            need = abs(inp.biHeight) * model.padded_row(inp.biWidth * (inp.biBitCount // 8), inp.dwRowAlign)
        else:
            need = abs(inp.biHeight) * model.padded_row(inp.biWidth * 2, inp.dwRowAlign)
    else:
        need = model.host_need(inp)
    return model.input_size(inp, need)


def pixels_of(sc, size):
    rng = random.Random(sc.pixel_seed)
    kind = sc.pixels
    if kind == "random" and size > 256 << 10:
        # Large frames: random over fewer values, so that the model's row
        # kernels can remember what they computed.
        alphabet = bytes(rng.getrandbits(8) for _ in range(16))
        return rng.randbytes(size).translate(alphabet * 16)
    if kind == "random":
        return rng.randbytes(size)
    if kind == "uniform":
        unit = rng.randbytes(rng.choice((1, 2, 3, 4)))
        return (unit * (size // len(unit) + 1))[:size]
    if kind == "extremes":
        return bytes(rng.choice((0, 1, 15, 16, 17, 127, 128, 129, 234, 235, 236, 239, 240, 241, 254, 255))
                     for _ in range(size))
    if kind == "ramp":
        return bytes((i * 7 + (i >> 8)) & 0xFF for i in range(size))
    # Alpha-like: a pixel's bytes, then a varied fourth byte.
    return bytes(rng.choice((0, 1, 127, 128, 254, 255)) if i % 4 == 3 else rng.getrandbits(8)
                 for i in range(size))


def make_call(sc, frame):
    gives = allocator_gives(sc.alloc_fail)
    return model.Call(sc.row, sc.op, Header(sc.inp), frame, Header(sc.out), sc.flags,
                      alloc=gives, scratch_ok=not sc.scratch_fail, fill=FILL)


# ---- running ----------------------------------------------------------------------


class Runner:
    def __init__(self, zelku, codecs):
        self.zelku = zelku
        self.codecs = codecs
        self.allocator = FrameAllocator()
        self.state = model.State()
        self.refused = 0

    def run(self, sc):
        """(problems text or "", model status)."""
        size = input_frame_size(sc)
        frame = pixels_of(sc, size)
        want = model.convert(make_call(sc, frame), self.state)

        native = self.codecs[sc.row]
        in_header = Guarded(len(sc.inp), True)
        in_header.put(sc.inp)
        in_header.read_only()
        out_header = Guarded(len(sc.out), True)
        out_header.put(sc.out)
        in_frame = Guarded(size, sc.in_at_end)
        in_frame.put(frame)
        in_frame.read_only()
        cell = Guarded(8, True)
        cell.put(SENTINEL.to_bytes(8, "little"))
        flags = None
        if sc.flags is not None:
            flags = Guarded(4, True)
            flags.put(sc.flags.to_bytes(4, "little"))
            flags.read_only()
        self.allocator.reset(sc.alloc_fail, sc.out_at_end)
        self.zelku.take()
        live, made = self.zelku.live_blocks(), self.zelku.allocations()
        if sc.scratch_fail:
            self.zelku.fail_allocation(1)
        args = (in_header.address, in_frame.address, out_header.address, cell.address,
                flags.address if flags else None, self.allocator.address)
        if sc.op == "Decompress":
            got = native.Decompress(*args, 0)
        elif sc.op == "Compress":
            got = native.Compress(*args, 0)
        else:
            slot = CONVERSION_SLOT + model.slots_of(sc.row).index(sc.op)
            got = native.unbound(slot, c_uint32, *([c_void_p] * 6))(native.address, *args)
        self.zelku.fail_allocation(0)
        lines = self.zelku.take()
        live_after, made_after = self.zelku.live_blocks(), self.zelku.allocations()

        problems = []

        def same(what, a, b):
            if a != b:
                problems.append("%s: native %s, model %s" % (what, shown(a), shown(b)))

        same("status", got & 0xFFFFFFFF, want.status)
        same("allocations (size, flags)", self.allocator.requests, want.allocations)
        same("allocator stray calls", self.allocator.stray, [])
        pointer = int.from_bytes(cell.contents(), "little")
        if want.status == model.OK:
            given = self.allocator.blocks[-1].address if self.allocator.blocks else None
            same("output pointer is the block", pointer, given)
        elif want.status == model.REFUSED or (sc.scratch_fail and want.status == model.CAUGHT):
            if pointer not in (0, SENTINEL):
                problems.append("output pointer after a refusal: 0x%x" % pointer)
        else:
            same("output pointer", pointer, 0)
        if want.frame is not None and self.allocator.blocks:
            block = self.allocator.blocks[-1]
            got_frame = block.contents()
            self.last = (got_frame, bytes(want.frame))
            if got_frame != bytes(want.frame):
                problems.append("output frame: " + frame_difference(got_frame, bytes(want.frame), sc, want))
        for block in self.allocator.blocks:
            if not block.guards_intact():
                problems.append("guard bytes around the output block changed")
        got_header = out_header.contents()
        if got_header != want.header:
            problems.append("output header after: %s" % header_difference(got_header, want.header))
        if not out_header.guards_intact() or not cell.guards_intact():
            problems.append("guard bytes around the output header or pointer changed")
        if len(lines) != len(want.lines) or not all(
                (w[2].match(l[3]) if hasattr(w[2], "match") else l[3] == w[2]) and l[:3] == (0,) + w[:2]
                for l, w in zip(lines, want.lines)):
            problems.append("lines: native %r, model %r" % (lines, [
                (0,) + w[:2] + (w[2].pattern if hasattr(w[2], "pattern") else w[2],) for w in want.lines]))
        same("Zelku blocks live after the call", live_after - live, 0)
        asked = made_after - made
        if sc.row == model.YVY and sc.op == "Compress":
            if want.status == model.OK or sc.scratch_fail and want.status == model.CAUGHT:
                same("scratch rows asked of Zelku", asked, 1)
            elif want.status == model.REFUSED:
                same("scratch rows asked of Zelku", asked, 0)
            elif asked not in (0, 1):
                same("scratch rows asked of Zelku", asked, 1)
        else:
            same("blocks asked of Zelku", asked, 0)

        for g in (in_header, out_header, in_frame, cell) + ((flags,) if flags else ()):
            g.free()
        self.allocator.reset(False, True)
        if want.status == model.REFUSED:
            self.refused += 1
        if problems:
            return sc.describe() + "\n" + "\n".join("    " + p for p in problems), want.status
        return "", want.status


def shown(v):
    if isinstance(v, int) and v > 0xFFFF:
        return "0x%08x" % v
    return repr(v)


def header_difference(got, want):
    names = []
    for name, (offset, code) in codecmodel.FIELDS.items():
        n = 2 if code == "H" else 4
        if offset + n <= len(got) and got[offset:offset + n] != want[offset:offset + n]:
            names.append("%s native %d, model %d" % (name, getattr(Header(got), name), getattr(Header(want), name)))
    return "; ".join(names) or "bytes differ"


def frame_difference(got, want, sc, result):
    if len(got) != len(want):
        return "%d bytes, model %d" % (len(got), len(want))
    first = next(i for i in range(len(got)) if got[i] != want[i])
    count = sum(1 for a, b in zip(got, want) if a != b)
    return "%d of %d bytes differ, first at %d: native %s, model %s" % (
        count, len(got), first, got[first:first + 12].hex(), want[first:first + 12].hex())


def decode_reach():
    """The lowest and highest index the decode sums give the clamping table."""
    t = model.TABLES
    sums = [(y + c) >> 16 for y in (t.y_to_rgb[0], t.y_to_rgb[255])
            for c in t.cb_to_b + t.cr_to_r + [g + r for g in (min(t.cb_to_g), max(t.cb_to_g))
                                               for r in (min(t.cr_to_g), max(t.cr_to_g))]]
    return min(sums), max(sums)


def check_tables(codec, low, high):
    """Problems of the converter tables of a native codec object against the
    model's (the clamping tables over the index range Zelku states)."""
    problems = []
    pointers = ctypes.cast(codec.address + 2 * ctypes.sizeof(c_void_p), POINTER(c_void_p))
    names = ["pSat", "pLimitY", "pLimitC", "pCrToR", "pCbToB", "pCrToG", "pCbToG", "pYToRGB", "pRGBToYUV"]
    t = model.TABLES
    wanted = {"pCrToR": t.cr_to_r, "pCbToB": t.cb_to_b, "pCrToG": t.cr_to_g, "pCbToG": t.cb_to_g,
              "pYToRGB": t.y_to_rgb, "pRGBToYUV": [v for table in t.rgb_to_yuv for v in table]}
    for i, name in enumerate(names):
        if name in wanted:
            values = list((c_int32 * len(wanted[name])).from_address(pointers[i]))
            if values != wanted[name]:
                bad = next(k for k in range(len(values)) if values[k] != wanted[name][k])
                problems.append("%s[%d]: native %d, model %d" % (name, bad, values[bad], wanted[name][bad]))
    for i, (low, high) in ((0, (0, 255)), (1, (16, 235)), (2, (16, 240))):
        for v in sorted(set(list(range(low, high + 1, 7)) + [low, high, -1, 0, 15, 16, 17, 234, 235, 236, 239, 240,
                                                              241, 255, 256])):
            got = ctypes.c_uint8.from_address(pointers[i] + v).value
            if got != min(max(v, low), high):
                problems.append("%s[%d]: native %d" % (names[i], v, got))
                break
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tarnel")
    parser.add_argument("zelku")
    parser.add_argument("--count", type=int, default=600, help="generated frames (default 600)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the generator (default 1)")
    parser.add_argument("--keep-going", action="store_true", help="report every difference")
    parser.add_argument("--no-fault-checks", action="store_true",
                        help="accepted like the other checks' flag: no fault is provoked on purpose here, so the "
                             "unreadable pages stay under a sanitizer too")
    parser.add_argument("--batch", type=int, default=50, help="frames per child process (default 50)")
    parser.add_argument("--only", type=int, default=None, help="run scenario N only")
    parser.add_argument("--no-standard", action="store_true", help="no full-size frames after the generated ones")
    parser.add_argument("--rows", default=None, help="only the codecs of these rows, e.g. 2,3,4,5")
    args = parser.parse_args()

    zelku = Zelku(args.zelku)
    tarnel = difftools.load(TOOL, args.tarnel, {"EnumerateCodecs": (None, [c_void_p, c_uint32])})
    registry = Registry(lambda row: 0)
    tarnel.EnumerateCodecs(registry.address, codecmodel.VERSION)
    if len(registry.offers) != 6 or not all(codec for _, codec in registry.offers):
        print("%s: no six codecs registered" % TOOL)
        return 1
    codecs = [NativeCodec(address) for _, address in registry.offers]
    range_of = {}
    for name in ("ZelkuTableLow", "ZelkuTableHigh"):
        fn = getattr(zelku.lib, name)
        fn.restype, fn.argtypes = ctypes.c_int, []
        range_of[name] = fn()
    low, high = range_of["ZelkuTableLow"], range_of["ZelkuTableHigh"]
    reach = decode_reach()
    if low > reach[0] or high < reach[1]:
        print("DIFFERENCE the clamping tables cover %d..%d, the decode sums reach %d..%d" % ((low, high) + reach))
        found_early = 1
    else:
        found_early = 0
    zelku.take()

    found = found_early

    def report(text):
        nonlocal found
        found += 1
        print("DIFFERENCE " + text)
        sys.stdout.flush()
        if not args.keep_going:
            raise Differences()

    rng = random.Random(args.seed)
    scenarios = [generate(i, rng) for i in range(args.count)]
    if not args.no_standard:
        scenarios += standard(rng, len(scenarios))
    if args.only is not None:
        scenarios = [scenarios[args.only]]
    if args.rows is not None:
        rows = {int(r) for r in args.rows.split(",")}
        scenarios = [sc for sc in scenarios if sc.row in rows]
    runner = Runner(zelku, codecs)
    per_codec = [0] * 6
    statuses = {}
    try:
        for row, codec in enumerate(codecs):
            for problem in check_tables(codec, low, high):
                report("%s converter table %s" % (NAMES[row], problem))
        for sc, answer in difftools.in_batches(scenarios, runner.run, batch=args.batch):
            per_codec[sc.row] += 1
            if isinstance(answer, str):
                report("%s\n    %s" % (sc.describe(), answer))
                continue
            text, status = answer
            statuses[status] = statuses.get(status, 0) + 1
            if text:
                report(text)
    except Differences:
        pass
    summary = "; ".join("%s %d" % (NAMES[r], per_codec[r]) for r in range(6))
    results = ", ".join("0x%08x: %d" % (s, n) for s, n in sorted(statuses.items()))
    if found:
        print("%s: %d difference(s) (%s)" % (TOOL, found, summary))
        return 1
    print("%s: %d frames agreed (seed %d; %s; results %s)" % (TOOL, len(scenarios), args.seed, summary, results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
