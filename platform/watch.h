// A cheap look at one file that is asked again and again whether it changed:
// opened once by name, then each look is one system call that does not
// resolve the name again. Natively the watch holds a path-only descriptor of
// the file (it opens nothing for reading and takes part in no sharing or
// locking); on Windows each look asks for the name's attributes.
#pragma once

#include "platform/win32.h"

namespace plat {

struct FileStamp {
  ULONGLONG write = 0;   // last-write time, as GetFileTime gives it
  ULONGLONG change = 0;  // last change of the file's data or entry (a rename, a link); the write time where none is kept
  ULONGLONG size = 0;
  bool linked = false;   // the file still has a name (natively: the one watched has not been deleted)
};

class PLAT_API FileWatch {
 public:
  FileWatch() = default;
  ~FileWatch() { Close(); }
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // Watches the file the name leads to now; false when there is none.
  bool Open(const WCHAR* path);
  void Close();
  bool IsOpen() const { return handle_ != -1; }
  // The watched file as it is now. `path` is the name it was opened with
  // (Windows looks it up again; natively it is not used). False when the
  // file cannot be asked. Without `times`, write and change may stay 0: a
  // file system that keeps fine times for a file whose times were asked
  // pays for that at its next write.
  bool Stamp(const WCHAR* path, FileStamp& out, bool times = true) const;

 private:
  long long handle_ = -1;
};

// What a name is, with one system call: 1 a file (its size in `size`), 2 a
// directory, 0 nothing that can be asked.
PLAT_API int SizeByName(const WCHAR* path, ULONGLONG& size);

}  // namespace plat
