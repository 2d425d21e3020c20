// Omrick: media indexes. An index maps the positions of a media stream
// (0, 1, 2 ...) to entries: where one unit of media lies in the media data
// file (a 64-bit offset and a 32-bit length) and 24 bytes of custom data.
// CMFBasicIndex keeps its entries in an index file; a format-specific helper
// (an IIndexHelper, usually derived from CMFIndexHelper) builds and validates
// them.
//
// Every object of the family is reference-counted: constructors set the count
// to 1, AddRef and Release change it atomically, and the Release that brings
// it to 0 destroys the object. Whoever stores a pointer holds one reference.
// Pointers returned by GetEntry are borrowed (the caller takes a reference if
// it keeps one), and so are the entries a helper's GetEntry hands to
// BuildIndex: the index takes its own reference, the helper releases its own
// (for instance when the next entry is asked for, or at StopIndexing).
//
// Binary shape, shared with hosts built against this header on both targets:
// the virtual functions of each class are declared below in their table
// order (a virtual destructor takes the two slots of the C++ ABI), members in
// their layout order; interface integers are 32-bit; names are UTF-16.
// Nothing throws: results are bool, null or plain values.
#pragma once

#include <cstddef>

#include "platform/win32.h"

#include "brellu.h"
#include "tarnel.h"

#ifdef _WIN32
#ifdef OMRICK_BUILD
#define OMRICK_EXPORT __declspec(dllexport)
#else
#define OMRICK_EXPORT __declspec(dllimport)
#endif
#else
#define OMRICK_EXPORT __attribute__((visibility("default")))
#endif

// ---- records ----

// One entry: the in-memory record and, byte for byte, a record of the index
// file. Little-endian on every target.
struct _MFBasicIndexEntry {
  ULONGLONG offset;  // of the unit in the media data file
  ULONG length;      // of the unit, in bytes
  BYTE custom[24];   // the helper's own, not interpreted here
  BYTE padding[4];   // completes the record to a multiple of 8
};
static_assert(sizeof(_MFBasicIndexEntry) == 40, "an entry record is 40 bytes");
static_assert(offsetof(_MFBasicIndexEntry, offset) == 0 && offsetof(_MFBasicIndexEntry, length) == 8 &&
                  offsetof(_MFBasicIndexEntry, custom) == 12 && offsetof(_MFBasicIndexEntry, padding) == 36,
              "entry record layout");

// The header at offset 0 of an index file, and the index's image of it.
struct _MFBasicIndexHeader {
  ULONG magic;              // 0xCAFEBABE
  ULONG headerSize;         // 128; becomes the description offset when written
  ULONG version;            // the version given to the index
  ULONG reserved12;
  ULONG entryCount;         // records in the file; NumberOfEntries()
  ULONG recordSize;         // stride and size of each record (40)
  ULONG reserved24;
  ULONG entriesOffset;      // start of the records: 512, or the next multiple of 512 past the description
  ULONG streamType;         // 0xFFFFFFFF unless a subclass sets it
  ULONG streamID;           // 0 unless a subclass sets it
  ULONG descriptionSize;    // bytes of the description, which follows the header
  ULONG descriptionOffset;  // the header size, as written; not used when reading
  ULONG reserved48;         // always written as 0
  BYTE reserved52[76];
};
static_assert(sizeof(_MFBasicIndexHeader) == 128, "the index file header is 128 bytes");
static_assert(offsetof(_MFBasicIndexHeader, headerSize) == 4 && offsetof(_MFBasicIndexHeader, version) == 8 &&
                  offsetof(_MFBasicIndexHeader, entryCount) == 16 && offsetof(_MFBasicIndexHeader, recordSize) == 20 &&
                  offsetof(_MFBasicIndexHeader, entriesOffset) == 28 &&
                  offsetof(_MFBasicIndexHeader, streamType) == 32 && offsetof(_MFBasicIndexHeader, streamID) == 36 &&
                  offsetof(_MFBasicIndexHeader, descriptionSize) == 40 &&
                  offsetof(_MFBasicIndexHeader, descriptionOffset) == 44 &&
                  offsetof(_MFBasicIndexHeader, reserved48) == 48 && offsetof(_MFBasicIndexHeader, reserved52) == 52,
              "index file header layout");

