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

// ---- file system ----

// ---- directories ----

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
