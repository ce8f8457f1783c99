#pragma once

// How the Python module calls into the libraries: one call at a time per
// process (the numerical classes keep class-wide caches), with the GIL
// released, the console captured, and the program's fatal stops turned into
// Python exceptions that carry what the program printed.
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include <pybind11/pybind11.h>

#include "support/CoutCapture.h"
#include "support/WarpixAssert.h"

namespace warpix_python {

/// What warpix.WarpixError is raised from: a fatal stop of the program (its
/// printed lines and its assertion report) or a failure it reports and
/// survives (an unreadable picture, a file not written).
class WarpixError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Whether the program's console lines are echoed to sys.stdout (default: true).
bool EchoConsole();
void SetEchoConsole(bool echo);

/// Writes text to sys.stdout when it is not empty and echoing is on (GIL held).
void Echo(const std::string& text);

/// The report a fatal stop prints: "Assertion failed: (<condition>), function
/// <function>, file <file>, line <line>."
std::string StopReport(const warpix::AssertUnwind& stop);

/// Everything written to std::cout while it lives.
using ConsoleCapture = warpix::CoutCapture;

/// Everything written to file descriptor 2 (standard error, where the picture
/// readers and writers report) while it lives; the text is read by Finish.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  /// Puts standard error back and returns what was written meanwhile.
  std::string Finish();

 private:
  std::FILE* m_File = nullptr;
  int m_Saved = -1;
};

/// The lock every call into the libraries holds.
std::mutex& LibraryMutex();

/// The outcome of work run by Run: its console text and the fatal stop that
/// ended it, if any.
struct RunResult {
  std::string console;
  std::optional<warpix::AssertUnwind> stop;
};

/// Runs work() with the GIL released and the library lock held, std::cout
/// captured. A fatal stop is caught and returned; any other C++ exception
/// passes through (pybind11 translates it). The GIL is held again on return.
template <class Work>
RunResult RunUnlocked(Work&& work) {
  RunResult result;
  pybind11::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(LibraryMutex());
  ConsoleCapture capture;
  try {
    work();
  } catch (const warpix::AssertUnwind& stop) {
    result.stop = stop;
  }
  result.console = capture.Text();
  return result;
}

/// RunUnlocked, then: a fatal stop raises WarpixError with the console text
/// and the report; otherwise the console text is echoed.
template <class Work>
void Run(Work&& work) {
  RunResult result = RunUnlocked(std::forward<Work>(work));
  if (result.stop) throw WarpixError(result.console + StopReport(*result.stop));
  Echo(result.console);
}

}  // namespace warpix_python
