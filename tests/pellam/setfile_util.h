// Helpers of the CSetFile tests: a store in a fresh directory, its file's
// bytes, and a readable listing of what EnumSettings reports.
#pragma once

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "content.h"
#include "ferrow.h"
#include "pellam.h"

namespace setfiletest {

using contenttest::Bytes;
namespace fmt = pellam::format;
using plat::wstring;

// A settings file named `name` in a fresh directory.
struct Store {
  testsupport::TempDir dir;
  wstring path;
  explicit Store(const char* name = "edit.set") : path(dir.Wide(name)) {}
  std::filesystem::path file() const { return testsupport::P(path); }
  bool exists() const { return std::filesystem::exists(file()); }
  std::string bytes() const { return testsupport::ReadBytes(file()); }
  // The file made of the magic and a content block.
  void Put(const Bytes& content) const {
    std::string b = content.empty() ? std::string() : "QZST";
    b.append(content.begin(), content.end());
    testsupport::WriteBytes(file(), b);
  }
};

// EnumSettings passes a 32-bit context, too small for a pointer natively:
// the listing callbacks find their lines through the calling thread.
inline std::vector<std::string>*& ListingLines() {
  static thread_local std::vector<std::string>* lines = nullptr;
  return lines;
}

inline int WINAPI ListOne(const char* name, DWORD type, const void* data, DWORD size, DWORD stopAfter) {
  std::vector<std::string>& lines = *ListingLines();
  if (type == CSetFile::kSection)
    lines.push_back(plat::FormatAS("[%s]%s", name, data || size ? " with data" : ""));
  else
    lines.push_back(plat::FormatAS("%s %x %u", name, unsigned(type), unsigned(size)));
  return lines.size() < stopAfter ? 1 : 0;
}

// "[SECTION]" and "NAME type size" lines in the order EnumSettings calls
// back; it stops after `stopAfter` calls.
inline std::vector<std::string> Listing(CSetFile& f, int* result = nullptr, DWORD stopAfter = 0xFFFFFFFF) {
  std::vector<std::string> out;
  ListingLines() = &out;
  const int r = f.EnumSettings(ListOne, stopAfter);
  ListingLines() = nullptr;
  if (result) *result = r;
  return out;
}

using Lines = std::vector<std::string>;

// The last-write time of a file, and setting it (to stand for a coarse clock,
// or for a store written long ago).
// True when the journal at `path` holds no save that did not end: there is
// none, or it was cut to 0 bytes, or its size field was set to 0 in place.
inline bool JournalSpent(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  char head[8] = {};
  in.read(head, sizeof head);
  if (in.gcount() == 0) return true;
  return in.gcount() == 8 && std::memcmp(head, "QZSJ", 4) == 0 && std::memcmp(head + 4, "\0\0\0\0", 4) == 0;
}

inline FILETIME WriteTime(const wstring& path) {
  FILETIME t = {};
  EXPECT_EQ(FU_GetLastModifyTime(path.c_str(), &t), 1);
  return t;
}

inline void SetWriteTime(const wstring& path, const FILETIME& t) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
  CloseHandle(h);
}

inline FILETIME HoursAgo(int hours) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG t = (ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime) - ULONGLONG(hours) * 36000000000ULL;
  FILETIME out;
  out.dwLowDateTime = DWORD(t);
  out.dwHighDateTime = DWORD(t >> 32);
  return out;
}

// The file holds a well-formed store: sections unique and not empty, each
// (name, type) once in its section. Returns "SECTION/NAME" -> Int value.
inline std::map<std::string, int> CheckedStore(const Store& s) {
  std::map<std::string, int> values;
  const std::string file = s.bytes();
  const auto* bytes = reinterpret_cast<const fmt::Byte*>(file.data());
  EXPECT_EQ(fmt::ClassifyFile(bytes, file.size()), fmt::FileKind::kStore);
  if (file.size() < 4) return values;
  const fmt::Byte* content = bytes + 4;
  const size_t length = file.size() - 4;
  std::set<std::string> sections;
  size_t stop = 0;
  const fmt::Walk w = fmt::WalkSections(
      content, length,
      [&](const fmt::Record& sec) {
        EXPECT_EQ(sec.header.tag, DWORD(CSetFile::kSection));
        EXPECT_TRUE(sections.insert(sec.name).second) << sec.name;
        std::set<std::pair<std::string, DWORD>> seen;
        const fmt::Walk inner = fmt::WalkSettings(content, sec, [&](const fmt::Record& r) {
          EXPECT_TRUE(seen.insert({r.name, r.header.tag}).second) << sec.name << "/" << r.name;
          if (r.header.tag == CSetFile::kInt && r.bodySize == 4) {
            int v;
            std::memcpy(&v, r.body, 4);
            values[std::string(sec.name) + "/" + r.name] = v;
          }
          return true;
        });
        EXPECT_EQ(inner, fmt::Walk::kDone);
        EXPECT_FALSE(seen.empty()) << sec.name;
        return true;
      },
      &stop);
  EXPECT_EQ(w, fmt::Walk::kDone);
  EXPECT_EQ(stop, length);
  return values;
}

}  // namespace setfiletest
