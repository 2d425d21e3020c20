// Debug output and the allocator: formatting, filtering by category and level,
// assertion and exception reports, the capture hook, the allocator's books.
#include <mutex>
#include <vector>

#include "support/support.h"
#include "zelku.h"

namespace {

using plat::wstring;

struct Text {
  DWORD kind;
  int category, level;
  wstring text;
};

class Print : public testing::Test {
 protected:
  void SetUp() override {
    ZelkuResetLevels();
    ZelkuSetCapture(&Capture, this);
  }
  void TearDown() override {
    ZelkuSetCapture(nullptr, nullptr);
    ZelkuResetLevels();
  }
  static void WINAPI Capture(DWORD kind, int category, int level, const WCHAR* text, void* context) {
    auto* self = static_cast<Print*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->texts_.push_back({kind, category, level, text});
  }
  std::vector<wstring> Texts() const {
    std::vector<wstring> out;
    for (const Text& t : texts_) out.push_back(t.text);
    return out;
  }

  std::mutex mutex_;
  std::vector<Text> texts_;
};

TEST_F(Print, FormatsWithTheSuitesConventions) {
  zelk::dbgPrintf(8, 3, TEXT("Cccir601Packed::DecompressQuery() - Unsupported bits per sample (%d)\n"), 12);
  zelk::dbgPrintf(8, 2, TEXT("%s::%hs: 0x%08x %I64d\r\n"), TEXT("CTarnelYVY"), "CompressGetFormat", 0x1Fu,
                  LONGLONG(-5000000000LL));
  ASSERT_EQ(texts_.size(), 2u);
  EXPECT_EQ(texts_[0].text, TEXT("Cccir601Packed::DecompressQuery() - Unsupported bits per sample (12)\n"));
  EXPECT_EQ(texts_[0].kind, DWORD(ZELKU_PRINT));
  EXPECT_EQ(texts_[0].category, 8);
  EXPECT_EQ(texts_[0].level, 3);
  EXPECT_EQ(texts_[1].text, TEXT("CTarnelYVY::CompressGetFormat: 0x0000001f -5000000000\r\n"));
  EXPECT_EQ(texts_[1].level, 2);
}

TEST_F(Print, ALongTextIsEmittedWhole) {
  const wstring big(3000, 'q');
  zelk::dbgPrintf(8, 1, TEXT("<%s>%d"), big.c_str(), 42);
  ASSERT_EQ(texts_.size(), 1u);
  EXPECT_EQ(texts_[0].text, TEXT("<") + big + TEXT(">42"));
}

TEST_F(Print, CategoriesHoldBackLevelsAboveTheirMaximum) {
  ZelkuSetLevel(8, 2);
  ZelkuSetLevel(9, ZELKU_MUTE);
  for (int level : {1, 2, 3, 4}) zelk::dbgPrintf(8, level, TEXT("8/%d"), level);
  zelk::dbgPrintf(9, 0, TEXT("muted"));
  for (int level : {ZELKU_DEFAULT_LEVEL, ZELKU_DEFAULT_LEVEL + 1}) zelk::dbgPrintf(7, level, TEXT("7/%d"), level);
  EXPECT_EQ(Texts(), (std::vector<wstring>{TEXT("8/1"), TEXT("8/2"), TEXT("7/10")}));
  ZelkuResetLevels();
  zelk::dbgPrintf(8, 4, TEXT("again"));
  EXPECT_EQ(texts_.back().text, TEXT("again"));
}

TEST_F(Print, AssertionsAndExceptionsAreAlwaysReported) {
  ZelkuSetLevel(8, ZELKU_MUTE);
  char expression[] = "pICodec!=NULL", file[] = "src\\ccir601\\ccir601";
  zelk::dbgAssert(expression, file, 139, 8);
  zelk::dbgEx(TEXT("Cccir601Meshed::DecompressGetFormat"), nullptr, 8);
  ASSERT_EQ(texts_.size(), 2u);
  EXPECT_EQ(texts_[0].kind, DWORD(ZELKU_ASSERT));
  EXPECT_EQ(texts_[0].text, TEXT("Assertion failed: pICodec!=NULL, file src\\ccir601\\ccir601, line 139\n"));
  EXPECT_EQ(texts_[1].kind, DWORD(ZELKU_EXCEPTION));
  EXPECT_EQ(texts_[1].text, TEXT("Exception caught in Cccir601Meshed::DecompressGetFormat\n"));
  EXPECT_EQ(texts_[1].category, 8);
}

TEST(Allocator, FailsTheNthCallOnceAndKeepsItsBooks) {
  const LONG live = ZelkuLiveBlocks(), calls = ZelkuAllocations();
  ZelkuFailAllocation(2);
  void* a = zelk::NewAlloc(16);
  void* b = zelk::NewAlloc(16);
  void* c = zelk::NewAlloc(0);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);  // a block of size 0 is a block of its own
  EXPECT_NE(c, a);
  EXPECT_EQ(ZelkuAllocations(), calls + 3);
  EXPECT_EQ(ZelkuLiveBlocks(), live + 2);
  zelk::NewFree(a);
  zelk::NewFree(nullptr);
  zelk::NewFree(c);
  EXPECT_EQ(ZelkuLiveBlocks(), live);
  ZelkuFailAllocation(1);
  ZelkuFailAllocation(0);  // turned off again before it struck
  void* d = zelk::NewAlloc(1);
  EXPECT_NE(d, nullptr);
  zelk::NewFree(d);
}

}  // namespace
