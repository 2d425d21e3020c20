#!/usr/bin/env python3
"""A plain model of the frame conversions of Tarnel's six codecs, written for
clarity, not speed.

Given a codec, the operation called (Decompress, Compress, or one of the
packed and planar codecs' own conversion slots), the input header and frame,
the output header, the flag word and what the host's allocators give, it
answers: the status, the allocations asked for (size, flags), the output
frame's bytes (the allocator's block, padding as the allocator left it), the
output header after the call, the debug lines and whether the scratch row
was asked of Zelku.

The kernels combine converter tables recomputed here, in exact rational
arithmetic, from the formulas documented in include/zelku.h (colour space 0,
the only one the codecs set up); framediff.py compares them with the tables
of the native converter before it uses the model.

Buffers: a conversion reads only inside its input frame (biSizeImage bytes
when non-zero, else the size its layout needs) and writes only inside the
frame it allocates (the output biSizeImage). Each conversion is planned row
by row first; when a planned row would leave either buffer the frame is
refused with 0x80000001 before anything is allocated and nothing changes.
A pixel (a 4:2:2 group, a planar sample) that a conversion consumes counts
as read as a whole.

Sizes a layout needs (for an input whose biSizeImage is 0, and for field 1 of
a two-field frame, which starts at half of biSizeImage, or of this size):
- packed and UYVY: abs(biHeight) rows of the row pitch;
- meshed: abs(biHeight) rows of the row length padded to dwRowAlign;
- planar: abs(biHeight) x (Yrow + 2 Crow, plus Yrow when 32-bit);
- RGB and 4:4:4 host frames: abs(biHeight) x the interleaved stride.

Readings taken where the behaviour could be read two ways:
- a stored 512- or 608-row packed frame has the extended blank rows at any
  width and with one field too (the table's picture rows per field);
- the UYVY filter converts biWidth / 2 whole pairs: the last group is the last
  whole pair (x = 2 (biWidth / 2 - 1)), and a row of one group (width 2 or 3)
  takes the first group's rule, (3 Cb[0] + Cb[1]) >> 2; the scratch row is
  made of the whole pairs only (a last odd column is not read);
- the planar decoder's in-place chroma fill of a 4:4:4 result covers the
  whole pairs and the rows the two fields wrote (2 x (abs(biHeight) / 2)),
  so that it reads nothing the decoder left unwritten;
- a refused frame changes no header (the half preview halves the caller's
  header only when it is not refused); encoders write 4 into a dwRowAlign of
  0 only once the output frame is allocated;
- the half preview of a frame of one field takes every second stored row
  (after the blank rows), so that it shows the whole picture;
- Compress calls ColorLimit before anything else, refused frames included;
- the UYVY scratch row is asked of Zelku after the buffer checks and before
  the output frame; when it cannot be had the result is 0x8000FFFF.

Run this file to check the model against worked examples.
"""

import re
import sys
from fractions import Fraction

import os
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import codecmodel  # noqa: E402
from codecmodel import Header, YUV, UYVY, tdiv, stride  # noqa: E402

OK = 0
REFUSED = 0x80000001
NO_FRAME = 0x80004005
CAUGHT = 0x8000FFFF

CATEGORY = 8
LEVEL_TIMING = 4

FLAG_PREMULTIPLY = 0x8
FLAG_HALF = 0x80
FLAG_NOLIMIT = 0x100
FLAG_HALF2 = 0x200

# ---- the converter's tables ------------------------------------------------------


def _nearest(x):
    """x rounded to the nearest integer, halves up."""
    return (x + Fraction(1, 2)).__floor__()


class Tables:
    """The converter tables of colour space 0 (BT.601, studio range)."""

    def __init__(self):
        kr, kb = Fraction(299, 1000), Fraction(114, 1000)
        kg = 1 - kr - kb
        one = 65536
        self.y_to_rgb = [_nearest(one * Fraction(255, 219) * (y - 16)) + 32768 for y in range(256)]
        self.cr_to_r = [_nearest(one * Fraction(255, 224) * 2 * (1 - kr) * (c - 128)) for c in range(256)]
        self.cb_to_b = [_nearest(one * Fraction(255, 224) * 2 * (1 - kb) * (c - 128)) for c in range(256)]
        self.cr_to_g = [_nearest(-one * Fraction(255, 224) * 2 * (1 - kr) * kr / kg * (c - 128)) for c in range(256)]
        self.cb_to_g = [_nearest(-one * Fraction(255, 224) * 2 * (1 - kb) * kb / kg * (c - 128)) for c in range(256)]
        ys = [Fraction(219, 255) * k for k in (kr, kg, kb)]
        cbs = [Fraction(224, 255) * k / (2 * (1 - kb)) for k in (-kr, -kg, 1 - kb)]
        crs = [Fraction(224, 255) * k / (2 * (1 - kr)) for k in (1 - kr, -kg, -kb)]
        offsets = [Fraction(33, 2), 0, 0, Fraction(257, 2), 0, 0, Fraction(257, 2), 0, 0]
        self.rgb_to_yuv = []
        for i, k in enumerate(ys + cbs + crs):
            self.rgb_to_yuv.append([_nearest(one * k * v) + int(one * offsets[i]) for v in range(256)])

    @staticmethod
    def clamp(v, low, high):
        return low if v < low else high if v > high else v

    def sat(self, v):
        return self.clamp(v, 0, 255)

    def limit_y(self, v, limiting):
        return self.clamp(v, 16, 235) if limiting else self.clamp(v, 0, 255)

    def limit_c(self, v, limiting):
        return self.clamp(v, 16, 240) if limiting else self.clamp(v, 0, 255)


TABLES = Tables()
_OFF = 4096
# Clamping tables over an offset index, for speed.
_SAT = bytes(Tables.clamp(v - _OFF, 0, 255) for v in range(2 * _OFF))
_LIM = {
    (True, "y"): bytes(Tables.clamp(v - _OFF, 16, 235) for v in range(2 * _OFF)),
    (True, "c"): bytes(Tables.clamp(v - _OFF, 16, 240) for v in range(2 * _OFF)),
    (False, "y"): _SAT,
    (False, "c"): _SAT,
}

# ---- kernels ---------------------------------------------------------------------


def decode_pixel(y, cb, cr):
    """(B, G, R) of one pixel."""
    t = TABLES
    yy = t.y_to_rgb[y]
    return (_SAT[((yy + t.cb_to_b[cb]) >> 16) + _OFF],
            _SAT[((yy + t.cb_to_g[cb] + t.cr_to_g[cr]) >> 16) + _OFF],
            _SAT[((yy + t.cr_to_r[cr]) >> 16) + _OFF])


