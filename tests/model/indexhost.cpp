// indexhost: runs index scenarios against Omrick and prints what it sees, for
// indexdiff.py to compare with the model's prediction. It decides nothing: it
// turns each scenario line into host objects or one call, and logs every call
// the library makes on the host's objects (IFileIO, helpers, entries, parent
// indexes), every message, every result, the reference counts and the files.
//
// Input (stdin): scenarios, each begun by "scenario NAME". Lines:
//
//   file NAME HEX                    an in-memory file with these bytes ('=' empty)
//   io ID [NAME]                     an IFileIO over the in-memory files (NAME: s:TEXT)
//   iodata ID DATA                   what ID's DataIO() hands out
//   iosize ID N                      what ID's Size() answers (else the file's length)
//   iofail ID open|seek|read|write N [K]   the N-th such call fails (moving K bytes)
//   ioopen ID MODE | ioclose ID      the host opens (5: existing, 6: truncated) or closes
//   entry ID OFFSET LENGTH HEX [K|fail]    a host entry (its representation: K bytes)
//   static ID OFFSET LENGTH HEX      a CMFBasicIndexEntryStatic
//   basic ID HEX|null                a CMFBasicIndexEntry on a host record (or none)
//   plainentry ID                    a CMFIndexEntry
//   helper ID                        a helper derived from CMFIndexHelper; then
//   hentries ID E...|-               what its GetEntry(0, 1, ...) answers
//   hanswer ID OP 0|1|base           the answer of StartIndexing, StopIndexing,
//                                    StartValidation, StopValidation, GetEntry, ValidateEntry
//   hrefuse ID POS...                positions ValidateEntry answers false for
//   report ID | meta ID              an IReportInfo, an IMetaData
//   pindex ID NAME VERSION IO SID STYPE   a host IIndex (parent of sub-indexes); then
//   pentries ID E... | pmeta ID M    its GetEntry and GetMetaData answers
//   index ID NAME IO VERSION [OPTION...]  a CMFBasicIndex, through a host class that may
//                                    re-route messages (user=U level=K: U, level + K), log
//                                    CreateEntry (create=log) or refuse its N-th (create=N),
//                                    and answer Description with its own block (desc=HEX)
//   plain ID NAME IO VERSION         a CMFIndex
//   sub ID PARENT START COUNT        a CMFSubIndex
//   call ID OP ARGS...               one call; prints "> line", the calls it made, "= result"
//   keep ID                          a reference to the entry the last call returned
//   release ID | addref ID | refs
//
// At the end of a scenario the host releases the library objects it holds,
// newest first, and prints the reference counts and every file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "omrick.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---- output -------------------------------------------------------------------

