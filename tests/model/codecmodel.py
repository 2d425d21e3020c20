#!/usr/bin/env python3
"""A plain model of Tarnel's registration and of the format negotiation of its
six codecs, written for clarity, not speed.

What it answers:
- enumerate_codecs: what EnumerateCodecs does with a registry that accepts or
  refuses each codec and an allocator that may fail each object;
- the codec objects' fixed answers (version, capabilities, colour space,
  descriptions, GetInfo, SetInfo, Begin and End);
- DecompressQuery, CompressQuery, DecompressGetFormat and CompressGetFormat of
  the meshed, planar, packed (three variants) and UYVY codecs: the checks in
  their order, each debug line (category, level, text), the status, the
  biSizeImage a successful CompressQuery writes into the output header, and
  the header a GetFormat derives, byte for byte.

Headers are Header objects over their bytes (144 or 160 of them). A header
holds a YUV block (bytes 144 to 159) when its biSize says so (160 or more).
Reading a field the header does not hold raises ReadPast, so the model itself
proves that no check reads past the size a header states.

Readings taken where the behaviour could be read two ways:
- CompressGetFormat writes biSize 160;
- the frame-height rules and the short-frame bit (0x20) compare the signed
  height;
- dwAttributes must match (bit 3 aside) only in the planar decode query and
  the meshed, planar and UYVY encode queries; the planar decode query does not
  look at the vertical subsampling;
- DecompressGetFormat runs DecompressQuery(input, null) before it looks at
  the index;
- the extended and ITU 709 packed codecs print the packed codec's lines;
- the biSizeImage a query writes is computed from the output header;
- a YUV header with a biSize below 160 is refused wherever it is checked as
  a 4:4:4 header too (the decoders' YUV outputs, the encoders' YUV inputs),
  before its YUV block is read;
- sizes are exact integers (no wrap-around); a query or GetFormat whose
  frame size would not fit biSizeImage (negative, or above 32 bits) refuses
  the format, silently and before allocating anything; so does a
  DecompressGetFormat whose height would be the absolute value of -2^31.

Run this file to check the model against worked examples.
"""

import struct
import sys

# ---- constants -----------------------------------------------------------------


def fourcc(text):
    return struct.unpack("<I", text.encode("ascii"))[0]


YUV = fourcc("@YUV")    # 0x56555940
UYVY = fourcc("UYVY")   # 0x59565955
KRAL = fourcc("KRAL")   # 0x4C41524B

VERSION = 0x10002
CAPABILITIES = 41

OK = 0
REFUSED = 0x80000001
NO_HEADER = 0x80000002
NOT_IMPLEMENTED = 0x80004001
CAUGHT = 0x8000FFFF

CATEGORY = 8
LEVEL_ALLOC = 2
LEVEL_QUERY = 3
LEVEL_WARNING = 1

RGB_SIZE = 144
YUV_SIZE = 160

# name: (offset, struct code)
FIELDS = {
    "biSize": (0, "I"),
    "biWidth": (4, "i"),
    "biHeight": (8, "i"),
    "biPlanes": (12, "H"),
    "biBitCount": (14, "H"),
    "biCompression": (16, "I"),
    "biSizeImage": (20, "I"),
    "dwExtDataOffset": (40, "I"),
    "dwMarker": (44, "I"),
    "dwAttributes": (48, "I"),
    "dwAlphaMode": (52, "I"),
    "dwFormatFlag": (56, "I"),
    "dwInterlace": (84, "I"),
    "dwRowAlign": (108, "I"),
    "dwColorSpace": (144, "I"),
    "dwBitsPerSample": (148, "I"),
    "dwSubsampling": (152, "I"),
    "dwVertSubsampling": (156, "I"),
}


class ReadPast(Exception):
    """A field beyond the end of the header was read."""


class Header:
    """A frame header over its bytes; fields read and written by name."""

    def __init__(self, data):
        self.data = bytearray(data)

    def __getattr__(self, name):
        if name not in FIELDS:
            raise AttributeError(name)
        offset, code = FIELDS[name]
        if offset + struct.calcsize(code) > len(self.data):
            raise ReadPast("%s of a %d-byte header" % (name, len(self.data)))
        return struct.unpack_from("<" + code, self.data, offset)[0]

    def set(self, name, value):
        offset, code = FIELDS[name]
        if code == "i":
            value = s32(value)
        elif code == "H":
            value &= 0xFFFF
        else:
            value &= 0xFFFFFFFF
        struct.pack_into("<" + code, self.data, offset, value)

    def copy(self):
        return Header(self.data)

    def fields(self):
        """{name: value} of the fields this header holds."""
        return {name: getattr(self, name) for name, (offset, code) in FIELDS.items()
                if offset + struct.calcsize(code) <= len(self.data)}


