// CSetFile's operations on settings and sections: each runs under the
// object's lock on an up-to-date cache; writes rewrite the file whole.
#include <algorithm>
#include <cstring>

#include "ferrow.h"
#include "settings/store.h"

namespace fmt = pellam::format;
using pellam::detail::ClearTime;
using pellam::detail::ReadName;
using pellam::detail::Store;
using pellam::detail::Time64;

namespace pellam {
namespace detail {
namespace {

bool SeekTo(HANDLE h, ULONGLONG offset) {
  LARGE_INTEGER to, at;
  to.QuadPart = LONGLONG(offset);
  return SetFilePointerEx(h, to, &at, FILE_BEGIN) && ULONGLONG(at.QuadPart) == offset;
}

// Bytes [at, at + n) of the file image of a body: the magic, then the body.
void ImageBytes(const Byte* body, ULONGLONG at, size_t n, Byte* out) {
  for (size_t i = 0; i < n; ++i, ++at) out[i] = at < 4 ? fmt::kMagic[at] : body[at - 4];
}

// Makes the file hold the image of `body` again after a failed write. Only
// the pieces that differ are written (a write that failed early changed
// nothing, and a growth is taken back by setting the end alone), so a disk
// that refuses more bytes can still be put right.
bool PutBack(HANDLE h, const Byte* body, DWORD length) {
  const ULONGLONG size = length ? 4ULL + length : 0;
  Byte want[4096], have[4096];
  for (ULONGLONG at = 0; at < size;) {
    const DWORD n = DWORD(std::min<ULONGLONG>(sizeof want, size - at));
    ImageBytes(body, at, n, want);
    DWORD got = 0, put = 0;
    if (!SeekTo(h, at) || !ReadFile(h, have, n, &got, nullptr)) return false;
    if (got != n || std::memcmp(have, want, n) != 0) {
      if (!SeekTo(h, at) || !WriteFile(h, want, n, &put, nullptr) || put != n) return false;
    }
    at += n;
  }
  return SeekTo(h, size) && SetEndOfFile(h);
}

}  // namespace

Byte* AllocBlock(size_t size) {
  if (size == 0) return nullptr;
  return static_cast<Byte*>(HeapAlloc(GetProcessHeap(), 0, size));
}

void FreeBlock(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

FILETIME LastSeen(const FILETIME& fileTime) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (Time64(now) >= Time64(fileTime) + kSettleTime) return fileTime;
  FILETIME unknown;
  ClearTime(unknown);
  return unknown;
}

bool ReadLength(const char* text, size_t& length) noexcept {
  return text && plat::Guarded([&] { length = std::strlen(text); });
}

bool ReadLength(const WCHAR* text, size_t& length) noexcept {
  return text && plat::Guarded([&] { length = plat::WLen(text); });
}

bool ReadName(const char* raw, fmt::Name& out) noexcept {
  size_t length;
  if (!ReadLength(raw, length)) return false;
  try {
    return fmt::Normalize(raw, out);
  } catch (...) {
    return false;  // no memory for the copy
  }
}

namespace {

// The length of the store's file as it stands: the old image's.
bool ImageLength(HANDLE h, DWORD& length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size) || size.QuadPart < 0 || size.QuadPart > 0xFFFFFFFFLL) return false;
  length = DWORD(size.QuadPart);
  return true;
}

// After a failed write: the file holds the old body again, made durable when
// saves flush, and the journal can go; or it could not be put back, and the
// journal stays for whoever opens the store next.
bool PutBackOrKeep(HANDLE h, const Byte* body, DWORD length, Journal& journal) {
  if (!PutBack(h, body, length) || (Flushing() && !FlushFileBuffers(h))) return false;
  journal.Drop();
  return true;
}

}  // namespace

