// The stack walker over real frames (this program and the chain library, both
// built with frame pointers: see CMakeLists.txt) and over forged ones, in print
// and in search mode, and TraceOutException from a real fault's filter.
#include <cstring>
#include <vector>

#include "chain.h"
#include "dravel_test.h"
#include "mapped_image.h"

namespace {

using Addr = DRAVEL_ADDRESS;
using dravel_test::Capture;
using dravel_test::U16;
constexpr Addr kWord = sizeof(Addr);

#if __SIZEOF_POINTER__ == 4
const char* const kWordHex = "%08x";
const char* const kOffsetHex = "%x";
#else
const char* const kWordHex = "%016Ix";
const char* const kOffsetHex = "%Ix";
#endif

#ifdef _WIN32
const char* const kChainModule = "dravelchain";
#define STDCALL(plain, bytes) "__stdcall " plain "(" bytes " byte(s))"
const char* const kRecurse = "chain::Recurse(...)";
#else
const char* const kChainModule = "libdravelchain";
#define STDCALL(plain, bytes) plain
const char* const kRecurse = "chain::Recurse(int, int (*)(ChainTrace*), ChainTrace*)";
#endif

struct Exported {
  Addr address;
  const char* name;
};

std::vector<Exported> ChainExports() {
  return {{reinterpret_cast<Addr>(&ChainOuter), STDCALL("ChainOuter", "12")},
          {reinterpret_cast<Addr>(&ChainMiddle), STDCALL("ChainMiddle", "12")},
          {reinterpret_cast<Addr>(&ChainInner), STDCALL("ChainInner", "12")},
          {reinterpret_cast<Addr>(&chain::Recurse), kRecurse},
          {reinterpret_cast<Addr>(&ChainEnd), STDCALL("ChainEnd", "4")}};
}

std::string Str(const U16& text) { return plat::Utf8(reinterpret_cast<const WCHAR*>(text.data()), text.size()); }

Addr BaseOf(Addr a) {
  MEMORY_BASIC_INFORMATION mi;
  return VirtualQuery(reinterpret_cast<LPCVOID>(a), &mi, sizeof mi) ? reinterpret_cast<Addr>(mi.AllocationBase) : 0;
}

// A word of another frame (under AddressSanitizer perhaps in a guard zone).
__attribute__((no_sanitize("address"))) Addr StackWord(Addr frame, int index) {
  return reinterpret_cast<const volatile Addr*>(frame)[index];
}

// What the walker prints for frame i: the heading with the module and offset,
// the argument words (as they are now), the RVA line of a PE image, the
// nearest of `exports` (not known: nothing after the RVA line).
std::string FrameText(int i, Addr code, Addr frame, const char* module, const std::vector<Exported>* exports) {
  const Addr base = BaseOf(code);
  std::string s = plat::FormatAS("\r%3d) ", i) + plat::FormatAS(kWordHex, code) + "()=" + module + "+" +
                  plat::FormatAS(kOffsetHex, code - base) + "(";
  for (int k = 0; k < 5; ++k)
    s += (k ? "," : "") + plat::FormatAS(kWordHex, StackWord(frame, 2 + k));
  s += ")\r";
  const BYTE* b = reinterpret_cast<const BYTE*>(base);
  if (pe::Load<WORD>(b) == pe::kDosMagic) {
    const DWORD baseOfCode = pe::Load<DWORD>(b + pe::Load<DWORD>(b + pe::kNewHeaderOffset) + 4 +
                                             pe::kFileHeaderSize + pe::kOptBaseOfCode);
    s += plat::FormatAS("\r     RVA %08X\r\n", static_cast<DWORD>(code - base - baseOfCode));
  }
  if (!exports) return s;
  const Exported *below = nullptr, *above = nullptr;
  for (const Exported& e : *exports) {
    if (e.address <= code && (!below || e.address > below->address)) below = &e;
    if (e.address > code && (!above || e.address < above->address)) above = &e;
  }
  if (below) s += plat::FormatAS("\r     [%s+%ud%s", below->name, unsigned(code - below->address), above ? "," : "");
  else if (above) s += "     [";
  if (above) s += plat::FormatAS("%s-%ud]", above->name, unsigned(above->address - code));
  else if (below) s += "]";
  return s;
}

// A printed trace cut into its frames; `head` before the first, `tail` after the last.
struct Trace {
  std::string head, tail;
  std::vector<std::string> frames;
};

Trace Split(const std::string& text) {
  Trace t;
  size_t at = text.find(plat::FormatAS("\r%3d) ", 0));
  t.head = text.substr(0, at);
  for (int i = 1; at != std::string::npos; ++i) {
    size_t next = text.find(plat::FormatAS("\r%3d) ", i), at + 1);
    size_t end = next != std::string::npos ? next : text.rfind("\r\n\n");
    if (end == std::string::npos || end < at) end = text.size();
    t.frames.push_back(text.substr(at, end - at));
    if (next == std::string::npos) t.tail = text.substr(end);
    at = next;
  }
  return t;
}

// ---- walks from inside the chain ----

struct Walk {
  UINT maximum = DRAVEL_MAX_FRAMES;
  const char* module = nullptr;
  BOOL result = FALSE;
  std::string text;
  int prints = 0;
  Addr code = 0, frame = 0, returnAddress = 0, callerFrame = 0;
  ChainTrace trace;
  std::vector<std::string> expected;  // the first frames, as the stack was during the walk
};
Walk* g_walk;

const char* const kProgram = "dravel_tests";

// Frame 0 is the probe, in this program; then the chain's levels innermost
// first, each returning into the level before; then the function of this
// program that called the chain. Frames in this program name no exports here:
// natively the program exports what its libraries use of it.
std::vector<std::string> Expected(const Walk& w) {
  const ChainTrace& t = w.trace;
  const auto exports = ChainExports();
  std::vector<std::string> e = {FrameText(0, w.code, w.frame, kProgram, nullptr),
                                FrameText(1, w.returnAddress, t.level[t.levels - 1].frame, kChainModule, &exports)};
  for (int k = 2; k <= t.levels; ++k)
    e.push_back(FrameText(k, t.level[t.levels + 1 - k].returnAddress, t.level[t.levels - k].frame, kChainModule,
                          &exports));
  e.push_back(FrameText(t.levels + 1, t.level[0].returnAddress, w.callerFrame, kProgram, nullptr));
  return e;
}

__attribute__((noinline)) Addr Here() { return reinterpret_cast<Addr>(__builtin_return_address(0)); }

int WINAPI Probe(ChainTrace* trace) {
  Walk& w = *g_walk;
  w.frame = reinterpret_cast<Addr>(__builtin_frame_address(0));
  w.returnAddress = reinterpret_cast<Addr>(__builtin_return_address(0));
  w.code = Here();
  Capture capture;
  w.result = WalkCallStack(w.code, w.frame, w.maximum, w.module);
  w.text = Str(capture.text());
  w.prints = capture.calls();
  if (!w.module && trace->levels < 10) w.expected = Expected(w);
  return trace->levels;
}

// This function, ChainOuter, ChainMiddle, ChainInner, chain::Recurse depth + 1 times, Probe.
__attribute__((noinline)) void WalkFromChain(Walk& w, int depth) {
  g_walk = &w;
  w.callerFrame = reinterpret_cast<Addr>(__builtin_frame_address(0));
  ChainOuter(depth, Probe, &w.trace);
}

TEST(WalkCallStack, PrintsEveryFrameOfARealChain) {
  Walk w;
  WalkFromChain(w, 2);
  ASSERT_TRUE(w.result);
  const ChainTrace& t = w.trace;
  ASSERT_EQ(t.levels, 6);  // outer, middle, inner, three levels of recursion
  const Trace trace = Split(w.text);
  EXPECT_EQ(trace.head, "\rSTACK TRACE");
  EXPECT_EQ(trace.tail, "\r\n\n");
  ASSERT_GE(trace.frames.size(), w.expected.size());
  for (size_t k = 0; k < w.expected.size(); ++k) {
    // Frames in this program: their heading, arguments and RVA line.
    const bool inProgram = k == 0 || k + 1 == w.expected.size();
    EXPECT_EQ(inProgram ? trace.frames[k].substr(0, w.expected[k].size()) : trace.frames[k], w.expected[k])
        << "frame " << k;
  }
#ifdef _WIN32
  // The first three argument words of a standard-call frame are its arguments.
  EXPECT_NE(trace.frames[4].find(plat::FormatAS("(00000002,%08x,%08x,", reinterpret_cast<Addr>(&Probe),
                                                reinterpret_cast<Addr>(&t))),
            std::string::npos)
      << trace.frames[4];
#endif
}

struct Limit {
  UINT maximum;
  size_t frames;
};

class WalkLimit : public ::testing::TestWithParam<Limit> {};

TEST_P(WalkLimit, PrintsAtLeastOneFrameAndAtMostFifty) {
  Walk w;
  w.maximum = GetParam().maximum;
  WalkFromChain(w, 60);
  EXPECT_TRUE(w.result);
  const Trace trace = Split(w.text);
  EXPECT_EQ(trace.frames.size(), GetParam().frames);
  EXPECT_EQ(trace.tail, "\r\n\n");
}

INSTANTIATE_TEST_SUITE_P(Maximum, WalkLimit,
                         ::testing::Values(Limit{0, 1}, Limit{1, 1}, Limit{2, 2}, Limit{50, 50}, Limit{500, 50}));

struct Search {
  const char* module;
  BOOL found;
};

class WalkSearch : public ::testing::TestWithParam<Search> {};

TEST_P(WalkSearch, FindsAModuleOnTheStackByName) {
  Walk w;
  w.module = GetParam().module;
  WalkFromChain(w, 1);
  EXPECT_EQ(w.result, GetParam().found);
  EXPECT_EQ(w.prints, 0);  // search mode prints nothing
}

#ifdef _WIN32
#define CHAIN_UPPER "DRAVELCHAIN"
#else
#define CHAIN_UPPER "LIBDRAVELCHAIN"
#endif
INSTANTIATE_TEST_SUITE_P(Modules, WalkSearch,
                         ::testing::Values(Search{kChainModule, TRUE}, Search{CHAIN_UPPER, TRUE},
                                           Search{kProgram, TRUE}, Search{"dravelchai", FALSE},
                                           Search{"nothing such", FALSE}, Search{"", FALSE}));

// ---- forged frames ----

// Three regions in one reservation: read-write, read-only, read-write; frames
// are built in the first.
class ForgedStack {
 public:
  ForgedStack() : base_(static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * 65536, MEM_COMMIT, PAGE_READWRITE))) {
    DWORD old;
    VirtualProtect(base_ + 65536, 65536, PAGE_READONLY, &old);
  }
  ~ForgedStack() { VirtualFree(base_, 0, MEM_RELEASE); }
  ForgedStack(const ForgedStack&) = delete;
  ForgedStack& operator=(const ForgedStack&) = delete;

  // Frame n of the first region (n from 0), its words in the third region (n >= 16).
  Addr Frame(int n) const { return reinterpret_cast<Addr>(base_) + (n < 16 ? 0x1000 * (n + 1) : 0x20000 + 0x100 * n); }
  void Set(Addr frame, Addr next, Addr returnAddress, Addr firstArgument) {
    Addr* w = reinterpret_cast<Addr*>(frame);
    w[0] = next;
    w[1] = returnAddress;
    for (int k = 0; k < 5; ++k) w[2 + k] = firstArgument + k;
  }
  Addr EndOfFirst() const { return reinterpret_cast<Addr>(base_) + 65536; }

 private:
  BYTE* base_;
};

