// CSetFile's life, its target, the file with its byte lock, and the cache.
#include <cstddef>
#include <cstring>

#include "ferrow.h"
#include "settings/store.h"

using pellam::detail::Byte;
using pellam::detail::ClearTime;
using pellam::detail::FreeBody;
using pellam::detail::ImageOf;
using pellam::detail::NewBody;
using pellam::detail::Store;
using pellam::detail::Time64;

namespace {

constexpr DWORD kReadWait = 5000;    // ms a reader waits for the byte lock
constexpr DWORD kWriteWait = 10000;  // ms a writer waits

bool SeekTo(HANDLE h, ULONGLONG offset) {
  LARGE_INTEGER to, at;
  to.QuadPart = LONGLONG(offset);
  return SetFilePointerEx(h, to, &at, FILE_BEGIN) && ULONGLONG(at.QuadPart) == offset;
}

bool WriteAll(HANDLE h, const void* data, DWORD size) {
  DWORD done = 0;
  return WriteFile(h, data, size, &done, nullptr) && done == size;
}

// The caller's path, cut to 259 units; false when it cannot be read.
bool CopyTarget(WCHAR (&out)[MAX_PATH], const WCHAR* path) {
  return plat::Guarded([&] {
    size_t i = 0;
    for (; i < MAX_PATH - 1 && path[i]; ++i) out[i] = path[i];
    out[i] = 0;
  });
}

}  // namespace

CSetFile::CSetFile(const WCHAR* target)
    : m_file(INVALID_HANDLE_VALUE), m_locked(0), m_content(nullptr), m_contentLength(0) {
  // The members lie in their documented order; on win32 at these offsets.
  static_assert(offsetof(CSetFile, m_target) == 0 && offsetof(CSetFile, m_lock) >= sizeof m_target &&
                    offsetof(CSetFile, m_file) > offsetof(CSetFile, m_lock) &&
                    offsetof(CSetFile, m_locked) > offsetof(CSetFile, m_file) &&
                    offsetof(CSetFile, m_lastSeen) > offsetof(CSetFile, m_locked) &&
                    offsetof(CSetFile, m_content) > offsetof(CSetFile, m_lastSeen) &&
                    offsetof(CSetFile, m_contentLength) > offsetof(CSetFile, m_content),
                "member order");
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(offsetof(CSetFile, m_lock) == 520 && offsetof(CSetFile, m_file) == 544 &&
                    offsetof(CSetFile, m_locked) == 548 && offsetof(CSetFile, m_lastSeen) == 552 &&
                    offsetof(CSetFile, m_content) == 560 && offsetof(CSetFile, m_contentLength) == 564 &&
                    sizeof(CSetFile) == 568,
                "the 32-bit layout");
#endif
  m_target[0] = 0;
  ClearTime(m_lastSeen);
  InitializeCriticalSection(&m_lock);
  SetTarget(target);
}

CSetFile::~CSetFile() {
  Enter();
  Close();
  FreeContent();
  Store::Disarm(*this);
  Leave();
  DeleteCriticalSection(&m_lock);
}

// The target is read under the other object's lock and set under ours; the
// two are never held together, so copies in both directions cannot deadlock.
CSetFile::CSetFile(const CSetFile& other)
    : m_file(INVALID_HANDLE_VALUE), m_locked(0), m_content(nullptr), m_contentLength(0) {
  m_target[0] = 0;
  ClearTime(m_lastSeen);
  InitializeCriticalSection(&m_lock);
  *this = other;
}

CSetFile& CSetFile::operator=(const CSetFile& other) {
  if (&other == this) return *this;
  WCHAR target[MAX_PATH];
  CSetFile& source = const_cast<CSetFile&>(other);
  source.Enter();
  plat::WCopy(target, MAX_PATH, source.m_target);
  source.Leave();
  SetTarget(target[0] ? target : nullptr);
  return *this;
}

void CSetFile::SetTarget(const WCHAR* path) {
  Enter();
  WCHAR cut[MAX_PATH];
  if (!path) {
    m_target[0] = 0;
  } else if (CopyTarget(cut, path) && FU_PathCompare(m_target, cut) != 0) {
    plat::WCopy(m_target, MAX_PATH, cut);
    ClearTime(m_lastSeen);  // the cache belongs to the old target: the next access reloads
    Store::Disarm(*this);
    Convert();
  }
  Leave();
}

