#include "python/PyDeformator.h"

#include <Python.h>

#include <cmath>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>
#include <pybind11/stl.h>

#include "deform/Warpixator.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "python/PyArrays.h"
#include "render/CellExport.h"
#include "shell/RenderCommandLine.h"
#include "shell/RenderReport.h"

namespace py = pybind11;

namespace warpix_python {

namespace {

// The operator words of InterOp, operator 1 first.
const char* const kOperatorWords[] = {"AffineQuad",         "MeanValCoords", "ThinPlateSplines",
                                      "MovingLeastSquares", "FixedLinesTPS",
                                      "FixedLinesTPSNoQuasiConf"};

// The vertices' fields selected by member, as an (n, 2) array.
template <class Vertices>
py::array_t<double> VertexArray(const Vertices& vertices, double Warpixator::ImgVertex::*x,
                                double Warpixator::ImgVertex::*y) {
  py::array_t<double> array({static_cast<py::ssize_t>(vertices.size()), py::ssize_t(2)});
  double* out = array.mutable_data();
  for (const Warpixator::ImgVertex& vertex : vertices) {
    *out++ = vertex.*x;
    *out++ = vertex.*y;
  }
  return array;
}

// A JSON value of the distortion report as Python: "inf" and "-inf" (a
// collapsed face) become floats.
py::object JsonValue(const std::string& key, const nlohmann::json& value) {
  if (value.is_null()) return py::none();
  if (value.is_boolean()) return py::bool_(value.get<bool>());
  if (value.is_number_integer()) return py::int_(value.get<long long>());
  if (value.is_number()) return py::float_(value.get<double>());
  const std::string text = value.get<std::string>();
  if (key != "reason" && (text == "inf" || text == "-inf")) {
    return py::float_(text == "inf" ? INFINITY : -INFINITY);
  }
  return py::str(text);
}

}  // namespace

MeshRasterizer::Background ParseBackground(const py::object& background) {
  MeshRasterizer::Background result;
  if (background.is_none()) return result;
  if (py::isinstance<py::str>(background)) {
    if (!ParseRenderBackground(background.cast<std::string>(), result)) {
      throw py::value_error("background must be \"transparent\", \"R,G,B\" or (r, g, b) with "
                            "each value in 0..255");
    }
    return result;
  }
  std::vector<int> rgb;
  try {
    rgb = background.cast<std::vector<int>>();
  } catch (const py::cast_error&) {
  }
  if (rgb.size() != 3 || rgb[0] < 0 || rgb[0] > 255 || rgb[1] < 0 || rgb[1] > 255 ||
      rgb[2] < 0 || rgb[2] > 255) {
    throw py::value_error("background must be \"transparent\", \"R,G,B\" or (r, g, b) with "
                          "each value in 0..255");
  }
  result.transparent = false;
  for (int k = 0; k < 3; ++k) result.rgb[k] = static_cast<unsigned char>(rgb[k]);
  return result;
}

PyDeformator::PyDeformator(std::shared_ptr<R2Image> image, RenderCell cell)
    : m_Image(std::move(image)), m_Cell(std::make_unique<RenderCell>(std::move(cell))) {}

namespace {

bool InterpreterFinalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing();
#else
  return _Py_IsFinalizing();
#endif
}

}  // namespace

PyDeformator::~PyDeformator() {
  // Another thread may be inside the libraries: wait for the lock without
  // the GIL (while the interpreter still runs).
  if (InterpreterFinalizing()) {
    std::lock_guard<std::mutex> lock(LibraryMutex());
    m_Cell.reset();
    return;
  }
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(LibraryMutex());
  m_Cell.reset();
}

RenderCell& PyDeformator::Cell() {
  if (m_bBroken) {
    throw WarpixError("this deformator stopped at a fatal check of the program; make a new one");
  }
  return *m_Cell;
}

