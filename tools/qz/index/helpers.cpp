// What qz's helpers share, the raw-frame helper, and qz's description block.
#include <cstring>

#include "host.h"

namespace qzindex {

bool ReadAt(IFileIO* io, ULONGLONG at, void* buffer, ULONG size) {
  return io->Seek(at) && io->Read(buffer, size) == size;
}

// ---- HelperBase ----

HelperBase::~HelperBase() {
  StopIndexing();
}

bool HelperBase::Hold(IFileIO* data, IReportInfo* report) {
  StopIndexing();
  m_error.clear();
  m_bad = Finding();
  if (!data) {
    m_error = "no media to read";
    return false;
  }
  data->AddRef();
  m_data = data;
  m_report = report;
  m_size = data->Size();
  return true;
}

bool HelperBase::StopIndexing() {
  if (m_current) m_current->Release();
  m_current = nullptr;
  if (m_data) m_data->Release();
  m_data = nullptr;
  m_report = nullptr;
  return true;
}

bool HelperBase::StopValidation() { return StopIndexing(); }

IIndexEntry* HelperBase::Hand(ULONGLONG offset, ULONG length, const EntryCustom& custom) {
  if (m_current) m_current->Release();
  m_current = new CMFBasicIndexEntryStatic;
  if (!m_current) return nullptr;
  m_current->SetOffset(offset);
  m_current->SetLength(length);
  ULONG size = 0;
  std::memcpy(m_current->Custom(size), &custom, sizeof custom);
  return m_current;
}

bool HelperBase::Bad(ULONGLONG position, std::string why) {
  if (!m_bad.bad) {
    m_bad.bad = true;
    m_bad.position = position;
    m_bad.why = std::move(why);
  }
  return false;
}

bool HelperBase::Report(ULONGLONG done, ULONGLONG total) {
  if (!m_report || (done % 4096 != 0 && done != total)) return true;
  return m_report->Progress(done, total);
}

// ---- RawHelper ----

const WCHAR RawHelper::kName[] = TEXT("QzRawHelper");

bool RawHelper::StartIndexing(IFileIO* data, IReportInfo* report) {
  if (!Hold(data, report)) return false;
  if (!m_frameSize) m_error = "the frame size is 0";
  return m_frameSize != 0;
}

IIndexEntry* RawHelper::GetEntry(ULONGLONG position) {
  if (!m_data || position >= Frames() || !Report(position, Frames())) return nullptr;
  return Hand(position * m_frameSize, m_frameSize, EntryCustom());
}

bool RawHelper::StartValidation(IFileIO* data, ValidationLevel, IReportInfo* report) {
  return Hold(data, report) && m_frameSize != 0;
}

bool RawHelper::ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel) {
  if (!entry) return Bad(position, "no entry");
  if (entry->Offset() != position * m_frameSize || entry->Length() != m_frameSize)
    return Bad(position, plat::FormatAS("offset %I64u length %I64u, frame %I64u of %u bytes lies at %I64u",
                                        entry->Offset(), entry->Length(), position, m_frameSize,
                                        position * m_frameSize));
  if (entry->Offset() + entry->Length() > m_size)
    return Bad(position, plat::FormatAS("ends at %I64u, past the end of the media (%I64u bytes)",
                                        entry->Offset() + entry->Length(), m_size));
  return true;
}

// ---- Description ----
//
// Little-endian: "QZIX", then DWORD layout version 1, kind, frame size,
// stream, ULONGLONG media size, DWORD has-format, the 144-byte format, and
// the media name as UTF-16 with its terminator.

namespace {
constexpr DWORD kDescriptionMagic = QzFourCC('Q', 'Z', 'I', 'X');
constexpr size_t kFixed = 4 * 5 + 8 + 4 + sizeof(tagQZBMINFOHEADER);

void Put(std::string& out, const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }
template <class T>
void PutValue(std::string& out, T v) {
  Put(out, &v, sizeof v);
}
}  // namespace

std::string Description::Bytes() const {
  std::string out;
  PutValue(out, kDescriptionMagic);
  PutValue(out, DWORD(1));
  PutValue(out, DWORD(kind));
  PutValue(out, frameSize);
  PutValue(out, stream);
  PutValue(out, mediaSize);
  PutValue(out, DWORD(hasFormat ? 1 : 0));
  Put(out, &format, sizeof format);
  Put(out, media.c_str(), (media.size() + 1) * sizeof(WCHAR));
  return out;
}

bool Description::Parse(const void* data, ULONG size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  if (!p || size < kFixed + 2) return false;
  DWORD magic, layout, k, has;
  std::memcpy(&magic, p, 4);
  std::memcpy(&layout, p + 4, 4);
  if (magic != kDescriptionMagic || layout != 1) return false;
  std::memcpy(&k, p + 8, 4);
  std::memcpy(&frameSize, p + 12, 4);
  std::memcpy(&stream, p + 16, 4);
  std::memcpy(&mediaSize, p + 20, 8);
  std::memcpy(&has, p + 28, 4);
  std::memcpy(&format, p + 32, sizeof format);
  kind = Kind(k);
  hasFormat = has != 0;
  media.clear();
  for (size_t at = kFixed; at + 1 < size; at += 2) {
    WCHAR c;
    std::memcpy(&c, p + at, 2);
    if (!c) return true;
    media += c;
  }
  return false;  // no terminator: not a block qz wrote
}

}  // namespace qzindex
