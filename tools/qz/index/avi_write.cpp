// A small AVI writer for qz's built-in data: one uncompressed video stream,
// a movi list of "00db" chunks and an idx1 that marks every frame a key frame.
#include <initializer_list>

#include "host.h"

namespace qzindex {

namespace {
void Put32(std::string& out, DWORD v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void PutId(std::string& out, const char* id) { out.append(id, 4); }
void Patch32(std::string& out, size_t at, DWORD v) { out.replace(at, 4, reinterpret_cast<const char*>(&v), 4); }
size_t Open(std::string& out, const char* id, const char* type) {
  PutId(out, id);
  size_t at = out.size();
  Put32(out, 0);
  if (type) PutId(out, type);
  return at;
}
void End(std::string& out, size_t at) {
  Patch32(out, at, DWORD(out.size() - at - 4));
  if (out.size() & 1) out += '\0';
}
}  // namespace

std::string SampleAvi(ULONG width, ULONG height, ULONG frames) {
  const ULONG frameBytes = (width * 3 + 3) / 4 * 4 * height;
  std::string out;
  size_t riff = Open(out, "RIFF", "AVI ");
  size_t hdrl = Open(out, "LIST", "hdrl");
  size_t avih = Open(out, "avih", nullptr);
  for (DWORD v : std::initializer_list<DWORD>{40000u, frameBytes * 25, 0u, 0x10u, frames, 0u, 1u, frameBytes, width, height, 0u, 0u, 0u, 0u})
    Put32(out, v);
  End(out, avih);
  size_t strl = Open(out, "LIST", "strl");
  size_t strh = Open(out, "strh", nullptr);
  PutId(out, "vids");
  Put32(out, 0);  // handler: uncompressed
  for (DWORD v : std::initializer_list<DWORD>{0u, 0u, 0u, 1u, 25u, 0u, frames, frameBytes, 0xFFFFFFFFu, 0u, 0u, 0u}) Put32(out, v);
  End(out, strh);
  size_t strf = Open(out, "strf", nullptr);
  for (DWORD v : std::initializer_list<DWORD>{40u, width, height, 0x00180001u, 0u, frameBytes, 0u, 0u, 0u, 0u}) Put32(out, v);
  End(out, strf);
  End(out, strl);
  End(out, hdrl);
  size_t movi = Open(out, "LIST", "movi");
  const size_t moviData = movi + 4;  // idx1 offsets count from the "movi" type
  std::string idx1;
  for (ULONG f = 0; f < frames; ++f) {
    PutId(idx1, "00db");
    Put32(idx1, 0x10);
    Put32(idx1, DWORD(out.size() - moviData));
    Put32(idx1, frameBytes);
    size_t chunk = Open(out, "00db", nullptr);
    for (ULONG i = 0; i < frameBytes; ++i) out += char((i * 7 + f * 13) & 0xFF);
    End(out, chunk);
  }
  End(out, movi);
  size_t idx = Open(out, "idx1", nullptr);
  out += idx1;
  End(out, idx);
  End(out, riff);
  return out;
}

}  // namespace qzindex
