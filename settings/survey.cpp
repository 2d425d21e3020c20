// Reading a damaged content block: the walk of the scan rule, and past each
// record that does not read, a search for the next one that does.
#include "settings/survey.h"

#include <cstring>
#include <set>
#include <tuple>

namespace pellam {
namespace format {
namespace {

// Why the record at pos of the region [pos, end) does not read; null when it
// does. A section's size may run past the end: its settings are read anyway.
const char* Fault(const Byte* content, size_t end, size_t pos, bool section, const Header& h) {
  const size_t room = end - pos;
  if (h.size == 0) return "a record of size 0";
  if (h.nameLength < 2 || h.nameLength > room - kHeaderSize) return "a name that does not fit its record";
  const Byte* name = content + pos + kHeaderSize;
  if (name[h.nameLength - 1] != 0) return "a name without its closing zero byte";
  if (std::memchr(name, 0, h.nameLength - 1)) return "a name with a zero byte inside";
  if (h.size < kHeaderSize + h.nameLength + (section ? 0 : 1)) return "a record too small for its name";
  if (!section && h.size > room) return "a setting that runs past the end of its section";
  if (section && h.tag != CSetFile::kSection) return "a setting outside any section";
  if (!section && h.tag == CSetFile::kSection) return "a section inside a section";
  return nullptr;
}

bool HashMatches(const Byte* content, size_t pos, const Header& h) {
  return HashName(reinterpret_cast<const char*>(content + pos + kHeaderSize), h.nameLength - 1) == h.hash;
}

// The next position in (pos, end) where a record of the kind reads whole and
// its hash is right; `end` when there is none.
size_t Resync(const Byte* content, size_t pos, size_t end, bool section) {
  for (++pos; pos < end && end - pos > kHeaderSize; ++pos) {
    const Header h = GetHeader(content + pos);
    if (!Fault(content, end, pos, section, h) && HashMatches(content, pos, h)) return pos;
  }
  return end;
}

Record At(const Byte* content, size_t pos, const Header& h, size_t end) {
  Record r;
  r.offset = pos;
  r.header = h;
  r.name = reinterpret_cast<const char*>(content + pos + kHeaderSize);
  r.body = content + pos + kHeaderSize + h.nameLength;
  r.bodySize = std::min<size_t>(h.size, end - pos) - kHeaderSize - h.nameLength;
  return r;
}

}  // namespace

Survey SurveyContent(const Byte* content, size_t length) {
  Survey out;
  std::set<std::string> sections;
  std::set<std::tuple<std::string, std::string, DWORD>> settings;
  auto damage = [&](size_t at, const std::string& section, const std::string& what) {
    out.damage.push_back({at, section, what});
  };
  size_t pos = 0;
  while (pos < length && length - pos > kHeaderSize) {
    const Header h = GetHeader(content + pos);
    if (const char* why = Fault(content, length, pos, true, h)) {
      damage(pos, "", why);
      pos = Resync(content, pos, length, true);
      continue;
    }
    const Record sec = At(content, pos, h, length);
    const std::string name = sec.name;
    ++out.sections;
    const bool first = sections.insert(name).second;
    if (!first) damage(pos, name, "a second section of the name: no lookup reaches its settings");
    if (!HashMatches(content, pos, h)) damage(pos, name, "a section whose name does not match its hash");
    const bool sectionReached = first && HashMatches(content, pos, h);
    size_t end = pos + h.size;
    if (h.size > length - pos) {
      damage(pos, name, "a section that runs past the end of the store");
      end = length;
    }
    size_t p = SettingsBegin(sec), kept = 0;
    while (p < end && end - p > kHeaderSize) {
      const Header s = GetHeader(content + p);
      if (const char* why = Fault(content, end, p, false, s)) {
        damage(p, name, why);
        p = Resync(content, p, end, false);
        continue;
      }
      const Record r = At(content, p, s, end);
      bool reachable = sectionReached;
      if (!HashMatches(content, p, s)) {
        damage(p, name, std::string("a setting whose name does not match its hash: ") + r.name);
        reachable = false;
      }
      if (!settings.insert({name, r.name, s.tag}).second) {
        damage(p, name, std::string("a second setting of the name and type: ") + r.name);
        reachable = false;
      }
      out.settings.push_back({name, r, reachable});
      ++kept;
      p += s.size;
    }
    if (kept == 0) damage(pos, name, "a section that holds no setting");
    pos = end;
  }
  return out;
}

}  // namespace format
}  // namespace pellam
