// The settings file's bytes: names and their hash, record headers, the walks
// over a content block and the edits that build a new one. Pure functions over
// memory; no file, lock or allocation policy of the store lives here.
//
// A file is the magic "QZST" followed by the content: section records back to
// back. A record is a 16-byte header (name hash, record size, type tag, name
// length counting the zero byte; little-endian, unaligned), the upper-cased
// name with its zero byte, then the body: a section's setting records, or a
// setting's value bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pellam.h"
#include "platform/win32.h"

namespace pellam {
namespace format {

typedef unsigned char Byte;

constexpr Byte kMagic[4] = {'Q', 'Z', 'S', 'T'};
constexpr size_t kMagicSize = 4;
constexpr size_t kHeaderSize = 16;

// The type tags are CSetFile's (pellam.h); a tag with bits 10 to 15 clear is
// the caller's own (custom) type.
inline bool IsCustomType(DWORD tag) { return (tag & 0xFC00) == 0; }

// What the first bytes of a whole file say about it.
enum class FileKind { kEmpty, kStore, kForeign };
// Size 0: empty; the magic, alone or followed by content: a store; anything
// else (a short file, other first bytes) is foreign and never read or written.
FileKind ClassifyFile(const Byte* file, size_t size);

// ---- names ----

// The hash of a normalised name's bytes (without the zero byte): CRC-16/XMODEM
// in bits 16-31, a 10-bit CRC (polynomial 0x083) in bits 0-9.
DWORD HashName(const char* bytes, size_t length);

// A name as it is stored: the caller's text copied and upper-cased (a..z only).
struct Name {
  std::string text;  // without the zero byte (std::string keeps one after it)
  DWORD hash = 0;

  // The stored length, counting the zero byte.
  DWORD length() const { return DWORD(text.size() + 1); }
};

// False (out untouched) for a null or empty name, or one too long for a record.
bool Normalize(const char* raw, Name& out);

// ---- records ----

struct Header {
  DWORD hash = 0;
  DWORD size = 0;  // the whole record: header, name and body
  DWORD tag = 0;
  DWORD nameLength = 0;
};

void PutHeader(Byte* at, const Header& h);
Header GetHeader(const Byte* at);

// A record found by a walk: a view into the content block.
struct Record {
  size_t offset = 0;  // from the start of the content
  Header header;
  const char* name = nullptr;  // nameLength bytes, the last one zero
  const Byte* body = nullptr;
  size_t bodySize = 0;

  size_t end() const { return offset + header.size; }
};

// A record matches when hash, tag, name length and name bytes are all equal.
bool Matches(const Record& r, const Name& name, DWORD tag);

// One step of the scan rule over the region [pos, regionEnd) of a content
// block: while more than 16 bytes remain there is a record at pos; it must fit
// its region and hold its name (size 0 fails like every other bad size).
enum class Step { kRecord, kEnd, kCorrupt };
Step NextRecord(const Byte* content, size_t regionEnd, size_t pos, Record& out);

// The region of a section's setting records.
inline size_t SettingsBegin(const Record& section) { return section.offset + kHeaderSize + section.header.nameLength; }

enum class Walk { kDone, kStopped, kCorrupt };

// Visits each record of a region in order; visit(const Record&) returns true
// to go on. `stop` receives where the walk ended: the end of the last record
// visited (or the region's start), so that what follows is fewer than 17 bytes.
template <class Visit>
Walk WalkRegion(const Byte* content, size_t begin, size_t end, Visit&& visit, size_t* stop = nullptr) {
  size_t pos = begin;
  Walk result = Walk::kDone;
  for (;;) {
    Record r;
    Step s = NextRecord(content, end, pos, r);
    if (s == Step::kCorrupt) return Walk::kCorrupt;
    if (s == Step::kEnd) break;
    if (!visit(static_cast<const Record&>(r))) {
      result = Walk::kStopped;
      break;
    }
    pos = r.end();
  }
  if (stop) *stop = pos;
  return result;
}

template <class Visit>
Walk WalkSections(const Byte* content, size_t length, Visit&& visit, size_t* stop = nullptr) {
  return WalkRegion(content, 0, length, visit, stop);
}

template <class Visit>
Walk WalkSettings(const Byte* content, const Record& section, Visit&& visit, size_t* stop = nullptr) {
  return WalkRegion(content, SettingsBegin(section), section.end(), visit, stop);
}

// ---- finding ----

enum class Result {
  kOk,
  kNotFound,
  kCorrupt,      // a walk met a record of size 0, or one that does not fit
  kTooLarge,     // a record or the content would outgrow 32-bit sizes
  kBadArgument,  // no value bytes, or the section tag given as a setting's type
};

// The first section record (tag 0xFC00) of that name.
Result FindSection(const Byte* content, size_t length, const Name& section, Record& out);
// The setting of that name and tag in the first section of that name.
Result FindSetting(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag,
                   Record& out);

// ---- edits ----
//
// An edit is planned over the current content, then applied into a block of
// newLength bytes that the caller provides; the old content is not changed
// (except by an overwrite applied in place). The plan points at the content,
// the names and the value: they must outlive it.
struct Edit {
  enum Kind {
    kNothing,       // not found, or failed: nothing to apply
    kOverwrite,     // same size: only the value bytes change; may be applied in place
    kSplice,        // a new block: bytes cut, bytes inserted, a section's size changed
  };
  Result result = Result::kNotFound;
  Kind kind = kNothing;
  size_t newLength = 0;  // 0 after removing the last section: the content is empty

  // How the new block is made: old[0, at) + inserted + old[at + cut, length),
  // then the size field of the section at `section` (an offset, or npos) set
  // to sectionSize.
  const Byte* content = nullptr;
  size_t length = 0;
  size_t at = 0, cut = 0;
  size_t section = std::string::npos;
  DWORD sectionSize = 0;
  // The record inserted: a setting record, wrapped in a new section record
  // when newSection is set. Overwrites copy the value to `at`.
  const Name* sectionName = nullptr;
  const Name* settingName = nullptr;
  DWORD tag = 0;
  const void* value = nullptr;
  DWORD valueSize = 0;
  bool insertSetting = false, newSection = false;

  size_t inserted() const;
  // The first byte of the content the edit changes: before it the old block
  // and the new one agree.
  size_t firstChange() const;
};

// Writing a setting: overwritten in place when its record keeps its size,
// replaced where it stands otherwise, appended after the last setting of its
// section when new, or in a new section after the last section.
Edit PlanWrite(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag,
               const void* value, DWORD valueSize);

// Removing a setting; its section goes with it when it was the section's last
// setting. Sections of the name are searched in order until one holds it.
Edit PlanDeleteSetting(const Byte* content, size_t length, const Name& section, const Name& setting, DWORD tag);

// Removing a whole section.
Edit PlanDeleteSection(const Byte* content, size_t length, const Name& section);

// Builds the new content into out (edit.newLength bytes). An overwrite may be
// applied with out == edit.content; a splice needs a separate block.
void Apply(const Edit& edit, Byte* out);

}  // namespace format
}  // namespace pellam
