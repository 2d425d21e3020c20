// The journal of a save: building it, reading it back, and what it makes of
// the store it lies beside.
#include "settings/journal.h"

#include <algorithm>
#include <cstring>

#ifdef QZ_XXH_DISPATCH
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>
#include <xxh_x86dispatch.h>
#else
#define XXH_INLINE_ALL
#include <xxhash.h>
#endif

namespace pellam {
namespace journal {
namespace {

constexpr size_t kCheckOffset = 40;

DWORD Get32(const Byte* p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }
ULONGLONG Get64(const Byte* p) { return ULONGLONG(Get32(p)) | ULONGLONG(Get32(p + 4)) << 32; }

void Put32(Byte* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = Byte(v >> (8 * i));
}
void Put64(Byte* p, ULONGLONG v) {
  Put32(p, DWORD(v));
  Put32(p + 4, DWORD(v >> 32));
}

ULONGLONG Check(const Byte* journal, DWORD count) {
  return XXH3_64bits_withSeed(journal + kHeaderSize, count, XXH3_64bits(journal, kCheckOffset));
}

}  // namespace

ULONGLONG HashImage(const Byte* content, size_t length, bool empty) {
  if (empty) return XXH3_64bits(nullptr, 0);
  XXH3_state_t state;
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, format::kMagic, format::kMagicSize);
  if (length) XXH3_64bits_update(&state, content, length);
  return XXH3_64bits_digest(&state);
}

void HashOverwrite(const Byte* content, size_t length, size_t at, size_t count, const Byte* before,
                   ULONGLONG& oldHash, ULONGLONG& newHash) {
  XXH3_state_t common, other;
  XXH3_64bits_reset(&common);
  XXH3_64bits_update(&common, format::kMagic, format::kMagicSize);
  if (at) XXH3_64bits_update(&common, content, at);
  XXH3_copyState(&other, &common);
  const size_t rest = length - at - count;
  XXH3_64bits_update(&other, before, count);
  if (rest) XXH3_64bits_update(&other, content + at + count, rest);
  oldHash = XXH3_64bits_digest(&other);
  XXH3_64bits_update(&common, content + at, count);
  if (rest) XXH3_64bits_update(&common, content + at + count, rest);
  newHash = XXH3_64bits_digest(&common);
}

ULONGLONG HashFile(const Byte* image, size_t size) { return XXH3_64bits(image, size); }

void PlanRange(const format::Edit& edit, DWORD oldLength, Header& h) {
  h.oldLength = oldLength;
  if (edit.kind == format::Edit::kOverwrite) {
    h.newLength = oldLength;
    h.at = DWORD(format::kMagicSize + edit.at);
    h.count = edit.valueSize;
    return;
  }
  h.newLength = edit.newLength ? DWORD(format::kMagicSize + edit.newLength) : 0;
  h.at = oldLength ? DWORD(std::min<size_t>(oldLength, format::kMagicSize + edit.firstChange())) : 0;
  h.count = oldLength - h.at;
}

void Build(Header& h, const Byte* old, Byte* out) {
  h.size = DWORD(kHeaderSize + h.count);
  std::memcpy(out, kMagic, 4);
  Put32(out + 4, h.size);
  Put32(out + 8, h.oldLength);
  Put32(out + 12, h.newLength);
  Put32(out + 16, h.at);
  Put32(out + 20, h.count);
  Put64(out + 24, h.oldHash);
  Put64(out + 32, h.newHash);
  if (h.count) std::memcpy(out + kHeaderSize, old, h.count);
  Put64(out + kCheckOffset, Check(out, h.count));
}

bool IsSpent(const Byte* first, size_t size) {
  return size == 0 || (size >= 8 && std::memcmp(first, kMagic, 4) == 0 && Get32(first + 4) == 0);
}

ULONGLONG SpentNames(const Byte* first40) { return Get64(first40 + 32); }

bool IsJournal(const Byte* first, size_t size) { return std::memcmp(first, kMagic, size < 4 ? size : 4) == 0; }

bool Parse(const Byte* journal, size_t size, Header& out) {
  if (size < kHeaderSize || std::memcmp(journal, kMagic, 4) != 0) return false;
  Header h;
  h.size = Get32(journal + 4);
  h.oldLength = Get32(journal + 8);
  h.newLength = Get32(journal + 12);
  h.at = Get32(journal + 16);
  h.count = Get32(journal + 20);
  h.oldHash = Get64(journal + 24);
  h.newHash = Get64(journal + 32);
  if (h.size != size || size - kHeaderSize != h.count) return false;
  if (ULONGLONG(h.at) + h.count > h.oldLength) return false;
  if (Get64(journal + kCheckOffset) != Check(journal, h.count)) return false;
  out = h;
  return true;
}

Verdict Judge(const Header& h, const Byte* journal, const Byte* store, size_t storeSize, Byte* out) {
  if (storeSize == h.newLength && HashFile(store, storeSize) == h.newHash) return Verdict::kSaved;
  // The old image is the store's bytes before `at`, the journal's old bytes,
  // then the store's bytes again up to the old length: the save wrote the
  // same bytes there as were there before.
  const size_t end = size_t(h.at) + h.count;
  if (storeSize < h.at || (end < h.oldLength && storeSize < h.oldLength)) return Verdict::kUnrelated;
  if (h.at) std::memcpy(out, store, h.at);
  if (h.count) std::memcpy(out + h.at, journal + kHeaderSize, h.count);
  if (end < h.oldLength) std::memcpy(out + end, store + end, h.oldLength - end);
  return HashFile(out, h.oldLength) == h.oldHash ? Verdict::kRestore : Verdict::kUnrelated;
}

}  // namespace journal
}  // namespace pellam
