// The watch natively: an O_PATH descriptor, asked with statx.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "../watch.h"
#include "internal.h"

namespace plat {

bool FileWatch::Open(const WCHAR* path) {
  Close();
  std::string native;
  if (!posix::ToNative(path, native)) return false;
  const int fd = open(native.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

void FileWatch::Close() {
  if (handle_ != -1) close(int(handle_));
  handle_ = -1;
}

bool FileWatch::Stamp(const WCHAR*, FileStamp& out, bool times) const {
  if (handle_ == -1) return false;
  struct statx sx;
  const unsigned mask = STATX_NLINK | STATX_SIZE | (times ? STATX_MTIME | STATX_CTIME : 0);
  if (statx(int(handle_), "", AT_EMPTY_PATH, mask, &sx) != 0) return false;
  out.write = out.change = 0;
  if (sx.stx_mask & STATX_MTIME) out.write = posix::ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  if (sx.stx_mask & STATX_CTIME) out.change = posix::ToFileTime(sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec);
  out.size = sx.stx_size;
  out.linked = sx.stx_nlink > 0;
  return true;
}

int SizeByName(const WCHAR* path, ULONGLONG& size) {
  std::string native;
  struct stat st;
  if (!posix::ToNative(path, native) || stat(native.c_str(), &st) != 0) return 0;
  size = S_ISDIR(st.st_mode) ? 0 : ULONGLONG(st.st_size);
  return S_ISDIR(st.st_mode) ? 2 : 1;
}

}  // namespace plat
