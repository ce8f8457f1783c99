// What one dragged frame costs: Deform followed by MapMeshVertices, on meshes
// of 10 x 10, 50 x 50 and 100 x 100 cells with 4, 8 and 16 control points
// ("Deform/<key>/<cells>/<points>"), and what the preparation costs
// ("Prepare/<key>/<cells>/<points>", for the methods that prepare anything);
// the as-rigid-as-possible keys run 10, 30, 50 and 100 cells with 8, 8, 8 and
// 16 points.
// Control points sit on distinct mesh vertices drawn by a generator with seed
// 1; each target is moved by up to 0.05 in a random direction. For the
// quasi-conformal keys that need a quadrilateral the first four points are
// the vertices nearest to a fixed convex one; for the cage methods that need
// a polygon that does not cross itself (Green coordinates) the points are
// ordered by their angle about their centroid; the line modes run on a picture
// whose background is transparent (see BenchImage). m_bNeedsUpdate is set before
// every Deform so that the map is really recomputed, as after each drawn frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "deform/DeformAsRigidAsPossible.h"
#include "deform/DeformGreenCoords.h"
#include "deform/DeformMLS.h"
#include "deform/DeformMeanValueCoords.h"
#include "deform/DeformThinPlateSplineWarp.h"
#include "deform/Warpixator.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "image/R2Image.h"
#include "image/RNRgb.h"

namespace {

using Factory = std::function<std::unique_ptr<Warpixator>(R2Image&)>;

// The vertex nearest to (x, y).
int NearestVertex(const Warpixator& deformator, double x, double y) {
  int best = 0;
  double bestDistance = 1e300;
  for (const Warpixator::ImgVertex& v : deformator.m_Vertices) {
    const double d = (v.m_fRestX - x) * (v.m_fRestX - x) + (v.m_fRestY - y) * (v.m_fRestY - y);
    if (d < bestDistance) {
      bestDistance = d;
      best = v.id;
    }
  }
  return best;
}

// Puts the points (and their targets) in the order of their angle about
// their centroid: a cage polygon that does not cross itself.
void OrderAsCage(Warpixator& deformator) {
  std::vector<double>& orig = deformator.m_ControlPointsOrigPos;
  std::vector<double>& target = deformator.m_ControlPointsNewPos;
  const size_t n = orig.size() / 2;
  double cx = 0.0, cy = 0.0;
  for (size_t k = 0; k < n; ++k) cx += orig[2 * k] / n, cy += orig[2 * k + 1] / n;
  std::vector<std::pair<double, size_t>> order;
  for (size_t k = 0; k < n; ++k) order.emplace_back(std::atan2(orig[2 * k + 1] - cy, orig[2 * k] - cx), k);
  std::sort(order.begin(), order.end());
  std::vector<double> o, t;
  for (const auto& entry : order) {
    o.insert(o.end(), {orig[2 * entry.second], orig[2 * entry.second + 1]});
    t.insert(t.end(), {target[2 * entry.second], target[2 * entry.second + 1]});
  }
  orig = o;
  target = t;
}

// Where the control points go: random distinct vertices, the first four of
// them nearest a fixed convex quadrilateral, or ordered as a cage.
enum class Placement { kRandom, kConvexFirstFour, kCage };

void PlacePoints(Warpixator& deformator, int points, Placement placement) {
  const bool convexFirstFour = placement == Placement::kConvexFirstFour;
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> vertex(0, static_cast<int>(deformator.m_Vertices.size()) - 1);
  std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI);
  std::uniform_real_distribution<double> distance(0.0, 0.05);
  std::set<int> used;
  const double quad[4][2] = {{0.2, 0.2}, {0.8, 0.25}, {0.75, 0.8}, {0.25, 0.75}};
  int placed = 0;
  while (static_cast<int>(used.size()) < points) {
    const int k = convexFirstFour && placed < 4 ? NearestVertex(deformator, quad[placed][0], quad[placed][1])
                                                : vertex(gen);
    if (!used.insert(k).second) continue;
    ++placed;
    const Warpixator::ImgVertex& v = deformator.m_Vertices[k];
    const double a = angle(gen), d = distance(gen);
    deformator.m_ControlPointsOrigPos.push_back(v.m_fRestX);
    deformator.m_ControlPointsOrigPos.push_back(v.m_fRestY);
    deformator.m_ControlPointsNewPos.push_back(v.m_fRestX + d * std::cos(a));
    deformator.m_ControlPointsNewPos.push_back(v.m_fRestY + d * std::sin(a));
  }
  if (placement == Placement::kCage) OrderAsCage(deformator);
}

