// Inside CSetFile: the memory its bodies live in, reading the caller's names
// safely, and the steps every writing operation shares.
#pragma once

#include <cstddef>

#include "pellam.h"
#include "platform/longpath.h"
#include "settings/cache.h"
#include "settings/format.h"
#include "settings/journal.h"

namespace pellam {
namespace detail {

using format::Byte;

// Working blocks (a journal's image, a text being imported) from the process
// heap; null when there is no memory. The cached body is a NewBody (cache.h).
Byte* AllocBlock(size_t size);
void FreeBlock(void* block);

// The caller's name, normalised; false for a null, empty or unreadable name,
// or when there is no memory for the copy.
bool ReadName(const char* raw, format::Name& out) noexcept;
// The length of a caller's string; false when it cannot be read.
bool ReadLength(const char* text, size_t& length) noexcept;
bool ReadLength(const WCHAR* text, size_t& length) noexcept;

inline ULONGLONG Time64(const FILETIME& t) { return ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime; }
inline void ClearTime(FILETIME& t) { t.dwLowDateTime = t.dwHighDateTime = 0; }

// File systems keep last-write times in ticks of their own, from 100 ns up to
// 2 s: a change made in the same tick as the one a cache was read in leaves
// the time as it was. A cache read (or written) at least this long after the
// file's time can no longer be overtaken unseen; a younger one is not trusted.
constexpr ULONGLONG kSettleTime = 2 * 10000000ULL;  // 2 s in 100 ns units

// The last-seen time to keep for a cache that holds the body of a file with
// this last-write time: the time itself once it has settled, else 0 (unknown),
// so that the next access reads the file again.
FILETIME LastSeen(const FILETIME& fileTime);

// True when saves put the journal and then the store on disk before they go
// on (CSetFile::SetFlushWrites).
bool Flushing();

// The journal's name: the store's with "-journal", in a form the system
// takes at that length. get() is null when it cannot be made.
class JournalName : public plat::LongPath {
 public:
  explicit JournalName(const WCHAR* target);
};

// The journal of one save, beside the store (NAME-journal), from before the
// store is rewritten until the store holds its new image. Used with the
// store's file open and its byte lock held, which guards the journal too.
class Journal {
 public:
  Journal(CSetFile& f, const WCHAR* target);
  // A journal not dropped stays for the next one who opens the store.
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Keeps what a save is about to overwrite: `old` holds the old image's
  // h.count bytes from h.at on. False when it could not be written whole.
  bool Write(journal::Header& h, const Byte* old);
  // The store holds a whole image again (the new one, or the old one put
  // back): the journal is spent, and kept for the next save (its handle too,
  // where the system lets a file with open handles go at once).
  void Drop();
  // Spends the journal of `h`, whose file is `size` bytes long: natively its
  // size field is set to 0 in place (a file cut shorter costs the file system
  // far more), on Windows the file is cut to 0 bytes. False when it could not
  // be written.
  static bool Spend(HANDLE h, DWORD& size);
  // True when the journal of `h`, `size` bytes long, is spent; `names`
  // receives the hash of the image its save left, where it still tells.
  static bool IsSpent(HANDLE h, DWORD size, ULONGLONG* names = nullptr);
  // The journal goes with a store that goes.
  static void Remove(const WCHAR* target);

 private:
  CSetFile& f_;
  JournalName path_;
  HANDLE file_;
  DWORD size_ = 0;  // of the journal's file
};

// Writing operations run Update(read and write), edit the cache, then these.
struct Store {
  // At an open, under the byte lock, before anything reads the store: a
  // journal that a save left because it did not end. A writer puts the old
  // image back into the file; a reader, which may not write, takes it into
  // the cache instead. Journals cut short, or that describe another state of
  // the store, are dropped by writers and passed over by readers.
  enum class Recovery { kNone, kFromJournal, kFailed };
  static Recovery Recover(CSetFile& f, bool writable);

