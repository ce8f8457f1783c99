#include "render/SweepStatistics.h"

#include <algorithm>
#include <cmath>

double SweepStatistics::Percentile(std::vector<double> values, double p) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }),
               values.end());
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  p = std::isnan(p) ? 0.0 : std::clamp(p, 0.0, 1.0);
  const double rank = p * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(rank));
  const double fraction = rank - static_cast<double>(below);
  const double low = values[below];
  if (fraction == 0.0 || below + 1 >= values.size()) return low;
  const double high = values[below + 1];
  // inf - inf and 0 * inf would make a NaN: an infinite end is the answer.
  if (low == high || std::isinf(high)) return high;
  if (std::isinf(low)) return low;
  return low + fraction * (high - low);
}

SweepBox SweepStatistics::BoxOf(const std::vector<double>& values) {
  SweepBox box;
  for (double v : values) box.m_iCount += std::isnan(v) ? 0 : 1;
  if (box.m_iCount == 0) return box;
  box.m_fMin = Percentile(values, 0.0);
  box.m_fQ1 = Percentile(values, 0.25);
  box.m_fMedian = Percentile(values, 0.5);
  box.m_fQ3 = Percentile(values, 0.75);
  box.m_fP10 = Percentile(values, 0.1);
  box.m_fP90 = Percentile(values, 0.9);
  box.m_fMax = Percentile(values, 1.0);
  return box;
}

void SweepStatistics::Add(int cell, const std::string& name, const SweepSample* sample,
                          const std::string& reason) {
  auto it = std::find_if(m_Cells.begin(), m_Cells.end(),
                         [&](const CellSamples& c) { return c.cell == cell && c.name == name; });
  if (it == m_Cells.end()) {
    m_Cells.push_back(CellSamples{cell, name, 0, std::string(), {}});
    it = m_Cells.end() - 1;
  }
  if (sample != nullptr) {
    it->samples.push_back(*sample);
  } else {
    if (it->refused++ == 0) it->firstReason = reason;
  }
}

std::vector<SweepCellSummary> SweepStatistics::Summaries() const {
  std::vector<SweepCellSummary> summaries;
  for (const CellSamples& c : m_Cells) {
    SweepCellSummary s;
    s.m_iCell = c.cell;
    s.m_Name = c.name;
    s.m_iRefused = c.refused;
    s.m_iCases = c.refused + static_cast<int>(c.samples.size());
    s.m_FirstReason = c.firstReason;
    // One quantity at a time, through a member pointer.
    auto box = [&](double SweepSample::*field) {
      std::vector<double> values;
      for (const SweepSample& sample : c.samples) values.push_back(sample.*field);
      return BoxOf(values);
    };
    s.m_ConformalMax = box(&SweepSample::m_fConformalMax);
    s.m_ConformalMean = box(&SweepSample::m_fConformalMean);
    s.m_FlippedShare = box(&SweepSample::m_fFlippedShare);
    s.m_AreaMin = box(&SweepSample::m_fAreaMin);
    s.m_AreaMax = box(&SweepSample::m_fAreaMax);
    summaries.push_back(s);
  }
  std::stable_sort(summaries.begin(), summaries.end(),
                   [](const SweepCellSummary& a, const SweepCellSummary& b) {
                     return a.m_iCell < b.m_iCell;
                   });
  return summaries;
}
