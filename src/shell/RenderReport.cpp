#include "shell/RenderReport.h"

#include <cmath>
#include <fstream>
#include <iostream>

#include "deform/Warpixator.h"

namespace {

// A number for the JSON report: infinity (a collapsed face) is the text "inf",
// which JSON numbers cannot hold.
nlohmann::json JsonNumber(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

}  // namespace

nlohmann::json DistortionEntry(Warpixator& deformator, const std::string& type, int cell,
                               int frame, const CellDistortion& d) {
  nlohmann::json entry = {
      {"cell", cell},
      {"module", deformator.m_ModuleName.toStdString()},
      {"name", std::string(deformator.GetDeformatorName())},
      {"type", type},
      {"mode", deformator.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH ? "mesh" : "pixel"},
  };
  if (frame >= 0) entry["frame"] = frame;
  entry["measured"] = d.m_bMeasured;
  if (!d.m_bMeasured) {
    // Every number of the report is there, as null, so a table of the
    // entries keeps its columns.
    for (const char* key : {"k_max", "k_mean", "area_min", "area_max", "flipped", "flipped_share",
                            "max_shift_px"}) {
      entry[key] = nullptr;
    }
    entry["faces"] = 0;
    entry["reason"] = DistortionMetrics::NotMeasuredReason();
    return entry;
  }
  entry["k_max"] = JsonNumber(d.m_fConformalMax);
  entry["k_mean"] = JsonNumber(d.m_fConformalMean);
  entry["area_min"] = JsonNumber(d.m_fAreaMin);
  entry["area_max"] = JsonNumber(d.m_fAreaMax);
  entry["flipped"] = d.m_iFlipped;
  entry["flipped_share"] = JsonNumber(d.m_fFlippedShare);
  entry["max_shift_px"] = JsonNumber(d.m_fMaxShift);
  entry["faces"] = d.m_iFaces;
  return entry;
}

bool WriteReport(const std::string& path, const nlohmann::json& report) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << report.dump(2) << "\n";
  out.close();
  if (out) return true;
  std::cout << "[ERROR] Cannot write " << path << std::endl;
  return false;
}
