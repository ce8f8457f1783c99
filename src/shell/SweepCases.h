#pragma once

// The cases of a sweep: a JSON Lines file, one case per line,
//   {"case": "name", "orig": [[x, y], ...], "target": [[x, y], ...]}
// with the control points' original and target positions in the unit square
// of InitCtrlPnts / DeformCtrlPnts.
#include <iosfwd>
#include <string>
#include <vector>

/// One line of a cases file. m_Reason is empty for a case that can be run;
/// otherwise it says why not (the line, the point and what is wrong).
struct SweepCase {
  int m_iLine = 0;
  std::string m_Name;          // "line <n>" when the line names none
  std::vector<double> m_Orig;  // x0, y0, x1, y1, ...
  std::vector<double> m_Target;
  std::string m_Reason;
};

/// Reads cases one line at a time from a stream (a file or standard input).
class SweepCaseReader {
 public:
  /// Most points a case may have (default: 256).
  static constexpr int kMaxPoints = 256;
  /// Originals closer than this are one point twice (default: 1e-6).
  static constexpr double kCoincident = 1e-6;

  /// firstLine: the number of the stream's first line (a part of a split
  /// file names its lines as the whole file does).
  explicit SweepCaseReader(std::istream& in, int firstLine = 1);

  /// The next case; blank lines are skipped. False at the end of the stream.
  bool Next(SweepCase& out);

  /// One line as a case: the reason is set for text that is not a JSON
  /// object, a name that is not a string, "orig" or "target" missing or not
  /// a list of [x, y] pairs of numbers, lists of different lengths, no
  /// points or more than kMaxPoints, a coordinate that is not finite or not
  /// inside the open unit square (0, 1), and two coincident originals.
  static SweepCase Parse(const std::string& line, int lineNumber);

 private:
  std::istream& m_In;
  int m_iLine;
};
