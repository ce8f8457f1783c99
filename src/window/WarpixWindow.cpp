#include "window/WarpixWindow.h"

// The window's cells and the commands that act on every cell's deformator:
// the distortion numbers, the export of the cells and the scripted animation
// (played by the AnimationPlayer, one frame per redraw).
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "deform/Warpixator.h"
#include "render/CellExport.h"
#include "support/WarpixAssert.h"

namespace {

// The condition a configuration stop reports for a script that cannot
// start, nullptr when it plays.
const char* FailedStartCheck(const AnimationPlayer::Opening& opening) {
  if (!opening.opened) return "inTextStream.is_open()";
  switch (opening.check) {
    case AnimationScript::StartCheck::kLengthsDiffer: return "oldPoints.count()==newPoints.count()";
    case AnimationScript::StartCheck::kOddCount: return "oldPoints.count()%2==0";
    case AnimationScript::StartCheck::kNotANumber: return "ok";
    case AnimationScript::StartCheck::kOk: break;
  }
  return nullptr;
}

}  // namespace

WarpixWindow::WarpixWindow(int width, int height, int cols, int rows)
    : m_iWidth(width), m_iHeight(height), m_iCols(cols), m_iRows(rows) {}

WarpixWindow::~WarpixWindow() = default;

void WarpixWindow::AddDeformator(Warpixator* deformator) { m_Deformators.push_back(deformator); }

int WarpixWindow::WarnAboutHiddenDeformators() const {
  // In 64 bits: a large grid from the parameter file must not overflow.
  const long long cells = static_cast<long long>(m_iCols) * m_iRows;
  const long long hidden = static_cast<long long>(m_Deformators.size()) - cells;
  if (hidden <= 0) return 0;
  std::cout << "[WARNING] " << m_Deformators.size() << " deformators for " << cells
            << " cells: " << hidden << " not visible (they still receive every input)"
            << std::endl;
  return static_cast<int>(hidden);
}

CellDistortion WarpixWindow::MeasureCell(int k, std::vector<FaceDistortion>* perFace) {
  if (m_Metrics.size() < m_Deformators.size()) m_Metrics.resize(m_Deformators.size());
  if (m_CellDistortion.size() < m_Deformators.size()) m_CellDistortion.resize(m_Deformators.size());
  Warpixator& deformator = *m_Deformators[k];
  std::unique_ptr<DistortionMetrics>& metrics = m_Metrics[k];
  // A mode switch may rebuild the mesh: then the rest data is cached afresh.
  const bool mesh = deformator.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH;
  if (metrics == nullptr ||
      (mesh && metrics->NumFaces() != static_cast<int>(deformator.m_Faces.size()))) {
    metrics = std::make_unique<DistortionMetrics>(deformator);
  }
  m_CellDistortion[k] = metrics->Measure(perFace);
  return m_CellDistortion[k];
}

void WarpixWindow::ToggleDistortion() {
  m_bShowDistortion = !m_bShowDistortion;
  for (size_t k = 0; k < m_Deformators.size(); ++k) {
    PrepareCellForRender(*m_Deformators[k]);
    const CellDistortion cell = MeasureCell(static_cast<int>(k), nullptr);
    std::cout << DistortionMetrics::ConsoleLine(m_Deformators[k]->GetDeformatorName(), cell)
              << std::endl;
  }
}

int WarpixWindow::ExportCells() {
  int written = 0;
  MeshRasterizer::Background transparent;
  for (size_t k = 0; k < m_Deformators.size(); ++k) {
    Warpixator& deformator = *m_Deformators[k];
    const ZelString path =
        CellFileName(m_ExportPrefix, static_cast<int>(k), deformator.m_ModuleName, "png");
    // The prefix may name a folder that does not exist yet.
    std::error_code ignored;
    const std::filesystem::path folder = std::filesystem::path(path.toStdString()).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
    const int width = deformator.m_Image.Width(), height = deformator.m_Image.Height();
    if (WriteCellImage(deformator, width, height, transparent, path.c_str())) {
      std::cout << "Exported " << path << " (" << width << "x" << height << ")" << std::endl;
      ++written;
    } else {
      std::cout << "[ERROR] Cannot write " << path << std::endl;
    }
  }
  return written;
}

ZelString WarpixWindow::AnimationFrameName(const ZelString& prefix, int frame) {
  char digits[32];
  std::snprintf(digits, sizeof(digits), "%06d", frame);
  return prefix + digits + ".jpg";
}

void WarpixWindow::Animation(char const* scriptFile, char const* outputPrefix,
                             char const* name) {
  m_AnimationFramePrefix = ZelString(outputPrefix) + name;
  const AnimationPlayer::Opening opening =
      m_Animation.Open(scriptFile, m_Deformators, AnimationPlayer::Folder::kPlayEmpty);
  // A script that cannot start stops the window at start; the report names
  // the check that failed.
  if (const char* check = FailedStartCheck(opening)) {
    warpix::ConfigurationStop(check, __func__, __FILE__, __LINE__);
  }
}

bool WarpixWindow::AnimationUpdate() {
  if (!m_Animation.Playing()) return false;
  if (!m_Animation.FrameDue()) {
    std::cout << "Animation Terminated!" << std::endl;
    m_Animation.Stop();
    return false;
  }
  // The frame just drawn; the next line moves the targets for the next redraw.
  PrintScreen(AnimationFrameName(m_AnimationFramePrefix, m_Animation.Frame()).c_str());
  m_Animation.Advance();
  return true;
}