// ---- what the host implements ----

// Access to one file: an index file, or the media data file (the data IO).
class IFileIO {
 public:
  enum : ULONG {
    kOpenRead = 5,   // Open before the index file is read
    kOpenWrite = 6,  // Open before the index file is written
  };
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;
  // Asked of an index file's IO: the IO of its media data file, with one
  // reference handed over to the caller (null when there is none).
  virtual IFileIO* DataIO() = 0;
  virtual bool Open(ULONG mode) = 0;
  virtual void Close() = 0;
  virtual bool Reserved6() = 0;  // not called by Omrick
  // Bytes written or read; the index treats anything but size as a failure.
  virtual ULONG Write(const void* buffer, ULONG size) = 0;
  virtual ULONG Read(void* buffer, ULONG size) = 0;
  // To a byte offset from the start of the file.
  virtual bool Seek(ULONGLONG position) = 0;
  // The current length of the file in bytes.
  virtual ULONGLONG Size() = 0;
  virtual bool Reserved11() = 0;  // not called by Omrick
  virtual bool Reserved12() = 0;  // not called by Omrick
  // Names the file before Open; the index passes its Name().
  virtual void SetFileName(const WCHAR* name) = 0;
  // Called with the index's name and flags 0 after writing its file failed.
  virtual bool Remove(const WCHAR* name, ULONG flags) = 0;

 protected:
  ~IFileIO() = default;
};

// Progress of long work, passed through to helpers; Omrick calls none of it.
class IReportInfo {
 public:
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;
  // done out of total (total 0: unknown). False asks the helper to stop.
  virtual bool Progress(ULONGLONG done, ULONGLONG total) = 0;

 protected:
  ~IReportInfo() = default;
};

// The result type of GetMetaData; Omrick creates none.
class IMetaData {
 public:
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;

 protected:
  ~IMetaData() = default;
};

// ---- the interfaces of the family ----

class IIndexEntry {
 public:
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;
  virtual ULONGLONG Offset() = 0;
  virtual ULONGLONG Length() = 0;
  virtual ULONG Reference() = 0;  // every entry of this library answers 0
  // The custom data; size receives its length in bytes.
  virtual void* Custom(ULONG& size) = 0;
  // The file record into buffer: size is the capacity on entry and the bytes
  // produced on return.
  virtual bool GetFileRepresentation(void* buffer, ULONG& size) = 0;
  // Loads the entry from a file record of size bytes.
  virtual bool SetFileRepresentation(void* buffer, ULONG& size) = 0;

 protected:
  ~IIndexEntry() = default;
};

class IIndexHelper {
 public:
  // Omrick passes 0 only; the meaning of other values is the helper's.
  enum ValidationLevel : int {};
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;
  // Not called by Omrick; left to each helper.
  virtual bool Reserved3() = 0;
  virtual const WCHAR* ClassName() = 0;
  virtual bool StartIndexing(IFileIO* data, IReportInfo* report) = 0;
  virtual bool StopIndexing() = 0;
  // The entry at that position of the media (borrowed), or null at the end.
  virtual IIndexEntry* GetEntry(ULONGLONG position) = 0;
  virtual bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) = 0;
  virtual bool StopValidation() = 0;
  virtual bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) = 0;
  virtual ULONG GetUser() = 0;
  virtual ULONG GetLevel(ULONG level) = 0;

 protected:
  ~IIndexHelper() = default;
};

