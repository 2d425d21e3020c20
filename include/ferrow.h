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
