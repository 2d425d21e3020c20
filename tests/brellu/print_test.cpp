// The debug print: formatting, filtering by user and level, the capture hook.
#include <mutex>
#include <thread>
#include <vector>

#include "brellu.h"
#include "support/support.h"
#ifndef _WIN32
#include "platform/posix/hooks.h"
#endif

namespace {

using plat::wstring;

struct Line {
  DWORD user, level;
  wstring text;
};

class Print : public testing::Test {
 protected:
  void SetUp() override {
    BrelluResetLevels();
    BrelluSetCapture(&Capture, this);
  }
  void TearDown() override {
    BrelluSetCapture(nullptr, nullptr);
    BrelluResetLevels();
  }

  static void WINAPI Capture(DWORD user, DWORD level, const WCHAR* text, void* context) {
    auto* self = static_cast<Print*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.push_back({user, level, text});
  }

  std::vector<wstring> Texts() {
    std::vector<wstring> out;
    for (const Line& l : lines_) out.push_back(l.text);
    return out;
  }

  std::mutex mutex_;
  std::vector<Line> lines_;
};

// What a caller with its own variable arguments does (as a dump printer would).
void Forward(DWORD user, DWORD level, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  wvPrintf(user, level, format, args);
  va_end(args);
}

TEST_F(Print, FormatsWideStringsAnd64BitIntegers) {
  wPrintf(7, 1, TEXT("CMFBasicIndex: Failed to open index file:%s\n"), TEXT("C:\\clips\\a.idx"));
  wPrintf(7, 0, TEXT("Entry(%I64d) of %s, %I64d left\n"), LONGLONG(-9000000000LL), TEXT("x"), LONGLONG(5));
  Forward(8, 0, TEXT("%s=%I64d|%hs|%d"), TEXT("pos"), LONGLONG(1) << 40, "narrow", -3);
  ASSERT_EQ(lines_.size(), 3u);
  EXPECT_EQ(lines_[0].text, TEXT("CMFBasicIndex: Failed to open index file:C:\\clips\\a.idx\n"));
  EXPECT_EQ(lines_[0].user, 7u);
  EXPECT_EQ(lines_[0].level, 1u);
  EXPECT_EQ(lines_[1].text, TEXT("Entry(-9000000000) of x, 5 left\n"));
  EXPECT_EQ(lines_[2].text, TEXT("pos=1099511627776|narrow|-3"));
  EXPECT_EQ(lines_[2].user, 8u);
}

TEST_F(Print, LongTextIsEmittedWhole) {
  wstring big(3000, 'q');
  wPrintf(1, 0, TEXT("<%s>%I64d"), big.c_str(), LONGLONG(42));
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].text, TEXT("<") + big + TEXT(">42"));
}

TEST_F(Print, DefaultLevelLetsErrorsThroughAndHoldsChatterBack) {
  for (DWORD level : {0u, 1u, BRELLU_DEFAULT_LEVEL, BRELLU_DEFAULT_LEVEL + 1, 30u})
    wPrintf(3, level, TEXT("%u"), unsigned(level));
  EXPECT_EQ(Texts(), (std::vector<wstring>{TEXT("0"), TEXT("1"), TEXT("10")}));
}

TEST_F(Print, UsersHaveTheirOwnLevels) {
  BrelluSetLevel(3, 30);
  BrelluSetLevel(4, BRELLU_MUTE);
  BrelluSetLevel(5, 0);
  for (DWORD user : {3u, 4u, 5u, 6u})
    for (DWORD level : {0u, 1u, 30u, 31u}) Forward(user, level, TEXT("%u/%u"), unsigned(user), unsigned(level));
  EXPECT_EQ(Texts(), (std::vector<wstring>{TEXT("3/0"), TEXT("3/1"), TEXT("3/30"), TEXT("5/0"), TEXT("6/0"),
                                           TEXT("6/1")}));
  EXPECT_TRUE(BrelluIsEnabled(3, 30));
  EXPECT_FALSE(BrelluIsEnabled(4, 0));
  EXPECT_FALSE(BrelluIsEnabled(6, 30));
}

TEST_F(Print, DefaultLevelCoversOnlyUsersWithoutTheirOwn) {
  BrelluSetLevel(2, 5);
  BrelluSetDefaultLevel(BRELLU_MUTE);
  wPrintf(1, 0, TEXT("muted"));
  wPrintf(2, 5, TEXT("own"));
  BrelluSetDefaultLevel(0xFFFFFFFEu);
  wPrintf(1, 0xFFFFFFFEu, TEXT("everything"));
  BrelluResetLevels();
  wPrintf(2, 5, TEXT("default again"));
  wPrintf(2, 30, TEXT("held back"));
  EXPECT_EQ(Texts(), (std::vector<wstring>{TEXT("own"), TEXT("everything"), TEXT("default again")}));
}

TEST_F(Print, NullFormatAndRemovedCaptureEmitNothing) {
  wPrintf(1, 0, nullptr);
  Forward(1, 0, nullptr);
  BrelluSetCapture(nullptr, nullptr);
  wPrintf(1, 0, TEXT("after"));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(Print, ThreadsPrintWholeTexts) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) wPrintf(DWORD(t), 0, TEXT("thread %d line %d"), t, i);
    });
  for (auto& th : threads) th.join();
  ASSERT_EQ(lines_.size(), 400u);
  std::vector<int> next(4, 0);
  for (const Line& l : lines_) {
    ASSERT_LT(l.user, 4u);
    EXPECT_EQ(l.text, plat::FormatWS(TEXT("thread %d line %d"), int(l.user), next[l.user]++));
  }
}

#ifndef _WIN32
TEST_F(Print, TextGoesToTheDebugOutput) {
  std::vector<wstring> seen;
  plat_hooks::SetDebugSink([](const WCHAR* text, void* c) { static_cast<std::vector<wstring>*>(c)->push_back(text); },
                           &seen);
  wPrintf(1, 0, TEXT("to the debugger %I64d"), LONGLONG(7));
  wPrintf(1, 99, TEXT("filtered"));
  plat_hooks::SetDebugSink(nullptr, nullptr);
  EXPECT_EQ(seen, std::vector<wstring>{TEXT("to the debugger 7")});
}
#endif

}  // namespace