class IIndex {
 public:
  enum ValidationLevel : int {};
  virtual void AddRef() = 0;
  virtual LONG Release() = 0;
  virtual const WCHAR* ClassName() = 0;
  virtual ULONG Version() = 0;
  // The index's name, which is also the name its file is opened under.
  virtual const WCHAR* Name() = 0;
  virtual const WCHAR* Extension() = 0;
  virtual IFileIO* GetIO() = 0;
  virtual ULONG GetStreamID() = 0;
  virtual ULONG GetStreamType() = 0;
  virtual void* Description(ULONG& size) = 0;
  virtual bool ReadIndex(IReportInfo* report) = 0;
  virtual bool WriteIndex(IReportInfo* report) = 0;
  virtual bool ValidateIndex(IIndexHelper* helper, ValidationLevel level, IFileIO* data, IReportInfo* report) = 0;
  virtual bool InitIndex(IIndexHelper* helper, ULONGLONG value, bool rebuild, IFileIO* data,
                         IReportInfo* report) = 0;
  virtual bool BuildIndex(IIndexHelper* helper, IFileIO* data, IReportInfo* report) = 0;
  virtual ULONGLONG NumberOfEntries() = 0;
  virtual IIndexEntry* GetEntry(timecode tc) = 0;
  virtual IIndexEntry* GetEntry(ULONGLONG position) = 0;
  virtual bool AddEntry(IIndexEntry* entry, timecode tc) = 0;
  virtual bool AddEntry(IIndexEntry* entry) = 0;
  virtual IMetaData* GetMetaData(ULONG kind, timecode tc) = 0;
  virtual IMetaData* GetMetaData(ULONG kind, ULONGLONG position) = 0;
  // The user number and level of the index's debug messages (Brellu's wPrintf).
  virtual ULONG GetUser() = 0;
  virtual ULONG GetLevel(ULONG level) = 0;

 protected:
  ~IIndex() = default;
};

// ---- entries ----

// The neutral entry: no record, every answer empty. From the general allocator.
class OMRICK_EXPORT CMFIndexEntry : public IIndexEntry {
 public:
  CMFIndexEntry();
  CMFIndexEntry(void* data, ULONG size);  // the arguments are not used
  CMFIndexEntry(const CMFIndexEntry&) = delete;
  CMFIndexEntry& operator=(const CMFIndexEntry&) = delete;

  void AddRef() override;
  LONG Release() override;
  ULONGLONG Offset() override;
  ULONGLONG Length() override;
  ULONG Reference() override;
  void* Custom(ULONG& size) override;
  bool GetFileRepresentation(void* buffer, ULONG& size) override;
  bool SetFileRepresentation(void* buffer, ULONG& size) override;
  virtual ~CMFIndexEntry();
  virtual LONG References();

 protected:
  LONG volatile m_refs;
};

// An entry that reads and writes through a pointer to a record. When it owns
// the record (heap not null), it frees the record to that heap when it goes.
// Instances come from the entry heap, zero-filled.
class OMRICK_EXPORT CMFBasicIndexEntry : public CMFIndexEntry {
 public:
  CMFBasicIndexEntry(_MFBasicIndexEntry* record, void* heap);

  ULONGLONG Offset() override;
  ULONGLONG Length() override;
  void* Custom(ULONG& size) override;
  bool GetFileRepresentation(void* buffer, ULONG& size) override;
  bool SetFileRepresentation(void* buffer, ULONG& size) override;
  ~CMFBasicIndexEntry() override;
  // Points the entry at another record; the owning heap stays as it was.
  virtual void SetEntry(_MFBasicIndexEntry* record);

  // From and to the entry heap; null when the heap has no room (and then the
  // construction does not take place).
  static void* operator new(size_t size) noexcept;
  static void operator delete(void* block) noexcept;

 protected:
  HANDLE m_heap;
  _MFBasicIndexEntry* m_record;
};

// An entry with its own record inside it (cleared by the constructor).
class OMRICK_EXPORT CMFBasicIndexEntryStatic : public CMFBasicIndexEntry {
 public:
  CMFBasicIndexEntryStatic();
  ~CMFBasicIndexEntryStatic() override;
  virtual void SetLength(ULONG length);
  virtual void SetOffset(ULONGLONG offset);
  virtual void SetOffset(ULONG low, ULONG high);

 protected:
  _MFBasicIndexEntry m_own;
};

// ---- indexes ----

