#include "support/ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace {

// The bar of an animation's frames.
constexpr ProgressBar::Style kFrameStyle{30, '#', '.'};

}  // namespace

ProgressBar::ProgressBar(int total, const char* unit)
    : m_bShow(isatty(STDERR_FILENO) == 1),
      m_Unit(unit),
      m_iTotal(total < 1 ? 1 : total),
      m_Start(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(int done) {
  m_iDone = done;
  if (!m_bShow) return;
  if (done > m_iTotal) done = m_iTotal;
  const int percent = static_cast<int>(100LL * done / m_iTotal);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
  char text[96];
  std::snprintf(text, sizeof(text), "%s %d of %d %3d%% %.1f s", m_Unit, done, m_iTotal, percent,
                seconds);
  m_iShownLength = Draw(std::cerr, kFrameStyle, done, m_iTotal, text);
}

void ProgressBar::Step() { Update(m_iDone + 1); }

void ProgressBar::Clear() {
  if (!m_bShow || m_iShownLength == 0) return;
  std::cerr << '\r' << std::string(static_cast<size_t>(m_iShownLength), ' ') << '\r'
            << std::flush;
  m_iShownLength = 0;
}

void ProgressBar::Finish() {
  if (m_bShow && m_iShownLength > 0) std::cerr << std::endl;
  m_iShownLength = 0;
}

int ProgressBar::Draw(std::ostream& out, const Style& style, long long done, long long total,
                      const std::string& text) {
  const long long filled = std::clamp(done * style.width / total, 0LL,
                                      static_cast<long long>(style.width));
  const std::string bar = std::string(static_cast<size_t>(filled), style.filled) +
                          std::string(static_cast<size_t>(style.width - filled), style.empty);
  out << '\r' << '[' << bar << "] " << text << std::flush;
  return static_cast<int>(bar.size() + 3 + text.size());
}
