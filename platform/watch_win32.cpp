// The watch on Windows: each look is one query of the name's attributes.
#include "platform/watch.h"

namespace plat {

bool FileWatch::Open(const WCHAR* path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  handle_ = GetFileAttributesExW(path, GetFileExInfoStandard, &a) ? 0 : -1;
  return handle_ != -1;
}

void FileWatch::Close() { handle_ = -1; }

bool FileWatch::Stamp(const WCHAR* path, FileStamp& out, bool) const {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (handle_ == -1 || !GetFileAttributesExW(path, GetFileExInfoStandard, &a)) return false;
  out.write = ULONGLONG(a.ftLastWriteTime.dwHighDateTime) << 32 | a.ftLastWriteTime.dwLowDateTime;
  out.change = out.write;
  out.size = ULONGLONG(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
  out.linked = true;
  return true;
}

int SizeByName(const WCHAR* path, ULONGLONG& size) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &a)) return 0;
  size = ULONGLONG(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
  return (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

}  // namespace plat
