// The cached body's block and the watch that tells when the file changed.
#include "settings/cache.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

#include "ferrow.h"
#include "platform/watch.h"
#include "settings/store.h"

namespace pellam {
namespace detail {
namespace {

// [index pointer][padding][magic][body...]: the body starts 16 bytes in.
constexpr size_t kPrefix = 16;
static_assert(sizeof(format::Index*) + format::kMagicSize <= kPrefix, "the block's header");

Byte* BlockOf(const Byte* body) { return const_cast<Byte*>(body) - kPrefix; }

format::Index* GetIndex(const Byte* body) {
  format::Index* index;
  std::memcpy(&index, BlockOf(body), sizeof index);
  return index;
}

void SetIndex(Byte* body, format::Index* index) { std::memcpy(BlockOf(body), &index, sizeof index); }

}  // namespace

Byte* NewBody(size_t length) {
  if (length == 0 || length > size_t(-1) - kPrefix) return nullptr;
  Byte* block = static_cast<Byte*>(HeapAlloc(GetProcessHeap(), 0, kPrefix + length));
  if (!block) return nullptr;
  Byte* body = block + kPrefix;
  SetIndex(body, nullptr);
  std::memcpy(ImageOf(body), format::kMagic, format::kMagicSize);
  return body;
}

void FreeBody(Byte* body) {
  if (!body) return;
  delete GetIndex(body);
  HeapFree(GetProcessHeap(), 0, BlockOf(body));
}

const format::Index* IndexOf(const Byte* body, size_t length) {
  if (!body) return nullptr;
  if (format::Index* index = GetIndex(body)) return index;
  format::Index* index = new (std::nothrow) format::Index;
  if (!index) return nullptr;
  if (!index->Build(body, length)) {
    delete index;
    return nullptr;
  }
  SetIndex(const_cast<Byte*>(body), index);
  return index;
}

void Reindex(Byte* body) {
  if (!body) return;
  delete GetIndex(body);
  SetIndex(body, nullptr);
}

// ---- the watch over each object's target ----

namespace {

// Descriptors kept between operations, for all objects of the process
// together: beyond this many, objects ask names as they did without them,
// so that a process with thousands of objects does not run out.
constexpr int kMaxKept = 240;
std::atomic<int> g_kept{0};

bool TakeSlot() {
  if (g_kept.fetch_add(1) < kMaxKept) return true;
  --g_kept;
  return false;
}

// A watch that counts against the descriptors kept.
class Watch {
 public:
  Watch() = default;
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;
  ~Watch() { Close(); }
  bool Open(const WCHAR* path) {
    if (!w_.IsOpen() && !TakeSlot()) return false;
    if (w_.Open(path)) return true;
    --g_kept;
    return false;
  }
  void Close() {
    if (!w_.IsOpen()) return;
    w_.Close();
    --g_kept;
  }
  bool IsOpen() const { return w_.IsOpen(); }
  bool Stamp(const WCHAR* path, plat::FileStamp& out, bool times = true) const { return w_.Stamp(path, out, times); }

 private:
  plat::FileWatch w_;
};

struct Watched {
  Watch watch;
  ULONGLONG change = 0;  // the file's change stamp when the last-seen time was taken; 0: unknown
  // The journal's handle from the last save (or the last open that found
  // the journal spent), its file's size then, and a watch that tells whether
  // its file is still the journal's.
  HANDLE journal = INVALID_HANDLE_VALUE;
  DWORD journalSize = 0;
  bool journalWritable = false;
  Watch journalWatch;
  bool journalSlot = false;     // one of the descriptors kept is the journal's handle
  bool journalChecked = false;  // JournalAsLeft found it so at this operation's open
  ULONGLONG journalNames = 0;   // then: the hash of the image its save left (0: unknown)
  // The object's last save, while the cache still holds what it wrote: the
  // image's hash and the store's stamp just after (saved.write 0: none).
  ULONGLONG savedHash = 0;
  plat::FileStamp saved;
  bool savedStands = false;  // SavedImageStands found it so at this operation's open

