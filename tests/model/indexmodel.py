#!/usr/bin/env python3
"""An independent model of Omrick's index family, written from its contract
alone, that predicts what indexhost prints for a scenario.

A scenario is a list of lines; each line is one host action or one call into
the library (the language is described in indexhost.cpp, which reads the same
lines). The model plays both sides: the recording host objects (an in-memory
file system behind IFileIO, helpers, entries, a parent index, reports and
metadata objects) and the library (entries, CMFIndex, CMFSubIndex,
CMFIndexHelper's defaults and CMFBasicIndex). run() returns the trace lines.

    indexmodel.py            runs the model's own checks
"""

import sys
import zlib

M32 = 0xFFFFFFFF
M64 = (1 << 64) - 1

# The host's in-memory files refuse writes past this size (a full disk), so
# that a scenario with a 64-bit position cannot ask for gigabytes.
FILE_LIMIT = 1 << 20

# Header fields by offset.
MAGIC, HSIZE, VERSION, COUNT, RECSIZE, ENTOFF, STYPE, SID, DSIZE, DOFF, RES48 = (
    0, 4, 8, 16, 20, 28, 32, 36, 40, 44, 48)
HEADER = 128
RECORD = 40

# A header read from a file is refused when its record size exceeds this.
MAX_RECORD = 0x10000

MSG_READ_NO_IO = "CMFBasicIndex::ReadIndex() - No IO Provider\n"
MSG_READ_OPEN = "CMFBasicIndex::ReadIndex() Failed to open index file:%s\n"
MSG_READ_HEADER = "CMFBasicIndex::ReadIndex() Failed to read index header from:%s\n"
MSG_READ_ENTRIES = "CMFBasicIndex::ReadIndex() Failed to read index entries from:%s\n"
MSG_NOT_IN_LIST = "CMFBasicIndex::ReadIndex() - Entry(%s) not in list.. updateing index\n"
MSG_WRITE_NO_IO = "CMFBasicIndex: No IO Provider\n"
MSG_WRITE_OPEN = "CMFBasicIndex: Failed to open index file:%s\n"
MSG_WRITE_HEADER = "CMFBasicIndex: Failed to write index header into:%s\n"
MSG_WRITE_ENTRIES = "CMFBasicIndex: Failed to write index entries into:%s\n"
MSG_WH_HEADER = "CMFBasicIndex::WriteIndexHeader() - Failed to write index header from:%s\n"
MSG_WH_DESC = "CMFBasicIndex::WriteIndexHeader() - Failed to write index description from:%s\n"

AUTO_UPDATE = 1


class ScenarioError(Exception):
    """A scenario line the model cannot run (a fault of the generator)."""


# ---- shared formatting ------------------------------------------------------

def get32(b, off):
    return int.from_bytes(b[off:off + 4], "little")


def put32(b, off, v):
    b[off:off + 4] = (v & M32).to_bytes(4, "little")


def signed64(v):
    v &= M64
    return v - (1 << 64) if v >> 63 else v


def signed32(v):
    v &= M32
    return v - (1 << 32) if v >> 31 else v


def quote(text):
    """A string as the trace shows it: quoted, with \\ " and control characters
    escaped."""
    if text is None:
        return "-"
    out = ['"']
    for c in text:
        o = ord(c)
        if c == "\\":
            out.append("\\\\")
        elif c == '"':
            out.append('\\"')
        elif c == "\n":
            out.append("\\n")
        elif o < 0x20 or o == 0x7F:
            out.append("\\x%02x" % o)
        else:
            out.append(c)
    out.append('"')
    return "".join(out)


def show_bytes(data):
    """Bytes passed to a call: hex when short, else their size and CRC-32."""
    if len(data) <= 128:
        return data.hex() if data else "="
    return "crc:%08x" % (zlib.crc32(bytes(data)) & M32)


def parse_int(token):
    return int(token, 0)


def parse_name(token):
    """'-' is a null string, 's:TEXT' the text (possibly empty)."""
    if token == "-":
        return None
    if not token.startswith("s:"):
        raise ScenarioError("a name is - or s:TEXT, not %r" % token)
    return token[2:]


def parse_hex(token):
    return bytearray() if token == "=" else bytearray.fromhex(token)


# ---- the recording host -----------------------------------------------------

class Counted:
    """A reference count, 1 at first."""

    def __init__(self, model, oid):
        self.model = model
        self.id = oid
        self.refs = 1

    def AddRef(self):
        self.refs += 1

    def Release(self):
        self.refs -= 1
        return self.refs

    def References(self):
        return self.refs


class HostObject(Counted):
    """Something the host made: it outlives its count, which the host shows."""


