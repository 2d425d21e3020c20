// A library for the tests of run-time loading: it exports one function.
#ifdef _WIN32
#define TESTMODULE_API extern "C" __declspec(dllexport)
#else
#define TESTMODULE_API extern "C" __attribute__((visibility("default")))
#endif

TESTMODULE_API int QzTestModuleAnswer(int x) { return 2 * x + 1; }