// The base of every index: a name, a version and the index IO; every other
// operation answers neutrally (false, null, 0). The five-argument InitIndex
// and the three-argument BuildIndex of IIndex are left to subclasses.
class OMRICK_EXPORT CMFIndex : public IIndex {
 public:
  static const WCHAR kClassName[];  // "CMFIndex"

  CMFIndex(const WCHAR* name, IFileIO* io, ULONG version);
  CMFIndex(const CMFIndex&) = delete;
  CMFIndex& operator=(const CMFIndex&) = delete;

  void AddRef() override;
  LONG Release() override;
  const WCHAR* ClassName() override;
  ULONG Version() override;
  const WCHAR* Name() override;
  const WCHAR* Extension() override;
  IFileIO* GetIO() override;
  ULONG GetStreamID() override;
  ULONG GetStreamType() override;
  void* Description(ULONG& size) override;
  bool ReadIndex(IReportInfo* report) override;
  bool WriteIndex(IReportInfo* report) override;
  bool ValidateIndex(IIndexHelper* helper, ValidationLevel level, IFileIO* data, IReportInfo* report) override;
  ULONGLONG NumberOfEntries() override;
  IIndexEntry* GetEntry(timecode tc) override;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool AddEntry(IIndexEntry* entry, timecode tc) override;
  bool AddEntry(IIndexEntry* entry) override;
  IMetaData* GetMetaData(ULONG kind, timecode tc) override;
  IMetaData* GetMetaData(ULONG kind, ULONGLONG position) override;
  ULONG GetUser() override;
  ULONG GetLevel(ULONG level) override;
  virtual ~CMFIndex();
  using IIndex::BuildIndex;
  using IIndex::InitIndex;
  virtual bool InitIndex(IIndexHelper* helper, ULONGLONG value, bool rebuild, IReportInfo* report);
  virtual bool BuildIndex(IIndexHelper* helper, IReportInfo* report);
  virtual LONG References();
  // A copy of name (none for null).
  virtual void SetName(const WCHAR* name);
  // Holds io (one reference), releasing the IO held before.
  virtual void SetIO(IFileIO* io);

 protected:
  LONG volatile m_refs;
  WCHAR* m_name;
  ULONG m_version;
  IFileIO* m_io;
};

// A view of count positions of a parent index from start on, as an index of
// its own. Holds one reference to the parent for its whole life.
class OMRICK_EXPORT CMFSubIndex : public CMFIndex {
 public:
  static const WCHAR kClassName[];  // "CMFSubIndex"

  // parent must not be null.
  CMFSubIndex(IIndex* parent, ULONGLONG start, ULONGLONG count);

  const WCHAR* ClassName() override;
  ULONG Version() override;
  const WCHAR* Name() override;
  IFileIO* GetIO() override;
  ULONG GetStreamID() override;
  ULONG GetStreamType() override;
  ULONGLONG NumberOfEntries() override;
  using CMFIndex::GetEntry;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  // The timecode's position is timecode::Fields(TCF_COUNT, 0), sign-extended.
  IMetaData* GetMetaData(ULONG kind, timecode tc) override;
  IMetaData* GetMetaData(ULONG kind, ULONGLONG position) override;
  ~CMFSubIndex() override;

 protected:
  ULONGLONG m_count;
  ULONGLONG m_start;
  IIndex* m_parent;
};

// The neutral helper: every operation answers false or null. Reserved3 is left
// to the format-specific helpers derived from it.
class OMRICK_EXPORT CMFIndexHelper : public IIndexHelper {
 public:
  static const WCHAR kClassName[];  // "CMFIndexHelper"

  CMFIndexHelper();
  CMFIndexHelper(const CMFIndexHelper&) = delete;
  CMFIndexHelper& operator=(const CMFIndexHelper&) = delete;