class HostIO(HostObject):
    """IFileIO over the in-memory file system; every call the library makes is
    logged, and the n-th open, seek, read or write can be made to fail (a read
    or write then moves `partial` bytes)."""

    def __init__(self, model, oid, name=None):
        super().__init__(model, oid)
        self.name = name
        self.file = None          # the open file (a bytearray of the file system)
        self.pos = 0
        self.data = None          # what DataIO() hands out
        self.size = None          # what Size() answers instead of the length
        self.fails = {}           # (op, n) -> bytes moved
        self.calls = {}

    def failing(self, op):
        n = self.calls.get(op, 0) + 1
        self.calls[op] = n
        return self.fails.get((op, n))

    def log(self, text):
        self.model.log("%s.%s" % (self.id, text))

    def DataIO(self):
        if self.data is not None:
            self.data.AddRef()
        self.log("DataIO() = %s" % self.model.name_of(self.data))
        return self.data

    def Open(self, mode):
        fail = self.failing("open") is not None
        ok = False
        if not fail and self.name is not None:
            files = self.model.files
            if mode == 5 and self.name in files:
                ok = True
            elif mode == 6:
                files.setdefault(self.name, bytearray())
                del files[self.name][:]
                ok = True
        if ok:
            self.file = self.model.files[self.name]
            self.pos = 0
        self.log("Open(%d) = %d" % (mode, ok))
        return ok

    def open_quietly(self, mode):
        files = self.model.files
        if self.name is None:
            return
        if mode == 6:
            files.setdefault(self.name, bytearray())
            del files[self.name][:]
        # A file that does not exist leaves the IO closed.
        self.file = files.get(self.name)
        self.pos = 0

    def Close(self):
        self.file = None
        self.log("Close()")

    def Write(self, data):
        partial = self.failing("write")
        n = len(data)
        done = 0
        if self.file is not None and self.pos + n <= FILE_LIMIT:
            done = n if partial is None else min(partial, n)
            if done:
                f = self.file
                if len(f) < self.pos:
                    f.extend(bytes(self.pos - len(f)))
                f[self.pos:self.pos + done] = data[:done]
                self.pos += done
        self.log("Write(%d) = %d %s" % (n, done, show_bytes(data)))
        return done

    def Read(self, size):
        partial = self.failing("read")
        got = b""
        if self.file is not None:
            got = bytes(self.file[self.pos:self.pos + size]) if self.pos < len(self.file) else b""
            if partial is not None:
                got = got[:partial]
            self.pos += len(got)
        self.log("Read(%d) = %d" % (size, len(got)))
        return got

    def Seek(self, position):
        ok = self.failing("seek") is None and self.file is not None
        if ok:
            self.pos = position
        self.log("Seek(%d) = %d" % (position, ok))
        return ok

    def Size(self):
        if self.size is not None:
            size = self.size
        elif self.file is not None:
            size = len(self.file)
        else:
            size = len(self.model.files.get(self.name, b""))
        self.log("Size() = %d" % size)
        return size

    def SetFileName(self, name):
        self.name = name
        self.log("SetFileName(%s)" % quote(name))

    def Remove(self, name, flags):
        self.model.files.pop(name, None)
        self.log("Remove(%s, %d)" % (quote(name), flags))


class HostEntry(HostObject):
    """An IIndexEntry of the host; its file representation is its 40-byte
    record, or only `rep` bytes of it, or a failure."""

    def __init__(self, model, oid, offset, length, custom, rep):
        super().__init__(model, oid)
        self.record = bytearray(RECORD)
        self.record[0:8] = (offset & M64).to_bytes(8, "little")
        self.record[8:12] = (length & M32).to_bytes(4, "little")
        self.record[12:12 + len(custom)] = custom
        self.rep = rep            # bytes produced, or None for a failure

    def Offset(self):
        return int.from_bytes(self.record[0:8], "little")

    def Length(self):
        return get32(self.record, 8)

    def GetFileRepresentation(self, capacity):
        ok = self.rep is not None and capacity >= self.rep
        size = self.rep if ok else capacity
        self.model.log("%s.GetFileRepresentation(%d) = %d size=%d" % (self.id, capacity, ok, size))
        return (bytes(self.record[:self.rep]) if ok else None), size


class HostHelper(Counted):
    """An index helper derived from CMFIndexHelper: the count is the library
    base's; every call is logged and answered as scripted (`base` answers what
    CMFIndexHelper answers)."""

    def __init__(self, model, oid):
        super().__init__(model, oid)
        self.held = True
        self.entries = []
        self.answers = {}
        self.refuse = set()     # positions ValidateEntry answers false for

    def answer(self, op):
        return self.answers.get(op, "1") == "1"

    def log(self, text):
        self.model.log("%s.%s" % (self.id, text))

    def StartIndexing(self, data, report):
        r = self.answer("StartIndexing")
        self.log("StartIndexing(%s, %s) = %d" % (self.model.name_of(data), self.model.name_of(report), r))
        return r

    def StopIndexing(self):
        r = self.answer("StopIndexing")
        self.log("StopIndexing() = %d" % r)
        return r

    def GetEntry(self, position):
        e = None
        if self.answers.get("GetEntry") != "base" and position < len(self.entries):
            e = self.entries[position]
        self.log("GetEntry(%d) = %s" % (position, self.model.show_entry(e)))
        return e

    def StartValidation(self, data, level, report):
        r = self.answer("StartValidation")
        self.log("StartValidation(%s, %d, %s) = %d" % (
            self.model.name_of(data), level, self.model.name_of(report), r))
        return r

    def StopValidation(self):
        r = self.answer("StopValidation")
        self.log("StopValidation() = %d" % r)
        return r

    def ValidateEntry(self, entry, position, level):
        if self.answers.get("ValidateEntry") == "base":
            r = False
        else:
            r = position not in self.refuse
        self.log("ValidateEntry(%s, %d, %d) = %d" % (self.model.show_entry(entry), position, level, r))
        return r


