#include "shell/WarpixRender.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "render/AnimationPlayer.h"
#include "render/CellExport.h"
#include "render/DistortionHeatMap.h"
#include "render/DistortionMetrics.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/WarpixAssert.h"
#include "support/ZelString.h"
#include "support/ZelStringList.h"

#ifndef WARPIX_VERSION
#define WARPIX_VERSION "unknown"
#endif

namespace {

const char* const kUsage =
    "Usage: warpix-render [options] <parameter file> [-Module Key Value ...]";

// A whole number of digits only, at most max; false for an empty text, any
// other character, or a larger value (checked digit by digit, so long texts
// cannot overflow).
bool ParseBoundedNumber(const std::string& text, int max, int& value) {
  if (text.empty()) return false;
  long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
    if (number > max) return false;
  }
  value = static_cast<int>(number);
  return true;
}

// The help's usage line also names the override tokens, which CLI11 never sees.
class RenderFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return std::string(kUsage) + "\n";
  }
};

// What the command line asks for.
struct RenderOptions {
  std::string outputDir = "out/render";
  std::string format = "png";
  std::string size;        // empty: the picture's size
  std::string background;  // empty: transparent for png, white otherwise
  std::string animFile;    // empty: one picture per cell
  std::string metricsFile;  // empty: no distortion numbers
  bool heatmap = false;
  std::string paramFile;
  char const** overrides = nullptr;
  int overrideCount = 0;
};

// A usage error: the help text and the error on standard error, status 2.
int UsageError(const CLI::App& app, const std::string& message) {
  std::cerr << app.help() << "[ERROR] " << message << std::endl;
  return 2;
}

// Reads the options (everything up to the parameter file) with CLI11 and keeps
// the rest as override tokens. Returns -1 when the run goes on, otherwise the
// exit status: 0 after --help or --version, 2 for a bad command line.
int ParseCommandLine(int argc, char const** argv, RenderOptions& options) {
  CLI::App app(
      "Renders what every deformator's cell of a Warpix parameter file shows into picture "
      "files, without a window.",
      "warpix-render");
  app.formatter(std::make_shared<RenderFormatter>());
  app.set_version_flag("--version", std::string("warpix-render ") + WARPIX_VERSION,
                       "Print the version and exit");
  app.add_option("-o", options.outputDir,
                 "Folder of the written files, created with its parents when missing")
      ->type_name("DIR")
      ->capture_default_str();
  app.add_option("--format", options.format, "File format")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"png", "jpg", "ppm", "bmp"}))
      ->capture_default_str();
  const CLI::Validator sizeCheck(
      [](std::string& text) {
        int width = 0, height = 0;
        if (ParseRenderSize(text, width, height)) return std::string();
        return "'" + text + "' is not WxH with both sides in 1.." +
               std::to_string(kMaxRenderSide);
      },
      "");
  app.add_option("--size", options.size, "Size of every file (default: the picture's size)")
      ->type_name("WxH")
      ->check(sizeCheck);
  const CLI::Validator backgroundCheck(
      [](std::string& text) {
        MeshRasterizer::Background background;
        if (ParseRenderBackground(text, background)) return std::string();
        return "'" + text + "' is neither R,G,B with each value in 0..255 nor transparent";
      },
      "");
  app.add_option("--background", options.background,
                 "Colour of the uncovered pixels (default: transparent for png, white "
                 "otherwise; transparent needs png)")
      ->type_name("R,G,B|transparent")
      ->check(backgroundCheck);
  app.add_option("--anim", options.animFile,
                 "Play this animation script and write every frame of every cell")
      ->type_name("FILE");
  app.add_option("--metrics", options.metricsFile,
                 "Write every cell's distortion numbers to FILE as JSON (one entry per cell, "
                 "and per frame with --anim) and print them as the window's 'd' does")
      ->type_name("FILE");
  app.add_flag("--heatmap", options.heatmap,
               "Also write every cell's distortion heat map as <cell>_<module>_heat.<FORMAT>");
  app.add_option("parameter-file", options.paramFile,
                 "The parameter file, read as warpix reads it; the arguments after it are "
                 "override tokens (-Module Key Value ...)")
      ->type_name("FILE")
      ->required();
  app.footer(
      "Files: <DIR>/<cell>_<module>.<FORMAT>, with --anim <DIR>/<cell>_<module>_<frame>.<FORMAT>\n"
      "(cell: two digits, frame: five). Exit status: 0 when every file was written, 1 when an\n"
      "input could not be read or a file not written, 2 for a bad command line.");

  // The parameter file is the first argument that is neither an option nor an
  // option's value; CLI11 reads up to it, and what follows is never parsed as
  // options (override tokens start with '-' too).
  int fileIndex = -1;
  for (int i = 1; i < argc && fileIndex < 0; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      if (i + 1 < argc) fileIndex = i + 1;
      break;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg.find('=') == std::string::npos) {
        const CLI::Option* option = app.get_option_no_throw(arg);
        if (option != nullptr && !option->get_positional() && option->get_items_expected_min() > 0) ++i;
      }
      continue;
    }
    fileIndex = i;
  }
  const int cliCount = fileIndex < 0 ? argc : fileIndex + 1;

  try {
    app.parse(cliCount, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    return UsageError(app, error.what());
  }

  if (fileIndex >= 0) {
    options.overrides = argv + fileIndex + 1;
    options.overrideCount = argc - fileIndex - 1;
  }
  // An option after the parameter file would be read as a module header and
  // most likely end the run with the parser's fatal error.
  for (int i = 0; i < options.overrideCount; ++i) {
    std::string token = options.overrides[i];
    token = token.substr(0, token.find('='));
    const CLI::Option* option = app.get_option_no_throw(token);
    if (token.size() > 1 && token[0] == '-' && option != nullptr && !option->get_positional()) {
      return UsageError(app, "options go before the parameter file: " +
                                 std::string(options.overrides[i]));
    }
  }
  if (!options.background.empty() && options.format != "png") {
    MeshRasterizer::Background background;
    ParseRenderBackground(options.background, background);
    if (background.transparent) {
      return UsageError(app, "--background transparent needs --format png: " + options.format +
                                 " files cannot hold alpha");
    }
  }
  return -1;
}

