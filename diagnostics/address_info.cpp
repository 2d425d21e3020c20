// What an address is: its module and the nearest exported functions around it,
// as a record and as a line of text.
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace dravel;

DRAVEL_API BOOL WINAPI GetAddressInfo(DRAVEL_ADDRESS address, AddressInfo* info) {
  if (!info) return FALSE;
  AddressInfo found;
  std::memset(&found, 0, sizeof found);
  Module module;
  const bool known = FindModule(address, module);
  if (known) {
    found.ModuleBase = module.base;
    std::memcpy(found.ModuleName, module.name, sizeof found.ModuleName);
    Nearest nearest;
    FindNearestExports(module.base, address, nearest);
    if (nearest.below != Nearest::kNone) {
      std::memcpy(found.ExportBelow, nearest.belowName, sizeof found.ExportBelow);
      found.DistanceBelow = nearest.below;
    }
    if (nearest.above != Nearest::kNone) {
      std::memcpy(found.ExportAbove, nearest.aboveName, sizeof found.ExportAbove);
      found.DistanceAbove = nearest.above;
    }
  }
  if (!plat::Guarded([&] { std::memcpy(info, &found, sizeof found); })) return FALSE;
  return known ? TRUE : FALSE;
}

DRAVEL_API BOOL WINAPI GetAddressInfoString(DRAVEL_ADDRESS address, WCHAR* text, const AddressInfo* info) {
  if (!text) return FALSE;
  WCHAR line[DRAVEL_ADDRESS_TEXT];
  plat::FormatW(line, DRAVEL_ADDRESS_TEXT, TEXT("<No address info: ") DRAVEL_X8 TEXT(">"), address);
  AddressInfo a;
  bool have = info ? plat::Guarded([&] { std::memcpy(&a, info, sizeof a); }) : GetAddressInfo(address, &a) != 0;
  if (have) {
    // A record from the caller may lack terminators: the precisions keep the
    // text within its longest form.
    a.ModuleName[sizeof a.ModuleName - 1] = a.ExportBelow[sizeof a.ExportBelow - 1] =
        a.ExportAbove[sizeof a.ExportAbove - 1] = 0;
    const DRAVEL_ADDRESS offset = address - a.ModuleBase;
    size_t n = 0;
    auto Add = [&](const WCHAR* format, auto... args) {
      int k = plat::FormatW(line + n, DRAVEL_ADDRESS_TEXT - n, format, args...);
      n = k < 0 ? n : std::min<size_t>(n + k, DRAVEL_ADDRESS_TEXT - 1);
    };
    Add(TEXT("%hs ["), a.ModuleName);
    if (a.ExportBelow[0])
      Add(TEXT("%hs + %u bytes,"), a.ExportBelow, a.DistanceBelow);
    else
      Add(DRAVEL_X8 TEXT(" + ") DRAVEL_u TEXT(" bytes,"), a.ModuleBase, offset);
    if (a.ExportAbove[0])
      Add(TEXT("%hs - %u bytes]"), a.ExportAbove, a.DistanceAbove);
    else
      Add(DRAVEL_X8 TEXT(" + ") DRAVEL_u TEXT(" bytes]"), a.ModuleBase, offset);
  }
  if (!plat::Guarded([&] { std::memcpy(text, line, (plat::WLen(line) + 1) * sizeof(WCHAR)); })) return FALSE;
  return have ? TRUE : FALSE;
}
