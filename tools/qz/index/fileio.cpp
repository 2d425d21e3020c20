// qz's IFileIO over real files.
#include <algorithm>
#include <cstring>

#include "host.h"

namespace qzindex {

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

FileIO* FileIO::Create(const wstring& path, const wstring& media) { return new FileIO(path, media); }

FileIO::FileIO(const wstring& path, const wstring& media) : m_path(path), m_media(media) {}

FileIO::~FileIO() { Close(); }

void FileIO::AddRef() { InterlockedIncrement(&m_refs); }

LONG FileIO::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) delete this;
  return left;
}

IFileIO* FileIO::DataIO() { return m_media.empty() ? nullptr : Create(m_media); }

bool FileIO::Fail() {
  if (!m_error) m_error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
  return false;
}

// Reading shares the file with readers and writers elsewhere (a writer may be
// extending it); writing shares it with readers only.
bool FileIO::Handle(bool write) {
  if (m_file != INVALID_HANDLE_VALUE && (m_writable || !write)) return true;
  if (m_file != INVALID_HANDLE_VALUE) {
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
  }
  m_readLength = 0;
  m_file = write ? CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr)
                 : CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_file == INVALID_HANDLE_VALUE) return Fail();
  m_writable = write;
  return true;
}

bool FileIO::Open(ULONG mode) {
  Close();
  if (mode != kOpenRead && mode != kOpenWrite) return false;
  if (mode == kOpenWrite) {
    m_file = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return Fail();
    m_writable = true;
  } else if (!Handle(false)) {
    return false;
  }
  m_buffered = true;
  m_buffer.resize(kBufferSize);
  return true;
}

bool FileIO::Flush() {
  if (!m_writeLength) return true;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(m_bufferStart);
  DWORD written = 0;
  bool ok = SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN) &&
            WriteFile(m_file, m_buffer.data(), DWORD(m_writeLength), &written, nullptr) && written == m_writeLength;
  m_writeLength = 0;
  return ok || Fail();
}

void FileIO::Close() {
  if (m_file == INVALID_HANDLE_VALUE) return;
  Flush();
  CloseHandle(m_file);
  m_file = INVALID_HANDLE_VALUE;
  m_writable = m_buffered = false;
  m_readLength = 0;
}

bool FileIO::Seek(ULONGLONG position) {
  bool flushed = Flush();
  m_readLength = 0;  // another party may have changed the file since
  m_position = position;
  return flushed;
}

ULONG FileIO::Read(void* buffer, ULONG size) {
  if (!Handle(false) || !Flush()) return 0;
  BYTE* out = static_cast<BYTE*>(buffer);
  ULONG done = 0;
  while (done < size) {
    if (m_readLength && m_position >= m_bufferStart && m_position < m_bufferStart + m_readLength) {
      size_t from = size_t(m_position - m_bufferStart);
      size_t n = std::min<size_t>(size - done, m_readLength - from);
      std::memcpy(out + done, m_buffer.data() + from, n);
      done += ULONG(n);
      m_position += n;
      continue;
    }
    // Unbuffered (or a large read): straight into the caller's buffer.
    const bool direct = !m_buffered || size - done >= kBufferSize;
    if (m_buffer.size() < kBufferSize && !direct) m_buffer.resize(kBufferSize);
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(m_position);
    DWORD got = 0;
    BYTE* into = direct ? out + done : m_buffer.data();
    DWORD want = direct ? size - done : DWORD(kBufferSize);
    if (!SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN) || !ReadFile(m_file, into, want, &got, nullptr)) {
      Fail();
      break;
    }
    if (got == 0) break;
    if (direct) {
      done += got;
      m_position += got;
    } else {
      m_bufferStart = m_position;
      m_readLength = got;
    }
  }
  return done;
}

ULONG FileIO::Write(const void* buffer, ULONG size) {
  if (!Handle(true)) return 0;
  m_readLength = 0;
  const BYTE* in = static_cast<const BYTE*>(buffer);
  if (m_buffered && size < kBufferSize) {
    if (m_writeLength && m_position != m_bufferStart + m_writeLength && !Flush()) return 0;
    if (m_writeLength + size > kBufferSize && !Flush()) return 0;
    if (!m_writeLength) m_bufferStart = m_position;
    std::memcpy(m_buffer.data() + m_writeLength, in, size);
    m_writeLength += size;
    m_position += size;
    return size;
  }
  if (!Flush()) return 0;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(m_position);
  DWORD written = 0;
  if (!SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN) || !WriteFile(m_file, in, size, &written, nullptr)) Fail();
  m_position += written;
  return written;
}

ULONGLONG FileIO::Size() {
  if (m_file != INVALID_HANDLE_VALUE) {
    Flush();
    LARGE_INTEGER size;
    if (GetFileSizeEx(m_file, &size)) return ULONGLONG(size.QuadPart);
  }
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &info)) return 0;
  return ULONGLONG(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
}

void FileIO::SetFileName(const WCHAR* name) {
  if (!name || m_path == name) return;
  Close();
  m_path = name;
}

bool FileIO::Remove(const WCHAR* name, ULONG) {
  Close();
  return DeleteFileW(name ? name : m_path.c_str()) != 0;
}

}  // namespace qzindex
