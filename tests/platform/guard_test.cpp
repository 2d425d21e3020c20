// The guard turns an access fault into a result on both targets, on any thread,
// nested, and leaves faults outside it alone.
#include <thread>

#include "support/support.h"

namespace {

// A pointer into memory that is reserved but not readable.
struct UnreadablePage {
  BYTE* base = static_cast<BYTE*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS));
  ~UnreadablePage() { VirtualFree(base, 0, MEM_RELEASE); }
};

int ReadThrough(const volatile BYTE* p) { return *p; }

TEST(Guard, FinishedBodyReportsTrue) {
  int ran = 0;
  EXPECT_TRUE(plat::Guarded([&] { ran = 1; }));
  EXPECT_EQ(ran, 1);
}

TEST(Guard, UnreadableAndUnwritableMemoryReportFalse) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  UnreadablePage page;
  ASSERT_NE(page.base, nullptr);
  int after = 0;
  EXPECT_FALSE(plat::Guarded([&] {
    after = ReadThrough(page.base + 100);
    after = 5;
  }));
  EXPECT_EQ(after, 0);
  EXPECT_FALSE(plat::Guarded([&] { page.base[7] = 1; }));
  // The guard is reusable at once, and a fault in an inner guard stays inside it.
  bool inner = true;
  EXPECT_TRUE(plat::Guarded([&] { inner = plat::Guarded([&] { ReadThrough(page.base); }); }));
  EXPECT_FALSE(inner);
}

TEST(Guard, WorksOnOtherThreads) {
  if (testsupport::kSanitized) GTEST_SKIP() << "faults on purpose stay out of the sanitized build";
  UnreadablePage page;
  bool results[4] = {true, true, true, true};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < 50; ++k) results[i] = results[i] && !plat::Guarded([&] { ReadThrough(page.base + k); });
    });
  for (auto& t : threads) t.join();
  for (bool r : results) EXPECT_TRUE(r);
}

TEST(Guard, CppExceptionsStillWorkBesideIt) {
  bool caught = false;
  try {
    plat::Guarded([] { throw 42; });
  } catch (int v) {
    caught = v == 42;
  }
  EXPECT_TRUE(caught);
}

}  // namespace

namespace {

TEST(Guard, TakesNamedAndConstBodies) {
  int n = 0;
  auto add = [&] { ++n; };
  const auto addConst = [&] { n += 10; };
  EXPECT_TRUE(plat::Guarded(add));
  EXPECT_TRUE(plat::Guarded(addConst));
  EXPECT_EQ(n, 11);
}

}  // namespace
