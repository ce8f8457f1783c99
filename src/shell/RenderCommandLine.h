#pragma once

// warpix-render's command line: the options before the parameter file, the
// parameter file, and the override tokens after it.
#include <string>

#include "render/MeshRasterizer.h"

/// Largest width or height warpix-render accepts for --size.
inline constexpr int kMaxRenderSide = 16384;

/// Reads "WxH": two decimal numbers of digits only, joined by one 'x', each in
/// 1..kMaxRenderSide. False (width and height untouched) for anything else.
bool ParseRenderSize(const std::string& text, int& width, int& height);

/// Reads "R,G,B" (three decimal numbers of digits only, each 0..255) as an
/// opaque colour, or the word "transparent". False (background untouched)
/// for anything else.
bool ParseRenderBackground(const std::string& text, MeshRasterizer::Background& background);

/// argv as one command for a POSIX shell: words of safe characters as they
/// are, every other word in single quotes (a quote inside as '\'').
std::string ShellCommandLine(int argc, char const** argv);

/// What the command line asks for.
struct RenderOptions {
  std::string outputDir = "out/render";
  std::string format = "png";
  std::string size;        // empty: the picture's size
  std::string background;  // empty: transparent for png, white otherwise
  std::string animFile;    // empty: one picture per cell
  std::string metricsFile;  // empty: no distortion numbers
  bool heatmap = false;
  std::string reportDir;    // empty: no page
  std::string casesFile;    // empty: no sweep; "-": standard input
  std::string recordsFile;  // empty: no records read for the page's statistics
  int firstLine = 1;        // the number of the cases file's first line
  long long randomCount = -1;  // >= 0: write that many random cases and stop
  unsigned long long seed = 1;
  double move = 0.1;        // largest target displacement of a random case
  std::string commandLine;  // the whole command, quoted for a shell
  std::string workingDir;
  bool pngSmallest = false;  // false: the fast PNG compression
  std::string paramFile;
  char const** overrides = nullptr;  // the arguments after the parameter file
  int overrideCount = 0;
};

/// Reads the options (everything up to the parameter file) and keeps the rest
/// as override tokens. Returns -1 when the run goes on, otherwise the exit
/// status: 0 after --help or --version (printed on standard output), 2 for a
/// bad command line (the help and the error on standard error).
int ParseRenderCommandLine(int argc, char const** argv, RenderOptions& options);
