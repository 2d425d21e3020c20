// qz settings: what a settings file holds, one value read or written, a
// setting or a section removed, through Pellam's CSetFile.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "pellam.h"
#include "qz.h"
#include "settings/journal.h"
#include "settings/survey.h"

namespace {

const char kUsage[] =
    "usage: qz settings FILE list\n"
    "       qz settings FILE get SECTION NAME [TYPE]\n"
    "       qz settings FILE set SECTION NAME TYPE VALUE\n"
    "       qz settings FILE rm SECTION [NAME TYPE]\n"
    "       qz settings FILE check\n"
    "       qz settings FILE salvage OUT\n"
    "\n"
    "Reads and changes a settings file. Names of sections and settings are\n"
    "compared without regard to the case of a..z; a setting is found by its\n"
    "section, name and type together. An older text settings file beside FILE\n"
    "(FILE.ini) is imported, then deleted, when FILE is opened.\n"
    "\n"
    "  list   every section and its settings: NAME = VALUE (TYPE)\n"
    "  get    one value, as `set` takes it; without TYPE the name must have one\n"
    "  set    writes one value, creating the file and its directories\n"
    "  rm     removes a whole section, or one setting of it\n"
    "  check  reads the file byte by byte and says where it is damaged, if it is\n"
    "  salvage  writes a new store OUT with every setting of FILE that still\n"
    "         reads whole (the first of each name and type, where there are two)\n"
    "\n"
    "A save that did not end (its process died) leaves FILE-journal beside FILE;\n"
    "readers see the store from before that save, and the next write puts it back.\n"
    "\n"
    "TYPE and VALUE:\n"
    "  int, int64, uint, uint64   decimal (uint and uint64 not negative)\n"
    "  dword, color               0x hexadecimal, or decimal\n"
    "  bool                       true, false, or a number (stored as given)\n"
    "  string, stringw, stringa   text (stringa in the system's ANSI code page)\n"
    "  path                       a path of at most 259 characters\n"
    "  guid                       {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\n"
    "  timecode                   HH:MM:SS:FF, HH:MM:SS;FF, optionally @RATE\n"
    "  rect                       left,top,right,bottom\n"
    "  font                       face,height\n"
    "  bin                        hexadecimal bytes (0a1b2c)\n"
    "  a number (0x7, 12)         a type of the caller's own: hexadecimal bytes;\n"
    "                             bits 10 to 15 of its number must be clear\n";

// Derived only to reach the generic members: every type, the caller's own too.
class Store : public CSetFile {
 public:
  using CSetFile::CSetFile;
  using CSetFile::ReadSetting;
  using CSetFile::WriteSetting;
};

struct TypeName {
  const char* name;
  DWORD tag;
};
const TypeName kTypes[] = {
    {"int", CSetFile::kInt},           {"int64", CSetFile::kInt64},   {"bool", CSetFile::kBool},
    {"string", CSetFile::kString},     {"stringa", CSetFile::kStringA}, {"stringw", CSetFile::kStringW},
    {"path", CSetFile::kPath},         {"guid", CSetFile::kGUID},     {"bin", CSetFile::kBin},
    {"timecode", CSetFile::kTimecode}, {"color", CSetFile::kColor},   {"font", CSetFile::kFont},
    {"rect", CSetFile::kRect},         {"uint", CSetFile::kUInt},     {"uint64", CSetFile::kUInt64},
    {"dword", CSetFile::kDWORD},
};

bool IsCustom(DWORD tag) { return (tag & 0xFC00) == 0; }

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = plat::AUpper(c);
  return s;
}

// ---- numbers ----

bool ParseSigned(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  out = v;
  return true;
}

// Decimal, or hexadecimal after 0x when `hex` allows it; never negative.
bool ParseUnsigned(const std::string& text, unsigned long long hi, bool hex, unsigned long long& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const bool isHex = hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str() + (isHex ? 2 : 0), &end, isHex ? 16 : 10);
  if (errno || *end || end == text.c_str() + (isHex ? 2 : 0) || v > hi) return false;
  out = v;
  return true;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>& out) {
  if (text.empty() || text.size() % 2) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(BYTE(hi * 16 + lo));
  }
  return true;
}

