// A table over a content block that finds sections and settings without
// walking the block: built once by one walk over all records, and answering
// exactly as the walks of format.h do (the first section of a name, the first
// setting of a name and type in it; a bad record hides all that follows it).
#pragma once

#include <cstdint>
#include <vector>

#include "settings/format.h"

namespace pellam {
namespace format {

class Index {
 public:
  // Walks the whole block once. False when there is no memory for the table.
  bool Build(const Byte* content, size_t length) noexcept;

  // As format::FindSection and format::FindSetting over the block it was built on.
  Result FindSection(const Byte* content, const Name& section, Record& out) const;
  Result FindSetting(const Byte* content, const Name& section, const Name& setting, DWORD tag, Record& out) const;

 private:
  struct Section {
    uint32_t offset;  // of the record
    uint32_t end;
    bool corrupt;  // the walk of its settings met a bad record
  };
  struct Slot {
    uint32_t key;       // hash of section, setting name and tag
    uint32_t section;   // index into sections_, + 1; 0: free
    uint32_t offset;    // of the setting record
  };

  int SectionSlot(const Byte* content, DWORD hash, DWORD nameLength, const char* name) const;
  static uint32_t Key(DWORD sectionHash, DWORD settingHash, DWORD tag);

  std::vector<Section> sections_;
  // Types of the library's own, so that no instantiation of a standard
  // template over a plain type is left for the library to export.
  struct Bucket {
    int32_t section;  // index into sections_, -1: free
  };
  std::vector<Bucket> sectionTable_;
  std::vector<Slot> slots_;
  bool corrupt_ = false;  // the walk over the sections met a bad record
};

}  // namespace format
}  // namespace pellam