// A deformator of the method on a cells x cells mesh with its points placed
// (set-up lines kept out of the results table).
std::unique_ptr<Warpixator> Setup(R2Image& image, const Factory& make, int cells, int points,
                                  Placement placement) {
  std::unique_ptr<Warpixator> deformator = make(image);
  std::ostringstream quiet;
  std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
  deformator->SwitchMeshBasedDeformation(cells, cells, false, true, RNRgb(1, 1, 1), 0.1, 0.0,
                                         1.0, 0.0, 1.0);
  PlacePoints(*deformator, points, placement);
  deformator->PrepareDeformator();
  std::cout.rdbuf(console);
  return deformator;
}

// The line modes are meant for an object on a transparent background: a dark
// rectangle over the quadrilateral of the first four points on a white
// picture, with white transparent. Every vertex that no line's section holds
// then goes through the spline, the costly case. The other methods never
// read pixels, so they get a small blank picture.
R2Image BenchImage(bool lineModes) {
  if (!lineModes) return R2Image(4, 4, 3);
  const int width = 256, height = 256;
  R2Image image(width, height, 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width, v = (y + 0.5) / height;
      const bool object = u > 0.22 && u < 0.78 && v > 0.25 && v < 0.75;
      image.SetPixelRGB(x, y, object ? RNRgb(0.2, 0.3, 0.4) : RNRgb(1, 1, 1));
    }
  }
  return image;
}

void BenchPrepare(benchmark::State& state, const Factory& make, int cells, int points,
                 Placement placement) {
  R2Image image = BenchImage(placement == Placement::kConvexFirstFour && points == 4);
  std::unique_ptr<Warpixator> deformator = Setup(image, make, cells, points, placement);
  // The preparation's console lines stay out of the table.
  std::ostringstream quiet;
  std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
  for (auto _ : state) {
    deformator->PrepareDeformator();
    benchmark::ClobberMemory();
    quiet.str("");
  }
  std::cout.rdbuf(console);
}

void BenchDeform(benchmark::State& state, const Factory& make, int cells, int points,
                 Placement placement) {
  R2Image image = BenchImage(placement == Placement::kConvexFirstFour && points == 4);
  std::unique_ptr<Warpixator> deformator = Setup(image, make, cells, points, placement);
  // The deformators' own console lines (timing reports) stay out of the table.
  std::ostringstream quiet;
  std::streambuf* const console = std::cout.rdbuf(quiet.rdbuf());
  for (auto _ : state) {
    deformator->m_bNeedsUpdate = true;
    deformator->Deform();
    deformator->MapMeshVertices();
    benchmark::DoNotOptimize(deformator->m_Vertices.data());
    benchmark::ClobberMemory();
    quiet.str("");
  }
  std::cout.rdbuf(console);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(deformator->m_Vertices.size()));
}

Factory QuasiConf(DeformQuasiConf::IntermediateOperator op) {
  return [op](R2Image& image) { return std::make_unique<DeformQuasiConf>(image, "qc", op); };
}

Factory Rigid(bool quasiConf, bool rescale, bool dense = false,
             DeformAsRigidAsPossible::ScaleRule rule = DeformAsRigidAsPossible::ScaleRule::kFitted) {
  return [=](R2Image& image) {
    auto d = std::make_unique<DeformAsRigidAsPossible>(quasiConf, rescale, image, "arap", rule);
    d->m_bDenseRoute = dense;
    return d;
  };
}