def header_length(data):
    """How many bytes a header laid out in memory holds: 160 when its biSize
    says so (160 or more), else 144."""
    size, = struct.unpack_from("<I", data, 0)
    return YUV_SIZE if size >= YUV_SIZE else RGB_SIZE


def make_header(**fields):
    """A header of the length its fields ask for (see header_length)."""
    h = Header(bytes(YUV_SIZE))
    for name, value in fields.items():
        h.set(name, value)
    return Header(h.data[:header_length(h.data)])


# ---- arithmetic ----------------------------------------------------------------


def s32(v):
    v &= 0xFFFFFFFF
    return v - (1 << 32) if v & 0x80000000 else v


def tdiv(a, b):
    """Division that truncates toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def down(v, m):
    """v rounded down to a multiple of m."""
    return v // m * m


def stride(width, bits):
    """Bytes of one interleaved row."""
    return down(tdiv(width * bits, 8) + 3, 4)


def fits(size):
    """Whether a frame size can be written into biSizeImage: a header whose
    frame would be negative or larger than 32 bits hold is refused rather
    than described with a wrapped size."""
    return 0 <= size <= 0xFFFFFFFF


def packed_stride(width):
    return down(width * 2 + 3, 4)


def planar_rows(width):
    """(Yrow, Crow): the luma and chroma row widths of the planar layout."""
    return down(width + 63, 64), down(tdiv(width, 2) + 63, 64)


# ---- the codecs ----------------------------------------------------------------


class Codec:
    """One registered codec: what it is, and its negotiation."""

    def __init__(self, name, family, fourcc, line, desc0, desc1, colour_space=0, extended=False):
        self.name = name
        self.family = family            # "planar", "meshed", "packed" or "yvy"
        self.fourcc = fourcc            # passed to the registry
        self.line = line                # of the assertion when its allocation fails
        self.desc = (desc0, desc1)
        self.colour_space = colour_space
        self.extended = extended        # the packed codec with extended frame heights
        # The packed variants share one implementation and print its lines.
        self.printed = "Cccir601Packed" if family == "packed" else name

    def __repr__(self):
        return self.name

    # -- fixed answers

    def get_version(self):
        return VERSION

    def get_capabilities(self):
        return CAPABILITIES

    def get_colour_space(self):
        return self.colour_space

    def get_info(self, id):
        """(status, where, what): where is "value" or "aux" (None: nothing
        stored); what is a description string or a 32-bit value."""
        if id in (0, 1):
            return OK, "value", self.desc[id]
        if id == 2:
            return OK, "value", 0x10000
        if id == 3:
            return OK, "value", 0
        if id == 6:
            return OK, "aux", 0
        return NOT_IMPLEMENTED, None, None

    def set_info(self, *ignored):
        return NOT_IMPLEMENTED

    def decompress_begin(self, inp, out, log):
        """(status, whether 1 is stored into the cell)."""
        if self.family == "packed":
            status = self.decompress_query(inp, out, log)
            if status != OK:
                return status, False
        return OK, True

    def compress_begin(self, inp, out, log):
        return OK, True

    def end(self):
        return OK

    # -- queries

    def decompress_query(self, inp, out, log):
        """Status of DecompressQuery(inp, out); out may be None. Lines printed
        are appended to log as (category, level, text)."""
        return getattr(self, "_dq_" + self.family)(inp, out, log)

    def compress_query(self, inp, out, log):
        """Status of CompressQuery(inp, out); on success biSizeImage of out
        (when given) is written."""
        status = getattr(self, "_cq_" + self.family)(inp, out, log)
        if status == OK and out is not None:
            size = self._encoded_size(out)
            if not fits(size):
                return REFUSED
            out.set("biSizeImage", size)
        return status

    def _say(self, log, level, text):
        log.append((CATEGORY, level, text))

    def _encoded_size(self, out):
        height = abs(out.biHeight)
        if self.family == "packed":
            return height * out.biWidth * 2
        if self.family == "planar":
            yrow, crow = planar_rows(out.biWidth)
            size = height * (yrow + 2 * crow)
            if out.biBitCount == 32:
                size += 2 * yrow * height
            return size
        return height * stride(out.biWidth, out.biBitCount)

    # Common output and input checks.

    def _rgb_out(self, inp, out):
        """The decoders' checks of any output header."""
        return (out.biBitCount in (24, 32) and out.biHeight >= 0
                and not out.dwFormatFlag & 1 and out.biWidth == inp.biWidth)

    def _yuv444(self, h, subsamplings=(16,)):
        """A 4:4:4 YUV header of this codec (the @YUV compression is checked
        by the caller). A YUV header shorter than 160 bytes is refused like
        every other."""
        return (h.biSize >= 160 and h.dwExtDataOffset == 144 and h.dwColorSpace == self.colour_space
                and h.dwSubsampling in subsamplings and h.dwVertSubsampling == 0)

    @staticmethod
    def _attributes_match(a, b):
        return (a.dwAttributes ^ b.dwAttributes) & ~0x8 & 0xFFFFFFFF == 0

    @staticmethod
    def _size_enough(h, needed):
        return h.biSizeImage == 0 or h.biSizeImage >= needed

    # Frame heights of the packed and UYVY codecs.

    def _height_rule(self, decode, inp, out):
        h = inp.biHeight
        if self.family == "packed" and self.extended:
            if inp.biWidth != 720:
                return False
            pairs = {512: 486, 608: 576} if decode else {486: 512, 576: 608}
            if decode:
                default = 486 if h <= 512 else 576
            else:
                default = 512 if h < 512 else 608
        else:
            if self.family == "packed" and inp.biWidth != 720:
                return True
            pairs = {486: 486, 576: 576}
            if decode:
                default = 486 if h < 512 else 576
            else:
                default = 486 if h <= 512 else 576
        if h not in pairs:
            return False
        expected = out.biHeight if out is not None else default
        return expected == pairs[h]

    # DecompressQuery per family.

    def _dq_meshed(self, inp, out, log):
        if (inp.biCompression != YUV or inp.dwExtDataOffset == 0 or inp.biSize < 160
                or inp.dwFormatFlag == 1 or inp.biPlanes != 1 or inp.biBitCount not in (24, 32)
                or inp.dwColorSpace != 0 or inp.dwBitsPerSample not in (8, 0)
                or inp.dwSubsampling not in (16, 128) or inp.dwVertSubsampling != 0
                or not self._size_enough(inp, abs(inp.biHeight) * stride(inp.biWidth, inp.biBitCount))):
            return REFUSED
        if out is not None:
            if not (self._rgb_out(inp, out) and out.biCompression == 0
                    and out.biHeight == abs(inp.biHeight)):
                return REFUSED
        return OK

    def _dq_planar(self, inp, out, log):
        if inp.biCompression != YUV or inp.dwExtDataOffset == 0 or inp.biSize < 160:
            return REFUSED
        if inp.dwFormatFlag != 1:
            self._say(log, LEVEL_WARNING, "!!!Cccir601Planar::DecompressQuery dwFormatFlag wrong in YUV!!!!\r\n")
        if inp.biPlanes != 3 or inp.biBitCount not in (24, 32) or inp.dwColorSpace != 0:
            return REFUSED
        if inp.dwBitsPerSample not in (8, 0) or inp.dwSubsampling != 0:
            return REFUSED
        yrow, crow = planar_rows(inp.biWidth)
        if not self._size_enough(inp, abs(inp.biHeight) * (yrow + 2 * crow)
                                 * (2 if inp.biBitCount == 32 else 1)):
            return REFUSED
        if out is not None:
            if not (self._rgb_out(inp, out) and out.biPlanes == 1
                    and out.biCompression in (0, YUV) and out.biHeight == abs(inp.biHeight)
                    and self._attributes_match(inp, out)):
                return REFUSED
            if out.biCompression == YUV and not self._yuv444(out):
                return REFUSED
        return OK

    def _dq_packed(self, inp, out, log):
        def refuse(text):
            self._say(log, LEVEL_QUERY, "Cccir601Packed::DecompressQuery() - " + text)
            return REFUSED

        if inp.biCompression != YUV:
            return REFUSED
        if inp.dwExtDataOffset == 0:
            return refuse("dwExtDataOffset == 0 \n")
        if inp.biSize < 160:
            return refuse("Header size  < sizeof(YUVBMINFOHEADER)\n")
        if not inp.dwFormatFlag & 1 and inp.dwInterlace == 0:
            return refuse("Interlaced format not supported\n")
        if inp.biPlanes != 1:
            return refuse("Planar format not supported\n")
        if inp.biBitCount not in (16, 24):
            return refuse("Bitcount not 16\n")
        if inp.dwColorSpace != self.colour_space:
            return refuse("Wrong Color space\n")
        if inp.dwBitsPerSample not in (8, 0):
            return refuse("Unsupported bits per sample (%d)\n" % s32(inp.dwBitsPerSample))
        if inp.dwSubsampling != 512:
            return refuse("Horizontal subsampling not 422_UYVY\n")
        if inp.dwVertSubsampling != 0:
            return refuse("Vertical subsampling not 422\n")
        if not self._size_enough(inp, abs(inp.biHeight) * packed_stride(inp.biWidth)):
            return REFUSED
        if out is not None:
            if not (out.biBitCount in (24, 32) and out.biHeight >= 0 and not out.dwFormatFlag & 1
                    and out.biCompression in (0, YUV) and out.biWidth == inp.biWidth):
                return REFUSED
            if out.biCompression == YUV and not self._yuv444(out, (16, 256, 512)):
                return REFUSED
        if not self._height_rule(True, inp, out):
            return REFUSED
        return OK

    def _dq_yvy(self, inp, out, log):
        if (inp.biCompression != UYVY or inp.dwExtDataOffset == 0 or inp.biSize < 160
                or inp.dwFormatFlag == 1 or inp.biPlanes != 1 or inp.biBitCount != 16
                or inp.dwColorSpace != 0 or inp.dwBitsPerSample not in (8, 0)
                or inp.dwSubsampling != 512 or inp.dwVertSubsampling != 0
                or not self._size_enough(inp, abs(inp.biHeight) * stride(inp.biWidth, 16))):
            return REFUSED
        if out is not None:
            if not (self._rgb_out(inp, out) and out.biCompression in (0, YUV)
                    and out.biHeight == abs(inp.biHeight)):
                return REFUSED
            if out.biCompression == YUV and not self._yuv444(out):
                return REFUSED
        if not self._height_rule(True, inp, out):
            return REFUSED
        return OK

    # CompressQuery per family.

    def _cq_meshed(self, inp, out, log):
        if (inp.biCompression != 0 or inp.biBitCount not in (24, 32) or inp.biHeight < 0
                or inp.dwFormatFlag & 1):
            return REFUSED
        if out is not None:
            if not (out.biCompression == YUV and out.biPlanes == 1 and out.dwExtDataOffset != 0
                    and out.biSize >= 160 and out.dwColorSpace == 0
                    and out.dwBitsPerSample in (8, 0) and out.dwSubsampling in (16, 128)
                    and out.dwVertSubsampling == 0 and out.biBitCount in (24, 32)
                    and out.biWidth == inp.biWidth and abs(out.biHeight) == inp.biHeight
                    and self._attributes_match(inp, out)):
                return REFUSED
        return OK

    def _host_input(self, inp, log):
        """The input checks of the packed and planar encoders, with their
        lines: None when the input passes, else the status."""
        def refuse(text):
            self._say(log, LEVEL_QUERY, "%s::CompressQuery() - %s" % (self.printed, text))
            return REFUSED

        if inp.biCompression not in (0, YUV):
            return refuse("Unsupported compression format 0x%08x \n" % inp.biCompression)
        if inp.biBitCount not in (24, 32):
            return refuse("Unsupported biBitCount %d != (24|32)\n" % inp.biBitCount)
        if inp.biPlanes != 1:
            return refuse("Unsupported biPlanes %d != 1\n" % inp.biPlanes)
        if inp.biHeight < 0 or inp.dwFormatFlag & 0x11:
            return refuse("Top down only supported for interlaced flags:%08x\n" % inp.dwFormatFlag)
        if inp.biCompression == YUV and not self._yuv444(inp):
            return refuse("Invalid YUVBMINFOHEADER\n")
        return None

    def _cq_packed(self, inp, out, log):
        refused = self._host_input(inp, log)
        if refused is not None:
            return refused
        if out is not None:
            if out.biCompression != YUV:
                self._say(log, LEVEL_QUERY, "Cccir601Packed::CompressQuery() - Only YUV output supported\n")
                return REFUSED
            if not (out.biPlanes == 1 and out.dwExtDataOffset != 0 and out.dwFormatFlag & 1
                    and out.biSize >= 160 and out.dwColorSpace == self.colour_space
                    and out.dwBitsPerSample in (8, 0) and out.dwSubsampling == 512
                    and out.dwVertSubsampling == 0 and out.biBitCount in (16, 24)
                    and out.biWidth == inp.biWidth):
                return REFUSED
        if not self._height_rule(False, inp, out):
            return REFUSED
        return OK

    def _cq_planar(self, inp, out, log):
        refused = self._host_input(inp, log)
        if refused is not None:
            return refused
        if out is not None:
            if not (out.biCompression == YUV and out.dwExtDataOffset != 0 and out.biPlanes == 3
                    and out.biSize >= 160 and out.biHeight in (576, 486, 480)
                    and out.dwColorSpace == 0 and out.dwBitsPerSample in (8, 0)
                    and out.dwSubsampling == 0 and out.dwVertSubsampling == 0
                    and out.biBitCount in (24, 32) and out.biWidth == inp.biWidth
                    and out.biHeight == inp.biHeight and self._attributes_match(inp, out)):
                return REFUSED
        return OK

    def _cq_yvy(self, inp, out, log):
        if (inp.biCompression not in (0, YUV) or inp.biBitCount not in (24, 32) or inp.biHeight < 0
                or inp.dwFormatFlag & 1):
            return REFUSED
        if inp.biCompression == YUV and not self._yuv444(inp):
            self._say(log, LEVEL_QUERY, "CTarnelYVY::CompressQuery() - Invalid YUVBMINFOHEADER\n")
            return REFUSED
        if out is not None:
            if not (out.biCompression == UYVY and out.biPlanes == 1 and out.biBitCount == 16
                    and out.dwExtDataOffset != 0 and out.biSize >= 160 and out.dwColorSpace == 0
                    and out.dwBitsPerSample in (8, 0) and out.dwSubsampling == 512
                    and out.dwVertSubsampling == 0 and out.biWidth == inp.biWidth
                    and abs(out.biHeight) == inp.biHeight and self._attributes_match(inp, out)):
                return REFUSED
        if not self._height_rule(False, inp, out):
            return REFUSED
        return OK

    # -- GetFormat

    def _allocate(self, operation, size, alloc, log):
        """A fresh header of size bytes, or None after the allocation line."""
        if not alloc(size, 0):
            self._say(log, LEVEL_ALLOC, "%s::%s: Allocation of %d bytes Failed!\r\n"
                      % (self.printed, operation, size))
            return None
        return Header(bytes(size))

    def _alternatives(self):
        """(kind, bit count, subsampling) of each DecompressGetFormat index."""
        rgb32, rgb24 = ("rgb", 32, None), ("rgb", 24, None)
        yuv32, yuv24 = ("yuv", 32, 16), ("yuv", 24, 16)
        if self.family == "meshed":
            return None  # every index: RGB 32
        if self.family == "planar":
            return [rgb32, rgb24, yuv32, yuv24]
        if self.family == "yvy":
            return [rgb32, rgb24, yuv32, yuv24, rgb32]
        return [rgb32, rgb24, yuv32, yuv24, rgb32, ("yuv", 16, 512), ("yuv", 16, 256)]

    def decompress_get_format(self, inp, index, alloc, log):
        """(status, derived header or None). alloc(size, flags) says whether
        the host's allocator gives the block."""
        status = self.decompress_query(inp, None, log)
        if status != OK:
            return status, None
        alternatives = self._alternatives()
        if alternatives is None:
            kind, bits, subsampling = "rgb", 32, None
        elif 0 <= index < len(alternatives):
            kind, bits, subsampling = alternatives[index]
        else:
            return REFUSED, None
        h = inp.biHeight
        if self.family in ("meshed", "planar"):
            height = abs(h)
            short = h <= 488
        else:
            height = {486: 486, 512: 486, 576: 576, 608: 576}.get(h, h)
            short = h <= 512
        if bits == 16:
            size = abs(height) * inp.biWidth * 2
        else:
            size = abs(height) * stride(inp.biWidth, bits)
        # Nor can a derived header turn -2^31 rows into their absolute value.
        if not fits(size) or height > 0x7FFFFFFF:
            return REFUSED, None
        out = self._allocate("DecompressGetFormat", RGB_SIZE if kind == "rgb" else YUV_SIZE, alloc, log)
        if out is None:
            return NO_HEADER, None
        out.data[:144] = inp.data[:144]
        out.set("biHeight", height)
        out.set("biBitCount", bits)
        out.set("biPlanes", 1)
        out.set("dwFormatFlag", 0x20 if short else 0)
        if self.family != "meshed":
            out.set("dwMarker", KRAL)
        if kind == "rgb":
            out.set("biSize", RGB_SIZE)
            out.set("biCompression", 0)
            out.set("dwExtDataOffset", 0)
        else:
            out.set("biSize", YUV_SIZE)
            out.set("biCompression", YUV)
            out.set("dwExtDataOffset", 144)
            out.set("dwColorSpace", self.colour_space)
            out.set("dwBitsPerSample", 8)
            out.set("dwSubsampling", subsampling)
            out.set("dwVertSubsampling", 0)
        if bits == 16:
            out.set("dwRowAlign", out.biWidth * 2)
        out.set("biSizeImage", size)
        return OK, out

    def compress_get_format(self, inp, alloc, log):
        status = self.compress_query(inp, None, log)
        if status != OK:
            return status, None
        width, height = inp.biWidth, inp.biHeight
        # name: value of the fields the stored format sets
        fields = dict(biSize=YUV_SIZE, biPlanes=1, dwExtDataOffset=144, dwColorSpace=self.colour_space,
                      dwBitsPerSample=8, dwVertSubsampling=0, dwRowAlign=4)
        if self.family == "meshed":
            fields.update(biCompression=YUV, biBitCount=32, dwSubsampling=16)
            size = abs(height) * width * 4
        elif self.family == "packed":
            fields.update(biCompression=YUV, biBitCount=16, dwSubsampling=512)
            if inp.dwInterlace == 0 or width == 720:
                fields.update(dwFormatFlag=1)
            if self.extended:
                height = {486: 512, 576: 608}.get(height, height)
                fields.update(biHeight=height)
            size = abs(height) * packed_stride(width)
        elif self.family == "planar":
            fields.update(biCompression=YUV, biBitCount=24, biPlanes=3, dwSubsampling=0, dwRowAlign=64,
                          dwFormatFlag=1)
            yrow, crow = planar_rows(width)
            size = abs(height) * (yrow + 2 * crow)
        else:
            fields.update(biCompression=UYVY, biBitCount=16, dwSubsampling=512,
                          dwFormatFlag=0x20 if abs(height) < 525 else 0)
            size = abs(height) * stride(width, 16)
        if not fits(size):
            return REFUSED, None
        out = self._allocate("CompressGetFormat", YUV_SIZE, alloc, log)
        if out is None:
            return NO_HEADER, None
        out.data[:144] = inp.data[:144]
        for name, value in fields.items():
            out.set(name, value)
        out.set("biSizeImage", size)
        return OK, out


