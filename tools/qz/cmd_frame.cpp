// qz frame: the codec plug-in as a host sees it. `codecs` lists what
// EnumerateCodecs registers; `formats` shows what a codec offers for an RGB
// frame of a given size: its stored header, and each decoder alternative of
// that header, or the refusal and the codec's own words. `encode`, `decode`
// and `info` convert pictures to stored frames and back through the codecs,
// negotiating each frame's format as a host does.
//
// A stored-frame file is the codec's header (biSize bytes) followed by the
// frame's bytes. With --raw the file holds the frame's bytes alone, and the
// header is the one the codec offers for a picture of the size given on the
// command line, so that other programs can read and write such files (a UYVY
// frame is a plain uyvy422 raw frame).
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec_host.h"
#include "ferrow.h"
#include "image/image.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz frame codecs\n"
    "       qz frame formats CODEC WIDTH HEIGHT [BITS]\n"
    "       qz frame encode CODEC IMAGE OUT [--raw] [--bits 24|32] [--premultiply] [--full-range]\n"
    "       qz frame decode FRAME IMAGE [--half] [--yuv] [--codec CODEC] [--raw CODEC WIDTH HEIGHT]\n"
    "       qz frame info FRAME [--raw CODEC WIDTH HEIGHT]\n"
    "\n"
    "Loads the codec plug-in beside qz as a host does and asks it for its codecs.\n"
    "\n"
    "  codecs    the codecs in the order they register: FourCC, both descriptions,\n"
    "            version, capabilities, colour space\n"
    "  formats   what CODEC offers for a bottom-up RGB frame of WIDTH x HEIGHT\n"
    "            pixels and BITS bits (24 or 32; 32 when not given): the stored\n"
    "            header of CompressGetFormat, then each DecompressGetFormat\n"
    "            alternative of that header, field by field, with what the\n"
    "            codec's own queries say of each pair. A negative HEIGHT is a\n"
    "            top-down frame.\n"
    "  encode    a PNG or BMP picture through CODEC into a stored-frame file OUT:\n"
    "            the header the codec offers for the picture (CompressGetFormat,\n"
    "            CompressQuery), then the frame Compress makes of it. The picture\n"
    "            goes in as a 32-bit frame when it has an alpha channel, else as\n"
    "            24 bits (--bits chooses). --premultiply premultiplies the colours\n"
    "            by the alpha; --full-range encodes without the studio-range\n"
    "            limits. --raw writes the frame's bytes alone.\n"
    "  decode    a stored frame to a PNG or BMP picture (by IMAGE's extension):\n"
    "            the first codec whose DecompressQuery takes the header decodes it\n"
    "            (--codec names one) to the RGB output it offers; --half asks for\n"
    "            the half-size preview, --yuv for the 4:4:4 YUV samples, written\n"
    "            as the picture's red (Y), green (Cb) and blue (Cr) channels. An\n"
    "            alpha channel is written when some pixel is not opaque.\n"
    "  info      a stored frame's header field by field, its layout, fields and\n"
    "            sizes, and what the codec that takes it decodes it to.\n"
    "\n"
    "--raw CODEC WIDTH HEIGHT reads FRAME as the bare bytes of a frame whose\n"
    "header is the one CODEC offers for a WIDTH x HEIGHT picture (what encode\n"
    "--raw wrote). A UYVY frame is a plain uyvy422 frame, top line first.\n"
    "\n"
    "CODEC is a name from `qz frame codecs` (planar, meshed, packed, packed-extd,\n"
    "uyvy, packed-709), a class name, or a position from 1.\n"
    "Exit status 1 when the codec refuses the frame or the conversion fails.\n";

using Header = YUVBMINFOHEADER;

std::string Status(LONG status) { return qz::StatusText(status); }

// The codec's messages since the last call, indented under what it was asked.
void ShowMessages(qz::CodecMessages& messages, const char* indent, bool refused = false) {
  const std::vector<std::string> texts = messages.Take();
  for (const std::string& m : texts) qz::Out("%sthe codec says: %s\n", indent, m.c_str());
  if (refused && texts.empty()) qz::Out("%s(the codec gives no reason)\n", indent);
}

const char* SubsamplingText(DWORD s) {
  switch (s) {
    case 0: return " (planar 4:2:2)";
    case 16: return " (4:4:4 Y Cb Cr)";
    case 128: return " (4:4:4 Cr Cb Y)";
    case 256: return " (4:2:2)";
    case 512: return " (4:2:2 Cb Y0 Cr Y1)";
    default: return "";
  }
}