  Watched() = default;
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;
  ~Watched() { CloseJournal(); }
  void CloseJournal() {
    if (journal != INVALID_HANDLE_VALUE) CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
    journalWatch.Close();
    journalChecked = false;
    if (journalSlot) --g_kept;
    journalSlot = false;
  }
};

std::mutex g_mutex;
std::unordered_map<const CSetFile*, std::unique_ptr<Watched>> g_watched;

// The object's entry; null when there is no memory for one.
Watched* Entry(const CSetFile& f, bool create) {
  try {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_watched.find(&f);
    if (it != g_watched.end()) return it->second.get();
    if (!create) return nullptr;
    return g_watched.emplace(&f, std::make_unique<Watched>()).first->second.get();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

bool Store::Unchanged(CSetFile& f) {
  const ULONGLONG seen = Time64(f.m_lastSeen);
  if (seen == 0) return false;
  plat::FileStamp now;
  if (Watched* w = Entry(f, false)) {
    if (w->change && w->watch.Stamp(f.m_target, now) && now.linked && now.write == seen && now.change == w->change)
      return true;
  }
  // The watch cannot tell (the file was renamed, replaced, or its entry
  // changed): the name is asked, and the watch taken up again.
  FILETIME t;
  if (!FU_GetLastModifyTime(f.m_target, &t) || Time64(t) != seen) return false;
  Arm(f);
  return true;
}

void Store::Arm(CSetFile& f) {
  const ULONGLONG seen = Time64(f.m_lastSeen);
  Watched* w = Entry(f, true);
  if (!w) return;
  w->change = 0;
  if (seen == 0) return;
  plat::FileStamp now;
  for (int round = 0; round < 2; ++round) {
    if (round == 1 || !w->watch.IsOpen()) w->watch.Open(f.m_target);
    if (w->watch.Stamp(f.m_target, now) && now.linked && now.write == seen) {
      w->change = now.change ? now.change : 1;
      return;
    }
  }
}

bool Store::WriteTimeNow(CSetFile& f, FILETIME& out) {
  plat::FileStamp now;
  Watched* w = Entry(f, true);
  if (w && (w->watch.IsOpen() || w->watch.Open(f.m_target)) && w->watch.Stamp(f.m_target, now) && now.linked) {
    out.dwLowDateTime = DWORD(now.write);
    out.dwHighDateTime = DWORD(now.write >> 32);
    return true;
  }
  return FU_GetLastModifyTime(f.m_target, &out) != 0;
}

#ifdef _WIN32
bool Store::JournalAsLeft(CSetFile&) { return false; }
bool Store::SavedImageStands(CSetFile&) { return false; }
void Store::NoteSaved(CSetFile&, ULONGLONG) {}
bool Store::TakeSavedHash(CSetFile&, ULONGLONG&) { return false; }
void Store::ForgetSaved(CSetFile&) {}
HANDLE Store::TakeJournal(CSetFile&, DWORD&) { return INVALID_HANDLE_VALUE; }
void Store::KeepJournal(CSetFile&, HANDLE journal, DWORD, bool) { CloseHandle(journal); }
void Store::DropJournal(CSetFile&) {}
#else
// The journal is deleted only with the store, so a kept file still linked is
// the journal. It stands as it was left when its size is the same and it is
// spent: whoever saved since spent it too, or left a save to put back.
namespace {
bool KeptJournalStands(const Watched& w, ULONGLONG* names) {
  plat::FileStamp now;
  return w.journal != INVALID_HANDLE_VALUE && w.journalWatch.Stamp(nullptr, now, false) && now.linked &&
         now.size == w.journalSize && Journal::IsSpent(w.journal, w.journalSize, names);
}
}  // namespace

bool Store::JournalAsLeft(CSetFile& f) {
  Watched* w = Entry(f, false);
  if (!w) return false;
  w->journalNames = 0;
  w->journalChecked = KeptJournalStands(*w, &w->journalNames);
  return w->journalChecked;
}

// Every save writes the journal first and spends it after, leaving in it the
// hash of the image it wrote. So while the object's kept journal still names
// the image the object's own last save wrote, nobody saved since (or saved
// the very same image); and the store's stamp, unchanged, tells that no one
// wrote it by other means. (A save of another kind, that leaves no hash or
// cuts the journal, makes the writer read the store.)
bool Store::SavedImageStands(CSetFile& f) {
  Watched* w = Entry(f, false);
  plat::FileStamp now;
  if (!w) return false;
  w->savedStands = w->journalChecked && w->savedHash && w->journalNames == w->savedHash && w->saved.write &&
                   w->watch.Stamp(f.m_target, now) && now.linked && now.write == w->saved.write &&
                   now.change == w->saved.change && now.size == w->saved.size &&
                   now.size == (f.m_content ? f.m_contentLength + format::kMagicSize : 0);
  return w->savedStands;
}

bool Store::TakeSavedHash(CSetFile& f, ULONGLONG& hash) {
  Watched* w = Entry(f, false);
  if (!w || !w->savedStands) return false;
  hash = w->savedHash;
  w->savedStands = false;
  return true;
}

void Store::NoteSaved(CSetFile& f, ULONGLONG imageHash) {
  Watched* w = Entry(f, false);
  if (!w || w->journal == INVALID_HANDLE_VALUE) return;  // the journal was not kept: it names nothing
  if (!w->watch.IsOpen() && !w->watch.Open(f.m_target)) return;
  plat::FileStamp now;
  if (!w->watch.Stamp(f.m_target, now) || !now.linked) return;
  w->saved = now;
  w->savedHash = imageHash;
}

void Store::ForgetSaved(CSetFile& f) {
  if (Watched* w = Entry(f, false)) {
    w->savedHash = 0;
    w->saved = plat::FileStamp();
    w->savedStands = false;
  }
}

HANDLE Store::TakeJournal(CSetFile& f, DWORD& size) {
  Watched* w = Entry(f, false);
  if (!w) return INVALID_HANDLE_VALUE;
  if (w->journal == INVALID_HANDLE_VALUE || !w->journalWritable) {
    w->CloseJournal();
    return INVALID_HANDLE_VALUE;
  }
  // Lent out, with its watch kept open for KeepJournal. Seen as left at the
  // open of this operation, under the byte lock that every save holds: as
  // good as seen now. Otherwise it is opened anew, and looked at.
  HANDLE h = INVALID_HANDLE_VALUE;
  const bool checked = w->journalChecked;
  w->journalChecked = false;
  if (checked || KeptJournalStands(*w, nullptr)) {
    h = w->journal;
    size = w->journalSize;
    w->journal = INVALID_HANDLE_VALUE;
  } else {
    w->CloseJournal();
  }
  return h;
}

void Store::KeepJournal(CSetFile& f, HANDLE journal, DWORD size, bool writable) {
  Watched* w = Entry(f, true);
  if (!w) {
    CloseHandle(journal);
    return;
  }
  // A watch still open belongs to the handle TakeJournal lent; a handle
  // opened by name gets a watch opened by name.
  if (w->journal != INVALID_HANDLE_VALUE) CloseHandle(w->journal);
  w->journal = INVALID_HANDLE_VALUE;
  if (!w->journalSlot) w->journalSlot = TakeSlot();
  bool watched = w->journalSlot && w->journalWatch.IsOpen();
  if (w->journalSlot && !watched) {
    const JournalName path(f.m_target);
    watched = path.get() && w->journalWatch.Open(path.get());
  }
  if (!watched) {
    CloseHandle(journal);
    w->CloseJournal();
    return;
  }
  w->journal = journal;
  w->journalSize = size;
  w->journalWritable = writable;
}

void Store::DropJournal(CSetFile& f) {
  if (Watched* w = Entry(f, false)) w->CloseJournal();
}
#endif

void Store::Disarm(CSetFile& f) {
  std::unique_ptr<Watched> gone;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto it = g_watched.find(&f);
  if (it == g_watched.end()) return;
  gone = std::move(it->second);
  g_watched.erase(it);
}

}  // namespace detail
}  // namespace pellam