std::string HexBytes(const BYTE* data, DWORD size) {
  std::string s;
  for (DWORD i = 0; i < size; ++i) s += plat::FormatAS("%02x", unsigned(data[i]));
  return s;
}

// Comma-separated signed 32-bit numbers, exactly `count` of them.
bool ParseList(const std::string& text, size_t count, std::vector<LONG>& out) {
  size_t start = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t comma = i + 1 < count ? text.find(',', start) : text.size();
    if (comma == std::string::npos) return false;
    long long v;
    if (!ParseSigned(text.substr(start, comma - start), INT32_MIN, INT32_MAX, v)) return false;
    out.push_back(LONG(v));
    start = comma + 1;
  }
  return true;
}

// ---- values as text and back ----

template <class T>
T Get(const BYTE* data) {
  T v;
  std::memcpy(&v, data, sizeof v);
  return v;
}

template <class T>
void Put(std::vector<BYTE>& out, const T& v) {
  const BYTE* p = reinterpret_cast<const BYTE*>(&v);
  out.assign(p, p + sizeof v);
}

// UTF-16 units up to the first zero (or the end) as UTF-8.
std::string WideText(const BYTE* data, DWORD size) {
  plat::wstring w;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    const WCHAR c = WCHAR(data[i] | data[i + 1] << 8);
    if (!c) break;
    w += c;
  }
  return plat::Utf8(w);
}

std::string AnsiText(const BYTE* data, DWORD size) {
  DWORD n = 0;
  while (n < size && data[n]) ++n;
  if (n == 0) return std::string();
  std::vector<WCHAR> w(n + 1);
  const int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data), int(n), w.data(), int(n));
  return plat::Utf8(w.data(), size_t(units > 0 ? units : 0));
}