// One cell: its deformator and the rasteriser holding its texture (declared
// last, so destroyed first: it refers to the deformator).
struct Cell {
  std::unique_ptr<Warpixator> deformator;
  std::unique_ptr<MeshRasterizer> rasterizer;
  std::unique_ptr<DistortionMetrics> metrics;  // made on first use
  std::string type;                            // the module's Type
};

// Where and how every file is written.
struct Output {
  ZelString prefix;  // the folder and '/', or nothing for the current folder
  std::string extension;
  int width = 0;
  int height = 0;
  MeshRasterizer::Background background;
  bool metrics = false;  // print and collect the distortion numbers
  bool heatmap = false;  // write the heat maps
};

// A number for the JSON report: infinity (a collapsed face) is the text "inf",
// which JSON numbers cannot hold.
nlohmann::json JsonNumber(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

// One entry of the distortion report.
nlohmann::json DistortionEntry(const Cell& cell, int index, int frame, const CellDistortion& d) {
  nlohmann::json entry = {
      {"cell", index},
      {"module", cell.deformator->m_ModuleName.toStdString()},
      {"name", std::string(cell.deformator->GetDeformatorName())},
      {"type", cell.type},
      {"mode", cell.deformator->m_DeformationType == Warpixator::DEFORM_REGULAR_MESH ? "mesh" : "pixel"},
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

// The animation's progress, redrawn in place on standard error when that is
// a terminal (a pipe or a log gets none of it).
class Progress {
 public:
  explicit Progress(int total)
      : m_bShow(isatty(STDERR_FILENO) == 1),
        m_iTotal(total < 1 ? 1 : total),
        m_Start(std::chrono::steady_clock::now()) {}

  void Show(int done) {
    if (!m_bShow) return;
    if (done > m_iTotal) done = m_iTotal;
    const int percent = static_cast<int>(100LL * done / m_iTotal);
    const int filled = static_cast<int>(30LL * done / m_iTotal);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    char text[160];
    const int length = std::snprintf(text, sizeof(text), "[%s%s] frame %d of %d %3d%% %.1f s",
                                     std::string(static_cast<size_t>(filled), '#').c_str(),
                                     std::string(static_cast<size_t>(30 - filled), '.').c_str(),
                                     done, m_iTotal, percent, seconds);
    std::cerr << '\r' << text << std::flush;
    m_iShownLength = length;
  }

  /// Removes the bar so that lines on standard output start on a clean line.
  void Clear() {
    if (!m_bShow || m_iShownLength == 0) return;
    std::cerr << '\r' << std::string(static_cast<size_t>(m_iShownLength), ' ') << '\r'
              << std::flush;
    m_iShownLength = 0;
  }

  /// Leaves the last state on its own line.
  void Finish() {
    if (m_bShow && m_iShownLength > 0) std::cerr << std::endl;
    m_iShownLength = 0;
  }

 private:
  bool m_bShow;
  int m_iTotal;
  int m_iShownLength = 0;
  std::chrono::steady_clock::time_point m_Start;
};

// Writes every cell's file of one frame (-1: no animation) and names each on
// standard output. False when a file could not be written; the others are
// written all the same.
bool WriteFrame(std::vector<Cell>& cells, const Output& output, int frame,
                nlohmann::json& report) {
  bool allWritten = true;
  for (size_t k = 0; k < cells.size(); ++k) {
    Cell& cell = cells[k];
    const ZelString path = CellFileName(output.prefix, static_cast<int>(k),
                                        cell.deformator->m_ModuleName,
                                        output.extension.c_str(), frame);
    if (WriteCellImage(*cell.deformator, output.width, output.height, output.background,
                       path.c_str(), cell.rasterizer.get())) {
      std::cout << "Wrote " << path << " (" << output.width << "x" << output.height << ")"
                << std::endl;
    } else {
      std::cout << "[ERROR] Cannot write " << path << std::endl;
      allWritten = false;
    }
    if (!output.metrics && !output.heatmap) continue;

    // The distortion of the state just rendered.
    if (cell.metrics == nullptr) cell.metrics = std::make_unique<DistortionMetrics>(*cell.deformator);
    std::vector<FaceDistortion> faces;
    const CellDistortion distortion = cell.metrics->Measure(&faces);
    if (output.metrics) {
      std::cout << DistortionMetrics::ConsoleLine(cell.deformator->GetDeformatorName(), distortion)
                << std::endl;
      report.push_back(DistortionEntry(cell, static_cast<int>(k), frame, distortion));
    }
    if (output.heatmap && !distortion.m_bMeasured) {
      std::cout << "No heat map for " << cell.deformator->m_ModuleName << ": not measured ("
                << DistortionMetrics::NotMeasuredReason() << ")" << std::endl;
    } else if (output.heatmap) {
      const ZelString heatPath = CellFileName(output.prefix, static_cast<int>(k),
                                              cell.deformator->m_ModuleName + "_heat",
                                              output.extension.c_str(), frame);
      R2Image heat;
      const bool written =
          DistortionHeatMap::Render(*cell.metrics, faces, output.width, output.height,
                                    output.background, heat) &&
          (output.extension == "ppm" ? heat.WritePPM(heatPath.c_str(), 0) : heat.Write(heatPath.c_str())) != 0;
      if (written) {
        std::cout << "Wrote " << heatPath << " (" << output.width << "x" << output.height << ")"
                  << std::endl;
      } else {
        std::cout << "[ERROR] Cannot write " << heatPath << std::endl;
        allWritten = false;
      }
    }
  }
  return allWritten;
}

// Writes the distortion report; false (with the error line) when it cannot.
bool WriteReport(const std::string& path, const nlohmann::json& report) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << report.dump(2) << "\n";
  out.close();
  if (out) return true;
  std::cout << "[ERROR] Cannot write " << path << std::endl;
  return false;
}

// The number of lines of a file, a last line without its newline included.
int CountLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  int lines = 0;
  char last = '\n';
  for (std::istreambuf_iterator<char> it(in), end; it != end; ++it) {
    last = *it;
    if (last == '\n') ++lines;
  }
  return last == '\n' ? lines : lines + 1;
}

// Plays the script as the window does: frame 0 shows lines 1 and 2, every
// later line of numbers gives the next frame, other lines give none. Returns
// the exit status (1 also for malformed lines 1 and 2, which the window
// treats as fatal).
int PlayAnimation(std::vector<Cell>& cells, const Output& output, const std::string& scriptPath,
                  nlohmann::json& report) {
  std::vector<Warpixator*> deformators;
  for (Cell& cell : cells) deformators.push_back(cell.deformator.get());
  // Steps: frame 0, then one per later line (a skipped line is a step too).
  Progress progress(CountLines(scriptPath) - 1);
  AnimationPlayer player;
  if (!player.Open(scriptPath, deformators, AnimationPlayer::Folder::kRefuse).Plays()) {
    return 1;  // the problem is printed
  }
  int step = 1;
  bool allWritten = WriteFrame(cells, output, player.Frame(), report);
  progress.Show(step);

  while (!player.Exhausted()) {
    progress.Clear();  // a skipped line prints its warning
    const AnimationScript::FrameLine line = player.Advance();
    if (line == AnimationScript::FrameLine::kEnd) break;
    ++step;
    if (line == AnimationScript::FrameLine::kFrame) {
      allWritten = WriteFrame(cells, output, player.Frame(), report) && allWritten;
    }
    progress.Show(step);
  }
  progress.Show(step);  // the end of the script cleared the bar
  progress.Finish();
  return allWritten ? 0 : 1;
}

}  // namespace