class HostParent(HostObject):
    """An IIndex of the host, the parent of sub-indexes: logs every call."""

    def __init__(self, model, oid, name, version, io, sid, stype):
        super().__init__(model, oid)
        self.name = name
        self.version = version
        self.io = io
        self.sid = sid
        self.stype = stype
        self.entries = []
        self.meta = None

    def log(self, text):
        self.model.log("%s.%s" % (self.id, text))

    def Version(self):
        self.log("Version() = %d" % self.version)
        return self.version

    def Name(self):
        self.log("Name() = %s" % quote(self.name))
        return self.name

    def GetIO(self):
        self.log("GetIO() = %s" % self.model.name_of(self.io))
        return self.io

    def GetStreamID(self):
        self.log("GetStreamID() = %d" % self.sid)
        return self.sid

    def GetStreamType(self):
        self.log("GetStreamType() = %d" % self.stype)
        return self.stype

    def GetEntry(self, position):
        e = self.entries[position] if position < len(self.entries) else None
        self.log("GetEntry(%d) = %s" % (position, self.model.show_entry(e)))
        return e

    def GetMetaData(self, kind, position):
        self.log("GetMetaData(%d, %d) = %s" % (kind, position, self.model.name_of(self.meta)))
        return self.meta


# ---- the library --------------------------------------------------------------

class LibObject(Counted):
    """An object of the library: destroyed by the Release that reaches 0."""

    def __init__(self, model, oid):
        super().__init__(model, oid)
        self.held = True        # the host still holds its reference

    def Release(self):
        r = super().Release()
        if r == 0:
            self.destroy()
        return r

    def destroy(self):
        pass


class Kept:
    """A reference the host took to an entry."""

    def __init__(self, entry):
        self.entry = entry
        self.held = True

    def Release(self):
        return self.entry.Release()


class LibEntry(LibObject):
    """CMFIndexEntry (record None, plain) and CMFBasicIndexEntry and its static
    subclass (record: a bytearray of at least 40 bytes, or None)."""

    def __init__(self, model, oid, kind, record):
        super().__init__(model, oid)
        self.kind = kind          # plain, basic, static, read (from a file)
        self.record = record

    def Offset(self):
        if self.record is None:
            return 0
        return int.from_bytes(self.record[0:8], "little")

    def Length(self):
        if self.record is None:
            return 0
        return get32(self.record, 8)

    def GetFileRepresentation(self, capacity):
        if self.kind == "plain" or self.record is None or capacity < RECORD:
            return None, capacity
        return bytes(self.record[:RECORD]), RECORD


def new_header(version):
    h = bytearray(HEADER)
    put32(h, MAGIC, 0xCAFEBABE)
    put32(h, HSIZE, HEADER)
    put32(h, VERSION, version)
    put32(h, RECSIZE, RECORD)
    put32(h, ENTOFF, 512)
    put32(h, STYPE, M32)
    return h


class Index(LibObject):
    """CMFIndex: the defaults (a host class over it makes it concrete)."""

    kind = "plain"

    def __init__(self, model, oid, name, io, version):
        super().__init__(model, oid)
        self.name = None
        self.version = version & M32
        self.io = None
        self.SetName(name)
        self.SetIO(io)

    def ClassName(self):
        return "CMFIndex"

    def Version(self):
        return self.version

    def Name(self):
        return self.name

    def Extension(self):
        return ""

    def GetIO(self):
        return self.io

    def GetStreamID(self):
        return 0

    def GetStreamType(self):
        return M32

    def Description(self):
        return None, 0

    def NumberOfEntries(self):
        return 0

    def GetEntry(self, position):
        return None

    def GetMetaData(self, kind, position):
        return None

    def GetMetaDataTC(self, kind, count):
        return None

    def GetUser(self):
        return 42

    def GetLevel(self, level):
        return level

    def SetName(self, name):
        self.name = name

    def SetIO(self, io):
        if io is not None:
            io.AddRef()
        if self.io is not None:
            self.io.Release()
        self.io = io

    def destroy(self):
        self.name = None
        if self.io is not None:
            self.io.Release()
            self.io = None


class SubIndex(Index):
    kind = "sub"

    def __init__(self, model, oid, parent, start, count):
        super().__init__(model, oid, "SubIndex", None, 0)
        parent.AddRef()
        self.parent = parent
        self.start = start & M64
        self.count = count & M64

    def ClassName(self):
        return "CMFSubIndex"

    def Version(self):
        return self.parent.Version()

    def Name(self):
        return self.parent.Name()

    def GetIO(self):
        return self.parent.GetIO()

    def GetStreamID(self):
        return self.parent.GetStreamID()

    def GetStreamType(self):
        return self.parent.GetStreamType()

    def NumberOfEntries(self):
        return self.count

    def GetEntry(self, position):
        if position >= self.count:
            return None
        return self.parent.GetEntry((self.start + position) & M64)

    def GetMetaData(self, kind, position):
        if position >= self.count:
            return None
        return self.parent.GetMetaData(kind, (self.start + position) & M64)

    def GetMetaDataTC(self, kind, count):
        return self.GetMetaData(kind, signed32(count) & M64)

    def destroy(self):
        self.parent.Release()
        self.parent = None
        self.count = 0
        super().destroy()