// A value replaced by one of the same size is written over in the cache, its
// old bytes kept aside (and in the journal) until the file is written.
int Store::Overwrite(CSetFile& f, const fmt::Edit& edit, bool& cacheIsFile, const ULONGLONG* oldHash) {
  journal::Header h;
  h.oldLength = f.m_contentLength + DWORD(fmt::kMagicSize);  // a value overwritten lies in a body read just now
  Byte small[64];
  Byte* saved = edit.valueSize <= sizeof small ? small : AllocBlock(edit.valueSize);
  if (!saved) return 0;
  Byte* value = f.m_content + edit.at;
  std::memcpy(saved, value, edit.valueSize);
  journal::PlanRange(edit, h.oldLength, h);
  int r = 0;
  if (plat::Guarded([&] { fmt::Apply(edit, f.m_content); })) {
    if (oldHash) {
      h.oldHash = *oldHash;
      h.newHash = journal::HashImage(f.m_content, f.m_contentLength, false);
    } else {
      journal::HashOverwrite(f.m_content, f.m_contentLength, edit.at, edit.valueSize, saved, h.oldHash, h.newHash);
    }
    Journal j(f, f.m_target);
    r = j.Write(h, saved) && WriteImage(f, h.oldLength);
    if (r) {
      j.Drop();
      NoteSaved(f, h.newHash);
    } else {
      std::memcpy(value, saved, edit.valueSize);
      cacheIsFile = PutBackOrKeep(f.m_file, f.m_content, f.m_contentLength, j);
      if (!cacheIsFile) f.FreeContent();
    }
  } else {
    std::memcpy(value, saved, edit.valueSize);  // the caller's value could not be read
  }
  if (saved != small) FreeBlock(saved);
  return r;
}

int Store::Commit(CSetFile& f, const fmt::Edit& edit, bool& cacheIsFile) {
  cacheIsFile = true;
  ULONGLONG known = 0;
  const bool oldKnown = TakeSavedHash(f, known);
  ForgetSaved(f);
  if (edit.kind == fmt::Edit::kOverwrite) return Overwrite(f, edit, cacheIsFile, oldKnown ? &known : nullptr);
  journal::Header h;
  // The cache was read from the file just now, under the lock: a body tells
  // the file's length (only an empty cache leaves 0 and 4 bytes apart).
  if (f.m_content)
    h.oldLength = f.m_contentLength + DWORD(fmt::kMagicSize);
  else if (!ImageLength(f.m_file, h.oldLength))
    return 0;
  Byte* block = NewBody(edit.newLength);
  if (edit.newLength && !block) return 0;
  // The value comes from the caller: an unreadable one fails the write.
  if (block && !plat::Guarded([&] { fmt::Apply(edit, block); })) {
    FreeBody(block);
    return 0;
  }
  Byte* old = f.m_content;
  const DWORD oldLength = f.m_contentLength;
  Journal j(f, f.m_target);
  // A store emptied is cut to 0 bytes in one step: nothing to put back.
  if (block) {
    journal::PlanRange(edit, h.oldLength, h);
    h.oldHash = oldKnown ? known : journal::HashImage(old, oldLength, h.oldLength == 0);
    h.newHash = journal::HashImage(block, edit.newLength, false);
    if (!j.Write(h, h.count ? ImageOf(old) + h.at : nullptr)) {
      FreeBody(block);
      return 0;
    }
  }
  f.m_content = block;
  f.m_contentLength = DWORD(edit.newLength);
  if (WriteImage(f, h.oldLength)) {
    FreeBody(old);
    j.Drop();
    if (block) NoteSaved(f, h.newHash);
    return 1;
  }
  f.m_content = old;
  f.m_contentLength = oldLength;
  FreeBody(block);
  if (!PutBackOrKeep(f.m_file, old, oldLength, j)) {
    // The file is neither old nor new: forget the cache, read it as it is next time.
    f.FreeContent();
    cacheIsFile = false;
  }
  return 0;
}

void Store::Finish(CSetFile& f, bool cacheIsFile, bool deleteWhenEmpty, bool changed) {
  if (cacheIsFile && deleteWhenEmpty && !f.m_content) {
    // Deleted before the file is let go: a writer that opens it after this
    // finds no file (or, while it is held, cannot open it) and starts a new
    // store, instead of writing into a file that is about to go. A reader
    // that holds it open prevents the delete; the empty file is a valid store.
    DropJournal(f);
    Journal::Remove(f.m_target);
    DeleteFileW(f.m_target);
    f.Close();
    ClearTime(f.m_lastSeen);
    return;
  }
  // The time is taken while the file is held and checked again after it is
  // let go: a writer that got in between leaves another time, and the cache
  // is then read again on the next access.
  // A time too young to be trusted (see kSettleTime), as that of a file just
  // written, needs no look at all.
  FILETIME held, now;
  const bool known =
      cacheIsFile && !changed && GetFileTime(f.m_file, nullptr, nullptr, &held) && Time64(LastSeen(held));
  f.Close();
  if (known && WriteTimeNow(f, now) && Time64(now) == Time64(held))
    f.m_lastSeen = LastSeen(now);
  else
    ClearTime(f.m_lastSeen);
  if (Time64(f.m_lastSeen)) Arm(f);
}

}  // namespace detail
}  // namespace pellam

