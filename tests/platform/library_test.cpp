// Libraries loaded at run time: found by path and by bare name beside the
// program, counted, looked up only in their own exports, refused clearly.
#include "support/support.h"

namespace {

using plat::wstring;

#ifdef _WIN32
const WCHAR kModule[] = TEXT("platform_testmodule.dll");
#else
const WCHAR kModule[] = TEXT("libplatform_testmodule.so");
#endif

wstring BesideProgram(const WCHAR* name) {
  WCHAR path[1024];
  DWORD n = GetModuleFileNameW(nullptr, path, 1024);
  wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(TEXT("\\/")) + 1) + name;
}

typedef int (*AnswerProc)(int);
AnswerProc Answer(HMODULE module) {
  return reinterpret_cast<AnswerProc>(reinterpret_cast<void (*)()>(GetProcAddress(module, "QzTestModuleAnswer")));
}

TEST(Library, LoadsByPathAndByBareNameAsOneModule) {
  HMODULE byPath = LoadLibraryW(BesideProgram(kModule).c_str());
  ASSERT_NE(byPath, nullptr) << GetLastError();
  HMODULE byName = LoadLibraryW(kModule);
  EXPECT_EQ(byName, byPath);
  AnswerProc answer = Answer(byPath);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(20), 41);

  WCHAR file[1024];
  DWORD n = GetModuleFileNameW(byPath, file, 1024);
  ASSERT_GT(n, 0u);
  wstring name(file, n);
  EXPECT_EQ(name.substr(name.find_last_of(TEXT("\\/")) + 1), kModule);

  // Two loads, two frees: the module stays until the last one.
  EXPECT_TRUE(FreeLibrary(byName));
  EXPECT_EQ(Answer(byPath), answer);
  EXPECT_TRUE(FreeLibrary(byPath));
}

TEST(Library, FindsOnlyWhatTheModuleExports) {
  HMODULE module = LoadLibraryW(BesideProgram(kModule).c_str());
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetLastError(), 127u);  // ERROR_PROC_NOT_FOUND
  // The C runtime's own functions are the runtime's exports, not the module's.
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, "malloc"), nullptr);
  EXPECT_EQ(GetLastError(), 127u);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Library, RefusesMissingFilesAndFilesThatAreNoLibraries) {
  testsupport::TempDir dir;
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(dir.Wide("none.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), 126u);  // ERROR_MOD_NOT_FOUND
  testsupport::WriteBytes(dir.path() / "text.dll", "not a library at all, only some text\r\n");
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(dir.Wide("text.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), 193u);  // ERROR_BAD_EXE_FORMAT
}

}  // namespace
