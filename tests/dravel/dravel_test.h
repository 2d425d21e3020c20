// What Dravel's tests share: the text Brellu emits, caught while an object
// lives; UTF-16 text as the bytes of a dump file; memory that ends at an
// inaccessible page, so that a read or write past a buffer faults.
#pragma once

#include <string>

#include "brellu.h"
#include "dravel.h"
#include "support/support.h"

namespace dravel_test {

using U16 = std::u16string;

// Every text Brellu emits while the object lives.
class Capture {
 public:
  Capture() { BrelluSetCapture(&Capture::Take, this); }
  ~Capture() { BrelluSetCapture(nullptr, nullptr); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  const U16& text() const { return text_; }
  int calls() const { return calls_; }
  void Clear() {
    text_.clear();
    calls_ = 0;
  }

 private:
  static void WINAPI Take(DWORD, DWORD, const WCHAR* text, void* self) {
    Capture* c = static_cast<Capture*>(self);
    for (; *text; ++text) c->text_ += static_cast<char16_t>(*text);
    ++c->calls_;
  }
  U16 text_;
  int calls_ = 0;
};

// The bytes of UTF-16LE text.
inline std::string Bytes(const U16& text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

// n bytes that end where an inaccessible page begins (read-only on request).
class EdgeBuffer {
 public:
  explicit EdgeBuffer(size_t n)
      : base_(static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * 65536, MEM_COMMIT, PAGE_READWRITE))) {
    DWORD old;
    VirtualProtect(base_ + 65536, 65536, PAGE_NOACCESS, &old);
    data_ = base_ + 65536 - n;
  }
  ~EdgeBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  EdgeBuffer(const EdgeBuffer&) = delete;
  EdgeBuffer& operator=(const EdgeBuffer&) = delete;

  char* data() { return reinterpret_cast<char*>(data_); }
  void ReadOnly() {
    DWORD old;
    VirtualProtect(base_, 65536, PAGE_READONLY, &old);
  }

 private:
  BYTE* base_;
  BYTE* data_;
};

}  // namespace dravel_test
