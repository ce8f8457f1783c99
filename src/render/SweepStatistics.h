#pragma once

// The distortion numbers of a sweep summed up per cell: how a method behaves
// over many control-point configurations rather than one.
#include <string>
#include <vector>

/// The numbers of one cell for one case that could be computed.
struct SweepSample {
  double m_fConformalMax = 1.0;   // K max (may be infinity)
  double m_fConformalMean = 1.0;  // K mean (may be infinity)
  double m_fAreaMin = 1.0;
  double m_fAreaMax = 1.0;
  double m_fFlippedShare = 0.0;
};

/// Five numbers and the 10th and 90th percentiles of one quantity over the computed
/// cases of a cell; all 0 with m_iCount 0 when there is none.
struct SweepBox {
  int m_iCount = 0;
  double m_fMin = 0.0, m_fQ1 = 0.0, m_fMedian = 0.0, m_fQ3 = 0.0, m_fP10 = 0.0, m_fP90 = 0.0, m_fMax = 0.0;
};

/// One cell over every case: how many cases it met, how many gave no numbers
/// (the first reason kept as an example), and the boxes of its numbers.
struct SweepCellSummary {
  int m_iCell = 0;
  std::string m_Name;
  int m_iCases = 0;
  int m_iRefused = 0;
  std::string m_FirstReason;
  SweepBox m_ConformalMax, m_ConformalMean, m_FlippedShare, m_AreaMin, m_AreaMax;
};

class SweepStatistics {
 public:
  /// The p-th percentile (p in [0, 1], clamped) of values by linear
  /// interpolation between order statistics: rank h = (n - 1) p, the value
  /// x[floor h] + (h - floor h) (x[floor h + 1] - x[floor h]) of the sorted
  /// values. Infinite values sort to the ends; an interpolation towards one
  /// gives it (never a NaN for values that are not NaN). 0 for no values.
  static double Percentile(std::vector<double> values, double p);
  /// The box of values (NaN values are left out).
  static SweepBox BoxOf(const std::vector<double>& values);

  /// One record of cell (index and display name): the sample, or nullptr
  /// with the reason it has no numbers.
  void Add(int cell, const std::string& name, const SweepSample* sample,
           const std::string& reason = std::string());

  /// Every cell met, in the order of their indices.
  std::vector<SweepCellSummary> Summaries() const;

  bool Empty() const { return m_Cells.empty(); }

 private:
  struct CellSamples {
    int cell = 0;
    std::string name;
    int refused = 0;
    std::string firstReason;
    std::vector<SweepSample> samples;
  };
  std::vector<CellSamples> m_Cells;
};