Addr InChain(int n) { return ChainExports()[n].address + 3; }

std::string Printed(Addr code, Addr frame, UINT maximum = 50) {
  Capture capture;
  EXPECT_TRUE(WalkCallStack(code, frame, maximum, nullptr));
  return Str(capture.text());
}

TEST(WalkCallStack, FollowsAForgedChainUntilItEnds) {
  ForgedStack s;
  s.Set(s.Frame(0), s.Frame(1), InChain(1), 0x100);
  s.Set(s.Frame(1), s.Frame(2), InChain(2), 0x200);
  s.Set(s.Frame(2), 0, InChain(3), 0x300);  // the end: a saved frame pointer of 0 does not grow
  const auto exports = ChainExports();
  EXPECT_EQ(Printed(InChain(0), s.Frame(0)),
            "\rSTACK TRACE" + FrameText(0, InChain(0), s.Frame(0), kChainModule, &exports) +
                FrameText(1, InChain(1), s.Frame(1), kChainModule, &exports) +
                FrameText(2, InChain(2), s.Frame(2), kChainModule, &exports) + "\r\n\n");
}

struct Broken {
  const char* what;
  int frames;
};

class ForgedChain : public ::testing::TestWithParam<Broken> {};

TEST_P(ForgedChain, EndsWhereTheChainBreaks) {
  ForgedStack s;
  const std::string what = GetParam().what;
  const Addr f = s.Frame(1);
  if (what == "shrinks") s.Set(f, s.Frame(0), InChain(1), 0);
  if (what == "loops") s.Set(f, f, InChain(1), 0);  // once allowed: the first saved pointer may equal the frame's
  if (what == "leaves the stack") s.Set(f, s.Frame(16), InChain(1), 0);
  if (what == "ends in a short region") s.Set(f, s.EndOfFirst() - 6 * kWord, InChain(1), 0);
  if (what == "returns into data") {
    static int data = 0;
    s.Set(f, s.Frame(2), reinterpret_cast<Addr>(&data), 0);
    s.Set(s.Frame(2), 0, InChain(2), 0);
  }
  s.Set(s.Frame(16), 0, InChain(2), 0);
  const Trace trace = Split(Printed(InChain(0), f));
  EXPECT_EQ(static_cast<int>(trace.frames.size()), GetParam().frames);
  EXPECT_EQ(trace.tail, "\r\n\n");
}

