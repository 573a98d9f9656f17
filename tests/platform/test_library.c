/* A library for the loader tests: one exported function with a known result. */
#if defined(_WIN32)
#define TEST_EXPORT __declspec(dllexport)
#else
#define TEST_EXPORT __attribute__((visibility("default")))
#endif

TEST_EXPORT int platformTestAnswer(void) { return 42; }