bool ParseRenderSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  int w = 0, h = 0;
  if (!ParseBoundedNumber(text.substr(0, x), kMaxRenderSide, w) ||
      !ParseBoundedNumber(text.substr(x + 1), kMaxRenderSide, h) || w < 1 || h < 1) {
    return false;
  }
  width = w;
  height = h;
  return true;
}

bool ParseRenderBackground(const std::string& text, MeshRasterizer::Background& background) {
  if (text == "transparent") {
    background.transparent = true;
    return true;
  }
  int rgb[3] = {0, 0, 0};
  size_t start = 0;
  for (int c = 0; c < 3; ++c) {
    const size_t comma = c < 2 ? text.find(',', start) : text.size();
    if (comma == std::string::npos) return false;
    if (!ParseBoundedNumber(text.substr(start, comma - start), 255, rgb[c])) return false;
    start = comma + 1;
  }
  background.transparent = false;
  for (int c = 0; c < 3; ++c) background.rgb[c] = static_cast<unsigned char>(rgb[c]);
  return true;
}

int WarpixRenderMain(int argc, char const** argv) {
  // A configuration error found while the deformators are built (a missing
  // Type, a malformed History, ...) ends the run with status 1 after its
  // report, like the other inputs that cannot be read.
  warpix::SetConfigurationStopStatus(1);

  // Arguments: options, the parameter file, override tokens.
  RenderOptions options;
  const int status = ParseCommandLine(argc, argv, options);
  if (status >= 0) return status;

  // Parameters: the file and the overrides through one walk, as warpix reads
  // them. The parser accepts a missing file only when overrides follow.
  if (options.overrideCount <= 0 && !std::ifstream(options.paramFile).is_open()) {
    std::cout << "[ERROR] Param File does not exist and no command line arguments provided: "
              << options.paramFile << std::endl;
    return 1;
  }
  ParamParser parameters(options.paramFile, options.overrides, options.overrideCount);
  bool valid = false;
  const ZelString imagePath = parameters.GetStrValue("General", "Image", valid);
  if (!valid) {
    std::cout << "[ERROR] General: the key Image is missing" << std::endl;
    return 1;
  }
  const ZelStringList& names = parameters.GetStrValues("General", "Deformators", valid);
  if (!valid) {
    std::cout << "[ERROR] General: the key Deformators is missing" << std::endl;
    return 1;
  }

  // Image: the one picture every deformator shows.
  R2Image image(imagePath.c_str());
  if (!image.IsValid()) {
    std::cout << "[ERROR] Cannot read image " << imagePath << std::endl;
    return 1;
  }

  // Deformators, in cell order; an unknown type is skipped and takes no cell.
  std::vector<Cell> cells;
  for (const ZelString& name : names) {
    Warpixator* deformator = GetDeformator(parameters, name, image);
    if (deformator == nullptr) continue;
    Cell cell;
    cell.deformator.reset(deformator);
    cell.type = parameters.GetStrValue(name, "Type", valid).toStdString();
    cell.rasterizer = std::make_unique<MeshRasterizer>(*deformator);
    cells.push_back(std::move(cell));
  }
  if (cells.empty()) {
    std::cout << "[WARNING] No deformator to render" << std::endl;
    return 0;
  }

  // Output: the folder (a failure shows in every file that follows), size,
  // format and background.
  Output output;
  if (!options.outputDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.outputDir, error);
    if (error) std::cout << "[ERROR] Cannot create folder " << options.outputDir << std::endl;
    output.prefix = ZelString(options.outputDir);
    if (!output.prefix.endsWith("/")) output.prefix += "/";
  }
  output.extension = options.format;
  output.width = image.Width();
  output.height = image.Height();
  if (!options.size.empty()) ParseRenderSize(options.size, output.width, output.height);
  output.background.transparent = options.format == "png";
  if (!options.background.empty()) ParseRenderBackground(options.background, output.background);

  output.metrics = !options.metricsFile.empty();
  output.heatmap = options.heatmap;

  // Files: one per cell, or one per cell and frame of the script; then the report.
  nlohmann::json report = nlohmann::json::array();
  int result = 0;
  if (!options.animFile.empty()) {
    result = PlayAnimation(cells, output, options.animFile, report);
  } else {
    result = WriteFrame(cells, output, -1, report) ? 0 : 1;
  }
  if (output.metrics && !WriteReport(options.metricsFile, report)) result = 1;
  return result;
}