  void AddRef() override;
  LONG Release() override;
  const WCHAR* ClassName() override;
  bool StartIndexing(IFileIO* data, IReportInfo* report) override;
  bool StopIndexing() override;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  bool StartValidation(IFileIO* data, ValidationLevel level, IReportInfo* report) override;
  bool StopValidation() override;
  bool ValidateEntry(IIndexEntry* entry, ULONGLONG position, ValidationLevel level) override;
  ULONG GetUser() override;
  ULONG GetLevel(ULONG level) override;
  virtual ~CMFIndexHelper();
  // Describes the video format of the media: size is the capacity on entry and
  // the bytes produced on return. The neutral helper touches neither.
  virtual bool FillBMI(tagQZBMINFOHEADER* header, ULONG& size);
  virtual LONG References();

 protected:
  LONG volatile m_refs;
};

// The file-backed index. The file: the 128-byte header, the description right
// after it, and from the entries offset on one record per position.
//
// ReadIndex and WriteIndex open the index file (modes 5 and 6) and close it;
// the other file operations use the IO as they find it, so a host's IO must
// open itself on demand for AutoUpdate and UpdateIndex.
//
// With AutoUpdate set, GetEntry reads positions beyond the list from the
// file (another party may be extending it), and AddEntry ends with
// UpdateIndex, which appends to the file the records of the new entries whose
// media already lies within the data IO's size, then rewrites the header.
// The header of a file never counts records the file does not hold.
class OMRICK_EXPORT CMFBasicIndex : public CMFIndex {
 public:
  enum Flags : ULONG { AutoUpdate = 1 };
  enum : ULONG {
    kMagic = 0xCAFEBABE,
    kHeaderSize = 128,
    kRecordSize = 40,
    kEntriesAlign = 512,
    kMaxRecordSize = 0x10000,  // larger record sizes in a file's header are refused
  };

  CMFBasicIndex(const WCHAR* name, IFileIO* io, ULONG version);

  ULONG GetStreamID() override;
  ULONG GetStreamType() override;
  void* Description(ULONG& size) override;
  bool ReadIndex(IReportInfo* report) override;
  bool WriteIndex(IReportInfo* report) override;
  bool ValidateIndex(IIndexHelper* helper, ValidationLevel level, IFileIO* data, IReportInfo* report) override;
  using CMFIndex::InitIndex;
  bool InitIndex(IIndexHelper* helper, ULONGLONG value, bool rebuild, IFileIO* data, IReportInfo* report) override;
  using CMFIndex::BuildIndex;
  bool BuildIndex(IIndexHelper* helper, IFileIO* data, IReportInfo* report) override;
  ULONGLONG NumberOfEntries() override;
  using CMFIndex::GetEntry;
  IIndexEntry* GetEntry(ULONGLONG position) override;
  using CMFIndex::AddEntry;
  bool AddEntry(IIndexEntry* entry) override;
  ~CMFBasicIndex() override;

  virtual ULONG NumberOfStreams();
  virtual bool ReadIndexHeader();
  virtual bool WriteIndexHeader();
  // The half-open range of positions [first, last).
  virtual bool ReadIndexEntries(ULONGLONG first, ULONGLONG last);
  virtual bool WriteIndexEntries(ULONGLONG first, ULONGLONG last);
  virtual bool UpdateIndexHeader();
  virtual bool UpdateIndex();
  virtual bool SetDescription(const void* data, ULONG size);
  virtual IFileIO* GetDataIO();
  virtual void SetDataIO(IFileIO* io);

  void SetFlag(Flags flag, bool on);
  bool IsSet(Flags flag);

 protected:
  // The entry for a record read from the file (a CMFBasicIndexEntry that owns
  // it), or null when there is no room.
  virtual IIndexEntry* CreateEntry(void* record, void* heap);
  // Releases every entry and empties the list; the header stays as it is.
  virtual void Clear();

  ULONG m_flags;
  _MFBasicIndexHeader m_header;
  IIndexEntry** m_entries;  // the list: one reference to each entry
  ULONG m_entryCount;
  ULONG m_entryCapacity;
  void* m_description;  // process heap
  ULONG m_descriptionSize;
  HANDLE m_heap;       // the entry heap
  IFileIO* m_dataIO;   // one reference held
  ULONG m_stored;      // records the index file holds, as this index last wrote or read it
};