def encode_pixel(b, g, r, limiting):
    """(Y, Cb, Cr) of one pixel."""
    t = TABLES.rgb_to_yuv
    ly, lc = _LIM[(limiting, "y")], _LIM[(limiting, "c")]
    return (ly[((t[0][r] + t[1][g] + t[2][b]) >> 16) + _OFF],
            lc[((t[3][r] + t[4][g] + t[5][b]) >> 16) + _OFF],
            lc[((t[6][r] + t[7][g] + t[8][b]) >> 16) + _OFF])


def encode_luma(b, g, r, limiting):
    t = TABLES.rgb_to_yuv
    return _LIM[(limiting, "y")][((t[0][r] + t[1][g] + t[2][b]) >> 16) + _OFF]


def encode_pair(p0, p1, limiting):
    """(Cb, Y0, Cr, Y1) of two pixels (B, G, R)."""
    t = TABLES.rgb_to_yuv
    ly, lc = _LIM[(limiting, "y")], _LIM[(limiting, "c")]
    (b0, g0, r0), (b1, g1, r1) = p0, p1
    y0 = ly[((t[0][r0] + t[1][g0] + t[2][b0]) >> 16) + _OFF]
    y1 = ly[((t[0][r1] + t[1][g1] + t[2][b1]) >> 16) + _OFF]
    cb = lc[((t[3][r0] + t[4][g0] + t[5][b0] + t[3][r1] + t[4][g1] + t[5][b1]) >> 17) + _OFF]
    cr = lc[((t[6][r0] + t[7][g0] + t[8][b0] + t[6][r1] + t[7][g1] + t[8][b1]) >> 17) + _OFF]
    return cb, y0, cr, y1


def premultiply(c, a):
    t = c * a + 128
    return (t + (t >> 8)) >> 8


def premultiply_yuv(y, cb, cr, a):
    return ((premultiply(y - 16, a) + 16) & 0xFF, (premultiply(cb - 128, a) + 128) & 0xFF,
            (premultiply(cr - 128, a) + 128) & 0xFF)


def chroma_mean(c0, c1):
    return (((c0 - 128) + (c1 - 128)) >> 1) + 128


# ---- results -----------------------------------------------------------------------


class Result:
    """What a conversion call gives."""

    def __init__(self):
        self.status = OK
        self.allocations = []      # (size, flags) asked of the host's allocator
        self.frame = None          # the output block's bytes after the call
        self.header = None         # the output header's bytes after the call
        self.lines = []            # (category, level, text) or (category, level, regex) for timing
        self.scratch = False       # whether a scratch row was asked of Zelku
        self.limiting = None       # the converter's limiting after the call

    def __repr__(self):
        return "Result(0x%08x, allocations %r, %s)" % (self.status, self.allocations,
                                                       "no frame" if self.frame is None else "%d bytes" %
                                                       len(self.frame))


class Outside(Exception):
    """A planned row leaves its buffer."""


class Plan:
    """Row jobs of a conversion, with the byte ranges each reads and writes."""

    def __init__(self, in_size, out_size):
        self.in_size = in_size
        self.out_size = out_size
        self.jobs = []

    def read(self, start, length):
        if length > 0 and (start < 0 or start + length > self.in_size):
            raise Outside("reads %d..%d of an input of %d bytes" % (start, start + length, self.in_size))

    def write(self, start, length):
        if length > 0 and (start < 0 or start + length > self.out_size):
            raise Outside("writes %d..%d of an output of %d bytes" % (start, start + length, self.out_size))

    def job(self, fn, *args):
        self.jobs.append((fn, args))


def timing(text, width, height):
    """A timing line: its number of milliseconds is whatever the tick count says."""
    prefix = text.split("%4d")[0] % (width, height)
    return (CATEGORY, LEVEL_TIMING, re.compile(re.escape(prefix) + r"(?: {3}\d| {2}\d\d| \d{3}|\d{4,}) ms\n\Z"))


# ---- layout arithmetic ---------------------------------------------------------------