// The value as `set` takes it back. A value whose size does not fit its type
// (another writer of the format may leave one) is shown in hexadecimal.
std::string ValueText(DWORD tag, const BYTE* data, DWORD size) {
  auto sized = [&](DWORD n) { return size == n; };
  switch (tag) {
    case CSetFile::kInt:
      if (sized(4)) return plat::FormatAS("%d", Get<int32_t>(data));
      break;
    case CSetFile::kInt64:
      if (sized(8)) return plat::FormatAS("%I64d", Get<int64_t>(data));
      break;
    case CSetFile::kUInt:
      if (sized(4)) return plat::FormatAS("%u", Get<uint32_t>(data));
      break;
    case CSetFile::kUInt64:
      if (sized(8)) return plat::FormatAS("%I64u", Get<uint64_t>(data));
      break;
    case CSetFile::kDWORD:
    case CSetFile::kColor:
      if (sized(4)) return plat::FormatAS("0x%08X", Get<uint32_t>(data));
      break;
    case CSetFile::kBool:
      if (sized(4)) {
        const int32_t v = Get<int32_t>(data);
        return v == 0 ? "false" : v == 1 ? "true" : plat::FormatAS("%d", v);
      }
      break;
    case CSetFile::kString:
    case CSetFile::kStringW:
    case CSetFile::kPath:
      return WideText(data, size);
    case CSetFile::kStringA:
      return AnsiText(data, size);
    case CSetFile::kGUID:
      if (sized(16)) {
        const GUID g = Get<GUID>(data);
        return plat::FormatAS("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.Data1),
                              unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                              g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
      }
      break;
    case CSetFile::kTimecode:
      if (sized(8)) {
        timecode t = Get<timecode>(data);
        t.SetSystem(timecode::NormalizeSystem(t.GetSystem()));
        WCHAR text[40];
        t.ToString(text, 40);
        return plat::Utf8(text);
      }
      break;
    case CSetFile::kRect:
      if (sized(16)) {
        const RECT r = Get<RECT>(data);
        return plat::FormatAS("%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
      }
      break;
    case CSetFile::kFont:
      if (sized(sizeof(LOGFONTW))) {
        const LOGFONTW f = Get<LOGFONTW>(data);
        WCHAR face[LF_FACESIZE + 1] = {};
        std::memcpy(face, f.lfFaceName, sizeof f.lfFaceName);
        return plat::Utf8(face) + plat::FormatAS(",%d", f.lfHeight);
      }
      break;
    default:
      return HexBytes(data, size);
  }
  return plat::FormatAS("%s (%u bytes)", HexBytes(data, size).c_str(), unsigned(size));
}

// A timecode text the string constructor reads as 00:00:00:00 at 25 fps: the
// value it gives for bad text too.
bool IsZeroTimecode(const std::string& text) {
  std::string t;
  for (char c : text)
    if (c != ' ' && c != '\t') t += c;
  return t == "00:00:00:00" || t == "00:00:00:00@25" || t == "0:0:0:0" || t == "0:0:0:0@25";
}

std::vector<BYTE> WideBytes(const plat::wstring& w, size_t units) {
  std::vector<BYTE> out(units * 2, 0);
  for (size_t i = 0; i < w.size() && i < units; ++i) {
    out[2 * i] = BYTE(w[i]);
    out[2 * i + 1] = BYTE(w[i] >> 8);
  }
  return out;
}

// The stored bytes of a value given as text; false with a reason.
bool ValueBytes(DWORD tag, const plat::wstring& wide, std::vector<BYTE>& out, std::string& why) {
  const std::string text = plat::Utf8(wide);
  long long s;
  unsigned long long u;
  std::vector<LONG> list;
  switch (tag) {
    case CSetFile::kInt:
      if (!ParseSigned(text, INT32_MIN, INT32_MAX, s)) break;
      Put(out, int32_t(s));
      return true;
    case CSetFile::kInt64:
      if (!ParseSigned(text, INT64_MIN, INT64_MAX, s)) break;
      Put(out, int64_t(s));
      return true;
    case CSetFile::kUInt:
      if (!ParseUnsigned(text, 0xFFFFFFFFu, false, u)) break;
      Put(out, uint32_t(u));
      return true;
    case CSetFile::kUInt64:
      if (!ParseUnsigned(text, ~0ULL, false, u)) break;
      Put(out, uint64_t(u));
      return true;
    case CSetFile::kDWORD:
    case CSetFile::kColor:
      if (!ParseUnsigned(text, 0xFFFFFFFFu, true, u)) break;
      Put(out, uint32_t(u));
      return true;
    case CSetFile::kBool:
      if (Lower(text) == "true") s = 1;
      else if (Lower(text) == "false") s = 0;
      else if (!ParseSigned(text, INT32_MIN, INT32_MAX, s)) break;
      Put(out, int32_t(s));
      return true;
    case CSetFile::kString:
    case CSetFile::kStringW:
      out = WideBytes(wide, wide.size() + 1);
      return true;
    case CSetFile::kPath:
      if (wide.size() > MAX_PATH - 1) {
        why = "a path has at most 259 characters";
        return false;
      }
      out = WideBytes(wide, MAX_PATH);
      return true;
    case CSetFile::kStringA: {
      BOOL lost = FALSE;
      const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &lost);
      out.assign(size_t(n > 0 ? n : 1), 0);
      if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, reinterpret_cast<char*>(out.data()), n, nullptr, &lost);
      if (lost) {
        why = "the text has characters the ANSI code page does not hold (use string)";
        return false;
      }
      return true;
    }
    case CSetFile::kGUID: {
      std::string t = text;
      if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
      std::string hex;
      for (size_t i = 0; i < t.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (t[i] == '-')) break;
        if (!dash) hex += t[i];
      }
      std::vector<BYTE> b;
      if (t.size() != 36 || !ParseHexBytes(hex, b) || b.size() != 16) {
        why = "a GUID is {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
        return false;
      }
      GUID g;
      g.Data1 = DWORD(b[0]) << 24 | DWORD(b[1]) << 16 | DWORD(b[2]) << 8 | b[3];
      g.Data2 = WORD(b[4] << 8 | b[5]);
      g.Data3 = WORD(b[6] << 8 | b[7]);
      std::memcpy(g.Data4, &b[8], 8);
      Put(out, g);
      return true;
    }
    case CSetFile::kTimecode: {
      const timecode t(wide.c_str());
      const timecode zero;
      if (std::memcmp(&t, &zero, sizeof t) == 0 && !IsZeroTimecode(text)) {
        why = "a timecode is HH:MM:SS:FF or HH:MM:SS;FF, optionally followed by @RATE (24, 25, 30, 50, 60)";
        return false;
      }
      Put(out, t);
      return true;
    }
    case CSetFile::kRect:
      if (!ParseList(text, 4, list)) break;
      Put(out, RECT{list[0], list[1], list[2], list[3]});
      return true;
    case CSetFile::kFont: {
      const size_t comma = wide.rfind(WCHAR(','));
      if (comma == plat::wstring::npos || comma == 0 || comma > LF_FACESIZE - 1 ||
          !ParseSigned(plat::Utf8(wide.substr(comma + 1)), INT32_MIN, INT32_MAX, s)) {
        why = "a font is FACE,HEIGHT with a face of at most 31 characters";
        return false;
      }
      LOGFONTW f = {};
      f.lfHeight = LONG(s);
      std::memcpy(f.lfFaceName, wide.data(), comma * sizeof(WCHAR));
      Put(out, f);
      return true;
    }
    default:  // bin and the caller's own types
      if (!ParseHexBytes(text, out)) {
        why = "give the bytes in hexadecimal, two digits each (0a1b2c)";
        return false;
      }
      return true;
  }
  why = "not a value of this type";
  return false;
}

