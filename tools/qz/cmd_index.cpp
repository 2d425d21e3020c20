// qz index: media indexes (Omrick) built from AVI files or raw frame streams,
// shown, verified against their media, and followed while they grow.
#include <cstdlib>
#include <cstring>
#include <string>

#include "host.h"
#include "qz.h"

namespace {

const char kUsage[] =
    "usage: qz index build MEDIA [--raw SIZE] [-o INDEX]\n"
    "       qz index show INDEX [--entries FIRST:LAST]\n"
    "       qz index verify INDEX MEDIA\n"
    "       qz index follow INDEX MEDIA [--count N]\n"
    "\n"
    "build   indexes MEDIA: an AVI file (one entry per chunk of its first video\n"
    "        stream, with the key-frame flags of its idx1), or with --raw SIZE a\n"
    "        stream of SIZE-byte frames one after another. Writes INDEX (default\n"
    "        MEDIA.idx), with a description of the media and its video format.\n"
    "show    the header, the description and the entries (all of them up to 50,\n"
    "        else the first 20; --entries FIRST:LAST shows positions FIRST..LAST-1).\n"
    "verify  reads INDEX and checks every entry against MEDIA; exit status 1 and\n"
    "        the first bad entry when one does not match.\n"
    "follow  prints each entry as another process appends media and records to\n"
    "        INDEX, until Ctrl-C (or N entries with --count).\n"
    "\n"
    "Exit status 0 on success, 1 otherwise; the index library's own messages are\n"
    "shown with the error.\n";

using plat::wstring;
using namespace qzindex;

// The library's messages while a command runs, to show with its error.
struct Messages {
  std::string text;
  Messages() { BrelluSetCapture(&Capture, this); }
  ~Messages() { BrelluSetCapture(nullptr, nullptr); }
  static void WINAPI Capture(DWORD, DWORD, const WCHAR* line, void* context) {
    static_cast<Messages*>(context)->text += plat::Utf8(line);
  }
  // " (the library: ...)" or "".
  std::string Said() const {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    for (char& c : t)
      if (c == '\n') c = ';';
    return t.empty() ? "" : " (" + t + ")";
  }
};

// Progress on stderr for long builds: shown once the work has taken a moment.
class ConsoleReport : public IReportInfo {
 public:
  explicit ConsoleReport(const std::string& what) : m_what(what), m_start(GetTickCount()) {}
  ~ConsoleReport() { qz::ProgressDone(); }
  void AddRef() override {}
  LONG Release() override { return 1; }  // lives on the stack of its command
  bool Progress(ULONGLONG done, ULONGLONG total) override {
    if (qz::Interrupted()) return false;
    if (GetTickCount() - m_start < 300) return true;
    if (total)
      qz::Progress("%s: %I64u of %I64u entries (%u%%)", m_what.c_str(), done, total, unsigned(done * 100 / total));
    else
      qz::Progress("%s: %I64u entries", m_what.c_str(), done);
    return true;
  }

 private:
  std::string m_what;
  DWORD m_start;
};

// Holds one reference and releases it at the end of the scope.
template <class T>
struct Ref {
  T* p;
  explicit Ref(T* object) : p(object) {}
  ~Ref() {
    if (p) p->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return p; }
};

// A helper that remembers whether it was asked to build (verify: the index
// could not be read, so InitIndex built it from the media instead).
template <class Helper>
struct Watched : Helper {
  using Helper::Helper;
  bool built = false;
  bool StartIndexing(IFileIO* data, IReportInfo* report) override {
    built = true;
    return Helper::StartIndexing(data, report);
  }
};

std::string U(const wstring& w) { return plat::Utf8(w); }

bool Number(const wstring& text, ULONGLONG& value) {
  std::string s = U(text);
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 19) return false;
  value = std::strtoull(s.c_str(), nullptr, 10);
  return true;
}