void Out(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string Num(uint64_t v) { return std::to_string(v); }

std::string Hex(const void* data, size_t n) {
  static const char digits[] = "0123456789abcdef";
  const uint8_t* p = static_cast<const uint8_t*>(data);
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

uint32_t Crc32(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// Bytes handed to a call: hex when short, else their CRC-32.
std::string ShowBytes(const void* data, size_t n) {
  if (n == 0) return "=";
  if (n <= 128) return Hex(data, n);
  char b[24];
  std::snprintf(b, sizeof b, "crc:%08x", Crc32(data, n));
  return b;
}

std::string Quote(const std::string& utf8) {
  std::string s = "\"";
  for (unsigned char c : utf8) {
    if (c == '\\') {
      s += "\\\\";
    } else if (c == '"') {
      s += "\\\"";
    } else if (c == '\n') {
      s += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", c);
      s += b;
    } else {
      s += char(c);
    }
  }
  return s + "\"";
}

std::string Quote(const WCHAR* text) { return text ? Quote(plat::Utf8(text)) : "-"; }

void WINAPI OnMessage(DWORD user, DWORD level, const WCHAR* text, void*) {
  Out("msg " + Num(user) + " " + Num(level) + " " + Quote(text));
}

// ---- scenario values ------------------------------------------------------------

struct BadScenario {
  std::string why;
};

uint64_t Int(const std::string& t) {
  try {
    if (!t.empty() && t[0] == '-') return 0 - std::stoull(t.substr(1), nullptr, 0);
    return std::stoull(t, nullptr, 0);
  } catch (...) {
    throw BadScenario{"not a number: " + t};
  }
}

Bytes HexBytes(const std::string& t) {
  Bytes b;
  if (t == "=") return b;
  if (t.size() % 2) throw BadScenario{"odd hex: " + t};
  for (size_t i = 0; i < t.size(); i += 2) b.push_back(uint8_t(std::stoul(t.substr(i, 2), nullptr, 16)));
  return b;
}

// A name token: "-" is none, "s:TEXT" the text.
struct WName {
  bool present = false;
  plat::wstring text;
  const WCHAR* get() const { return present ? text.c_str() : nullptr; }
};

WName ParseName(const std::string& t) {
  WName n;
  if (t == "-") return n;
  if (t.compare(0, 2, "s:") != 0) throw BadScenario{"a name is - or s:TEXT: " + t};
  n.present = true;
  n.text = plat::Wide(t.substr(2));
  return n;
}

// At most max bytes of b to dst (an empty b has no data pointer to copy from).
void CopyBytes(void* dst, const Bytes& b, size_t max) {
  if (!b.empty()) std::memcpy(dst, b.data(), std::min(b.size(), max));
}

timecode Timecode(int32_t count) {
  struct {
    LONG frames;
    DWORD system;
  } raw{count, TCS_25};
  timecode tc;
  std::memcpy(static_cast<void*>(&tc), &raw, sizeof tc);
  return tc;
}

class Scenario;

// ---- host objects -----------------------------------------------------------------

struct File {
  Bytes bytes;
};

constexpr uint64_t kFileLimit = 1 << 20;  // a write past this finds the disk full

class HostIO final : public IFileIO {
 public:
  HostIO(Scenario& s, std::string id) : s_(s), id_(std::move(id)) {}

  void AddRef() override { ++refs; }
  LONG Release() override { return --refs; }
  IFileIO* DataIO() override;
  bool Open(ULONG mode) override;
  void Close() override {
    file_.reset();
    Log("Close()");
  }
  bool Reserved6() override {
    Log("Reserved6()");
    return false;
  }
  ULONG Write(const void* buffer, ULONG size) override {
    bool fail = Failing("write");
    uint64_t done = 0;
    if (file_ && pos_ + size <= kFileLimit) {
      done = fail ? std::min<uint64_t>(partial_, size) : size;
      if (done) {
        Bytes& f = file_->bytes;
        if (f.size() < pos_ + done) f.resize(pos_ + done);
        std::memcpy(f.data() + pos_, buffer, done);
        pos_ += done;
      }
    }
    Log("Write(" + Num(size) + ") = " + Num(done) + " " + ShowBytes(buffer, size));
    return ULONG(done);
  }
  ULONG Read(void* buffer, ULONG size) override {
    bool fail = Failing("read");
    uint64_t got = 0;
    if (file_) {
      const Bytes& f = file_->bytes;
      if (pos_ < f.size()) got = std::min<uint64_t>(size, f.size() - pos_);
      if (fail) got = std::min<uint64_t>(got, partial_);
      if (got) std::memcpy(buffer, f.data() + pos_, got);
      pos_ += got;
    }
    Log("Read(" + Num(size) + ") = " + Num(got));
    return ULONG(got);
  }
  bool Seek(ULONGLONG position) override {
    bool ok = !Failing("seek") && file_;
    if (ok) pos_ = position;
    Log("Seek(" + Num(position) + ") = " + Num(ok));
    return ok;
  }
  ULONGLONG Size() override;
  bool Reserved11() override {
    Log("Reserved11()");
    return false;
  }
  bool Reserved12() override {
    Log("Reserved12()");
    return false;
  }
  void SetFileName(const WCHAR* name) override {
    hasName_ = name != nullptr;
    name_ = name ? plat::Utf8(name) : std::string();
    Log("SetFileName(" + Quote(name) + ")");
  }
  bool Remove(const WCHAR* name, ULONG flags) override;

  void OpenQuietly(ULONG mode);
  void CloseQuietly() { file_.reset(); }
  void SetName(const WName& n) {
    hasName_ = n.present;
    name_ = plat::Utf8(n.text);
  }

  LONG refs = 1;
  HostIO* data = nullptr;
  bool sizeSet = false;
  uint64_t size = 0;
  std::map<std::pair<std::string, uint64_t>, uint64_t> fails;

 private:
  void Log(const std::string& text) { Out(id_ + "." + text); }
  // Counts the call; true when it is one of those scripted to fail.
  bool Failing(const std::string& op) {
    auto it = fails.find({op, ++calls_[op]});
    if (it == fails.end()) return false;
    partial_ = it->second;
    return true;
  }

  Scenario& s_;
  std::string id_;
  bool hasName_ = false;
  std::string name_;
  std::shared_ptr<File> file_;  // the open file
  uint64_t pos_ = 0;
  uint64_t partial_ = 0;
  std::map<std::string, uint64_t> calls_;
};

class HostEntry final : public IIndexEntry {
 public:
  HostEntry(std::string id, uint64_t offset, uint32_t length, const Bytes& custom, int rep)
      : id_(std::move(id)), rep_(rep) {
    std::memcpy(record_, &offset, 8);
    std::memcpy(record_ + 8, &length, 4);
    CopyBytes(record_ + 12, custom, 24);
  }
  void AddRef() override { ++refs; }
  LONG Release() override { return --refs; }
  ULONGLONG Offset() override {
    uint64_t v;
    std::memcpy(&v, record_, 8);
    return v;
  }
  ULONGLONG Length() override {
    uint32_t v;
    std::memcpy(&v, record_ + 8, 4);
    return v;
  }
  ULONG Reference() override {
    Out(id_ + ".Reference()");
    return 0;
  }
  void* Custom(ULONG& size) override {
    Out(id_ + ".Custom()");
    size = 24;
    return record_ + 12;
  }
  bool GetFileRepresentation(void* buffer, ULONG& size) override {
    ULONG capacity = size;
    bool ok = rep_ >= 0 && capacity >= ULONG(rep_);
    if (ok) {
      std::memcpy(buffer, record_, size_t(rep_));
      size = ULONG(rep_);
    }
    Out(id_ + ".GetFileRepresentation(" + Num(capacity) + ") = " + Num(ok) + " size=" + Num(size));
    return ok;
  }
  bool SetFileRepresentation(void*, ULONG& size) override {
    Out(id_ + ".SetFileRepresentation(" + Num(size) + ")");
    return false;
  }

  LONG refs = 1;

 private:
  std::string id_;
  int rep_;
  uint8_t record_[40] = {};
};

class HostReport final : public IReportInfo {
 public:
  explicit HostReport(std::string id) : id_(std::move(id)) {}
  void AddRef() override { ++refs; }
  LONG Release() override { return --refs; }
  bool Progress(ULONGLONG done, ULONGLONG total) override {
    Out(id_ + ".Progress(" + Num(done) + ", " + Num(total) + ")");
    return true;
  }
  LONG refs = 1;

 private:
  std::string id_;
};

class HostMeta final : public IMetaData {
 public:
  void AddRef() override { ++refs; }
  LONG Release() override { return --refs; }
  LONG refs = 1;
};

class HostHelper final : public CMFIndexHelper {
 public:
  HostHelper(Scenario& s, std::string id) : s_(s), id_(std::move(id)) {}

  bool Reserved3() override {
    Log("Reserved3()");
    return false;
  }
  bool StartIndexing(IFileIO* data, IReportInfo* report) override;
  bool StopIndexing() override {
    bool r = Base("StopIndexing") ? CMFIndexHelper::StopIndexing() : Answer("StopIndexing");
    Log("StopIndexing() = " + Num(r));
    return r;
  }
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) override;
  bool StopValidation() override {
    bool r = Base("StopValidation") ? CMFIndexHelper::StopValidation() : Answer("StopValidation");
    Log("StopValidation() = " + Num(r));
    return r;
  }
  bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) override;

  std::vector<IIndexEntry*> entries;
  std::map<std::string, std::string> answers;
  std::vector<uint64_t> refuse;

 private:
  void Log(const std::string& text) { Out(id_ + "." + text); }
  bool Base(const std::string& op) { return answers.count(op) && answers[op] == "base"; }
  bool Answer(const std::string& op) { return !answers.count(op) || answers[op] == "1"; }

  Scenario& s_;
  std::string id_;
};

class HostParent final : public IIndex {
 public:
  HostParent(Scenario& s, std::string id) : s_(s), id_(std::move(id)) {}

  void AddRef() override { ++refs; }
  LONG Release() override { return --refs; }
  const WCHAR* ClassName() override {
    Log("ClassName()");
    return nullptr;
  }
  ULONG Version() override {
    Log("Version() = " + Num(version));
    return version;
  }
  const WCHAR* Name() override {
    Log("Name() = " + Quote(name.get()));
    return name.get();
  }
  const WCHAR* Extension() override {
    Log("Extension()");
    return nullptr;
  }
  IFileIO* GetIO() override;
  ULONG GetStreamID() override {
    Log("GetStreamID() = " + Num(streamID));
    return streamID;
  }
  ULONG GetStreamType() override {
    Log("GetStreamType() = " + Num(streamType));
    return streamType;
  }
  void* Description(ULONG& size) override {
    Log("Description()");
    size = 0;
    return nullptr;
  }
  bool ReadIndex(IReportInfo*) override { return Unexpected("ReadIndex"); }
  bool WriteIndex(IReportInfo*) override { return Unexpected("WriteIndex"); }
  bool ValidateIndex(IIndexHelper*, ValidationLevel, IFileIO*, IReportInfo*) override {
    return Unexpected("ValidateIndex");
  }
  bool InitIndex(IIndexHelper*, ULONGLONG, bool, IFileIO*, IReportInfo*) override { return Unexpected("InitIndex"); }
  bool BuildIndex(IIndexHelper*, IFileIO*, IReportInfo*) override { return Unexpected("BuildIndex"); }
  ULONGLONG NumberOfEntries() override {
    Log("NumberOfEntries()");
    return entries.size();
  }
  IIndexEntry* GetEntry(timecode) override {
    Log("GetEntry(timecode)");
    return nullptr;
  }
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool AddEntry(IIndexEntry*, timecode) override { return Unexpected("AddEntry(timecode)"); }
  bool AddEntry(IIndexEntry*) override { return Unexpected("AddEntry"); }
  IMetaData* GetMetaData(ULONG, timecode) override {
    Log("GetMetaData(timecode)");
    return nullptr;
  }
  IMetaData* GetMetaData(ULONG kind, ULONGLONG position) override;
  ULONG GetUser() override {
    Log("GetUser()");
    return 0;
  }
  ULONG GetLevel(ULONG level) override {
    Log("GetLevel(" + Num(level) + ")");
    return level;
  }

  LONG refs = 1;
  WName name;
  ULONG version = 0;
  HostIO* io = nullptr;
  ULONG streamID = 0, streamType = 0;
  std::vector<IIndexEntry*> entries;
  HostMeta* meta = nullptr;

 private:
  void Log(const std::string& text) { Out(id_ + "." + text); }
  bool Unexpected(const char* op) {
    Log(std::string(op) + "()");
    return false;
  }

  Scenario& s_;
  std::string id_;
};

// The library's classes made concrete, as a host does.
// The index a host derives: it may re-route messages (user, a level offset),
// log the entries it is asked to create for records read from the file (and
// refuse the n-th), and describe itself with a block of its own.
struct IndexOptions {
  bool hasUser = false;
  ULONG user = 0, shift = 0;
  bool logCreate = false;
  uint64_t refuseCreate = 0;  // the n-th CreateEntry answers null (0: none)
  bool hasDescription = false;
  Bytes description;
};

class HostIndex final : public CMFBasicIndex {
 public:
  HostIndex(const WCHAR* name, IFileIO* io, ULONG version, std::string id, IndexOptions options)
      : CMFBasicIndex(name, io, version), id_(std::move(id)), o_(std::move(options)) {}
  ULONG GetUser() override { return o_.hasUser ? o_.user : CMFBasicIndex::GetUser(); }
  ULONG GetLevel(ULONG level) override { return CMFBasicIndex::GetLevel(level) + o_.shift; }
  void* Description(ULONG& size) override {
    if (!o_.hasDescription) return CMFBasicIndex::Description(size);
    size = ULONG(o_.description.size());
    return o_.description.empty() ? nullptr : o_.description.data();
  }
  void ClearList() { Clear(); }

 protected:
  IIndexEntry* CreateEntry(void* record, void* heap) override {
    if (!o_.logCreate) return CMFBasicIndex::CreateEntry(record, heap);
    bool refuse = ++creates_ == o_.refuseCreate;
    IIndexEntry* e = refuse ? nullptr : CMFBasicIndex::CreateEntry(record, heap);
    Out(id_ + ".CreateEntry(" + (record ? "record" : "-") + ", " + (heap ? "heap" : "-") + ") = " +
        (e ? "entry" : "-"));
    return e;
  }

 private:
  std::string id_;
  IndexOptions o_;
  uint64_t creates_ = 0;
};

// CMFIndex and CMFSubIndex leave two operations of IIndex to their subclasses.
template <class Base>
class Concrete final : public Base {
 public:
  using Base::Base;
  using Base::BuildIndex;
  using Base::InitIndex;
  bool InitIndex(IIndexHelper*, ULONGLONG, bool, IFileIO*, IReportInfo*) override { return false; }
  bool BuildIndex(IIndexHelper*, IFileIO*, IReportInfo*) override { return false; }
};

// ---- the scenario ------------------------------------------------------------------

enum class Kind { IO, HostEntry, Report, Meta, Parent, LibEntry, Helper, Index, Kept };

struct Object {
  Kind kind;
  void* ptr;
  bool held = true;  // the host still holds its reference
  IIndexEntry* kept = nullptr;
  int extra = 0;  // references taken by addref lines, beyond the one held
};

class Scenario {
 public:
  ~Scenario() {
    for (auto& id : order_) {
      Object& o = objects_[id];
      switch (o.kind) {
        case Kind::IO: delete static_cast<HostIO*>(o.ptr); break;
        case Kind::HostEntry: delete static_cast<HostEntry*>(o.ptr); break;
        case Kind::Report: delete static_cast<HostReport*>(o.ptr); break;
        case Kind::Meta: delete static_cast<HostMeta*>(o.ptr); break;
        case Kind::Parent: delete static_cast<HostParent*>(o.ptr); break;
        default: break;  // the library's own: gone with their last Release
      }
    }
  }

  std::map<std::string, std::shared_ptr<File>> files;

  // What a pointer the library handed over is called in the trace.
  std::string NameOf(const void* p) {
    if (!p) return "-";
    auto it = names_.find(p);
    return it == names_.end() ? "?" : it->second;
  }
  std::string ShowEntry(IIndexEntry* e) {
    if (!e) return "-";
    auto it = names_.find(e);
    if (it != names_.end()) return it->second;
    // One of the library's own, read from a file.
    uint8_t rep[40];
    ULONG size = 40;
    if (!e->GetFileRepresentation(rep, size) || size != 40) return "lib:?";
    return "lib:" + Hex(rep, 40) + "/" + Num(uint64_t(int64_t(static_cast<CMFIndexEntry*>(e)->References())));
  }

  void Line(const std::vector<std::string>& t, const std::string& text);
  void Finish();

 private:
  template <class T>
  T* Get(const std::string& id, Kind kind) {
    if (id == "-") return nullptr;
    auto it = objects_.find(id);
    if (it == objects_.end()) throw BadScenario{"no object " + id};
    Object& o = it->second;
    if (o.kind == Kind::Kept && kind == Kind::LibEntry) return reinterpret_cast<T*>(o.kept);
    if (o.kind != kind) throw BadScenario{id + " is not of the kind asked for"};
    return static_cast<T*>(o.ptr);
  }
  IIndexEntry* Entry(const std::string& id) {
    if (id == "-") return nullptr;
    auto it = objects_.find(id);
    if (it == objects_.end()) throw BadScenario{"no entry " + id};
    Object& o = it->second;
    if (o.kind == Kind::HostEntry) return static_cast<HostEntry*>(o.ptr);
    if (o.kind == Kind::LibEntry) return static_cast<IIndexEntry*>(o.ptr);
    if (o.kind == Kind::Kept) return o.kept;
    throw BadScenario{id + " is not an entry"};
  }
  CMFIndex* Index(const std::string& id) { return Get<CMFIndex>(id, Kind::Index); }
  IIndex* AnyIndex(const std::string& id) {
    auto it = objects_.find(id);
    if (it != objects_.end() && it->second.kind == Kind::Parent) return static_cast<HostParent*>(it->second.ptr);
    return Index(id);
  }
  IReportInfo* Report(const std::string& id) { return Get<HostReport>(id, Kind::Report); }
  HostIO* IO(const std::string& id) { return Get<HostIO>(id, Kind::IO); }
  void Add(const std::string& id, Kind kind, void* p) {
    if (objects_.count(id)) throw BadScenario{id + " made twice"};
    objects_[id] = Object{kind, p, true, nullptr};
    order_.push_back(id);
    if (p) names_[p] = id;
  }
  LONG CountOf(const Object& o);
  LONG ReleaseHeld(const std::string& id, Object& o);
  void Refs();

  std::string Call(const std::vector<std::string>& t);
  std::string IndexCall(Object& o, const std::string& op, const std::vector<std::string>& a);
  std::string EntryCall(Object& o, const std::string& op, const std::vector<std::string>& a);
  std::string HelperCall(HostHelper* h, const std::string& op, const std::vector<std::string>& a);

  std::map<std::string, Object> objects_;
  std::vector<std::string> order_;
  std::map<const void*, std::string> names_;
  std::vector<std::unique_ptr<_MFBasicIndexEntry>> records_;  // the host's records of basic entries
  IIndexEntry* last_ = nullptr;
};

// -- HostIO, HostHelper and HostParent calls that need the scenario

IFileIO* HostIO::DataIO() {
  if (data) data->AddRef();
  Log("DataIO() = " + s_.NameOf(data));
  return data;
}

bool HostIO::Open(ULONG mode) {
  bool fail = Failing("open");
  bool ok = false;
  if (!fail && hasName_) {
    auto it = s_.files.find(name_);
    if (mode == 5 && it != s_.files.end()) {
      ok = true;
    } else if (mode == 6) {
      if (it == s_.files.end()) it = s_.files.emplace(name_, std::make_shared<File>()).first;
      it->second->bytes.clear();
      ok = true;
    }
    if (ok) {
      file_ = it->second;
      pos_ = 0;
    }
  }
  Log("Open(" + Num(mode) + ") = " + Num(ok));
  return ok;
}

void HostIO::OpenQuietly(ULONG mode) {
  if (!hasName_) return;
  auto it = s_.files.find(name_);
  if (mode == 6) {
    if (it == s_.files.end()) it = s_.files.emplace(name_, std::make_shared<File>()).first;
    it->second->bytes.clear();
  }
  file_ = it == s_.files.end() ? nullptr : it->second;
  pos_ = 0;
}

ULONGLONG HostIO::Size() {
  uint64_t n = size;
  if (!sizeSet) {
    n = 0;
    if (file_) {
      n = file_->bytes.size();
    } else if (hasName_) {
      auto it = s_.files.find(name_);
      if (it != s_.files.end()) n = it->second->bytes.size();
    }
  }
  Log("Size() = " + Num(n));
  return n;
}

bool HostIO::Remove(const WCHAR* name, ULONG flags) {
  if (name) s_.files.erase(plat::Utf8(name));
  Log("Remove(" + Quote(name) + ", " + Num(flags) + ")");
  return true;
}

bool HostHelper::StartIndexing(IFileIO* data, IReportInfo* report) {
  bool r = Base("StartIndexing") ? CMFIndexHelper::StartIndexing(data, report) : Answer("StartIndexing");
  Log("StartIndexing(" + s_.NameOf(data) + ", " + s_.NameOf(report) + ") = " + Num(r));
  return r;
}

IIndexEntry* HostHelper::GetEntry(ULONGLONG position) {
  IIndexEntry* e = nullptr;
  if (Base("GetEntry"))
    e = CMFIndexHelper::GetEntry(position);
  else if (position < entries.size())
    e = entries[position];
  Log("GetEntry(" + Num(position) + ") = " + s_.ShowEntry(e));
  return e;
}

bool HostHelper::StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) {
  bool r = Base("StartValidation") ? CMFIndexHelper::StartValidation(data, level, report) : Answer("StartValidation");
  Log("StartValidation(" + s_.NameOf(data) + ", " + Num(uint64_t(int64_t(level))) + ", " + s_.NameOf(report) +
      ") = " + Num(r));
  return r;
}