bool ParseType(const std::string& text, DWORD& tag) {
  const std::string name = Lower(text);
  for (const TypeName& t : kTypes)
    if (name == t.name) {
      tag = t.tag;
      return true;
    }
  unsigned long long v;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, true, v) || !IsCustom(DWORD(v))) return false;
  tag = DWORD(v);
  return true;
}

std::string TypeText(DWORD tag) {
  for (const TypeName& t : kTypes)
    if (t.tag == tag) return t.name;
  return plat::FormatAS("0x%X", unsigned(tag));
}

// ---- what the file holds ----

struct Record {
  std::string section, name;
  DWORD tag;
  std::vector<BYTE> value;
};

std::vector<Record>* g_records = nullptr;  // EnumSettings passes no pointer

int WINAPI Collect(const char* name, DWORD type, const void* data, DWORD size, DWORD) {
  if (type == CSetFile::kSection) {
    g_records->push_back({name, std::string(), type, {}});
  } else {
    const BYTE* p = static_cast<const BYTE*>(data);
    g_records->push_back({g_records->back().section, name, type, std::vector<BYTE>(p, p + size)});
  }
  return 1;
}

// Why an operation on the file failed: CSetFile says only that it did.
std::string Cause(const plat::wstring& path, bool writing) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return writing ? "cannot be created here" : "no such file";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a directory, not a settings file";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return plat::FormatAS("cannot be opened (error %u)", unsigned(GetLastError()));
  std::string cause;
  if (!LockFile(h, 0, 0, 1, 0)) {
    cause = "locked by another process (gave up waiting for it)";
  } else {
    BYTE magic[4];
    DWORD got = 0;
    const DWORD size = GetFileSize(h, nullptr);
    ReadFile(h, magic, 4, &got, nullptr);
    UnlockFile(h, 0, 0, 1, 0);
    if (size != 0 && (got != 4 || std::memcmp(magic, "QZST", 4) != 0))
      cause = "not a settings file (it does not begin with QZST)";
  }
  CloseHandle(h);
  if (!cause.empty()) return cause;
  if (writing && (attributes & FILE_ATTRIBUTE_READONLY)) return "read-only";
  if (writing) {
    h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return GetLastError() == ERROR_SHARING_VIOLATION ? "being written by another process"
                                                       : plat::FormatAS("cannot be written (error %u)",
                                                                        unsigned(GetLastError()));
    CloseHandle(h);
  }
  return "damaged: a record does not fit where it stands (qz settings FILE check says where)";
}

