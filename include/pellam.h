// Pellam: CSetFile, a store of typed settings in named sections, kept in one
// binary file that threads and processes share.
//
// Every operation runs under the object's recursive lock, and every object in
// every process that uses the file meets at a one-byte lock at offset 0 of the
// file: readers wait up to 5 s for it, writers up to 10 s. A writer opens the
// file sharing it for reading only, so a second writer fails at once instead
// of waiting. Between operations the file is closed; the object keeps its body
// cached and reads it again only when the file's last-write time changed
// (natively it keeps a path-only descriptor of the file to ask that cheaply,
// and the handle of its journal, empty, for its next save).
// Writers always read the body again under the lock before changing it, so a
// change that left the time stamp as it was is never written over.
//
// Names of sections and settings are single-byte strings, compared and stored
// upper-cased (a..z only). A setting is found by its section, its name and its
// type together. Results are 1 for success and 0 for failure; nothing throws.
#pragma once

#include "platform/win32.h"

#include "brellu.h"

#ifdef _WIN32
#ifdef PELLAM_BUILD
#define PELLAM_EXPORT __declspec(dllexport)
#else
#define PELLAM_EXPORT __declspec(dllimport)
#endif
#else
#define PELLAM_EXPORT __attribute__((visibility("default")))
#endif

// Called by EnumSettings for each section (type 0xFC00, no data) and then for
// each of its settings. `name` and `data` point into a private copy that lives
// only during the call. Return 0 to stop.
typedef int(WINAPI* SetFileEnumProc)(const char* name, DWORD type, const void* data, DWORD size, DWORD context);

namespace pellam {
namespace detail {
struct Store;
}
}  // namespace pellam

class PELLAM_EXPORT CSetFile {
 public:
  // Type tags of the stored values; a type with bits 10 to 15 clear is the
  // caller's own (ReadSettingCustom, WriteSettingCustom).
  enum : DWORD {
    kInt = 0x0400,
    kInt64 = 0x0800,
    kBool = 0x0C00,
    kString = 0x1000,
    kStringA = 0x1400,
    kStringW = 0x1800,
    kPath = 0x1C00,
    kGUID = 0x2000,
    kBin = 0x2400,
    kTimecode = 0x2800,
    kColor = 0x2C00,
    kFont = 0x3000,
    kRect = 0x3400,
    kUInt = 0x3800,
    kUInt64 = 0x3C00,
    kDWORD = 0x4000,
    kSection = 0xFC00,
  };

  // A target (zero-terminated, null for none) is set as by SetTarget.
  CSetFile(const WCHAR* target = nullptr);
  ~CSetFile();
  // A copy, and the assigned object, take over the other's target only: each
  // object keeps its own lock, file handle and cache, so nothing is shared
  // that would be released twice.
  CSetFile(const CSetFile& other);
  CSetFile& operator=(const CSetFile& other);

  // Saves survive the end of their process at any point: a save first keeps
  // what it overwrites in a journal beside the store (NAME-journal, empty
  // between saves), and whoever opens the store next puts back a save that
  // did not end. With
  // flushing on (off by default), each save also waits until the journal and
  // then the store are on disk, so that a power cut keeps every acknowledged
  // write too. For every object of the process; returns the previous setting.
  static int SetFlushWrites(int flush);

  // Names the settings file; at most 259 units are kept. A path naming the
  // current target (letter case and slashes aside) changes nothing; a new one
  // imports, once, an older text settings file named target + ".ini".
  void SetTarget(const WCHAR* path);

  // 1 when the setting is gone, also when it never existed.
  int DeleteSetting(const char* section, const char* name, DWORD type);
  // 1 when the section is gone with all its settings, also when it never existed.
  int DeleteKey(const char* section);
  // 1 when the section exists.
  int QueryKey(const char* section);
  // The length of the stored value in bytes; 0 when there is none.
  DWORD GetSettingSize(const char* section, const char* name, DWORD type);
  // 1 and the value's length; 0 with size 0 when there is none.
  int GetSettingInfo(const char* section, const char* name, DWORD type, UINT& size);
  // Calls back for every section and setting in stored order; the object's
  // lock is not held during the calls, so they may use this object. 1 when all
  // were visited; 0 when stopped, on an empty store, or when a callback faulted.
  int EnumSettings(SetFileEnumProc callback, DWORD context);

