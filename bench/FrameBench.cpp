// What the window does for every cell of the bundled demo at once, on 100 x
// 100 meshes with 16 control points: one dragged frame ("Frame/AllMethods/
// 100/16": every cell's Deform and mesh map, summed) and the preparation a new
// point starts ("AddPoint/AllMethods/100/16": every cell's PrepareDeformator).
// The cells come from examples/demo.params through the program's own factory,
// with every settings module's MeshResolution raised to 100 x 100. The points
// are 16 distinct mesh vertices drawn by a generator with seed 1 (the first
// four the vertices nearest a fixed convex quadrilateral, as the quasi-
// conformal operators need), each target (for the frame) moved by up to
// 0.05; the line modes
// take four points only, so with 16 they leave their mesh at rest, as in the
// window. "clock_reads" counts the profiler's clock readings per iteration,
// and a counter per cell (its module name) holds that cell's share in ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "shell/Warpix.h"
#include "support/ParamParser.h"
#include "support/TimeProfiler.h"

namespace {

struct Window {
  std::unique_ptr<R2Image> image;
  std::unique_ptr<ParamParser> parameters;
  std::vector<std::unique_ptr<Warpixator>> cells;
};

// The vertex nearest to (x, y).
int Nearest(const Warpixator& d, double x, double y) {
  int best = 0;
  double bestDistance = 1e300;
  for (const Warpixator::ImgVertex& v : d.m_Vertices) {
    const double dd = (v.m_fRestX - x) * (v.m_fRestX - x) + (v.m_fRestY - y) * (v.m_fRestY - y);
    if (dd < bestDistance) bestDistance = dd, best = v.id;
  }
  return best;
}

// The points and targets, on the vertices of a 100 x 100 mesh.
void DemoPoints(const Warpixator& mesh, std::vector<double>& orig, std::vector<double>& target) {
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> vertex(0, static_cast<int>(mesh.m_Vertices.size()) - 1);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI), distance(0.0, 0.05);
  const double quad[4][2] = {{0.2, 0.2}, {0.8, 0.25}, {0.75, 0.8}, {0.25, 0.75}};
  std::set<int> used;
  while (used.size() < 16) {
    const int k = used.size() < 4 ? Nearest(mesh, quad[used.size()][0], quad[used.size()][1]) : vertex(gen);
    if (!used.insert(k).second) continue;
    const Warpixator::ImgVertex& v = mesh.m_Vertices[k];
    const double a = angle(gen), d = distance(gen);
    orig.insert(orig.end(), {v.m_fRestX, v.m_fRestY});
    target.insert(target.end(), {v.m_fRestX + d * std::cos(a), v.m_fRestY + d * std::sin(a)});
  }
}

// Every cell of the demo, its mesh at 100 x 100, with the 16 points placed
// and (when dragged) moved to their targets.
Window DemoWindow(bool dragged) {
  Window window;
  const std::string source = WARPIX_SOURCE_DIR;
  const std::string picture = source + "/examples/demo.jpg";
  const char* overrides[] = {"-General", "Image", picture.c_str(),
                             "-MeshSettings", "MeshResolution", "[", "100", "100", "]",
                             "-MeshLinesSettings", "MeshResolution", "[", "100", "100", "]"};
  std::ostringstream quiet;
  std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
  window.parameters = std::make_unique<ParamParser>((source + "/examples/demo.params").c_str(),
                                                    overrides, 15);
  window.image = std::make_unique<R2Image>(picture.c_str());
  bool valid = false;
  const ZelStringList& names = window.parameters->GetStrValues("General", "Deformators", valid);
  for (int k = 0; k < names.count(); ++k) {
    window.cells.emplace_back(GetDeformator(*window.parameters, names[k], *window.image));
  }
  Warpixator mesh(*window.image, "mesh");
  mesh.SwitchMeshBasedDeformation(100, 100, false, false, RNRgb(1, 1, 1), 0.1, 0, 1, 0, 1);
  std::vector<double> orig, target;
  DemoPoints(mesh, orig, target);
  if (!dragged) target = orig;
  for (auto& cell : window.cells) cell->InitializeCtrlPntState(orig, target);
  std::cout.rdbuf(console);
  return window;
}

// Runs work(cell, iteration) for every cell per iteration; reports the clock
// readings and each cell's mean time per iteration.
template <class Work>
void EveryCell(benchmark::State& state, bool dragged, Work&& work) {
  Window window = DemoWindow(dragged);
  std::vector<double> seconds(window.cells.size(), 0.0);
  std::ostringstream quiet;
  std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
  const long long readsBefore = TimeProfiler::ClockReads();
  long long iteration = 0;
  for (auto _ : state) {
    ++iteration;
    for (size_t k = 0; k < window.cells.size(); ++k) {
      const auto start = std::chrono::steady_clock::now();
      work(*window.cells[k], iteration);
      seconds[k] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    benchmark::ClobberMemory();
    quiet.str("");
  }
  std::cout.rdbuf(console);
  state.counters["clock_reads"] =
      static_cast<double>(TimeProfiler::ClockReads() - readsBefore) / state.iterations();
  for (size_t k = 0; k < window.cells.size(); ++k) {
    state.counters[window.cells[k]->m_ModuleName.c_str()] = 1e3 * seconds[k] / state.iterations();
  }
}

void FrameAllMethods(benchmark::State& state) {
  EveryCell(state, true, [](Warpixator& cell, long long) {
    cell.m_bNeedsUpdate = true;
    cell.Deform();
    cell.MapMeshVertices();
  });
}

// The points placed and not yet dragged, as they are while a configuration
// is clicked together; every iteration the last point's original moves to
// the next mesh vertex and back, as a new point would, so a preparation never
// finds the systems of the previous one (the rigid cells, all at rest, snap
// it alike and share theirs among themselves, as after a click in the window).
void AddPointAllMethods(benchmark::State& state) {
  EveryCell(state, false, [](Warpixator& cell, long long iteration) {
    std::vector<double>& orig = cell.m_ControlPointsOrigPos;
    orig[orig.size() - 2] += iteration % 2 == 1 ? 0.01 : -0.01;
    cell.PrepareDeformator();
  });
}

BENCHMARK(FrameAllMethods)->Name("Frame/AllMethods/100/16")->Unit(benchmark::kMillisecond);
BENCHMARK(AddPointAllMethods)->Name("AddPoint/AllMethods/100/16")->Unit(benchmark::kMillisecond);

}  // namespace