CODECS = [
    Codec("Cccir601Planar", "planar", YUV, 125,
          "///TARQ YUV Compressor (Planar)", "///TARQ YUV Compressor (Planar768,2Fields)"),
    Codec("Cccir601Meshed", "meshed", YUV, 132,
          "///TARQ YUV Compressor (Meshed)", "///TARQ YUV Compressor (YUV444(4) interleaved)"),
    Codec("Cccir601Packed", "packed", YUV, 139,
          "///TARQ YUV Compressor (Packed)", "///TARQ YUV Compressor (Packed 2VUY,2 fields)"),
    Codec("Cccir601PackedExtd", "packed", YUV, 146,
          "///TARQ YUV Compressor (Packed,Extd)", "///TARQ YUV Compressor (Packed 2VUY,2 fields,Extd)",
          extended=True),
    Codec("CTarnelYVY", "yvy", UYVY, 153,
          "AVI UYVY Compressor", "YUV Compressor UYVY interleaved "),
    Codec("Cccir601Packed709", "packed", UYVY, 161,
          "ITU709 Compressor (Packed)", "ITU709 Compressor (Packed 2VUY,2 fields)", colour_space=2),
]

BY_NAME = {c.name: c for c in CODECS}

ASSERT_EXPRESSION = "pICodec!=NULL"
ASSERT_FILE = "src\\ccir601\\ccir601"


