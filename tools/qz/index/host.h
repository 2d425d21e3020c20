// qz as the host of Omrick: an IFileIO over real files, the index helpers of
// two media formats, and the description qz keeps in its index files. Used by
// `qz index`, by the tests and by the benchmark.
#pragma once

#include <string>
#include <vector>

#include "omrick.h"

namespace qzindex {

using plat::wstring;

// ---- files ----

// An IFileIO over one real file. Open(5) opens it for reading, Open(6)
// creates it anew for writing; between Open and Close, reads and writes go
// through a 64 KiB buffer. Used without Open (as an index uses its IO for
// AutoUpdate), the file opens itself on demand, shared with other processes,
// and writes go straight to it, so a reader elsewhere sees each one.
// DataIO() hands out a new IO over the media file named at creation.
class FileIO : public IFileIO {
 public:
  static FileIO* Create(const wstring& path, const wstring& media = wstring());

  void AddRef() override;
  LONG Release() override;
  IFileIO* DataIO() override;
  bool Open(ULONG mode) override;
  void Close() override;
  bool Reserved6() override { return false; }
  ULONG Write(const void* buffer, ULONG size) override;
  ULONG Read(void* buffer, ULONG size) override;
  bool Seek(ULONGLONG position) override;
  ULONGLONG Size() override;
  bool Reserved11() override { return false; }
  bool Reserved12() override { return false; }
  void SetFileName(const WCHAR* name) override;
  bool Remove(const WCHAR* name, ULONG flags) override;

  LONG References() const { return m_refs; }
  // The first system error since creation (0: none), also of buffered writes
  // that reached the file only at Close.
  DWORD Error() const { return m_error; }
  const wstring& Path() const { return m_path; }

 private:
  FileIO(const wstring& path, const wstring& media);
  virtual ~FileIO();
  bool Handle(bool write);
  bool Flush();
  bool Fail();

  LONG volatile m_refs = 1;
  wstring m_path, m_media;
  HANDLE m_file = INVALID_HANDLE_VALUE;
  bool m_writable = false, m_buffered = false;
  ULONGLONG m_position = 0;
  std::vector<BYTE> m_buffer;
  ULONGLONG m_bufferStart = 0;  // file offset of m_buffer[0]
  size_t m_readLength = 0;      // bytes of file data in the buffer (reading)
  size_t m_writeLength = 0;     // bytes waiting to be written (writing)
  DWORD m_error = 0;
};

// ---- helpers ----

// Custom data of the entries qz's helpers make.
struct EntryCustom {
  DWORD chunkId;    // AVI: the chunk's FourCC ("00dc"); raw: 0
  DWORD idx1Flags;  // AVI: the flags of its idx1 entry (0 without one)
  DWORD keyFrame;   // 1 key frame, 0 not, kUnknown when the file has no idx1 entry for it
  BYTE unused[12];
  enum : DWORD { kUnknown = 0xFFFFFFFF };
};
static_assert(sizeof(EntryCustom) == 24, "custom data is 24 bytes");

// The validation outcome a helper keeps for its host.
struct Finding {
  bool bad = false;
  ULONGLONG position = 0;
  std::string why;
};

// A helper hands out borrowed entries: it keeps the current one and releases
// it when the next is asked for and at StopIndexing.
class HelperBase : public CMFIndexHelper {
 public:
  bool Reserved3() override { return false; }
  bool StopIndexing() override;
  bool StopValidation() override;
  const Finding& FirstBad() const { return m_bad; }
  // What went wrong in StartIndexing or StartValidation ("" when nothing did).
  const std::string& Error() const { return m_error; }

 protected:
  ~HelperBase() override;
  IIndexEntry* Hand(ULONGLONG offset, ULONG length, const EntryCustom& custom);
  bool Hold(IFileIO* data, IReportInfo* report);
  bool Bad(ULONGLONG position, std::string why);
  // Progress every few thousand entries; false when the report asks to stop.
  bool Report(ULONGLONG done, ULONGLONG total);