INSTANTIATE_TEST_SUITE_P(Chains, ForgedChain,
                         ::testing::Values(Broken{"shrinks", 1}, Broken{"loops", 2}, Broken{"leaves the stack", 1},
                                           Broken{"ends in a short region", 1}, Broken{"returns into data", 2}),
                         [](const ::testing::TestParamInfo<Broken>& info) {
                           std::string name = info.param.what;
                           for (char& c : name) c = c == ' ' ? '_' : c;
                           return name;
                         });

TEST(WalkCallStack, CodeInADataRegionEndsTheWalkAtOnce) {
  static Addr data[8] = {};
  ForgedStack s;
  s.Set(s.Frame(0), s.Frame(1), InChain(1), 0x40);
  s.Set(s.Frame(1), 0, InChain(2), 0);
  const Addr code = reinterpret_cast<Addr>(&data[2]);
  std::string args;
  for (int k = 0; k < 5; ++k) args += (k ? "," : "") + plat::FormatAS(kWordHex, Addr(0x40 + k));
  EXPECT_EQ(Printed(code, s.Frame(0)), "\rSTACK TRACE" + plat::FormatAS("\r%3d) ", 0) +
                                           plat::FormatAS(kWordHex, code) + "(" + args + ")\r\r\n\n");
  EXPECT_FALSE(WalkCallStack(code, s.Frame(0), 50, kChainModule));
}