const bool kRegistered = [] {
  struct Method {
    const char* key;
    Factory make;
    bool prepares;         // has a Prepare benchmark
    bool convexFirstFour;  // the first four points form a quadrilateral
    bool fourPoints = false;  // exactly four points (the line modes)
    // (cells, points) to run; empty: every combination of 10, 50, 100 cells
    // and 4, 8, 16 points.
    std::vector<std::pair<int, int>> sizes = {};
    bool cage = false;  // the points in the order of a cage that does not cross itself
  };
  const std::vector<std::pair<int, int>> rigidSizes = {{10, 8}, {30, 8}, {50, 8}, {100, 16}};
  const Method methods[] = {
      {"NULL", [](R2Image& image) { return std::make_unique<Warpixator>(image, "null"); }, false,
       false},
      {"MVC", [](R2Image& image) { return std::make_unique<DeformMeanValueCoords>(image, "mvc"); },
       false, false},
      {"GREEN", [](R2Image& image) { return std::make_unique<DeformGreenCoords>(image, "green"); },
       true, false, false, {}, true},
      {"TPS", [](R2Image& image) { return std::make_unique<DeformThinPlateSplineWarp>(image, "tps"); },
       true, false},
      {"MLS_SIM",
       [](R2Image& image) {
         return std::make_unique<DeformMLS>(image, "mls", DeformMLS::MLS_FIT_SIMILARITY);
       },
       false, false},
      {"MLS_RIGID",
       [](R2Image& image) { return std::make_unique<DeformMLS>(image, "mls", DeformMLS::MLS_RIGID); },
       false, false},
      {"MLS_AFFINE",
       [](R2Image& image) { return std::make_unique<DeformMLS>(image, "mls", DeformMLS::MLS_AFFINE); },
       true, false},
      {"QC_AffineQuad", QuasiConf(DeformQuasiConf::OP_AFFINE_QUAD), true, true},
      {"QC_MeanValCoords", QuasiConf(DeformQuasiConf::OP_MEAN_VAL_COORDS), true, false},
      {"QC_ThinPlateSplines", QuasiConf(DeformQuasiConf::OP_THIN_PLATE_SPLINES), true, false},
      {"QC_MovingLeastSquares", QuasiConf(DeformQuasiConf::OP_MOVING_LEAST_SQUARES), true, false},
      // Sides 0 and 2 constrained (the default switches).
      {"QC_FixedLinesTPS", QuasiConf(DeformQuasiConf::OP_FIXED_LINES_TPS), true, true, true},
      {"QC_FixedLinesTPSNoQuasiConf", QuasiConf(DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC), true,
       true, true},
      {"ARAP", Rigid(false, false), true, true, false, rigidSizes},
      {"ARAP_Rescale", Rigid(false, true), true, true, false, rigidSizes},
      {"ARAP_Rest", Rigid(false, true, false, DeformAsRigidAsPossible::ScaleRule::kRest), true,
       true, false, rigidSizes},
      {"ARAP_QuasiConf", Rigid(true, false), true, true, false, rigidSizes},
      // The documented dense route, for comparison (its inverse grows with
      // the cube of the vertex count).
      {"ARAP_Dense", Rigid(false, false, true), true, true, false, {{10, 8}, {30, 8}}},
  };
  for (const Method& method : methods) {
    std::vector<std::pair<int, int>> sizes = method.sizes;
    if (sizes.empty()) {
      for (int cells : {10, 50, 100})
        for (int points : {4, 8, 16})
          if (!method.fourPoints || points == 4) sizes.emplace_back(cells, points);
    }
    for (const auto& [cells, points] : sizes) {
      {
        const std::string size = std::string(method.key) + "/" + std::to_string(cells) + "/" +
                                 std::to_string(points);
        const Factory factory = method.make;
        const Placement convex = method.cage             ? Placement::kCage
                                 : method.convexFirstFour ? Placement::kConvexFirstFour
                                                          : Placement::kRandom;
        benchmark::RegisterBenchmark(("Deform/" + size).c_str(),
                                     [factory, cells, points, convex](benchmark::State& state) {
                                       BenchDeform(state, factory, cells, points, convex);
                                     })
            ->Unit(benchmark::kMicrosecond);
        if (method.prepares) {
          benchmark::RegisterBenchmark(("Prepare/" + size).c_str(),
                                       [factory, cells, points, convex](benchmark::State& state) {
                                         BenchPrepare(state, factory, cells, points, convex);
                                       })
              ->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
  return true;
}();

}  // namespace
