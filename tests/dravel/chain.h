// A chain of calls in a library of its own, built with frame pointers, for the
// stack walker's tests: ChainOuter calls ChainMiddle, which calls ChainInner,
// which goes `depth` levels down chain::Recurse and then calls the probe. Each
// level notes its own frame pointer and return address in the trace first, as
// the compiler sees them, so that tests know the frames the walker must find.
#pragma once

#include "dravel.h"

#ifdef _WIN32
#ifdef DRAVELCHAIN_BUILD
#define CHAIN_API extern "C"  // exported by chain.def, under decorated names
#define CHAIN_CXX
#else
#define CHAIN_API extern "C" __declspec(dllimport)
#define CHAIN_CXX __declspec(dllimport)
#endif
#else
#define CHAIN_API extern "C" __attribute__((visibility("default")))
#define CHAIN_CXX __attribute__((visibility("default")))
#endif

struct ChainTrace {
  struct Level {
    DRAVEL_ADDRESS frame;          // the level's frame pointer
    DRAVEL_ADDRESS returnAddress;  // where it returns to in its caller
  };
  int levels = 0;
  Level level[128];
};

typedef int(WINAPI* ChainProbe)(ChainTrace* trace);

CHAIN_API int WINAPI ChainOuter(int depth, ChainProbe probe, ChainTrace* trace);
CHAIN_API int WINAPI ChainMiddle(int depth, ChainProbe probe, ChainTrace* trace);
CHAIN_API int WINAPI ChainInner(int depth, ChainProbe probe, ChainTrace* trace);
namespace chain {
CHAIN_CXX int Recurse(int depth, ChainProbe probe, ChainTrace* trace);
}
// The last function of the library's code: every other one has an export above it.
CHAIN_API int WINAPI ChainEnd(int value);
