#include "support/TimeProfiler.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include "support/ProgressBar.h"

namespace {

int64_t ProcessorClock() { return static_cast<int64_t>(std::clock()); }

std::atomic<long long> g_ClockReads{0};

constexpr int64_t kTicksPerSecond = 1000000;
constexpr ProgressBar::Style kBarStyle{40, '+', ' '};

}  // namespace

TimeProfiler::TimeProfiler() : m_Clock(ProcessorClock) {}
TimeProfiler::TimeProfiler(ClockFunction clock) : m_Clock(clock) {}

long long TimeProfiler::ClockReads() { return g_ClockReads.load(std::memory_order_relaxed); }

int64_t TimeProfiler::ReadClock() {
  g_ClockReads.fetch_add(1, std::memory_order_relaxed);
  return m_Clock();
}

TimeProfiler::Process& TimeProfiler::Record(const ZelString& name) {
  return m_Processes[name];
}

void TimeProfiler::startedProcess(const ZelString& name) {
  Process& process = Record(name);
  if (process.start != -1) finishedProcess(name, false);
  process.start = ReadClock();
  if (process.name.isEmpty()) process.name = name;
}

void TimeProfiler::finishedProcess(const ZelString& name, bool print) {
  const int64_t now = ReadClock();
  Process& process = Record(name);
  if (process.start == -1) process.start = now;
  process.total += now - 1 - process.start;
  process.start = -1;
  if (print) {
    std::cout << ">>>>>>> Finished: " << process.name << " - "
              << getTotalProcessLengthInSeconds(name) << std::endl;
  }
}

long TimeProfiler::getTotalProcessLengthInCycles(const ZelString& name) {
  return static_cast<long>(Record(name).total);
}

int TimeProfiler::getTotalProcessLengthInSecondsInt(const ZelString& name) {
  return static_cast<int>(Record(name).total / kTicksPerSecond);
}

ZelString TimeProfiler::getTotalProcessLengthInSeconds(const ZelString& name) {
  const int64_t total = Record(name).total;
  const int64_t seconds = total / kTicksPerSecond;
  const int64_t millis = (total - seconds * kTicksPerSecond) / 1000;
  char text[64];
  std::snprintf(text, sizeof(text), "%lld.%03llds", static_cast<long long>(seconds),
                static_cast<long long>(millis));
  return ZelString(text);
}

ZelString TimeProfiler::profile() {
  if (m_Processes.empty()) return ZelString("Empty Time Profile");
  ZelString result("Time Profile:\n");
  for (auto& entry : m_Processes) {
    ZelString shown = entry.first;
    shown.replace(" ", "_");
    result += ZelString("    ") + shown + " \t " + getTotalProcessLengthInSeconds(entry.first) +
              "\n";
  }
  return result;
}

void TimeProfiler::WriteProgress(const ZelString& name, int done, int total) {
  if (total <= 0) return;
  finishedProcess(name, false);
  const int elapsed = getTotalProcessLengthInSecondsInt(name);
  const long long remaining =
      done == 0 ? -1 : static_cast<long long>(elapsed) * (total - done) / done;
  const std::string text = "N=" + std::to_string(total - done) + " T={" +
                           std::to_string(elapsed) + "s | " + std::to_string(remaining) +
                           "s}    ";
  ProgressBar::Draw(std::cout, kBarStyle, done, total, text);
  startedProcess(name);
}

void TimeProfiler::WriteIntermediateTimes(ZelStringList& names, int divisor) {
  if (divisor == 0) return;
  std::cout << "\r[";
  for (int i = 0; i < names.count(); ++i) {
    finishedProcess(names[i], false);
    std::cout << getTotalProcessLengthInSecondsInt(names[i]) / divisor << "s\t";
    std::cout.flush();
    startedProcess(names[i]);
  }
  std::cout << "] / " << divisor;
  std::cout.flush();
}
