// qz frame: the codec plug-in as a host sees it. `codecs` lists what
// EnumerateCodecs registers; `formats` shows what a codec offers for an RGB
// frame of a given size: its stored header, and each decoder alternative of
// that header, or the refusal and the codec's own words.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "codec_host.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz frame codecs\n"
    "       qz frame formats CODEC WIDTH HEIGHT [BITS]\n"
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
    "\n"
    "CODEC is a name from `qz frame codecs` (planar, meshed, packed, packed-extd,\n"
    "uyvy, packed-709), a class name, or a position from 1.\n"
    "Exit status 1 when the codec refuses the frame.\n";

using Header = YUVBMINFOHEADER;

std::string Status(LONG status) {
  switch (status) {
    case CODEC_OK: return "accepted";
    case CODEC_E_FORMAT: return "refused (0x80000001, format not accepted)";
    case CODEC_E_NOHEADER: return "failed (0x80000002, no memory for the header)";
    case CODEC_E_UNEXPECTED: return "failed (0x8000FFFF, a fault was caught)";
    default: return plat::FormatAS("failed (0x%08x)", unsigned(status));
  }
}

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

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("frame", "what to show? (qz frame --help)");
  const bool codecs = args[0] == TEXT("codecs"), formats = args[0] == TEXT("formats");
  if (!codecs && !formats)
    return qz::Fail("frame", "unknown subcommand %s (qz frame --help)", plat::Utf8(args[0]).c_str());
  if (codecs && args.size() != 1) return qz::Fail("frame", "codecs takes no arguments");
  qz::CodecHost host;
  std::string why;
  if (!host.Load(why)) return qz::Fail("frame", "%s", why.c_str());
  return codecs ? Codecs(host) : Formats(host, args);
}

const qz::Register reg({"frame", "list the codecs and the frame formats they negotiate", kUsage, Run});

}  // namespace
