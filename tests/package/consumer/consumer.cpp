// A host built against the installed suite: a settings file written and read
// back in a folder that Ferrow makes, and a timecode from Brellu.
#include <cstdio>
#include <cstring>

#include "brellu.h"
#include "ferrow.h"
#include "pellam.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer DIR\n");
    return 2;
  }
  // The folder comes as UTF-8 from the command line; its names are plain ASCII here.
  WCHAR dir[MAX_PATH];
  size_t n = 0;
  for (; argv[1][n] && n < MAX_PATH - 40; ++n) dir[n] = WCHAR(static_cast<unsigned char>(argv[1][n]));
  dir[n] = 0;
  WCHAR path[MAX_PATH];
  std::memcpy(path, dir, n * sizeof(WCHAR));
  const char* tail = "/made/by/ferrow/host.set";
  size_t m = 0;
  for (; tail[m]; ++m) path[n + m] = WCHAR(tail[m]);
  path[n + m] = 0;

  int status = 0;
  auto check = [&](bool ok, const char* what) {
    std::printf("%-34s %s\n", what, ok ? "ok" : "FAILED");
    if (!ok) status = 1;
  };

  {
    CSetFile settings(path);
    check(settings.WriteSettingInt("host", "frames", 1500) != 0, "pellam: write a setting");
    int frames = 0;
    check(settings.ReadSettingInt("host", "frames", frames) && frames == 1500, "pellam: read it back");
  }
  check(FU_TestFileExists(path) != 0, "ferrow: the file exists");
  check(std::memcmp(FU_FindFilename(path), TEXT("host.set"), 9 * sizeof(WCHAR)) == 0, "ferrow: its file name");

  timecode tc;
  check(sizeof tc == 8, "brellu: an 8-byte timecode");
  return status;
}