std::string FlagText(DWORD flag) {
  std::string parts;
  if (flag & 1) parts += ", two fields";
  if (flag & 0x10) parts += ", field order";
  if (flag & 0x20) parts += ", NTSC height";
  return parts.empty() ? std::string() : " (" + parts.substr(2) + ")";
}

// A header as a field list: the extended bitmap header, and the YUV block when it has one.
void ShowHeader(const Header& h, DWORD bytes, const char* indent) {
  qz::Out("%sbiSize %u  biWidth %d  biHeight %d  biPlanes %u  biBitCount %u\n", indent, h.biSize, h.biWidth,
          h.biHeight, unsigned(h.biPlanes), unsigned(h.biBitCount));
  qz::Out("%sbiCompression %s  biSizeImage %u  dwExtDataOffset %u  dwMarker %s\n", indent,
          h.biCompression ? qz::FourCCText(h.biCompression).c_str() : "0 (RGB)", h.biSizeImage, h.dwExtDataOffset,
          h.dwMarker ? qz::FourCCText(h.dwMarker).c_str() : "0");
  qz::Out("%sdwAttributes 0x%08x  dwAlphaMode %u  dwFormatFlag 0x%08x%s  dwInterlace %u  dwRowAlign %u\n", indent,
          h.dwAttributes, h.dwAlphaMode, h.dwFormatFlag, FlagText(h.dwFormatFlag).c_str(), h.dwInterlace,
          h.dwRowAlign);
  if (bytes >= 160)
    qz::Out("%sdwColorSpace %u%s  dwBitsPerSample %u  dwSubsampling %u%s  dwVertSubsampling %u\n", indent,
            h.dwColorSpace, h.dwColorSpace == 0 ? " (CCIR 601)" : h.dwColorSpace == 2 ? " (ITU 709)" : "",
            h.dwBitsPerSample, h.dwSubsampling, SubsamplingText(h.dwSubsampling), h.dwVertSubsampling);
}

// What a header describes, in a few words.
std::string Describe(const Header& h) {
  std::string kind = h.biCompression == 0 ? "RGB" : h.dwSubsampling == 16 || h.dwSubsampling == 128 ? "YUV 4:4:4"
                                                                                                       : "YUV 4:2:2";
  return plat::FormatAS("%s %u bits, %d x %d, %u bytes", kind.c_str(), unsigned(h.biBitCount), h.biWidth, h.biHeight,
                        h.biSizeImage);
}

bool ParseInt(const plat::wstring& text, long long low, long long high, long long& value) {
  const std::string s = plat::Utf8(text);
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(s.c_str(), &end, 10);
  return errno == 0 && *end == 0 && value >= low && value <= high;
}

int Codecs(qz::CodecHost& host) {
  qz::Out("%s registered %zu codecs:\n", plat::Utf8(host.path()).c_str(), host.codecs().size());
  for (size_t i = 0; i < host.codecs().size(); ++i) {
    ICodec* c = host.codecs()[i].codec;
    const WCHAR *desc0 = nullptr, *desc1 = nullptr;
    DWORD aux = 0, info2 = 0, info3 = 0, info6 = 0xFFFFFFFF;
    c->GetInfo(CODEC_INFO_DESCRIPTION, &aux, &desc0);
    c->GetInfo(CODEC_INFO_DESCRIPTION2, &aux, &desc1);
    c->GetInfo(CODEC_INFO_2, &aux, &info2);
    c->GetInfo(CODEC_INFO_3, &aux, &info3);
    c->GetInfo(CODEC_INFO_6, &info6, &aux);
    const DWORD space = qz::ColorSpaceOf(c);
    const qz::CodecName& name = qz::kCodecNames[i < 6 ? i : 5];
    qz::Out("\n%zu  %-12s %-19s FourCC %s, colour space %u%s\n", i + 1, i < 6 ? name.shortName : "?",
            i < 6 ? name.className : "?", qz::FourCCText(host.codecs()[i].fourcc).c_str(), space,
            space == 0 ? " (CCIR 601)" : space == 2 ? " (ITU 709)" : "");
    qz::Out("   \"%s\"\n   \"%s\"\n", desc0 ? plat::Utf8(desc0).c_str() : "", desc1 ? plat::Utf8(desc1).c_str() : "");
    qz::Out("   version 0x%08x, capabilities 0x%x, information 2: 0x%x, 3: %u, 6: %u\n", unsigned(c->GetVersion()),
            unsigned(c->GetCapabilities()), info2, info3, info6);
  }
  return 0;
}