bool HostHelper::ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) {
  bool r;
  if (Base("ValidateEntry")) {
    r = CMFIndexHelper::ValidateEntry(entry, position, level);
  } else {
    r = true;
    for (uint64_t p : refuse)
      if (p == position) r = false;
  }
  Log("ValidateEntry(" + s_.ShowEntry(entry) + ", " + Num(position) + ", " + Num(uint64_t(int64_t(level))) +
      ") = " + Num(r));
  return r;
}

IFileIO* HostParent::GetIO() {
  Log("GetIO() = " + s_.NameOf(io));
  return io;
}

IIndexEntry* HostParent::GetEntry(ULONGLONG position) {
  IIndexEntry* e = position < entries.size() ? entries[position] : nullptr;
  Log("GetEntry(" + Num(position) + ") = " + s_.ShowEntry(e));
  return e;
}

IMetaData* HostParent::GetMetaData(ULONG kind, ULONGLONG position) {
  Log("GetMetaData(" + Num(kind) + ", " + Num(position) + ") = " + s_.NameOf(meta));
  return meta;
}

// -- lines

void Scenario::Line(const std::vector<std::string>& t, const std::string& text) {
  const std::string& op = t[0];
  auto arg = [&](size_t i) -> const std::string& {
    if (i >= t.size()) throw BadScenario{"too few arguments: " + text};
    return t[i];
  };
  if (op == "file") {
    auto f = std::make_shared<File>();
    f->bytes = HexBytes(arg(2));
    files[arg(1)] = f;
  } else if (op == "io") {
    HostIO* io = new HostIO(*this, arg(1));
    if (t.size() > 2) io->SetName(ParseName(t[2]));
    Add(arg(1), Kind::IO, io);
  } else if (op == "iodata") {
    IO(arg(1))->data = IO(arg(2));
  } else if (op == "iosize") {
    HostIO* io = IO(arg(1));
    io->sizeSet = true;
    io->size = Int(arg(2));
  } else if (op == "iofail") {
    IO(arg(1))->fails[{arg(2), Int(arg(3))}] = t.size() > 4 ? Int(t[4]) : 0;
  } else if (op == "ioopen") {
    IO(arg(1))->OpenQuietly(ULONG(Int(arg(2))));
  } else if (op == "ioclose") {
    IO(arg(1))->CloseQuietly();
  } else if (op == "entry") {
    int rep = 40;
    if (t.size() > 5) rep = t[5] == "fail" ? -1 : int(Int(t[5]));
    Add(arg(1), Kind::HostEntry, new HostEntry(arg(1), Int(arg(2)), uint32_t(Int(arg(3))), HexBytes(arg(4)), rep));
  } else if (op == "static") {
    auto* e = new CMFBasicIndexEntryStatic();
    e->SetOffset(ULONGLONG(Int(arg(2))));
    e->SetLength(ULONG(Int(arg(3))));
    Bytes custom = HexBytes(arg(4));
    ULONG size = 0;
    CopyBytes(e->Custom(size), custom, 24);
    Add(arg(1), Kind::LibEntry, static_cast<IIndexEntry*>(e));
  } else if (op == "basic") {
    _MFBasicIndexEntry* rec = nullptr;
    if (arg(2) != "null") {
      records_.emplace_back(new _MFBasicIndexEntry());
      rec = records_.back().get();
      CopyBytes(rec, HexBytes(arg(2)), 40);
    }
    Add(arg(1), Kind::LibEntry, static_cast<IIndexEntry*>(new CMFBasicIndexEntry(rec, nullptr)));
  } else if (op == "plainentry") {
    Add(arg(1), Kind::LibEntry, static_cast<IIndexEntry*>(new CMFIndexEntry()));
  } else if (op == "helper") {
    HostHelper* h = new HostHelper(*this, arg(1));
    Add(arg(1), Kind::Helper, static_cast<IIndexHelper*>(h));
  } else if (op == "hentries") {
    HostHelper* h = static_cast<HostHelper*>(Get<IIndexHelper>(arg(1), Kind::Helper));
    h->entries.clear();
    for (size_t i = 2; i < t.size(); ++i) h->entries.push_back(Entry(t[i]));
  } else if (op == "hanswer") {
    static_cast<HostHelper*>(Get<IIndexHelper>(arg(1), Kind::Helper))->answers[arg(2)] = arg(3);
  } else if (op == "hrefuse") {
    HostHelper* h = static_cast<HostHelper*>(Get<IIndexHelper>(arg(1), Kind::Helper));
    for (size_t i = 2; i < t.size(); ++i) h->refuse.push_back(Int(t[i]));
  } else if (op == "report") {
    Add(arg(1), Kind::Report, static_cast<IReportInfo*>(new HostReport(arg(1))));
  } else if (op == "meta") {
    Add(arg(1), Kind::Meta, static_cast<IMetaData*>(new HostMeta()));
  } else if (op == "pindex") {
    HostParent* p = new HostParent(*this, arg(1));
    p->name = ParseName(arg(2));
    p->version = ULONG(Int(arg(3)));
    p->io = IO(arg(4));
    p->streamID = ULONG(Int(arg(5)));
    p->streamType = ULONG(Int(arg(6)));
    Add(arg(1), Kind::Parent, static_cast<IIndex*>(p));
  } else if (op == "pentries") {
    HostParent* p = static_cast<HostParent*>(Get<IIndex>(arg(1), Kind::Parent));
    p->entries.clear();
    for (size_t i = 2; i < t.size(); ++i) p->entries.push_back(Entry(t[i]));
  } else if (op == "pmeta") {
    static_cast<HostParent*>(Get<IIndex>(arg(1), Kind::Parent))->meta =
        static_cast<HostMeta*>(Get<IMetaData>(arg(2), Kind::Meta));
  } else if (op == "index") {
    IndexOptions options;
    for (size_t i = 5; i < t.size(); ++i) {
      size_t eq = t[i].find('=');
      std::string key = t[i].substr(0, eq), value = eq == std::string::npos ? "" : t[i].substr(eq + 1);
      if (key == "user") {
        options.hasUser = true;
        options.user = ULONG(Int(value));
      } else if (key == "level") {
        options.shift = ULONG(Int(value));
      } else if (key == "create") {
        options.logCreate = true;
        options.refuseCreate = value == "log" ? 0 : Int(value);
      } else if (key == "desc") {
        options.hasDescription = true;
        options.description = HexBytes(value);
      } else {
        throw BadScenario{"unknown index option " + t[i]};
      }
    }
    WName name = ParseName(arg(2));
    CMFIndex* x = new HostIndex(name.get(), IO(arg(3)), ULONG(Int(arg(4))), arg(1), std::move(options));
    Add(arg(1), Kind::Index, x);
  } else if (op == "plain") {
    WName name = ParseName(arg(2));
    CMFIndex* x = new Concrete<CMFIndex>(name.get(), IO(arg(3)), ULONG(Int(arg(4))));
    Add(arg(1), Kind::Index, x);
  } else if (op == "sub") {
    CMFIndex* x = new Concrete<CMFSubIndex>(AnyIndex(arg(2)), Int(arg(3)), Int(arg(4)));
    Add(arg(1), Kind::Index, x);
  } else if (op == "call") {
    Out("> " + text);
    Out("= " + Call(t));
  } else if (op == "keep") {
    if (last_) {
      if (objects_.count(arg(1))) throw BadScenario{arg(1) + " made twice"};
      last_->AddRef();
      objects_[arg(1)] = Object{Kind::Kept, nullptr, true, last_};
      order_.push_back(arg(1));
      if (!names_.count(last_)) names_[last_] = arg(1);
    }
  } else if (op == "release") {
    auto it = objects_.find(arg(1));
    if (it == objects_.end()) throw BadScenario{"no object " + arg(1)};
    Out("release " + arg(1) + " = " + Num(uint64_t(int64_t(ReleaseHeld(arg(1), it->second)))));
  } else if (op == "addref") {
    auto it = objects_.find(arg(1));
    if (it == objects_.end()) throw BadScenario{"no object " + arg(1)};
    Object& o = it->second;
    ++o.extra;
    switch (o.kind) {
      case Kind::IO: static_cast<HostIO*>(o.ptr)->AddRef(); break;
      case Kind::HostEntry: static_cast<HostEntry*>(o.ptr)->AddRef(); break;
      case Kind::LibEntry: static_cast<IIndexEntry*>(o.ptr)->AddRef(); break;
      case Kind::Kept: o.kept->AddRef(); break;
      case Kind::Helper: static_cast<IIndexHelper*>(o.ptr)->AddRef(); break;
      case Kind::Index: static_cast<CMFIndex*>(o.ptr)->AddRef(); break;
      case Kind::Report: static_cast<HostReport*>(o.ptr)->AddRef(); break;
      case Kind::Meta: static_cast<HostMeta*>(o.ptr)->AddRef(); break;
      case Kind::Parent: static_cast<HostParent*>(o.ptr)->AddRef(); break;
    }
  } else if (op == "refs") {
    Refs();
  } else {
    throw BadScenario{"unknown line: " + text};
  }
}

