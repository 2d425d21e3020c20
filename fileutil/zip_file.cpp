// Whole files to and from memory: written compressed or as they are, read and
// restored when they hold a compressed block, and file to file.
//
// Each file is read or written in one system call, with the sequential-access
// hint. These calls go to the system directly, not through the timed layer: a
// whole file is expected to take its time. Every handle and every temporary
// block is given back on every way out. A target is replaced in one step by a
// file written whole beside it, so that it never holds part of its data.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "fs_internal.h"
#include "platform/longpath.h"
#include "zip_block.h"

using namespace ferrow;
using namespace ferrow::zip;

namespace {

// A file that another handle holds without sharing is tried again this often.
constexpr int kOpenAttempts = 3;
constexpr DWORD kRetryPauseMs = 100;
// The longest path the system accepts (with the \\?\ prefix), in UTF-16 units.
constexpr size_t kLongestPath = 32767;

// Opens or creates with the sequential hint. When an attempt meets a sharing
// violation it pauses and tries again, up to `attempts` in all; any other
// error ends the attempts at once.
HANDLE Open(const WCHAR* path, DWORD access, DWORD share, DWORD creation, int attempts) {
  for (int attempt = 1;; ++attempt) {
    HANDLE h = CreateFileW(path, access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE || attempt >= attempts || GetLastError() != ERROR_SHARING_VIOLATION) return h;
    Sleep(kRetryPauseMs);
  }
}

// Readers let other readers in.
HANDLE OpenForReading(const WCHAR* path, int attempts) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, attempts);
}

// A handle, closed when it goes.
class File {
 public:
  explicit File(HANDLE h) : h_(h) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      h_ = other.h_;
      other.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }

  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void Close() {
    if (ok()) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};


// A caller's path copied under the fault guard, so that an unreadable string
// fails here rather than faulting inside the system. Empty when the path is
// missing, empty, unreadable or longer than any the system accepts.
class PathCopy {
 public:
  explicit PathCopy(const WCHAR* path) {
    size_t n = 0;
    if (!path || !plat::Guarded([&] {
          while (n <= kLongestPath && path[n]) ++n;
        }))
      return;
    if (n == 0 || n > kLongestPath) return;
    p_.reset(new (std::nothrow) WCHAR[n + 1]);
    if (p_ && !plat::Guarded([&] { std::memcpy(p_.get(), path, n * sizeof(WCHAR)); })) p_.reset();
    if (p_) p_[n] = 0;
  }
  const WCHAR* get() const { return p_.get(); }

 private:
  std::unique_ptr<WCHAR[]> p_;
};

// The size of an open file. Files of 4 GiB or more are refused: the sizes of
// the memory functions and allocators are 32-bit, and a file read by the low
// half of its size would come back short.
bool SizeOf(HANDLE h, ULONG& size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(h, &n) || n.QuadPart < 0 || n.QuadPart > 0xFFFFFFFFll) return false;
  size = static_cast<ULONG>(n.QuadPart);
  return true;
}

// Reads exactly n bytes in one call from where the file pointer stands.
bool ReadAll(HANDLE h, void* buffer, ULONG n) {
  DWORD got = 0;
  return ReadFile(h, buffer, n, &got, nullptr) && got == n;
}

bool WriteAll(HANDLE h, const void* data, ULONG n) {
  DWORD put = 0;
  return WriteFile(h, data, n, &put, nullptr) && put == n;
}

// A read-only view of a whole open file. The view stays valid when the
// file's handle is closed; empty when the file cannot be mapped.
class View {
 public:
  View(HANDLE file, ULONG size) {
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, size, nullptr);
    if (!mapping) return;
    p_ = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size));
    CloseHandle(mapping);
  }
  ~View() { reset(); }
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  explicit operator bool() const { return p_ != nullptr; }
  unsigned char* get() const { return p_; }
  void reset() {
    if (p_) UnmapViewOfFile(p_);
    p_ = nullptr;
  }

 private:
  unsigned char* p_ = nullptr;
};

