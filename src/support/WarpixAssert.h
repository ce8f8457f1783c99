#pragma once

// The fatal-report macros of the system. Both stay active in every build type
// (they do not depend on NDEBUG) and write the same report: the condition
// text, the function name, the source file name and the line, to standard
// error.
//
// WARPIX_ASSERT guards an internal invariant that no input can break (a shape
// the caller built, an index it checked): a failure is a programming error and
// aborts.
//
// WARPIX_CONFIG_ASSERT guards a configuration error that stops the program at
// start (a required key missing, an invalid setting, a malformed history or
// animation script), after the program has printed what is wrong. By default
// it aborts too; a program that prefers an exit status (warpix-render) sets
// one with SetConfigurationStopStatus.
#define WARPIX_ASSERT(condition)                                               \
  ((condition) ? static_cast<void>(0)                                          \
               : ::warpix::AssertFailed(#condition, __func__, __FILE__,        \
                                        __LINE__))

#define WARPIX_CONFIG_ASSERT(condition)                                        \
  ((condition) ? static_cast<void>(0)                                          \
               : ::warpix::ConfigurationStop(#condition, __func__, __FILE__,   \
                                             __LINE__))

namespace warpix {

/// Writes "Assertion failed: (<condition>), function <function>, file
/// <file name>, line <line>." to standard error, flushes the standard streams
/// and aborts. Never returns.
///
/// Only where this file's implementation is compiled with WARPIX_ASSERT_UNWINDS
/// (the fuzz targets and their replay, and the Python module; never the
/// programs) do both failures write the same line and then throw AssertUnwind
/// instead, so that a fuzz target can tell a documented fatal stop from a
/// crash and go on with the next input, and Python gets an exception.
[[noreturn]] void AssertFailed(const char* condition, const char* function,
                               const char* file, int line);

/// The same report as AssertFailed; then the process ends with the status set
/// by SetConfigurationStopStatus, or aborts when none is set.
[[noreturn]] void ConfigurationStop(const char* condition, const char* function,
                                    const char* file, int line);

/// The exit status of a configuration stop (1 to 255); 0 (the default)
/// aborts instead.
void SetConfigurationStopStatus(int status);

/// What an unwinding failure throws: the failed condition, where it is, and
/// whether it was a configuration stop (WARPIX_CONFIG_ASSERT).
struct AssertUnwind {
  const char* condition;
  const char* function;
  int line;
  bool configuration;
  const char* file;  // the source file's own name, as the report gives it
};

}  // namespace warpix