LONG Scenario::CountOf(const Object& o) {
  switch (o.kind) {
    case Kind::IO: return static_cast<HostIO*>(o.ptr)->refs;
    case Kind::HostEntry: return static_cast<HostEntry*>(o.ptr)->refs;
    case Kind::Report: return static_cast<HostReport*>(o.ptr)->refs;
    case Kind::Meta: return static_cast<HostMeta*>(o.ptr)->refs;
    case Kind::Parent: return static_cast<HostParent*>(o.ptr)->refs;
    case Kind::LibEntry: return static_cast<CMFIndexEntry*>(static_cast<IIndexEntry*>(o.ptr))->References();
    case Kind::Kept: {
      // A reference to a host entry, or to one of the library's.
      auto it = names_.find(o.kept);
      if (it != names_.end() && objects_.count(it->second) && objects_[it->second].kind == Kind::HostEntry)
        return static_cast<HostEntry*>(o.kept)->refs;
      return static_cast<CMFIndexEntry*>(o.kept)->References();
    }
    case Kind::Helper: return static_cast<CMFIndexHelper*>(static_cast<IIndexHelper*>(o.ptr))->References();
    case Kind::Index: return static_cast<CMFIndex*>(o.ptr)->References();
  }
  return 0;
}

bool IsHost(Kind k) {
  return k == Kind::IO || k == Kind::HostEntry || k == Kind::Report || k == Kind::Meta || k == Kind::Parent;
}

