// TranslateExportedName over arbitrary names: the text always ends within its
// 256 bytes and nothing is written after them, the name is never changed, a
// name left unchanged comes back as its first 255 bytes, and a rule's text
// of the first two rules is exactly what they write.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dravel.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "translate_name: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);  // cut at its first zero byte when read
  const std::string copy = name;
  char out[256 + 64];
  std::memset(out, 0xA5, sizeof out);
  const BOOL result = TranslateExportedName(name.c_str(), out);
  if (name != copy) Fail("the name changed");
  const char* end = static_cast<const char*>(std::memchr(out, 0, 256));
  if (!end) Fail("the text is not terminated within 256 bytes");
  for (size_t i = 256; i < sizeof out; ++i)
    if (static_cast<unsigned char>(out[i]) != 0xA5) Fail("written past 256 bytes");
  const std::string first = std::string(name.c_str()).substr(0, 255);
  if (!result) {
    if (first != out) Fail("a name left unchanged is not its first 255 bytes");
    if (first[0] != '?') Fail("only names that begin with ? are left unchanged");
  } else if (first[0] == '_') {
    const size_t at = first.rfind('@');
    const std::string expected =
        at == std::string::npos ? "__cdecl " + first.substr(1)
                                : "__stdcall " + first.substr(1, at - 1) + "(" + first.substr(at + 1) + " byte(s))";
    if (expected.substr(0, 255) != out) Fail("an underscore name does not read as its call");
  } else if (first[0] != '?') {
    if (("pascal " + first).substr(0, 255) != out) Fail("a plain name is not \"pascal \" and the name");
  }
  return 0;
}
