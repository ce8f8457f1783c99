#pragma once

// The report page of warpix-render: one self-contained HTML file (inline
// style, script and drawings; pictures by relative path) that shows every
// cell's picture and heat map, the distortion numbers as a table sorted by a
// click on a header, the heat maps' colour scale, the statistics of a sweep
// with box plots, and the parameters and command that rebuild it.
#include <string>
#include <vector>

#include "render/SweepStatistics.h"

/// One cell's pictures, by paths relative to the page; no heat map: empty,
/// with the note saying why.
struct ReportFigure {
  std::string m_Name;
  std::string m_Picture;
  std::string m_HeatMap;
  std::string m_Note;
  int m_iWidth = 0, m_iHeight = 0;  // of the pictures, for the page's layout
};

/// A table cell: its text, and for a numeric column its number (no number:
/// null, sorted after every number in both directions).
struct ReportValue {
  std::string m_Text;
  double m_fNumber = 0.0;
  bool m_bNumber = false;
};

/// A table whose numeric columns sort by number, the others by text.
struct ReportTable {
  std::vector<std::string> m_Headers;
  std::vector<bool> m_Numeric;
  std::vector<std::vector<ReportValue>> m_Rows;
};

/// Everything the page shows; texts are plain (the page escapes them).
struct ReportContent {
  std::string m_Title;
  std::string m_CommandLine;  // the command that rebuilds the page, quoted for a shell
  std::string m_WorkingDir;   // where it was run
  std::vector<ReportFigure> m_Figures;
  ReportTable m_Table;
  std::string m_ParameterPath;
  std::string m_ParameterText;  // the file's text as read
  std::string m_Overrides;      // the override tokens, one string
  std::string m_ControlPoints;  // the first cell's state as its p key prints it, and its History
  std::string m_StatisticsSource;  // what the statistics are over (empty: no statistics)
  std::vector<SweepCellSummary> m_Statistics;
};

class ReportPage {
 public:
  /// text with & < > " ' replaced by their character references.
  static std::string Escape(const std::string& text);
  /// A number for the page: fixed with decimals, "inf" / "-inf" for infinity.
  static std::string Number(double value, int decimals);
  /// The whole page.
  static std::string Html(const ReportContent& content);
  /// One box plot on the axis [low, high] (width x 16 pixels): whiskers from
  /// the smallest to the largest value, the box from the first to the third
  /// quartile, the median as a bar and the 90th percentile as a tick; an
  /// infinite end is drawn as an arrow at the edge. Empty for an empty box.
  static std::string BoxPlotSvg(const SweepBox& box, double low, double high, int width);
  /// The heat maps' colour scale with the K its colours mean, and the
  /// colour of flipped faces.
  static std::string LegendSvg();
  /// Writes the page to path; false when it cannot.
  static bool Write(const std::string& path, const ReportContent& content);
};