TEST(WalkCallStack, FramesThatCannotBeReadShowNoArguments) {
  BYTE* locked = static_cast<BYTE*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  const Addr frame = reinterpret_cast<Addr>(locked) + 0x100;
  const std::string printed = Printed(InChain(1), frame);
  const Trace trace = Split(printed);
  ASSERT_EQ(trace.frames.size(), 1u);
  EXPECT_EQ(trace.frames[0].find(plat::FormatAS(kWordHex, InChain(1)) + "()=" + kChainModule), 6u);
  EXPECT_NE(trace.frames[0].find("()\r"), std::string::npos) << printed;
  VirtualFree(locked, 0, MEM_RELEASE);
  // A frame pointer no region holds: the walk says so and shows one frame.
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  const Addr nowhere = reinterpret_cast<Addr>(si.lpMaximumApplicationAddress) + 0x100;
  const Trace lost = Split(Printed(InChain(1), nowhere));
  EXPECT_EQ(lost.head, "\rSTACK TRACE[no query]");
  EXPECT_EQ(lost.frames.size(), 1u);
}

TEST(WalkCallStack, NullFramePointerPrintsNothing) {
  Capture capture;
  EXPECT_FALSE(WalkCallStack(InChain(1), 0, 50, nullptr));
  EXPECT_FALSE(WalkCallStack(InChain(1), 0, 50, kChainModule));
  EXPECT_EQ(capture.calls(), 0);
}