std::string FourCC(DWORD v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    char c = char(v >> (8 * i));
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

const char* Cause(DWORD error) {
  switch (error) {
    case 0: return "";
    case ERROR_FILE_NOT_FOUND: return ": no such file";
    case ERROR_PATH_NOT_FOUND: return ": no such directory";
    case ERROR_ACCESS_DENIED: return ": access denied";
    case ERROR_SHARING_VIOLATION: return ": the file is in use by another process";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ": the disk is full";
    default: return ": the system refused it";
  }
}

bool Exists(const wstring& path) {
  ULONGLONG size;
  DWORD attributes;
  return qz::Stat(path, size, attributes) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- build ----

int Build(const qz::Args& args) {
  wstring media, out;
  ULONGLONG raw = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == TEXT("--raw") && i + 1 < args.size()) {
      if (!Number(args[++i], raw) || raw == 0 || raw > 0xFFFFFFFFu)
        return qz::Fail("index", "--raw wants a frame size in bytes (1 to 4294967295), not %s", U(args[i]).c_str());
    } else if (args[i] == TEXT("-o") && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return qz::Fail("index", "unknown option %s (qz index --help)", U(args[i]).c_str());
    } else if (media.empty()) {
      media = args[i];
    } else {
      return qz::Fail("index", "build takes one media file (qz index --help)");
    }
  }
  if (media.empty()) return qz::Fail("index", "build: give a media file (qz index --help)");
  if (!Exists(media)) return qz::Fail("index", "%s: no such file", U(media).c_str());
  if (out.empty()) out = media + TEXT(".idx");

  qz::InstallInterrupt();
  Messages said;
  Ref<FileIO> io(FileIO::Create(out, media));
  Ref<QzIndex> index(new QzIndex(out, io.p));
  Ref<FileIO> data(FileIO::Create(media));
  Description d;
  d.media = media;
  d.mediaSize = data->Size();
  ConsoleReport report("indexing " + U(media));
  bool built;
  std::string failure;
  if (raw) {
    Ref<RawHelper> helper(new RawHelper(ULONG(raw)));
    built = index->InitIndex(helper.p, 0, true, data.p, &report);
    failure = helper->Error();
    d.kind = Description::kRaw;
    d.frameSize = ULONG(raw);
  } else {
    Ref<AviHelper> helper(new AviHelper);
    built = index->InitIndex(helper.p, 0, true, data.p, &report);
    failure = helper->Error();
    d.kind = Description::kAvi;
    d.stream = helper->Stream();
    ULONG size = sizeof d.format;
    d.hasFormat = helper->FillBMI(&d.format, size);
    index->SetStream(QzFourCC('v', 'i', 'd', 's'), helper->Stream());
  }
  if (qz::Interrupted()) return qz::Fail("index", "interrupted: %s was not written", U(out).c_str());
  if (!failure.empty()) return qz::Fail("index", "%s: %s", U(media).c_str(), failure.c_str());
  if (!built) return qz::Fail("index", "cannot index %s%s", U(media).c_str(), said.Said().c_str());
  const std::string bytes = d.Bytes();
  if (!index->SetDescription(bytes.data(), ULONG(bytes.size())))
    return qz::Fail("index", "no memory for the description");
  if (!index->WriteIndex(&report) || io->Error())
    return qz::Fail("index", "cannot write %s%s%s", U(out).c_str(), Cause(io->Error()), said.Said().c_str());
  ULONGLONG size = 0;
  DWORD attributes;
  qz::Stat(out, size, attributes);
  qz::Out("indexed %s: %I64u entries (%s), wrote %s (%I64u bytes)\n", U(media).c_str(), index->NumberOfEntries(),
          raw ? plat::FormatAS("raw frames of %I64u bytes", raw).c_str()
              : plat::FormatAS("AVI video stream %u", d.stream).c_str(),
          U(out).c_str(), size);
  return 0;
}

// ---- show ----

void ShowDescription(QzIndex& index, Description& d, bool& ours) {
  ULONG size = 0;
  const BYTE* block = static_cast<const BYTE*>(index.Description(size));
  ours = d.Parse(block, size);
  if (!size) {
    qz::Out("description   none\n");
  } else if (ours) {
    qz::Out("description   %u bytes: %s, media %s (%I64u bytes when indexed)\n", size,
            d.kind == Description::kAvi   ? plat::FormatAS("AVI video stream %u", d.stream).c_str()
            : d.kind == Description::kRaw ? plat::FormatAS("raw frames of %u bytes", d.frameSize).c_str()
                                          : "unknown media",
            U(d.media).c_str(), d.mediaSize);
    if (d.hasFormat)
      qz::Out("format        %d x %d, %u bits, compression %s (0x%08X), %u bytes a frame\n", d.format.biWidth,
              d.format.biHeight, unsigned(d.format.biBitCount),
              d.format.biCompression ? FourCC(d.format.biCompression).c_str() : "RGB",
              d.format.biCompression, d.format.biSizeImage);
  } else {
    std::string hex;
    for (ULONG i = 0; i < size && i < 32; ++i) hex += plat::FormatAS("%02x", block[i]);
    qz::Out("description   %u bytes: %s%s\n", size, hex.c_str(), size > 32 ? "..." : "");
  }
}

