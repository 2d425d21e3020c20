// Copying one file through a buffer of its own, with optional progress.
#include "fs_internal.h"

using namespace ferrow;

namespace {

constexpr DWORD kBlock = 65536;
constexpr size_t kFullPath = 2 * MAX_PATH;
// The platform's code for a request the caller cancelled (not every target names it).

// True when both names spell the same file: equal by FU_PathCompare, as given
// or once made absolute ("." and ".." resolved, repeated separators folded).
// Links are not followed: two names of one file through a link stay different.
bool SameFile(const WCHAR* a, const WCHAR* b) {
  if (FU_PathCompare(a, b) == 0) return true;
  WCHAR fullA[kFullPath], fullB[kFullPath];
  DWORD na = GetFullPathNameW(a, kFullPath, fullA, nullptr);
  DWORD nb = GetFullPathNameW(b, kFullPath, fullB, nullptr);
  return na && na < kFullPath && nb && nb < kFullPath && FU_PathCompare(fullA, fullB) == 0;
}

HANDLE CreateDestination(const WCHAR* path) {
  return timed::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr);
}

// Creates the destination; when that fails because its directory is missing,
// creates the directory chain and tries once more. The directory is cut from a
// copy, so the caller's text is never written.
HANDLE CreateWithDirectories(const WCHAR* path) {
  HANDLE h = CreateDestination(path);
  if (h != INVALID_HANDLE_VALUE) return h;
  DWORD error = GetLastError();
  const WCHAR* sep = FU_FindLastSeparatorC(path);
  WCHAR dir[MAX_PATH];
  size_t n = sep ? static_cast<size_t>(sep - path) : 0;
  if (!sep || n >= MAX_PATH) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  for (size_t i = 0; i < n; ++i) dir[i] = path[i];
  dir[n] = 0;
  // An existing directory means the creation failed for another reason
  // (access, sharing, a directory of that name): keep its error code.
  if (FU_TestDirExists(dir)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (!FU_CreatePath(dir)) return INVALID_HANDLE_VALUE;
  return CreateDestination(path);
}

struct Progress {
  FU_CopyProgressCallback callback;
  void* context;
  const WCHAR* source;
  const WCHAR* destination;

  // False when the callback cancels, or faults (which counts as a cancel).
  bool Report(ULONGLONG done, ULONGLONG size) const {
    if (!callback) return true;
    const int percent = static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(size));
    int go = 0;
    if (!plat::Guarded([&] { go = callback(source, destination, percent, context); })) go = 0;
    if (!go) SetLastError(ERROR_CANCELLED);
    return go != 0;
  }
};

// Moves every byte of the source in blocks of kBlock. The size is the full
// 64-bit one: a file of 4 GiB or more is copied whole, never cut at the low half.
bool Transfer(HANDLE in, HANDLE out, void* buffer, const Progress& progress) {
  DWORD high = 0;
  SetLastError(NO_ERROR);
  DWORD low = timed::GetFileSize(in, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  const ULONGLONG size = (static_cast<ULONGLONG>(high) << 32) | low;
  for (ULONGLONG done = 0; done < size;) {
    const DWORD n = size - done < kBlock ? static_cast<DWORD>(size - done) : kBlock;
    DWORD got = 0;
    if (!ReadFile(in, buffer, n, &got, nullptr)) return false;
    if (got != n) {  // the source shrank under us: the copy would be short
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    DWORD put = 0;
    if (!WriteFile(out, buffer, n, &put, nullptr)) return false;
    if (put != n) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    done += n;
    if (!progress.Report(done, size)) return false;
  }
  return true;
}

// The source's times go to the open copy, its attributes (read-only included)
// by name. Neither is a reason to fail a copy whose bytes are all there.
void CarryOver(const WCHAR* source, const WCHAR* destination, HANDLE out) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!timed::GetFileAttributesExW(source, GetFileExInfoStandard, &data)) return;
  timed::SetFileTime(out, &data.ftCreationTime, &data.ftLastAccessTime, &data.ftLastWriteTime);
  timed::SetFileAttributesW(destination, data.dwFileAttributes);
}

BOOL Copy(const WCHAR* source, const WCHAR* destination, const Progress& progress) {
  if (!source || !destination || !*source || !*destination) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Creating the destination would empty the source before a byte was read.
  if (SameFile(source, destination)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  void* buffer = VirtualAlloc(nullptr, kBlock, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!buffer) return 0;
  bool ok = false;
  DWORD error = NO_ERROR;
  HANDLE in = timed::CreateFileW(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in != INVALID_HANDLE_VALUE) {
    HANDLE out = CreateWithDirectories(destination);
    if (out != INVALID_HANDLE_VALUE) {
      ok = Transfer(in, out, buffer, progress);
      if (ok) CarryOver(source, destination, out);
      error = GetLastError();
      // Closed before the deletion, so that no partial copy remains.
      timed::CloseHandle(out);
      if (!ok) timed::DeleteFileW(destination);
    } else {
      error = GetLastError();
    }
    timed::CloseHandle(in);
  } else {
    error = GetLastError();
  }
  VirtualFree(buffer, 0, MEM_RELEASE);
  if (!ok) SetLastError(error);
  return ok;
}

}  // namespace

FERROW_API BOOL WINAPI FU_CopyFile(const WCHAR* source, WCHAR* destination) {
  return Copy(source, destination, Progress{nullptr, nullptr, source, destination});
}

FERROW_API BOOL WINAPI FU_CopyFileProgress(const WCHAR* source, WCHAR* destination, FU_CopyProgressCallback callback,
                                           void* context) {
  return Copy(source, destination, Progress{callback, context, source, destination});
}
