// The edits of the settings content: each is planned by walking the current
// block and applied into a new one, so a failure leaves the old block as it was.
#include <cstring>

#include "settings/format.h"

namespace pellam {
namespace format {
namespace {

// Content longer than this would not fit a file whose size is 32-bit.
constexpr uint64_t kMaxContent = 0xFFFFFFFFu - kMagicSize;

Edit Failed(Result r) {
  Edit e;
  e.result = r;
  return e;
}

Result Outcome(Walk w) { return w == Walk::kCorrupt ? Result::kCorrupt : Result::kNotFound; }

// Completes a splice plan: checks the sizes and computes the new length.
Edit& Splice(Edit& e) {
  const uint64_t newLength = uint64_t(e.length) - e.cut + e.inserted();
  if (newLength > kMaxContent) {
    e = Failed(Result::kTooLarge);
    return e;
  }
  e.kind = Edit::kSplice;
  e.result = Result::kOk;
  e.newLength = size_t(newLength);
  return e;
}

// Removes a whole record (a section at the top level).
Edit& RemoveSection(Edit& e, const Record& section) {
  e.at = section.offset;
  e.cut = section.header.size;
  // Nothing but a stray tail of at most 16 bytes would remain (a walk reads
  // no record there): the content becomes empty.
  if (e.length - e.cut <= kHeaderSize) {
    e.at = 0;
    e.cut = e.length;
  }
  return Splice(e);
}

Edit Start(const Byte* content, size_t length) {
  Edit e;
  e.content = content;
  e.length = length;
  return e;
}

}  // namespace

size_t Edit::inserted() const {
  size_t n = 0;
  if (insertSetting) n += kHeaderSize + settingName->length() + valueSize;
  if (newSection) n += kHeaderSize + sectionName->length();
  return n;
}

size_t Edit::firstChange() const {
  // A splice changes the size field of its section (4 bytes into the record) and everything from `at` on.
  if (kind == kSplice && section != std::string::npos && section + 4 < at) return section + 4;
  return at;
}

Edit PlanWrite(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag,
               const void* value, DWORD valueSize) {
  if (!value || valueSize == 0 || tag == CSetFile::kSection) return Failed(Result::kBadArgument);
  const uint64_t recordSize = uint64_t(kHeaderSize) + setting.length() + valueSize;
  if (recordSize > 0xFFFFFFFFu) return Failed(Result::kTooLarge);

  Edit e = Start(content, length);
  e.sectionName = &section;
  e.settingName = &setting;
  e.tag = tag;
  e.value = value;
  e.valueSize = valueSize;
  e.insertSetting = true;

  Record sec;
  size_t endOfSections = 0;
  Walk w = WalkSections(
      content, length,
      [&](const Record& r) {
        if (!Matches(r, section, CSetFile::kSection)) return true;
        sec = r;
        return false;
      },
      &endOfSections);
  if (w == Walk::kCorrupt) return Failed(Result::kCorrupt);

  if (w == Walk::kDone) {
    // A new section after the last one.
    const uint64_t sectionSize = uint64_t(kHeaderSize) + section.length() + recordSize;
    if (sectionSize > 0xFFFFFFFFu) return Failed(Result::kTooLarge);
    e.newSection = true;
    e.at = endOfSections;
    return Splice(e);
  }

  Record old;
  size_t endOfSettings = 0;
  w = WalkSettings(
      content, sec,
      [&](const Record& r) {
        if (!Matches(r, setting, tag)) return true;
        old = r;
        return false;
      },
      &endOfSettings);
  if (w == Walk::kCorrupt) return Failed(Result::kCorrupt);

  if (w == Walk::kStopped && old.header.size == recordSize) {
    e.kind = Edit::kOverwrite;
    e.result = Result::kOk;
    e.insertSetting = false;
    e.at = size_t(old.body - content);
    e.newLength = length;
    return e;
  }

  uint64_t sectionSize = sec.header.size + recordSize;
  if (w == Walk::kStopped) {
    // Replaced where it stands.
    e.at = old.offset;
    e.cut = old.header.size;
    sectionSize -= old.header.size;
  } else {
    // Appended after the last setting of the section.
    e.at = endOfSettings;
  }
  if (sectionSize > 0xFFFFFFFFu) return Failed(Result::kTooLarge);
  e.section = sec.offset;
  e.sectionSize = DWORD(sectionSize);
  return Splice(e);
}

Edit PlanDeleteSetting(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag) {
  Edit e = Start(content, length);
  Record sec, old;
  bool found = false, corrupt = false;
  Walk w = WalkSections(content, length, [&](const Record& r) {
    if (!Matches(r, section, CSetFile::kSection)) return true;
    Walk inner = WalkSettings(content, r, [&](const Record& s) {
      if (!Matches(s, setting, tag)) return true;
      old = s;
      return false;
    });
    if (inner == Walk::kCorrupt) {
      corrupt = true;
      return false;
    }
    if (inner == Walk::kStopped) {
      sec = r;
      found = true;
      return false;
    }
    return true;  // not in this section: go on with the following ones
  });
  if (corrupt) return Failed(Result::kCorrupt);
  if (!found) return Failed(Outcome(w));

  // Other settings remain when the walk of the section would visit another record.
  const bool othersBefore = old.offset != SettingsBegin(sec);
  const bool othersAfter = sec.end() - old.end() > kHeaderSize;
  if (!othersBefore && !othersAfter) return RemoveSection(e, sec);
  e.at = old.offset;
  e.cut = old.header.size;
  e.section = sec.offset;
  e.sectionSize = sec.header.size - old.header.size;
  return Splice(e);
}

Edit PlanDeleteSection(const Byte* content, size_t length, const Name& section) {
  Edit e = Start(content, length);
  Record sec;
  Result r = FindSection(content, length, section, sec);
  if (r != Result::kOk) return Failed(r);
  return RemoveSection(e, sec);
}

void Apply(const Edit& e, Byte* out) {
  if (e.kind == Edit::kNothing) return;
  if (e.kind == Edit::kOverwrite) {
    if (out != e.content) std::memcpy(out, e.content, e.length);
    std::memcpy(out + e.at, e.value, e.valueSize);
    return;
  }
  if (e.at) std::memcpy(out, e.content, e.at);
  Byte* p = out + e.at;
  if (e.newSection) {
    const DWORD nameLength = e.sectionName->length();
    const DWORD size = DWORD(kHeaderSize + nameLength + kHeaderSize + e.settingName->length() + e.valueSize);
    PutHeader(p, {e.sectionName->hash, size, CSetFile::kSection, nameLength});
    std::memcpy(p + kHeaderSize, e.sectionName->text.c_str(), nameLength);
    p += kHeaderSize + nameLength;
  }
  if (e.insertSetting) {
    const DWORD nameLength = e.settingName->length();
    const DWORD size = DWORD(kHeaderSize + nameLength + e.valueSize);
    PutHeader(p, {e.settingName->hash, size, e.tag, nameLength});
    std::memcpy(p + kHeaderSize, e.settingName->text.c_str(), nameLength);
    std::memcpy(p + kHeaderSize + nameLength, e.value, e.valueSize);
    p += size;
  }
  const size_t rest = e.length - e.at - e.cut;
  if (rest) std::memcpy(p, e.content + e.at + e.cut, rest);
  if (e.section != std::string::npos) {
    Header h = GetHeader(out + e.section);
    h.size = e.sectionSize;
    PutHeader(out + e.section, h);
  }
}

}  // namespace format
}  // namespace pellam
