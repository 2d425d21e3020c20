// The typed members: each fixes a type tag and a size around ReadSetting and
// WriteSetting; strings, paths, custom types and timecodes add their checks.
#include "settings/store.h"

using pellam::detail::ReadLength;

namespace {

bool IsCustom(DWORD type) { return (type & 0xFC00) == 0; }

// Capacities in characters as byte counts, kept within 32 bits.
DWORD CharBytes(UINT capacity) { return capacity > 0x7FFFFFFFu ? 0xFFFFFFFEu : DWORD(capacity) * 2; }

// A unit the caller's buffer holds; false when it cannot be written.
bool Terminate(WCHAR* buffer, size_t at) {
  return plat::Guarded([&] { buffer[at] = 0; });
}

}  // namespace

// ---- reading ----

int CSetFile::ReadSettingInt(const char* section, const char* name, int& value) {
  return ReadSetting(section, name, kInt, &value, 4);
}

int CSetFile::ReadSettingInt64(const char* section, const char* name, LONGLONG& value) {
  return ReadSetting(section, name, kInt64, &value, 8);
}

int CSetFile::ReadSettingBool(const char* section, const char* name, int& value) {
  return ReadSetting(section, name, kBool, &value, 4);
}

int CSetFile::ReadSettingString(const char* section, const char* name, WCHAR* buffer, UINT capacity) {
  if (!buffer || capacity == 0) return 0;
  if (!ReadSetting(section, name, kString, buffer, CharBytes(capacity))) return 0;
  return Terminate(buffer, capacity - 1) ? 1 : 0;
}

int CSetFile::ReadSettingStringA(const char* section, const char* name, char* buffer, UINT capacity) {
  if (!buffer || capacity == 0) return 0;
  return ReadSetting(section, name, kStringA, buffer, capacity);
}

int CSetFile::ReadSettingStringW(const char* section, const char* name, WCHAR* buffer, UINT capacity) {
  if (!buffer || capacity == 0) return 0;
  return ReadSetting(section, name, kStringW, buffer, capacity);
}

int CSetFile::ReadSettingPath(const char* section, const char* name, WCHAR* buffer) {
  if (!buffer) return 0;
  if (!ReadSetting(section, name, kPath, buffer, MAX_PATH * sizeof(WCHAR))) return 0;
  return Terminate(buffer, MAX_PATH - 1) ? 1 : 0;
}

int CSetFile::ReadSettingGUID(const char* section, const char* name, GUID& value) {
  return ReadSetting(section, name, kGUID, &value, 16);
}

int CSetFile::ReadSettingBin(const char* section, const char* name, void* buffer, DWORD capacity) {
  return ReadSetting(section, name, kBin, buffer, capacity);
}

int CSetFile::ReadSettingCustom(const char* section, const char* name, DWORD type, void* buffer, DWORD capacity) {
  if (!IsCustom(type)) return 0;
  return ReadSetting(section, name, type, buffer, capacity);
}

int CSetFile::ReadSettingTimecode(const char* section, const char* name, timecode& value) {
  if (!ReadSetting(section, name, kTimecode, &value, sizeof(timecode))) return 0;
  value.SetSystem(timecode::NormalizeSystem(value.GetSystem()));
  return 1;
}

int CSetFile::ReadSettingColor(const char* section, const char* name, DWORD& value) {
  return ReadSetting(section, name, kColor, &value, 4);
}

int CSetFile::ReadSettingFont(const char* section, const char* name, LOGFONTW& value) {
  return ReadSetting(section, name, kFont, &value, sizeof(LOGFONTW));
}

int CSetFile::ReadSettingRect(const char* section, const char* name, RECT& value) {
  return ReadSetting(section, name, kRect, &value, sizeof(RECT));
}

int CSetFile::ReadSettingUInt(const char* section, const char* name, UINT& value) {
  return ReadSetting(section, name, kUInt, &value, 4);
}

int CSetFile::ReadSettingUInt64(const char* section, const char* name, ULONGLONG& value) {
  return ReadSetting(section, name, kUInt64, &value, 8);
}

int CSetFile::ReadSettingDWORD(const char* section, const char* name, DWORD& value) {
  return ReadSetting(section, name, kDWORD, &value, 4);
}

// ---- writing ----

int CSetFile::WriteSettingInt(const char* section, const char* name, int value) {
  return WriteSetting(section, name, kInt, &value, 4);
}

int CSetFile::WriteSettingInt64(const char* section, const char* name, LONGLONG value) {
  return WriteSetting(section, name, kInt64, &value, 8);
}

int CSetFile::WriteSettingBool(const char* section, const char* name, int value) {
  return WriteSetting(section, name, kBool, &value, 4);
}

int CSetFile::WriteSettingString(const char* section, const char* name, const WCHAR* value) {
  size_t length;
  if (!ReadLength(value, length) || length >= 0x7FFFFFFF) return 0;
  return WriteSetting(section, name, kString, value, DWORD(length + 1) * 2);
}

int CSetFile::WriteSettingStringA(const char* section, const char* name, const char* value) {
  size_t length;
  if (!ReadLength(value, length) || length >= 0xFFFFFFFF) return 0;
  return WriteSetting(section, name, kStringA, value, DWORD(length + 1));
}

int CSetFile::WriteSettingStringW(const char* section, const char* name, const WCHAR* value) {
  size_t length;
  if (!ReadLength(value, length) || length >= 0x7FFFFFFF) return 0;
  return WriteSetting(section, name, kStringW, value, DWORD(length + 1) * 2);
}

int CSetFile::WriteSettingPath(const char* section, const char* name, const WCHAR* path) {
  if (!path) return 0;
  WCHAR field[MAX_PATH] = {};
  if (!plat::Guarded([&] {
        for (size_t i = 0; i < MAX_PATH - 1 && path[i]; ++i) field[i] = path[i];
      }))
    return 0;
  return WriteSetting(section, name, kPath, field, sizeof field);
}

int CSetFile::WriteSettingGUID(const char* section, const char* name, const GUID& value) {
  return WriteSetting(section, name, kGUID, &value, 16);
}

int CSetFile::WriteSettingBin(const char* section, const char* name, const void* data, DWORD size) {
  return WriteSetting(section, name, kBin, data, size);
}

int CSetFile::WriteSettingCustom(const char* section, const char* name, DWORD type, const void* data, DWORD size) {
  if (!IsCustom(type)) return 0;
  return WriteSetting(section, name, type, data, size);
}

int CSetFile::WriteSettingTimecode(const char* section, const char* name, const timecode& value) {
  return WriteSetting(section, name, kTimecode, &value, sizeof(timecode));
}

int CSetFile::WriteSettingColor(const char* section, const char* name, const DWORD& value) {
  return WriteSetting(section, name, kColor, &value, 4);
}

int CSetFile::WriteSettingFont(const char* section, const char* name, const LOGFONTW& value) {
  return WriteSetting(section, name, kFont, &value, sizeof(LOGFONTW));
}

int CSetFile::WriteSettingRect(const char* section, const char* name, const RECT& value) {
  return WriteSetting(section, name, kRect, &value, sizeof(RECT));
}

int CSetFile::WriteSettingUInt(const char* section, const char* name, UINT value) {
  return WriteSetting(section, name, kUInt, &value, 4);
}

int CSetFile::WriteSettingUInt64(const char* section, const char* name, ULONGLONG value) {
  return WriteSetting(section, name, kUInt64, &value, 8);
}

int CSetFile::WriteSettingDWORD(const char* section, const char* name, DWORD value) {
  return WriteSetting(section, name, kDWORD, &value, 4);
}
