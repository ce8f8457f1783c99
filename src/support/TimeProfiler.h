#pragma once

#include <cstdint>
#include <map>

#include "support/ZelString.h"
#include "support/ZelStringList.h"

/// Accumulates processor time under named processes. Ticks of the clock are
/// taken as microseconds (the resolution of clock() on this platform).
class TimeProfiler {
 public:
  /// Source of the tick count; clock() unless a test injects another.
  using ClockFunction = int64_t (*)();

  struct Process {
    int64_t start = -1;  // clock reading at the last start; -1 when not running
    int64_t total = 0;   // accumulated ticks
    ZelString name;      // stored at the first start
  };

  TimeProfiler();
  explicit TimeProfiler(ClockFunction clock);

  /// Starts name, first finishing it silently when it is already running.
  void startedProcess(const ZelString& name);
  /// Adds the ticks since the start (one less than elapsed) and stops the
  /// process; prints ">>>>>>> Finished: ..." when print is set.
  void finishedProcess(const ZelString& name, bool print);

  long getTotalProcessLengthInCycles(const ZelString& name);
  int getTotalProcessLengthInSecondsInt(const ZelString& name);
  /// Whole seconds, '.', three digits of milliseconds and 's' ("1.050s").
  ZelString getTotalProcessLengthInSeconds(const ZelString& name);

  /// "Empty Time Profile", or one line per process in name order.
  ZelString profile();

  /// A 40-character progress bar with the remaining count and time estimate,
  /// overwriting the current console line. Prints nothing when total <= 0.
  void WriteProgress(const ZelString& name, int done, int total);
  /// The whole seconds of each named process divided by divisor on one line.
  /// Prints nothing when divisor is 0.
  void WriteIntermediateTimes(ZelStringList& names, int divisor);

  /// How many times any profiler has read its clock since the program
  /// started: what the profiling of a frame costs is this count times a
  /// reading's cost (the benchmarks report it per frame).
  static long long ClockReads();

 private:
  Process& Record(const ZelString& name);
  /// m_Clock(), counted.
  int64_t ReadClock();

  ClockFunction m_Clock;
  std::map<ZelString, Process> m_Processes;
};
