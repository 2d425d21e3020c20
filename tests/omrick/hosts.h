// Scripted host objects for the index tests: an in-memory IFileIO that logs
// every call and fails the n-th call of a kind, entries and helpers that count
// their references, and a capture of the library's messages.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "omrick.h"
#include "support/support.h"

namespace omricktest {

using plat::wstring;

// Reference counting as every host object does it; alive() says whether the
// last reference has gone (objects are kept, not freed, so tests can look).
struct Counted {
  LONG refs = 1;
  void Up() { InterlockedIncrement(&refs); }
  LONG Down() { return InterlockedDecrement(&refs); }
};

class MemoryIO : public IFileIO {
 public:
  enum Kind { kOpen, kSeek, kRead, kWrite, kKinds };
  std::string bytes;                 // the file
  std::vector<std::string> log;      // one line per call
  int failAt[kKinds] = {0, 0, 0, 0}; // fail the n-th call of the kind (1-based; 0 never)
  int calls[kKinds] = {0, 0, 0, 0};
  ULONGLONG sizeOverride = ~0ULL;    // answered by Size() when set
  IFileIO* data = nullptr;           // what DataIO() hands out (a reference is added)
  Counted count;
  bool open = false;
  ULONGLONG position = 0;

  void AddRef() override { count.Up(); }
  LONG Release() override { return count.Down(); }
  IFileIO* DataIO() override {
    log.push_back("DataIO");
    if (data) data->AddRef();
    return data;
  }
  bool Open(ULONG mode) override {
    log.push_back("Open(" + std::to_string(mode) + ")");
    if (Fails(kOpen)) return false;
    if (mode == kOpenWrite) bytes.clear();
    open = true;
    return true;
  }
  void Close() override {
    log.push_back("Close");
    open = false;
  }
  bool Reserved6() override { return false; }
  ULONG Write(const void* buffer, ULONG size) override {
    log.push_back("Write(" + std::to_string(size) + ")");
    if (Fails(kWrite)) return size / 2;
    if (bytes.size() < position + size) bytes.resize(position + size, '\0');
    bytes.replace(position, size, static_cast<const char*>(buffer), size);
    position += size;
    return size;
  }
  ULONG Read(void* buffer, ULONG size) override {
    log.push_back("Read(" + std::to_string(size) + ")");
    if (Fails(kRead)) return 0;
    ULONG n = position >= bytes.size() ? 0 : ULONG(std::min<ULONGLONG>(size, bytes.size() - position));
    std::memcpy(buffer, bytes.data() + position, n);
    position += n;
    return n;
  }
  bool Seek(ULONGLONG to) override {
    log.push_back("Seek(" + std::to_string(to) + ")");
    if (Fails(kSeek)) return false;
    position = to;
    return true;
  }
  ULONGLONG Size() override {
    log.push_back("Size");
    return sizeOverride != ~0ULL ? sizeOverride : bytes.size();
  }
  bool Reserved11() override { return false; }
  bool Reserved12() override { return false; }
  void SetFileName(const WCHAR* name) override { log.push_back("SetFileName(" + plat::Utf8(name) + ")"); }
  bool Remove(const WCHAR* name, ULONG flags) override {
    log.push_back("Remove(" + plat::Utf8(name) + "," + std::to_string(flags) + ")");
    bytes.clear();
    return true;
  }