void CSetFile::Enter() { EnterCriticalSection(&m_lock); }
void CSetFile::Leave() { LeaveCriticalSection(&m_lock); }

int CSetFile::Open(DWORD access) {
  const bool readOnly = (access & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_READ;
  if (!m_target[0]) return 0;
  if (m_file != INVALID_HANDLE_VALUE) Close();
  const DWORD rights = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  // A writer shares reading only, so a second writer fails at once; it also
  // shares deletion, so that it can remove the store it empties while it
  // still holds it (see Store::Finish).
  const DWORD share = readOnly ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ | FILE_SHARE_DELETE;
  // A writer creates a missing store; it asks for the existing one first,
  // which costs the system one lookup of the name instead of two. Readers
  // read the file through: the hint says so (a writer's few pages gain
  // nothing from it).
  const DWORD creation = readOnly ? OPEN_EXISTING : OPEN_ALWAYS;
  const DWORD flags = readOnly ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileW(m_target, rights, share, nullptr, OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE && !readOnly && GetLastError() == ERROR_FILE_NOT_FOUND)
    h = CreateFileW(m_target, rights, share, nullptr, creation, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE && !readOnly && GetLastError() == ERROR_PATH_NOT_FOUND) {
    WCHAR directory[MAX_PATH];
    plat::WCopy(directory, MAX_PATH, m_target);
    WCHAR* name = FU_FindFilename(directory);
    if (!name || !*name || name == directory) return 0;
    *name = 0;
    if (!FU_CreatePath(directory)) return 0;
    h = CreateFileW(m_target, rights, share, nullptr, creation, flags, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return 0;

  m_file = h;
  m_locked = 0;
  if (!Lock(readOnly ? kReadWait : kWriteWait)) {
    CloseHandle(h);
    m_file = INVALID_HANDLE_VALUE;
    return 0;
  }
  // A save that did not end is dealt with before the store's bytes count.
  switch (Store::Recover(*this, !readOnly)) {
    case Store::Recovery::kFromJournal: return 2;
    case Store::Recovery::kFailed:
      Close();
      ClearTime(m_lastSeen);
      return 0;
    case Store::Recovery::kNone: break;
  }
  // Whether the store is foreign shows when its image is read (GetContent),
  // which every open goes on to do.
  return 1;
}

int CSetFile::Close() {
  if (m_file != INVALID_HANDLE_VALUE) {
    Unlock();
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
  }
  return 1;
}

// The wait is measured as elapsed ticks, so the counter's wrap-around after
// 49.7 days neither ends it at once nor stretches it.
int CSetFile::Lock(DWORD timeout) {
  if (m_locked) return 1;
  if (m_file == INVALID_HANDLE_VALUE) return 0;
  const DWORD start = GetTickCount();
  for (;;) {
    if (LockFile(m_file, 0, 0, 1, 0)) {
      m_locked = 1;
      return 1;
    }
    if (GetTickCount() - start > timeout) return 0;
    Sleep(1);
  }
}

int CSetFile::Unlock() {
  if (m_locked) {
    UnlockFile(m_file, 0, 0, 1, 0);
    m_locked = 0;
  }
  return 1;
}

// Reads cost one time query while the file is unchanged (and its time has
// settled: see kSettleTime). Writes read the body again under the lock: a
// change made within one tick of the file system's clock leaves the time as
// it was, and editing a stale cache would write that change over. Only a
// writer whose journal shows that nobody saved since its own last save keeps
// its cache (Store::SavedImageStands).
int CSetFile::Update(DWORD access) {
  if (!m_target[0]) return 0;
  const bool readOnly = (access & (GENERIC_READ | GENERIC_WRITE)) == GENERIC_READ;
  if (readOnly) {
    if (Store::Unchanged(*this)) return 1;
    const int opened = Open(GENERIC_READ);
    if (!opened) {
      FreeContent();
      ClearTime(m_lastSeen);
      return 0;
    }
    // Into the same block when the size is unchanged; a store left mid-save
    // was read from its journal already.
    int r = 1;
    if (opened != 2) {
      FILETIME written;
      r = GetContent() && GetFileTime(m_file, nullptr, nullptr, &written);
      if (r)
        m_lastSeen = pellam::detail::LastSeen(written);
      else
        ClearTime(m_lastSeen);
    }
    Close();
    if (r && Time64(m_lastSeen)) Store::Arm(*this);
    return r;
  }
  if (!Open(GENERIC_READ | GENERIC_WRITE)) return 0;
  if (Store::SavedImageStands(*this)) return 1;
  if (!GetContent()) {
    Close();
    return 0;
  }
  return 1;
}

// The file's image (magic and body, in one read) replaces the cache; the
// block is reused when its size is unchanged. A foreign file (other first
// bytes, or fewer than four) is refused. On failure the cache is empty and
// the last-seen time cleared, so that the next access reads the file again
// instead of trusting the empty cache. The caller takes the last-seen time.
int CSetFile::GetContent() {
  if (m_file == INVALID_HANDLE_VALUE || !m_locked) return 0;
  Store::ForgetSaved(*this);
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(m_file, &size) && size.QuadPart >= 0 && size.QuadPart <= 0xFFFFFFFFLL &&
            (size.QuadPart == 0 || size.QuadPart >= 4);
  if (ok && size.QuadPart <= 4) {
    BYTE magic[4];
    DWORD got = 0;
    ok = size.QuadPart == 0 || (SeekTo(m_file, 0) && ReadFile(m_file, magic, 4, &got, nullptr) && got == 4 &&
                                std::memcmp(magic, pellam::format::kMagic, 4) == 0);
    if (ok) FreeContent();
  } else if (ok) {
    const DWORD length = DWORD(size.QuadPart - 4);
    const bool reuse = m_content && m_contentLength == length;
    Byte* body = reuse ? m_content : NewBody(length);
    DWORD got = 0;
    ok = body && SeekTo(m_file, 0) && ReadFile(m_file, ImageOf(body), length + 4, &got, nullptr) &&
         got == length + 4 && std::memcmp(ImageOf(body), pellam::format::kMagic, 4) == 0;
    if (reuse) {
      pellam::detail::Reindex(body);
    } else if (ok) {
      FreeContent();
      m_content = body;
      m_contentLength = length;
    } else {
      FreeBody(body);
    }
  }
  if (ok) return 1;
  // Foreign (or unreadable): never read, never written.
  FreeContent();
  ClearTime(m_lastSeen);
  return 0;
}

// The file grows to its new size before any byte is written, so a full disk
// fails here with the old content untouched. A failure leaves the file for the
// caller to put back (Store::Commit) and clears the last-seen time.
int CSetFile::SetContent() {
  if (m_file == INVALID_HANDLE_VALUE || !m_locked) return 0;
  LARGE_INTEGER size;
  if (GetFileSizeEx(m_file, &size)) return Store::WriteImage(*this, ULONGLONG(size.QuadPart));
  ClearTime(m_lastSeen);
  return 0;
}

int pellam::detail::Store::WriteImage(CSetFile& f, ULONGLONG oldSize) {
  if (f.m_file == INVALID_HANDLE_VALUE || !f.m_locked) return 0;
  const ULONGLONG newSize = f.m_contentLength ? 4ULL + f.m_contentLength : 0;
  bool ok = true;
  if (oldSize < newSize) ok = SeekTo(f.m_file, newSize) && SetEndOfFile(f.m_file);
  if (ok && newSize) ok = SeekTo(f.m_file, 0) && WriteAll(f.m_file, ImageOf(f.m_content), DWORD(newSize));
  if (ok && oldSize > newSize) ok = SeekTo(f.m_file, newSize) && SetEndOfFile(f.m_file);
  if (ok && pellam::detail::Flushing()) ok = FlushFileBuffers(f.m_file) != 0;
  if (ok) return 1;
  ClearTime(f.m_lastSeen);
  return 0;
}

void CSetFile::FreeContent() {
  Store::ForgetSaved(*this);
  FreeBody(m_content);
  m_content = nullptr;
  m_contentLength = 0;
}
