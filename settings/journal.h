// The journal of a save: what a save is about to overwrite in the store,
// written beside it (NAME-journal) before the store is touched, and cut to 0
// bytes once the store holds the new image. Pure functions over memory; the files
// and their order of writing are the store's (journal_file.cpp).
//
// A save rewrites the store's whole image (the magic and the content), but
// the bytes it changes start at one offset: before it the old and the new
// image agree. The journal keeps the old image's bytes from there to the end
// of what changes, with the old length, so that a store left half-written
// can be put back. Layout, little-endian:
//
//   0  4  magic "QZSJ"
//   4  4  size of the journal in bytes (header and old bytes)
//   8  4  length of the store's image before the save
//  12  4  length after it
//  16  4  offset in the store of the old bytes kept here
//  20  4  their count
//  24  8  hash of the whole old image
//  32  8  hash of the whole new image
//  40  8  check: the hash of bytes 0..39 and of the old bytes
//  48     the old bytes
//
// A journal whose size field is 0 is spent: its save ended. Natively a save
// spends it in place, and the next save writes over it; its other bytes then
// still tell of the last save. On Windows the file is cut to 0 bytes instead.
//
// A journal whose size or check is wrong was cut short while it was written:
// the store was not touched yet, and the journal means nothing. The two image
// hashes bind the journal to the one save it was made for: a store that holds
// the new image was saved whole; anything else is put back only when the old
// bytes laid over it give exactly the old image. A journal that fits neither
// belongs to another state of the store (or another store) and is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/format.h"

namespace pellam {
namespace journal {

using format::Byte;

constexpr Byte kMagic[4] = {'Q', 'Z', 'S', 'J'};
constexpr size_t kHeaderSize = 48;

struct Header {
  DWORD size = 0;
  DWORD oldLength = 0, newLength = 0;
  DWORD at = 0, count = 0;
  ULONGLONG oldHash = 0, newHash = 0;
};

// The hash of a store's file image: the magic and then `length` content
// bytes; an image of 0 bytes (an empty file) when `empty`.
ULONGLONG HashImage(const Byte* content, size_t length, bool empty);
// The hashes of a store's image before and after `count` bytes at `at` of
// its content were overwritten: `content` holds the new bytes there, `before`
// the old ones. The bytes in front of them are hashed once for both.
void HashOverwrite(const Byte* content, size_t length, size_t at, size_t count, const Byte* before,
                   ULONGLONG& oldHash, ULONGLONG& newHash);
// The same over an image as it lies in a file.
ULONGLONG HashFile(const Byte* image, size_t size);

// The lengths and the range of a save that applies `edit` to a store whose
// file is `oldLength` bytes long: an overwrite keeps the value's old bytes,
// any other edit the old image from its first change to its end.
void PlanRange(const format::Edit& edit, DWORD oldLength, Header& h);

// Writes the journal of a save into `out` (kHeaderSize + h.count bytes): the
// header fields come from `h` (its size is set here); `old` holds the old
// image's h.count bytes from h.at on.
void Build(Header& h, const Byte* old, Byte* out);

// True for the first bytes (8 or more, or the whole file when shorter) of a
// spent journal: empty, or with its size field 0.
bool IsSpent(const Byte* first, size_t size);
// The hash of the new image that a journal spent in place still holds (its
// first 40 bytes): the image the save wrote.
ULONGLONG SpentNames(const Byte* first40);

// True for the first bytes of a journal, whole or cut short (so also for a
// piece of the magic alone): the file is the store's journal and no one else's.
bool IsJournal(const Byte* first, size_t size);

// The header of a journal of `size` bytes; false when it is not a whole
// journal (wrong magic, size or check, or fields that contradict each other).
bool Parse(const Byte* journal, size_t size, Header& out);

enum class Verdict {
  kSaved,     // the store holds the new image: the save ended, keep it
  kRestore,   // the store is put back to the old image (in `out`)
  kUnrelated  // the journal does not describe this store
};

// What a whole journal (Parse succeeded) makes of the store's current file
// image. For kRestore, `out` (room for h.oldLength bytes) receives the old image.
Verdict Judge(const Header& h, const Byte* journal, const Byte* store, size_t storeSize, Byte* out);

}  // namespace journal
}  // namespace pellam
