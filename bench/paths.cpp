// Ferrow's path parsing and comparison over a corpus of 10,000 mixed paths,
// beside std::filesystem::path doing the comparable decomposition (root name,
// parent path, stem, extension) of the same paths in the same run. A counting
// operator new shows what each side allocates per path.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "ferrow.h"

// ---- allocation counting ----

namespace {
std::atomic<size_t> g_allocations{0};
}

// Out of line, so that the compiler pairs each new with its own delete
// instead of seeing malloc and free meet across inlined bodies.
[[gnu::noinline]] void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
using plat::wstring;

// ---- the corpus ----

constexpr size_t kCorpusSize = 10000;

struct Corpus {
  std::vector<wstring> wide;        // as Ferrow sees them
  std::vector<wstring> folded;      // the same paths in another case, "/" for "\"
  std::vector<std::string> narrow;  // UTF-8 with "/" separators, for std::filesystem
  std::vector<fs::path> built;      // std::filesystem objects made beforehand
  size_t characters = 0;
};

const Corpus& TheCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    std::mt19937 rng(20240601);
    auto pick = [&](std::initializer_list<const char*> words) {
      return std::string(*(words.begin() + rng() % words.size()));
    };
    auto name = [&] {
      return pick({"clips", "Project", "render", "audio", "scene 12", "take", "proxy", "Final Cut", "a", "old.v2"}) +
             std::to_string(rng() % 100);
    };
    auto dirs = [&](int count, char sep) {
      std::string s;
      for (int i = 0; i < count; ++i) s += name() + sep;
      return s;
    };
    auto file = [&] { return name() + pick({".avi", ".mov", ".wav", ".tar.gz", ".qzst", "", ".mxf"}); };
    for (size_t i = 0; i < kCorpusSize; ++i) {
      const char sep = rng() % 4 == 0 ? '/' : '\\';
      std::string p;
      switch (i % 7) {
        case 0: p = pick({"C:", "d:", "X:"}) + sep + dirs(1 + rng() % 4, sep) + file(); break;
        case 1: p = std::string(2, sep) + pick({"server", "nas01", "render-farm"}) + sep + dirs(1 + rng() % 3, sep) + file(); break;
        case 2: p = "\\\\?\\" + pick({"C:", "E:"}) + "\\" + dirs(1 + rng() % 4, '\\') + file(); break;
        case 3: p = "\\\\?\\UNC\\" + pick({"server", "nas01"}) + "\\" + dirs(1 + rng() % 3, '\\') + file(); break;
        case 4: p = pick({"media", "http", "qzs"}) + "://" + pick({"server", "cache"}) + "/" + dirs(rng() % 3, '/') + file(); break;
        case 5: p = dirs(rng() % 3, sep) + file(); break;
        default: p = "C:\\" + dirs(12 + rng() % 10, '\\') + file(); break;  // long: 150 to 300 characters
      }
      wstring w = plat::Wide(p);
      wstring f = w;
      for (WCHAR& ch : f) {
        if (ch == '\\') ch = '/';
        else if (ch >= 'a' && ch <= 'z') ch = static_cast<WCHAR>(ch - 'a' + 'A');
        else if (ch >= 'A' && ch <= 'Z') ch = static_cast<WCHAR>(ch - 'A' + 'a');
      }
      std::string n = p;
      for (char& ch : n)
        if (ch == '\\') ch = '/';
      c.characters += w.size();
      c.wide.push_back(std::move(w));
      c.folded.push_back(std::move(f));
      c.built.emplace_back(n);
      c.narrow.push_back(std::move(n));
    }
    return c;
  }();
  return corpus;
}

// Runs one pass over the corpus outside the timed loop, counting what it
// allocates, then times passes; items are paths, bytes their UTF-16 text.
template <class Pass>
void Measure(benchmark::State& state, Pass&& pass, bool countBytes = true) {
  const Corpus& c = TheCorpus();
  const size_t before = g_allocations.load();
  pass();
  const size_t allocations = g_allocations.load() - before;
  for (auto _ : state) pass();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCorpusSize));
  if (countBytes) state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.characters * sizeof(WCHAR)));
  state.counters["allocs/path"] = static_cast<double>(allocations) / kCorpusSize;
}

// ---- parsing ----