class BasicIndex(Index):
    """CMFBasicIndex, through a host class that may re-route its messages
    (user and a level offset)."""

    kind = "basic"

    def __init__(self, model, oid, name, io, version, user=None, level_shift=0, create=None, desc=None):
        super().__init__(model, oid, name, io, version)
        self.user = user
        self.level_shift = level_shift
        self.create = create        # None, or the n-th CreateEntry that answers null (0: none)
        self.creates = 0
        self.own_desc = desc        # what the host's Description answers instead
        self.flags = 0
        self.header = new_header(version)
        self.entries = []
        self.desc = None
        self.data = None
        self.stored = 0         # records known to be in the index file

    # -- small answers
    def GetUser(self):
        return 42 if self.user is None else self.user

    def GetLevel(self, level):
        return (level + self.level_shift) & M32

    def GetStreamID(self):
        return get32(self.header, SID)

    def GetStreamType(self):
        return get32(self.header, STYPE)

    def NumberOfEntries(self):
        return get32(self.header, COUNT)

    def NumberOfStreams(self):
        return 1

    def Description(self):
        if self.own_desc is not None:
            return (bytes(self.own_desc) or None), len(self.own_desc)
        return self.desc, (len(self.desc) if self.desc is not None else 0)

    def CreateEntry(self, record):
        e = LibEntry(self.model, None, "read", bytearray(record))
        if self.create is not None:
            self.creates += 1
            if self.creates == self.create:
                e = None
            self.model.log("%s.CreateEntry(record, heap) = %s" % (self.id, "entry" if e else "-"))
        return e

    def SetFlag(self, flag, on):
        if on:
            self.flags |= flag
        else:
            self.flags &= ~flag & M32

    def IsSet(self, flag):
        return (self.flags & flag) == flag

    def say(self, level, text, *args):
        self.model.message(self.GetUser(), self.GetLevel(level), text, args)

    def say_name(self, level, text):
        name = self.Name()
        self.say(level, text.replace("%s", "(null)" if name is None else name))

    # -- the index file
    def ReadIndex(self, report=None):
        io = self.GetIO()
        if io is None:
            self.say(0, MSG_READ_NO_IO)
            return False
        io.SetFileName(self.Name())
        if not io.Open(5):
            self.say_name(1, MSG_READ_OPEN)
            return False
        if not self.ReadIndexHeader():
            self.say_name(1, MSG_READ_HEADER)
            io.Close()
            return False
        if not self.ReadIndexEntries(0, self.NumberOfEntries()):
            self.say_name(1, MSG_READ_ENTRIES)
            io.Close()
            return False
        io.Close()
        return True

    def header_plausible(self, h, io):
        """Whether a header read from the file can be used: a record holds an
        entry, the records lie behind the header, and what the header says the
        file holds fits into the file (whose size is asked once, only when
        there is something to fit)."""
        recsize = get32(h, RECSIZE)
        if recsize < RECORD or recsize > MAX_RECORD or get32(h, ENTOFF) < HEADER:
            return False
        dsize, count = get32(h, DSIZE), get32(h, COUNT)
        if dsize or count:
            size = io.Size()
            if HEADER + dsize > size:
                return False
            if count and get32(h, ENTOFF) + count * recsize > size:
                return False
        return True

    def ReadIndexHeader(self):
        io = self.GetIO()
        if io is None or not io.Seek(0):
            return False
        got = io.Read(HEADER)
        if len(got) != HEADER or not self.header_plausible(got, io):
            return False
        dsize = get32(got, DSIZE)
        block = None
        if dsize:
            block = io.Read(dsize)
            if len(block) != dsize:
                return False
        # Nothing changes unless all of it was read.
        self.header[:] = got
        if block is not None:
            self.SetDescription(block)
        return True

    def ReadIndexEntries(self, first, last):
        if first >= last:
            return False
        io = self.GetIO()
        if io is None:
            return False
        recsize = get32(self.header, RECSIZE)
        at = get32(self.header, ENTOFF) + first * recsize
        if at > M64:
            return False        # no such byte offset (the library's check: see the notes)
        if not io.Seek(at):
            return False
        p = first
        while p < last:
            got = io.Read(recsize)
            if len(got) != recsize:
                return False
            # The file holds the record, whether or not an entry can be made of it.
            self.stored = max(self.stored, p + 1)
            e = self.CreateEntry(got)
            if e is None:
                return False
            # It joins the list without AutoUpdate, which would write it back.
            e.AddRef()
            self.entries.append(e)
            put32(self.header, COUNT, len(self.entries))
            e.Release()
            p += 1
        return True

    def WriteIndex(self, report=None):
        io = self.GetIO()
        if io is None:
            self.say(0, MSG_WRITE_NO_IO)
            return False
        io.SetFileName(self.Name())
        if not io.Open(6):
            self.say_name(1, MSG_WRITE_OPEN)
            return False
        self.stored = 0
        if not self.WriteIndexHeader():
            self.say_name(1, MSG_WRITE_HEADER)
            io.Close()
            io.Remove(self.Name(), 0)
            return False
        if not self.WriteIndexEntries(0, self.NumberOfEntries()):
            self.say_name(1, MSG_WRITE_ENTRIES)
            io.Close()
            io.Remove(self.Name(), 0)
            self.stored = 0     # the file is gone
            return False
        io.Close()
        return True

    def WriteIndexHeader(self):
        io = self.GetIO()
        if io is None or not io.Seek(0):
            return False
        desc, dsize = self.Description()
        h = self.header
        put32(h, DSIZE, dsize)
        # The description follows the 128 bytes written, whatever a file's
        # header-size field says (the library's mend: see the notes).
        need = dsize + max(get32(h, HSIZE), HEADER)
        if need > get32(h, ENTOFF):
            offset = (need + 511) & ~511
            if offset > M32:
                return False    # records beyond what the field can say
            put32(h, ENTOFF, offset)
        put32(h, DOFF, get32(h, HSIZE))
        put32(h, RES48, 0)
        if io.Write(bytes(h)) != HEADER:
            self.say_name(1, MSG_WH_HEADER)
            return False
        if desc is not None and dsize:
            if io.Write(bytes(desc)) != dsize:
                self.say_name(1, MSG_WH_DESC)
                return False
        return True

    def WriteIndexEntries(self, first, last):
        n = self.NumberOfEntries()
        if n == 0 or first >= n or last > n:
            return True
        io = self.GetIO()
        if io is None:
            return False
        recsize = get32(self.header, RECSIZE)
        if not io.Seek((get32(self.header, ENTOFF) + first * recsize) & M64):
            return False
        p = first
        while p < last:
            e = self.GetEntry(p)
            if e is None:
                return False
            rep, size = e.GetFileRepresentation(recsize)
            if rep is None:
                return False
            buf = bytes(rep[:size]) + bytes(recsize - size)
            if io.Write(buf) != recsize:
                return False
            if first <= self.stored:
                self.stored = max(self.stored, p + 1)
            p += 1
        return True

    def UpdateIndexHeader(self):
        io = self.GetIO()
        if io is None or not io.Seek(0):
            return False
        put32(self.header, COUNT, self.NumberOfEntries())
        return io.Write(bytes(self.header)) == HEADER

    def UpdateIndex(self):
        n = len(self.entries)
        if self.stored >= n:
            return True
        end = n
        data = self.GetDataIO()
        if data is not None:
            limit = data.Size()
            end = self.stored
            while end < n:
                e = self.entries[end]
                if e.Offset() + e.Length() > limit:
                    break
                end += 1
        if end <= self.stored:
            return True
        # The stored count moves on only with the header that counts the
        # records, so that after a failure the next update writes both again.
        before = self.stored
        io = self.GetIO()
        ok = self.WriteIndexEntries(before, end) and io is not None and io.Seek(0)
        if ok:
            # The file's header counts only the records the file holds (those
            # written: none when the list is longer than NumberOfEntries()).
            image = bytearray(self.header)
            put32(image, COUNT, self.stored)
            ok = io.Write(bytes(image)) == HEADER
        if not ok:
            self.stored = before
        return ok

    # -- entries
    def GetEntry(self, position):
        if position < len(self.entries):
            return self.entries[position]
        if not self.IsSet(AUTO_UPDATE):
            return None
        self.say(30, MSG_NOT_IN_LIST.replace("%s", str(signed64(position))))
        if not self.ReadIndexHeader():
            return None
        count = get32(self.header, COUNT)
        if count <= len(self.entries):
            # The writer's list may run ahead of its file: the count read does
            # not fall below the list, so waiting entries are still written.
            put32(self.header, COUNT, len(self.entries))
            return None
        if not self.ReadIndexEntries(len(self.entries), count):
            return None
        return self.entries[position] if position < len(self.entries) else None

    def AddEntry(self, entry):
        if entry is None:
            return False
        entry.AddRef()
        self.entries.append(entry)
        put32(self.header, COUNT, len(self.entries))
        if self.IsSet(AUTO_UPDATE):
            return self.UpdateIndex()
        return True

    def Clear(self):
        for e in self.entries:
            e.Release()
        self.entries = []

    def BuildIndex(self, helper, data, report):
        self.Clear()
        if helper is None:
            return False
        # A build that finds no entry leaves an index of none (the library's
        # mend: see the notes).
        put32(self.header, COUNT, 0)
        helper.StartIndexing(data, report)
        ok = True
        p = 0
        while True:
            e = helper.GetEntry(p)
            if e is None:
                break
            if not self.AddEntry(e):
                ok = False
                break
            p += 1
        helper.StopIndexing()
        return ok

    def ValidateIndex(self, helper, level, data, report):
        if helper is None:
            return True
        n = self.NumberOfEntries() & M32
        if not helper.StartValidation(data, 0, None):
            return False
        for i in range(n):
            if not helper.ValidateEntry(self.GetEntry(i), i, 0):
                helper.StopValidation()
                return False
        helper.StopValidation()
        return True

    def InitIndex(self, helper, value, rebuild, data, report):
        if data is not None:
            self.SetDataIO(data)
        if not rebuild and self.ReadIndex(None):
            return self.ValidateIndex(helper, 0, self.GetDataIO(), report)
        return self.BuildIndex(helper, self.GetDataIO(), report)

    def SetDescription(self, data):
        self.desc = bytes(data) if data else None
        return True

    def GetDataIO(self):
        if self.data is None and self.io is not None:
            self.data = self.io.DataIO()
        return self.data

    def SetDataIO(self, io):
        if io is not None:
            io.AddRef()
        if self.data is not None:
            self.data.Release()
        self.data = io

    def destroy(self):
        self.SetDataIO(None)
        self.Clear()
        self.desc = None
        super().destroy()