template <class Work>
void PyDeformator::Act(Work&& work, bool refresh) {
  RenderCell& cell = Cell();
  RunResult result = RunUnlocked([&] {
    work(cell.Deformator());
    if (refresh) PrepareCellForRender(cell.Deformator());
  });
  if (result.stop) {
    m_bBroken = true;
    throw WarpixError(result.console + StopReport(*result.stop));
  }
  Echo(result.console);
}

std::string PyDeformator::Name() { return Cell().Deformator().m_Name.toStdString(); }

std::string PyDeformator::Module() { return Cell().Deformator().m_ModuleName.toStdString(); }

std::string PyDeformator::Type() { return Cell().Type(); }

std::string PyDeformator::Mode() {
  return Cell().Deformator().m_DeformationType == Warpixator::DEFORM_REGULAR_MESH ? "mesh"
                                                                                  : "pixel";
}

py::array_t<std::uint8_t> PyDeformator::Image() { return ImageToArray(*m_Image); }

py::array_t<double> PyDeformator::Points() {
  std::vector<double> flat;
  Act([&](Warpixator& d) { flat = d.m_ControlPointsOrigPos; }, false);
  return PointsToArray(flat);
}

py::array_t<double> PyDeformator::Targets() {
  std::vector<double> flat;
  Act([&](Warpixator& d) { flat = d.m_ControlPointsNewPos; }, false);
  return PointsToArray(flat);
}

py::array_t<double> PyDeformator::AddPoints(const py::handle& points) {
  const std::vector<double> flat = PointsFromArray(points, "points");
  std::vector<double> placed(flat.size());
  Act([&](Warpixator& d) {
    for (size_t k = 0; k + 1 < flat.size(); k += 2) {
      d.AddControlPoint(flat[k], flat[k + 1], &placed[k], &placed[k + 1]);
    }
  });
  return PointsToArray(placed);
}

void PyDeformator::SetTargets(const py::handle& targets) {
  std::vector<double> flat = PointsFromArray(targets, "targets");
  size_t expected = 0;
  Act([&](Warpixator& d) {
    expected = d.m_ControlPointsNewPos.size();
    if (flat.size() == expected) d.MoveAllControlPoints(flat);
  });
  if (flat.size() != expected) {
    throw py::value_error("targets: " + std::to_string(flat.size() / 2) + " given for " +
                          std::to_string(expected / 2) + " control points");
  }
}

bool PyDeformator::Move(int index, const py::handle& position) {
  const std::vector<double> xy = PointsFromArray(position, "position");
  if (xy.size() != 2) throw py::value_error("position must be one point (x, y)");
  bool known = false, moved = false;
  Act([&](Warpixator& d) {
    known = index >= 0 && index < static_cast<int>(d.m_ControlPointsNewPos.size() / 2);
    if (!known) return;
    // The drag of the window: select, move (only inside the open square), release.
    d.m_iSelectedPoint = index;
    d.MoveSelectedControlPoint(xy[0], xy[1]);
    d.m_iSelectedPoint = -1;
    moved = xy[0] > 0.0 && xy[0] < 1.0 && xy[1] > 0.0 && xy[1] < 1.0;
  });
  if (!known) throw py::index_error("no control point " + std::to_string(index));
  return moved;
}

void PyDeformator::Clear(bool save) {
  Act([&](Warpixator& d) { d.ClearControls(save); });
}

std::string PyDeformator::History() {
  std::string text;
  Act([&](Warpixator& d) { text = d.m_History.join(" ").toStdString(); }, false);
  return text;
}

std::string PyDeformator::PointsText() {
  RenderCell& cell = Cell();
  RunResult result = RunUnlocked([&] { cell.Deformator().PrintCtrlPntState(); });
  return result.console;
}

bool PyDeformator::SnapToOpaque() { return Cell().Deformator().m_bSnapToNonWhite; }

void PyDeformator::SetSnapToOpaque(bool snap) {
  Act([&](Warpixator& d) { d.m_bSnapToNonWhite = snap; }, false);
}