// Gives back the host's reference. A library object the host no longer holds
// may be gone, so its name is dropped with the reference.
LONG Scenario::ReleaseHeld(const std::string& id, Object& o) {
  LONG r = 0;
  bool last = o.extra == 0;
  if (!last) --o.extra;
  switch (o.kind) {
    case Kind::IO: return static_cast<HostIO*>(o.ptr)->Release();
    case Kind::HostEntry: return static_cast<HostEntry*>(o.ptr)->Release();
    case Kind::Report: return static_cast<HostReport*>(o.ptr)->Release();
    case Kind::Meta: return static_cast<HostMeta*>(o.ptr)->Release();
    case Kind::Parent: return static_cast<HostParent*>(o.ptr)->Release();
    case Kind::LibEntry: {
      auto* e = static_cast<IIndexEntry*>(o.ptr);
      if (last) names_.erase(e);
      r = e->Release();
      break;
    }
    case Kind::Kept: {
      auto it = names_.find(o.kept);
      if (last && it != names_.end() && it->second == id) names_.erase(it);
      r = o.kept->Release();
      break;
    }
    case Kind::Helper:
      if (last) names_.erase(o.ptr);
      r = static_cast<IIndexHelper*>(o.ptr)->Release();
      break;
    case Kind::Index:
      if (last) names_.erase(o.ptr);
      r = static_cast<CMFIndex*>(o.ptr)->Release();
      break;
  }
  if (last) o.held = false;
  return r;
}

