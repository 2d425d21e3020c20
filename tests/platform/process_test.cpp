#include "support/support.h"

namespace {

QZ_CHILD_ROLE(exit_with) { return args.size() == 2 && args[1] == TEXT("a b\"c\\") ? std::stoi(plat::Utf8(args[0])) : 100; }

QZ_CHILD_ROLE(sleep_long) {
  Sleep(60000);
  return 0;
}

TEST(Process, ChildGetsItsArgumentsAndReturnsItsExitCode) {
  EXPECT_EQ(testsupport::RunChild("exit_with", {TEXT("42"), TEXT("a b\"c\\")}), 42);
}

TEST(Process, WaitTimesOutAndAChildCanBeEnded) {
  testsupport::Child child("sleep_long");
  ASSERT_TRUE(child.started());
  DWORD before = GetTickCount();
  EXPECT_EQ(child.Wait(100), -1);
  EXPECT_GE(GetTickCount() - before, 90u);
}

TEST(Process, ProgramKnowsItsOwnFileName) {
  WCHAR name[1024];
  DWORD n = GetModuleFileNameW(nullptr, name, 1024);
  ASSERT_GT(n, 0u);
  EXPECT_NE(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
  WCHAR tiny[4];
  EXPECT_EQ(GetModuleFileNameW(nullptr, tiny, 4), 4u);  // cut to the buffer
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

}  // namespace