int Failed(const plat::wstring& path, bool writing) {
  return qz::Fail("settings", "%s: %s", plat::Utf8(path).c_str(), Cause(path, writing).c_str());
}

// Every record, or false after saying why not. An empty store is no failure.
bool Records(Store& store, const plat::wstring& path, std::vector<Record>& out) {
  g_records = &out;
  const int done = store.EnumSettings(Collect, 0);
  g_records = nullptr;
  if (done) return true;
  if (out.empty()) {
    const std::string bytes = [&] {
      HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
      if (h == INVALID_HANDLE_VALUE) return std::string("?");
      char b[5];
      DWORD got = 0;
      const DWORD size = GetFileSize(h, nullptr);
      const bool read = ReadFile(h, b, 5, &got, nullptr);
      CloseHandle(h);
      return read && size == got && size <= 4 ? std::string(b, got) : std::string("?");
    }();
    if (bytes.empty() || bytes == "QZST") return true;  // an empty store
  }
  Failed(path, false);
  return false;
}

// ---- the subcommands ----

int List(Store& store, const plat::wstring& path) {
  std::vector<Record> records;
  if (!Records(store, path, records)) return 1;
  for (const Record& r : records) {
    if (r.tag == CSetFile::kSection)
      qz::Out("[%s]\n", r.section.c_str());
    else
      qz::Out("  %s = %s (%s)\n", r.name.c_str(), ValueText(r.tag, r.value.data(), DWORD(r.value.size())).c_str(),
              TypeText(r.tag).c_str());
  }
  return 0;
}

int GetOne(Store& store, const plat::wstring& path, const qz::Args& args) {
  if (args.size() < 2 || args.size() > 3) return qz::Fail("settings", "get takes SECTION NAME [TYPE]");
  DWORD tag = 0;
  if (args.size() == 3 && !ParseType(plat::Utf8(args[2]), tag))
    return qz::Fail("settings", "no type %s (qz settings --help)", plat::Utf8(args[2]).c_str());
  std::vector<Record> records;
  if (!Records(store, path, records)) return 1;
  const std::string section = Upper(plat::Utf8(args[0])), name = Upper(plat::Utf8(args[1]));
  std::vector<const Record*> found;
  for (const Record& r : records)
    if (r.tag != CSetFile::kSection && r.section == section && r.name == name && (!tag || r.tag == tag))
      found.push_back(&r);
  if (found.empty())
    return qz::Fail("settings", "%s holds no setting %s/%s%s%s", plat::Utf8(path).c_str(), section.c_str(),
                    name.c_str(), tag ? " of type " : "", tag ? TypeText(tag).c_str() : "");
  if (found.size() > 1) {
    std::string types;
    for (const Record* r : found) types += (types.empty() ? "" : ", ") + TypeText(r->tag);
    return qz::Fail("settings", "%s/%s has several types (%s): name one", section.c_str(), name.c_str(),
                    types.c_str());
  }
  qz::Out("%s\n", ValueText(found[0]->tag, found[0]->value.data(), DWORD(found[0]->value.size())).c_str());
  return 0;
}

int SetOne(Store& store, const plat::wstring& path, const qz::Args& args) {
  if (args.size() != 4) return qz::Fail("settings", "set takes SECTION NAME TYPE VALUE");
  DWORD tag;
  if (!ParseType(plat::Utf8(args[2]), tag))
    return qz::Fail("settings", "no type %s (qz settings --help)", plat::Utf8(args[2]).c_str());
  if (args[0].empty() || args[1].empty()) return qz::Fail("settings", "names of sections and settings are not empty");
  std::vector<BYTE> value;
  std::string why;
  if (!ValueBytes(tag, args[3], value, why))
    return qz::Fail("settings", "%s is no %s: %s", plat::Utf8(args[3]).c_str(), TypeText(tag).c_str(), why.c_str());
  if (!store.WriteSetting(plat::Utf8(args[0]).c_str(), plat::Utf8(args[1]).c_str(), tag, value.data(),
                          DWORD(value.size())))
    return Failed(path, true);
  return 0;
}

