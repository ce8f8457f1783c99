#pragma once

// One cell without a window: a deformator built by the factory, the
// rasteriser that holds its texture and the distortion metrics of its mesh.
// warpix-render writes its files through it, and the Python module's
// deformators are cells.
#include <memory>
#include <string>
#include <vector>

#include "render/DistortionMetrics.h"
#include "render/MeshRasterizer.h"

class ParamParser;
class R2Image;
class Warpixator;
class ZelString;
class ZelStringList;

class RenderCell {
 public:
  /// Owns deformator (not null); type is its module's Type word. The
  /// rasteriser takes its texture from source (see MeshRasterizer).
  RenderCell(std::unique_ptr<Warpixator> deformator, std::string type,
             MeshRasterizer::TextureSource source);
  RenderCell(RenderCell&&) noexcept;
  RenderCell& operator=(RenderCell&&) noexcept;
  ~RenderCell();

  Warpixator& Deformator() const { return *m_Deformator; }
  MeshRasterizer& Rasterizer() const { return *m_Rasterizer; }
  const std::string& Type() const { return m_Type; }

  /// What the cell shows, width x height RGBA over background (rows bottom
  /// first), after bringing the mesh up to date as a redraw does
  /// (PrepareCellForRender). False for an empty picture or size.
  bool Render(int width, int height, const MeshRasterizer::Background& background, R2Image& out);

  /// The distortion of the cell as it is now (bring it up to date first, as
  /// Render does); one entry per face of the measured mesh into faces when
  /// given. The rest data is cached on first use and again after a mode
  /// switch changed the number of faces.
  CellDistortion Measure(std::vector<FaceDistortion>* faces = nullptr);

  /// The heat map of faces (from the last Measure), width x height RGBA over
  /// background. False before any Measure, for an empty size or a faces
  /// list of the wrong length.
  bool HeatMap(const std::vector<FaceDistortion>& faces, int width, int height,
               const MeshRasterizer::Background& background, R2Image& out) const;

 private:
  std::unique_ptr<Warpixator> m_Deformator;
  // Both refer to the deformator: declared after it, so destroyed first.
  std::unique_ptr<MeshRasterizer> m_Rasterizer;
  std::unique_ptr<DistortionMetrics> m_Metrics;  // made on first use
  std::string m_Type;
};

/// General's Image and Deformators, the keys a run of cells needs; false
/// (with "[ERROR] General: the key <key> is missing") when one is missing.
bool ReadCellKeys(const ParamParser& parameters, ZelString& imagePath, ZelStringList& names);

/// The cells of the modules names, in order, each built by GetDeformator
/// over image; a module of unknown Type is skipped (the factory warns) and
/// takes no cell. The configuration stops of the factory apply.
std::vector<RenderCell> BuildRenderCells(ParamParser& parameters, const ZelStringList& names,
                                         R2Image& image, MeshRasterizer::TextureSource source);
