// Helpers of the path tests: wide strings from UTF-8 literals, and a parsed
// record described as text so that tables can state whole results at once.
#pragma once

#include <cstring>
#include <string>

#include "ferrow.h"
#include "support/support.h"

namespace pathtest {

using plat::wstring;

inline wstring W(const char* s) { return plat::Wide(s); }

inline std::string Text(const WCHAR* from, const WCHAR* to) {
  if (!to) to = from + plat::WLen(from);
  return plat::Utf8(from, static_cast<size_t>(to - from));
}

// "prefix[\\?\] protocol[C:] local[\dir\] name[file] ext[.txt]", or "fail".
inline std::string Describe(const wstring& path, int fileFlag) {
  FU_PathParts parts;
  if (!FU_ParsePath(path.c_str(), &parts, fileFlag)) return "fail";
  std::string out;
  auto add = [&](const char* label, const WCHAR* from, const WCHAR* to) {
    if (!from) return;
    if (!out.empty()) out += ' ';
    out += std::string(label) + "[" + Text(from, to) + "]";
  };
  add("prefix", parts.prefix, parts.prefixEnd);
  add("protocol", parts.protocol, parts.protocolEnd);
  add("host", parts.host, parts.hostEnd);
  add("local", parts.localInfo, parts.localInfoEnd);
  add("name", parts.filename, parts.filenameEnd);
  add("ext", parts.extension, nullptr);
  return out;
}

}  // namespace pathtest