void Scenario::Refs() {
  std::string line = "refs";
  for (auto& id : order_) {
    Object& o = objects_[id];
    if (IsHost(o.kind) || o.held) line += " " + id + "=" + Num(uint64_t(int64_t(CountOf(o))));
  }
  Out(line);
}

void Scenario::Finish() {
  Out("end");
  for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
    Object& o = objects_[*it];
    if (!IsHost(o.kind) && o.held) Out("release " + *it + " = " + Num(uint64_t(int64_t(ReleaseHeld(*it, o)))));
  }
  Refs();
  for (auto& f : files) {
    const Bytes& b = f.second->bytes;
    Out("file " + f.first + " " + Num(b.size()));
    for (size_t at = 0; at < b.size(); at += 64) {
      size_t n = std::min<size_t>(64, b.size() - at);
      bool any = false;
      for (size_t i = 0; i < n; ++i) any |= b[at + i] != 0;
      if (!any) continue;
      char head[32];
      std::snprintf(head, sizeof head, "  %04zx ", at);
      Out(head + Hex(b.data() + at, n));
    }
  }
}

// -- calls

std::string Scenario::Call(const std::vector<std::string>& t) {
  if (t.size() < 3) throw BadScenario{"call ID OP"};
  last_ = nullptr;
  auto it = objects_.find(t[1]);
  if (it == objects_.end()) throw BadScenario{"no object " + t[1]};
  Object& o = it->second;
  std::vector<std::string> a(t.begin() + 3, t.end());
  switch (o.kind) {
    case Kind::Index: return IndexCall(o, t[2], a);
    case Kind::LibEntry:
    case Kind::Kept: return EntryCall(o, t[2], a);
    case Kind::Helper:
      return HelperCall(static_cast<HostHelper*>(static_cast<IIndexHelper*>(o.ptr)), t[2], a);
    default: throw BadScenario{"no calls on " + t[1]};
  }
}