 private:
  bool Fails(Kind k) { return ++calls[k] == failAt[k]; }
};

// An entry on a record of its own that counts its references.
class CountedEntry : public IIndexEntry {
 public:
  CountedEntry(ULONGLONG offset, ULONG length, BYTE tag = 0) {
    record.offset = offset;
    record.length = length;
    for (BYTE& b : record.custom) b = tag;
  }
  _MFBasicIndexEntry record = {};
  ULONG produce = sizeof(_MFBasicIndexEntry);  // bytes GetFileRepresentation produces
  Counted count;
  void AddRef() override { count.Up(); }
  LONG Release() override { return count.Down(); }
  ULONGLONG Offset() override { return record.offset; }
  ULONGLONG Length() override { return record.length; }
  ULONG Reference() override { return 0; }
  void* Custom(ULONG& size) override {
    size = 24;
    return record.custom;
  }
  bool GetFileRepresentation(void* buffer, ULONG& size) override {
    if (size < produce) return false;
    std::memcpy(buffer, &record, produce);
    size = produce;
    return true;
  }
  bool SetFileRepresentation(void*, ULONG&) override { return false; }
};

// A helper that hands out its entries (borrowed) and validates them by a rule.
class ScriptedHelper : public IIndexHelper {
 public:
  std::vector<CountedEntry*> entries;  // owned by the test
  std::vector<std::string> log;
  bool startValidation = true;
  long badAt = -1;  // ValidateEntry fails at this position
  Counted count;

  void AddRef() override { count.Up(); }
  LONG Release() override { return count.Down(); }
  bool Reserved3() override { return false; }
  const WCHAR* ClassName() override { return TEXT("ScriptedHelper"); }
  bool StartIndexing(IFileIO* data, IReportInfo*) override {
    log.push_back(data ? "StartIndexing(data)" : "StartIndexing(null)");
    return true;
  }
  bool StopIndexing() override {
    log.push_back("StopIndexing");
    return true;
  }
  IIndexEntry* GetEntry(ULONGLONG position) override {
    log.push_back("GetEntry(" + std::to_string(position) + ")");
    return position < entries.size() ? entries[size_t(position)] : nullptr;
  }
  bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) override {
    log.push_back(std::string("StartValidation(") + (data ? "data" : "null") + "," + std::to_string(int(level)) + "," +
                  (report ? "report" : "null") + ")");
    return startValidation;
  }
  bool StopValidation() override {
    log.push_back("StopValidation");
    return true;
  }
  bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel) override {
    log.push_back("ValidateEntry(" + std::to_string(position) + (entry ? ")" : ",null)"));
    return long(position) != badAt;
  }
  ULONG GetUser() override { return 42; }
  ULONG GetLevel(ULONG level) override { return level; }
};

// The library's messages: "user/level text" lines.
class Messages {
 public:
  Messages() {
    BrelluResetLevels();
    BrelluSetLevel(42, 100);
    BrelluSetCapture(&Capture, this);
  }
  ~Messages() {
    BrelluSetCapture(nullptr, nullptr);
    BrelluResetLevels();
  }
  std::vector<std::string> lines;

 private:
  static void WINAPI Capture(DWORD user, DWORD level, const WCHAR* text, void* context) {
    static_cast<Messages*>(context)->lines.push_back(std::to_string(user) + "/" + std::to_string(level) + " " +
                                                     plat::Utf8(text));
  }
};

// The bytes of an index file header with the given fields, then extra bytes.
inline std::string HeaderBytes(const _MFBasicIndexHeader& h) { return std::string(reinterpret_cast<const char*>(&h), sizeof h); }

inline _MFBasicIndexHeader NewHeader(ULONG count = 0, ULONG version = 7) {
  _MFBasicIndexHeader h = {};
  h.magic = 0xCAFEBABE;
  h.headerSize = 128;
  h.version = version;
  h.entryCount = count;
  h.recordSize = 40;
  h.entriesOffset = 512;
  h.streamType = 0xFFFFFFFF;
  h.descriptionOffset = 128;
  return h;
}

// An index file with count records (record i: offset 1000 * i, length 100 + i).
inline std::string IndexFile(ULONG count) {
  std::string file = HeaderBytes(NewHeader(count));
  file.resize(512, '\0');
  for (ULONG i = 0; i < count; ++i) {
    _MFBasicIndexEntry r = {};
    r.offset = 1000ULL * i;
    r.length = 100 + i;
    r.custom[0] = BYTE(i);
    file.append(reinterpret_cast<const char*>(&r), sizeof r);
  }
  return file;
}

}  // namespace omricktest
