#include "support/WarpixAssert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace warpix {

void AssertFailed(const char* condition, const char* function, const char* file,
                  int line) {
  // Only the file's own name: the build directory says nothing to a user.
  const char* slash = std::strrchr(file, '/');
  const char* fileName = slash ? slash + 1 : file;
  std::fflush(stdout);
  std::fprintf(stderr, "Assertion failed: (%s), function %s, file %s, line %d.\n",
               condition, function, fileName, line);
  std::fflush(stderr);
#ifdef WARPIX_ASSERT_UNWINDS
  throw AssertUnwind{condition, function, line};
#else
  std::abort();
#endif
}

}  // namespace warpix
