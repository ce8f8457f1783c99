#include "shell/RenderPage.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "render/CellExport.h"
#include "render/SweepStatistics.h"
#include "shell/RenderSweep.h"

namespace {

// A number column of the table: the entry's value, "inf", or null.
ReportValue EntryNumber(const nlohmann::json& entry, const char* key, int decimals, double scale = 1.0) {
  const auto it = entry.find(key);
  if (it == entry.end() || it->is_null()) return {"null", 0.0, false};
  if (it->is_string()) {
    const double inf = *it == "-inf" ? -HUGE_VAL : HUGE_VAL;
    return {it->get<std::string>(), inf, true};
  }
  const double value = it->get<double>();
  return {ReportPage::Number(value * scale, decimals), value * scale, true};
}

std::string EntryText(const nlohmann::json& entry, const char* key) {
  const auto it = entry.find(key);
  return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

ReportTable EntryTable(const nlohmann::json& entries) {
  ReportTable table;
  table.m_Headers = {"#", "Cell", "Type", "Mode", "K max", "K mean", "area min", "area max",
                     "flipped", "flipped %", "max shift (px)", "faces"};
  table.m_Numeric = {true, false, false, false, true, true, true, true, true, true, true, true};
  for (const nlohmann::json& e : entries) {
    table.m_Rows.push_back({EntryNumber(e, "cell", 0), {EntryText(e, "name"), 0.0, false},
                            {EntryText(e, "type"), 0.0, false}, {EntryText(e, "mode"), 0.0, false},
                            EntryNumber(e, "k_max", 4), EntryNumber(e, "k_mean", 4),
                            EntryNumber(e, "area_min", 4), EntryNumber(e, "area_max", 4),
                            EntryNumber(e, "flipped", 0), EntryNumber(e, "flipped_share", 1, 100.0),
                            EntryNumber(e, "max_shift_px", 2), EntryNumber(e, "faces", 0)});
  }
  return table;
}

// The file's text, at most a megabyte of it.
std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(no file: the parameters come from the override tokens)";
  std::string text(1 << 20, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (in.peek() != EOF) text += "\n... (cut after 1 MB)";
  return text;
}

}  // namespace

ReportContent BuildReportContent(std::vector<RenderCell>& cells, const nlohmann::json& entries,
                                 const RenderOptions& options, const std::string& extension,
                                 int width, int height) {
  ReportContent content;
  content.m_Title = "warpix-render report: " + options.paramFile;
  content.m_CommandLine = options.commandLine;
  content.m_WorkingDir = options.workingDir;
  for (size_t k = 0; k < cells.size(); ++k) {
    Warpixator& deformator = *cells[k].deformator;
    ReportFigure figure;
    figure.m_Name = deformator.GetDeformatorName();
    figure.m_Picture = CellFileName("images/", static_cast<int>(k), deformator.m_ModuleName,
                                    extension.c_str()).toStdString();
    const bool measured = k < entries.size() && entries[k].value("measured", false);
    if (measured) {
      figure.m_HeatMap = CellFileName("images/", static_cast<int>(k),
                                      deformator.m_ModuleName + "_heat", extension.c_str())
                             .toStdString();
    } else {
      figure.m_Note = "No heat map: not measured (" +
                      std::string(DistortionMetrics::NotMeasuredReason()) + ")";
    }
    figure.m_iWidth = width;
    figure.m_iHeight = height;
    content.m_Figures.push_back(figure);
  }
  content.m_Table = EntryTable(entries);
  content.m_ParameterPath = options.paramFile;
  content.m_ParameterText = FileText(options.paramFile);
  std::vector<std::string> tokens(options.overrides, options.overrides + options.overrideCount);
  for (const std::string& token : tokens) {
    content.m_Overrides += (content.m_Overrides.empty() ? "" : " ") + token;
  }
  // The first cell's state, as the p key prints it, and its history.
  if (!cells.empty()) {
    Warpixator& first = *cells.front().deformator;
    std::ostringstream printed;
    std::streambuf* old = std::cout.rdbuf(printed.rdbuf());
    first.PrintCtrlPntState();
    std::cout.rdbuf(old);
    content.m_ControlPoints = printed.str();
    if (first.m_History.count() > 0) {
      content.m_ControlPoints += "\tHistory\t[" + first.m_History.join(" ").toStdString() + "]\n";
    }
  }
  return content;
}

bool ReadRecords(const std::string& path, SweepStatistics& statistics, int& records, int& skipped) {
  records = skipped = 0;
  std::error_code error;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, error)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    std::cout << "[ERROR] Cannot read " << path << std::endl;
    return false;
  }
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object() || !record.contains("cell") ||
        !record["cell"].is_number_integer()) {
      ++skipped;
      continue;
    }
    RenderSweep::AddToStatistics(record, statistics);
    ++records;
  }
  return true;
}
