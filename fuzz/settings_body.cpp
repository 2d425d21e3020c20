// Walks and edits of a settings content block made of arbitrary bytes. The
// block lies in a heap buffer of its exact size, so any read past it is caught;
// a block that walks cleanly must still walk cleanly after every edit, holding
// exactly what the edit says.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "settings/format.h"

namespace fmt = pellam::format;

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

  fmt::Edit write = fmt::PlanWrite(content, length, section, name, tag, value.data(), valueSize);
  if (write.result == fmt::Result::kOk) {
    std::vector<fmt::Byte> after = Applied(write);
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
