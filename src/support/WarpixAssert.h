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
///
/// Only where AssertFailed is compiled with WARPIX_ASSERT_UNWINDS (the fuzz
/// targets and their replay, never the program) does it write the same line
/// and then throw AssertUnwind instead of aborting, so that a fuzz target can
/// tell a documented fatal stop from a crash and go on with the next input.
[[noreturn]] void AssertFailed(const char* condition, const char* function,
                               const char* file, int line);

/// What an unwinding AssertFailed throws: the failed condition and where it is.
struct AssertUnwind {
  const char* condition;
  const char* function;
  int line;
};

}  // namespace warpix