int CSetFile::ReadSetting(const char* section, const char* name, DWORD type, void* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  int r = 0;
  Enter();
  fmt::Record found;
  if (Store::Find(*this, section, name, type, found)) {
    const size_t count = std::min<size_t>(found.bodySize, size);
    r = plat::Guarded([&] { std::memcpy(buffer, found.body, count); }) ? 1 : 0;
  }
  Leave();
  return r;
}

int CSetFile::WriteSetting(const char* section, const char* name, DWORD type, const void* data, DWORD size) {
  fmt::Name s, n;
  if (!data || size == 0 || type == kSection || !ReadName(section, s) || !ReadName(name, n)) return 0;
  int r = 0;
  Enter();
  if (m_target[0] && Update(GENERIC_READ | GENERIC_WRITE)) {
    bool cacheIsFile = true;
    const fmt::Edit edit = fmt::PlanWrite(m_content, m_contentLength, s, n, type, data, size);
    if (edit.result == fmt::Result::kOk) r = Store::Commit(*this, edit, cacheIsFile);
    Store::Finish(*this, cacheIsFile, false, r == 1);
  }
  Leave();
  return r;
}

int CSetFile::DeleteSetting(const char* section, const char* name, DWORD type) {
  fmt::Name s, n;
  if (!ReadName(section, s) || !ReadName(name, n)) return 0;
  return Store::Delete(*this, [&] { return fmt::PlanDeleteSetting(m_content, m_contentLength, s, n, type); });
}

int CSetFile::DeleteKey(const char* section) {
  fmt::Name s;
  if (!ReadName(section, s)) return 0;
  return Store::Delete(*this, [&] { return fmt::PlanDeleteSection(m_content, m_contentLength, s); });
}

int CSetFile::QueryKey(const char* section) {
  fmt::Name s;
  if (!ReadName(section, s)) return 0;
  int r = 0;
  Enter();
  fmt::Record found;
  if (m_target[0] && Update(GENERIC_READ) && m_content) {
    const fmt::Index* index = pellam::detail::IndexOf(m_content, m_contentLength);
    const fmt::Result found_ = index ? index->FindSection(m_content, s, found)
                                     : fmt::FindSection(m_content, m_contentLength, s, found);
    r = found_ == fmt::Result::kOk;
  }
  Leave();
  return r;
}

DWORD CSetFile::GetSettingSize(const char* section, const char* name, DWORD type) {
  UINT size = 0;
  return GetSettingInfo(section, name, type, size) ? size : 0;
}

int CSetFile::GetSettingInfo(const char* section, const char* name, DWORD type, UINT& size) {
  size = 0;
  int r = 0;
  Enter();
  fmt::Record found;
  if (Store::Find(*this, section, name, type, found)) {
    size = UINT(found.bodySize);
    r = 1;
  }
  Leave();
  return r;
}

// The callbacks run on a private copy, without the object's lock: they may
// use this object, and what they change does not disturb the walk.
int CSetFile::EnumSettings(SetFileEnumProc callback, DWORD context) {
  if (!callback) return 0;
  HANDLE heap = GetProcessHeap();
  fmt::Byte* copy = nullptr;
  DWORD length = 0;
  Enter();
  if (Update(GENERIC_READ) && m_content) {
    copy = static_cast<fmt::Byte*>(HeapAlloc(heap, 0, m_contentLength));
    if (copy) {
      std::memcpy(copy, m_content, m_contentLength);
      length = m_contentLength;
    }
  }
  Leave();
  if (!copy) return 0;

  // A fault or an exception inside a callback ends the walk like a 0.
  auto call = [&](const char* name, DWORD type, const void* data, DWORD size) {
    int goOn = 0;
    bool threw = false;
    const bool clean = plat::Guarded([&] {
      try {
        goOn = callback(name, type, data, size, context);
      } catch (...) {
        threw = true;
      }
    });
    return clean && !threw && goOn != 0;
  };
  const fmt::Walk walk = fmt::WalkSections(copy, length, [&](const fmt::Record& section) {
    if (!call(section.name, kSection, nullptr, 0)) return false;
    return fmt::WalkSettings(copy, section, [&](const fmt::Record& r) {
             return call(r.name, r.header.tag, r.body, DWORD(r.bodySize));
           }) == fmt::Walk::kDone;
  });
  HeapFree(heap, 0, copy);
  return walk == fmt::Walk::kDone ? 1 : 0;
}
