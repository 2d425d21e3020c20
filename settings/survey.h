// A settings content block read as far as it can be: every setting that still
// reads whole, and where the block is damaged. CSetFile refuses a body that
// does not walk cleanly; this is for the tools that look into such a file
// (qz settings check) and save what is left of it (qz settings salvage).
#pragma once

#include <string>
#include <vector>

#include "settings/format.h"

namespace pellam {
namespace format {

struct Damage {
  size_t offset;        // in the content block (the file offset less 4)
  std::string section;  // the section it lies in, if known
  std::string what;
};

// A setting that reads whole: its record (a view into the block) and its
// section's name. `reachable` is false for a setting that no lookup finds
// (a second section of a name, a second setting of a name and type, a name
// whose stored hash is wrong); it still reads whole.
struct Survived {
  std::string section;
  Record record;
  bool reachable;
};

struct Survey {
  size_t sections = 0;
  std::vector<Survived> settings;
  std::vector<Damage> damage;
};

// Walks the block as the scan rule does; past a record that does not read,
// it looks for the next one that does (a header that fits, a name with its
// zero byte, and the hash of that name), so that what follows damage is kept.
Survey SurveyContent(const Byte* content, size_t length);

}  // namespace format
}  // namespace pellam
