#pragma once

// warpix-render's distortion report (--metrics): a JSON array with one entry
// per cell, and per frame with --anim.
#include <string>

#include <nlohmann/json.hpp>

#include "render/DistortionMetrics.h"

class Warpixator;

/// One entry of the report: the cell's index, module, display name, Type and
/// mode, the frame (only when frame >= 0), and the numbers of d. A cell that
/// is not measured has every number as null, faces 0 and the reason.
/// Infinite numbers (a collapsed face) are the texts "inf" and "-inf".
nlohmann::json DistortionEntry(Warpixator& deformator, const std::string& type, int cell,
                               int frame, const CellDistortion& d);

/// Writes the report, indented by 2, to path; false (with "[ERROR] Cannot
/// write <path>" on standard output) when it cannot.
bool WriteReport(const std::string& path, const nlohmann::json& report);
