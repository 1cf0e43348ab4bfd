// A tiny library for the dynamic-loading tests; the tests copy it under
// Windows-style names such as TESTLIB.DLL.
#define TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))

TESTLIB_EXPORT int TestLibAnswer() { return 42; }
