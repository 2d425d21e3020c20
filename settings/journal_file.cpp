// The journal beside the store: written before a save touches the store,
// cut to 0 bytes when the store is whole again, and followed by the next one
// who opens the store when a save did not end.
//
// A process that dies at any point of a save leaves the journal whole in the
// system's cache before the first byte of the store changes, so without any
// flush the store reads as before or after the save. A power cut needs more:
// with flushing on, the journal is on disk before the store is overwritten,
// and the store before the journal goes.
#include <atomic>
#include <cstring>

#include "platform/longpath.h"
#include "platform/watch.h"
#include "settings/store.h"

namespace pellam {
namespace detail {
namespace {

namespace jn = pellam::journal;

std::atomic<int> g_flush{0};

const WCHAR kSuffix[] = TEXT("-journal");

// The store's name and the suffix, for as long as the full expression lasts.
struct Joined {
  WCHAR name[MAX_PATH + sizeof kSuffix / sizeof kSuffix[0]];
  explicit Joined(const WCHAR* target) {
    plat::WCopy(name, MAX_PATH, target);
    plat::WAppend(name, sizeof name / sizeof name[0], kSuffix);
  }
};

bool SeekTo(HANDLE h, ULONGLONG offset) {
  LARGE_INTEGER to, at;
  to.QuadPart = LONGLONG(offset);
  return SetFilePointerEx(h, to, &at, FILE_BEGIN) && ULONGLONG(at.QuadPart) == offset;
}

bool SizeOf(HANDLE h, DWORD& size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(h, &n) || n.QuadPart < 0 || n.QuadPart > 0xFFFFFFFFLL) return false;
  size = DWORD(n.QuadPart);
  return true;
}

// The whole file in a block of its size (null for an empty file).
bool ReadWhole(HANDLE h, Byte*& block, DWORD& size) {
  block = nullptr;
  if (!SizeOf(h, size)) return false;
  if (size == 0) return true;
  block = AllocBlock(size);
  DWORD got = 0;
  if (block && SeekTo(h, 0) && ReadFile(h, block, size, &got, nullptr) && got == size) return true;
  FreeBlock(block);
  block = nullptr;
  return false;
}

// A block that goes with its scope.
struct Owned {
  Byte* p = nullptr;
  ~Owned() { FreeBlock(p); }
};

}  // namespace

bool Flushing() { return g_flush.load() != 0; }

JournalName::JournalName(const WCHAR* target) : LongPath(Joined(target).name) {}

Journal::Journal(CSetFile& f, const WCHAR* target) : f_(f), path_(target), file_(INVALID_HANDLE_VALUE) {}

Journal::~Journal() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool Journal::Write(jn::Header& h, const Byte* old) {
  if (!path_.get()) return false;
  const size_t size = jn::kHeaderSize + size_t(h.count);
  Byte small[512];
  Owned big;
  Byte* image = size <= sizeof small ? small : (big.p = AllocBlock(size));
  if (!image) return false;
  jn::Build(h, old, image);

  // Readers of the store may look at the journal; deleting it is not theirs
  // to refuse. Other objects may keep a handle of it between their saves
  // (which the store's byte lock keeps apart): it is shared for writing too.
  // It is there from the last save, as a rule: asking for the existing file
  // first costs the system one lookup of the name, not two.
  DWORD existing = 0;
  file_ = Store::TakeJournal(f_, existing);  // spent, and nobody's since
  if (file_ == INVALID_HANDLE_VALUE) {
    const DWORD rights = GENERIC_READ | GENERIC_WRITE, share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    file_ = CreateFileW(path_.get(), rights, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
      file_ = CreateFileW(path_.get(), rights, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    // A file of that name that is no journal belongs to somebody else: it is
    // never written over, and the save does not happen.
    Byte magic[4];
    DWORD got = 0;
    if (!SizeOf(file_, existing) ||
        (existing && !(SeekTo(file_, 0) && ReadFile(file_, magic, 4, &got, nullptr) && jn::IsJournal(magic, got)))) {
      CloseHandle(file_);
      file_ = INVALID_HANDLE_VALUE;
      return false;
    }
  }
  size_ = existing;
  // Written over what was there, then cut to its own size where that was
  // longer: until then its size field tells the file's length wrongly, and
  // it reads as a journal cut short.
  DWORD put = 0;
  const bool longer = existing > size;
  bool ok = SeekTo(file_, 0) && WriteFile(file_, image, DWORD(size), &put, nullptr) && put == size &&
            (!longer || SetEndOfFile(file_));
  if (ok) size_ = DWORD(size);
  if (ok && Flushing()) ok = FlushFileBuffers(file_) != 0;
  if (!ok) Drop();  // a journal cut short means nothing; it is spent all the same
  return ok;
}

bool Journal::IsSpent(HANDLE h, DWORD size, ULONGLONG* names) {
  if (size == 0) return true;
  // The size field, and up to the new image's hash that the save left.
  Byte head[jn::kHeaderSize];
  const DWORD want = size >= 40 ? 40 : 8;
  DWORD got = 0;
  if (size < 8 || !SeekTo(h, 0) || !ReadFile(h, head, want, &got, nullptr) || got != want) return false;
  if (!jn::IsSpent(head, got)) return false;
  if (names && want == 40) *names = jn::SpentNames(head);
  return true;
}

bool Journal::Spend(HANDLE h, DWORD& size) {
#ifndef _WIN32
  static const Byte kZero[4] = {};
  DWORD put = 0;
  if (size >= 8 && SeekTo(h, 4) && WriteFile(h, kZero, 4, &put, nullptr) && put == 4) return true;
#endif
  if (!SeekTo(h, 0) || !SetEndOfFile(h)) return false;
  size = 0;
  return true;
}

// The journal is kept and spent rather than deleted: that costs fewer calls,
// and with flushing on its name never has to be made durable again.
void Journal::Drop() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  if (Spend(file_, size_))
    Store::KeepJournal(f_, file_, size_, true);
  else
    CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

void Journal::Remove(const WCHAR* target) {
  const JournalName path(target);
  if (path.get()) DeleteFileW(path.get());
}

Store::Recovery Store::Recover(CSetFile& f, bool writable) {
  const JournalName path(f.m_target);
  if (!path.get()) return Recovery::kFailed;
  // The journal this object spent at its last save, or found spent, as it
  // stands; or none, or one between saves.
  if (JournalAsLeft(f)) return Recovery::kNone;
  DropJournal(f);
  ULONGLONG size = 0;
  if (plat::SizeByName(path.get(), size) != 1 || size == 0) return Recovery::kNone;

  // A journal that cannot be read may be one the store needs: nothing is read
  // or written until it can.
  HANDLE h = CreateFileW(path.get(), writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Recovery::kFailed;
  Owned journal, store, old;
  DWORD journalSize = 0, storeSize = 0;
  if (!ReadWhole(h, journal.p, journalSize)) {
    CloseHandle(h);
    return Recovery::kFailed;
  }
  // Spent by a writer, and kept for the next look (or save).
  auto drop = [&] {
    if (!writable || Journal::Spend(h, journalSize))
      KeepJournal(f, h, journalSize, writable);
    else
      CloseHandle(h);
  };
  jn::Header header;
  if (!jn::Parse(journal.p, journalSize, header)) {
    // Spent, or cut short while it was written: the store was not touched
    // yet. A file that is no journal at all is left alone.
    if (jn::IsJournal(journal.p, journalSize))
      drop();
    else
      CloseHandle(h);
    return Recovery::kNone;
  }
  if (!ReadWhole(f.m_file, store.p, storeSize) || (header.oldLength && !(old.p = AllocBlock(header.oldLength)))) {
    CloseHandle(h);
    return Recovery::kFailed;
  }
  const jn::Verdict verdict = jn::Judge(header, journal.p, store.p, storeSize, old.p);
  if (verdict != jn::Verdict::kRestore) {
    // Saved whole, or no journal of this store as it stands.
    drop();
    return Recovery::kNone;
  }
  if (!writable) {
    CloseHandle(h);
    f.FreeContent();
    if (header.oldLength > 4) {
      f.m_content = NewBody(header.oldLength - 4);
      if (!f.m_content) return Recovery::kFailed;
      std::memcpy(f.m_content, old.p + 4, header.oldLength - 4);
      f.m_contentLength = header.oldLength - 4;
    }
    FILETIME written;
    if (GetFileTime(f.m_file, nullptr, nullptr, &written))
      f.m_lastSeen = LastSeen(written);
    else
      ClearTime(f.m_lastSeen);
    return Recovery::kFromJournal;
  }
  // Only the journal's bytes differ from the old image, and the end.
  DWORD put = 0;
  bool ok = SeekTo(f.m_file, header.at) &&
            (header.count == 0 ||
             (WriteFile(f.m_file, old.p + header.at, header.count, &put, nullptr) && put == header.count)) &&
            SeekTo(f.m_file, header.oldLength) && SetEndOfFile(f.m_file);
  if (ok && Flushing()) ok = FlushFileBuffers(f.m_file) != 0;
  if (!ok) {
    CloseHandle(h);  // the journal stays for the next try
    return Recovery::kFailed;
  }
  drop();
  return Recovery::kNone;
}

}  // namespace detail
}  // namespace pellam

int CSetFile::SetFlushWrites(int flush) { return pellam::detail::g_flush.exchange(flush ? 1 : 0); }
