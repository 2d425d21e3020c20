// Zelku: the colour-space conversion, allocation and debug library the codec
// plug-in rests on (namespace zelk).
//
// Allocation: NewAlloc and NewFree are the allocator of codec objects.
//
// Debug output: dbgPrintf formats with the suite's formatter (in a wide format
// %s is wide and %hs narrow, %I64d a 64-bit integer), so that a message reads
// the same on every target, and sends it to the debug output when its category
// lets its level through (levels up to the category's maximum pass; the
// default maximum is ZELKU_DEFAULT_LEVEL). dbgAssert and dbgEx report
// failures and are never held back. A capture hook sees every text emitted.
//
// The converter CQZCsc holds lookup tables for table-driven YUV <-> RGB
// conversion, all integer arithmetic, read directly by its users:
//
//   decode   y = pYToRGB[Y]
//            B = pSat[(y + pCbToB[Cb]) >> 16]
//            G = pSat[(y + pCbToG[Cb] + pCrToG[Cr]) >> 16]
//            R = pSat[(y + pCrToR[Cr]) >> 16]
//   encode   Y  = pLimitY[(T0[R] + T1[G] + T2[B]) >> 16]
//            Cb = pLimitC[(T3[R] + T4[G] + T5[B]) >> 16]
//            Cr = pLimitC[(T6[R] + T7[G] + T8[B]) >> 16]
//            with T0..T8 the nine 256-entry tables of pRGBToYUV; the mean of
//            two pixels' sums shifted by 17 encodes a 4:2:2 pair's chroma.
//
// Colour space 0 is ITU-R BT.601 (Kr 0.299, Kb 0.114), colour space 2 ITU-R
// BT.709 (Kr 0.2126, Kb 0.0722), both studio range: Y 16..235 and Cb, Cr
// 16..240 around 128 stand for 0..255 and -0.5..0.5. The 16.16 fixed-point
// entries are the exact products rounded to the nearest 1/65536 (halves up),
// computed in integers so that every target has the same tables:
//
//   pYToRGB[Y]  = 65536 * 255/219 * (Y - 16) + 32768
//   pCrToR[Cr]  = 65536 * 255/224 * 2(1 - Kr) * (Cr - 128)
//   pCbToB[Cb]  = 65536 * 255/224 * 2(1 - Kb) * (Cb - 128)
//   pCrToG[Cr]  = -65536 * 255/224 * 2(1 - Kr) Kr/Kg * (Cr - 128)
//   pCbToG[Cb]  = -65536 * 255/224 * 2(1 - Kb) Kb/Kg * (Cb - 128)
//   T0, T1, T2  = 65536 * 219/255 * (Kr, Kg, Kb) * v, with 16.5 * 65536 in T0
//   T3, T4, T5  = 65536 * 224/255 * (-Kr, -Kg, 1 - Kb) / (2(1 - Kb)) * v,
//                 with 128.5 * 65536 in T3
//   T6, T7, T8  = 65536 * 224/255 * (1 - Kr, -Kg, -Kb) / (2(1 - Kr)) * v,
//                 with 128.5 * 65536 in T6
//
// The added half (32768) turns the truncating shift into rounding to nearest,
// so Y 16, Cb Cr 128 decodes to 0, 0, 0 and Y 235 to 255, 255, 255, and a grey
// decoded and encoded again keeps its Y exactly.
//
// pSat, pLimitY and pLimitC accept every signed index from ZelkuTableLow() to
// ZelkuTableHigh(): all that the sums above can reach in either colour space,
// and 0..255. pSat clamps to 0..255; with ColorLimit(1) (the state after Init)
// pLimitY clamps to 16..235 and pLimitC to 16..240, with ColorLimit(0) both
// clamp to 0..255. The tables are shared and read-only; an object holds
// pointers to them only.
#pragma once

#include <cstddef>

#include "platform/win32.h"

#ifdef _WIN32
#ifdef ZELKU_BUILD
#define ZELKU_EXPORT __declspec(dllexport)
#else
#define ZELKU_EXPORT __declspec(dllimport)
#endif
#else
#define ZELKU_EXPORT __attribute__((visibility("default")))
struct _EXCEPTION_POINTERS;  // a Windows record: natively only ever null
#endif
#define ZELKU_API extern "C" ZELKU_EXPORT