int Formats(qz::CodecHost& host, const qz::Args& args) {
  if (args.size() < 4 || args.size() > 5) return qz::Fail("frame", "formats takes CODEC WIDTH HEIGHT [BITS]");
  const std::string codecName = plat::Utf8(args[1]);
  const qz::CodecName* names = nullptr;
  const qz::RegisteredCodec* found = qz::FindCodec(host, codecName, &names);
  if (!found) return qz::Fail("frame", "no codec '%s' (qz frame codecs lists them)", codecName.c_str());
  long long width = 0, height = 0, bits = 32;
  if (!ParseInt(args[2], 0, 0x7FFFFFFF, width)) return qz::Fail("frame", "WIDTH must be a number from 0");
  if (!ParseInt(args[3], -0x7FFFFFFF, 0x7FFFFFFF, height)) return qz::Fail("frame", "HEIGHT must be a number");
  if (args.size() == 5 && !ParseInt(args[4], 1, 0xFFFF, bits)) return qz::Fail("frame", "BITS must be 24 or 32");

  Header rgb = {};
  rgb.biSize = 144;
  rgb.biWidth = LONG(width);
  rgb.biHeight = LONG(height);
  rgb.biPlanes = 1;
  rgb.biBitCount = WORD(bits);
  const long long stride = (width * bits / 8 + 3) / 4 * 4;
  const long long size = stride * (height < 0 ? -height : height);
  rgb.biSizeImage = size <= 0xFFFFFFFFll ? DWORD(size) : 0;

  ICodec* codec = found->codec;
  qz::FrameAllocator allocator;
  qz::CodecMessages messages;
  qz::Out("%s (%s): a %lld x %lld RGB frame of %lld bits, %s\n\n", names->className, names->shortName, width,
          height < 0 ? -height : height, bits, height < 0 ? "top-down" : "bottom-up");

  Header* stored = nullptr;
  const LONG status = codec->CompressGetFormat(&rgb, &stored, &allocator);
  qz::Out("CompressGetFormat: %s\n", Status(status).c_str());
  ShowMessages(messages, "  ", status != CODEC_OK);
  if (status != CODEC_OK) return 1;
  ShowHeader(*stored, 160, "  ");
  Header pair = *stored;
  const LONG query = codec->CompressQuery(&rgb, &pair);
  qz::Out("  CompressQuery of the RGB frame and this header: %s", Status(query).c_str());
  if (query == CODEC_OK) qz::Out(", biSizeImage %u", pair.biSizeImage);
  qz::Out("\n");
  ShowMessages(messages, "    ");

  // A codec that answers every index alike (the meshed one) is asked once.
  Header* probe = nullptr;
  const bool anyIndex = codec->DecompressGetFormat(stored, &probe, &allocator, 0xFFFFFFFF) == CODEC_OK;
  messages.Take();
  qz::Out("\nDecompressGetFormat of the stored header%s:\n", anyIndex ? " (every index gives the same)" : "");
  for (DWORD index = 0;; ++index) {
    Header* alternative = nullptr;
    const LONG got = codec->DecompressGetFormat(stored, &alternative, &allocator, index);
    if (got != CODEC_OK) {
      qz::Out("  [%u] %s\n", index, Status(got).c_str());
      ShowMessages(messages, "      ");
      if (index == 0) return 1;
      break;
    }
    qz::Out("  [%u] %s\n", index, Describe(*alternative).c_str());
    ShowHeader(*alternative, alternative->biSize >= 160 ? 160 : 144, "      ");
    qz::Out("      DecompressQuery of the stored header and this one: %s\n",
            Status(codec->DecompressQuery(stored, alternative)).c_str());
    ShowMessages(messages, "        ");
    if (anyIndex) break;
  }
  return 0;
}

// ---- encode, decode, info ----

using plat::wstring;

// The codec's messages since the last call, as one clause for an error line.
std::string Words(qz::CodecMessages& messages) {
  std::string s;
  for (std::string m : messages.Take()) {
    while (!m.empty() && (m.back() == ' ' || m.back() == '\n')) m.pop_back();
    s += (s.empty() ? "; the codec says: " : " / ") + m;
  }
  return s;
}