def enumerate_codecs(version, accepts, allocates):
    """What EnumerateCodecs(registry, version) does, as a list of events:
    ("assert", expression, file, line, category) when an object cannot be
    allocated; ("offer", fourcc, codec or None) for each RegisterCodec call;
    ("delete", codec) when a refused object is destroyed. accepts(row) is
    the registry's status for the row's offer (negative: refused);
    allocates(row) whether the row's object can be allocated."""
    events = []
    if version != VERSION:
        return events
    for row, codec in enumerate(CODECS):
        made = codec if allocates(row) else None
        if made is None:
            events.append(("assert", ASSERT_EXPRESSION, ASSERT_FILE, codec.line, CATEGORY))
        events.append(("offer", codec.fourcc, made))
        if accepts(row) < 0 and made is not None:
            events.append(("delete", made))
    return events


# ---- self-test ---------------------------------------------------------------


def rgb(width, height, bits=32, **more):
    fields = dict(biSize=144, biWidth=width, biHeight=height, biPlanes=1, biBitCount=bits)
    fields.update(more)
    return make_header(**fields)


def yuv(width, height, bits, subsampling, planes=1, compression=YUV, colour_space=0, flag=0, **more):
    fields = dict(biSize=160, biWidth=width, biHeight=height, biPlanes=planes, biBitCount=bits,
                  biCompression=compression, dwExtDataOffset=144, dwColorSpace=colour_space,
                  dwBitsPerSample=8, dwSubsampling=subsampling, dwFormatFlag=flag)
    fields.update(more)
    return make_header(**fields)