// Makes the directory that a target file goes into, parents and all. A target
// without a directory part goes to the current directory (or the root), which
// exists; a target without a file name cannot be written.
bool MakeTargetDirectory(const WCHAR* target, bool create = true) {
  WCHAR dir[MAX_PATH];
  if (!CopyPath(dir, target)) return false;
  WCHAR* name = FU_FindFilename(dir);
  if (!name || !*name) return false;
  *name = 0;
  FU_FormatPath(dir, 0);
  return !*dir || FU_TestDirExists(dir) || (create && FU_CreatePath(dir));
}

// True when the target's directory is there already, so that a file beside
// the target can be made before it is known whether the content will be
// written at all.
bool TargetDirectoryExists(const WCHAR* target) { return MakeTargetDirectory(target, false); }

// Writes the content of a new file into the file itself: makes it `room`
// bytes long, maps it, lets `make` write into the view and say how many bytes
// it made, and cuts the file there. The page cache then holds the content
// once, and no block of memory is taken for it. `make` runs under the fault
// guard: a source that shrinks under its view fails the call. False when the
// file cannot be mapped (nothing is written then) or the content is not made.
template <class Make>
bool FillThroughView(HANDLE file, ULONG room, bool& mapped, Make make) {
  mapped = false;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, room, nullptr);
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, room);
  CloseHandle(mapping);
  if (!view) return false;
  mapped = true;
  ULONG made = 0;
  bool ok = false;
  if (!plat::Guarded([&] { ok = make(static_cast<unsigned char*>(view), made); })) ok = false;
  UnmapViewOfFile(view);
  LARGE_INTEGER end;
  end.QuadPart = made;
  return ok && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Attribute bits a new file takes over from the file it replaces, as a plain
// overwrite keeps them (it adds the archive bit).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A file beside the target for its new content, made anew (CREATE_NEW) so
// that two writers never share one: the target's name, then a number.
class Beside {
 public:
  // `hint`: how the new file will be written (FILE_FLAG_SEQUENTIAL_SCAN or _RANDOM_ACCESS).
  Beside(const WCHAR* target, DWORD hint) : target_(target), hint_(hint) {}
  // Tries names until one is new; INVALID_HANDLE_VALUE when none could be made.
  HANDLE Create() {
    static LONG counter = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
      const DWORD n = DWORD(InterlockedIncrement(&counter)) * 0x9E3779B1u ^ GetCurrentProcessId() ^ GetTickCount();
      WCHAR beside[MAX_PATH + 16];
      plat::FormatW(beside, MAX_PATH + 16, TEXT("%s~%08x.tmp"), target_, unsigned(n));
      name_.reset(new (std::nothrow) plat::LongPath(beside));
      if (!name_ || !name_->get()) return INVALID_HANDLE_VALUE;  // no memory for the name
      // Read access too, so that the content may be written through a view.
      HANDLE h = CreateFileW(name_->get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | hint_, nullptr);
      made_ = h != INVALID_HANDLE_VALUE;
      if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
  }
  const WCHAR* name() const { return name_->get(); }
  // True once a file beside the target was made.
  bool made() const { return made_; }

 private:
  const WCHAR* target_;
  DWORD hint_;
  std::unique_ptr<plat::LongPath> name_;
  bool made_ = false;
};