std::string FailureText(const qz::Failure& f, qz::CodecMessages& messages) {
  return std::string(f.operation) + " " + Status(f.status) + Words(messages);
}

Header BitmapHeader(LONG width, LONG height, WORD bits, bool alpha) {
  Header h;
  std::memset(&h, 0, sizeof h);
  h.biSize = 144;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  const long long size = qzimage::BitmapStride(width, bits) * (height < 0 ? -(long long)height : height);
  h.biSizeImage = size <= 0xFFFFFFFFll ? DWORD(size) : 0;
  h.dwAlphaMode = bits == 32 && alpha ? 0 : 1;  // 0: the fourth byte is alpha
  return h;
}

// The bytes of a header as a stored-frame file begins with them.
size_t HeaderBytes(const Header& h) { return h.biSize >= sizeof(Header) ? sizeof(Header) : sizeof(tagQZBMINFOHEADER); }

bool WriteBytes(const wstring& path, const std::string& bytes) {
  return FU_WriteFile(qz::FullPath(path).c_str(), const_cast<char*>(bytes.data()), ULONG(bytes.size()), 0) != 0;
}

// The words after the subcommand: plain arguments, and the options each takes.
struct Options {
  std::vector<wstring> plain;
  bool raw = false, half = false, yuv = false, premultiply = false, fullRange = false;
  std::string rawCodec, codec;
  long long rawWidth = 0, rawHeight = 0, bits = 0;
};

bool ParseOptions(const qz::Args& args, const char* sub, const std::vector<std::string>& allowed, Options& o,
                  bool rawTakesHeader) {
  auto allows = [&](const char* name) {
    for (const std::string& a : allowed)
      if (a == name) return true;
    return false;
  };
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string a = plat::Utf8(args[i]);
    if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
      o.plain.push_back(args[i]);
      continue;
    }
    if (!allows(a.c_str())) {
      qz::Fail("frame", "%s takes no option %s (qz frame --help)", sub, a.c_str());
      return false;
    }
    if (a == "--raw") {
      o.raw = true;
      if (!rawTakesHeader) continue;
      if (i + 3 >= args.size()) {
        qz::Fail("frame", "--raw takes CODEC WIDTH HEIGHT");
        return false;
      }
      o.rawCodec = plat::Utf8(args[i + 1]);
      if (!ParseInt(args[i + 2], 1, 0x7FFFFFFF, o.rawWidth) || !ParseInt(args[i + 3], -0x7FFFFFFF, 0x7FFFFFFF, o.rawHeight) ||
          o.rawHeight == 0) {
        qz::Fail("frame", "--raw takes CODEC WIDTH HEIGHT (numbers: WIDTH from 1, HEIGHT not 0)");
        return false;
      }
      i += 3;
    } else if (a == "--half") {
      o.half = true;
    } else if (a == "--yuv") {
      o.yuv = true;
    } else if (a == "--premultiply") {
      o.premultiply = true;
    } else if (a == "--full-range") {
      o.fullRange = true;
    } else if (a == "--codec" || a == "--bits") {
      if (i + 1 >= args.size()) {
        qz::Fail("frame", "%s takes a value", a.c_str());
        return false;
      }
      if (a == "--codec") {
        o.codec = plat::Utf8(args[++i]);
      } else if (!ParseInt(args[++i], 24, 32, o.bits) || (o.bits != 24 && o.bits != 32)) {
        qz::Fail("frame", "--bits is 24 or 32");
        return false;
      }
    }
  }
  return true;
}

const qz::RegisteredCodec* PickCodec(qz::CodecHost& host, const std::string& name, const qz::CodecName** names) {
  const qz::RegisteredCodec* found = qz::FindCodec(host, name, names);
  if (!found) qz::Fail("frame", "no codec '%s' (qz frame codecs lists them)", name.c_str());
  return found;
}

