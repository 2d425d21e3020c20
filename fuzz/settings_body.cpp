// Walks and edits of a settings content block made of arbitrary bytes. The
// block lies in a heap buffer of its exact size, so any read past it is caught;
// a block that walks cleanly must still walk cleanly after every edit, holding
// exactly what the edit says. The same bytes are read as a journal beside the
// store (ignored, or putting back exactly the image it names) and surveyed as
// a damaged store; each write's own journal, over the store cut where the
// input says, puts back exactly the old image, and is ignored once cut or changed.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "settings/format.h"
#include "settings/journal.h"
#include "settings/survey.h"

namespace fmt = pellam::format;
namespace jn = pellam::journal;

namespace {

const char* const kSections[] = {"S", "VIDEO", "ab"};
const char* const kNames[] = {"A", "WIDTH", "x y"};
const DWORD kTags[] = {CSetFile::kInt, CSetFile::kString, CSetFile::kStringW, 0x0007};

void Check(bool ok) {
  if (!ok) std::abort();
}

// Visits every record and touches every byte a caller may look at.
bool WalksCleanly(const fmt::Byte* content, size_t length) {
  unsigned sum = 0;
  bool clean = true;
  fmt::Walk w = fmt::WalkSections(content, length, [&](const fmt::Record& sec) {
    sum += unsigned(std::strlen(sec.name));
    fmt::Walk inner = fmt::WalkSettings(content, sec, [&](const fmt::Record& r) {
      sum += unsigned(std::strlen(r.name));
      for (size_t i = 0; i < r.bodySize; ++i) sum += r.body[i];
      return true;
    });
    clean = clean && inner == fmt::Walk::kDone;
    return true;
  });
  volatile unsigned sink = sum;
  (void)sink;
  return clean && w == fmt::Walk::kDone;
}

// The new block in a buffer of its exact size (null for an empty content).
std::vector<fmt::Byte> Applied(const fmt::Edit& e) {
  std::vector<fmt::Byte> out(e.newLength);
  fmt::Apply(e, out.data());
  return out;
}

// The file image of a content block: the magic and the content, or nothing.
std::vector<fmt::Byte> Image(const fmt::Byte* content, size_t length, bool empty) {
  std::vector<fmt::Byte> image;
  if (empty) return image;
  image.assign(fmt::kMagic, fmt::kMagic + 4);
  image.insert(image.end(), content, content + length);
  return image;
}

// What a journal of these bytes makes of this store: nothing, or exactly the
// image it says the store had, read within the buffers.
jn::Verdict Follow(const std::vector<fmt::Byte>& journal, const std::vector<fmt::Byte>& store,
                   std::vector<fmt::Byte>& out) {
  jn::Header h;
  if (!jn::Parse(journal.data(), journal.size(), h)) return jn::Verdict::kUnrelated;
  out.assign(h.oldLength, 0);
  const jn::Verdict v = jn::Judge(h, journal.data(), store.data(), store.size(), out.data());
  if (v == jn::Verdict::kRestore) Check(jn::HashFile(out.data(), out.size()) == h.oldHash);
  return v;
}

// A save of `edit` from `before` to `after`, cut in the store at byte `cut`
// and in its journal as the input says: the journal, whole, puts back exactly
// the old image; cut short or changed, it is passed over.
void Journaled(const fmt::Edit& edit, const std::vector<fmt::Byte>& before, const std::vector<fmt::Byte>& after,
               size_t cut, size_t journalCut, fmt::Byte flip) {
  jn::Header h;
  jn::PlanRange(edit, DWORD(before.size()), h);
  h.oldHash = jn::HashFile(before.data(), before.size());
  h.newHash = jn::HashFile(after.data(), after.size());
  std::vector<fmt::Byte> journal(jn::kHeaderSize + h.count);
  jn::Build(h, before.data() + h.at, journal.data());
  // The store as the save leaves it at that point: grown first, then written from the start.
  std::vector<fmt::Byte> torn(std::max(before.size(), after.size()), 0);
  std::copy(before.begin(), before.end(), torn.begin());
  cut %= after.size() + 1;
  std::copy(after.begin(), after.begin() + cut, torn.begin());
  if (cut == after.size()) torn.resize(after.size());
  std::vector<fmt::Byte> out;
  const jn::Verdict v = Follow(journal, torn, out);
  Check(v == jn::Verdict::kSaved ? torn == after : v == jn::Verdict::kRestore && out == before);
  std::vector<fmt::Byte> bad = journal;
  bad.resize(journalCut % (journal.size() + 1));
  if (!bad.empty() && flip) bad[flip % bad.size()] ^= flip;
  if (bad != journal) Check(Follow(bad, torn, out) == jn::Verdict::kUnrelated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const fmt::Name section = [&] {
    fmt::Name n;
    fmt::Normalize(kSections[data[0] % 3], n);
    return n;
  }();
  const fmt::Name name = [&] {
    fmt::Name n;
    fmt::Normalize(kNames[data[1] % 3], n);
    return n;
  }();
  const DWORD tag = kTags[data[2] % 4];
  const DWORD valueSize = 1 + data[3] % 24;
  std::vector<fmt::Byte> value(valueSize, data[3]);

  const size_t length = size - 4;
  fmt::Byte* content = length ? new fmt::Byte[length] : nullptr;
  if (length) std::memcpy(content, data + 4, length);
  const bool clean = WalksCleanly(content, length);

  fmt::Record found;
  fmt::FindSetting(content, length, section, name, tag, found);

  // Any bytes as a journal of this store, and the damaged-store survey.
  {
    std::vector<fmt::Byte> out;
    const std::vector<fmt::Byte> store = Image(content, length, length == 0);
    Follow(std::vector<fmt::Byte>(data, data + size), store, out);
    const fmt::Survey survey = fmt::SurveyContent(content, length);
    for (const fmt::Survived& v : survey.settings) Check(v.record.end() <= length && v.record.bodySize >= 1);
  }

  fmt::Edit write = fmt::PlanWrite(content, length, section, name, tag, value.data(), valueSize);
  if (write.result == fmt::Result::kOk) {
    std::vector<fmt::Byte> after = Applied(write);
    if (clean)
      Journaled(write, Image(content, length, length == 0), Image(after.data(), after.size(), false), data[0] * 7u,
                data[1] * 13u, data[2]);
    if (clean) {
      Check(WalksCleanly(after.data(), after.size()));
      fmt::Record r;
      Check(fmt::FindSetting(after.data(), after.size(), section, name, tag, r) == fmt::Result::kOk);
      Check(r.bodySize == valueSize && std::memcmp(r.body, value.data(), valueSize) == 0);
    }
  } else if (clean) {
    Check(write.result != fmt::Result::kCorrupt);
  }

  fmt::Edit del = fmt::PlanDeleteSetting(content, length, section, name, tag);
  if (del.result == fmt::Result::kOk) {
    std::vector<fmt::Byte> after = Applied(del);
    if (clean) {
      Check(WalksCleanly(after.data(), after.size()));
      Check(after.size() < length);
    }
  }

  fmt::Edit drop = fmt::PlanDeleteSection(content, length, section);
  if (drop.result == fmt::Result::kOk) {
    std::vector<fmt::Byte> after = Applied(drop);
    if (clean) {
      fmt::Record r;
      Check(WalksCleanly(after.data(), after.size()));
      Check(fmt::FindSection(after.data(), after.size(), section, r) != fmt::Result::kCorrupt);
    }
  }

  delete[] content;
  return 0;
}