def packed_in(codec, width=720, height=486, **more):
    fields = dict(flag=1, colour_space=codec.colour_space)
    fields.update(more)
    return yuv(width, height, 16, 512, **fields)


def asked(fn, *args):
    log = []
    status = fn(*args, log)
    return status, log


def always(size, flags):
    return True


def never(size, flags):
    return False


def selftest():
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    planar, meshed, packed, extd, yvy, p709 = CODECS
    dq = "Cccir601Packed::DecompressQuery() - "

    # Registration.
    check("wrong versions", [enumerate_codecs(v, lambda r: 0, lambda r: True) for v in (0x10001, 0x10003)],
          [[], []])
    events = enumerate_codecs(VERSION, lambda r: -1, lambda r: True)
    check("a refusing registry", events,
          [e for c in CODECS for e in (("offer", c.fourcc, c), ("delete", c))])
    events = enumerate_codecs(VERSION, lambda r: 0, lambda r: r != 2)
    check("a failed allocation", events[2:4],
          [("assert", "pICodec!=NULL", "src\\ccir601\\ccir601", 139, 8), ("offer", YUV, None)])
    check("offered FourCCs", [c.fourcc for c in CODECS], [YUV, YUV, YUV, YUV, UYVY, UYVY])
    check("FourCC values", (YUV, UYVY), (0x56555940, 0x59565955))

    # Information.
    check("GetInfo 4", packed.get_info(4), (NOT_IMPLEMENTED, None, None))
    check("GetInfo 7", packed.get_info(7), (NOT_IMPLEMENTED, None, None))
    check("GetInfo 2", packed.get_info(2), (OK, "value", 0x10000))
    check("GetInfo 6", packed.get_info(6), (OK, "aux", 0))
    check("UYVY's trailing blank", yvy.get_info(1)[2][-1:], " ")
    check("709 colour space", (p709.get_colour_space(), p709.fourcc), (2, UYVY))

    # Packed decoding: the checks in order, with their lines.
    h = packed_in(packed, biSize=159)
    check("biSize 159", asked(packed.decompress_query, h, None),
          (REFUSED, [(8, 3, dq + "Header size  < sizeof(YUVBMINFOHEADER)\n")]))
    h = packed_in(packed, biSize=159, dwExtDataOffset=0)
    check("offset 0 comes first", asked(packed.decompress_query, h, None),
          (REFUSED, [(8, 3, dq + "dwExtDataOffset == 0 \n")]))
    h = packed_in(packed, flag=0)
    check("not interlaced", asked(packed.decompress_query, h, None),
          (REFUSED, [(8, 3, dq + "Interlaced format not supported\n")]))
    check("interlaced content", asked(packed.decompress_query, packed_in(packed, flag=0, dwInterlace=1), None),
          (OK, []))
    check("24-bit stored input", asked(packed.decompress_query, packed_in(packed, biBitCount=24), None), (OK, []))
    check("bits per sample", asked(packed.decompress_query, packed_in(packed, dwBitsPerSample=0xFFFFFFFF), None),
          (REFUSED, [(8, 3, dq + "Unsupported bits per sample (-1)\n")]))
    check("709 demands its colour space", asked(p709.decompress_query, packed_in(packed), None),
          (REFUSED, [(8, 3, dq + "Wrong Color space\n")]))

    # Frame heights.
    check("Extd at 640", asked(extd.decompress_query, packed_in(extd, 640, 512), None)[0], REFUSED)
    check("Extd encoding at 640", asked(extd.compress_query, rgb(640, 486), None)[0], REFUSED)
    check("Packed at 640", asked(packed.decompress_query, packed_in(packed, 640, 500), None)[0], OK)
    check("Packed at 720", asked(packed.decompress_query, packed_in(packed, 720, 500), None)[0], REFUSED)
    check("UYVY at 640", asked(yvy.decompress_query, yuv(640, 500, 16, 512, compression=UYVY), None)[0],
          REFUSED)
    check("UYVY at 640, 576", asked(yvy.decompress_query, yuv(640, 576, 16, 512, compression=UYVY), None)[0], OK)
    check("signed heights", asked(yvy.decompress_query, yuv(640, -576, 16, 512, compression=UYVY), None)[0],
          REFUSED)

    # Flags.
    meshed_in = yuv(720, 486, 32, 16)
    check("meshed flag 1", asked(meshed.decompress_query, yuv(720, 486, 32, 16, flag=1), None)[0], REFUSED)
    check("meshed flag 0x21", asked(meshed.decompress_query, yuv(720, 486, 32, 16, flag=0x21), None)[0], OK)
    check("planar warns", asked(planar.decompress_query, yuv(720, 486, 24, 0, planes=3), None),
          (OK, [(8, 1, "!!!Cccir601Planar::DecompressQuery dwFormatFlag wrong in YUV!!!!\r\n")]))
    check("top down", asked(packed.compress_query, rgb(720, -486, dwFormatFlag=0x21), None),
          (REFUSED, [(8, 3, "Cccir601Packed::CompressQuery() - Top down only supported for interlaced "
                            "flags:00000021\n")]))
    check("planar's class", asked(planar.compress_query, rgb(720, 486, 16), None),
          (REFUSED, [(8, 3, "Cccir601Planar::CompressQuery() - Unsupported biBitCount 16 != (24|32)\n")]))

    # What a successful CompressQuery writes.
    out = packed_in(packed, 720, 486, biBitCount=24)
    check("packed output of 24 bits", asked(packed.compress_query, rgb(720, 486), out), (OK, []))
    check("packed size", out.biSizeImage, 486 * 720 * 2)
    out = yuv(720, 486, 32, 0, planes=3)
    check("planar 32-bit", (asked(planar.compress_query, rgb(720, 486), out), out.biSizeImage),
          ((OK, []), 486 * (768 + 2 * 384) + 2 * 768 * 486))

    # GetFormat.
    sizes = []

    def counting(size, flags):
        sizes.append(size)
        return True
    check("index 7", packed.decompress_get_format(packed_in(packed), 7, counting, [])[0], REFUSED)
    check("index 7 allocates nothing", sizes, [])
    zero = packed.decompress_get_format(packed_in(packed), 0, always, [])[1]
    four = packed.decompress_get_format(packed_in(packed), 4, always, [])[1]
    check("index 4 is index 0", four.data, zero.data)
    for height, want in ((512, 486), (608, 576)):
        got = extd.decompress_get_format(packed_in(extd, 720, height), 0, always, [])[1]
        check("Extd %d" % height, (got.biWidth, got.biHeight), (720, want))
    check("allocation fails", asked(lambda *a: meshed.decompress_get_format(*a)[0], meshed_in, 3, never),
          (NO_HEADER, [(8, 2, "Cccir601Meshed::DecompressGetFormat: Allocation of 144 bytes Failed!\r\n")]))
    check("allocation fails", asked(lambda *a: yvy.compress_get_format(*a)[0], rgb(720, 486), never),
          (NO_HEADER, [(8, 2, "CTarnelYVY::CompressGetFormat: Allocation of 160 bytes Failed!\r\n")]))

    # Sizes biSizeImage cannot hold refuse the format before anything is allocated.
    sizes.clear()
    check("2^32 bytes", meshed.compress_get_format(rgb(0x40000000, 1), counting, [])[0], REFUSED)
    check("2^32 bytes allocates nothing", sizes, [])
    check("2^32 - 4 bytes", meshed.compress_get_format(rgb(0x3FFFFFFF, 1), always, [])[1].biSizeImage, 0xFFFFFFFC)
    check("2^31 rows", meshed.decompress_get_format(yuv(0, -0x80000000, 24, 16), 0, always, [])[0], REFUSED)
    check("a negative size", packed.decompress_get_format(packed_in(packed, -1, 1), 0, always, [])[0], REFUSED)
    check("a negative size is not compared", asked(meshed.decompress_query, yuv(-720, 576, 24, 16, biSizeImage=1),
                                                   None)[0], OK)
    check("64-bit sizes compare as they are",
          asked(meshed.decompress_query, yuv(0x7FFFFFFF, -1903106573, 24, 16, biSizeImage=0x1004A0), None)[0],
          REFUSED)
    # A 4:4:4 header shorter than a YUV header is not one.
    check("a short 4:4:4 output", asked(packed.decompress_query, packed_in(packed),
                                        yuv(720, 486, 32, 16, biSize=144))[0], REFUSED)
    check("a short 4:4:4 input", asked(yvy.compress_query, yuv(720, 486, 32, 16, biSize=144), None),
          (REFUSED, [(8, 3, "CTarnelYVY::CompressQuery() - Invalid YUVBMINFOHEADER\n")]))

    # What GetFormat derives at the common frame sizes, each codec's own
    # query accepts.
    for codec in CODECS:
        for width, height in ((720, 486), (720, 576)):
            for bits in (24, 32):
                source = rgb(width, height, bits)
                status, stored = codec.compress_get_format(source, always, [])
                check("%r encodes %dx%d" % (codec, width, height), status, OK)
                check("%r accepts its own encoding" % codec,
                      asked(codec.compress_query, source, stored.copy())[0], OK)
                status, log = asked(codec.decompress_query, stored, None)
                check("%r decodes its encoding" % codec, (status, log), (OK, []))
                for index in range(5 if codec.family != "planar" else 4):
                    status, shown = codec.decompress_get_format(stored, index, always, [])
                    check("%r derives %d" % (codec, index), status, OK)
                    check("%r accepts its derivation %d" % (codec, index),
                          asked(codec.decompress_query, stored, shown)[0], OK)

    # No check reads past a header laid out by header_length, whatever its fields.
    import random
    rng = random.Random(7)
    values = [0, 1, 3, 16, 24, 32, 128, 143, 144, 145, 159, 160, 512, YUV, UYVY, 0xFFFFFFFF]
    for _ in range(3000):
        raw = bytearray(rng.getrandbits(8) for _ in range(YUV_SIZE))
        for name in ("biSize", "dwExtDataOffset", "biCompression", "biBitCount", "biPlanes"):
            if rng.random() < 0.7:
                offset, code = FIELDS[name]
                struct.pack_into("<" + code.upper(), raw, offset, rng.choice(values) & (0xFFFF if code == "H" else
                                                                                        0xFFFFFFFF))
        a = Header(raw[:header_length(raw)])
        b = Header(raw[:header_length(raw)])
        for codec in CODECS:
            try:
                for inp, out in ((a, None), (a, b), (b, a)):
                    codec.decompress_query(inp, out and out.copy(), [])
                    codec.compress_query(inp, out and out.copy(), [])
                codec.decompress_get_format(a, 0, always, [])
                codec.compress_get_format(a, always, [])
            except ReadPast as e:
                failures.append("%r reads past a header: %s" % (codec, e))
                break

    for line in failures:
        print(line)
    print("codec model self-test: %s" % ("%d failures" % len(failures) if failures else "all passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