  IFileIO* m_data = nullptr;
  IReportInfo* m_report = nullptr;
  ULONGLONG m_size = 0;
  CMFBasicIndexEntryStatic* m_current = nullptr;
  Finding m_bad;
  std::string m_error;
};

// Fixed-size frames one after another from offset 0; a shorter tail is no frame.
class RawHelper : public HelperBase {
 public:
  static const WCHAR kName[];  // "QzRawHelper"
  explicit RawHelper(ULONG frameSize) : m_frameSize(frameSize) {}
  const WCHAR* ClassName() override { return kName; }
  bool StartIndexing(IFileIO* data, IReportInfo* report) override;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) override;
  bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) override;
  ULONGLONG Frames() const { return m_frameSize ? m_size / m_frameSize : 0; }
  ULONGLONG Tail() const { return m_frameSize ? m_size % m_frameSize : 0; }

 private:
  ULONG m_frameSize;
};

// AVI (RIFF): one entry per chunk of the first video stream in the movi lists
// (of the RIFF AVI and any AVIX that follow, inside rec lists too): the offset
// and length of the chunk's data, its id, and its key-frame flag from idx1.
class AviHelper : public HelperBase {
 public:
  static const WCHAR kName[];  // "QzAviHelper"
  struct Chunk {
    ULONGLONG offset;  // of the data, past the 8-byte chunk header
    ULONG length;
    DWORD id;
    DWORD flags;
    DWORD keyFrame;
  };

  const WCHAR* ClassName() override { return kName; }
  bool StartIndexing(IFileIO* data, IReportInfo* report) override;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) override;
  bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) override;
  // The stream format as an extended bitmap header (biSize 144).
  bool FillBMI(tagQZBMINFOHEADER* header, ULONG& size) override;

  const std::vector<Chunk>& Chunks() const { return m_chunks; }
  ULONG Stream() const { return m_stream; }
  bool HasIdx1() const { return m_hasIdx1; }

 private:
  bool Parse();
  bool Walk(ULONGLONG start, ULONGLONG end, int depth, DWORD listType);

  std::vector<Chunk> m_chunks;
  std::vector<DWORD> m_idx1Flags;  // of the video stream's idx1 entries, in order
  std::vector<BYTE> m_format;      // the video stream's strf
  ULONG m_stream = 0xFFFFFFFF, m_streams = 0;
  bool m_hasIdx1 = false;
};

// Reads exactly size bytes at an offset.
bool ReadAt(IFileIO* io, ULONGLONG at, void* buffer, ULONG size);

// ---- the index ----

// The description qz stores in its index files.
struct Description {
  enum Kind : DWORD { kNone = 0, kAvi = 1, kRaw = 2 };
  Kind kind = kNone;
  DWORD frameSize = 0;     // raw frames
  DWORD stream = 0;        // AVI: the video stream's number
  ULONGLONG mediaSize = 0; // when the index was built
  bool hasFormat = false;
  tagQZBMINFOHEADER format = {};
  wstring media;           // the media file's name as given

  std::string Bytes() const;
  // False for a block that is not qz's own.
  bool Parse(const void* data, ULONG size);
};

// CMFBasicIndex as qz uses it: the header in view, and the stream it indexes.
class QzIndex : public CMFBasicIndex {
 public:
  QzIndex(const wstring& name, IFileIO* io) : CMFBasicIndex(name.c_str(), io, kVersion) {}
  enum : ULONG { kVersion = 1 };
  const _MFBasicIndexHeader& Header() const { return m_header; }
  void SetStream(ULONG type, ULONG id) {
    m_header.streamType = type;
    m_header.streamID = id;
  }
  ULONG ListLength() const { return m_entryCount; }
};

}  // namespace qzindex

namespace qzindex {
// The bytes of a small uncompressed AVI (24-bit frames of a changing pattern).
std::string SampleAvi(ULONG width, ULONG height, ULONG frames);
}  // namespace qzindex
