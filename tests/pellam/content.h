// Test helpers over settings content blocks: edits applied into vectors, and
// a readable listing of what a block holds.
#pragma once

#include <string>
#include <vector>

#include "settings/format.h"
#include "support/support.h"

namespace contenttest {

namespace fmt = pellam::format;
using Bytes = std::vector<fmt::Byte>;

inline fmt::Name N(const char* raw) {
  fmt::Name n;
  EXPECT_TRUE(fmt::Normalize(raw, n)) << raw;
  return n;
}

inline Bytes Apply(const fmt::Edit& e) {
  Bytes out(e.newLength);
  fmt::Apply(e, out.data());
  return out;
}

// Each returns the edit's result and, on success, replaces the content.
inline fmt::Result Write(Bytes& content, const char* section, const char* name, DWORD tag, const std::string& value) {
  fmt::Name s = N(section), n = N(name);
  fmt::Edit e = fmt::PlanWrite(content.data(), content.size(), s, n, tag, value.data(), DWORD(value.size()));
  if (e.result == fmt::Result::kOk) content = Apply(e);
  return e.result;
}

inline fmt::Result WriteInt(Bytes& content, const char* section, const char* name, int32_t v) {
  return Write(content, section, name, CSetFile::kInt, std::string(reinterpret_cast<const char*>(&v), 4));
}

inline fmt::Result DeleteSetting(Bytes& content, const char* section, const char* name, DWORD tag) {
  fmt::Name s = N(section), n = N(name);
  fmt::Edit e = fmt::PlanDeleteSetting(content.data(), content.size(), s, n, tag);
  if (e.result == fmt::Result::kOk) content = Apply(e);
  return e.result;
}

inline fmt::Result DeleteSection(Bytes& content, const char* section) {
  fmt::Name s = N(section);
  fmt::Edit e = fmt::PlanDeleteSection(content.data(), content.size(), s);
  if (e.result == fmt::Result::kOk) content = Apply(e);
  return e.result;
}

// "SECTION" lines and "SECTION/NAME/tag=value" lines in stored order, or "corrupt".
inline std::vector<std::string> List(const Bytes& content) {
  std::vector<std::string> out;
  bool bad = false;
  fmt::Walk w = fmt::WalkSections(content.data(), content.size(), [&](const fmt::Record& sec) {
    out.push_back(sec.name);
    fmt::Walk inner = fmt::WalkSettings(content.data(), sec, [&](const fmt::Record& r) {
      out.push_back(plat::FormatAS("%s/%s/%x=", sec.name, r.name, unsigned(r.header.tag)) +
                    std::string(reinterpret_cast<const char*>(r.body), r.bodySize));
      return true;
    });
    bad = bad || inner != fmt::Walk::kDone;
    return true;
  });
  if (bad || w != fmt::Walk::kDone) out.push_back("corrupt");
  return out;
}

}  // namespace contenttest
