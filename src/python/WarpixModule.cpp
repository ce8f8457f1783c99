// The Python module warpix: pictures as numpy arrays, and deformators built
// by the program's factory from a method name and keyword settings or from a
// parameter file, driven by control points as in the window, rendered and
// measured as warpix-render does.
#include <Python.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "python/PyArrays.h"
#include "python/PyConsole.h"
#include "python/PyDeformator.h"
#include "render/CellExport.h"
#include "shell/RenderCell.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/ZelStringList.h"

namespace py = pybind11;
using namespace warpix_python;

namespace {

// Where a keyword of Deformator() goes in the parameters it builds.
enum class Section { kModule, kSettings, kGeneral };

// A keyword of Deformator(), the parameter key it sets and its section.
struct Keyword {
  const char* keyword;
  const char* key;
  Section section;
};

const Keyword kKeywords[] = {
    {"name", "Name", Section::kModule},
    {"mls_type", "MLSType", Section::kModule},
    {"inter_op", "InterOp", Section::kModule},
    {"rescale", "Rescale", Section::kModule},
    {"quasi_conf", "QuasiConf", Section::kModule},
    {"scale_rule", "ScaleRule", Section::kModule},
    {"smoothing", "Smoothing", Section::kModule},
    {"deform_type", "DeformType", Section::kSettings},
    {"mesh", "MeshResolution", Section::kSettings},
    {"draw_mesh", "DrawMesh", Section::kSettings},
    {"default_rect", "DefaultRect", Section::kSettings},
    {"white_to_transparent", "WhiteToTransparent", Section::kSettings},
    {"transparent_color", "TransparentColor", Section::kSettings},
    {"transparency_threshold", "TransparencyThreshold", Section::kSettings},
    {"points", "InitCtrlPnts", Section::kGeneral},
    {"targets", "DeformCtrlPnts", Section::kGeneral},
    {"history", "History", Section::kGeneral},
};

// One scalar value as a parameter token: true/false (Python's or numpy's
// bools), a whole number, the shortest text that reads back as the same
// double, or a word (no blanks or brackets, which the grammar would split).
std::string ScalarToken(const py::handle& value, const std::string& keyword) {
  const py::object object = py::reinterpret_borrow<py::object>(value);
  const bool numpyBool = py::type::of(value).attr("__name__").cast<std::string>() == "bool_";
  if (PyBool_Check(value.ptr()) || numpyBool) {
    return object.cast<bool>() ? "true" : "false";
  }
  if (py::isinstance<py::str>(value)) {
    const std::string word = value.cast<std::string>();
    if (word.empty() || word.find_first_of(" \t\r\n[]") != std::string::npos) {
      throw py::value_error(keyword + ": '" + word + "' is not one word");
    }
    return word;
  }
  if (PyIndex_Check(value.ptr())) return py::str(py::int_(object));
  if (PyFloat_Check(value.ptr()) || py::hasattr(value, "__float__")) {
    return py::repr(py::float_(py::float_(object).cast<double>()));
  }
  throw py::type_error(keyword + ": expected a word, a number or a bool, not " +
                       std::string(py::str(py::type::of(value))));
}

// The tokens of one keyword's value: a scalar, or a bracketed list of the
// elements of a sequence (a name or history given as text is split into words).
void AppendValue(std::vector<std::string>& tokens, const std::string& keyword,
                 const py::handle& value) {
  const bool words = keyword == "name" || keyword == "history";
  if (words && py::isinstance<py::str>(value)) {
    tokens.push_back("[");
    std::istringstream text(value.cast<std::string>());
    for (std::string word; text >> word;) tokens.push_back(word);
    tokens.push_back("]");
    return;
  }
  if (keyword == "points" || keyword == "targets") {
    tokens.push_back("[");
    for (double number : PointsFromArray(value, keyword.c_str())) {
      tokens.push_back(py::repr(py::float_(number)));
    }
    tokens.push_back("]");
    return;
  }
  if (py::isinstance<py::str>(value) || !py::isinstance<py::iterable>(value)) {
    tokens.push_back(ScalarToken(value, keyword));
    return;
  }
  tokens.push_back("[");
  for (const py::handle& element : value) tokens.push_back(ScalarToken(element, keyword));
  tokens.push_back("]");
}

// A module name that the parameter grammar reads back as one header.
void CheckModuleName(const std::string& module) {
  if (module.empty() || module.find_first_of(" \t\r\n[]") != std::string::npos ||
      module[0] == '-' || module.back() == ':' || module == "General" || module == "Invalid") {
    throw py::value_error("module: '" + module + "' cannot name a parameter module");
  }
}

// Reads path; false with the readers' messages and "[ERROR] Cannot read image <path>".
bool ReadPicture(const std::string& path, R2Image& image, std::string& message) {
  StderrCapture errors;
  const bool read = image.Read(path.c_str()) != 0 && image.IsValid();
  message = errors.Finish();
  if (!message.empty() && message.back() != '\n') message += '\n';
  if (!read) message += "[ERROR] Cannot read image " + path;
  return read;
}

std::string PathText(const py::object& path) {
  return py::str(py::module_::import("os").attr("fspath")(path));
}

bool IsPath(const py::object& object) {
  return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__");
}

// The picture of image: a path (read by the program's readers) or an array.
std::shared_ptr<R2Image> LoadPicture(const py::object& image) {
  auto picture = std::make_shared<R2Image>();
  if (!IsPath(image)) {
    *picture = ArrayToImage(image);
    return picture;
  }
  const std::string path = PathText(image);
  bool read = false;
  std::string message;
  RunUnlocked([&] { read = ReadPicture(path, *picture, message); });
  if (!read) throw WarpixError(message);
  Echo(message);
  return picture;
}

py::array_t<std::uint8_t> ReadImage(const py::object& path) {
  return ImageToArray(*LoadPicture(py::str(PathText(path))));
}

void WriteImage(const py::object& pathObject, const py::handle& array) {
  const std::string path = PathText(pathObject);
  const R2Image image = ArrayToImage(array);
  bool written = false;
  std::string message;
  RunUnlocked([&] {
    StderrCapture errors;
    written = WriteRenderedImage(image, path.c_str());
    message = errors.Finish();
    if (!message.empty() && message.back() != '\n') message += '\n';
  });
  if (!written) throw WarpixError(message + "[ERROR] Cannot write " + path);
  Echo(message);
}

// Builds the parameters of one deformator from keywords and runs the factory.
std::unique_ptr<PyDeformator> MakeDeformator(const std::string& type, const py::object& image,
                                             const py::kwargs& kwargs) {
  std::string module = type;
  std::vector<std::string> moduleTokens, settingsTokens, generalTokens;
  bool deformType = false, rect = false;
  for (const auto& item : kwargs) {
    const std::string keyword = item.first.cast<std::string>();
    if (keyword == "module") {
      module = item.second.cast<std::string>();
      continue;
    }
    const Keyword* found = nullptr;
    for (const Keyword& candidate : kKeywords) {
      if (keyword == candidate.keyword) found = &candidate;
    }
    if (found == nullptr) {
      throw py::type_error("Deformator() got an unexpected keyword argument '" + keyword + "'");
    }
    if (item.second.is_none()) continue;
    std::vector<std::string>& tokens = found->section == Section::kModule     ? moduleTokens
                                       : found->section == Section::kSettings ? settingsTokens
                                                                              : generalTokens;
    tokens.push_back(found->key);
    AppendValue(tokens, keyword, item.second);
    deformType = deformType || keyword == "deform_type";
    rect = rect || keyword == "default_rect";
  }
  CheckModuleName(module);
  if (type.empty() || type.find_first_of(" \t\r\n[]") != std::string::npos) {
    throw py::value_error("'" + type + "' is not a method name");
  }

  // The parameters as the override tokens of a run without a file: the
  // deformator's module, and its settings module when any setting is given.
  std::vector<std::string> tokens = {"-General"};
  tokens.insert(tokens.end(), generalTokens.begin(), generalTokens.end());
  tokens.insert(tokens.end(), {"-" + module, "Type", type});
  tokens.insert(tokens.end(), moduleTokens.begin(), moduleTokens.end());
  if (!settingsTokens.empty()) {
    const std::string settings = module + "Settings";
    tokens.insert(tokens.end(), {"DeformSetting", settings, "-" + settings});
    // The mesh keys mean mesh mode; the mesh covers the picture unless told
    // otherwise (the program's default, without its warning).
    if (!deformType) tokens.insert(tokens.end(), {"DeformType", "DEFORM_REGULAR_MESH"});
    if (!rect) tokens.insert(tokens.end(), {"DefaultRect", "[", "0", "1", "0", "1", "]"});
    tokens.insert(tokens.end(), settingsTokens.begin(), settingsTokens.end());
  }
  std::vector<const char*> argv;
  for (const std::string& token : tokens) argv.push_back(token.c_str());

  std::shared_ptr<R2Image> picture = LoadPicture(image);
  std::unique_ptr<Warpixator> deformator;
  RunResult result = RunUnlocked([&] {
    ParamParser parameters(ZelString(""), argv.data(), static_cast<int>(argv.size()));
    deformator.reset(GetDeformator(parameters, ZelString(module), *picture));
    if (deformator != nullptr) PrepareCellForRender(*deformator);
  });
  if (result.stop) throw WarpixError(result.console + StopReport(*result.stop));
  if (deformator == nullptr) {
    throw py::value_error(result.console + "'" + type + "' is not a method");
  }
  Echo(result.console);
  return std::make_unique<PyDeformator>(
      picture, RenderCell(std::move(deformator), type, MeshRasterizer::TextureSource::kAuto));
}

// Every cell of a parameter file with the program's override tokens.
py::list Load(const py::object& pathObject, const std::vector<std::string>& overrides) {
  const std::string path = PathText(pathObject);
  std::vector<const char*> argv;
  for (const std::string& token : overrides) argv.push_back(token.c_str());
  auto picture = std::make_shared<R2Image>();
  std::vector<RenderCell> cells;
  bool failed = false;
  std::string readers;  // what the picture's reader printed
  RunResult result = RunUnlocked([&] {
    ParamParser parameters(ZelString(path), argv.data(), static_cast<int>(argv.size()));
    ZelString imagePath;
    ZelStringList names;
    failed = !ReadCellKeys(parameters, imagePath, names) ||
             !ReadPicture(imagePath.toStdString(), *picture, readers);
    if (failed) return;
    cells = BuildRenderCells(parameters, names, *picture, MeshRasterizer::TextureSource::kAuto);
    for (RenderCell& cell : cells) PrepareCellForRender(cell.Deformator());
  });
  if (result.stop) throw WarpixError(result.console + StopReport(*result.stop));
  if (failed) throw WarpixError(result.console + readers);
  Echo(readers + result.console);
  py::list list;
  for (RenderCell& cell : cells) {
    list.append(py::cast(std::make_unique<PyDeformator>(picture, std::move(cell))));
  }
  return list;
}

}  // namespace

