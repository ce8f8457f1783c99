#include "support/WarpixAssert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace warpix {

namespace {

int s_ConfigurationStopStatus = 0;

// Only the file's own name: the build directory says nothing to a user.
const char* FileName(const char* file) {
  const char* slash = std::strrchr(file, '/');
  return slash ? slash + 1 : file;
}

void Report(const char* condition, const char* function, const char* file, int line) {
  const char* fileName = FileName(file);
  std::cout.flush();
  std::fflush(stdout);
  std::fprintf(stderr, "Assertion failed: (%s), function %s, file %s, line %d.\n",
               condition, function, fileName, line);
  std::fflush(stderr);
}

}  // namespace

void AssertFailed(const char* condition, const char* function, const char* file,
                  int line) {
  Report(condition, function, file, line);
#ifdef WARPIX_ASSERT_UNWINDS
  throw AssertUnwind{condition, function, line, false, FileName(file)};
#else
  std::abort();
#endif
}

void ConfigurationStop(const char* condition, const char* function, const char* file,
                       int line) {
  Report(condition, function, file, line);
#ifdef WARPIX_ASSERT_UNWINDS
  throw AssertUnwind{condition, function, line, true, FileName(file)};
#else
  // Nothing is half written at start, so no destructor needs to run.
  if (s_ConfigurationStopStatus > 0) std::_Exit(s_ConfigurationStopStatus);
  std::abort();
#endif
}

void SetConfigurationStopStatus(int status) {
  s_ConfigurationStopStatus = status < 0 ? 0 : status > 255 ? 255 : status;
}

}  // namespace warpix