void PyDeformator::ChangeMode(int digit) {
  if (digit < 0 || digit > 9) throw py::value_error("a mode is a digit 0..9, as the keys");
  Act([&](Warpixator& d) { d.ChangeMode(digit); });
}

void PyDeformator::TweakParameter(double step) {
  if (!std::isfinite(step)) throw py::value_error("step must be a finite number");
  Act([&](Warpixator& d) { d.TweakParameter(step); });
}

DeformQuasiConf& PyDeformator::QuasiConf(const char* what) {
  auto* quasiConf = dynamic_cast<DeformQuasiConf*>(&Cell().Deformator());
  if (quasiConf == nullptr) {
    throw py::type_error(std::string(what) + " needs a DeformQuasiConf deformator, not " +
                         Cell().Type());
  }
  return *quasiConf;
}

void PyDeformator::SetOperator(const py::handle& op) {
  QuasiConf("an operator");
  int digit = 0;
  if (py::isinstance<py::str>(op)) {
    const std::string word = op.cast<std::string>();
    for (int k = 0; k < 6; ++k) {
      if (word == kOperatorWords[k]) digit = k + 1;
    }
  } else if (PyIndex_Check(op.ptr())) {
    digit = op.cast<int>();
  }
  if (digit < 1 || digit > 6) {
    throw py::value_error("an operator is 1..6 or AffineQuad, MeanValCoords, ThinPlateSplines, "
                          "MovingLeastSquares, FixedLinesTPS, FixedLinesTPSNoQuasiConf");
  }
  ChangeMode(digit);
}

void PyDeformator::ToggleLine(int side) {
  QuasiConf("a line constraint");
  if (side < 0 || side > 3) throw py::value_error("a side is 0..3");
  ChangeMode(side == 3 ? 0 : side + 7);
}

py::object PyDeformator::Operator() {
  auto* quasiConf = dynamic_cast<DeformQuasiConf*>(&Cell().Deformator());
  if (quasiConf == nullptr) return py::none();
  return py::int_(static_cast<int>(quasiConf->m_IntermediateOp));
}

py::object PyDeformator::Lines() {
  auto* quasiConf = dynamic_cast<DeformQuasiConf*>(&Cell().Deformator());
  if (quasiConf == nullptr) return py::none();
  const bool* on = quasiConf->m_bLineOnSide;
  return py::make_tuple(on[0], on[1], on[2], on[3]);
}

py::object PyDeformator::Delta() {
  auto* quasiConf = dynamic_cast<DeformQuasiConf*>(&Cell().Deformator());
  if (quasiConf == nullptr) return py::none();
  return py::float_(quasiConf->m_fDelta1);
}

py::array_t<double> PyDeformator::RestVertices() {
  std::vector<Warpixator::ImgVertex> vertices;
  Act([&](Warpixator& d) { vertices = d.m_Vertices; }, false);
  return VertexArray(vertices, &Warpixator::ImgVertex::m_fRestX, &Warpixator::ImgVertex::m_fRestY);
}

py::array_t<double> PyDeformator::Vertices() {
  std::vector<Warpixator::ImgVertex> vertices;
  Act([&](Warpixator& d) { vertices = d.m_Vertices; }, false);
  return VertexArray(vertices, &Warpixator::ImgVertex::m_fX, &Warpixator::ImgVertex::m_fY);
}

py::array_t<double> PyDeformator::TextureCoords() {
  std::vector<Warpixator::ImgVertex> vertices;
  Act([&](Warpixator& d) { vertices = d.m_Vertices; }, false);
  return VertexArray(vertices, &Warpixator::ImgVertex::m_fTexU, &Warpixator::ImgVertex::m_fTexV);
}

py::array_t<int> PyDeformator::Faces() {
  std::vector<Warpixator::ImgFace> faces;
  Act([&](Warpixator& d) { faces = d.m_Faces; }, false);
  py::array_t<int> array({static_cast<py::ssize_t>(faces.size()), py::ssize_t(3)});
  int* out = array.mutable_data();
  for (const Warpixator::ImgFace& face : faces) {
    *out++ = face.m_iV0;
    *out++ = face.m_iV1;
    *out++ = face.m_iV2;
  }
  return array;
}

