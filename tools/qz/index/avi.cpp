// The AVI helper: RIFF chunks of the movi lists, key frames from idx1.
#include <cstring>

#include "host.h"

namespace qzindex {

namespace {

constexpr DWORD kRiff = QzFourCC('R', 'I', 'F', 'F'), kList = QzFourCC('L', 'I', 'S', 'T'),
                kAvi = QzFourCC('A', 'V', 'I', ' '), kAvix = QzFourCC('A', 'V', 'I', 'X'),
                kHdrl = QzFourCC('h', 'd', 'r', 'l'), kStrl = QzFourCC('s', 't', 'r', 'l'),
                kStrh = QzFourCC('s', 't', 'r', 'h'), kStrf = QzFourCC('s', 't', 'r', 'f'),
                kVids = QzFourCC('v', 'i', 'd', 's'), kMovi = QzFourCC('m', 'o', 'v', 'i'),
                kRec = QzFourCC('r', 'e', 'c', ' '), kIdx1 = QzFourCC('i', 'd', 'x', '1');
constexpr DWORD kKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr int kMaxDepth = 8;

std::string Name(DWORD id) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    char c = char(id >> (8 * i));
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// "NNdc" (compressed) or "NNdb" (uncompressed) of stream NN.
bool IsVideoChunk(DWORD id, ULONG stream) {
  if (stream > 99) return false;
  const char tens = char('0' + stream / 10), ones = char('0' + stream % 10);
  return id == QzFourCC(tens, ones, 'd', 'c') || id == QzFourCC(tens, ones, 'd', 'b');
}

}  // namespace

const WCHAR AviHelper::kName[] = TEXT("QzAviHelper");

bool AviHelper::StartIndexing(IFileIO* data, IReportInfo* report) { return Hold(data, report) && Parse(); }

// Every top-level RIFF: the first must be "AVI ", the ones after it "AVIX"
// (files past 1 GiB); anything else after them ends the walk.
bool AviHelper::Parse() {
  m_chunks.clear();
  m_idx1Flags.clear();
  m_format.clear();
  m_stream = 0xFFFFFFFF;
  m_streams = 0;
  m_hasIdx1 = false;
  if (m_size < 12) return (m_error = "not an AVI file (it does not start with RIFF AVI)"), false;
  ULONGLONG at = 0;
  for (int riff = 0; at + 12 <= m_size; ++riff) {
    DWORD head[3];
    if (!ReadAt(m_data, at, head, 12)) return (m_error = "cannot read the media"), false;
    if (head[0] != kRiff || head[2] != (riff == 0 ? kAvi : kAvix)) {
      if (riff == 0) return (m_error = "not an AVI file (it does not start with RIFF AVI)"), false;
      break;
    }
    const ULONGLONG end = at + 8 + head[1];
    if (end > m_size) {
      m_error = plat::FormatAS("truncated: the RIFF %s at offset %I64u claims %u bytes, the file ends %I64u bytes in",
                               Name(head[2]).c_str(), at, head[1], m_size - at - 8);
      return false;
    }
    if (!Walk(at + 12, end, 0, head[2])) return false;
    at = end + (head[1] & 1);
  }
  if (m_stream == 0xFFFFFFFF) return (m_error = "no video stream in the AVI header"), false;
  // idx1 covers the first movi list, entry for entry.
  const size_t n = m_idx1Flags.size() < m_chunks.size() ? m_idx1Flags.size() : m_chunks.size();
  for (size_t i = 0; i < n; ++i) {
    m_chunks[i].flags = m_idx1Flags[i];
    m_chunks[i].keyFrame = (m_idx1Flags[i] & kKeyFrame) ? 1 : 0;
  }
  return true;
}

// The chunks of one list, [start, end). listType says what the list is.
bool AviHelper::Walk(ULONGLONG start, ULONGLONG end, int depth, DWORD listType) {
  if (depth > kMaxDepth) return (m_error = "lists nested too deeply"), false;
  ULONGLONG at = start;
  while (at + 8 <= end) {
    DWORD head[2];
    if (!ReadAt(m_data, at, head, 8)) return (m_error = "cannot read the media"), false;
    const DWORD id = head[0], size = head[1];
    const ULONGLONG data = at + 8, next = data + size + (size & 1);
    if (data + size > end) {
      m_error = plat::FormatAS("corrupt or truncated: chunk '%s' at offset %I64u claims %u bytes, its list ends %I64u "
                               "bytes after its data starts",
                               Name(id).c_str(), at, size, end - data);
      return false;
    }
    if (id == kList) {
      DWORD type;
      if (size < 4 || !ReadAt(m_data, data, &type, 4))
        return (m_error = plat::FormatAS("corrupt: LIST at offset %I64u has no type", at)), false;
      if (type == kStrl && listType == kHdrl) ++m_streams;
      if ((type == kHdrl || type == kStrl || type == kMovi || type == kRec) && !Walk(data + 4, data + size, depth + 1, type))
        return false;
    } else if (id == kStrh && listType == kStrl) {
      DWORD type = 0;
      if (size >= 4 && !ReadAt(m_data, data, &type, 4)) return (m_error = "cannot read the media"), false;
      if (type == kVids && m_stream == 0xFFFFFFFF) m_stream = m_streams - 1;
    } else if (id == kStrf && listType == kStrl && m_stream == m_streams - 1 && m_format.empty()) {
      m_format.resize(size < sizeof(tagQZBMINFOHEADER) ? size : sizeof(tagQZBMINFOHEADER));
      if (!m_format.empty() && !ReadAt(m_data, data, m_format.data(), ULONG(m_format.size())))
        return (m_error = "cannot read the media"), false;
    } else if (id == kIdx1 && listType == kAvi) {
      m_hasIdx1 = true;
      // 16 bytes an entry (id, flags, offset, size), read a block at a time.
      DWORD block[4 * 1024];
      for (ULONGLONG done = 0, total = size / 16; done < total;) {
        const ULONG n = ULONG(total - done < 1024 ? total - done : 1024);
        if (!ReadAt(m_data, data + done * 16, block, n * 16)) return (m_error = "cannot read the media"), false;
        for (ULONG i = 0; i < n; ++i)
          if (IsVideoChunk(block[4 * i], m_stream)) m_idx1Flags.push_back(block[4 * i + 1]);
        done += n;
      }
    } else if ((listType == kMovi || listType == kRec) && IsVideoChunk(id, m_stream)) {
      m_chunks.push_back({data, size, id, 0, m_hasIdx1 ? 0 : DWORD(EntryCustom::kUnknown)});
    }
    at = next;
  }
  return true;
}

IIndexEntry* AviHelper::GetEntry(ULONGLONG position) {
  if (!m_data || position >= m_chunks.size() || !Report(position, m_chunks.size())) return nullptr;
  const Chunk& c = m_chunks[size_t(position)];
  EntryCustom custom = {};
  custom.chunkId = c.id;
  custom.idx1Flags = c.flags;
  custom.keyFrame = c.keyFrame;
  return Hand(c.offset, c.length, custom);
}

bool AviHelper::StartValidation(IFileIO* data, ValidationLevel, IReportInfo* report) {
  return Hold(data, report);
}

// Each entry must name a video chunk header right before its data, of its length.
bool AviHelper::ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel) {
  if (!entry) return Bad(position, "no entry");
  ULONG size = 0;
  const void* raw = entry->Custom(size);
  EntryCustom custom = {};
  if (raw && size >= sizeof custom) std::memcpy(&custom, raw, sizeof custom);
  const ULONGLONG offset = entry->Offset(), length = entry->Length();
  if (offset < 8 || offset + length > m_size)
    return Bad(position, plat::FormatAS("offset %I64u length %I64u lies outside the media (%I64u bytes)", offset,
                                        length, m_size));
  DWORD head[2];
  if (!ReadAt(m_data, offset - 8, head, 8)) return Bad(position, "cannot read the media");
  if (head[0] != custom.chunkId || head[1] != length)
    return Bad(position, plat::FormatAS("the media has chunk '%s' of %u bytes at %I64u, the entry says '%s' of %I64u",
                                        Name(head[0]).c_str(), head[1], offset - 8, Name(custom.chunkId).c_str(),
                                        length));
  return true;
}

bool AviHelper::FillBMI(tagQZBMINFOHEADER* header, ULONG& size) {
  if (!header || size < sizeof *header || m_format.empty()) return false;
  std::memset(header, 0, sizeof *header);
  std::memcpy(header, m_format.data(), m_format.size() < 40 ? m_format.size() : 40);
  header->biSize = sizeof *header;
  size = sizeof *header;
  return true;
}

}  // namespace qzindex