int Encode(qz::CodecHost& host, const qz::Args& args) {
  Options o;
  if (!ParseOptions(args, "encode", {"--raw", "--bits", "--premultiply", "--full-range"}, o, false)) return 1;
  if (o.plain.size() != 3) return qz::Fail("frame", "encode takes CODEC IMAGE OUT");
  const qz::CodecName* names = nullptr;
  const qz::RegisteredCodec* found = PickCodec(host, plat::Utf8(o.plain[0]), &names);
  if (!found) return 1;
  const std::string imagePath = plat::Utf8(o.plain[1]);
  std::string bytes, why;
  if (!qz::ReadWholeFile(o.plain[1], bytes, why)) return qz::Fail("frame", "%s: %s", imagePath.c_str(), why.c_str());
  qzimage::Image image;
  if (!qzimage::Decode(bytes, image, why)) return qz::Fail("frame", "%s: %s", imagePath.c_str(), why.c_str());

  const WORD bits = WORD(o.bits ? o.bits : image.channels == 4 ? 32 : 24);
  const Header rgb = BitmapHeader(image.width, image.height, bits, image.channels == 4);
  const std::vector<uint8_t> pixels = qzimage::ToBitmap(image, bits);
  ICodec* codec = found->codec;
  qz::FrameAllocator allocator;
  qz::CodecMessages messages;
  Header stored;
  qz::Failure failure;
  if (!qz::StoredFormat(codec, rgb, allocator, stored, failure))
    return qz::Fail("frame", "%s does not take a %d x %d picture of %u bits: %s", names->shortName, image.width,
                    image.height, unsigned(bits), FailureText(failure, messages).c_str());
  messages.Take();
  DWORD flags = (o.premultiply ? DWORD(CODEC_FLAG_PREMULTIPLY) : 0u) | (o.fullRange ? DWORD(CODEC_FLAG_NOLIMIT) : 0u);
  const BYTE* frame = nullptr;
  size_t size = 0;
  if (!qz::EncodeFrame(codec, rgb, pixels.data(), stored, flags, allocator, frame, size, failure))
    return qz::Fail("frame", "%s cannot encode %s: %s", names->shortName, imagePath.c_str(),
                    FailureText(failure, messages).c_str());

  std::string file;
  if (!o.raw) file.assign(reinterpret_cast<const char*>(&stored), HeaderBytes(stored));
  file.append(reinterpret_cast<const char*>(frame), stored.biSizeImage);
  const std::string out = plat::Utf8(o.plain[2]);
  if (!WriteBytes(o.plain[2], file)) return qz::Fail("frame", "cannot write %s", out.c_str());
  qz::Out("%s (%s): %s, a %d x %d picture as %u-bit RGB%s\n", names->shortName, names->className, imagePath.c_str(),
          image.width, image.height, unsigned(bits), rgb.dwAlphaMode == 0 ? " with alpha" : "");
  qz::Out("  stored as %s%s\n", Describe(stored).c_str(), FlagText(stored.dwFormatFlag).c_str());
  if (o.raw) {
    qz::Out("wrote %s: the %u bytes of the frame alone (read back with --raw %s %d %d)\n", out.c_str(),
            stored.biSizeImage, names->shortName, image.width, image.height);
    if (stored.biCompression == FOURCC_UYVY)
      qz::Out("  a plain uyvy422 frame of %dx%d, top line first, rows of %u bytes\n", image.width, image.height,
              image.height ? stored.biSizeImage / unsigned(image.height) : 0u);
  } else {
    qz::Out("wrote %s: the %zu-byte header and the %u-byte frame\n", out.c_str(), HeaderBytes(stored),
            stored.biSizeImage);
  }
  return 0;
}

// A stored frame read from a file: its header, and exactly the frame's bytes.
struct StoredFile {
  Header header;
  std::vector<BYTE> frame;
  size_t fileBytes = 0, headerBytes = 0, frameBytes = 0;  // frameBytes: what the file holds after the header
  bool sizeFromFile = false;                               // biSizeImage was 0: the file's bytes are the frame
};