std::string Scenario::IndexCall(Object& o, const std::string& op, const std::vector<std::string>& a) {
  CMFIndex* x = static_cast<CMFIndex*>(o.ptr);
  IIndex* ix = x;
  auto arg = [&](size_t i) -> const std::string& {
    if (i >= a.size()) throw BadScenario{"too few arguments for " + op};
    return a[i];
  };
  auto B = [](bool v) { return std::string(v ? "1" : "0"); };
  if (op == "ClassName") return Quote(ix->ClassName());
  if (op == "Version") return Num(ix->Version());
  if (op == "Name") return Quote(ix->Name());
  if (op == "Extension") return Quote(ix->Extension());
  if (op == "GetIO") return NameOf(ix->GetIO());
  if (op == "GetStreamID") return Num(ix->GetStreamID());
  if (op == "GetStreamType") return Num(ix->GetStreamType());
  if (op == "Description") {
    ULONG size = 0xDEADBEEF;
    void* p = ix->Description(size);
    return (p ? ShowBytes(p, size) : std::string("-")) + " size=" + Num(size);
  }
  if (op == "NumberOfEntries") return Num(ix->NumberOfEntries());
  if (op == "GetEntry") {
    last_ = ix->GetEntry(ULONGLONG(Int(arg(0))));
    return ShowEntry(last_);
  }
  if (op == "GetEntryTC") return ShowEntry(ix->GetEntry(Timecode(int32_t(Int(arg(0))))));
  if (op == "AddEntryTC") return B(ix->AddEntry(Entry(arg(0)), Timecode(0)));
  if (op == "BuildIndex2") return B(x->BuildIndex(static_cast<IIndexHelper*>(nullptr), static_cast<IReportInfo*>(nullptr)));
  if (op == "InitIndex4") return B(x->InitIndex(nullptr, 0, false, static_cast<IReportInfo*>(nullptr)));
  if (op == "GetMetaData") return NameOf(ix->GetMetaData(ULONG(Int(arg(0))), ULONGLONG(Int(arg(1)))));
  if (op == "GetMetaDataTC") return NameOf(ix->GetMetaData(ULONG(Int(arg(0))), Timecode(int32_t(Int(arg(1))))));
  if (op == "GetUser") return Num(ix->GetUser());
  if (op == "GetLevel") return Num(ix->GetLevel(ULONG(Int(arg(0)))));
  if (op == "References") return Num(uint64_t(int64_t(x->References())));
  if (op == "SetName") {
    WName n = ParseName(arg(0));
    x->SetName(n.get());
    return "void";
  }
  if (op == "SetIO") {
    x->SetIO(IO(arg(0)));
    return "void";
  }
  if (op == "SetNameOwn") {
    x->SetName(x->Name());
    return "void";
  }
  HostIndex* b = dynamic_cast<HostIndex*>(x);
  if (!b) {
    if (op == "ReadIndex") return B(ix->ReadIndex(nullptr));
    if (op == "WriteIndex") return B(ix->WriteIndex(nullptr));
    if (op == "ValidateIndex") return B(ix->ValidateIndex(nullptr, IIndex::ValidationLevel(0), nullptr, nullptr));
    if (op == "AddEntry") return B(ix->AddEntry(Entry(arg(0))));
    throw BadScenario{op + " is not a call of this index"};
  }
  if (op == "NumberOfStreams") return Num(b->NumberOfStreams());
  if (op == "SetFlag") {
    b->SetFlag(CMFBasicIndex::Flags(Int(arg(0))), arg(1) == "1");
    return "void";
  }
  if (op == "IsSet") return B(b->IsSet(CMFBasicIndex::Flags(Int(arg(0)))));
  if (op == "ReadIndex") return B(b->ReadIndex(a.empty() ? nullptr : Report(a[0])));
  if (op == "WriteIndex") return B(b->WriteIndex(a.empty() ? nullptr : Report(a[0])));
  if (op == "ReadIndexHeader") return B(b->ReadIndexHeader());
  if (op == "WriteIndexHeader") return B(b->WriteIndexHeader());
  if (op == "UpdateIndexHeader") return B(b->UpdateIndexHeader());
  if (op == "UpdateIndex") return B(b->UpdateIndex());
  if (op == "ReadIndexEntries") return B(b->ReadIndexEntries(Int(arg(0)), Int(arg(1))));
  if (op == "WriteIndexEntries") return B(b->WriteIndexEntries(Int(arg(0)), Int(arg(1))));
  if (op == "AddEntry") return B(b->AddEntry(Entry(arg(0))));
  if (op == "BuildIndex")
    return B(b->BuildIndex(Get<IIndexHelper>(arg(0), Kind::Helper), IO(arg(1)), Report(arg(2))));
  if (op == "ValidateIndex")
    return B(b->ValidateIndex(Get<IIndexHelper>(arg(0), Kind::Helper), IIndex::ValidationLevel(int(Int(arg(1)))),
                              IO(arg(2)), Report(arg(3))));
  if (op == "InitIndex")
    return B(b->InitIndex(Get<IIndexHelper>(arg(0), Kind::Helper), Int(arg(1)), arg(2) == "1", IO(arg(3)),
                          Report(arg(4))));
  if (op == "SetDescription") {
    Bytes d = HexBytes(arg(0));
    return B(b->SetDescription(d.empty() ? nullptr : d.data(), ULONG(d.size())));
  }
  if (op == "SetDescriptionNull") return B(b->SetDescription(nullptr, ULONG(Int(arg(0)))));
  if (op == "SetDescriptionOwn") {
    ULONG size = 0;
    void* own = b->Description(size);
    return B(b->SetDescription(own, size));
  }
  if (op == "GetDataIO") return NameOf(b->GetDataIO());
  if (op == "SetDataIO") {
    b->SetDataIO(IO(arg(0)));
    return "void";
  }
  if (op == "Clear") {
    b->ClearList();
    return "void";
  }
  throw BadScenario{"unknown call " + op};
}

