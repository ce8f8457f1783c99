#include "shell/RenderSweep.h"

#include <iostream>
#include <sstream>

#include "render/CellExport.h"
#include "render/SweepStatistics.h"
#include "shell/RenderReport.h"
#include "support/ProgressBar.h"

namespace {

// Keeps what std::cout receives while alive.
class CoutToBuffer {
 public:
  CoutToBuffer() : m_Old(std::cout.rdbuf(m_Buffer.rdbuf())) {}
  ~CoutToBuffer() { std::cout.rdbuf(m_Old); }
  std::string Text() const { return m_Buffer.str(); }

 private:
  std::ostringstream m_Buffer;
  std::streambuf* m_Old;
};

// A number of a record: "inf" and "-inf" are infinity, null or anything else none.
bool RecordNumber(const nlohmann::json& record, const char* key, double& value) {
  const auto it = record.find(key);
  if (it == record.end()) return false;
  if (it->is_number()) {
    value = it->get<double>();
    return true;
  }
  if (it->is_string() && (*it == "inf" || *it == "-inf")) {
    value = *it == "inf" ? HUGE_VAL : -HUGE_VAL;
    return true;
  }
  return false;
}

}  // namespace

RenderSweep::RenderSweep(std::vector<RenderCell>& cells) : m_Cells(cells) {}

bool RenderSweep::IsRefusal(const std::string& line) {
  if (line.rfind("[ERROR]", 0) == 0) return true;
  return line.rfind("[WARNING]", 0) == 0 &&
         (line.find("last good deformation is kept") != std::string::npos ||
          line.find("the free vertices stay") != std::string::npos);
}

void RenderSweep::Reset(Warpixator& deformator) {
  // The points go as the clear key takes them, without the deformation of
  // the old points that the key runs first: the next case recomputes all.
  deformator.m_ControlPointsOrigPos.clear();
  deformator.m_ControlPointsNewPos.clear();
  deformator.m_iSelectedPoint = -1;
  // A fresh cell's mesh lies at rest, and new points snap to the vertices'
  // current positions.
  for (Warpixator::ImgVertex& vertex : deformator.m_Vertices) {
    vertex.m_fX = vertex.m_fRestX;
    vertex.m_fY = vertex.m_fRestY;
  }
}

void RenderSweep::Recover(Warpixator& deformator) {
  std::vector<double> square = {0.25, 0.25, 0.75, 0.25, 0.75, 0.75, 0.25, 0.75};
  std::vector<double> same = square;
  deformator.InitializeCtrlPntState(square, same);
  PrepareCellForRender(deformator);
  Reset(deformator);
}

std::vector<nlohmann::json> RenderSweep::Run(const SweepCase& sweepCase) {
  std::vector<nlohmann::json> records;
  for (size_t k = 0; k < m_Cells.size(); ++k) {
    RenderCell& cell = m_Cells[k];
    Warpixator& deformator = *cell.deformator;
    CellDistortion distortion;
    std::string reason = sweepCase.m_Reason;
    nlohmann::json notes = nlohmann::json::array();
    if (reason.empty()) {
      std::string printed;
      {
        CoutToBuffer quiet;
        Reset(deformator);
        std::vector<double> orig = sweepCase.m_Orig, target = sweepCase.m_Target;
        deformator.InitializeCtrlPntState(orig, target);
        PrepareCellForRender(deformator);
        distortion = cell.Metrics().Measure();
        printed = quiet.Text();
      }
      std::istringstream lines(printed);
      for (std::string line; std::getline(lines, line);) {
        if (IsRefusal(line)) {
          if (reason.empty()) reason = line;
        } else if (line.rfind("[WARNING]", 0) == 0) {
          notes.push_back(line);
        }
      }
      if (!reason.empty()) {
        CoutToBuffer quiet;
        Recover(deformator);
      }
    }
    if (!reason.empty()) distortion.m_bMeasured = false;
    nlohmann::json entry = DistortionEntry(deformator, cell.type, static_cast<int>(k), -1, distortion);
    nlohmann::json record = {{"case", sweepCase.m_Name}, {"line", sweepCase.m_iLine}};
    record.update(entry);
    if (!reason.empty()) record["reason"] = reason;
    if (!notes.empty()) record["notes"] = notes;
    records.push_back(std::move(record));
  }
  return records;
}

int RenderSweep::RunAll(SweepCaseReader& reader, std::ostream* out, SweepStatistics* statistics,
                        int total) {
  ProgressBar progress(total > 0 ? total : 1, "case");
  int done = 0;
  for (SweepCase sweepCase; reader.Next(sweepCase);) {
    if (!sweepCase.m_Reason.empty()) {
      progress.Clear();
      std::cout << "[WARNING] Cases " << sweepCase.m_Reason << std::endl;
    }
    for (const nlohmann::json& record : Run(sweepCase)) {
      if (out != nullptr) *out << record.dump() << '\n';
      if (statistics != nullptr) AddToStatistics(record, *statistics);
    }
    ++done;
    if (total > 0) progress.Update(done);
  }
  if (out != nullptr) out->flush();
  if (total > 0) progress.Finish();
  return done;
}

void RenderSweep::AddToStatistics(const nlohmann::json& record, SweepStatistics& statistics) {
  const int cell = record.value("cell", -1);
  const std::string name = record.contains("name") && record["name"].is_string()
                               ? record["name"].get<std::string>()
                               : std::string("?");
  SweepSample sample;
  const bool numbers = !record.contains("reason") &&
                       RecordNumber(record, "k_max", sample.m_fConformalMax) &&
                       RecordNumber(record, "k_mean", sample.m_fConformalMean) &&
                       RecordNumber(record, "area_min", sample.m_fAreaMin) &&
                       RecordNumber(record, "area_max", sample.m_fAreaMax) &&
                       RecordNumber(record, "flipped_share", sample.m_fFlippedShare);
  if (numbers) {
    statistics.Add(cell, name, &sample);
  } else {
    const auto reason = record.find("reason");
    statistics.Add(cell, name, nullptr,
                   reason != record.end() && reason->is_string() ? reason->get<std::string>()
                                                                 : std::string("no numbers"));
  }
}
