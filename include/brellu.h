// Brellu: the suite's timecode value and its filtered debug print.
//
// timecode is an 8-byte value copied by plain byte copy: settings files store
// its bytes and the media index takes it by value, so it holds no pointers and
// its layout never changes:
//
//   offset 0  LONG  frame count from 00:00:00:00 in its time system
//   offset 4  DWORD time-system code (TCS_... below)
//
// Values this class makes keep the count within one day of their system (it
// wraps at 24 hours, as tape timecode does). Any 8 bytes are accepted: members
// read an unknown code as TCS_DEFAULT and a count outside the day modulo the day.
//
// Text form, read by the string constructor and written by ToString:
//
//   [blanks] HH:MM:SS:FF [@RATE] [blanks]     non-drop frame
//   [blanks] HH:MM:SS;FF [@RATE] [blanks]     drop frame
//
// with one or two digits per field, HH < 24, MM < 60, SS < 60, FF below the
// nominal rate; RATE is 24, 25, 30, 50 or 60 (drop frame: 30 or 60). Without a
// rate, ':' means 25 fps and ';' 30 fps drop frame. Drop-frame labels that do
// not exist (frames 0 and 1, or 0 to 3 at 60 fps, of every minute not divisible
// by ten) are bad text. Bad text, and a null pointer, give 00:00:00:00 in the
// default system.
//
// Debug print: wPrintf and wvPrintf format with the suite's formatter (%s is a
// wide string, %hs narrow, %I64d a 64-bit integer) and send the text to the
// debug output when its user lets its level through. A user lets through the
// levels up to its maximum level (its own, or the default one); BRELLU_MUTE as
// a maximum lets nothing through. A capture hook receives every text emitted.
#pragma once

#include <cstdarg>
#include <type_traits>

#include "platform/win32.h"

#ifdef _WIN32
#ifdef BRELLU_BUILD
#define BRELLU_EXPORT __declspec(dllexport)
#else
#define BRELLU_EXPORT __declspec(dllimport)
#endif
#else
#define BRELLU_EXPORT __attribute__((visibility("default")))
#endif
#define BRELLU_API extern "C" BRELLU_EXPORT

// ---- timecode ----

// Time-system codes. The numbers are stored in files: never renumber them.
enum : DWORD {
  TCS_24 = 1,     // 24 fps
  TCS_25 = 2,     // 25 fps
  TCS_30DF = 3,   // 29.97 fps counted as 30 with drop frame
  TCS_30 = 4,     // 30 fps non-drop
  TCS_50 = 5,     // 50 fps
  TCS_60DF = 6,   // 59.94 fps counted as 60 with drop frame
  TCS_60 = 7,     // 60 fps non-drop
  TCS_DEFAULT = TCS_25,
};

// Selectors of timecode::Fields.
enum : DWORD {
  TCF_HOURS = 0,
  TCF_MINUTES = 1,
  TCF_SECONDS = 2,
  TCF_FRAMES = 3,     // the FF field
  TCF_RATE = 4,       // nominal frames per second (30 for 29.97 drop frame)
  TCF_DROP = 5,       // 1 for a drop-frame system, else 0
  TCF_DAY = 6,        // frames in 24 hours of the system
  TCF_COUNT = 15,     // frames from 00:00:00:00: the position the timecode denotes
};

class BRELLU_EXPORT timecode {
 public:
  // 00:00:00:00 in the default system.
  timecode();
  // Reads the text form above; bad text gives the default value.
  explicit timecode(const WCHAR* text);
  // The frame `frames` from 00:00:00:00 (wrapped into one day) in `system`
  // (normalised first).
  timecode(LONG frames, DWORD system);

  DWORD GetSystem() const;
  // Sets the code and nothing else: the frame count stays as it is.
  void SetSystem(DWORD system);
  // A known code unchanged; any other becomes TCS_DEFAULT.
  static DWORD WINAPI NormalizeSystem(DWORD system);

  // One field (TCF_...) of the timecode that lies `arg` frames after this one.
  // TCF_COUNT gives the count itself plus arg (32-bit wrap-around); the
  // clock fields read the result modulo one day. An unknown selector gives -1.
  LONG Fields(DWORD what, LONG arg) const;

  // Writes the text form, terminated, cut to fit when cap is short. Returns
  // the length of the whole text (so a result >= cap means it was cut).
  DWORD ToString(WCHAR* out, DWORD cap) const;

 private:
  LONG m_frames;
  DWORD m_system;
};

static_assert(sizeof(timecode) == 8, "timecode is stored as 8 bytes");
static_assert(std::is_trivially_copyable<timecode>::value, "timecode is copied by bytes");
static_assert(std::is_standard_layout<timecode>::value, "timecode has a fixed layout");

// ---- debug print ----

// The maximum level of a user that hears nothing.
#define BRELLU_MUTE 0xFFFFFFFFu
// The default maximum level at load: errors (0, 1 ...) pass, chatter (30) does not.
#define BRELLU_DEFAULT_LEVEL 10u

typedef void(WINAPI* BrelluCaptureProc)(DWORD user, DWORD level, const WCHAR* text, void* context);

// Variable arguments: the caller cleans the stack (cdecl on win32).
BRELLU_API void wPrintf(DWORD user, DWORD level, const WCHAR* format, ...);
BRELLU_API void WINAPI wvPrintf(DWORD user, DWORD level, const WCHAR* format, va_list args);

// The user's own maximum level (BRELLU_MUTE to silence it).
BRELLU_API void WINAPI BrelluSetLevel(DWORD user, DWORD maxLevel);
// The maximum level of users without their own.
BRELLU_API void WINAPI BrelluSetDefaultLevel(DWORD maxLevel);
// Forgets every user's own level and restores BRELLU_DEFAULT_LEVEL.
BRELLU_API void WINAPI BrelluResetLevels(void);
// Whether a text of this user and level would be emitted.
BRELLU_API BOOL WINAPI BrelluIsEnabled(DWORD user, DWORD level);
// Every emitted text also goes to proc (null removes it). The hook runs on the
// printing thread, outside Brellu's lock, after the text went to the debug output.
BRELLU_API void WINAPI BrelluSetCapture(BrelluCaptureProc proc, void* context);
