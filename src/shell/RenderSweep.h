#pragma once

// A sweep: every cell run on every case of a cases file, one record of
// distortion numbers per case and cell. The cells are built once; per case
// each one drops its points and takes the case's, which gives what a cell
// freshly built with those points gives, bit for bit.
#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "shell/RenderCell.h"
#include "shell/SweepCases.h"

class SweepStatistics;

class RenderSweep {
 public:
  explicit RenderSweep(std::vector<RenderCell>& cells);

  /// One record per cell: "case", "line", then the keys of the --metrics
  /// entry; a cell that gives no numbers for the case (the case cannot be
  /// read, or the method refuses its points) has them null and a "reason";
  /// other warnings a cell prints are kept as "notes". What the cells print
  /// meanwhile is kept off standard output.
  std::vector<nlohmann::json> Run(const SweepCase& sweepCase);

  /// Runs every case of reader, writing each record as one line to out
  /// (nullptr: none) and adding it to statistics (nullptr: none); a progress
  /// bar over total cases is drawn when total > 0 (and standard error is a
  /// terminal). Returns the number of cases.
  int RunAll(SweepCaseReader& reader, std::ostream* out, SweepStatistics* statistics, int total);

  /// Adds one record to statistics: its numbers, or that it has none.
  static void AddToStatistics(const nlohmann::json& record, SweepStatistics& statistics);

  /// Whether a line a cell printed means it refused the points (and so kept
  /// an earlier deformation): an "[ERROR]" line, or a warning that the last
  /// good deformation is kept or the free vertices stay.
  static bool IsRefusal(const std::string& line);

 private:
  // Drops the cell's points without deforming, and puts its mesh at rest.
  static void Reset(Warpixator& deformator);
  // After a refusal: one accepted fit, so that a method that warns once per
  // refused episode warns again for the next refused case.
  static void Recover(Warpixator& deformator);

  std::vector<RenderCell>& m_Cells;
};