bool LoadStored(qz::CodecHost& host, const wstring& path, const Options& o, qz::FrameAllocator& allocator,
                qz::CodecMessages& messages, StoredFile& s) {
  const std::string name = plat::Utf8(path);
  std::string bytes, why;
  if (!qz::ReadWholeFile(path, bytes, why)) {
    qz::Fail("frame", "%s: %s", name.c_str(), why.c_str());
    return false;
  }
  s.fileBytes = bytes.size();
  std::memset(&s.header, 0, sizeof s.header);
  if (o.raw) {
    const qz::CodecName* names = nullptr;
    const qz::RegisteredCodec* found = PickCodec(host, o.rawCodec, &names);
    if (!found) return false;
    qz::Failure failure;
    if (!qz::StoredFormat(found->codec, BitmapHeader(LONG(o.rawWidth), LONG(o.rawHeight), 32, false), allocator,
                          s.header, failure)) {
      qz::Fail("frame", "%s offers no header for a %lld x %lld picture: %s", names->shortName, o.rawWidth,
               o.rawHeight, FailureText(failure, messages).c_str());
      return false;
    }
    messages.Take();
    s.headerBytes = 0;
  } else {
    if (bytes.size() < sizeof(tagQZBMINFOHEADER)) {
      qz::Fail("frame", "%s: %zu bytes are too few for a frame header (144 or more)", name.c_str(), bytes.size());
      return false;
    }
    DWORD biSize = 0;
    std::memcpy(&biSize, bytes.data(), 4);
    if (biSize < sizeof(tagQZBMINFOHEADER) || biSize > bytes.size()) {
      qz::Fail("frame", "%s: not a stored frame (its header says it is %u bytes long%s)", name.c_str(), biSize,
               biSize > bytes.size() ? ", more than the file" : "; frame headers have 144 or more");
      return false;
    }
    std::memcpy(&s.header, bytes.data(), biSize >= sizeof(Header) ? sizeof(Header) : sizeof(tagQZBMINFOHEADER));
    s.headerBytes = biSize;
  }
  s.frameBytes = bytes.size() - s.headerBytes;
  if (s.header.biSizeImage == 0) {
    // Files are read up to 1 GiB: the rest always fits the header's size field.
    s.header.biSizeImage = DWORD(s.frameBytes);
    s.sizeFromFile = true;
  }
  if (s.header.biSizeImage > s.frameBytes) {
    qz::Fail("frame", "%s: the frame is cut short: %zu bytes where its header gives %u", name.c_str(), s.frameBytes,
             s.header.biSizeImage);
    return false;
  }
  // Exactly the frame's bytes, so that a read past them is one past a block.
  s.frame.assign(bytes.begin() + std::ptrdiff_t(s.headerBytes),
                 bytes.begin() + std::ptrdiff_t(s.headerBytes + s.header.biSizeImage));
  return true;
}

// The codec that decodes the stored frame: the one named, else the first to take it.
const qz::RegisteredCodec* Decoder(qz::CodecHost& host, const Header& stored, const std::string& wanted,
                                   const qz::CodecName** names) {
  if (!wanted.empty()) return PickCodec(host, wanted, names);
  const int i = qz::FindDecoder(host, stored);
  if (i < 0) {
    qz::Fail("frame", "no codec takes this frame (%s)", Describe(stored).c_str());
    return nullptr;
  }
  *names = &qz::kCodecNames[i < 6 ? i : 5];
  return &host.codecs()[size_t(i)];
}

int Decode(qz::CodecHost& host, const qz::Args& args) {
  Options o;
  if (!ParseOptions(args, "decode", {"--raw", "--half", "--yuv", "--codec"}, o, true)) return 1;
  if (o.plain.size() != 2) return qz::Fail("frame", "decode takes FRAME IMAGE");
  if (o.half && o.yuv) return qz::Fail("frame", "--half and --yuv do not go together: the preview is RGB");
  const std::string framePath = plat::Utf8(o.plain[0]), imagePath = plat::Utf8(o.plain[1]);
  const qzimage::Kind kind = qzimage::KindOf(imagePath);
  if (kind == qzimage::Kind::kNone) return qz::Fail("frame", "IMAGE must end in .png or .bmp");
  qz::FrameAllocator allocator;
  qz::CodecMessages messages;
  StoredFile s;
  if (!LoadStored(host, o.plain[0], o, allocator, messages, s)) return 1;
  const qz::CodecName* names = nullptr;
  const qz::RegisteredCodec* found = Decoder(host, s.header, o.codec.empty() ? o.rawCodec : o.codec, &names);
  if (!found) return 1;
  messages.Take();
  ICodec* codec = found->codec;
  Header output;
  qz::Failure failure;
  if (!qz::DecodeFormat(codec, s.header, o.yuv, allocator, output, failure))
    return qz::Fail("frame", "%s offers no %s output for this frame: %s", names->shortName,
                    o.yuv ? "4:4:4 YUV" : "RGB", FailureText(failure, messages).c_str());
  messages.Take();
  const LONG fullWidth = output.biWidth;
  const DWORD flags = o.half ? DWORD(CODEC_FLAG_HALF) : 0u;
  const BYTE* result = nullptr;
  size_t size = 0;
  if (!qz::DecodeFrame(codec, s.header, s.frame.data(), output, flags, allocator, result, size, failure))
    return qz::Fail("frame", "%s cannot decode %s: %s", names->shortName, framePath.c_str(),
                    FailureText(failure, messages).c_str());
  // Alpha goes into the picture only when some pixel is not opaque.
  qzimage::Image image;
  if (!qzimage::FromBitmap(result, size, output.biWidth, output.biHeight, output.biBitCount, o.yuv, true, image))
    return qz::Fail("frame", "%s gave a frame that its header does not describe (%s in %zu bytes)", names->shortName,
                    Describe(output).c_str(), size);
  if (image.channels == 4) {
    bool opaque = true;
    for (size_t i = 3; i < image.pixels.size() && opaque; i += 4) opaque = image.pixels[i] == 255;
    if (opaque) qzimage::FromBitmap(result, size, output.biWidth, output.biHeight, output.biBitCount, o.yuv, false, image);
  }
  std::string bytes;
  if (!qzimage::Encode(image, kind, bytes)) return qz::Fail("frame", "cannot make the picture %s", imagePath.c_str());
  if (!WriteBytes(o.plain[1], bytes)) return qz::Fail("frame", "cannot write %s", imagePath.c_str());
  qz::Out("%s (%s) decodes %s (%s) to %s\n", names->shortName, names->className, framePath.c_str(),
          Describe(s.header).c_str(), Describe(output).c_str());
  if (o.half && output.biWidth == fullWidth)
    qz::Out("  (this codec has no half-size preview: the picture is full size)\n");
  qz::Out("wrote %s: %d x %d, %s%s\n", imagePath.c_str(), image.width, image.height,
          o.yuv ? "Y, Cb, Cr as red, green, blue" : "RGB", image.channels == 4 ? " and alpha" : "");
  return 0;
}

