// Ferrow: paths, file system, copying and compression as flat functions.
// Every function is exported with the standard calling convention (WINAPI);
// strings are zero-terminated UTF-16; results are 1 or 0, a pointer or null,
// or a plain value. No function throws or lets an access fault escape.
#pragma once

#include <stddef.h>

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

// The find record of the first entry the system finds under the path (a
// pattern yields its first match). The record is cleared first, and holds that
// entry even when the result is 0: FU_GetFileInfo gives 1 when the entry is not
// a directory, FU_GetDirInfo 1 when it is (a trailing separator is allowed).
FERROW_API BOOL WINAPI FU_GetFileInfo(const WCHAR* path, WIN32_FIND_DATAW* record);
FERROW_API BOOL WINAPI FU_GetDirInfo(const WCHAR* path, WIN32_FIND_DATAW* record);

// Sets the last-access and last-write times of an existing file; the creation
// time stays. Directories and read-only files give 0, as does a missing file.
FERROW_API BOOL WINAPI FU_SetLastModifyTime(const WCHAR* path, const FILETIME* time);
// The same with the current time (UTC). A missing file is not created.
FERROW_API BOOL WINAPI FU_Touch(const WCHAR* path);

// The size of a file (0 for a directory), written as two 32-bit halves, low
// half first: size->LowPart, then size->HighPart. Only the halves are written,
// so two DWORDs in a row serve as well as a ULARGE_INTEGER.
FERROW_API BOOL WINAPI FU_GetFileSize(const WCHAR* path, ULARGE_INTEGER* size);

// Writes the time as "hh:mm:ss dd.Mon.yyyy" (seconds rounded down to even);
// text holds at least 21 characters. A time outside 1980..2107 gives 0 and an
// empty text; a NULL argument gives 0 and writes nothing.
FERROW_API BOOL WINAPI FU_TranslateFileTime(const FILETIME* time, WCHAR* text);

// Space on the volume that holds the path (a directory; a trailing separator is
// allowed), in bytes; 0 on failure, which cannot be told from a full disk.
// Available: free for the calling user; total available: the volume's size as
// the calling user sees it; free: all free bytes; free MB: free / 2^20, truncated.
FERROW_API ULONGLONG WINAPI FU_GetDiskAvailable(const WCHAR* path);
FERROW_API ULONGLONG WINAPI FU_GetDiskTotalAvailable(const WCHAR* path);
FERROW_API ULONGLONG WINAPI FU_GetDiskFree(const WCHAR* path);
FERROW_API ULONGLONG WINAPI FU_GetDiskFreeMB(const WCHAR* path);

// The system's drive type of the path's drive (DRIVE_FIXED ...): a path with a
// host, or a drive without a root (a disconnected network drive), is
// DRIVE_REMOTE; a path without a drive gives 0.
FERROW_API UINT WINAPI FU_GetDriveType(const WCHAR* path);

// ---- directories ----
// A "path with pattern" is a directory path followed by a wildcard pattern as
// its last component, "C:\clips\*.avi" or "*.*"; the directory part may be
// absent (the current directory).

// Wildcard matching without backtracking: "?" is one character, "*" skips to
// the first occurrence of the pattern character behind it (taken literally,
// even "*" or "?"), and that choice is never revised: "*.txt" does not match
// "a.b.txt". The case-blind form also lets "*.*" and "*." match names without
// a dot. 1 on a match; 0 otherwise and for NULL or unreadable strings.
FERROW_API BOOL WINAPI FU_wildcard_icmp(const WCHAR* pattern, const WCHAR* name);
FERROW_API BOOL WINAPI FU_wildcard_cmp(const WCHAR* pattern, const WCHAR* name);

// Walk flags.
#define FU_ENUM_RECURSIVE 1u           // enter every subdirectory, whatever its name
#define FU_ENUM_DIRS_LAST 2u           // report a directory after its contents
#define FU_ENUM_EXCLUDE_ATTRIBUTES 4u  // the mask names attributes to leave out

// Called for each chosen entry with the system's find record, the entry's full
// path (the caller's directory part, then each level joined with "/"), the
// walk's attribute mask and the caller's context. Both pointers are valid only
// during the call. Return 0 to stop the whole walk.
typedef int(WINAPI* FU_EnumCallback)(const WIN32_FIND_DATAW* entry, const WCHAR* path, DWORD mask,
                                     void* context);

// Walks the directory of a path with pattern. An entry is chosen when its
// attributes share a bit with the mask (none, with FU_ENUM_EXCLUDE_ATTRIBUTES)
// and its name matches the pattern (FU_wildcard_icmp). Names beginning with "."
// are neither reported nor entered. 1 when the walk ran to its end (also over a
// missing directory); 0 when a callback stopped it, or when it cannot start:
// NULL arguments, a path without a pattern, a mask that chooses nothing.
// Paths are bounded by MAX_PATH * 2 units: deeper entries are passed over.
FERROW_API BOOL WINAPI FU_EnumDirectory(FU_EnumCallback callback, const WCHAR* path, DWORD mask, DWORD flags,
                                        void* context);