// Writes a whole file over its target in one step: the new content goes to a
// file beside it, which then takes the target's name. Whoever reads the
// target sees the old content or the new, also when the writer dies on the
// way. The target is held as a plain overwrite would hold it (write access,
// no sharing, `attempts` times on a sharing violation), so that the same
// callers fail and wait as before; the new file gets the creation time and
// attributes a plain overwrite would have left. On failure the target is as
// it was and nothing is left beside it.
//
// `fill` writes the content to the new file. It runs once the target is held,
// or, with `early`, before: for content made from a source that may be the
// target itself, which `fill` lets go before the target is held.
//
// `hint` is how `fill` writes the new file (see Beside).
template <class Fill>
bool WriteTarget(const WCHAR* target, int attempts, bool early, Fill fill, DWORD hint = FILE_FLAG_SEQUENTIAL_SCAN) {
  if (!MakeTargetDirectory(target)) return false;
  Beside beside(target, hint);
  File temp(INVALID_HANDLE_VALUE);
  bool ok = true;
  if (early) {
    temp = File(beside.Create());
    if (!temp.ok()) return false;
    ok = fill(temp.get());
  }
  File held(INVALID_HANDLE_VALUE);
  FILETIME created = {};
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (ok) {
    held = File(Open(target, GENERIC_WRITE, 0, OPEN_EXISTING, attempts));
    if (!held.ok() && GetLastError() != ERROR_FILE_NOT_FOUND) ok = false;
  }
  if (ok && held.ok()) {
    const DWORD old = GetFileAttributesW(target);
    if (!GetFileTime(held.get(), &created, nullptr, nullptr) || old == INVALID_FILE_ATTRIBUTES) ok = false;
    attributes |= old & kKeptAttributes;
  }
  if (ok && !early) {
    temp = File(beside.Create());
    if (!temp.ok()) return false;
    ok = fill(temp.get());
  }
  // What the target looked like matters less than its data: these two are
  // made where they can be, and a failure of either fails nothing.
  if (ok && held.ok()) SetFileTime(temp.get(), &created, nullptr, nullptr);
  temp.Close();
  if (ok && attributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesW(beside.name(), attributes);
  held.Close();
  // A process that opened the target since it was let go holds it now: as
  // with the open, it is given the same pauses to let go.
  for (int attempt = 1; ok && !MoveFileExW(beside.name(), target, MOVEFILE_REPLACE_EXISTING); ++attempt) {
    const DWORD error = GetLastError();
    if (attempt >= attempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) ok = false;
    else Sleep(kRetryPauseMs);
  }
  if (!ok && beside.made()) {
    const DWORD error = GetLastError();
    DeleteFileW(beside.name());
    SetLastError(error);
  }
  return ok;
}

bool WriteTarget(const WCHAR* target, const void* data, ULONG size, int attempts) {
  return WriteTarget(target, attempts, false, [&](HANDLE h) { return WriteAll(h, data, size); });
}

}  // namespace

FERROW_API BOOL WINAPI FU_WriteFile(const WCHAR* path, void* data, ULONG size, int compress) {
  if (!data || size == 0) return 0;
  WCHAR target[MAX_PATH];
  if (!CopyPathGuarded(target, path)) return 0;
  if (!compress) return WriteTarget(target, data, size, kOpenAttempts);
  // With no room beyond the data's own size, a block that does not pay is no result.
  ULONG blockSize = 0;
  Block block(FU_AllocVirtual, FU_ZIPMem(data, size, &blockSize, FU_AllocVirtual));
  if (!block) return 0;
  return WriteTarget(target, block.get(), blockSize, kOpenAttempts);
}

FERROW_API void* WINAPI FU_ReadFile(const WCHAR* path, ULONG* outSize, FU_AllocFunc alloc) {
  if (!outSize || !alloc) return nullptr;
  if (!plat::Guarded([&] { *outSize = 0; })) return nullptr;
  PathCopy source(path);
  if (!source.get()) return nullptr;
  File file(OpenForReading(source.get(), kOpenAttempts));
  ULONG size = 0;
  // An empty file has no data to hand back: no allocator gives 0 bytes.
  if (!file.ok() || !SizeOf(file.get(), size) || size == 0) return nullptr;

  // The first bytes alone tell a compressed file from a plain one.
  unsigned char head[kHeaderSize];
  DWORD got = 0;
  if (!ReadFile(file.get(), head, std::min(size, kHeaderSize), &got, nullptr)) return nullptr;
  const bool compressed = got == kHeaderSize && std::memcmp(head, kMagic, 4) == 0 &&
                          std::memcmp(head + kSecondMagicOffset, kMagic, 4) == 0;

  Block buffer(alloc, size);
  if (!buffer || SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadAll(file.get(), buffer.get(), size))
    return nullptr;
  file.Close();
  if (compressed) return FU_UnZIPMem(buffer.get(), size, outSize, alloc);
  if (!plat::Guarded([&] { *outSize = size; })) return nullptr;
  return buffer.release();
}

