// The call chain of chain.h. Each level works on the result of its callee, so
// that no call becomes a jump, and the functions stay in this order in the code.
#include "chain.h"

namespace {

__attribute__((always_inline)) inline void Note(ChainTrace* trace, void* frame, void* returnAddress) {
  ChainTrace::Level& l = trace->level[trace->levels++];
  l.frame = reinterpret_cast<DRAVEL_ADDRESS>(frame);
  l.returnAddress = reinterpret_cast<DRAVEL_ADDRESS>(returnAddress);
}

}  // namespace

#define NOTE() Note(trace, __builtin_frame_address(0), __builtin_return_address(0))

CHAIN_API __attribute__((noinline)) int WINAPI ChainOuter(int depth, ChainProbe probe, ChainTrace* trace) {
  NOTE();
  return ChainMiddle(depth, probe, trace) + 1;
}

CHAIN_API __attribute__((noinline)) int WINAPI ChainMiddle(int depth, ChainProbe probe, ChainTrace* trace) {
  NOTE();
  return ChainInner(depth, probe, trace) * 2;
}

CHAIN_API __attribute__((noinline)) int WINAPI ChainInner(int depth, ChainProbe probe, ChainTrace* trace) {
  NOTE();
  return chain::Recurse(depth, probe, trace) + 3;
}

namespace chain {
CHAIN_CXX __attribute__((noinline)) int Recurse(int depth, ChainProbe probe, ChainTrace* trace) {
  NOTE();
  if (depth <= 0) return probe(trace) + 5;
  return Recurse(depth - 1, probe, trace) + 1;
}
}  // namespace chain

CHAIN_API __attribute__((noinline)) int WINAPI ChainEnd(int value) { return value ^ 0x5A; }