# ---- running a scenario --------------------------------------------------------

class Model:
    def __init__(self):
        self.trace = []
        self.files = {}
        self.objects = {}       # id -> object, in creation order
        self.last_entry = None

    def log(self, line):
        self.trace.append(line)

    def message(self, user, level, text, args=()):
        self.log("msg %d %d %s" % (user, level, quote(text)))

    def name_of(self, obj):
        return "-" if obj is None else obj.id

    def show_entry(self, e):
        if e is None:
            return "-"
        if e.id is not None:
            return e.id
        rep, _ = e.GetFileRepresentation(RECORD)
        if rep is None:
            return "lib:?"
        return "lib:%s/%d" % (rep.hex(), e.refs)

    def get(self, token, kinds=None):
        if token == "-":
            return None
        obj = self.objects.get(token)
        if obj is None:
            raise ScenarioError("no object %r" % token)
        if isinstance(obj, Kept):
            obj = obj.entry
        if kinds is not None and not isinstance(obj, kinds):
            raise ScenarioError("%s is not a %s" % (token, kinds))
        return obj

    def add(self, oid, obj):
        if oid in self.objects:
            raise ScenarioError("%s made twice" % oid)
        self.objects[oid] = obj
        return obj

    def run(self, lines):
        for line in lines:
            tokens = line.split()
            if not tokens or tokens[0].startswith("#"):
                continue
            self.step(tokens)
        self.finish()
        return self.trace

    # -- one line
    def step(self, t):
        op = t[0]
        if op == "file":
            self.files[t[1]] = parse_hex(t[2])
        elif op == "io":
            self.add(t[1], HostIO(self, t[1], parse_name(t[2]) if len(t) > 2 else None))
        elif op == "iodata":
            self.get(t[1], HostIO).data = self.get(t[2], HostIO)
        elif op == "iosize":
            self.get(t[1], HostIO).size = parse_int(t[2])
        elif op == "iofail":
            io = self.get(t[1], HostIO)
            io.fails[(t[2], parse_int(t[3]))] = parse_int(t[4]) if len(t) > 4 else 0
        elif op == "ioopen":
            self.get(t[1], HostIO).open_quietly(parse_int(t[2]))
        elif op == "ioclose":
            self.get(t[1], HostIO).file = None
        elif op == "entry":
            rep = RECORD
            if len(t) > 5:
                rep = None if t[5] == "fail" else parse_int(t[5])
            self.add(t[1], HostEntry(self, t[1], parse_int(t[2]), parse_int(t[3]), parse_hex(t[4]), rep))
        elif op == "static":
            rec = bytearray(RECORD)
            e = self.add(t[1], LibEntry(self, t[1], "static", rec))
            rec[0:8] = (parse_int(t[2]) & M64).to_bytes(8, "little")
            rec[8:12] = (parse_int(t[3]) & M32).to_bytes(4, "little")
            custom = parse_hex(t[4])
            rec[12:12 + len(custom)] = custom
            del e
        elif op == "basic":
            rec = None if t[2] == "null" else bytearray(parse_hex(t[2]).ljust(RECORD, b"\0"))
            self.add(t[1], LibEntry(self, t[1], "basic", rec))
        elif op == "plainentry":
            self.add(t[1], LibEntry(self, t[1], "plain", None))
        elif op == "helper":
            self.add(t[1], HostHelper(self, t[1]))
        elif op == "hentries":
            self.get(t[1], HostHelper).entries = [self.get(x) for x in t[2:]]
        elif op == "hanswer":
            self.get(t[1], HostHelper).answers[t[2]] = t[3]
        elif op == "hrefuse":
            self.get(t[1], HostHelper).refuse.update(parse_int(x) for x in t[2:])
        elif op in ("report", "meta"):
            self.add(t[1], HostObject(self, t[1]))
        elif op == "pindex":
            self.add(t[1], HostParent(self, t[1], parse_name(t[2]), parse_int(t[3]), self.get(t[4], HostIO),
                                      parse_int(t[5]), parse_int(t[6])))
        elif op == "pentries":
            self.get(t[1], HostParent).entries = [self.get(x) for x in t[2:]]
        elif op == "pmeta":
            self.get(t[1], HostParent).meta = self.get(t[2])
        elif op == "index":
            opts = dict(x.split("=", 1) for x in t[5:])
            create = opts.get("create")
            self.add(t[1], BasicIndex(self, t[1], parse_name(t[2]), self.get(t[3], HostIO), parse_int(t[4]),
                                      parse_int(opts["user"]) if "user" in opts else None,
                                      parse_int(opts.get("level", "0")),
                                      None if create is None else 0 if create == "log" else parse_int(create),
                                      parse_hex(opts["desc"]) if "desc" in opts else None))
        elif op == "plain":
            self.add(t[1], Index(self, t[1], parse_name(t[2]), self.get(t[3], HostIO), parse_int(t[4])))
        elif op == "sub":
            parent = self.get(t[2], (Index, HostParent))
            self.add(t[1], SubIndex(self, t[1], parent, parse_int(t[3]), parse_int(t[4])))
        elif op == "call":
            self.log("> " + " ".join(t))
            self.log("= " + self.call(self.get(t[1]), t[2], t[3:]))
        elif op == "keep":
            # The host takes a reference to the entry the last call returned
            # (nothing when it returned none); an entry of the library is then
            # shown by this name.
            e = self.last_entry
            if e is not None:
                e.AddRef()
                if e.id is None:
                    e.id = t[1]
                self.add(t[1], Kept(e))
        elif op == "release":
            obj = self.objects.get(t[1])
            if obj is None:
                raise ScenarioError("no object %r" % t[1])
            self.log("release %s = %d" % (t[1], self.release_held(t[1], obj)))
        elif op == "addref":
            obj = self.objects.get(t[1])
            if obj is None:
                raise ScenarioError("no object %r" % t[1])
            obj.extra = getattr(obj, "extra", 0) + 1
            (obj.entry if isinstance(obj, Kept) else obj).AddRef()
        elif op == "refs":
            self.refs()
        else:
            raise ScenarioError("unknown line %r" % " ".join(t))

    def release_held(self, oid, obj):
        """The host gives back its reference; a library object it no longer
        holds may be gone, so it loses its name with the reference."""
        if isinstance(obj, HostObject):
            return obj.Release()
        if getattr(obj, "extra", 0):
            obj.extra -= 1      # one of the references an addref took
            return obj.Release()
        entry = obj.entry if isinstance(obj, Kept) else obj
        if isinstance(entry, LibEntry) and entry.id == oid:
            entry.id = None
        obj.held = False
        return obj.Release()

    def refs(self):
        shown = ["%s=%d" % (oid, o.entry.refs if isinstance(o, Kept) else o.refs)
                 for oid, o in self.objects.items() if isinstance(o, HostObject) or o.held]
        self.log(" ".join(["refs"] + shown))

    def finish(self):
        self.log("end")
        for oid, obj in reversed(list(self.objects.items())):
            if not isinstance(obj, HostObject) and obj.held:
                self.log("release %s = %d" % (oid, self.release_held(oid, obj)))
        self.refs()
        for name in sorted(self.files):
            data = self.files[name]
            self.log("file %s %d" % (name, len(data)))
            for at in range(0, len(data), 64):
                row = data[at:at + 64]
                if any(row):
                    self.log("  %04x %s" % (at, row.hex()))

    # -- one call into the library
    def call(self, obj, op, a):
        self.last_entry = None
        if isinstance(obj, LibEntry):
            return self.entry_call(obj, op, a)
        if isinstance(obj, HostHelper):
            return self.helper_call(obj, op, a)
        if not isinstance(obj, Index):
            raise ScenarioError("no calls on %s" % obj.id)
        if op == "ClassName":
            return quote(obj.ClassName())
        if op == "Version":
            return str(obj.Version())
        if op == "Name":
            return quote(obj.Name())
        if op == "Extension":
            return quote(obj.Extension())
        if op == "GetIO":
            return self.name_of(obj.GetIO())
        if op == "GetStreamID":
            return str(obj.GetStreamID())
        if op == "GetStreamType":
            return str(obj.GetStreamType())
        if op == "Description":
            desc, size = obj.Description()
            return "%s size=%d" % ("-" if desc is None else show_bytes(desc), size)
        if op == "NumberOfEntries":
            return str(obj.NumberOfEntries())
        if op == "GetEntry":
            e = obj.GetEntry(parse_int(a[0]) & M64)
            self.last_entry = e
            return self.show_entry(e)
        if op == "GetEntryTC":
            return "-"
        if op in ("AddEntryTC", "BuildIndex2", "InitIndex4"):
            return "0"
        if op == "GetMetaData":
            return self.name_of(obj.GetMetaData(parse_int(a[0]) & M32, parse_int(a[1]) & M64))
        if op == "GetMetaDataTC":
            return self.name_of(obj.GetMetaDataTC(parse_int(a[0]) & M32, parse_int(a[1])))
        if op == "GetUser":
            return str(obj.GetUser())
        if op == "GetLevel":
            return str(obj.GetLevel(parse_int(a[0]) & M32))
        if op == "References":
            return str(obj.References())
        if op == "SetName":
            obj.SetName(parse_name(a[0]))
            return "void"
        if op == "SetIO":
            obj.SetIO(self.get(a[0], HostIO))
            return "void"
        if op == "SetNameOwn":
            obj.SetName(obj.name)
            return "void"
        if obj.kind != "basic":
            if op in ("ReadIndex", "WriteIndex", "ValidateIndex", "AddEntry"):
                return "0"
            raise ScenarioError("%s is not a call of %s" % (op, obj.kind))
        return self.basic_call(obj, op, a)

    def basic_call(self, x, op, a):
        b = lambda v: "1" if v else "0"  # noqa: E731
        if op == "NumberOfStreams":
            return str(x.NumberOfStreams())
        if op == "SetFlag":
            x.SetFlag(parse_int(a[0]) & M32, a[1] == "1")
            return "void"
        if op == "IsSet":
            return b(x.IsSet(parse_int(a[0]) & M32))
        if op == "ReadIndex":
            return b(x.ReadIndex(self.get(a[0]) if a else None))
        if op == "WriteIndex":
            return b(x.WriteIndex(self.get(a[0]) if a else None))
        if op == "ReadIndexHeader":
            return b(x.ReadIndexHeader())
        if op == "WriteIndexHeader":
            return b(x.WriteIndexHeader())
        if op == "UpdateIndexHeader":
            return b(x.UpdateIndexHeader())
        if op == "UpdateIndex":
            return b(x.UpdateIndex())
        if op == "ReadIndexEntries":
            return b(x.ReadIndexEntries(parse_int(a[0]) & M64, parse_int(a[1]) & M64))
        if op == "WriteIndexEntries":
            return b(x.WriteIndexEntries(parse_int(a[0]) & M64, parse_int(a[1]) & M64))
        if op == "AddEntry":
            return b(x.AddEntry(self.get(a[0])))
        if op == "BuildIndex":
            return b(x.BuildIndex(self.get(a[0], HostHelper), self.get(a[1], HostIO), self.get(a[2])))
        if op == "ValidateIndex":
            return b(x.ValidateIndex(self.get(a[0], HostHelper), parse_int(a[1]), self.get(a[2], HostIO),
                                     self.get(a[3])))
        if op == "InitIndex":
            return b(x.InitIndex(self.get(a[0], HostHelper), parse_int(a[1]) & M64, a[2] == "1",
                                 self.get(a[3], HostIO), self.get(a[4])))
        if op == "SetDescription":
            return b(x.SetDescription(parse_hex(a[0])))
        if op == "SetDescriptionNull":
            # No bytes to copy: nothing is held, and only an empty block succeeds.
            x.SetDescription(b"")
            return b(parse_int(a[0]) == 0)
        if op == "SetDescriptionOwn":
            desc, _ = x.Description()
            return b(x.SetDescription(desc or b""))
        if op == "GetDataIO":
            return self.name_of(x.GetDataIO())
        if op == "SetDataIO":
            x.SetDataIO(self.get(a[0], HostIO))
            return "void"
        if op == "Clear":
            x.Clear()
            return "void"
        raise ScenarioError("unknown call %s" % op)

    def entry_call(self, e, op, a):
        plain = e.kind == "plain"
        if op == "Offset":
            return str(e.Offset())
        if op == "Length":
            return str(e.Length())
        if op == "Reference":
            return "0"
        if op == "References":
            return str(e.refs)
        if op == "Custom":
            if e.record is None:
                return "- size=untouched"
            return "%s size=24" % e.record[12:36].hex()
        if op == "GetFileRepresentation":
            cap = parse_int(a[0]) & M32
            rep, size = e.GetFileRepresentation(cap)
            buf = bytearray(b"\xcc" * 48)
            if rep is not None:
                buf[:len(rep)] = rep[:48] if len(rep) > 48 else rep
                buf = buf[:48]
            return "%d size=%d buf=%s" % (rep is not None, size, buf[:min(48, max(cap, 0))].hex() or "=")
        if op == "SetFileRepresentation":
            size = parse_int(a[0]) & M32
            data = parse_hex(a[1])
            if plain or e.record is None or size != RECORD:
                return "0 size=%d" % size
            e.record[:RECORD] = data.ljust(RECORD, b"\0")[:RECORD]
            return "1 size=%d" % size
        if op == "SetEntry":
            if plain:
                raise ScenarioError("SetEntry of a plain entry")
            e.record = None if a[0] == "null" else bytearray(parse_hex(a[0]).ljust(RECORD, b"\0"))
            return "void"
        if e.kind != "static":
            raise ScenarioError("%s of a %s entry" % (op, e.kind))
        if op == "SetLength":
            put32(e.record, 8, parse_int(a[0]))
            return "void"
        if op == "SetOffset":
            e.record[0:8] = (parse_int(a[0]) & M64).to_bytes(8, "little")
            return "void"
        if op == "SetOffset2":
            v = (parse_int(a[0]) & M32) | ((parse_int(a[1]) & M32) << 32)
            e.record[0:8] = v.to_bytes(8, "little")
            return "void"
        raise ScenarioError("unknown entry call %s" % op)

    def helper_call(self, h, op, a):
        if op == "ClassName":
            return quote("CMFIndexHelper")
        if op == "GetUser":
            return "42"
        if op == "GetLevel":
            return str(parse_int(a[0]) & M32)
        if op == "FillBMI":
            return "0 size=%d header=untouched" % (parse_int(a[0]) & M32)
        if op == "References":
            return str(h.refs)
        raise ScenarioError("unknown helper call %s" % op)


