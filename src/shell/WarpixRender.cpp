#include "shell/WarpixRender.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "render/AnimationPlayer.h"
#include "render/CellExport.h"
#include "render/DistortionMetrics.h"
#include "render/ReportPage.h"
#include "render/SweepStatistics.h"
#include "shell/RandomCases.h"
#include "shell/RenderCell.h"
#include "shell/RenderCommandLine.h"
#include "shell/RenderPage.h"
#include "shell/RenderReport.h"
#include "shell/RenderSweep.h"
#include "shell/SweepCases.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/ProgressBar.h"
#include "support/WarpixAssert.h"
#include "support/ZelString.h"
#include "support/ZelStringList.h"

namespace {

// Where and how every file is written.
struct Output {
  ZelString prefix;  // the folder and '/', or nothing for the current folder
  std::string extension;
  int width = 0;
  int height = 0;
  MeshRasterizer::Background background;
  bool metrics = false;  // print and collect the distortion numbers
  bool heatmap = false;  // write the heat maps
  R2Image::PngCompression png = R2Image::PngCompression::kFast;
};

// Names a file on standard output: "Wrote <path> (WxH)", or the error when it
// was not written. Returns written.
bool ReportFile(const ZelString& path, bool written, const Output& output) {
  if (written) {
    std::cout << "Wrote " << path << " (" << output.width << "x" << output.height << ")"
              << std::endl;
  } else {
    std::cout << "[ERROR] Cannot write " << path << std::endl;
  }
  return written;
}

// Writes the heat map of cell k from the faces just measured, or says why
// there is none. False when the file could not be written.
bool WriteHeatMap(const RenderCell& cell, int k, const Output& output, int frame,
                  const CellDistortion& distortion, const std::vector<FaceDistortion>& faces) {
  if (!distortion.m_bMeasured) {
    std::cout << "No heat map for " << cell.Deformator().m_ModuleName << ": not measured ("
              << DistortionMetrics::NotMeasuredReason() << ")" << std::endl;
    return true;
  }
  const ZelString heatPath = CellFileName(output.prefix, k,
                                          cell.Deformator().m_ModuleName + "_heat",
                                          output.extension.c_str(), frame);
  R2Image heat;
  const bool written =
      cell.HeatMap(faces, output.width, output.height, output.background, heat) &&
      WriteRenderedImage(heat, heatPath.c_str(), output.png);
  return ReportFile(heatPath, written, output);
}

// Writes every cell's file of one frame (-1: no animation) and names each on
// standard output. False when a file could not be written; the others are
// written all the same.
bool WriteFrame(std::vector<RenderCell>& cells, const Output& output, int frame,
                nlohmann::json& report) {
  bool allWritten = true;
  for (size_t k = 0; k < cells.size(); ++k) {
    RenderCell& cell = cells[k];
    Warpixator& deformator = cell.Deformator();
    const int index = static_cast<int>(k);
    const ZelString path = CellFileName(output.prefix, index, deformator.m_ModuleName,
                                        output.extension.c_str(), frame);
    const bool written = WriteCellImage(deformator, output.width, output.height,
                                        output.background, path.c_str(), &cell.Rasterizer(),
                                        output.png);
    allWritten = ReportFile(path, written, output) && allWritten;
    if (!output.metrics && !output.heatmap) continue;

    // The distortion of the state just rendered.
    std::vector<FaceDistortion> faces;
    const CellDistortion distortion = cell.Measure(&faces);
    if (output.metrics) {
      std::cout << DistortionMetrics::ConsoleLine(deformator.GetDeformatorName(), distortion)
                << std::endl;
      report.push_back(DistortionEntry(deformator, cell.Type(), index, frame, distortion));
    }
    if (output.heatmap) {
      allWritten = WriteHeatMap(cell, index, output, frame, distortion, faces) && allWritten;
    }
  }
  return allWritten;
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
int PlayAnimation(std::vector<RenderCell>& cells, const Output& output,
                  const std::string& scriptPath, nlohmann::json& report) {
  std::vector<Warpixator*> deformators;
  for (RenderCell& cell : cells) deformators.push_back(&cell.Deformator());
  // Steps: frame 0, then one per later line (a skipped line is a step too).
  ProgressBar progress(CountLines(scriptPath) - 1);
  AnimationPlayer player;
  if (!player.Open(scriptPath, deformators, AnimationPlayer::Folder::kRefuse).Plays()) {
    return 1;  // the problem is printed
  }
  int step = 1;
  bool allWritten = WriteFrame(cells, output, player.Frame(), report);
  progress.Update(step);

  while (!player.Exhausted()) {
    progress.Clear();  // a skipped line prints its warning
    const AnimationScript::FrameLine line = player.Advance();
    if (line == AnimationScript::FrameLine::kEnd) break;
    ++step;
    if (line == AnimationScript::FrameLine::kFrame) {
      allWritten = WriteFrame(cells, output, player.Frame(), report) && allWritten;
    }
    progress.Update(step);
  }
  progress.Update(step);  // the end of the script cleared the bar
  progress.Finish();
  return allWritten ? 0 : 1;
}

// The parameter file must exist unless overrides follow (the parser accepts
// a missing file only then); false with the error line.
bool ParameterFileReadable(const RenderOptions& options) {
  if (options.overrideCount > 0 || std::ifstream(options.paramFile).is_open()) return true;
  std::cout << "[ERROR] Param File does not exist and no command line arguments provided: "
            << options.paramFile << std::endl;
  return false;
}

// Makes the folder dir (a failure shows in every file that follows) and
// returns it as a prefix of file names: dir and '/', nothing for no folder.
ZelString MakeFolder(const std::string& dir) {
  if (dir.empty()) return ZelString();
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) std::cout << "[ERROR] Cannot create folder " << dir << std::endl;
  ZelString prefix(dir);
  if (!prefix.endsWith("/")) prefix += "/";
  return prefix;
}

// The size, format, background and what is measured; the folder is made by
// the caller that writes into it.
Output PrepareOutput(const RenderOptions& options, const R2Image& image) {
  Output output;
  output.extension = options.format;
  output.width = image.Width();
  output.height = image.Height();
  if (!options.size.empty()) ParseRenderSize(options.size, output.width, output.height);
  output.background.transparent = options.format == "png";
  if (!options.background.empty()) ParseRenderBackground(options.background, output.background);

  output.metrics = !options.metricsFile.empty();
  output.heatmap = options.heatmap;
  if (options.pngSmallest) output.png = R2Image::PngCompression::kSmallest;
  return output;
}

// One file per cell, or one per cell and frame of the script; then the
// report. Returns the exit status.
int WriteFiles(std::vector<RenderCell>& cells, const Output& output, const RenderOptions& options) {
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

// The page's pictures, one and a heat map per cell under <DIR>/images, and
// their distortion entries. False when a file could not be written.
bool WriteReportPictures(std::vector<RenderCell>& cells, Output output, const RenderOptions& options,
                         nlohmann::json& entries) {
  MakeFolder(options.reportDir);
  output.prefix = MakeFolder(options.reportDir + "/images");
  output.metrics = true;
  output.heatmap = true;
  return WriteFrame(cells, output, -1, entries);
}

// The sweep of --cases: records to the --metrics file (or standard output
// for "-") and into statistics. Returns the exit status.
int RunSweep(std::vector<RenderCell>& cells, const RenderOptions& options, std::ostream& standardOutput,
             SweepStatistics& statistics, int& cases) {
  std::ifstream file;
  std::istream* in = &std::cin;
  int total = 0;  // unknown for standard input: no progress bar
  if (options.casesFile != "-") {
    std::error_code error;
    if (!std::filesystem::is_directory(options.casesFile, error)) {
      file.open(options.casesFile, std::ios::binary);
    }
    if (!file.is_open()) {
      std::cout << "[ERROR] Cannot read cases " << options.casesFile << std::endl;
      return 1;
    }
    in = &file;
    total = CountLines(options.casesFile);
  }
  std::ofstream records;
  std::ostream* out = nullptr;
  if (options.metricsFile == "-") {
    out = &standardOutput;
  } else if (!options.metricsFile.empty()) {
    records.open(options.metricsFile, std::ios::binary | std::ios::trunc);
    out = &records;
  }
  SweepCaseReader reader(*in, options.firstLine);
  RenderSweep sweep(cells);
  cases = sweep.RunAll(reader, out, &statistics, total);
  if (records.is_open()) {
    records.close();
    if (!records) {
      std::cout << "[ERROR] Cannot write " << options.metricsFile << std::endl;
      return 1;
    }
  }
  return 0;
}

// --report, --cases and --records: the page's pictures from the cells as the
// parameters leave them, then the sweep or the records, then the page.
// Returns the exit status.
int WriteSweepAndReport(std::vector<RenderCell>& cells, const Output& output,
                        const RenderOptions& options, std::ostream& standardOutput) {
  int result = 0;
  nlohmann::json entries = nlohmann::json::array();
  ReportContent content;
  if (!options.reportDir.empty()) {
    if (!WriteReportPictures(cells, output, options, entries)) result = 1;
    content = BuildReportContent(cells, entries, options, output.extension, output.width,
                                 output.height);
  }
  SweepStatistics statistics;
  if (!options.casesFile.empty()) {
    int cases = 0;
    if (RunSweep(cells, options, standardOutput, statistics, cases) != 0) result = 1;
    content.m_StatisticsSource = std::to_string(cases) + " cases of " +
                                 (options.casesFile == "-" ? std::string("standard input")
                                                           : options.casesFile);
  } else if (!options.recordsFile.empty()) {
    int records = 0, skipped = 0;
    if (!ReadRecords(options.recordsFile, statistics, records, skipped)) result = 1;
    if (skipped > 0) {
      std::cout << "[WARNING] " << options.recordsFile << ": " << skipped
                << " lines are no record and were skipped" << std::endl;
    }
    content.m_StatisticsSource = std::to_string(records) + " records of " + options.recordsFile;
  }
  content.m_Statistics = statistics.Summaries();
  if (!options.reportDir.empty()) {
    const std::string page = options.reportDir + "/index.html";
    if (ReportPage::Write(page, content)) {
      std::cout << "Wrote " << page << std::endl;
    } else {
      std::cout << "[ERROR] Cannot write " << page << std::endl;
      result = 1;
    }
  }
  return result;
}

}  // namespace

int WarpixRenderMain(int argc, char const** argv) {
  // A configuration error found while the deformators are built (a missing
  // Type, a malformed History, ...) ends the run with status 1 after its
  // report, like the other inputs that cannot be read.
  warpix::SetConfigurationStopStatus(1);

  // Arguments: options, the parameter file, override tokens.
  RenderOptions options;
  const int status = ParseRenderCommandLine(argc, argv, options);
  if (status >= 0) return status;

  // Random cases need nothing else.
  if (options.randomCount >= 0) {
    RandomCases::Write(std::cout, options.randomCount, options.seed, options.move);
    std::cout.flush();
    return std::cout ? 0 : 1;
  }

  // Records on standard output: the program's own messages go to standard
  // error for the run, so that the output is records only.
  std::ostream standardOutput(std::cout.rdbuf());
  struct RestoreCout {
    std::streambuf* old;
    ~RestoreCout() { std::cout.rdbuf(old); }
  } restore{std::cout.rdbuf()};
  if (options.metricsFile == "-") std::cout.rdbuf(std::cerr.rdbuf());

  // Parameters: the file and the overrides through one walk, as warpix reads them.
  if (!ParameterFileReadable(options)) return 1;
  ParamParser parameters(options.paramFile, options.overrides, options.overrideCount);
  ZelString imagePath;
  ZelStringList names;
  if (!ReadCellKeys(parameters, imagePath, names)) return 1;

  // Image: the one picture every deformator shows.
  R2Image image(imagePath.c_str());
  if (!image.IsValid()) {
    std::cout << "[ERROR] Cannot read image " << imagePath << std::endl;
    return 1;
  }

  // Deformators, in cell order (an unknown type takes no cell). A cell drawn
  // for many frames copies its texture once (the faster route per frame); a
  // single frame samples the picture in place.
  const MeshRasterizer::TextureSource source = options.animFile.empty()
                                                   ? MeshRasterizer::TextureSource::kAuto
                                                   : MeshRasterizer::TextureSource::kCopy;
  std::vector<RenderCell> cells = BuildRenderCells(parameters, names, image, source);
  if (cells.empty()) {
    std::cout << "[WARNING] No deformator to render" << std::endl;
    return 0;
  }

  // Output, then the files: a sweep and its page, or one file per cell (and frame).
  Output output = PrepareOutput(options, image);
  if (!options.casesFile.empty() || !options.reportDir.empty()) {
    return WriteSweepAndReport(cells, output, options, standardOutput);
  }
  output.prefix = MakeFolder(options.outputDir);
  return WriteFiles(cells, output, options);
}
