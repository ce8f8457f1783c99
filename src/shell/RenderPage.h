#pragma once

// warpix-render --report: what the page shows, gathered from the cells, the
// distortion entries of their pictures, the command line and the inputs.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "render/ReportPage.h"
#include "shell/RenderCell.h"
#include "shell/RenderCommandLine.h"

/// The page's content: a figure per cell (pictures under images/ named as
/// CellFileName names them, with extension; a heat map for a measured
/// cell), the table of entries (one --metrics entry per cell), the first
/// cell's control points as its p key prints them and its History, the
/// parameter file's text and the overrides. The statistics are left empty.
ReportContent BuildReportContent(std::vector<RenderCell>& cells, const nlohmann::json& entries,
                                 const RenderOptions& options, const std::string& extension,
                                 int width, int height);

/// Reads records (JSON Lines, as a sweep writes them) from path into
/// statistics; false with "[ERROR] Cannot read <path>" when the file cannot
/// be opened. Lines that are no record are counted in skipped.
bool ReadRecords(const std::string& path, class SweepStatistics& statistics, int& records,
                 int& skipped);