  // Makes the file and the cache hold the edited body. On failure the cache
  // keeps the body it had and the file is put back as it was; `cacheIsFile`
  // turns false only when that could not be done.
  static int Commit(CSetFile& f, const format::Edit& edit, bool& cacheIsFile);
  // `oldHash`: the hash of the store's image before the edit, when known.
  static int Overwrite(CSetFile& f, const format::Edit& edit, bool& cacheIsFile, const ULONGLONG* oldHash);
  // The clean-up of a writing operation: a store left empty is deleted (while
  // the file is still held, so that nobody's new setting goes with it), the
  // file is closed, and the last-seen time set to the file's time when the
  // cache is known to hold the file's body, else cleared.
  // `changed`: the operation wrote the file, whose time is then too young to
  // be trusted without asking.
  static void Finish(CSetFile& f, bool cacheIsFile, bool deleteWhenEmpty, bool changed);

  // Under the object's lock: the setting, in a cache brought up to date for
  // reading. False when the file cannot be read, the store is empty, a name is
  // not usable, or there is no such setting.
  static bool Find(CSetFile& f, const char* section, const char* name, DWORD type, format::Record& found) {
    format::Name s, n;
    if (!f.Update(GENERIC_READ) || !f.m_content || !ReadName(section, s) || !ReadName(name, n)) return false;
    const format::Index* index = IndexOf(f.m_content, f.m_contentLength);
    const format::Result r = index ? index->FindSetting(f.m_content, s, n, type, found)
                                   : format::FindSetting(f.m_content, f.m_contentLength, s, n, type, found);
    return r == format::Result::kOk;
  }

  // The change check of a read with a cache (last-seen time set): true when
  // the file is the one the cache was read from. One look at the object's
  // watch over its target while that can tell; else the name is asked.
  static bool Unchanged(CSetFile& f);
  // The last-seen time was just set from the file: the watch notes the file's
  // change stamp to go with it.
  static void Arm(CSetFile& f);
  // The target's last-write time as it is now.
  static bool WriteTimeNow(CSetFile& f, FILETIME& out);
  // The object goes, or names another target.
  static void Disarm(CSetFile& f);

  // The journal's handle that the object kept at its last save or open, when
  // its file is still the journal's and spent (INVALID_HANDLE_VALUE
  // otherwise), with the file's size; and giving one back. Natively only: on
  // Windows an open handle would hold up the deletion of the file, and so the
  // next one of that name. TakeJournal lends only a handle that may write.
  static HANDLE TakeJournal(CSetFile& f, DWORD& size);
  static void KeepJournal(CSetFile& f, HANDLE journal, DWORD size, bool writable);
  static void DropJournal(CSetFile& f);
  // True when the journal's handle that the object keeps is still the
  // journal's, spent (as the object left it or found it).
  static bool JournalAsLeft(CSetFile& f);
  // A writer's open, after JournalAsLeft: true when the store still holds
  // the image the object's last save wrote, which its cache holds, so that
  // the store need not be read again.
  static bool SavedImageStands(CSetFile& f);
  // A save wrote the image of this hash, and the journal was spent and kept.
  static void NoteSaved(CSetFile& f, ULONGLONG imageHash);
  // The cache no longer holds what the last save wrote (or may not).
  static void ForgetSaved(CSetFile& f);
  // At a save: the hash of the store's image as it stands, when this
  // operation's open found it to be the one the last save wrote.
  static bool TakeSavedHash(CSetFile& f, ULONGLONG& hash);

  // SetContent for a file whose image is `oldSize` bytes long now.
  static int WriteImage(CSetFile& f, ULONGLONG oldSize);

  // A deletion: under the object's lock and the file's write lock, plans the
  // edit on the current body and commits it. What is not there is gone
  // already: 1 without a change.
  template <class Plan>
  static int Delete(CSetFile& f, Plan plan) {
    int r = 0;
    f.Enter();
    if (f.m_target[0] && f.Update(GENERIC_READ | GENERIC_WRITE)) {
      bool cacheIsFile = true;
      const format::Edit edit = plan();
      if (!f.m_content || edit.result == format::Result::kNotFound)
        r = 1;
      else if (edit.result == format::Result::kOk)
        r = Commit(f, edit, cacheIsFile);
      Finish(f, cacheIsFile, true, r == 1 && edit.result == format::Result::kOk);
    }
    f.Leave();
    return r;
  }
};

}  // namespace detail
}  // namespace pellam
