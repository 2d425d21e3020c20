// The output channel: each text goes to Brellu's debug print and, while a dump
// file is open, to that file as UTF-16 with CR LF line ends, through a buffer
// of 8192 units that reaches the disk in 16 KB writes, each followed by a
// flush. One dump file per process, written only by the thread that opened it;
// there is no lock (callers do not open or close it while others print).
#include <cstring>

#include "brellu.h"
#include "internal.h"

namespace dravel {

DWORD g_pageSize = 4096;

namespace {

constexpr DWORD kBufferUnits = 8192;
constexpr DWORD kWorkUnits = 2048;  // each text, before and after its line ends are converted
constexpr DWORD kNoThread = 0xFFFFFFFF;
// A converted text always fits the rest of the buffer after one full write.
static_assert(kWorkUnits <= kBufferUnits, "work buffers are smaller than the file buffer");

HANDLE g_file = INVALID_HANDLE_VALUE;
DWORD g_owner = kNoThread;
WCHAR g_buffer[kBufferUnits];
DWORD g_buffered = 0;
bool g_atLineStart = false;

void WriteUnits(const WCHAR* units, DWORD count) {
  DWORD written = 0;
  WriteFile(g_file, units, count * sizeof(WCHAR), &written, nullptr);  // errors lose the text, unreported
}

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }

// Line ends as CR LF: a CR before an LF is dropped (the LF does the work), a
// CR at the start of a line is dropped, any other CR or LF becomes CR LF. Stops
// where the next unit would not fit; returns the units written.
DWORD ConvertLineEnds(const WCHAR* in, DWORD n, WCHAR* out, bool& atLineStart) {
  DWORD k = 0;
  for (DWORD i = 0; i < n; ++i) {
    const WCHAR c = in[i];
    if (c == '\r' && (i + 1 < n && in[i + 1] == '\n')) continue;
    if (c == '\r' && atLineStart) continue;
    if (c == '\r' || c == '\n') {
      if (k + 2 > kWorkUnits) break;
      out[k++] = '\r';
      out[k++] = '\n';
      atLineStart = true;
    } else {
      // A surrogate pair stays whole: its first half is not written without the second.
      if (k + 1 > kWorkUnits || (IsHighSurrogate(c) && k + 2 > kWorkUnits)) break;
      out[k++] = c;
      atLineStart = false;
    }
  }
  return k;
}

void Append(const WCHAR* units, DWORD n) {
  if (g_buffered + n < kBufferUnits) {
    std::memcpy(g_buffer + g_buffered, units, n * sizeof(WCHAR));
    g_buffered += n;
    return;
  }
  const DWORD fill = kBufferUnits - g_buffered;
  std::memcpy(g_buffer + g_buffered, units, fill * sizeof(WCHAR));
  WriteUnits(g_buffer, kBufferUnits);
  g_buffered = n - fill;
  std::memcpy(g_buffer, units + fill, g_buffered * sizeof(WCHAR));
  FlushFileBuffers(g_file);
}

}  // namespace

void CloseDumpFile() { dmp_output(nullptr); }

}  // namespace dravel

using namespace dravel;

DRAVEL_API void WINAPI dmp_output(const WCHAR* path) {
  if (g_file != INVALID_HANDLE_VALUE) {
    if (path) return;  // one dump file at a time
    if (g_buffered) {
      WriteUnits(g_buffer, g_buffered);
      FlushFileBuffers(g_file);
      g_buffered = 0;
    }
    g_owner = kNoThread;
    CloseHandle(g_file);
    g_file = INVALID_HANDLE_VALUE;
    return;
  }
  bool empty = true;
  if (!path || !plat::Guarded([&] { empty = !*path; }) || empty) return;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  if (size.QuadPart == 0) {
    static const BYTE kMark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file, kMark, 2, &written, nullptr);
  } else {
    // Appending keeps UTF-16 units at even offsets: after an odd length the
    // file grows by one padding byte when it is written.
    LARGE_INTEGER end;
    end.QuadPart = size.QuadPart + (size.QuadPart & 1);
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
  }
  g_file = file;
  g_owner = GetCurrentThreadId();
  g_atLineStart = false;
}

DRAVEL_API void dmp_printf(DWORD user, DWORD level, const WCHAR* format, ...) {
  if (g_owner != kNoThread && GetCurrentThreadId() != g_owner) return;
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  wvPrintf(user, level, format, args);
  if (g_file != INVALID_HANDLE_VALUE && format) {
    WCHAR text[kWorkUnits];
    WCHAR converted[kWorkUnits];
    int n = plat::VFormatW(text, kWorkUnits, format, again);
    DWORD length = n < 0 ? 0 : n < int(kWorkUnits) ? DWORD(n) : kWorkUnits - 1;  // a longer text is cut
    if (length && IsHighSurrogate(text[length - 1]) && n > int(length)) --length;  // not half a pair
    Append(converted, ConvertLineEnds(text, length, converted, g_atLineStart));
  }
  va_end(again);
  va_end(args);
}