// What FU_ScanDir counts: directories and other entries reported, and the sum
// of the sizes of those other entries.
typedef struct FU_ScanTotals {
  DWORD dirCount;
  DWORD fileCount;
  ULONGLONG totalBytes;
} FU_ScanTotals;
#ifdef __cplusplus
static_assert(sizeof(FU_ScanTotals) == 16, "FU_ScanTotals is 16 bytes on every target");
static_assert(offsetof(FU_ScanTotals, fileCount) == 4 && offsetof(FU_ScanTotals, totalBytes) == 8,
              "FU_ScanTotals keeps its field offsets");
#endif

// Clears the totals and counts what FU_EnumDirectory would report.
FERROW_API BOOL WINAPI FU_ScanDir(const WCHAR* path, FU_ScanTotals* totals, DWORD mask, DWORD flags);

// The first entry (not beginning with ".") that the system finds for a path
// with pattern, by the system's own wildcard rules. Its name replaces the
// pattern in the caller's buffer, which needs room for it: a result longer
// than MAX_PATH - 1 units is refused. FU_GetFirstMatch also gives the entry's
// last-write time and attributes where those pointers are not NULL;
// FU_GetFirstMatchInfo its whole find record.
FERROW_API BOOL WINAPI FU_GetFirstMatch(WCHAR* path, FILETIME* lastWrite, DWORD* attributes);
FERROW_API BOOL WINAPI FU_GetFirstMatchInfo(WCHAR* path, WIN32_FIND_DATAW* record);

// Creates every missing directory of an absolute path (drive, rooted or UNC
// below the share); 1 when the directory exists at the end.
FERROW_API BOOL WINAPI FU_CreatePath(const WCHAR* path);

// Creates the file empty (or empties it), creating its directories when they
// are missing.
FERROW_API BOOL WINAPI FU_CreateDirectoryEntry(const WCHAR* path);

// Deletes the files matching a path with pattern, read-only ones included; with
// recursive, also those of every subdirectory. With removeDirectories the
// pattern must be "*" or "*.*": subdirectories go too, and so does the
// directory itself, except a root. When the current directory lies inside it,
// the current directory moves to its parent first. 1 when everything chosen
// was deleted; a failure is remembered and the deletion goes on.
FERROW_API BOOL WINAPI FU_DeleteDirectory(const WCHAR* path, int recursive, int removeDirectories);
// Deletes the files (not directories) of one directory that match the pattern.
FERROW_API BOOL WINAPI FU_DeleteFiles(const WCHAR* path);

// ---- copying ----
// A file is copied through a 64 KiB buffer of its own; the copy takes the
// source's times and attributes (read-only included), and the destination's
// missing directories are created. A copy that fails leaves no destination
// file behind. A file is never copied onto itself: names that FU_PathCompare
// finds equal, or that are equal once "." and ".." and the current directory
// are resolved, are refused with 0. Sizes of 4 GiB and more are copied whole.

// Progress of FU_CopyFileProgress: called after each block with the source and
// destination as the caller gave them and the share done (0..100, truncated);
// the last call has 100, an empty file has none. Returning 0 cancels the copy.
typedef int(WINAPI* FU_CopyProgressCallback)(const WCHAR* source, const WCHAR* destination, int percent,
                                             void* context);

// 1 when the copy is complete. The destination buffer holds the same text again on return.
FERROW_API BOOL WINAPI FU_CopyFile(const WCHAR* source, WCHAR* destination);
// The same with a progress callback (may be NULL); a fault inside the callback cancels.
FERROW_API BOOL WINAPI FU_CopyFileProgress(const WCHAR* source, WCHAR* destination, FU_CopyProgressCallback callback,
                                           void* context);
// Copies what the walk of sourcePattern ("C:\a\*.*"; flags and mask as for
// FU_EnumDirectory) chooses into destinationDir, keeping the tree below the
// source directory. A file that cannot be copied is tried five times, 500 ms
// apart, then skipped; a directory that cannot be created stops the walk. 1 when
// everything chosen was copied.
FERROW_API BOOL WINAPI FU_CopyDirectory(const WCHAR* sourcePattern, const WCHAR* destinationDir, DWORD flags,
                                        DWORD attributeMask);
// 1 when target must be made again from source: the target is missing or older
// than the source, or its time lies in the future. 0 when the source is missing
// or its time lies in the future.
FERROW_API BOOL WINAPI FU_TestDependencyUpdate(const WCHAR* source, const WCHAR* target);


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