TEST(WalkCallStack, FaultInAnImageEndsOnlyThatFramesDetails) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  // A "module": an MZ header whose PE header lies in unreadable memory, then code.
  BYTE* image = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * 4096, MEM_COMMIT, PAGE_READWRITE));
  image[0] = 'M', image[1] = 'Z';
  const DWORD lfanew = 2 * 4096;
  std::memcpy(image + pe::kNewHeaderOffset, &lfanew, 4);
  image[4096] = 0xC3;
  DWORD old;
  VirtualProtect(image + 4096, 4096, PAGE_EXECUTE_READ, &old);
  VirtualProtect(image + 2 * 4096, 4096, PAGE_NOACCESS, &old);
  ForgedStack s;
  s.Set(s.Frame(0), s.Frame(1), InChain(2), 0x10);
  s.Set(s.Frame(1), 0, InChain(3), 0x20);
  const Addr code = reinterpret_cast<Addr>(image) + 4096 + 1;
  std::string args;
  for (int k = 0; k < 5; ++k) args += (k ? "," : "") + plat::FormatAS(kWordHex, Addr(0x10 + k));
  const auto exports = ChainExports();
  EXPECT_EQ(Printed(code, s.Frame(0)),
            "\rSTACK TRACE" + plat::FormatAS("\r%3d) ", 0) + plat::FormatAS(kWordHex, code) + "()=" +
                plat::FormatAS(kWordHex, reinterpret_cast<Addr>(image)) + "+1001(" + args + ")\r" +
                FrameText(1, InChain(2), s.Frame(1), kChainModule, &exports) + "\r\n\n");
  VirtualFree(image, 0, MEM_RELEASE);
}

// ---- TraceOutException ----

TEST(TraceOutException, WalksFromTheExceptionAddressAndTheFramePointer) {
  ForgedStack s;
  s.Set(s.Frame(0), s.Frame(1), InChain(1), 0x100);
  s.Set(s.Frame(1), 0, InChain(2), 0x200);
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<PVOID>(InChain(0));
#if __SIZEOF_POINTER__ == 4
  context.Ebp = s.Frame(0);
#else
  context.Rbp = s.Frame(0);
#endif
  EXCEPTION_POINTERS pointers = {&record, &context};
  Capture capture;
  EXPECT_TRUE(TraceOutException(&pointers, 50, nullptr));
  const std::string traced = Str(capture.text());
  EXPECT_EQ(traced, Printed(InChain(0), s.Frame(0)));
  EXPECT_TRUE(TraceOutException(&pointers, 50, kChainModule));
  EXPECT_FALSE(TraceOutException(&pointers, 50, kProgram));
  EXPECT_FALSE(TraceOutException(nullptr, 50, nullptr));
}

// A real fault at the end of the chain; the filter traces it into a dump file.
const char* g_searchName;
LONG WINAPI TraceToDump(EXCEPTION_POINTERS* info) {
  TraceOutException(info, DRAVEL_MAX_FRAMES, nullptr);
  dmp_printf(0, 0, TEXT("\rsearch %d\n"), TraceOutException(info, DRAVEL_MAX_FRAMES, g_searchName));
  dmp_output(nullptr);
  return EXCEPTION_EXECUTE_HANDLER;
}

int WINAPI FaultingProbe(ChainTrace*) {
  volatile BYTE* locked = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READONLY));
  *locked = 1;
  return *locked;
}

QZ_CHILD_ROLE(fault_in_chain) {
  dmp_output(args[0].c_str());
  g_searchName = kChainModule;
  SetUnhandledExceptionFilter(TraceToDump);
  ChainTrace trace;
  return ChainOuter(0, FaultingProbe, &trace);
}

TEST(TraceOutException, TracesARealFaultFromTheFilter) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  testsupport::TempDir dir;
  const long code = testsupport::RunChild("fault_in_chain", {dir.Wide("fault.dmp")});
  EXPECT_EQ(static_cast<DWORD>(code), EXCEPTION_ACCESS_VIOLATION);
  const std::string bytes = testsupport::ReadBytes(dir.path() / "fault.dmp");
  ASSERT_GE(bytes.size(), 2u);
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  // The file's CR LF line ends back to the single CRs the walker prints.
  const std::string file = plat::Utf8(reinterpret_cast<const WCHAR*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  std::string text;
  for (size_t i = 0; i < file.size(); ++i) {
    text += file[i];
    if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') ++i;
  }
  const Trace trace = Split(text);
  EXPECT_EQ(trace.head, "\rSTACK TRACE");
  ASSERT_GE(trace.frames.size(), 6u) << text;
  EXPECT_NE(trace.frames[0].find(std::string("()=") + kProgram + "+"), std::string::npos) << text;
  const char* const inner[] = {kRecurse, STDCALL("ChainInner", "12"), STDCALL("ChainMiddle", "12"),
                               STDCALL("ChainOuter", "12")};
  for (int k = 0; k < 4; ++k)
    EXPECT_NE(trace.frames[1 + k].find(std::string("\r     [") + inner[k] + "+"), std::string::npos)
        << trace.frames[1 + k];
  EXPECT_NE(text.find("\rsearch 1\r"), std::string::npos) << text;
}

}  // namespace