def run(lines):
    return Model().run(lines)


# ---- the model's own checks -------------------------------------------------------

def selftest():
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    # A new index with no entries writes only its 128 header bytes.
    t = run(["io i1", "index x s:idx i1 7", "call x WriteIndex"])
    header = new_header(7)
    put32(header, DOFF, 128)
    check("empty write", t[:7], [
        "> call x WriteIndex", 'i1.SetFileName("idx")', "i1.Open(6) = 1", "i1.Seek(0) = 1",
        "i1.Write(128) = 128 " + show_bytes(header), "i1.Close()", "= 1"])
    check("empty file", [line for line in t if line.startswith("file")], ["file idx 128"])

    # The 384/385-byte description boundary.
    for size, offset in ((384, 512), (385, 1024), (896, 1024), (897, 1536)):
        m = Model()
        m.run(["io i1", "index x s:idx i1 1", "call x SetDescription " + "ab" * size, "entry e 0 1 =",
               "call x AddEntry e", "call x WriteIndex"])
        check("entries offset for %d" % size, get32(m.files["idx"], ENTOFF), offset)
        check("file size for %d" % size, len(m.files["idx"]), offset + 40)

    # A failed header write prints two messages and removes the file.
    t = run(["io i1", "iofail i1 write 1 100", "index x s:idx i1 1", "call x WriteIndex"])
    check("header failure", [line for line in t if line.startswith(("msg", "i1.Remove"))], [
        'msg 42 1 "CMFBasicIndex::WriteIndexHeader() - Failed to write index header from:idx\\n"',
        'msg 42 1 "CMFBasicIndex: Failed to write index header into:idx\\n"',
        'i1.Remove("idx", 0)'])

    # A file that counts no entries fails the read; InitIndex then builds.
    t = run(["io i1", "index w s:idx i1 1", "call w WriteIndex", "helper h", "entry e 0 10 =", "hentries h e",
             "index x s:idx i1 1", "call x InitIndex h 0 0 - -"])
    check("init builds", "h.GetEntry(0) = e" in t and "h.StopIndexing() = 1" in t, True)

    # A sub-index forwards into its parent's range and checks its bounds.
    t = run(["pindex p s:par 3 - 0 0", "sub s p 10 5", "call s GetEntry 4", "call s GetEntry 5",
             "call s GetMetaDataTC 1 -1", "call s GetMetaDataTC 1 3"])
    check("sub bounds", [line for line in t if line.startswith("p.")],
          ["p.GetEntry(14) = -", "p.GetMetaData(1, 13) = -"])

    # The level-30 message prints 2^64 - 1 as -1.
    t = run(["io i1", "index x s:idx i1 1", "call x SetFlag 1 1", "call x GetEntry 0xffffffffffffffff"])
    check("level 30", t[3], 'msg 42 30 "CMFBasicIndex::ReadIndex() - Entry(-1) not in list.. updateing index\\n"')

    for f in failures:
        print("indexmodel: " + f, file=sys.stderr)
    print("indexmodel: %s" % ("%d failures" % len(failures) if failures else "all checks pass"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(selftest())
