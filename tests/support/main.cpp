// The main program of every test executable: either a child role or the tests.
#include "support.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (testsupport::RunChildRoleIfAsked(argc, argv, exitCode)) return exitCode;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
