#include "shell/RenderCommandLine.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

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

// A usage error: the help text and the error on standard error, status 2.
int UsageError(const CLI::App& app, const std::string& message) {
  std::cerr << app.help() << "[ERROR] " << message << std::endl;
  return 2;
}

// The check of --size: the error text, or nothing for a valid size.
CLI::Validator SizeCheck() {
  return CLI::Validator(
      [](std::string& text) {
        int width = 0, height = 0;
        if (ParseRenderSize(text, width, height)) return std::string();
        return "'" + text + "' is not WxH with both sides in 1.." +
               std::to_string(kMaxRenderSide);
      },
      "");
}

// The check of --background: the error text, or nothing for a valid colour.
CLI::Validator BackgroundCheck() {
  return CLI::Validator(
      [](std::string& text) {
        MeshRasterizer::Background background;
        if (ParseRenderBackground(text, background)) return std::string();
        return "'" + text + "' is neither R,G,B with each value in 0..255 nor transparent";
      },
      "");
}

// Declares every option, in the order of the help, with options' fields as
// their destinations.
void DescribeOptions(CLI::App& app, RenderOptions& options) {
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
  app.add_flag("--png-smallest", options.pngSmallest,
               "Compress png files to the smallest size (every row filter tried, deflate "
               "level 9): up to a fifth smaller and tens of times slower than the default, "
               "which favours speed; the pixels are the same");
  app.add_option("--size", options.size, "Size of every file (default: the picture's size)")
      ->type_name("WxH")
      ->check(SizeCheck());
  app.add_option("--background", options.background,
                 "Colour of the uncovered pixels (default: transparent for png, white "
                 "otherwise; transparent needs png)")
      ->type_name("R,G,B|transparent")
      ->check(BackgroundCheck());
  app.add_option("--anim", options.animFile,
                 "Play this animation script and write every frame of every cell")
      ->type_name("FILE");
  app.add_option("--metrics", options.metricsFile,
                 "Write every cell's distortion numbers to FILE as JSON (one entry per cell, "
                 "and per frame with --anim) and print them as the window's 'd' does")
      ->type_name("FILE");
  app.add_flag("--heatmap", options.heatmap,
               "Also write every cell's distortion heat map as <cell>_<module>_heat.<FORMAT>");
  app.add_option("--report", options.reportDir,
                 "Write DIR/index.html, a self-contained page with every cell's picture and heat "
                 "map (under DIR/images), the distortion numbers as a sortable table, the inputs "
                 "and the command that rebuilds it; with --cases or --records also the "
                 "statistics over the cases")
      ->type_name("DIR");
  app.add_option("--cases", options.casesFile,
                 "Run every cell once per case of FILE (JSON Lines, one case a line: "
                 "{\"case\": name, \"orig\": [[x, y], ...], \"target\": [[x, y], ...]} in the unit "
                 "square; - reads standard input) and write one record per case and cell to the "
                 "--metrics file as JSON Lines; needs --metrics or --report")
      ->type_name("FILE");
  app.add_option("--first-line", options.firstLine,
                 "The line number of the cases file's first line, for a part of a split file "
                 "(default: 1)")
      ->type_name("N")
      ->check(CLI::Range(1, 1 << 30));
  app.add_option("--records", options.recordsFile,
                 "Statistics of the --report page from the records of a sweep (JSON Lines, e.g. "
                 "the merged output of a parallel sweep) instead of running --cases")
      ->type_name("FILE");
  app.add_option("--random", options.randomCount,
                 "Write N random cases (JSON Lines) to standard output and stop: 4 to 16 points "
                 "each, at least 0.1 apart in [0.1, 0.9]^2; no parameter file is read")
      ->type_name("N")
      ->check(CLI::Range(0LL, 100000000LL));
  app.add_option("--seed", options.seed,
                 "Seed of --random: the same seed gives the same bytes on any machine (default: 1)")
      ->type_name("S");
  app.add_option("--move", options.move,
                 "Largest displacement of a --random target from its original, as a fraction of "
                 "the unit square's side (default: 0.1)")
      ->type_name("M")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("parameter-file", options.paramFile,
                 "The parameter file, read as warpix reads it; the arguments after it are "
                 "override tokens (-Module Key Value ...)")
      ->type_name("FILE");
  app.footer(
      "Files: <DIR>/<cell>_<module>.<FORMAT>, with --anim <DIR>/<cell>_<module>_<frame>.<FORMAT>\n"
      "(cell: two digits, frame: five). Exit status: 0 when every file was written, 1 when an\n"
      "input could not be read or a file not written, 2 for a bad command line.\n"
      "Sweeps: --metrics - writes the records to standard output (the program's messages then\n"
      "go to standard error). A case that cannot be computed (a malformed line, mismatched\n"
      "lists, points outside (0, 1)^2 or coincident, a method refusing the points) gives\n"
      "records with null numbers and a \"reason\"; the sweep goes on. Examples:\n"
      "  warpix-render --random 1000 --seed 7 > cases.jsonl\n"
      "  warpix-render --cases cases.jsonl --metrics records.jsonl examples/demo.params\n"
      "  warpix-render --report page --records records.jsonl examples/demo.params");
}