PYBIND11_MODULE(warpix, m) {
  m.doc() = R"doc(Warpix: one picture deformed by control points, by several methods.

Pictures are numpy arrays of uint8, H x W x 3 (RGB) or H x W x 4 (RGBA), row 0
at the top, as image files show them.

Positions (control points, targets, vertices, mapped points) are float64
arrays of shape (n, 2) in the program's unit square, the coordinates of the
parameter files' InitCtrlPnts: x runs from the left edge (0) to the right
edge (1) of the picture, y from its bottom edge (0) up to its top edge (1).
So the pixel in array row r, column c of an H x W picture has its centre at
x = (c + 0.5) / W, y = 1 - (r + 0.5) / H.

Concurrency: every call releases the GIL, so other Python threads run
meanwhile, but calls into warpix run one at a time per process: the
numerical classes share class-wide caches (the LAPACK workspaces of the
dense matrices, the workspaces of the Mobius fits, the texture counter of
the deformators), so the module holds one lock around every call.

Errors: what the program treats as a fatal stop (a missing Type, an
invalid MLSType or history, a parameter file that cannot be read) raises
WarpixError instead of ending the interpreter; its message holds the lines
the program printed ([ERROR] ...) and its assertion report. A deformator
that stopped inside a call cannot be used again. Bad arguments raise
TypeError, ValueError or IndexError. The program's other console lines
(warnings, saved histories) are written to sys.stdout; set_echo(False)
silences them.)doc";

  py::register_exception<WarpixError>(m, "WarpixError", PyExc_RuntimeError)
      .doc() = "A fatal stop or a failure of the program; the message is what it printed.";

  py::dict keywords;
  for (const Keyword& keyword : kKeywords) keywords[keyword.keyword] = keyword.key;
  m.attr("KEYWORDS") = keywords;

  m.def("set_echo", &SetEchoConsole, py::arg("echo"),
        "Whether the program's console lines (warnings, histories, timings) are written to "
        "sys.stdout (default: True). Errors always reach the exceptions.");

  m.def("read_image", &ReadImage, py::arg("path"),
        R"doc(Reads a picture file: BMP, PPM (P3, P6), raw, PFM, grid, JPEG or PNG, the format
chosen by the extension. Returns uint8 H x W x 3, or H x W x 4 when the file has alpha;
grey files are repeated into the three colour channels. Row 0 is the top row.
Raises WarpixError with the reader's message when the file cannot be read.)doc");

  m.def("write_image", &WriteImage, py::arg("path"), py::arg("array"),
        R"doc(Writes a uint8 array H x W (grey) or H x W x C (C = 1 grey, 2 grey and alpha,
3 RGB, 4 RGBA; row 0 at the top) as BMP, PPM (binary P6), raw, JPEG or PNG, chosen by
the extension. PNG and raw keep alpha; the others drop it. Raises WarpixError when the
file cannot be written.)doc");

  py::class_<PyDeformator>(m, "Deformator", R"doc(One deformation method on one picture: a cell.

Deformator(type, image, **settings) builds it with the program's factory, as
a parameter file would: type is the module's Type word (NullDeformator,
DeformMeanValueCoords, DeformGreenCoords, DeformMLS, DeformThinPlateSplineWarp,
DeformQuasiConf, DeformAsRigidAsPossible); image is a uint8 array (H x W x C)
or a picture file's path. Keywords, each a parameter key:
  module (the module name, default: type), name -> Name,
  mls_type -> MLSType, inter_op -> InterOp, rescale -> Rescale,
  quasi_conf -> QuasiConf, scale_rule -> ScaleRule, smoothing -> Smoothing;
  the settings module: mesh -> MeshResolution (cols, rows),
  deform_type -> DeformType, draw_mesh -> DrawMesh, default_rect -> DefaultRect,
  white_to_transparent -> WhiteToTransparent,
  transparent_color -> TransparentColor,
  transparency_threshold -> TransparencyThreshold (any of these without
  deform_type selects DEFORM_REGULAR_MESH; none of them: pixel mode, as a
  parameter file without DeformSetting);
  General: points -> InitCtrlPnts, targets -> DeformCtrlPnts ((n, 2) arrays),
  history -> History (the text of the history attribute).
