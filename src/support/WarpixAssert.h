#pragma once

// The one fatal-report macro of the system. It stays active in every build
// type (it does not depend on NDEBUG): when the condition is false it writes
// the condition text, the function name, the source file name and the line to
// standard error and aborts.
#define WARPIX_ASSERT(condition)                                               \
  ((condition) ? static_cast<void>(0)                                          \
               : ::warpix::AssertFailed(#condition, __func__, __FILE__,        \
                                        __LINE__))

namespace warpix {

/// Writes "Assertion failed: (<condition>), function <function>, file
/// <file name>, line <line>." to standard error, flushes the standard streams
/// and aborts. Never returns.
[[noreturn]] void AssertFailed(const char* condition, const char* function,
                               const char* file, int line);

}  // namespace warpix
