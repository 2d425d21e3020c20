// Test hooks of the native platform: ways for tests to steer what cannot be
// arranged honestly otherwise (the clock, the debugger channel, a full disk). Not
// part of the win32 build; include only from tests and tools.
#pragma once

#include "kernel.h"

namespace plat_hooks {

// Replaces the millisecond tick counter behind GetTickCount; null restores the real one.
PLATFORM_API void SetTickSource(DWORD (*source)(void* context), void* context);

// Receives every OutputDebugString text; null restores the default (discard,
// or stderr when the environment has QZ_DEBUGSTR=1).
PLATFORM_API void SetDebugSink(void (*sink)(const WCHAR* text, void* context), void* context);

// A disk that fills up: after `bytes` more bytes have been written by WriteFile
// or reserved by SetEndOfFile growth (in this process), a write writes what
// still fits and fails with ERROR_DISK_FULL, and a growth that does not fit
// fails whole. ~0ULL turns the limit off.
PLATFORM_API void FailWritesAfter(ULONGLONG bytes);

// A process that dies part-way through its work on files. Calls that change a
// file are counted: WriteFile, SetEndOfFile, FlushFileBuffers, CreateFileW
// with a creation mode that may create or truncate, DeleteFileW, MoveFileW,
// MoveFileExW and ReplaceFileW. The n-th of them from now (1: the next one)
// ends the process with exit code `code` instead of taking place; a WriteFile
// first lets its first `keepBytes` bytes reach the file. n = 0 turns it off.
PLATFORM_API void CrashAtCall(ULONGLONG n, DWORD keepBytes, int code);
// How many of those calls this process has made.
PLATFORM_API ULONGLONG FileChangingCalls();

}  // namespace plat_hooks