int Show(const qz::Args& args) {
  wstring path;
  ULONGLONG first = 0, last = 0;
  bool range = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == TEXT("--entries") && i + 1 < args.size()) {
      const wstring& r = args[++i];
      size_t colon = r.find(':');
      if (colon == wstring::npos || !Number(r.substr(0, colon), first) || !Number(r.substr(colon + 1), last) ||
          last < first)
        return qz::Fail("index", "--entries wants FIRST:LAST with FIRST <= LAST, not %s", U(r).c_str());
      range = true;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return qz::Fail("index", "unknown option %s (qz index --help)", U(args[i]).c_str());
    } else if (path.empty()) {
      path = args[i];
    } else {
      return qz::Fail("index", "show takes one index file (qz index --help)");
    }
  }
  if (path.empty()) return qz::Fail("index", "show: give an index file (qz index --help)");
  if (!Exists(path)) return qz::Fail("index", "%s: no such file", U(path).c_str());
  Messages said;
  Ref<FileIO> io(FileIO::Create(path));
  Ref<QzIndex> index(new QzIndex(path, io.p));
  // An index of no entries has a header and nothing more to read.
  if (!index->ReadIndexHeader())
    return qz::Fail("index", "cannot read %s%s: its header is not an index header, or it claims more than the file holds",
                    U(path).c_str(), Cause(io->Error()));
  if (index->NumberOfEntries() && !index->ReadIndex(nullptr))
    return qz::Fail("index", "cannot read %s%s%s", U(path).c_str(), Cause(io->Error()), said.Said().c_str());
  const _MFBasicIndexHeader& h = index->Header();
  qz::Out("index         %s\n", U(path).c_str());
  qz::Out("magic         0x%08X%s\n", h.magic, h.magic == CMFBasicIndex::kMagic ? "" : " (not an index file's)");
  qz::Out("version       %u\n", h.version);
  qz::Out("header size   %u\n", h.headerSize);
  qz::Out("entries       %u, %u-byte records from offset %u\n", h.entryCount, h.recordSize, h.entriesOffset);
  qz::Out("stream        type %s (0x%08X), id %u\n", h.streamType == 0xFFFFFFFF ? "none" : FourCC(h.streamType).c_str(),
          h.streamType, h.streamID);
  Description d;
  bool ours = false;
  ShowDescription(*index.p, d, ours);

  const ULONGLONG n = index->NumberOfEntries();
  if (!range) {
    last = n <= 50 ? n : 20;
  } else if (last > n) {
    last = n;
  }
  if (first < last) {
    const bool avi = ours && d.kind == Description::kAvi;
    qz::Out("\n%10s %14s %10s%s\n", "position", "offset", "length", avi ? "  chunk  key" : "");
    for (ULONGLONG p = first; p < last; ++p) {
      IIndexEntry* e = index->GetEntry(p);
      if (!e) break;
      std::string extra;
      ULONG size = 0;
      const void* custom = e->Custom(size);
      if (avi && custom && size >= sizeof(EntryCustom)) {
        EntryCustom c;
        std::memcpy(&c, custom, sizeof c);
        extra = plat::FormatAS("  %s   %s", FourCC(c.chunkId).c_str(),
                               c.keyFrame == EntryCustom::kUnknown ? "?" : c.keyFrame ? "yes" : "no");
      }
      qz::Out("%10I64u %14I64u %10I64u%s\n", p, e->Offset(), e->Length(), extra.c_str());
    }
  }
  if (!range && last < n) qz::Out("... %I64u more (--entries FIRST:LAST shows them)\n", n - last);
  return 0;
}

// ---- verify and follow ----

// The description of an index file, read from its header alone.
bool Probe(const wstring& path, Description& d) {
  Ref<FileIO> io(FileIO::Create(path));
  Ref<QzIndex> index(new QzIndex(path, io.p));
  if (!index->ReadIndexHeader()) return false;
  ULONG size = 0;
  const void* block = index->Description(size);
  return d.Parse(block, size);
}

