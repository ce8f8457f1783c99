#pragma once

// Shared test helpers: comparisons that name the failing index, capture of
// the standard streams, and scratch files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "hwy/targets.h"
#include "support/CoutCapture.h"

namespace warpix_test {

/// Expects a[i] and b[i] within tol for every i, naming the first index that fails.
inline void expectNear(const std::vector<double>& a, const std::vector<double>& b,
                       double tol, const char* what = "") {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_NEAR(a[i], b[i], tol) << what << " at index " << i;
  }
}

/// The same bits.
inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }

/// Calls f(target name) with each vector target this processor runs selected
/// in turn, then restores the default choice; returns how many ran.
template <class F>
int ForEveryTarget(F&& f) {
  int ran = 0;
  for (int64_t t : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(t);
    f(hwy::TargetName(t));
    ++ran;
  }
  hwy::SetSupportedTargetsForTest(0);
  return ran;
}

/// Captures what is written to std::cout (the C++ stream) while alive.
class CoutCapture : public warpix::CoutCapture {
 public:
  std::string str() const { return Text(); }
};

/// A file path in the temporary directory, unique to this process (tests run
/// in parallel processes), removed on destruction.
class TempFile {
 public:
  explicit TempFile(const std::string& name)
      : m_Path(std::string(::testing::TempDir()) + "warpix_" + std::to_string(getpid()) + "_" +
               name) {}
  ~TempFile() { std::remove(m_Path.c_str()); }
  const std::string& path() const { return m_Path; }
  const char* c_str() const { return m_Path.c_str(); }
  void write(const std::string& bytes) const {
    std::ofstream out(m_Path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string read() const {
    std::ifstream in(m_Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string m_Path;
};

struct RunResult {
  std::string output;  // standard output (with standard error unless err is asked for)
  int status;          // exit status, or 128 + signal number
  std::string err;     // standard error, when asked for separately
};

/// Runs a shell command and collects its output and exit status; with
/// errFile, standard error goes there and comes back in err.
inline RunResult RunCommand(const std::string& command, const std::string& errFile = "") {
  RunResult result{"", -1, ""};
  FILE* pipe = popen((command + (errFile.empty() ? " 2>&1" : " 2>" + errFile)).c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer;
  for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  if (!errFile.empty()) {
    std::ifstream in(errFile, std::ios::binary);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return result;
}

/// Runs the real warpix program with the given argument text (shell syntax).
inline RunResult RunWarpix(const std::string& args) { return RunCommand(std::string(WARPIX_BINARY) + " " + args); }

}  // namespace warpix_test
