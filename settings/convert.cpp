// The one-time import of the older text settings file (target + ".ini"): its
// entries are stored through the typed writers, then the text file is deleted.
#include "ferrow.h"
#include "settings/store.h"
#include "settings/textfile.h"

namespace tf = pellam::textfile;
using pellam::detail::AllocBlock;
using pellam::detail::FreeBlock;

namespace {

// Text in the ANSI code page as UTF-16, in a block from the process heap that
// the caller frees; null when it does not convert.
WCHAR* FromAnsi(const char* text) {
  const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  WCHAR* wide = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, size_t(units) * sizeof(WCHAR)));
  if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, units) != units) {
    HeapFree(GetProcessHeap(), 0, wide);
    return nullptr;
  }
  return wide;
}

}  // namespace

int CSetFile::Convert() {
  // The name needs room for ".ini" in a buffer of MAX_PATH units.
  const size_t length = plat::WLen(m_target);
  if (length == 0 || length > MAX_PATH - 5) return 1;
  WCHAR ini[MAX_PATH];
  plat::WCopy(ini, MAX_PATH, m_target);
  plat::WAppend(ini, MAX_PATH, TEXT(".ini"));
  if (!FU_TestFileExists(ini)) return 1;

  HANDLE h = CreateFileW(ini, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0 && size.QuadPart < 0xFFFFFFFFLL) {
      const DWORD bytes = DWORD(size.QuadPart);
      char* text = reinterpret_cast<char*>(AllocBlock(size_t(bytes) + 1));
      DWORD got = 0;
      if (text && ReadFile(h, text, bytes, &got, nullptr) && got == bytes) {
        text[bytes] = 0;
        // Whatever goes wrong inside ends the import quietly; the entries
        // stored so far stay.
        plat::Guarded([&] {
          try {
            ParseData(text);
          } catch (...) {
          }
        });
      }
      FreeBlock(text);
    }
    CloseHandle(h);
  }
  // Imported or not, the text file goes, even when it is read-only.
  const DWORD attributes = GetFileAttributesW(ini);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    const DWORD rest = attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(ini, rest ? rest : FILE_ATTRIBUTE_NORMAL);
  }
  DeleteFileW(ini);
  return 1;
}

void CSetFile::ParseData(char* text) {
  tf::Scan(text, [this](const char* section, const char* name, const char* type, const char* value) {
    SetParsedInfo(section, name, type, value);
  });
}

void CSetFile::SetParsedInfo(const char* section, const char* name, const char* typeText, const char* value) {
  const DWORD type = tf::ReadHex(typeText);
  unsigned char fixed[16];
  if (const DWORD size = tf::ReadFixedValue(type, value, fixed)) {
    WriteSetting(section, name, type, fixed, size);
    return;
  }
  if (type == kStringA) {
    WriteSettingStringA(section, name, value);
    return;
  }
  if (type != kString && type != kStringW && type != kPath && type != kTimecode) return;  // not imported
  WCHAR* wide = FromAnsi(value);
  if (!wide) return;
  switch (type) {
    case kString:
      WriteSettingString(section, name, wide);
      break;
    case kStringW:
      WriteSettingStringW(section, name, wide);
      break;
    case kPath:
      WriteSettingPath(section, name, wide);  // cut to 259 units there
      break;
    case kTimecode: {
      timecode read;
      read = timecode(wide);
      WriteSettingTimecode(section, name, read);
      break;
    }
  }
  HeapFree(GetProcessHeap(), 0, wide);
}
