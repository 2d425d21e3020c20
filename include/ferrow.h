// Ferrow: paths, file system, copying and compression as flat functions.
// Every function is exported with the standard calling convention (WINAPI);
// strings are zero-terminated UTF-16; results are 1 or 0, a pointer or null,
// or a plain value. No function throws or lets an access fault escape.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32
#ifdef FERROW_BUILD
#define FERROW_API extern "C" __declspec(dllexport)
#else
#define FERROW_API extern "C" __declspec(dllimport)
#endif
#else
#define FERROW_API extern "C" __attribute__((visibility("default")))
#endif

// ---- paths ----
// One grammar for every path: an optional "\\?\" or "\\.\" prefix, a protocol
// ("media:") or drive ("C:"), a host ("\\server", "//server"), the local part,
// the file name and its extension. "\" and "/" are the same separator. Parsing
// points into the caller's string: nothing is copied or allocated.

// Pointers into a parsed path; each component runs from its field to its end
// field (the extension to the terminator). Absent components have a NULL start;
// their end fields hold the terminator's position (prefixEnd stays NULL).
typedef struct FU_PathParts {
  WCHAR* prefix;
  WCHAR* prefixEnd;
  WCHAR* protocol;
  WCHAR* protocolEnd;
  WCHAR* host;
  WCHAR* hostEnd;
  WCHAR* localInfo;
  WCHAR* localInfoEnd;
  WCHAR* filename;
  WCHAR* filenameEnd;
  WCHAR* extension;
} FU_PathParts;

// fileFlag non-zero: the path names a file (it needs a file name). Returns 1
// when the path is well formed; on failure every field of parts is NULL.
FERROW_API BOOL WINAPI FU_ParsePath(const WCHAR* path, FU_PathParts* parts, int fileFlag);

// The start of one component, or NULL when it is absent or the path does not parse.
FERROW_API WCHAR* WINAPI FU_FindProtocol(WCHAR* path, int fileFlag);
FERROW_API const WCHAR* WINAPI FU_FindProtocolC(const WCHAR* path, int fileFlag);
FERROW_API WCHAR* WINAPI FU_FindHost(WCHAR* path, int fileFlag);
FERROW_API const WCHAR* WINAPI FU_FindHostC(const WCHAR* path, int fileFlag);
FERROW_API WCHAR* WINAPI FU_FindLocalInfo(WCHAR* path, int fileFlag);
FERROW_API const WCHAR* WINAPI FU_FindLocalInfoC(const WCHAR* path, int fileFlag);
FERROW_API WCHAR* WINAPI FU_FindFilename(WCHAR* path);
FERROW_API const WCHAR* WINAPI FU_FindFilenameC(const WCHAR* path);
FERROW_API WCHAR* WINAPI FU_FindExtension(WCHAR* path);
FERROW_API const WCHAR* WINAPI FU_FindExtensionC(const WCHAR* path);

// The last "\", "/" or ":" of path; the first "\" or "/" at or after p.
FERROW_API WCHAR* WINAPI FU_FindLastSeparator(WCHAR* path);
FERROW_API const WCHAR* WINAPI FU_FindLastSeparatorC(const WCHAR* path);
FERROW_API WCHAR* WINAPI FU_FindNextSlash(const WCHAR* p);

// Copies one component into out: 0 none (empty), 1 prefix, 2 protocol or
// drive, 3 host, 4 local part, 5 file name, 6 extension. out needs room for
// the component and a terminator (the path's size always suffices).
FERROW_API BOOL WINAPI FU_GetComponent(const FU_PathParts* parts, WCHAR* out, UINT index);
// The same for a path parsed as a file path; `reserved` is not used.
FERROW_API BOOL WINAPI FU_GetPathComponent(const WCHAR* path, WCHAR* out, UINT index, DWORD reserved);

// Every separator becomes `separator` ("\" or "/"; anything else changes nothing).
FERROW_API WCHAR* WINAPI FU_FormatSlashes(WCHAR* path, WCHAR separator);
// Makes the path end in `separator`, or in none when it is 0; trailing blanks
// go. The buffer needs room for one more character. NULL when unreadable.
FERROW_API WCHAR* WINAPI FU_FormatPath(WCHAR* path, WCHAR separator);
// Cut a file path at its extension's dot, or behind its last separator.
FERROW_API BOOL WINAPI FU_RemoveExtension(WCHAR* path);
FERROW_API BOOL WINAPI FU_RemoveFilename(WCHAR* path);
// Cuts the path to its prefix, protocol or drive and host ("C:", "\\server").
FERROW_API BOOL WINAPI FU_StripToRootPathName(WCHAR* path, int fileFlag);
// Compares without regard to case, "\" and "/" alike; nothing else is folded.
FERROW_API int WINAPI FU_PathCompare(const WCHAR* a, const WCHAR* b);
// 1 when path begins with container (compared as FU_PathCompare does).
FERROW_API BOOL WINAPI FU_IsPathContained(const WCHAR* path, const WCHAR* container);
// Replaces characters a path cannot hold by "_", then parses the result.
FERROW_API BOOL WINAPI FU_ValidatePath(WCHAR* path, int fileFlag);
// 1 when name holds none of \ / : ? " < > |.
FERROW_API BOOL WINAPI FU_IsValidName(const WCHAR* name);
// Inserts a hexadecimal counter before the extension until the name does not
// exist. The buffer needs room for 8 more characters.
FERROW_API BOOL WINAPI FU_CreateUniqueName(WCHAR* path);
// The network name behind a mapped drive ("\\server\share\"); out holds MAX_PATH.
FERROW_API BOOL WINAPI FU_GetDriveUNCReplacement(DWORD driveLetter, WCHAR* out);
// Rewrites a path on a mapped drive into its network form; the buffer holds MAX_PATH.
FERROW_API BOOL WINAPI FU_UNCFormatMappedPath(WCHAR* path, int fileFlag);