// The file to file functions read their source through a view of it, and
// write a result of some size straight into the new file through a view of
// that: the page cache holds each byte once, and no block of memory is taken.
// This needs the target's directory to be there already, since the new file
// is made before it is known whether there is a result (a block that does not
// pay, a stream that does not restore), and a call that fails should make no
// directory. Small files, and files that cannot be mapped, go through blocks.
constexpr ULONG kThroughViews = 65536;

FERROW_API BOOL WINAPI FU_ZIPFile(const WCHAR* target, const WCHAR* source) {
  WCHAR to[MAX_PATH];
  if (!CopyPathGuarded(to, target)) return 0;  // known before the source is read
  PathCopy from(source);
  if (!from.get()) return 0;
  File file(OpenForReading(from.get(), 1));
  ULONG size = 0;
  if (!file.ok() || !SizeOf(file.get(), size) || size == 0) return 0;
  const unsigned long long room = kHeaderSize + WorstCaseStream(size);
  if (size >= kThroughViews && room <= 0xFFFFFFFFull && TargetDirectoryExists(to)) {
    View view(file.get(), size);
    if (view) {
      // The result's length is known only at its end: written through a view
      // of a file opened for random access, only the pages written take
      // memory (else the system maps up to 2 MiB past the result's end).
      return WriteTarget(to, kOpenAttempts, true, [&](HANDLE temp) {
        bool mapped = false;
        // A block that does not pay is no result.
        bool made = FillThroughView(temp, static_cast<ULONG>(room), mapped, [&](unsigned char* out, ULONG& n) {
          n = CompressInto(view.get(), size, out);
          return n <= size;
        });
        if (!mapped) {
          ULONG n = 0;
          Block block(FU_AllocVirtual, FU_ZIPMem(view.get(), size, &n, FU_AllocVirtual));
          made = block && WriteAll(temp, block.get(), n) && SetEndOfFile(temp);
        }
        view.reset();
        file.Close();
        return made;
      }, FILE_FLAG_RANDOM_ACCESS);
    }
  }
  Block data(FU_AllocVirtual, size);
  if (!data || !ReadAll(file.get(), data.get(), size)) return 0;
  file.Close();
  return FU_WriteFile(to, data.get(), size, 1);
}

FERROW_API BOOL WINAPI FU_UnZIPFile(const WCHAR* target, const WCHAR* source) {
  WCHAR to[MAX_PATH];
  if (!CopyPathGuarded(to, target)) return 0;
  PathCopy from(source);
  if (!from.get()) return 0;
  {
    File file(OpenForReading(from.get(), kOpenAttempts));
    ULONG size = 0;
    if (!file.ok() || !SizeOf(file.get(), size) || size == 0) return 0;
    if (size >= kThroughViews && TargetDirectoryExists(to)) {
      View view(file.get(), size);
      ULONG stored = 0;
      if (view && plat::Guarded([&] { stored = StoredSize(view.get(), size); }) && stored) {
        return WriteTarget(to, 1, true, [&](HANDLE temp) {
          bool mapped = false;
          bool made = FillThroughView(temp, stored, mapped, [&](unsigned char* out, ULONG& n) {
            return RestoreInto(view.get(), size, out, stored, n);
          });
          if (!mapped) {
            ULONG n = 0;
            Block block(FU_AllocVirtual, FU_UnZIPMem(view.get(), size, &n, FU_AllocVirtual));
            made = block && WriteAll(temp, block.get(), n) && SetEndOfFile(temp);
          }
          view.reset();
          file.Close();
          return made;
        });
      }
    }
  }
  // A plain source is copied as it is.
  ULONG size = 0;
  Block data(FU_AllocVirtual, FU_ReadFile(from.get(), &size, FU_AllocVirtual));
  if (!data) return 0;
  return WriteTarget(to, data.get(), size, 1);
}