// The layout a stored header describes, in words.
void ShowLayout(const Header& h) {
  const LONG rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const DWORD align = h.dwRowAlign ? h.dwRowAlign : 4;
  const bool twoFields = (h.dwFormatFlag & 1) != 0;
  auto padded = [&](long long row) { return (row + align - 1) / align * align; };
  if (h.biCompression == 0) {
    qz::Out("layout: RGB, %u bits per pixel, %s, rows of %lld bytes\n", unsigned(h.biBitCount),
            h.biHeight < 0 ? "top line first" : "bottom line first", (long long)qzimage::BitmapStride(h.biWidth, h.biBitCount));
    return;
  }
  if (h.biCompression == FOURCC_UYVY) {
    qz::Out("layout: UYVY 4:2:2, groups of Cb Y0 Cr Y1, %s, one field, rows of %lld bytes\n",
            h.biHeight < 0 ? "bottom line first" : "top line first", padded(2ll * h.biWidth));
    return;
  }
  if (h.biCompression != FOURCC_YUV) {
    qz::Out("layout: unknown (biCompression %s)\n", qz::FourCCText(h.biCompression).c_str());
    return;
  }
  switch (h.dwSubsampling) {
    case 0: {
      const long long y = (h.biWidth + 63LL) / 64 * 64, c = (h.biWidth / 2 + 63LL) / 64 * 64;
      qz::Out("layout: planar 4:2:2, two fields (field 1 at byte %u), %s, each field %ld rows of Y (%lld bytes), Cb and "
              "Cr (%lld bytes)%s\n",
              h.biSizeImage / 2, h.biHeight < 0 ? "bottom line first" : "top line first", long(rows / 2), y, c,
              h.biBitCount == 32 ? " and alpha (as Y)" : "");
      return;
    }
    case 16:
    case 128:
      qz::Out("layout: meshed 4:4:4, pixels of %s, %s, %s, rows of %lld bytes\n",
              h.dwSubsampling == 16 ? (h.biBitCount == 32 ? "Y Cb Cr A" : "Y Cb Cr")
                                    : (h.biBitCount == 32 ? "A Cr Cb Y" : "Cr Cb Y"),
              h.biHeight < 0 ? "top line first" : "bottom line first",
              twoFields ? "two fields" : "one field", padded((long long)h.biWidth * h.biBitCount / 8));
      return;
    case 512: {
      const long long row = 2ll * h.biWidth;
      const long long pitch = (long long)align >= row ? (long long)align : padded(row);
      const int fields = twoFields ? 2 : 1;
      std::string blank;
      if (h.biHeight == 512)
        blank = fields == 2 ? ", 14 and 13 blank rows before the fields' 242 and 243 picture rows"
                            : ", 27 blank rows before 242 picture rows";
      else if (h.biHeight == 608)
        blank = fields == 2 ? ", 16 blank rows before each field's 288 picture rows" : ", 32 blank rows before 288 picture rows";
      qz::Out("layout: packed 4:2:2, groups of Cb Y0 Cr Y1, %s, %s%s, rows %lld bytes apart%s\n",
              h.biHeight < 0 ? "bottom line first" : "top line first",
              fields == 2 ? "two fields" : "one field",
              fields == 2 ? plat::FormatAS(" (field 1 at byte %u)", h.biSizeImage / 2).c_str() : "", pitch,
              blank.c_str());
      return;
    }
    default:
      qz::Out("layout: unknown (dwSubsampling %u)\n", h.dwSubsampling);
  }
}

