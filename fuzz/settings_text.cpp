// The scanner of the older text settings file, and the readers of its value
// texts, over arbitrary bytes: everything reported lies inside the buffer and
// ends with its zero byte there.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "settings/textfile.h"

namespace tf = pellam::textfile;

namespace {

struct Buffer {
  const char* begin;
  const char* end;  // the zero byte after the text
};

void Inside(const Buffer& b, const char* s) {
  if (s < b.begin || s > b.end) std::abort();
  if (s + std::strlen(s) > b.end) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = new char[size + 1];
  std::memcpy(text, data, size);
  text[size] = 0;
  Buffer b{text, text + size};
  tf::Scan(text, [&](const char* section, const char* name, const char* type, const char* value) {
    Inside(b, section);
    Inside(b, name);
    Inside(b, type);
    Inside(b, value);
    if (!*value) std::abort();  // a value starts with a byte that is not blank
    unsigned char out[16];
    const DWORD n = tf::ReadFixedValue(tf::ReadHex(type), value, out);
    if (n > 16) std::abort();
    volatile int64_t sink = tf::ReadInt64(value) + tf::ReadRect(value).bottom + tf::ReadGuid(value).Data4[7];
    (void)sink;
  });
  delete[] text;
  return 0;
}
