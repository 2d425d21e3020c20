// Native half of the platform door: the Win32 calls the suite makes, declared
// with their Windows signatures. Each is implemented in platform/posix with the
// Windows semantics the suite relies on; see the file named beside each group.
#pragma once

#include "types.h"

#define PLATFORM_API __attribute__((visibility("default")))

extern "C" {

// errors.cpp: per-thread last error
PLATFORM_API DWORD WINAPI GetLastError(void);
PLATFORM_API void WINAPI SetLastError(DWORD code);

// time.cpp: tick counter, sleeping, system time
PLATFORM_API DWORD WINAPI GetTickCount(void);
PLATFORM_API ULONGLONG WINAPI GetTickCount64(void);
PLATFORM_API void WINAPI Sleep(DWORD milliseconds);
PLATFORM_API void WINAPI GetSystemTime(LPSYSTEMTIME st);
PLATFORM_API void WINAPI GetLocalTime(LPSYSTEMTIME st);
PLATFORM_API void WINAPI GetSystemTimeAsFileTime(LPFILETIME ft);
PLATFORM_API BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft);
PLATFORM_API BOOL WINAPI FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st);
PLATFORM_API BOOL WINAPI FileTimeToDosDateTime(const FILETIME* ft, WORD* fatDate, WORD* fatTime);
PLATFORM_API BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
PLATFORM_API BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// debug.cpp: the debugger channel
PLATFORM_API void WINAPI OutputDebugStringW(LPCWSTR text);
PLATFORM_API void WINAPI OutputDebugStringA(LPCSTR text);

// file.cpp: handles, contents, sharing modes and byte-range locks
PLATFORM_API HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                       DWORD creation, DWORD flags, HANDLE templ);
PLATFORM_API BOOL WINAPI CloseHandle(HANDLE h);
PLATFORM_API BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED ov);
PLATFORM_API BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov);
PLATFORM_API DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method);
PLATFORM_API BOOL WINAPI SetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER newPos, DWORD method);
PLATFORM_API DWORD WINAPI GetFileSize(HANDLE h, LPDWORD sizeHigh);
PLATFORM_API BOOL WINAPI GetFileSizeEx(HANDLE h, PLARGE_INTEGER size);
PLATFORM_API BOOL WINAPI SetEndOfFile(HANDLE h);
PLATFORM_API BOOL WINAPI FlushFileBuffers(HANDLE h);
PLATFORM_API BOOL WINAPI GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
PLATFORM_API BOOL WINAPI SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* access,
                                     const FILETIME* write);
PLATFORM_API BOOL WINAPI LockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh);
PLATFORM_API BOOL WINAPI UnlockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow,
                                    DWORD bytesHigh);
PLATFORM_API HANDLE WINAPI GetStdHandle(DWORD which);

// fs.cpp: names in the file system
PLATFORM_API DWORD WINAPI GetFileAttributesW(LPCWSTR name);
PLATFORM_API BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID info);
PLATFORM_API BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes);
PLATFORM_API BOOL WINAPI DeleteFileW(LPCWSTR name);
PLATFORM_API BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to);
PLATFORM_API BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
PLATFORM_API BOOL WINAPI CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES sa);
PLATFORM_API BOOL WINAPI RemoveDirectoryW(LPCWSTR name);
PLATFORM_API DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
PLATFORM_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR name);
PLATFORM_API DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer);
PLATFORM_API DWORD WINAPI GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* filePart);
PLATFORM_API BOOL WINAPI GetDiskFreeSpaceExW(LPCWSTR name, PULARGE_INTEGER availableToCaller,
                                             PULARGE_INTEGER total, PULARGE_INTEGER totalFree);
PLATFORM_API UINT WINAPI GetDriveTypeW(LPCWSTR root);
PLATFORM_API DWORD WINAPI WNetGetUniversalNameW(LPCWSTR localPath, DWORD level, LPVOID buffer, LPDWORD size);

// find.cpp: directory searches with the Windows wildcard rules
PLATFORM_API HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
PLATFORM_API BOOL WINAPI FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
PLATFORM_API BOOL WINAPI FindClose(HANDLE find);

// memory.cpp: virtual memory and heaps
PLATFORM_API LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
PLATFORM_API BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type);
PLATFORM_API BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD protect, LPDWORD oldProtect);
PLATFORM_API SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length);
PLATFORM_API HANDLE WINAPI GetProcessHeap(void);
PLATFORM_API HANDLE WINAPI HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
PLATFORM_API BOOL WINAPI HeapDestroy(HANDLE heap);
PLATFORM_API LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
PLATFORM_API LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes);
PLATFORM_API BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
PLATFORM_API SIZE_T WINAPI HeapSize(HANDLE heap, DWORD flags, LPCVOID block);
PLATFORM_API void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
PLATFORM_API void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status);
PLATFORM_API BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);

// mapping.cpp: views of files in memory
PLATFORM_API HANDLE WINAPI CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD sizeHigh,
                                              DWORD sizeLow, LPCWSTR name);
PLATFORM_API LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                                         SIZE_T bytes);
PLATFORM_API BOOL WINAPI UnmapViewOfFile(LPCVOID address);

// sync.cpp: critical sections, interlocked arithmetic, thread-local slots, threads
PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs);
PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs);
PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs);
PLATFORM_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs);
PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs);
PLATFORM_API LONG WINAPI InterlockedIncrement(LONG volatile* value);
PLATFORM_API LONG WINAPI InterlockedDecrement(LONG volatile* value);
PLATFORM_API LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value);
PLATFORM_API LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);
PLATFORM_API DWORD WINAPI TlsAlloc(void);
PLATFORM_API BOOL WINAPI TlsFree(DWORD index);
PLATFORM_API LPVOID WINAPI TlsGetValue(DWORD index);
PLATFORM_API BOOL WINAPI TlsSetValue(DWORD index, LPVOID value);
PLATFORM_API DWORD WINAPI GetCurrentThreadId(void);
PLATFORM_API DWORD WINAPI GetCurrentProcessId(void);

// process.cpp: child processes, modules, console
PLATFORM_API BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                                        LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID env,
                                        LPCWSTR dir, LPSTARTUPINFOW si, LPPROCESS_INFORMATION pi);
PLATFORM_API DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD milliseconds);
PLATFORM_API BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD code);
PLATFORM_API BOOL WINAPI TerminateProcess(HANDLE process, UINT code);
PLATFORM_API DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
PLATFORM_API HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
PLATFORM_API BOOL WINAPI DisableThreadLibraryCalls(HMODULE module);
PLATFORM_API BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);
PLATFORM_API LPWSTR WINAPI GetCommandLineW(void);
PLATFORM_API LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* count);
PLATFORM_API HANDLE WINAPI LocalFree(HANDLE block);

// guard.cpp: the filter of faults no guard catches (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE), called with the exception record and the registers of the fault
PLATFORM_API LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);
// library.cpp: libraries loaded at run time; a module handle is its load address
PLATFORM_API HMODULE WINAPI LoadLibraryW(LPCWSTR name);
PLATFORM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
PLATFORM_API BOOL WINAPI FreeLibrary(HMODULE module);

// codepage.cpp: conversions between UTF-16 and the ANSI code page (Windows-1252) or UTF-8
PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR in, int inLength, LPWSTR out,
                                            int outLength);
PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR in, int inLength, LPSTR out,
                                            int outLength, LPCSTR defaultChar, BOOL* usedDefault);
PLATFORM_API UINT WINAPI GetACP(void);

}  // extern "C"
