#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

/// A progress bar redrawn in place on one console line: "\r[", a bar of
/// width characters of which done * width / total are filled, "] " and a text.
///
/// An object draws "[###...] <unit> <done> of <total> <percent>% <seconds> s"
/// (wall-clock seconds since construction) on standard error, and only when
/// standard error is a terminal: a pipe or a log gets none of it.
class ProgressBar {
 public:
  /// Characters of a bar.
  struct Style {
    int width;
    char filled;
    char empty;
  };

  /// total steps (at least 1 is assumed), each named unit in the text (default:
  /// "frame"); nothing is drawn yet.
  explicit ProgressBar(int total, const char* unit = "frame");

  /// Redraws the bar with done of total steps (more than total counts as total).
  void Update(int done);
  /// Redraws the bar with one step more than the last Update or Step.
  void Step();
  /// Removes the bar, so that lines on standard output start on a clean line.
  void Clear();
  /// Leaves the last state on its own line.
  void Finish();

  /// Draws "\r[<bar>] <text>" on out and flushes it; the bar has
  /// clamp(done * width / total, 0, width) filled characters, total > 0.
  /// Returns the characters drawn after the "\r".
  static int Draw(std::ostream& out, const Style& style, long long done, long long total,
                  const std::string& text);

 private:
  bool m_bShow;
  const char* m_Unit;
  int m_iTotal;
  int m_iDone = 0;
  int m_iShownLength = 0;
  std::chrono::steady_clock::time_point m_Start;
};