  // Typed reads copy at most the value's size and leave the rest of the
  // destination as it was; they succeed only for a setting of the same type.
  int ReadSettingInt(const char* section, const char* name, int& value);
  int ReadSettingInt64(const char* section, const char* name, LONGLONG& value);
  int ReadSettingBool(const char* section, const char* name, int& value);
  // capacity in characters; the buffer is always terminated at capacity - 1.
  int ReadSettingString(const char* section, const char* name, WCHAR* buffer, UINT capacity);
  // capacity in bytes; the stored bytes only, no terminator added.
  int ReadSettingStringA(const char* section, const char* name, char* buffer, UINT capacity);
  int ReadSettingStringW(const char* section, const char* name, WCHAR* buffer, UINT capacity);
  // buffer of MAX_PATH units, terminated at unit 259.
  int ReadSettingPath(const char* section, const char* name, WCHAR* buffer);
  int ReadSettingGUID(const char* section, const char* name, GUID& value);
  int ReadSettingBin(const char* section, const char* name, void* buffer, DWORD capacity);
  // 0 when the type is not a custom one (any of bits 10 to 15 set).
  int ReadSettingCustom(const char* section, const char* name, DWORD type, void* buffer, DWORD capacity);
  // The time system read is normalised, so old values come back valid.
  int ReadSettingTimecode(const char* section, const char* name, timecode& value);
  int ReadSettingColor(const char* section, const char* name, DWORD& value);
  int ReadSettingFont(const char* section, const char* name, LOGFONTW& value);
  int ReadSettingRect(const char* section, const char* name, RECT& value);
  int ReadSettingUInt(const char* section, const char* name, UINT& value);
  int ReadSettingUInt64(const char* section, const char* name, ULONGLONG& value);
  int ReadSettingDWORD(const char* section, const char* name, DWORD& value);

  // Typed writes: 1 when the file was written.
  int WriteSettingInt(const char* section, const char* name, int value);
  int WriteSettingInt64(const char* section, const char* name, LONGLONG value);
  int WriteSettingBool(const char* section, const char* name, int value);
  int WriteSettingString(const char* section, const char* name, const WCHAR* value);
  int WriteSettingStringA(const char* section, const char* name, const char* value);
  int WriteSettingStringW(const char* section, const char* name, const WCHAR* value);
  // Stored in a field of MAX_PATH units; longer paths are cut to 259 units.
  int WriteSettingPath(const char* section, const char* name, const WCHAR* path);
  int WriteSettingGUID(const char* section, const char* name, const GUID& value);
  int WriteSettingBin(const char* section, const char* name, const void* data, DWORD size);
  int WriteSettingCustom(const char* section, const char* name, DWORD type, const void* data, DWORD size);
  int WriteSettingTimecode(const char* section, const char* name, const timecode& value);
  int WriteSettingColor(const char* section, const char* name, const DWORD& value);
  int WriteSettingFont(const char* section, const char* name, const LOGFONTW& value);
  int WriteSettingRect(const char* section, const char* name, const RECT& value);
  int WriteSettingUInt(const char* section, const char* name, UINT value);
  int WriteSettingUInt64(const char* section, const char* name, ULONGLONG value);
  int WriteSettingDWORD(const char* section, const char* name, DWORD value);

 protected:
  // The generic forms behind the typed members.
  int ReadSetting(const char* section, const char* name, DWORD type, void* buffer, DWORD size);
  int WriteSetting(const char* section, const char* name, DWORD type, const void* data, DWORD size);

 private:
  friend struct pellam::detail::Store;

  void Enter();
  void Leave();
  // access: GENERIC_READ, or GENERIC_READ | GENERIC_WRITE. 2 for a read-only
  // open of a store a save left half-written: the cache then holds the body
  // from before that save, taken from its journal.
  int Open(DWORD access);
  int Close();
  int Lock(DWORD timeout);
  int Unlock();
  // Brings the cache up to date; for writing, leaves the file open and locked.
  int Update(DWORD access);
  int GetContent();
  int SetContent();
  void FreeContent();

  // The one-time import of the older text file.
  int Convert();
  void ParseData(char* text);
  void SetParsedInfo(const char* section, const char* name, const char* type, const char* value);

  WCHAR m_target[MAX_PATH];   // empty: no target
  CRITICAL_SECTION m_lock;    // recursive; held for the whole of each operation
  HANDLE m_file;              // INVALID_HANDLE_VALUE when closed
  int m_locked;               // 1 while the byte at offset 0 is locked
  FILETIME m_lastSeen;        // the file's last-write time the cache belongs to; 0: unknown
  BYTE* m_content;            // the cached body: the file from offset 4 on
  DWORD m_contentLength;
};