int Remove(Store& store, const plat::wstring& path, const qz::Args& args) {
  if (args.size() != 1 && args.size() != 3) return qz::Fail("settings", "rm takes SECTION [NAME TYPE]");
  const std::string section = plat::Utf8(args[0]);
  if (section.empty()) return qz::Fail("settings", "names of sections and settings are not empty");
  if (args.size() == 1) return store.DeleteKey(section.c_str()) ? 0 : Failed(path, true);
  DWORD tag;
  if (!ParseType(plat::Utf8(args[2]), tag))
    return qz::Fail("settings", "no type %s (qz settings --help)", plat::Utf8(args[2]).c_str());
  return store.DeleteSetting(section.c_str(), plat::Utf8(args[1]).c_str(), tag) ? 0 : Failed(path, true);
}

// ---- damaged stores ----

namespace fmt = pellam::format;

// The whole of a file, read under the store's byte lock (waited for as a
// reader waits) so that no save is half-way through it; false when it cannot be read.
bool ReadFileBytes(const plat::wstring& path, std::string& out, bool lock) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool locked = false;
  for (DWORD start = GetTickCount(); lock && !(locked = LockFile(h, 0, 0, 1, 0)) && GetTickCount() - start < 5000;)
    Sleep(1);
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && size.QuadPart < 0x7FFFFFFF;
  if (ok) {
    out.resize(size_t(size.QuadPart));
    DWORD got = 0;
    ok = out.empty() || (ReadFile(h, &out[0], DWORD(out.size()), &got, nullptr) && got == out.size());
  }
  if (locked) UnlockFile(h, 0, 0, 1, 0);
  CloseHandle(h);
  return ok;
}

// The store as its readers see it: the file, or the image from before a save
// that did not end, taken from the journal beside it. `note` says which.
bool StoreImage(const plat::wstring& path, std::string& image, std::string& note) {
  if (!ReadFileBytes(path, image, true)) return false;
  std::string journal;
  if (!ReadFileBytes(path + TEXT("-journal"), journal, false)) return true;
  const auto* j = reinterpret_cast<const fmt::Byte*>(journal.data());
  if (pellam::journal::IsSpent(j, journal.size())) return true;  // the last save ended
  pellam::journal::Header h;
  if (!pellam::journal::Parse(j, journal.size(), h)) {
    note = pellam::journal::IsJournal(j, journal.size()) ? "a journal cut short lies beside it (it means nothing)"
                                                         : "";
    return true;
  }
  std::string old(h.oldLength, '\0');
  const auto verdict = pellam::journal::Judge(h, j, reinterpret_cast<const fmt::Byte*>(image.data()), image.size(),
                                              reinterpret_cast<fmt::Byte*>(&old[0]));
  if (verdict == pellam::journal::Verdict::kRestore) {
    image.swap(old);
    note = "a save did not end: this is the store from before it, as its journal keeps it (the next write puts it back)";
  } else {
    note = verdict == pellam::journal::Verdict::kSaved ? "the journal of a save that ended lies beside it"
                                                       : "a journal of another state of the store lies beside it";
  }
  return true;
}

// The survey of a store's image; false (after saying why) for a file that is
// no settings file at all.
bool SurveyOf(const plat::wstring& path, fmt::Survey& survey, std::string& image) {
  std::string note;
  if (!StoreImage(path, image, note)) {
    Failed(path, false);
    return false;
  }
  if (!note.empty()) qz::Out("%s: %s\n", plat::Utf8(path).c_str(), note.c_str());
  const auto* bytes = reinterpret_cast<const fmt::Byte*>(image.data());
  if (fmt::ClassifyFile(bytes, image.size()) == fmt::FileKind::kForeign) {
    qz::Fail("settings", "%s: not a settings file (it does not begin with QZST)", plat::Utf8(path).c_str());
    return false;
  }
  if (image.size() > 4) survey = fmt::SurveyContent(bytes + 4, image.size() - 4);
  return true;
}