// The index of the parameter file: the first argument that is neither an
// option nor an option's value, or -1. CLI11 reads up to it, and what follows
// is never parsed as options (override tokens start with '-' too).
int FindParameterFile(const CLI::App& app, int argc, char const** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return i + 1 < argc ? i + 1 : -1;
    if (arg.size() > 1 && arg[0] == '-') {
      if (arg.find('=') == std::string::npos) {
        const CLI::Option* option = app.get_option_no_throw(arg);
        if (option != nullptr && !option->get_positional() && option->get_items_expected_min() > 0) ++i;
      }
      continue;
    }
    return i;
  }
  return -1;
}

// An option after the parameter file would be read as a module header and
// most likely end the run with the parser's fatal error: the first such
// token, or nullptr.
const char* OptionAfterParameterFile(const CLI::App& app, const RenderOptions& options) {
  for (int i = 0; i < options.overrideCount; ++i) {
    std::string token = options.overrides[i];
    token = token.substr(0, token.find('='));
    const CLI::Option* option = app.get_option_no_throw(token);
    if (token.size() > 1 && token[0] == '-' && option != nullptr && !option->get_positional()) {
      return options.overrides[i];
    }
  }
  return nullptr;
}

// Whether the background asks for alpha that the file format cannot hold.
bool TransparentWithoutPng(const RenderOptions& options) {
  if (options.background.empty() || options.format == "png") return false;
  MeshRasterizer::Background background;
  ParseRenderBackground(options.background, background);
  return background.transparent;
}

// Options that cannot go together, or a missing parameter file: the error, or nullptr.
const char* Conflict(const RenderOptions& options) {
  if (options.randomCount >= 0) return nullptr;  // nothing else is read
  if (options.paramFile.empty()) return "the parameter file is missing";
  const bool sweep = !options.casesFile.empty();
  if (sweep && options.metricsFile.empty() && options.reportDir.empty()) {
    return "--cases needs --metrics FILE (the records) or --report DIR (the statistics)";
  }
  if (sweep && !options.recordsFile.empty()) return "--cases and --records exclude each other";
  if (!options.recordsFile.empty() && options.reportDir.empty()) return "--records needs --report DIR";
  if (!options.animFile.empty() && (sweep || !options.reportDir.empty())) {
    return "--anim goes with neither --cases nor --report";
  }
  if (options.metricsFile == "-" && !sweep) return "--metrics - (standard output) needs --cases";
  return nullptr;
}

}  // namespace

std::string ShellCommandLine(int argc, char const** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i] != nullptr ? argv[i] : "";
    bool safe = !word.empty();
    for (char c : word) {
      const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                         std::string("_-./=,:+@%").find(c) != std::string::npos;
      safe = safe && plain;
    }
    if (i > 0) line += ' ';
    if (safe) {
      line += word;
      continue;
    }
    line += '\'';
    for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

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

int ParseRenderCommandLine(int argc, char const** argv, RenderOptions& options) {
  CLI::App app(
      "Renders what every deformator's cell of a Warpix parameter file shows into picture "
      "files, without a window.",
      "warpix-render");
  DescribeOptions(app, options);

  // CLI11 reads the options and the parameter file; the rest are overrides.
  const int fileIndex = FindParameterFile(app, argc, argv);
  try {
    app.parse(fileIndex < 0 ? argc : fileIndex + 1, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    return UsageError(app, error.what());
  }
  options.commandLine = ShellCommandLine(argc, argv);
  std::error_code error;
  options.workingDir = std::filesystem::current_path(error).string();
  if (fileIndex >= 0) {
    options.overrides = argv + fileIndex + 1;
    options.overrideCount = argc - fileIndex - 1;
  }

  // What CLI11 cannot check: options after the file, and alpha without png.
  if (const char* option = OptionAfterParameterFile(app, options)) {
    return UsageError(app, "options go before the parameter file: " + std::string(option));
  }
  if (const char* conflict = Conflict(options)) return UsageError(app, conflict);
  if (TransparentWithoutPng(options)) {
    return UsageError(app, "--background transparent needs --format png: " + options.format +
                               " files cannot hold alpha");
  }
  return -1;
}