// ---- file system ----
// Questions to the file system. Every file, directory and disk call made here
// is timed: one that takes more than 200 ms is reported on the debug output.

// 1 when anything (file or directory) exists under the path.
FERROW_API BOOL WINAPI FU_TestFileExists(const WCHAR* path);
// 1 when the path names an existing directory; a trailing separator is allowed.
FERROW_API BOOL WINAPI FU_TestDirExists(const WCHAR* path);
// 1 when the root of the path's drive answers as a directory.
FERROW_API BOOL WINAPI FU_TestDriveExists(const WCHAR* path);
// 1 and the last-write time of a file or directory.
FERROW_API BOOL WINAPI FU_GetLastModifyTime(const WCHAR* path, FILETIME* time);

// ---- directories ----
// Creates every missing directory of an absolute path (drive, rooted or UNC
// below the share); 1 when the directory exists at the end.
FERROW_API BOOL WINAPI FU_CreatePath(const WCHAR* path);

// ---- copying ----

// ---- compression ----
// A compressed block: "@ZIP", the uncompressed size (32-bit little-endian),
// 16 zero bytes, "@ZIP" again, then one LZO1X stream. Anything not shaped like
// that (28 bytes or fewer, a magic missing, a size of 0) is plain data.

// Allocates with (nullptr, size > 0) and frees with (block, 0); any other
// combination does nothing. Each returns nullptr except a successful allocation.
typedef void*(WINAPI* FU_AllocFunc)(void* block, ULONG size);

// Committed read-write virtual memory; a free releases the whole region.
FERROW_API void* WINAPI FU_AllocVirtual(void* block, ULONG size);
// The process's default heap, not zero-filled.
FERROW_API void* WINAPI FU_AllocProcHeap(void* block, ULONG size);

// Compresses size bytes at data. *ioSize is the largest acceptable result
// (0: up to size) and receives the size of the result. Data of 44 bytes or
// less, or with a limit of 44 or less, is never compressed. When the block does
// not fit the limit and *ioSize was at least size, the result is the data
// itself, uncompressed; otherwise nullptr. With alloc, the result is a new
// block from alloc; without, it is written over the start of data and data is
// returned. On failure nullptr, *ioSize unchanged, nothing left allocated.
FERROW_API void* WINAPI FU_ZIPMem(void* data, ULONG size, ULONG* ioSize, FU_AllocFunc alloc);

// Restores a compressed block, or copies plain data, into a new block from
// alloc; *outSize receives its size. A damaged block gives nullptr with
// *outSize unchanged and nothing left allocated.
FERROW_API void* WINAPI FU_UnZIPMem(void* data, ULONG size, ULONG* outSize, FU_AllocFunc alloc);

// Compressed files: one compressed block and nothing else; any other file is
// plain data. Readers tell them apart by the first 28 bytes alone. Targets are
// made anew (an existing file is replaced) with every missing directory; their
// paths must be shorter than MAX_PATH. Files of 4 GiB or more are refused. The
// file-to-file functions take the target first.

// Writes size bytes of data to path, as a compressed block when compress is
// non-zero (data of 44 bytes or less, or that the block would not make
// smaller, is then refused), otherwise unchanged. A file held by another
// handle is tried three times, 100 ms apart. A write that fails leaves no file.
FERROW_API BOOL WINAPI FU_WriteFile(const WCHAR* path, void* data, ULONG size, int compress);

// The data of a file, restored when it holds a compressed block, in a block
// from alloc; *outSize receives its size (0 on failure). An empty file gives
// nullptr. A file held by another handle is tried three times, 100 ms apart.
FERROW_API void* WINAPI FU_ReadFile(const WCHAR* path, ULONG* outSize, FU_AllocFunc alloc);

// Writes source compressed to target; 0 when source is empty, 44 bytes or
// less, or does not compress. The source is opened once; the target is
// written as FU_WriteFile writes it.
FERROW_API BOOL WINAPI FU_ZIPFile(const WCHAR* target, const WCHAR* source);

// Writes source, restored when it holds a compressed block (a plain source is
// copied as it is), to target. The source is read as FU_ReadFile reads it; the
// target is created once, without retries, and deleted when it could not be
// written in full.
FERROW_API BOOL WINAPI FU_UnZIPFile(const WCHAR* target, const WCHAR* source);
