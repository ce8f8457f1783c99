#pragma once

// warpix.Deformator: one cell (a deformator of the program's factory, its
// rasteriser and its distortion metrics) and the picture it deforms, shared
// with the other cells of the same parameter file.
#include <memory>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "image/R2Image.h"
#include "python/PyConsole.h"
#include "shell/RenderCell.h"

class DeformQuasiConf;

namespace warpix_python {

class PyDeformator {
 public:
  PyDeformator(std::shared_ptr<R2Image> image, RenderCell cell);
  ~PyDeformator();
  PyDeformator(const PyDeformator&) = delete;
  PyDeformator& operator=(const PyDeformator&) = delete;

  // === Identity
  std::string Name();
  std::string Module();
  std::string Type();
  std::string Mode();
  pybind11::array_t<std::uint8_t> Image();

  // === Control points (unit square; see the module's docstring)
  pybind11::array_t<double> Points();
  pybind11::array_t<double> Targets();
  /// Adds each point as the space key does (a method may snap it to its
  /// mesh); returns where each one was placed.
  pybind11::array_t<double> AddPoints(const pybind11::handle& points);
  /// Replaces every target and deforms (ValueError unless one per point).
  void SetTargets(const pybind11::handle& targets);
  /// Drags target index to (x, y); false (nothing moves) outside the open unit
  /// square, as in the window. IndexError for an index that is not a point.
  bool Move(int index, const pybind11::handle& position);
  /// The 'c' (save false) and 's' (save true) keys.
  void Clear(bool save);
  std::string History();
  /// The two lines the 'p' key prints, InitCtrlPnts and DeformCtrlPnts.
  std::string PointsText();
  bool SnapToOpaque();
  void SetSnapToOpaque(bool snap);

  // === Quasi-conformal modes (the digit and '+' '_' '=' '-' keys)
  void ChangeMode(int digit);
  void TweakParameter(double step);
  void SetOperator(const pybind11::handle& op);
  void ToggleLine(int side);
  pybind11::object Operator();
  pybind11::object Lines();
  pybind11::object Delta();

  // === Results
  pybind11::array_t<double> RestVertices();
  pybind11::array_t<double> Vertices();
  pybind11::array_t<double> TextureCoords();
  pybind11::array_t<int> Faces();
  pybind11::array_t<double> MapPoints(const pybind11::handle& points);
  pybind11::array_t<std::uint8_t> Render(const pybind11::object& size,
                                         const pybind11::object& background);
  pybind11::dict Distortion();
  pybind11::array_t<std::uint8_t> HeatMap(const pybind11::object& size,
                                          const pybind11::object& background);
  std::string Repr();

 private:
  /// Runs work(deformator) under the library lock; with refresh, the mesh is
  /// then brought up to date as a window redraw does. A fatal stop raises
  /// WarpixError and leaves this deformator unusable.
  template <class Work>
  void Act(Work&& work, bool refresh = true);
  RenderCell& Cell();
  /// The quasi-conformal deformator, or TypeError naming what needs one.
  DeformQuasiConf& QuasiConf(const char* what);
  /// size (w, h) or None (the picture's size) as width and height.
  void OutputSize(const pybind11::object& size, int& width, int& height);

  std::shared_ptr<R2Image> m_Image;
  std::unique_ptr<RenderCell> m_Cell;
  bool m_bBroken = false;
};

/// The background of a render: None or "transparent", "R,G,B", or (r, g, b)
/// with each value in 0..255. ValueError otherwise.
MeshRasterizer::Background ParseBackground(const pybind11::object& background);

}  // namespace warpix_python