int Info(qz::CodecHost& host, const qz::Args& args) {
  Options o;
  if (!ParseOptions(args, "info", {"--raw"}, o, true)) return 1;
  if (o.plain.size() != 1) return qz::Fail("frame", "info takes FRAME");
  qz::FrameAllocator allocator;
  qz::CodecMessages messages;
  StoredFile s;
  if (!LoadStored(host, o.plain[0], o, allocator, messages, s)) return 1;
  const std::string name = plat::Utf8(o.plain[0]);
  if (o.raw)
    qz::Out("%s: %zu bytes, a bare frame; the header %s offers for %lld x %lld:\n", name.c_str(), s.fileBytes,
            o.rawCodec.c_str(), o.rawWidth, o.rawHeight);
  else
    qz::Out("%s: %zu bytes, a %zu-byte header and %zu bytes of frame\n", name.c_str(), s.fileBytes, s.headerBytes,
            s.frameBytes);
  ShowHeader(s.header, s.header.biSize >= 160 ? 160 : 144, "  ");
  ShowLayout(s.header);
  if (s.sizeFromFile)
    qz::Out("size: the header gives none (biSizeImage 0): the %zu bytes after it are the frame\n", s.frameBytes);
  else if (s.frameBytes > s.header.biSizeImage)
    qz::Out("size: %u bytes, and %zu more after the frame that are not part of it\n", s.header.biSizeImage,
            s.frameBytes - s.header.biSizeImage);
  else
    qz::Out("size: %u bytes, the frame whole\n", s.header.biSizeImage);
  const int i = qz::FindDecoder(host, s.header);
  messages.Take();
  if (i < 0) {
    qz::Out("no codec takes it\n");
    return 1;
  }
  const qz::CodecName& n = qz::kCodecNames[i < 6 ? i : 5];
  ICodec* codec = host.codecs()[size_t(i)].codec;
  qz::Out("taken by %d %s (%s), which decodes it to:\n", i + 1, n.shortName, n.className);
  Header* probe = nullptr;
  const bool anyIndex = codec->DecompressGetFormat(&s.header, &probe, &allocator, 0xFFFFFFFF) == CODEC_OK;
  for (DWORD index = 0; index < 16; ++index) {
    Header* alternative = nullptr;
    if (codec->DecompressGetFormat(&s.header, &alternative, &allocator, index) != CODEC_OK) break;
    const Header h = qz::CopyHeader(allocator, alternative);
    qz::Out("  [%u] %s%s\n", index, Describe(h).c_str(),
            codec->DecompressQuery(&s.header, &h) == CODEC_OK ? "" : " (a description only: its query refuses it)");
    if (anyIndex) break;
  }
  messages.Take();
  return 0;
}

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("frame", "what to show? (qz frame --help)");
  const std::string sub = plat::Utf8(args[0]);
  if (sub != "codecs" && sub != "formats" && sub != "encode" && sub != "decode" && sub != "info")
    return qz::Fail("frame", "unknown subcommand %s (qz frame --help)", sub.c_str());
  if (sub == "codecs" && args.size() != 1) return qz::Fail("frame", "codecs takes no arguments");
  qz::CodecHost host;
  std::string why;
  if (!host.Load(why)) return qz::Fail("frame", "%s", why.c_str());
  if (sub == "codecs") return Codecs(host);
  if (sub == "formats") return Formats(host, args);
  if (sub == "encode") return Encode(host, args);
  if (sub == "decode") return Decode(host, args);
  return Info(host, args);
}

const qz::Register reg({"frame", "the codecs, the formats they negotiate, pictures to stored frames and back", kUsage, Run});

}  // namespace