void BM_Ferrow_ParsePath(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  const int fileFlag = static_cast<int>(state.range(0));
  size_t parsed = 0;
  Measure(state, [&] {
    parsed = 0;
    for (const wstring& p : c.wide) {
      FU_PathParts parts;
      parsed += FU_ParsePath(p.c_str(), &parts, fileFlag);
      benchmark::DoNotOptimize(parts);
    }
  });
  state.counters["parsed"] = static_cast<double>(parsed);
}
BENCHMARK(BM_Ferrow_ParsePath)->ArgName("file")->Arg(1)->Arg(0);

// The four parts std::filesystem offers, as Ferrow has them after one parse
// and without a copy: root name (host or drive), parent path (up to the last
// separator), stem and extension.
void BM_Ferrow_Decompose(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&] {
    for (const wstring& p : c.wide) {
      FU_PathParts parts;
      if (!FU_ParsePath(p.c_str(), &parts, 1)) continue;
      const WCHAR* root = parts.host ? parts.host : parts.protocol;
      const WCHAR* rootEnd = parts.host ? parts.hostEnd : parts.protocolEnd;
      size_t parentLength = parts.localInfoEnd - p.c_str();
      size_t stemLength = parts.filenameEnd - parts.filename;
      benchmark::DoNotOptimize(root);
      benchmark::DoNotOptimize(rootEnd);
      benchmark::DoNotOptimize(parentLength);
      benchmark::DoNotOptimize(stemLength);
      benchmark::DoNotOptimize(parts.extension);
    }
  });
}
BENCHMARK(BM_Ferrow_Decompose);

// The four parts std::filesystem is asked for, kept from being optimised away.
void Decompose(const fs::path& p) {
  fs::path root = p.root_name();
  fs::path parent = p.parent_path();
  fs::path stem = p.stem();
  fs::path ext = p.extension();
  benchmark::DoNotOptimize(root);
  benchmark::DoNotOptimize(parent);
  benchmark::DoNotOptimize(stem);
  benchmark::DoNotOptimize(ext);
}

// std::filesystem from the text, as a caller holding a string would use it.
void BM_StdFs_Decompose(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&] {
    for (const std::string& s : c.narrow) {
      fs::path p(s);
      Decompose(p);
    }
  });
}
BENCHMARK(BM_StdFs_Decompose);

// std::filesystem on path objects made beforehand: the decomposition alone.
void BM_StdFs_DecomposeBuilt(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&] {
    for (const fs::path& p : c.built) {
      Decompose(p);
    }
  });
}
BENCHMARK(BM_StdFs_DecomposeBuilt);

// The access-fault guard alone, once per path: every parse pays it.
void BM_GuardAlone(benchmark::State& state) {
  int n = 0;
  Measure(state, [&] {
    for (size_t i = 0; i < kCorpusSize; ++i) plat::Guarded([&] { ++n; });
    benchmark::DoNotOptimize(n);
  }, false);
}
BENCHMARK(BM_GuardAlone);

// ---- comparison ----

// Each path against its twin in the other case with "/" for "\": equal for
// FU_PathCompare, so every character is compared.
void BM_Ferrow_PathCompare(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  int sum = 0;
  Measure(state, [&] {
    for (size_t i = 0; i < kCorpusSize; ++i) sum += FU_PathCompare(c.wide[i].c_str(), c.folded[i].c_str());
    benchmark::DoNotOptimize(sum);
  });
  if (sum != 0) state.SkipWithError("twins compared unequal");
}
BENCHMARK(BM_Ferrow_PathCompare);

// std::filesystem compares with case, element by element, against an equal copy.
void BM_StdFs_Compare(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<fs::path> copies(c.built.begin(), c.built.end());
  int sum = 0;
  Measure(state, [&] {
    for (size_t i = 0; i < kCorpusSize; ++i) sum += c.built[i].compare(copies[i]);
    benchmark::DoNotOptimize(sum);
  });
}
BENCHMARK(BM_StdFs_Compare);

// The floor: an exact comparison of equal UTF-16 text.
void BM_ExactCompare(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  std::vector<wstring> copies(c.wide.begin(), c.wide.end());
  int sum = 0;
  Measure(state, [&] {
    for (size_t i = 0; i < kCorpusSize; ++i) sum += c.wide[i].compare(copies[i]);
    benchmark::DoNotOptimize(sum);
  });
}
BENCHMARK(BM_ExactCompare);

}  // namespace

BENCHMARK_MAIN();
