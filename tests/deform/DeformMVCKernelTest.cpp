#include "deform/DeformMVCKernel.h"

#include <cmath>
#include <random>
#include <string>

#include "DeformTesting.h"
#include "deform/DeformMeanValueCoords.h"

namespace {

using deform_test::ExpectBitsOnEveryTarget;
using deform_test::Places;
using deform_test::Points;

// Every target this processor runs maps every point exactly as the one-point route
// does: convex polygons of 3 to 16 points, point counts leaving every
// remainder, points on control points and in the middle of edges among them.
TEST(MVCKernel, EveryTargetEqualsTheOnePointRoute) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> move(-0.1, 0.1);
  for (int n : {3, 4, 8, 16}) {
    Points orig, target;
    for (int j = 0; j < n; ++j) {
      const double a = 6.283185307179586 * j / n;
      orig.insert(orig.end(), {0.5 + 0.4 * std::cos(a), 0.5 + 0.4 * std::sin(a)});
      target.insert(target.end(), {orig[2 * j] + move(gen), orig[2 * j + 1] + move(gen)});
    }
    for (int count = 1; count <= 19; count += (count < 17 ? 1 : 2)) {
      Points p = Places(gen, count, orig, 7), x, y, reference(2 * count);
      for (int k = 5; k < count; k += 7) {  // the middle of edge k
        const int j = k % n, i = (j + 1) % n;
        p[2 * k] = 0.5 * (orig[2 * j] + orig[2 * i]), p[2 * k + 1] = 0.5 * (orig[2 * j + 1] + orig[2 * i + 1]);
      }
      for (int k = 0; k < count; ++k) {
        x.push_back(p[2 * k]), y.push_back(p[2 * k + 1]);
        DeformMeanValueCoords::MapPolygonPoint(orig, target, x[k], y[k], reference[2 * k], reference[2 * k + 1]);
      }
      ExpectBitsOnEveryTarget(reference, [&] {
        Points ox(count), oy(count), out;
        DeformMeanValueCoords::MapPolygonPoints(orig, target, count, x.data(), y.data(), ox.data(), oy.data());
        for (int k = 0; k < count; ++k) out.insert(out.end(), {ox[k], oy[k]});
        return out;
      }, "n " + std::to_string(n) + " count " + std::to_string(count));
    }
  }
}

}  // namespace
