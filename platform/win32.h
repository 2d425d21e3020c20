// The one door to the operating system. Code that needs the system includes
// this header and calls Win32 by its own names. On Windows it is <windows.h>;
// natively, platform/posix declares the subset the suite uses and implements it
// with the Windows semantics the suite relies on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winnetwk.h>
#include <shellapi.h>
#define PLAT_API
#else
#include "posix/kernel.h"
#define PLAT_API __attribute__((visibility("default")))
#endif

#include "text.h"
#include "guard.h"
#include "module.h"