warpix.KEYWORDS maps every keyword to its key. An unknown keyword raises
TypeError; an unknown type ValueError; what the program refuses at start
raises WarpixError with its message.

Every change (points added, targets moved, clear, save, mode keys) leaves
the mesh up to date, as the window's redraw after an input.)doc")
      .def(py::init(&MakeDeformator), py::arg("type"), py::arg("image"))
      .def_property_readonly("name", &PyDeformator::Name, "The name shown above the cell.")
      .def_property_readonly("module", &PyDeformator::Module, "The parameter module's name.")
      .def_property_readonly("type", &PyDeformator::Type, "The module's Type word.")
      .def_property_readonly("mode", &PyDeformator::Mode, "\"mesh\" or \"pixel\".")
      .def_property_readonly("image", &PyDeformator::Image,
                             "A copy of the picture, uint8 H x W x 3 or x 4.")
      .def_property_readonly("points", &PyDeformator::Points,
                             "The control points' original positions, (n, 2) float64.")
      .def_property_readonly("targets", &PyDeformator::Targets,
                             "The control points' targets, (n, 2) float64.")
      .def("add_points", &PyDeformator::AddPoints, py::arg("points"),
           "Adds control points ((n, 2) or one (x, y)) as the space key does, each with its "
           "target on it; a method that snaps points to its mesh moves them there. Returns "
           "the positions taken, (n, 2).")
      .def("set_targets", &PyDeformator::SetTargets, py::arg("targets"),
           "Moves every target ((n, 2), one per control point) and deforms: one dragged "
           "frame. The mesh is up to date on return; no array is copied back.")
      .def("move", &PyDeformator::Move, py::arg("index"), py::arg("position"),
           "Drags the target of control point index to position (x, y), as a mouse drag. "
           "A position outside the open unit square is ignored, as in the window; returns "
           "whether the target moved.")
      .def("clear", [](PyDeformator& d) { d.Clear(false); },
           "Removes every control point (the 'c' key); the mesh keeps its rest positions.")
      .def("save", [](PyDeformator& d) { d.Clear(true); },
           "The 's' key: the deformed mesh becomes the rest mesh, the step is appended to "
           "the history (printed), and the control points are removed. Mesh mode only: a "
           "pixel-mode deformator warns and keeps its points.")
      .def_property_readonly("history", &PyDeformator::History,
                             "The saved steps as the History value's text (the tokens "
                             "between the brackets the 's' key prints); "
                             "Deformator(..., history=text) replays it.")
      .def("points_text", &PyDeformator::PointsText,
           "The two lines the 'p' key prints (InitCtrlPnts and DeformCtrlPnts), which a "
           "parameter file reads back.")
      .def_property("snap_to_opaque", &PyDeformator::SnapToOpaque, &PyDeformator::SetSnapToOpaque,
                    "The 'n' key: snap new points to opaque mesh vertices only (methods that "
                    "snap).")
      .def("change_mode", &PyDeformator::ChangeMode, py::arg("digit"),
           "The digit keys 0..9: quasi-conformal deformators switch operator (1..6) or a "
           "line constraint (7, 8, 9, 0: sides 0..3); other methods ignore them.")
      .def("tweak_parameter", &PyDeformator::TweakParameter, py::arg("step"),
           "The '+' (0.1), '_' (-0.1), '=' (0.01) and '-' (-0.01) keys: a quasi-conformal "
           "deformator changes its line offset delta by 0.001 up or down.")
      .def("set_operator", &PyDeformator::SetOperator, py::arg("operator"),
           "Quasi-conformal only: the operator 1..6 or its InterOp word, fitted afresh from "
           "the rest mesh (keys 1..6).")
      .def("toggle_line", &PyDeformator::ToggleLine, py::arg("side"),
           "Quasi-conformal only: switches the straight-line constraint of side 0..3 of "
           "the four-point quadrilateral (keys 7, 8, 9, 0). A set the points cannot take "
           "is refused with a warning.")
      .def_property_readonly("operator", &PyDeformator::Operator,
                             "The quasi-conformal operator 0..6, None for other methods.")
      .def_property_readonly("lines", &PyDeformator::Lines,
                             "The line constraints on sides 0..3 (four bools), None for "
                             "other methods.")
      .def_property_readonly("delta", &PyDeformator::Delta,
                             "The line offset delta, None for other methods.")
      .def_property_readonly("rest_vertices", &PyDeformator::RestVertices,
                             "Mesh vertices at rest, (V, 2) float64 (empty in pixel mode).")
      .def_property_readonly("vertices", &PyDeformator::Vertices,
                             "Mesh vertices as drawn, (V, 2) float64.")
      .def_property_readonly("texture_coords", &PyDeformator::TextureCoords,
                             "The picture position of every vertex, (V, 2) float64.")
      .def_property_readonly("faces", &PyDeformator::Faces,
                             "Mesh triangles as vertex indices, (F, 3) int32, "
                             "counter-clockwise.")
      .def("map_points", &PyDeformator::MapPoints, py::arg("points"),
           "Maps points ((n, 2)) through the deformation; returns (n, 2). Raises "
           "WarpixError for a method that moves its mesh vertices only (MLS, "
           "as-rigid-as-possible, quasi-conformal operator 4, line modes in pixel mode).")
      .def("render", &PyDeformator::Render, py::arg("size") = py::none(),
           py::arg("background") = py::none(),
           R"doc(What the cell shows, through the program's rasteriser: the same pixels
warpix-render writes. size (width, height) defaults to the picture's; background is
None or "transparent" (alpha 0 where nothing is drawn), or an opaque colour (r, g, b)
or "R,G,B". Returns uint8 H x W x 4, row 0 at the top.)doc")
      .def("distortion", &PyDeformator::Distortion,
           R"doc(The distortion numbers of the cell as it is, with the keys of
warpix-render --metrics: module, name, type, mode, measured, k_max, k_mean, area_min,
area_max, flipped, flipped_share, max_shift_px (pixels), faces, and reason when not
measured (numbers None). A collapsed face gives float('inf').)doc")
      .def("heat_map", &PyDeformator::HeatMap, py::arg("size") = py::none(),
           py::arg("background") = py::none(),
           "The distortion heat map (what --heatmap writes): uint8 H x W x 4, faces "
           "coloured by their conformal distortion, folded ones magenta. Raises "
           "WarpixError for a cell that is not measured.")
      .def("__repr__", &PyDeformator::Repr);

  m.def("load", &Load, py::arg("path"), py::arg("overrides") = std::vector<std::string>(),
        R"doc(Every cell of a parameter file, as warpix-render builds them: a list of
Deformators in the order of General's Deformators (a module of unknown Type is skipped
with a warning), each with its module name. overrides are the program's override tokens
(e.g. ["-General", "InitCtrlPnts", "[", "0.2", "0.3", "]"]). The picture (General's Image)
is read relative to the current folder, as the program does. Raises WarpixError with
the program's message for a file it cannot use.)doc");
}
