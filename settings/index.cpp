// The lookup table over a content block.
#include "settings/index.h"

#include <cstring>

namespace pellam {
namespace format {
namespace {

uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

size_t TableSize(size_t count) {
  size_t n = 16;
  while (n < count * 2) n *= 2;
  return n;
}

// The record at `offset`, which the walk that built the table found sound.
Record At(const Byte* content, size_t offset) {
  Record r;
  r.offset = offset;
  r.header = GetHeader(content + offset);
  r.name = reinterpret_cast<const char*>(content + offset + kHeaderSize);
  r.body = content + offset + kHeaderSize + r.header.nameLength;
  r.bodySize = r.header.size - kHeaderSize - r.header.nameLength;
  return r;
}

bool SameName(const Byte* content, uint32_t offset, DWORD hash, DWORD nameLength, const char* name) {
  const Header h = GetHeader(content + offset);
  return h.hash == hash && h.nameLength == nameLength &&
         std::memcmp(content + offset + kHeaderSize, name, nameLength) == 0;
}

}  // namespace

uint32_t Index::Key(DWORD sectionHash, DWORD settingHash, DWORD tag) {
  return Mix(sectionHash * 0x9E3779B1u ^ Mix(settingHash ^ tag * 0x27D4EB2Fu));
}

int Index::SectionSlot(const Byte* content, DWORD hash, DWORD nameLength, const char* name) const {
  const size_t mask = sectionTable_.size() - 1;
  for (size_t i = Mix(hash) & mask;; i = (i + 1) & mask) {
    const int32_t s = sectionTable_[i].section;
    if (s < 0 || SameName(content, sections_[s].offset, hash, nameLength, name)) return int(i);
  }
}

bool Index::Build(const Byte* content, size_t length) noexcept {
  try {
    sections_.clear();
    slots_.clear();
    corrupt_ = false;
    // First the sections (the first of each name), counting the settings.
    size_t settings = 0;
    std::vector<Section> all;
    const Walk w = WalkSections(content, length, [&](const Record& r) {
      if (r.header.tag != CSetFile::kSection) return true;
      all.push_back({uint32_t(r.offset), uint32_t(r.end()), false});
      return true;
    });
    corrupt_ = w == Walk::kCorrupt;
    sectionTable_.assign(TableSize(all.size()), Bucket{-1});
    for (const Section& s : all) {
      const Record r = At(content, s.offset);
      const int slot = SectionSlot(content, r.header.hash, r.header.nameLength, r.name);
      if (sectionTable_[slot].section >= 0) continue;  // a later section of a name is never searched
      sectionTable_[slot].section = int32_t(sections_.size());
      sections_.push_back(s);
      settings += (s.end - s.offset) / (kHeaderSize + 3);
    }
    // Then their settings: the first of each name and type.
    slots_.assign(TableSize(settings), Slot{0, 0, 0});
    const size_t mask = slots_.size() - 1;
    for (size_t si = 0; si < sections_.size(); ++si) {
      Section& s = sections_[si];
      const Record sec = At(content, s.offset);
      const Walk inner = WalkSettings(content, sec, [&](const Record& r) {
        const uint32_t key = Key(sec.header.hash, r.header.hash, r.header.tag);
        for (size_t i = key & mask;; i = (i + 1) & mask) {
          Slot& slot = slots_[i];
          if (slot.section == 0) {
            slot = {key, uint32_t(si + 1), uint32_t(r.offset)};
            break;
          }
          if (slot.key == key && slot.section == si + 1) {
            const Header h = GetHeader(content + slot.offset);
            if (h.tag == r.header.tag && SameName(content, slot.offset, r.header.hash, r.header.nameLength, r.name))
              break;  // the first of the name is the one found
          }
        }
        return true;  // never full: a setting record takes 19 bytes at least, so the count above bounds them
      });
      s.corrupt = inner == Walk::kCorrupt;
    }
    return true;
  } catch (...) {
    sections_.clear();
    sectionTable_.clear();
    slots_.clear();
    return false;
  }
}

Result Index::FindSection(const Byte* content, const Name& section, Record& out) const {
  if (sectionTable_.empty()) return corrupt_ ? Result::kCorrupt : Result::kNotFound;
  const int slot = SectionSlot(content, section.hash, section.length(), section.text.c_str());
  const int32_t s = sectionTable_[slot].section;
  if (s < 0) return corrupt_ ? Result::kCorrupt : Result::kNotFound;
  out = At(content, sections_[s].offset);
  return Result::kOk;
}

Result Index::FindSetting(const Byte* content, const Name& section, const Name& setting, DWORD tag,
                          Record& out) const {
  if (!slots_.empty()) {
    const uint32_t key = Key(section.hash, setting.hash, tag);
    const size_t mask = slots_.size() - 1;
    for (size_t i = key & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.section == 0) break;
      if (slot.key != key) continue;
      const Header h = GetHeader(content + slot.offset);
      if (h.tag == tag && SameName(content, slot.offset, setting.hash, setting.length(), setting.text.c_str()) &&
          SameName(content, sections_[slot.section - 1].offset, section.hash, section.length(),
                   section.text.c_str())) {
        out = At(content, slot.offset);
        return Result::kOk;
      }
    }
  }
  Record sec;
  const Result r = FindSection(content, section, sec);
  if (r != Result::kOk) return r;
  const int32_t s = sectionTable_[SectionSlot(content, section.hash, section.length(), section.text.c_str())].section;
  return sections_[s].corrupt ? Result::kCorrupt : Result::kNotFound;
}

}  // namespace format
}  // namespace pellam