namespace zelk {

// Codec objects come from here; null when the memory cannot be had. A block of
// size 0 is a block of its own.
ZELKU_EXPORT void* NewAlloc(unsigned int size);
// Returns a block of NewAlloc; null is ignored.
ZELKU_EXPORT void NewFree(void* block);

// Reports a failed assertion: expression and file are narrow strings, emitted
// as "Assertion failed: EXPR, file FILE, line N\n". Returns normally.
ZELKU_EXPORT void dbgAssert(void* expression, void* file, unsigned int line, int category);
// Formats and emits one debug text when the category lets the level through.
// Variable arguments: the caller cleans the stack (cdecl on win32).
ZELKU_EXPORT void dbgPrintf(int category, int level, const WCHAR* format, ...);
// Reports an exception caught in `where` (a qualified operation name) as
// "Exception caught in WHERE\n", with the code and address when `info` is given.
ZELKU_EXPORT void dbgEx(const WCHAR* where, _EXCEPTION_POINTERS* info, int category);

// The argument of Init.
enum ColorSpace { CS_BT601 = 0, CS_BT709 = 2 };

// The colour-space converter. Its table of virtual operations, in slot order:
//   0 the deleting destructor (one slot: runs the destructor, then returns the
//     memory with NewFree when bit 0 of `flags` is set; returns the object),
//   1 Init, 2 End, 3 ColorLimit.
// The nine table pointers follow the table pointer, in this order, and are
// all the data the object has.
class ZELKU_EXPORT CQZCsc {
 public:
  CQZCsc();
  // Not virtual: slot 0 is the deleting destructor, as the object's users expect.
  ~CQZCsc();
  CQZCsc(const CQZCsc&) = delete;
  CQZCsc& operator=(const CQZCsc&) = delete;

  // Only objects made with NewAlloc may be deleted with bit 0 set.
  virtual void* DeletingDestructor(UINT flags);
  // Sets up the tables of the colour space with limiting on; returns 0. An
  // unknown colour space gets the BT.601 tables and a result of -1.
  virtual int Init(ColorSpace space);
  // Releases the tables: every pointer becomes null. Init may follow again.
  virtual void End();
  // Non-zero: pLimitY and pLimitC clamp to the studio range; 0: to 0..255.
  // Does nothing before Init.
  virtual void ColorLimit(int on);

  // Fills the chroma of the right-hand pixel of each pair of a 4:4:4 frame
  // whose left-hand pixels carry the pairs' chroma (a 4:2:2 frame spread out):
  // `height` rows (its absolute value) of `width` pixels, `bytesPerPixel` 3 or
  // 4 bytes each in the order Y, Cb, Cr [, alpha], rows `stride` bytes apart in
  // both frames. With `repeat` 0 the chroma of pixel x (x odd) is interpolated
  // between its neighbours x - 1 and x + 1, rounding halves up; the last one,
  // without a right-hand neighbour, repeats its left-hand one. With `repeat`
  // non-zero every right-hand pixel repeats its left-hand one. `src` and `dst`
  // are the same frame or do not overlap; when they differ the rest of each
  // pixel is copied. Row padding is not touched. Returns 0, or -1 for null
  // frames, a negative width, another pixel size or a stride shorter than a row.
  int YUV422MeshedToYUV444Meshed(unsigned char* src, unsigned char* dst, int width, int height,
                                 ULONG bytesPerPixel, ULONG stride, int repeat);

  const unsigned char* pSat;     // decoding: clamps to 0..255
  const unsigned char* pLimitY;  // encoding: luma limiting
  const unsigned char* pLimitC;  // encoding: chroma limiting
  const LONG* pCrToR;            // 256 entries each, 16.16
  const LONG* pCbToB;
  const LONG* pCrToG;
  const LONG* pCbToG;
  const LONG* pYToRGB;
  const LONG* pRGBToYUV;  // 9 x 256: T0..T8
};

}  // namespace zelk

// The offsets of the pointers are checked by the tests (offsetof is not for classes with virtual operations).
static_assert(sizeof(zelk::CQZCsc) == 10 * sizeof(void*), "the table pointer and nine table pointers");

// ---- test hooks (both targets) ----

// The debug texts' default maximum level, and the maximum that lets nothing through.
#define ZELKU_DEFAULT_LEVEL 10
#define ZELKU_MUTE (-1)

// Kinds of captured texts.
enum : DWORD { ZELKU_PRINT = 0, ZELKU_ASSERT = 1, ZELKU_EXCEPTION = 2 };

// Receives every text emitted, on the emitting thread, after the debug output
// had it (asserts and exceptions with level 0).
typedef void(WINAPI* ZelkuCaptureProc)(DWORD kind, int category, int level, const WCHAR* text, void* context);
ZELKU_API void WINAPI ZelkuSetCapture(ZelkuCaptureProc proc, void* context);

// The category's own maximum level (ZELKU_MUTE silences it; up to 64
// categories have their own); ZelkuResetLevels forgets them all.
ZELKU_API void WINAPI ZelkuSetLevel(int category, int maxLevel);
ZELKU_API void WINAPI ZelkuResetLevels(void);

// The n-th NewAlloc from now fails (1: the next one); 0 fails none.
ZELKU_API void WINAPI ZelkuFailAllocation(DWORD n);
// Blocks of NewAlloc not yet returned, and NewAlloc calls since load (failed ones too).
ZELKU_API LONG WINAPI ZelkuLiveBlocks(void);
ZELKU_API LONG WINAPI ZelkuAllocations(void);

// The index range that pSat, pLimitY and pLimitC accept (both ends included).
ZELKU_API int WINAPI ZelkuTableLow(void);
ZELKU_API int WINAPI ZelkuTableHigh(void);