int Check(const plat::wstring& path) {
  fmt::Survey survey;
  std::string image;
  if (!SurveyOf(path, survey, image)) return 1;
  const std::string name = plat::Utf8(path);
  for (const fmt::Damage& d : survey.damage)
    qz::Out("  at byte %u%s%s: %s\n", unsigned(d.offset + 4), d.section.empty() ? "" : ", in section ",
            d.section.c_str(), d.what.c_str());
  size_t reachable = 0;
  for (const fmt::Survived& s : survey.settings) reachable += s.reachable;
  if (survey.damage.empty()) {
    qz::Out("%s: whole: %u sections, %u settings in %u bytes\n", name.c_str(), unsigned(survey.sections),
            unsigned(survey.settings.size()), unsigned(image.size()));
    return 0;
  }
  qz::Out("%s: damaged in %u place%s; %u settings read whole (%u of them reachable by a lookup)\n", name.c_str(),
          unsigned(survey.damage.size()), survey.damage.size() == 1 ? "" : "s", unsigned(survey.settings.size()),
          unsigned(reachable));
  qz::Out("qz settings %s salvage OUT writes them into a new store\n", name.c_str());
  return 1;
}

int Salvage(const plat::wstring& path, const qz::Args& args) {
  if (args.size() != 1 || args[0].empty()) return qz::Fail("settings", "salvage takes OUT, the new store");
  const plat::wstring& out = args[0];
  if (GetFileAttributesW(out.c_str()) != INVALID_FILE_ATTRIBUTES)
    return qz::Fail("settings", "%s exists: salvage writes a new store", plat::Utf8(out).c_str());
  fmt::Survey survey;
  std::string image;
  if (!SurveyOf(path, survey, image)) return 1;
  Store target(qz::FullPath(out).c_str());
  std::set<std::tuple<std::string, std::string, DWORD>> written;
  size_t count = 0;
  for (const fmt::Survived& s : survey.settings) {
    if (!written.insert({s.section, s.record.name, s.record.header.tag}).second) continue;  // a reader sees the first
    if (!target.WriteSetting(s.section.c_str(), s.record.name, s.record.header.tag, s.record.body,
                             DWORD(s.record.bodySize)))
      return Failed(out, true);
    ++count;
  }
  qz::Out("%s: %u settings written; %u damaged place%s of %s passed over\n", plat::Utf8(out).c_str(),
          unsigned(count), unsigned(survey.damage.size()), survey.damage.size() == 1 ? "" : "s",
          plat::Utf8(path).c_str());
  return 0;
}

int Run(const qz::Args& args) {
  if (args.size() < 2) return qz::Fail("settings", "give a FILE and what to do (qz settings --help)");
  const plat::wstring& path = args[0];
  if (path.empty() || path.size() > MAX_PATH - 1)
    return qz::Fail("settings", "a settings file's path has 1 to 259 characters");
  const std::string what = plat::Utf8(args[1]);
  const qz::Args rest(args.begin() + 2, args.end());
  if (what == "check") return rest.empty() ? Check(path) : qz::Fail("settings", "check takes nothing more");
  if (what == "salvage") return Salvage(path, rest);
  if (what != "list" && what != "get" && what != "set" && what != "rm")
    return qz::Fail("settings", "no action %s: list, get, set, rm, check or salvage (qz settings --help)",
                    what.c_str());
  Store store(path.c_str());  // imports FILE.ini, if there is one
  if (what == "list") return rest.empty() ? List(store, path) : qz::Fail("settings", "list takes nothing more");
  if (what == "get") return GetOne(store, path, rest);
  if (what == "set") return SetOne(store, path, rest);
  return Remove(store, path, rest);
}

const qz::Register reg({"settings", "list, read and change a settings file", kUsage, Run});

}  // namespace
