// Guarding of codec operations: no exception and no access fault leaves one.
// A caught fault is reported through zelk::dbgEx with the operation's
// qualified name and becomes CODEC_E_UNEXPECTED; the conversions, Begin and
// End also call OnEnd then.
#pragma once

#include "tarnel.h"

namespace tarnel {

// A null pointer where the caller owes one: treated as the fault its use would be.
struct NullArgument {};
template <class T>
T* Require(T* p) {
  if (!p) throw NullArgument();
  return p;
}

enum class OnFault { kReport, kReportAndEnd };

// Reports a fault caught in cls::op.
void ReportFault(ICodec* codec, const WCHAR* cls, const WCHAR* op, OnFault what);

// Runs body() (which returns a status) under the guard. The body must not own
// objects whose destructors matter: a fault cuts it short without unwinding.
template <class F>
LONG Guarded(ICodec* codec, const WCHAR* cls, const WCHAR* op, OnFault what, F&& body) {
  LONG status = CODEC_E_UNEXPECTED;
  bool finished = false;
  try {
    finished = plat::Guarded([&] { status = body(); });
  } catch (...) {
    finished = false;
  }
  if (finished) return status;
  ReportFault(codec, cls, op, what);
  return CODEC_E_UNEXPECTED;
}

}  // namespace tarnel
