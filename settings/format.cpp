// Names, their hash, record headers and the scan rule of the settings file.
#include "settings/format.h"

#include <array>
#include <cstring>

namespace pellam {
namespace format {
namespace {

// The CRC tables, built by the compiler: ready before any code of the library runs.
template <unsigned Width, uint32_t Poly>
constexpr std::array<uint32_t, 256> CrcTable() {
  std::array<uint32_t, 256> t{};
  const uint32_t top = 1u << (Width - 1), mask = (1u << Width) - 1;
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i << (Width - 8);
    for (int bit = 0; bit < 8; ++bit) v = (v & top) ? (v << 1) ^ Poly : v << 1;
    t[i] = v & mask;
  }
  return t;
}

constexpr std::array<uint32_t, 256> kCrc16 = CrcTable<16, 0x1021>();
constexpr std::array<uint32_t, 256> kCrc10 = CrcTable<10, 0x083>();

DWORD Get32(const Byte* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

void Put32(Byte* p, DWORD v) {
  p[0] = Byte(v);
  p[1] = Byte(v >> 8);
  p[2] = Byte(v >> 16);
  p[3] = Byte(v >> 24);
}

}  // namespace

FileKind ClassifyFile(const Byte* file, size_t size) {
  if (size == 0) return FileKind::kEmpty;
  if (size < kMagicSize || std::memcmp(file, kMagic, kMagicSize) != 0) return FileKind::kForeign;
  return FileKind::kStore;
}

DWORD HashName(const char* bytes, size_t length) {
  uint32_t crc16 = 0, crc10 = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint32_t b = static_cast<Byte>(bytes[i]);
    crc16 = ((crc16 << 8) ^ kCrc16[((crc16 >> 8) & 0xFF) ^ b]) & 0xFFFF;
    crc10 = ((crc10 << 8) ^ kCrc10[((crc10 >> 2) & 0xFF) ^ b]) & 0x3FF;
  }
  return DWORD(crc16 << 16 | crc10);
}

bool Normalize(const char* raw, Name& out) {
  if (!raw || !*raw) return false;
  size_t n = std::strlen(raw);
  // The record size (header, name, zero byte, at least one value byte) must fit 32 bits.
  if (n > 0xFFFFFFFFu - kHeaderSize - 2) return false;
  out.text.assign(raw, n);
  for (char& c : out.text) c = plat::AUpper(c);
  out.hash = HashName(out.text.data(), n);
  return true;
}

void PutHeader(Byte* at, const Header& h) {
  Put32(at, h.hash);
  Put32(at + 4, h.size);
  Put32(at + 8, h.tag);
  Put32(at + 12, h.nameLength);
}

Header GetHeader(const Byte* at) {
  Header h;
  h.hash = Get32(at);
  h.size = Get32(at + 4);
  h.tag = Get32(at + 8);
  h.nameLength = Get32(at + 12);
  return h;
}

bool Matches(const Record& r, const Name& name, DWORD tag) {
  return r.header.hash == name.hash && r.header.tag == tag && r.header.nameLength == name.length() &&
         std::memcmp(r.name, name.text.c_str(), name.length()) == 0;
}

Step NextRecord(const Byte* content, size_t regionEnd, size_t pos, Record& out) {
  if (pos >= regionEnd || regionEnd - pos <= kHeaderSize) return Step::kEnd;
  const Header h = GetHeader(content + pos);
  const size_t room = regionEnd - pos;
  // Size 0 is the corruption a torn write leaves; a record that overruns its
  // region, or a name that overruns its record or lacks its zero byte, would
  // send the reader outside the block.
  if (h.size < kHeaderSize || h.size > room) return Step::kCorrupt;
  if (h.nameLength == 0 || h.nameLength > h.size - kHeaderSize) return Step::kCorrupt;
  if (content[pos + kHeaderSize + h.nameLength - 1] != 0) return Step::kCorrupt;
  out.offset = pos;
  out.header = h;
  out.name = reinterpret_cast<const char*>(content + pos + kHeaderSize);
  out.body = content + pos + kHeaderSize + h.nameLength;
  out.bodySize = h.size - kHeaderSize - h.nameLength;
  return Step::kRecord;
}

Result FindSection(const Byte* content, size_t length, const Name& section, Record& out) {
  Walk w = WalkSections(content, length, [&](const Record& r) {
    if (!Matches(r, section, CSetFile::kSection)) return true;
    out = r;
    return false;
  });
  return w == Walk::kStopped ? Result::kOk : w == Walk::kCorrupt ? Result::kCorrupt : Result::kNotFound;
}

Result FindSetting(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag,
                   Record& out) {
  Record sec;
  Result found = FindSection(content, length, section, sec);
  if (found != Result::kOk) return found;
  // Section names are unique: the search ends with the first section of the name.
  Walk w = WalkSettings(content, sec, [&](const Record& r) {
    if (!Matches(r, setting, tag)) return true;
    out = r;
    return false;
  });
  return w == Walk::kStopped ? Result::kOk : w == Walk::kCorrupt ? Result::kCorrupt : Result::kNotFound;
}

}  // namespace format
}  // namespace pellam
