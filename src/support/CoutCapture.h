#pragma once

// Keeps what is written to std::cout (the C++ stream) while an object lives:
// a sweep's cells and the Python module's calls print as the programs do,
// and their callers decide what to show.
#include <iostream>
#include <sstream>
#include <string>

namespace warpix {

class CoutCapture {
 public:
  CoutCapture() : m_Previous(std::cout.rdbuf(&m_Text)) {}
  ~CoutCapture() { std::cout.rdbuf(m_Previous); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;

  /// Everything written so far.
  std::string Text() const { return m_Text.str(); }

 private:
  std::stringbuf m_Text;
  std::streambuf* m_Previous;
};

}  // namespace warpix