std::string Scenario::EntryCall(Object& o, const std::string& op, const std::vector<std::string>& a) {
  IIndexEntry* e = o.kind == Kind::Kept ? o.kept : static_cast<IIndexEntry*>(o.ptr);
  auto arg = [&](size_t i) -> const std::string& {
    if (i >= a.size()) throw BadScenario{"too few arguments for " + op};
    return a[i];
  };
  if (op == "Offset") return Num(e->Offset());
  if (op == "Length") return Num(e->Length());
  if (op == "Reference") return Num(e->Reference());
  if (op == "References") return Num(uint64_t(int64_t(static_cast<CMFIndexEntry*>(e)->References())));
  if (op == "Custom") {
    ULONG size = 0xDEADBEEF;
    void* p = e->Custom(size);
    std::string s = size == 0xDEADBEEF ? "untouched" : Num(size);
    if (!p) return "- size=" + s;
    return ShowBytes(p, std::min<ULONG>(size, 64)) + " size=" + s;
  }
  if (op == "GetFileRepresentation") {
    uint8_t buf[80];
    std::memset(buf, 0xCC, sizeof buf);
    ULONG cap = ULONG(Int(arg(0)));
    ULONG size = cap;
    bool ok = e->GetFileRepresentation(buf, size);
    size_t shown = std::min<ULONG>(cap, 48);
    return Num(ok) + " size=" + Num(size) + " buf=" + (shown ? Hex(buf, shown) : std::string("="));
  }
  if (op == "SetFileRepresentation") {
    ULONG size = ULONG(Int(arg(0)));
    Bytes b = HexBytes(arg(1));
    b.resize(std::max<size_t>(b.size(), 64));
    bool ok = e->SetFileRepresentation(b.data(), size);
    return Num(ok) + " size=" + Num(size);
  }
  if (op == "SetEntry") {
    _MFBasicIndexEntry* rec = nullptr;
    if (arg(0) != "null") {
      records_.emplace_back(new _MFBasicIndexEntry());
      rec = records_.back().get();
      CopyBytes(rec, HexBytes(arg(0)), 40);
    }
    static_cast<CMFBasicIndexEntry*>(e)->SetEntry(rec);
    return "void";
  }
  auto* s = static_cast<CMFBasicIndexEntryStatic*>(e);
  if (op == "SetLength") {
    s->SetLength(ULONG(Int(arg(0))));
    return "void";
  }
  if (op == "SetOffset") {
    s->SetOffset(ULONGLONG(Int(arg(0))));
    return "void";
  }
  if (op == "SetOffset2") {
    s->SetOffset(ULONG(Int(arg(0))), ULONG(Int(arg(1))));
    return "void";
  }
  throw BadScenario{"unknown entry call " + op};
}

std::string Scenario::HelperCall(HostHelper* h, const std::string& op, const std::vector<std::string>& a) {
  IIndexHelper* ih = h;
  if (op == "ClassName") return Quote(ih->ClassName());
  if (op == "GetUser") return Num(ih->GetUser());
  if (op == "GetLevel") return Num(ih->GetLevel(ULONG(Int(a.at(0)))));
  if (op == "References") return Num(uint64_t(int64_t(h->References())));
  if (op == "FillBMI") {
    tagQZBMINFOHEADER header, before;
    std::memset(&header, 0xAB, sizeof header);
    before = header;
    ULONG size = ULONG(Int(a.at(0)));
    bool ok = h->FillBMI(&header, size);
    bool same = std::memcmp(&header, &before, sizeof header) == 0;
    return Num(ok) + " size=" + Num(size) + " header=" + (same ? "untouched" : "changed");
  }
  throw BadScenario{"unknown helper call " + op};
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> t;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    if (j > i) t.push_back(line.substr(i, j - i));
    i = j;
  }
  return t;
}

std::string Join(const std::vector<std::string>& t) {
  std::string s;
  for (auto& x : t) s += (s.empty() ? "" : " ") + x;
  return s;
}

bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += char(c);
  return c != EOF || !line.empty();
}

}  // namespace

int main(int argc, char** argv) {
  // -u: every line goes out at once, for finding the call a crash happened in.
  if (argc > 1 && std::strcmp(argv[1], "-u") == 0) std::setvbuf(stdout, nullptr, _IONBF, 0);
  BrelluSetDefaultLevel(BRELLU_MUTE - 1);
  BrelluSetCapture(OnMessage, nullptr);

  std::unique_ptr<Scenario> s;
  std::string line;
  bool failed = false;
  auto finish = [&] {
    if (s && !failed) s->Finish();
    s.reset();
    std::fflush(stdout);
  };
  while (ReadLine(line)) {
    std::vector<std::string> t = Split(line);
    if (t.empty() || t[0][0] == '#') continue;
    if (t[0] == "scenario") {
      finish();
      Out("scenario " + (t.size() > 1 ? t[1] : std::string()));
      s.reset(new Scenario());
      failed = false;
      continue;
    }
    if (!s || failed) continue;
    try {
      s->Line(t, Join(t));
    } catch (const BadScenario& e) {
      Out("bad scenario: " + e.why);
      failed = true;
    }
  }
  finish();
  BrelluSetCapture(nullptr, nullptr);
  Out("done");  // what follows (a leak report at exit) is not a scenario's
  std::fflush(stdout);
  return 0;
}