def round_up(v, m):
    return -(-v // m) * m


def packed_pitch(width, align):
    """The stored row pitch of the packed layout."""
    row = width * 2
    if align >= row:
        return align
    return round_up(row, align or 4)


def padded_row(length, align):
    """A row length padded up to a multiple of the alignment (4 for 0)."""
    return round_up(length, align or 4)


def planar_plane_rows(width):
    return codecmodel.planar_rows(width)


def packed_field_rows(height, fields, f):
    """(blank rows, picture rows) of field f of a packed frame."""
    if height == 512:
        return (26 // fields + 1, 242) if f == 0 else (26 // fields, 243)
    if height == 608:
        return 32 // fields, 288
    return 0, abs(height) // fields


def input_size(h, need):
    """The bytes of an input frame: biSizeImage when given, else what the layout needs."""
    return h.biSizeImage if h.biSizeImage else max(need, 0)


def field_base(h, need, f):
    if f == 0:
        return 0
    return (h.biSizeImage if h.biSizeImage else max(need, 0)) // 2


def packed_need(h, pitch):
    return abs(h.biHeight) * pitch


def host_need(h):
    return abs(h.biHeight) * stride(h.biWidth, h.biBitCount)


# ---- the codecs' conversions ---------------------------------------------------------

PACKED_ROWS = (2, 3, 5)
PLANAR, MESHED, YVY = 0, 1, 4

PACKED_SLOTS = ["DecompressToBGR", "DecompressToBGRHalf", "DecompressToYUV", "CompressFromBGR", "CompressFromYUV"]
PLANAR_SLOTS = ["DecompressToBGR", "DecompressToYUV", "CompressFromBGR", "CompressFromYUV"]


def slots_of(row):
    """The conversion slots (from 19) of the codec of a row."""
    if row in PACKED_ROWS:
        return PACKED_SLOTS
    if row == PLANAR:
        return PLANAR_SLOTS
    return []


class State:
    """What a codec object keeps between calls: the converter's limiting."""

    def __init__(self):
        self.limiting = {row: True for row in range(6)}


class Call:
    """One conversion call and what the host gives it."""

    def __init__(self, row, op, inp, inp_frame, out, flags=None, alloc=lambda size: True,
                 scratch_ok=True, fill=0):
        self.row = row
        self.op = op                   # "Decompress", "Compress" or a slot name
        self.inp = inp                 # Header
        self.inp_frame = inp_frame     # bytes: exactly the input buffer
        self.out = out                 # Header (changed in place as the codec changes it)
        self.flags = flags             # None (a null pointer) or an int
        self.alloc = alloc             # whether the host's allocator gives size bytes
        self.scratch_ok = scratch_ok   # whether Zelku gives the scratch row
        self.fill = fill               # what the host's allocator leaves in a block


def flag_word(call):
    return 0 if call.flags is None else call.flags


def convert(call, state):
    """The Result of one call; state is the codec object's (changed by Compress)."""
    res = Result()
    row, op = call.row, call.op
    flags = flag_word(call)
    if op == "Compress":
        state.limiting[row] = not flags & FLAG_NOLIMIT
    limiting = state.limiting[row]
    res.limiting = limiting
    if row in PACKED_ROWS:
        if op == "Decompress":
            if call.out.biCompression == 0 and call.flags is not None and flags & (FLAG_HALF | FLAG_HALF2):
                op = "DecompressToBGRHalf"
            elif call.out.biCompression == 0:
                op = "DecompressToBGR"
            else:
                op = "DecompressToYUV"
        elif op == "Compress":
            op = "CompressFromBGR" if call.inp.biCompression == 0 else "CompressFromYUV"
        planner = {"DecompressToBGR": _packed_to_rgb, "DecompressToBGRHalf": _packed_half,
                   "DecompressToYUV": _packed_to_yuv, "CompressFromBGR": _packed_from_host,
                   "CompressFromYUV": _packed_from_host}[op]
    elif row == PLANAR:
        if op == "Decompress":
            op = "DecompressToBGR" if call.out.biCompression == 0 else "DecompressToYUV"
        elif op == "Compress":
            op = "CompressFromBGR" if call.inp.biCompression == 0 else "CompressFromYUV"
        planner = {"DecompressToBGR": _planar_decode, "DecompressToYUV": _planar_decode,
                   "CompressFromBGR": _planar_encode, "CompressFromYUV": _planar_encode}[op]
    elif row == MESHED:
        planner = _meshed_decode if op == "Decompress" else _meshed_encode
    else:
        planner = _yvy_decode if op == "Decompress" else _yvy_encode
    decoder = op.startswith("Decompress")
    header_before = bytes(call.out.data)
    try:
        plan, after_alloc, finish = planner(call, op, flags, limiting)
    except Outside as why:
        res.why = str(why)
        res.status = REFUSED
        res.header = header_before
        return res
    if after_alloc is not None and after_alloc.get("header_first"):
        after_alloc["header_first"](call.out)
    def failed(status):
        res.status = status
        res.header = bytes(call.out.data)
        return res

    if row == YVY and not decoder:
        res.scratch = True
        if not call.scratch_ok:
            return failed(CAUGHT)
    if len(call.inp_frame) < plan.in_size:
        raise ValueError("an input frame of %d bytes, not %d" % (len(call.inp_frame), plan.in_size))
    size = call.out.biSizeImage
    res.allocations.append((size, 0))
    if not call.alloc(size):
        return failed(NO_FRAME if decoder else CAUGHT)
    if after_alloc is not None and after_alloc.get("header_after"):
        after_alloc["header_after"](call.out)
    out = bytearray([call.fill]) * size
    for fn, args in plan.jobs:
        fn(call.inp_frame, out, *args)
    res.frame = out
    res.header = bytes(call.out.data)
    if finish:
        res.lines.append(finish(call))
    return res


def _set_align(h):
    if h.dwRowAlign == 0:
        h.set("dwRowAlign", 4)


# -- packed

def _packed_geometry(h, align=None):
    fields = 2 if h.dwFormatFlag & 1 else 1
    pitch = packed_pitch(h.biWidth, h.dwRowAlign if align is None else align)
    return fields, pitch


def _packed_swapped(h, fields, need_720):
    return fields == 2 and h.biHeight <= 512 and (not need_720 or h.biWidth == 720)


_CACHES = {}


def _units(src, out, ioff, ooff, count, size, tag, fn):
    """Converts count units of size bytes from src at ioff into out at ooff,
    each through fn(unit bytes) -> output bytes (remembered per tag)."""
    cache = _CACHES.get(tag)
    if cache is None or len(cache) > 400000:
        cache = _CACHES[tag] = {}
    chunks = []
    for i in range(ioff, ioff + count * size, size):
        key = src[i:i + size]
        v = cache.get(key)
        if v is None:
            v = cache[key] = fn(key)
        chunks.append(v)
    data = b"".join(chunks)
    out[ooff:ooff + len(data)] = data


def _alpha(bpp):
    return (255,) if bpp == 4 else ()


def _row_decode_rgb(src, out, ioff, ooff, groups, bpp):
    def group(u):
        cb, y0, cr, y1 = u
        return bytes(decode_pixel(y0, cb, cr) + _alpha(bpp) + decode_pixel(y1, cb, cr) + _alpha(bpp))
    _units(src, out, ioff, ooff, groups, 4, ("rgb", bpp), group)


def _row_decode_half(src, out, ioff, ooff, groups, bpp):
    def group(u):
        cb, y0, cr, y1 = u
        return bytes(decode_pixel(y0, cb, cr) + _alpha(bpp))
    _units(src, out, ioff, ooff, groups, 4, ("half", bpp), group)


def _row_decode_yuv(src, out, ioff, ooff, groups, bpp):
    def group(u):
        cb, y0, cr, y1 = u
        return bytes((y0, cb, cr) + _alpha(bpp) + (y1, cb, cr) + _alpha(bpp))
    _units(src, out, ioff, ooff, groups, 4, ("yuv", bpp), group)


def _fill(src, out, ooff, pattern, count):
    out[ooff:ooff + len(pattern) * count] = pattern * count


def _packed_decode_rows(call, plan, need_720, kernel, out_bpp, out_stride, out_height, in_bytes_per_group=4):
    inp = call.inp
    fields, pitch = _packed_geometry(inp)
    need = packed_need(inp, pitch)
    groups = max(tdiv(inp.biWidth, 2), 0)
    swapped = _packed_swapped(inp, fields, need_720)
    step = out_bpp * 2 if kernel is not _row_decode_half else out_bpp
    for f in range(fields):
        s = 1 - f if swapped else f
        blank, rows = packed_field_rows(inp.biHeight, fields, f)
        base = field_base(inp, need, f)
        if inp.biHeight > 0:
            first, move = out_height - 1 - s, -fields
        else:
            first, move = s, fields
        for k in range(rows):
            ioff = base + (blank + k) * pitch
            ooff = (first + move * k) * out_stride
            plan.read(ioff, 4 * groups)
            plan.write(ooff, step * groups)
            plan.job(kernel, ioff, ooff, groups, out_bpp)


def _packed_to_rgb(call, op, flags, limiting):
    inp, out = call.inp, call.out
    bpp = out.biBitCount // 8
    ostride = stride(out.biWidth, out.biBitCount)
    fields, pitch = _packed_geometry(inp)
    plan = Plan(input_size(inp, packed_need(inp, pitch)), out.biSizeImage)
    _packed_decode_rows(call, plan, True, _row_decode_rgb, bpp, ostride, out.biHeight)
    if inp.biWidth == 720 and inp.biHeight == 512:
        plan.write(0, bpp * 720)
        plan.job(_fill, 0, b"\0", bpp * 720)
    fmt = "Cccir601Packed::Time for Decoding (-> BGR(%dx%d))= %4d ms\n"
    return plan, None, lambda c: timing(fmt, c.out.biWidth, c.out.biHeight)


def _packed_to_yuv(call, op, flags, limiting):
    inp, out = call.inp, call.out
    bpp = out.biBitCount // 8
    ostride = stride(out.biWidth, out.biBitCount)
    fields, pitch = _packed_geometry(inp)
    plan = Plan(input_size(inp, packed_need(inp, pitch)), out.biSizeImage)
    _packed_decode_rows(call, plan, False, _row_decode_yuv, bpp, ostride, out.biHeight)
    if inp.biHeight == 512 and inp.biWidth > 0:
        black = bytes((16, 128, 128, 255)[:bpp])
        plan.write(0, bpp * inp.biWidth)
        plan.job(_fill, 0, black, inp.biWidth)
    fmt = "Cccir601Packed::Time for Decoding (-> YUV(%dx%d))= %4d ms\n"
    return plan, None, lambda c: timing(fmt, c.out.biWidth, c.out.biHeight)


def _packed_half(call, op, flags, limiting):
    inp, out = call.inp, call.out
    width, height, size = tdiv(out.biWidth, 2), tdiv(out.biHeight, 2), out.biSizeImage // 4
    bpp = out.biBitCount // 8
    ostride = stride(width, out.biBitCount)
    fields, pitch = _packed_geometry(inp)
    plan = Plan(input_size(inp, packed_need(inp, pitch)), size)
    groups = max(tdiv(inp.biWidth, 2), 0)
    if inp.biHeight == 512:
        blank, rows = 26 // fields + 1, 242
    elif inp.biHeight == 608:
        blank, rows = 32 // fields, 288
    else:
        blank, rows = 0, abs(inp.biHeight) // 2
    if inp.biHeight > 0:
        first, move = height - 1, -1
    else:
        first, move = 0, 1
    # A frame of one field holds every line: the preview takes every second.
    step = 2 if fields == 1 else 1
    for k in range(rows):
        ioff = (blank + k * step) * pitch
        ooff = (first + move * k) * ostride
        plan.read(ioff, 4 * groups)
        plan.write(ooff, bpp * groups)
        plan.job(_row_decode_half, ioff, ooff, groups, bpp)

    def halve(h):
        h.set("biWidth", width)
        h.set("biHeight", height)
        h.set("biSizeImage", size)
    fmt = "Cccir601Packed::Time for Decoding (-> BGR(%dx%d))= %4d ms\n"
    return plan, {"header_first": halve}, lambda c: timing(fmt, c.out.biWidth, c.out.biHeight)


def _row_encode_packed(src, out, ioff, ooff, pairs, ibpp, kind, premul, limiting):
    def pair(u):
        px0, px1 = u[:ibpp], u[ibpp:]
        if kind == "rgb":
            p0, p1 = (px0[0], px0[1], px0[2]), (px1[0], px1[1], px1[2])
            if premul:
                p0 = tuple(premultiply(c, px0[3]) for c in p0)
                p1 = tuple(premultiply(c, px1[3]) for c in p1)
            return bytes(encode_pair(p0, p1, limiting))
        q0, q1 = (px0[0], px0[1], px0[2]), (px1[0], px1[1], px1[2])
        if premul:
            q0 = premultiply_yuv(*q0, px0[3])
            q1 = premultiply_yuv(*q1, px1[3])
        return bytes((chroma_mean(q0[1], q1[1]), q0[0], chroma_mean(q0[2], q1[2]), q1[0]))
    _units(src, out, ioff, ooff, pairs, 2 * ibpp, ("packed", ibpp, kind, premul, limiting), pair)


def _packed_from_host(call, op, flags, limiting):
    inp, out = call.inp, call.out
    kind = "rgb" if op == "CompressFromBGR" else "yuv"
    ibpp = inp.biBitCount // 8
    if kind == "rgb":
        premul = bool(flags & FLAG_PREMULTIPLY) and inp.biBitCount == 32 and inp.dwAlphaMode == 0
    else:
        premul = bool(flags & FLAG_PREMULTIPLY) and inp.biBitCount == 32 and not inp.dwAlphaMode & 1
    fields, pitch = _packed_geometry(out, out.dwRowAlign or 4)
    need = packed_need(out, pitch)
    istride = stride(inp.biWidth, inp.biBitCount)
    plan = Plan(input_size(inp, host_need(inp)), out.biSizeImage)
    pairs = max(tdiv(out.biWidth, 2), 0)
    swapped = _packed_swapped(out, fields, False)
    for f in range(fields):
        s = 1 - f if swapped else f
        blank, rows = packed_field_rows(out.biHeight, fields, f)
        base = field_base(out, need, f)
        if out.biHeight > 0:
            first, move = inp.biHeight - 1 - s, -fields
        else:
            first, move = s, fields
        for k in range(blank):
            ooff = base + k * pitch
            plan.write(ooff, 4 * pairs)
            plan.job(_fill, ooff, b"\x80\x10\x80\x10", pairs)
        for k in range(rows):
            ioff = (first + move * k) * istride
            ooff = base + (blank + k) * pitch
            plan.read(ioff, 2 * pairs * ibpp)
            plan.write(ooff, 4 * pairs)
            plan.job(_row_encode_packed, ioff, ooff, pairs, ibpp, kind, premul, limiting)
    fmt = ("Cccir601Packed::Time for Encoding (<- BGR(%dx%d))= %4d ms\n" if kind == "rgb" else
           "Cccir601Packed::Time for Encoding (<- YUV(%dx%d))= %4d ms\n")
    return plan, {"header_after": _set_align}, lambda c: timing(fmt, c.inp.biWidth, c.inp.biHeight)


# -- planar

def _planar_geometry(h):
    yrow, crow = planar_plane_rows(h.biWidth)
    rows = abs(h.biHeight) // 2
    alpha = h.biBitCount == 32
    field = rows * (yrow + 2 * crow + (yrow if alpha else 0))
    need = abs(h.biHeight) * (yrow + 2 * crow + (yrow if alpha else 0))
    return yrow, crow, rows, alpha, field, need


def _planes(base, rows, yrow, crow, k):
    """Offsets of row k of the Y, Cb, Cr and alpha planes of a field."""
    y = base + k * yrow
    cb = base + rows * yrow + k * crow
    cr = base + rows * (yrow + crow) + k * crow
    a = base + rows * (yrow + 2 * crow) + k * yrow
    return y, cb, cr, a


def _row_planar_decode(src, out, yo, cbo, cro, ao, ooff, pairs, bpp, alpha, yuv):
    o = ooff
    for p in range(pairs):
        cb, cr = src[cbo + p], src[cro + p]
        for j in (0, 1):
            y = src[yo + 2 * p + j]
            if yuv:
                out[o], out[o + 1], out[o + 2] = (y, cb, cr) if j == 0 else (y, 0, 0)
            else:
                out[o], out[o + 1], out[o + 2] = decode_pixel(y, cb, cr)
            if bpp == 4:
                out[o + 3] = src[ao + 2 * p + j] if alpha else 255
            o += bpp


def _fill_right_chroma(src, out, width, height, bpp, ostride):
    """The converter's in-place fill: the chroma of each odd pixel is the mean
    of its neighbours' (halves up), or its left neighbour's at the row's end."""
    for r in range(abs(height)):
        base = r * ostride
        for x in range(1, width, 2):
            o = base + x * bpp
            left = base + (x - 1) * bpp
            if x + 1 < width:
                right = base + (x + 1) * bpp
                out[o + 1] = (out[left + 1] + out[right + 1] + 1) >> 1
                out[o + 2] = (out[left + 2] + out[right + 2] + 1) >> 1
            else:
                out[o + 1], out[o + 2] = out[left + 1], out[left + 2]


def _planar_decode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    yuv = op == "DecompressToYUV"
    yrow, crow, rows, alpha, field, need = _planar_geometry(inp)
    bpp = out.biBitCount // 8
    ostride = stride(out.biWidth, out.biBitCount)
    plan = Plan(input_size(inp, need), out.biSizeImage)
    pairs = max(tdiv(inp.biWidth, 2), 0)
    for f in (0, 1):
        s = 1 - f if inp.biHeight <= 488 else f
        base = field_base(inp, need, f)
        if inp.biHeight > 0:
            first, move = 2 * rows - 1 - s, -2
        else:
            first, move = s, 2
        for k in range(rows):
            yo, cbo, cro, ao = _planes(base, rows, yrow, crow, k)
            ooff = (first + move * k) * ostride
            plan.read(yo, 2 * pairs)
            plan.read(cbo, pairs)
            plan.read(cro, pairs)
            reads_alpha = alpha and bpp == 4
            if reads_alpha:
                plan.read(ao, 2 * pairs)
            plan.write(ooff, 2 * pairs * bpp)
            plan.job(_row_planar_decode, yo, cbo, cro, ao, ooff, pairs, bpp, reads_alpha, yuv)
    if yuv:
        # Only whole pairs and the rows of the two fields were converted: the
        # fill covers those, so that it reads nothing the decoder left unwritten.
        width, height = 2 * pairs, 2 * rows
        if width >= 2 and height != 0 and ostride >= width * bpp:
            for r in range(abs(height)):
                plan.write(r * ostride, (width - 1) * bpp + 3)
            plan.job(lambda src, o, *a: _fill_right_chroma(src, o, *a), width, height, bpp, ostride)
    return plan, None, None


def _row_planar_encode(src, out, ioff, yo, cbo, cro, ao, pairs, ibpp, kind, premul, use_alpha, out_alpha,
                       limiting):
    lc = _LIM[(limiting, "c")]

    def pair(u):
        pixels, alphas = [], []
        for j in (0, 1):
            px = u[j * ibpp:(j + 1) * ibpp]
            a = px[3] if use_alpha else 255
            c = (px[0], px[1], px[2])
            if premul:
                c = tuple(premultiply(v, a) for v in c) if kind == "rgb" else premultiply_yuv(*c, a)
            pixels.append(c)
            alphas.append(a)
        if kind == "rgb":
            ys = bytes((encode_luma(*pixels[0], limiting), encode_luma(*pixels[1], limiting)))
            cb, _, cr, _ = encode_pair(pixels[0], pixels[1], limiting)
        else:
            ys = bytes((pixels[0][0], pixels[1][0]))
            cb = lc[((((pixels[0][1] - 128) + (pixels[1][1] - 128) + 1) >> 1) + 128) + _OFF]
            cr = lc[((((pixels[0][2] - 128) + (pixels[1][2] - 128) + 1) >> 1) + 128) + _OFF]
        return ys, cb, cr, bytes(alphas)

    tag = ("planar encode", ibpp, kind, premul, use_alpha, limiting)
    cache = _CACHES.get(tag)
    if cache is None or len(cache) > 400000:
        cache = _CACHES[tag] = {}
    ys, cbs, crs, alphas = [], bytearray(), bytearray(), []
    for i in range(ioff, ioff + pairs * 2 * ibpp, 2 * ibpp):
        key = src[i:i + 2 * ibpp]
        v = cache.get(key)
        if v is None:
            v = cache[key] = pair(key)
        ys.append(v[0])
        cbs.append(v[1])
        crs.append(v[2])
        alphas.append(v[3])
    out[yo:yo + 2 * pairs] = b"".join(ys)
    out[cbo:cbo + pairs] = cbs
    out[cro:cro + pairs] = crs
    if out_alpha:
        out[ao:ao + 2 * pairs] = b"".join(alphas)


def _planar_encode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    kind = "rgb" if op == "CompressFromBGR" else "yuv"
    yrow, crow, rows, alpha, field, need = _planar_geometry(out)
    ibpp = inp.biBitCount // 8
    istride = stride(inp.biWidth, inp.biBitCount)
    plan = Plan(input_size(inp, host_need(inp)), out.biSizeImage)
    premul = bool(flags & FLAG_PREMULTIPLY)
    use_alpha = inp.biBitCount == 32 and not inp.dwAlphaMode & 1
    pairs = max(tdiv(out.biWidth, 2), 0)
    for f in (0, 1):
        s = 1 - f if inp.biHeight <= 488 else f
        base = field_base(out, need, f)
        if out.biHeight > 0:
            first, move = 2 * rows - 1 - s, -2
        else:
            first, move = s, 2
        for k in range(rows):
            yo, cbo, cro, ao = _planes(base, rows, yrow, crow, k)
            ioff = (first + move * k) * istride
            plan.read(ioff, 2 * pairs * ibpp)
            plan.write(yo, 2 * pairs)
            plan.write(cbo, pairs)
            plan.write(cro, pairs)
            if alpha:
                plan.write(ao, 2 * pairs)
            plan.job(_row_planar_encode, ioff, yo, cbo, cro, ao, pairs, ibpp, kind, premul, use_alpha, alpha,
                     limiting)
    return plan, None, None


# -- meshed

def _meshed_order(subsampling, bits):
    """Offsets of (Y, Cb, Cr, alpha) within a pixel of the meshed layout."""
    if subsampling == 128:
        return (3, 2, 1, 0) if bits == 32 else (2, 1, 0, None)
    return (0, 1, 2, 3 if bits == 32 else None)


def _row_meshed_decode(src, out, ioff, ooff, width, ibpp, order, obpp):
    yi, cbi, cri, ai = order

    def pixel(u):
        bgr = decode_pixel(u[yi], u[cbi], u[cri])
        if obpp == 4:
            return bytes(bgr + ((u[ai] if ai is not None else 255),))
        return bytes(bgr)
    _units(src, out, ioff, ooff, width, ibpp, ("meshed decode", ibpp, order, obpp), pixel)


def _meshed_decode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    rows = abs(inp.biHeight)
    ibpp = inp.biBitCount // 8
    pitch = padded_row(inp.biWidth * ibpp, inp.dwRowAlign)
    obpp = out.biBitCount // 8
    ostride = stride(out.biWidth, out.biBitCount)
    plan = Plan(input_size(inp, rows * pitch), out.biSizeImage)
    width = max(inp.biWidth, 0)
    order = _meshed_order(inp.dwSubsampling, inp.biBitCount)
    if inp.biHeight < 0:
        first, move = rows - 1, -1
    else:
        first, move = 0, 1
    for k in range(rows):
        ioff = k * pitch
        ooff = (first + move * k) * ostride
        plan.read(ioff, width * ibpp)
        plan.write(ooff, width * obpp)
        plan.job(_row_meshed_decode, ioff, ooff, width, ibpp, order, obpp)
    return plan, None, None


def _row_meshed_encode(src, out, ioff, ooff, width, ibpp, use_alpha, premul, order, obpp, limiting):
    yi, cbi, cri, ai = order

    def pixel(u):
        b, g, r = u[0], u[1], u[2]
        a = u[3] if use_alpha else 255
        if premul:
            b, g, r = premultiply(b, a), premultiply(g, a), premultiply(r, a)
        v = bytearray(obpp)
        v[yi], v[cbi], v[cri] = encode_pixel(b, g, r, limiting)
        if ai is not None:
            v[ai] = a
        return bytes(v)
    _units(src, out, ioff, ooff, width, ibpp, ("meshed encode", ibpp, use_alpha, premul, order, obpp, limiting),
           pixel)


def _meshed_encode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    fields = 2 if out.dwFormatFlag & 1 else 1
    rows = abs(out.biHeight) // fields
    exchanged = fields == 2 and (inp.dwFormatFlag ^ out.dwFormatFlag) & 0x10
    premul = bool(flags & FLAG_PREMULTIPLY) and inp.biBitCount == 32
    use_alpha = inp.biBitCount == 32 and inp.dwAlphaMode == 0
    obpp = out.biBitCount // 8
    opitch = padded_row(out.biWidth * obpp, out.dwRowAlign or 4)
    need = abs(out.biHeight) * opitch
    ibpp = inp.biBitCount // 8
    istride = stride(inp.biWidth, inp.biBitCount)
    plan = Plan(input_size(inp, host_need(inp)), out.biSizeImage)
    width = max(out.biWidth, 0)
    order = _meshed_order(out.dwSubsampling, out.biBitCount)
    for f in range(fields):
        fp = 1 - f if exchanged else f
        if out.biHeight >= 0:
            first, move = fp, fields
        else:
            first, move = rows * fields - 1 - fp, -fields
        base = (out.biSizeImage if out.biSizeImage else need) * f // 2
        for k in range(rows):
            ioff = (first + move * k) * istride
            ooff = base + k * opitch
            plan.read(ioff, width * ibpp)
            plan.write(ooff, width * obpp)
            plan.job(_row_meshed_encode, ioff, ooff, width, ibpp, use_alpha, premul, order, obpp, limiting)
    return plan, {"header_after": _set_align}, None


# -- UYVY

def _yvy_decode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    rows = abs(inp.biHeight)
    pitch = padded_row(inp.biWidth * 2, inp.dwRowAlign)
    bpp = out.biBitCount // 8
    ostride = stride(out.biWidth, out.biBitCount)
    plan = Plan(input_size(inp, rows * pitch), out.biSizeImage)
    groups = max(tdiv(inp.biWidth, 2), 0)
    kernel = _row_decode_rgb if out.biCompression == 0 else _row_decode_yuv
    if inp.biHeight > 0:
        first, move = rows - 1, -1
    else:
        first, move = 0, 1
    for k in range(rows):
        ioff = k * pitch
        ooff = (first + move * k) * ostride
        plan.read(ioff, 4 * groups)
        plan.write(ooff, 2 * bpp * groups)
        plan.job(kernel, ioff, ooff, groups, bpp)
    return plan, None, None


def _row_yvy_encode(src, out, ioff, ooff, width, ibpp, kind, premul, limiting):
    def pixel(u):
        if kind == "rgb":
            b, g, r = u[0], u[1], u[2]
            if premul:
                a = u[3]
                b, g, r = premultiply(b, a), premultiply(g, a), premultiply(r, a)
            return encode_pixel(b, g, r, limiting)
        if premul:
            return premultiply_yuv(u[0], u[1], u[2], u[3])
        return u[0], u[1], u[2]

    tag = ("yvy scratch", ibpp, kind, premul, limiting)
    cache = _CACHES.get(tag)
    if cache is None or len(cache) > 400000:
        cache = _CACHES[tag] = {}
    ys, cbs, crs = [], [], []
    for i in range(ioff, ioff + width * ibpp, ibpp):
        key = src[i:i + ibpp]
        v = cache.get(key)
        if v is None:
            v = cache[key] = pixel(key)
        ys.append(v[0])
        cbs.append(v[1])
        crs.append(v[2])
    lc = _LIM[(limiting, "c")]
    groups = width // 2
    o = ooff
    for g in range(groups):
        x = 2 * g
        if g == 0:
            cb, cr = (3 * cbs[0] + cbs[1]) >> 2, (3 * crs[0] + crs[1]) >> 2
        elif g == groups - 1:
            cb, cr = (3 * cbs[x] + cbs[x - 1]) >> 2, (3 * crs[x] + crs[x - 1]) >> 2
        else:
            cb = (cbs[x - 1] + 2 * cbs[x] + cbs[x + 1]) >> 2
            cr = (crs[x - 1] + 2 * crs[x] + crs[x + 1]) >> 2
        out[o:o + 4] = bytes((lc[cb + _OFF], ys[x], lc[cr + _OFF], ys[x + 1]))
        o += 4


def _yvy_encode(call, op, flags, limiting):
    inp, out = call.inp, call.out
    kind = "rgb" if inp.biCompression == 0 else "yuv"
    premul = bool(flags & FLAG_PREMULTIPLY) and inp.biBitCount == 32 and inp.dwAlphaMode == 0
    rows = abs(out.biHeight)
    pitch = padded_row(out.biWidth * 2, out.dwRowAlign or 4)
    ibpp = inp.biBitCount // 8
    istride = stride(inp.biWidth, inp.biBitCount)
    plan = Plan(input_size(inp, host_need(inp)), out.biSizeImage)
    width = max(out.biWidth, 0)
    groups = width // 2
    # Only whole pairs are converted: a last odd column is not read.
    read_pixels = 2 * groups
    if out.biHeight > 0:
        first, move = rows - 1, -1
    else:
        first, move = 0, 1
    for k in range(rows):
        ioff = (first + move * k) * istride
        ooff = k * pitch
        plan.read(ioff, read_pixels * ibpp)
        plan.write(ooff, 4 * groups)
        plan.job(_row_yvy_encode, ioff, ooff, read_pixels, ibpp, kind, premul, limiting)
    return plan, {"header_after": _set_align}, None


# ---- self-test ---------------------------------------------------------------------


def _header(**fields):
    h = Header(bytes(160))
    for name, value in fields.items():
        h.set(name, value)
    return h


def _rgb(width, height, bits, **more):
    fields = dict(biSizeImage=abs(height) * stride(width, bits))
    fields.update(more)
    return _header(biSize=144, biWidth=width, biHeight=height, biPlanes=1, biBitCount=bits, **fields)


def _stored(width, height, bits, subsampling, compression=YUV, planes=1, flag=0, size=0, **more):
    return _header(biSize=160, biWidth=width, biHeight=height, biPlanes=planes, biBitCount=bits,
                   biCompression=compression, dwExtDataOffset=144, dwSubsampling=subsampling,
                   dwFormatFlag=flag, biSizeImage=size, **more)


def selftest():
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    # Kernels and tables.
    check("black", decode_pixel(16, 128, 128), (0, 0, 0))
    check("white", decode_pixel(235, 128, 128), (255, 255, 255))
    check("saturation", decode_pixel(255, 255, 255)[0], 255)
    check("below zero", decode_pixel(0, 0, 0)[0], 0)
    check("grey keeps its Y", [encode_pixel(*decode_pixel(y, 128, 128), True)[0] for y in (16, 100, 235)],
          [16, 100, 235])
    check("limiting", encode_pixel(255, 255, 255, True)[0], 235)
    check("RGB stays inside the studio range", encode_pixel(0, 0, 255, False)[2], 240)
    check("limiting tables", (_LIM[(True, "c")][_OFF + 255], _LIM[(False, "c")][_OFF + 255],
                              _LIM[(True, "y")][_OFF - 3]), (240, 255, 16))
    check("premultiply by 255", [premultiply(c, 255) for c in (0, 1, 128, 255)], [0, 1, 128, 255])
    check("premultiply by 0", premultiply(200, 0), 0)
    check("premultiply YUV by 0", premultiply_yuv(200, 30, 250, 0), (16, 128, 128))
    check("premultiply YUV by 255", premultiply_yuv(200, 30, 250, 255), (200, 30, 250))
    check("mean rounds down", chroma_mean(100, 101), 100)

    state = State()
    fill = 0xA5

    # A 720 x 486 two-field packed frame: field 0 holds the odd lines.
    width, height = 8, 486
    s = _stored(720, 486, 16, 512, flag=1)
    frame = bytearray(486 * 1440)
    for k in range(243):
        frame[k * 1440:(k + 1) * 1440] = bytes((128, 1, 128, 1)) * 360          # field 0
        frame[(243 + k) * 1440:(244 + k) * 1440] = bytes((128, 2, 128, 2)) * 360  # field 1
    out = _rgb(720, 486, 24)
    res = convert(Call(2, "DecompressToYUV", s, bytes(frame), out), state)
    ostride = 720 * 3
    # Picture line 0 (field 1) is the last memory row; line 1 (field 0) the one above.
    check("line 0 from field 1", res.frame[485 * ostride], 2)
    check("line 1 from field 0", res.frame[484 * ostride], 1)
    check("timing line", bool(res.lines and res.lines[0][2].match(
        "Cccir601Packed::Time for Decoding (-> YUV(720x486))=    0 ms\n")), True)
    # 576: field 0 holds the even lines.
    s = _stored(720, 576, 16, 512, flag=1)
    frame = bytes((128, 1, 128, 1)) * 360 * 288 + bytes((128, 2, 128, 2)) * 360 * 288
    res = convert(Call(2, "DecompressToYUV", s, frame, _rgb(720, 576, 24)), state)
    check("576: line 0 from field 0", res.frame[575 * ostride], 1)

    # Extended 512: 14 and 13 blank rows, the bottom line black.
    rgbin = _rgb(720, 486, 32)
    picture = bytes((200, 100, 50, 255)) * (720 * 486)
    s = _stored(720, 512, 16, 512, flag=1, size=512 * 1440)
    res = convert(Call(3, "Compress", rgbin, picture, s), state)
    check("encode status", res.status, OK)
    blank = bytes((0x80, 0x10, 0x80, 0x10)) * 360
    check("field 0 blank rows", [res.frame[k * 1440:(k + 1) * 1440] == blank for k in (13, 14)], [True, False])
    check("field 1 blank rows", [res.frame[(256 + k) * 1440:(257 + k) * 1440] == blank for k in (12, 13)],
          [True, False])
    check("dwRowAlign 0 becomes 4", Header(res.header).dwRowAlign, 4)
    back = convert(Call(3, "Decompress", Header(res.header), bytes(res.frame), _rgb(720, 486, 32)), state)
    check("decoded bottom line black", back.frame[:720 * 4] == bytes(720 * 4), True)
    cb, y0, cr, y1 = encode_pair((200, 100, 50), (200, 100, 50), True)
    check("decoded line 0 colour", tuple(back.frame[485 * 2880:485 * 2880 + 4]), decode_pixel(y0, cb, cr) + (255,))
    yuvback = convert(Call(3, "Decompress", Header(res.header), bytes(res.frame),
                           _stored(720, 486, 32, 16, size=486 * 2880)), state)
    check("YUV bottom line", bytes(yuvback.frame[:8]), bytes((16, 128, 128, 255)) * 2)

    # Half preview: 720 x 486 to 360 x 243, from field 0 only, header halved.
    s = _stored(720, 486, 16, 512, flag=1, size=486 * 1440)
    frame = bytes((128, 16, 128, 235)) * 360 * 243 + bytes((128, 235, 128, 235)) * 360 * 243
    out = _rgb(720, 486, 32)
    res = convert(Call(2, "Decompress", s, frame, out, flags=0x80), state)
    h = Header(res.header)
    check("halved header", (h.biWidth, h.biHeight, h.biSizeImage), (360, 243, 486 * 2880 // 4))
    check("half allocation", res.allocations, [(486 * 2880 // 4, 0)])
    check("half pixels from Y0", bytes(res.frame[:8]), bytes((0, 0, 0, 255)) * 2)
    # A half preview whose quarter size cannot hold the picture is refused and changes nothing.
    out = _rgb(720, 486, 32)
    out.set("biSizeImage", 1000)
    res = convert(Call(2, "DecompressToBGRHalf", s, frame, out), state)
    check("small half refused", (res.status, res.allocations, Header(res.header).biWidth), (REFUSED, [], 720))

    # One field: the preview takes every second stored row.
    s1 = _stored(4, 8, 16, 512, size=64, dwInterlace=1)
    frame = b"".join(bytes((128, 16 + 20 * k, 128, 16 + 20 * k)) * 2 for k in range(8))
    res = convert(Call(2, "DecompressToBGRHalf", s1, frame, _rgb(4, 8, 24, biSizeImage=384)), state)
    check("one field: rows 0, 2, 4, 6", [res.frame[r * 8] for r in (3, 2, 1, 0)],
          [decode_pixel(16 + 40 * k, 128, 128)[0] for k in range(4)])

    # Row pitch from dwRowAlign; a pitch the query's size ignores is refused.
    s = _stored(720, 486, 16, 512, flag=1, dwRowAlign=2048, size=486 * 2048)
    frame = bytes(486 * 2048)
    res = convert(Call(2, "DecompressToBGR", s, frame, _rgb(720, 486, 24)), state)
    check("pitch 2048", res.status, OK)
    s.set("biSizeImage", 486 * 1440)
    res = convert(Call(2, "DecompressToBGR", s, frame[:486 * 1440], _rgb(720, 486, 24)), state)
    check("pitch beyond the frame", res.status, REFUSED)
    # biSizeImage 0: field 1 at half of what the layout needs.
    s.set("biSizeImage", 0)
    res = convert(Call(2, "DecompressToBGR", s, frame, _rgb(720, 486, 24)), state)
    check("size 0", res.status, OK)

    # Allocation failures.
    s = _stored(8, 2, 16, 512, flag=1, size=32)
    res = convert(Call(2, "Decompress", s, bytes(32), _rgb(8, 2, 24), alloc=lambda size: False), state)
    check("decoder without a frame", res.status, NO_FRAME)
    res = convert(Call(2, "Compress", _rgb(8, 2, 24), bytes(48), s, alloc=lambda size: False), state)
    check("encoder without a frame", (res.status, Header(res.header).dwRowAlign), (CAUGHT, 0))

    # UYVY: a uniform frame gives identical groups; the edges weigh 3 and 1.
    rgbin = _rgb(8, 486, 24)
    out = _stored(8, 486, 16, 512, compression=UYVY, size=486 * 16)
    res = convert(Call(4, "Compress", rgbin, bytes((10, 200, 30)) * 8 * 486, out), state)
    check("uniform UYVY", len(set(bytes(res.frame[i:i + 4]) for i in range(0, len(res.frame), 4))), 1)
    yin = _stored(6, 486, 24, 16, size=486 * 20)
    rowbytes = bytes((100, 10, 20, 100, 50, 60, 100, 90, 100, 100, 130, 140, 100, 170, 180, 100, 210, 220)) + bytes(2)
    res = convert(Call(4, "Compress", yin, rowbytes * 486, _stored(6, 486, 16, 512, compression=UYVY,
                                                                  size=486 * 12)), state)
    check("filter edges", bytes(res.frame[:12]),
          bytes(((3 * 10 + 50) >> 2, 100, (3 * 20 + 60) >> 2, 100,
                 (50 + 2 * 90 + 130) >> 2, 100, (60 + 2 * 100 + 140) >> 2, 100,
                 (3 * 170 + 130) >> 2, 100, (3 * 180 + 140) >> 2, 100)))
    res = convert(Call(4, "Compress", rgbin, bytes(8 * 3 * 486), out, scratch_ok=False), state)
    check("no scratch row", (res.status, res.allocations), (CAUGHT, []))

    # Planar: 720 x 486, Yrow 768, Crow 384, field 0 the odd lines.
    s = _stored(720, 486, 24, 0, planes=3, flag=1)
    yrow, crow = 768, 384
    field = 243 * (yrow + 2 * crow)
    frame = bytearray(2 * field)
    for k in range(243):
        frame[k * yrow:k * yrow + 720] = bytes((16,)) * 720
        frame[field + k * yrow:field + k * yrow + 720] = bytes((235,)) * 720
    frame[243 * yrow:field] = bytes((128,)) * (243 * 2 * crow)
    frame[field + 243 * yrow:] = bytes((128,)) * (243 * 2 * crow)
    res = convert(Call(0, "Decompress", s, bytes(frame), _rgb(720, 486, 32)), state)
    check("planar line 0 from field 1", bytes(res.frame[485 * 2880:485 * 2880 + 4]), bytes((255, 255, 255, 255)))
    check("planar line 1 from field 0", bytes(res.frame[484 * 2880:484 * 2880 + 4]), bytes((0, 0, 0, 255)))
    res = convert(Call(0, "Decompress", s, bytes(frame), _stored(720, 486, 24, 16, size=486 * 2160)), state)
    check("planar YUV right pixel filled", bytes(res.frame[:6]), bytes((16, 128, 128, 16, 128, 128)))
    # 24-bit RGB into a 32-bit planar frame: alpha 255.
    out = _stored(720, 486, 32, 0, planes=3, size=486 * (3 * 768 + 2 * 384))
    res = convert(Call(0, "Compress", _rgb(720, 486, 24), bytes(720 * 486 * 3), out), state)
    alpha0 = 243 * (768 + 2 * 384)
    check("planar alpha 255", bytes(res.frame[alpha0:alpha0 + 720]), bytes((255,)) * 720)

    # Meshed: alpha carried, first byte for subsampling 128.
    rgbin = _rgb(2, 2, 32)
    pixels = bytes((10, 20, 30, 77)) * 4
    out = _stored(2, 2, 32, 128, size=16)
    res = convert(Call(1, "Compress", rgbin, pixels, out), state)
    check("meshed alpha first", res.frame[0], 77)
    back = convert(Call(1, "Decompress", Header(res.header), bytes(res.frame), _rgb(2, 2, 32)), state)
    check("meshed alpha back", back.frame[3], 77)
    rgbin.set("dwAlphaMode", 1)
    res = convert(Call(1, "Compress", rgbin, pixels, _stored(2, 2, 32, 16, size=16)), state)
    check("alpha mode ignores alpha", res.frame[3], 255)

    # ColorLimit stays in force for direct slot calls.
    convert(Call(2, "Compress", _rgb(2, 1, 24), bytes(8), _stored(2, 1, 16, 512, size=4), flags=0x100), state)
    check("limiting off", state.limiting[2], False)
    convert(Call(0, "Compress", _rgb(2, 2, 24), bytes(16), _stored(2, 2, 24, 0, planes=3, size=384),
                 flags=0x100), state)
    yuvin = _stored(2, 2, 24, 16, size=16)
    res = convert(Call(0, "CompressFromYUV", yuvin, bytes((50, 255, 0)) * 4 + bytes(4),
                       _stored(2, 2, 24, 0, planes=3, size=384)), state)
    check("full range kept", (res.frame[64], res.frame[128]), (255, 0))
    convert(Call(0, "Compress", _rgb(2, 2, 24), bytes(16), _stored(2, 2, 24, 0, planes=3, size=384)), state)
    res = convert(Call(0, "CompressFromYUV", yuvin, bytes((50, 255, 0)) * 4 + bytes(4),
                       _stored(2, 2, 24, 0, planes=3, size=384)), state)
    check("limited again", (res.frame[64], res.frame[128]), (240, 16))

    for line in failures:
        print(line)
    print("frame model self-test: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
