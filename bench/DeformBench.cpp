// What one dragged frame costs: Deform followed by MapMeshVertices, on meshes
// of 10 x 10, 50 x 50 and 100 x 100 cells with 4, 8 and 16 control points.
// Names: "Deform/<key>/<cells>/<points>". Control points sit on distinct mesh
// vertices drawn by a generator with seed 1; each target is moved by up to
// 0.05 in a random direction. m_bNeedsUpdate is set before every Deform so
// that the map is really recomputed, as after each drawn frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "image/RNRgb.h"

namespace {

using Factory = std::function<std::unique_ptr<Warpixator>(R2Image&)>;

void PlacePoints(Warpixator& deformator, int points) {
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> vertex(0, static_cast<int>(deformator.m_Vertices.size()) - 1);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI);
  std::uniform_real_distribution<double> distance(0.0, 0.05);
  std::set<int> used;
  while (static_cast<int>(used.size()) < points) {
    const int k = vertex(gen);
    if (!used.insert(k).second) continue;
    const Warpixator::ImgVertex& v = deformator.m_Vertices[k];
    const double a = angle(gen), d = distance(gen);
    deformator.m_ControlPointsOrigPos.push_back(v.m_fRestX);
    deformator.m_ControlPointsOrigPos.push_back(v.m_fRestY);
    deformator.m_ControlPointsNewPos.push_back(v.m_fRestX + d * std::cos(a));
    deformator.m_ControlPointsNewPos.push_back(v.m_fRestY + d * std::sin(a));
  }
  deformator.PrepareDeformator();
}

void BenchDeform(benchmark::State& state, const Factory& make, int cells, int points) {
  R2Image image(4, 4, 3);
  std::unique_ptr<Warpixator> deformator = make(image);
  {
    // Keep the set-up's "Mesh Based Deformation" line out of the results table.
    std::ostringstream quiet;
    std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
    deformator->SwitchMeshBasedDeformation(cells, cells, false, false, RNRgb(0, 0, 0), -1.0,
                                           0.0, 1.0, 0.0, 1.0);
    std::cout.rdbuf(console);
  }
  PlacePoints(*deformator, points);
  for (auto _ : state) {
    deformator->m_bNeedsUpdate = true;
    deformator->Deform();
    deformator->MapMeshVertices();
    benchmark::DoNotOptimize(deformator->m_Vertices.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(deformator->m_Vertices.size()));
}

const bool kRegistered = [] {
  const std::pair<const char*, Factory> methods[] = {
      {"NULL", [](R2Image& image) { return std::make_unique<Warpixator>(image, "null"); }},
      {"MVC",
       [](R2Image& image) { return std::make_unique<DeformMeanValueCoords>(image, "mvc"); }},
      {"MLS_SIM",
       [](R2Image& image) {
         return std::make_unique<DeformMLS>(image, "mls", DeformMLS::MLS_FIT_SIMILARITY);
       }},
      {"MLS_RIGID",
       [](R2Image& image) {
         return std::make_unique<DeformMLS>(image, "mls", DeformMLS::MLS_RIGID);
       }},
  };
  for (const auto& [key, make] : methods) {
    for (int cells : {10, 50, 100}) {
      for (int points : {4, 8, 16}) {
        const std::string name = std::string("Deform/") + key + "/" + std::to_string(cells) +
                                 "/" + std::to_string(points);
        const Factory factory = make;
        benchmark::RegisterBenchmark(name.c_str(),
                                     [factory, cells, points](benchmark::State& state) {
                                       BenchDeform(state, factory, cells, points);
                                     })
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
  return true;
}();

}  // namespace