int Verify(const qz::Args& args) {
  if (args.size() != 2) return qz::Fail("index", "verify: give an index file and its media (qz index --help)");
  const wstring& path = args[0];
  const wstring& media = args[1];
  if (!Exists(path)) return qz::Fail("index", "%s: no such file", U(path).c_str());
  if (!Exists(media)) return qz::Fail("index", "%s: no such file", U(media).c_str());
  Description d;
  if (!Probe(path, d)) return qz::Fail("index", "%s is not an index file that qz index build wrote", U(path).c_str());
  Messages said;
  Ref<FileIO> io(FileIO::Create(path, media));
  Ref<QzIndex> index(new QzIndex(path, io.p));
  Ref<FileIO> data(FileIO::Create(media));
  ConsoleReport report("verifying " + U(path));
  bool ok, built;
  Finding bad;
  if (d.kind == Description::kRaw) {
    Ref<Watched<RawHelper>> helper(new Watched<RawHelper>(d.frameSize));
    ok = index->InitIndex(helper.p, 0, false, data.p, &report);
    built = helper->built;
    bad = helper->FirstBad();
  } else {
    Ref<Watched<AviHelper>> helper(new Watched<AviHelper>());
    ok = index->InitIndex(helper.p, 0, false, data.p, &report);
    built = helper->built;
    bad = helper->FirstBad();
  }
  if (built) return qz::Fail("index", "cannot read %s%s", U(path).c_str(), said.Said().c_str());
  if (!ok && bad.bad)
    return qz::Fail("index", "%s does not match %s: entry %I64u: %s", U(path).c_str(), U(media).c_str(), bad.position,
                    bad.why.c_str());
  if (!ok) return qz::Fail("index", "cannot validate %s against %s", U(path).c_str(), U(media).c_str());
  qz::Out("%s matches %s: %I64u entries\n", U(path).c_str(), U(media).c_str(), index->NumberOfEntries());
  return 0;
}

int Follow(const qz::Args& args) {
  wstring path, media;
  ULONGLONG count = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == TEXT("--count") && i + 1 < args.size()) {
      if (!Number(args[++i], count) || count == 0)
        return qz::Fail("index", "--count wants a number of entries, not %s", U(args[i]).c_str());
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return qz::Fail("index", "unknown option %s (qz index --help)", U(args[i]).c_str());
    } else if (path.empty()) {
      path = args[i];
    } else if (media.empty()) {
      media = args[i];
    } else {
      return qz::Fail("index", "follow: give an index file and its media (qz index --help)");
    }
  }
  if (media.empty()) return qz::Fail("index", "follow: give an index file and its media (qz index --help)");
  qz::InstallInterrupt();
  Ref<FileIO> io(FileIO::Create(path, media));
  Ref<QzIndex> index(new QzIndex(path, io.p));
  index->SetFlag(CMFBasicIndex::AutoUpdate, true);
  ULONGLONG next = 0;
  qz::Out("%10s %14s %10s\n", "position", "offset", "length");
  std::fflush(stdout);
  while (!qz::Interrupted() && (!count || next < count)) {
    if (IIndexEntry* e = index->GetEntry(next)) {
      qz::Out("%10I64u %14I64u %10I64u\n", next, e->Offset(), e->Length());
      std::fflush(stdout);
      ++next;
    } else {
      Sleep(20);  // nothing new yet: the writer is elsewhere
    }
  }
  qz::Out("followed %I64u entries\n", next);
  return 0;
}

int Run(const qz::Args& args) {
  if (args.empty()) return qz::Fail("index", "give build, show, verify or follow (qz index --help)");
  const qz::Args rest(args.begin() + 1, args.end());
  if (args[0] == TEXT("build")) return Build(rest);
  if (args[0] == TEXT("show")) return Show(rest);
  if (args[0] == TEXT("verify")) return Verify(rest);
  if (args[0] == TEXT("follow")) return Follow(rest);
  return qz::Fail("index", "no subcommand '%s': give build, show, verify or follow", U(args[0]).c_str());
}

qz::Register reg({"index", "build, show, verify and follow media indexes", kUsage, Run});

}  // namespace
