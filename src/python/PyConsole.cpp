#include "python/PyConsole.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace py = pybind11;

namespace warpix_python {

namespace {

bool s_Echo = true;

}  // namespace

bool EchoConsole() { return s_Echo; }

void SetEchoConsole(bool echo) { s_Echo = echo; }

void Echo(const std::string& text) {
  if (text.empty() || !s_Echo) return;
  // Looked up every time: a caller (or pytest) may have replaced sys.stdout.
  py::module_::import("sys").attr("stdout").attr("write")(text);
}

std::string StopReport(const warpix::AssertUnwind& stop) {
  std::ostringstream report;
  report << "Assertion failed: (" << stop.condition << "), function " << stop.function
         << ", file " << stop.file << ", line " << stop.line << ".";
  return report.str();
}

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  m_File = std::tmpfile();
  if (m_File == nullptr) return;
  m_Saved = dup(2);
  if (m_Saved < 0 || dup2(fileno(m_File), 2) < 0) {
    if (m_Saved >= 0) close(m_Saved);
    m_Saved = -1;
    std::fclose(m_File);
    m_File = nullptr;
  }
}

StderrCapture::~StderrCapture() { Finish(); }

std::string StderrCapture::Finish() {
  if (m_File == nullptr) return std::string();
  std::fflush(stderr);
  dup2(m_Saved, 2);
  close(m_Saved);
  m_Saved = -1;
  std::string text;
  std::rewind(m_File);
  char block[4096];
  for (size_t n; (n = std::fread(block, 1, sizeof(block), m_File)) > 0;) text.append(block, n);
  std::fclose(m_File);
  m_File = nullptr;
  return text;
}

std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace warpix_python
