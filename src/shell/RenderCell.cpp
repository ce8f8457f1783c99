#include "shell/RenderCell.h"

#include <iostream>
#include <utility>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "render/CellExport.h"
#include "render/DistortionHeatMap.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/ZelStringList.h"

RenderCell::RenderCell(std::unique_ptr<Warpixator> deformator, std::string type,
                       MeshRasterizer::TextureSource source)
    : m_Deformator(std::move(deformator)),
      m_Rasterizer(std::make_unique<MeshRasterizer>(*m_Deformator, source)),
      m_Type(std::move(type)) {}

RenderCell::RenderCell(RenderCell&&) noexcept = default;
RenderCell& RenderCell::operator=(RenderCell&&) noexcept = default;

RenderCell::~RenderCell() = default;

bool RenderCell::Render(int width, int height, const MeshRasterizer::Background& background,
                        R2Image& out) {
  PrepareCellForRender(*m_Deformator);
  return m_Rasterizer->Render(width, height, background, out);
}

CellDistortion RenderCell::Measure(std::vector<FaceDistortion>* faces) {
  // A mode switch may rebuild the mesh: then the rest data is cached afresh.
  const bool mesh = m_Deformator->m_DeformationType == Warpixator::DEFORM_REGULAR_MESH;
  if (m_Metrics == nullptr ||
      (mesh && m_Metrics->NumFaces() != static_cast<int>(m_Deformator->m_Faces.size()))) {
    m_Metrics = std::make_unique<DistortionMetrics>(*m_Deformator);
  }
  return m_Metrics->Measure(faces);
}

bool RenderCell::HeatMap(const std::vector<FaceDistortion>& faces, int width, int height,
                         const MeshRasterizer::Background& background, R2Image& out) const {
  return m_Metrics != nullptr &&
         DistortionHeatMap::Render(*m_Metrics, faces, width, height, background, out);
}

bool ReadCellKeys(const ParamParser& parameters, ZelString& imagePath, ZelStringList& names) {
  bool valid = false;
  imagePath = parameters.GetStrValue("General", "Image", valid);
  if (!valid) {
    std::cout << "[ERROR] General: the key Image is missing" << std::endl;
    return false;
  }
  names = parameters.GetStrValues("General", "Deformators", valid);
  if (!valid) {
    std::cout << "[ERROR] General: the key Deformators is missing" << std::endl;
    return false;
  }
  return true;
}

std::vector<RenderCell> BuildRenderCells(ParamParser& parameters, const ZelStringList& names,
                                         R2Image& image, MeshRasterizer::TextureSource source) {
  std::vector<RenderCell> cells;
  bool valid = false;
  for (const ZelString& name : names) {
    std::unique_ptr<Warpixator> deformator(GetDeformator(parameters, name, image));
    if (deformator == nullptr) continue;
    std::string type = parameters.GetStrValue(name, "Type", valid).toStdString();
    cells.emplace_back(std::move(deformator), std::move(type), source);
  }
  return cells;
}