py::array_t<double> PyDeformator::MapPoints(const py::handle& points) {
  const std::vector<double> flat = PointsFromArray(points, "points");
  std::vector<double> mapped(flat.size());
  bool maps = true;
  Act([&](Warpixator& d) {
    maps = d.MapsPoints();
    if (!maps) return;
    for (size_t k = 0; k + 1 < flat.size(); k += 2) {
      d.MapPoint(flat[k], flat[k + 1], mapped[k], mapped[k + 1]);
    }
  });
  if (!maps) {
    throw WarpixError(Name() + " (" + Type() + ", " + Mode() +
                      " mode) has no map of points: it moves its mesh vertices only");
  }
  return PointsToArray(mapped);
}

void PyDeformator::OutputSize(const py::object& size, int& width, int& height) {
  width = m_Image->Width();
  height = m_Image->Height();
  if (size.is_none()) return;
  std::vector<int> wh;
  try {
    wh = size.cast<std::vector<int>>();
  } catch (const py::cast_error&) {
  }
  if (wh.size() != 2 || wh[0] < 1 || wh[1] < 1 || wh[0] > kMaxRenderSide ||
      wh[1] > kMaxRenderSide) {
    throw py::value_error("size must be (width, height), each 1.." +
                          std::to_string(kMaxRenderSide));
  }
  width = wh[0];
  height = wh[1];
}

py::array_t<std::uint8_t> PyDeformator::Render(const py::object& size,
                                               const py::object& background) {
  int width = 0, height = 0;
  OutputSize(size, width, height);
  const MeshRasterizer::Background colour = ParseBackground(background);
  R2Image out;
  bool rendered = false;
  RenderCell& cell = Cell();
  Act([&](Warpixator&) { rendered = cell.Render(width, height, colour, out); }, false);
  if (!rendered) throw WarpixError("the cell cannot be rendered: its picture is empty");
  return ImageToArray(out);
}

py::dict PyDeformator::Distortion() {
  nlohmann::json entry;
  RenderCell& cell = Cell();
  Act([&](Warpixator& d) {
    const CellDistortion distortion = cell.Measure(nullptr);
    entry = DistortionEntry(d, cell.Type(), 0, -1, distortion);
  });
  py::dict result;
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    if (it.key() == "cell") continue;
    result[py::str(it.key())] = JsonValue(it.key(), it.value());
  }
  return result;
}

py::array_t<std::uint8_t> PyDeformator::HeatMap(const py::object& size,
                                                const py::object& background) {
  int width = 0, height = 0;
  OutputSize(size, width, height);
  const MeshRasterizer::Background colour = ParseBackground(background);
  R2Image out;
  bool measured = true, rendered = false;
  RenderCell& cell = Cell();
  Act([&](Warpixator&) {
    std::vector<FaceDistortion> faces;
    measured = cell.Measure(&faces).m_bMeasured;
    if (measured) rendered = cell.HeatMap(faces, width, height, colour, out);
  });
  if (!measured) {
    throw WarpixError("No heat map for " + Module() + ": not measured (" +
                      DistortionMetrics::NotMeasuredReason() + ")");
  }
  if (!rendered) throw WarpixError("the heat map cannot be rendered");
  return ImageToArray(out);
}

std::string PyDeformator::Repr() {
  if (m_bBroken) return "<warpix.Deformator (stopped)>";
  std::ostringstream text;
  const Warpixator& d = m_Cell->Deformator();
  text << "<warpix.Deformator " << m_Cell->Type() << " '" << d.m_Name.toStdString()
       << "' module=" << d.m_ModuleName.toStdString() << ", " << Mode() << ", "
       << d.m_ControlPointsOrigPos.size() / 2 << " points>";
  return text.str();
}

}  // namespace warpix_python
