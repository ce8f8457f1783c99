#include "deform/DeformMVCKernel.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestCommon.h"
#include "deform/DeformMeanValueCoords.h"

namespace {

using warpix_test::SameBits;

// Every target this processor runs maps every point exactly as the one-point
// route does: polygons of 3 to 16 points, point counts leaving every
// remainder, points on control points and strictly inside edges among them.
TEST(MVCKernel, EveryTargetEqualsTheOnePointRouteBitForBit) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> u(-0.2, 1.2), move(-0.1, 0.1);
  for (int n : {3, 4, 8, 16}) {
    // A convex polygon (points on a circle) and its moved targets.
    std::vector<double> orig, target;
    for (int j = 0; j < n; ++j) {
      const double a = 6.283185307179586 * j / n;
      orig.insert(orig.end(), {0.5 + 0.4 * std::cos(a), 0.5 + 0.4 * std::sin(a)});
      target.insert(target.end(), {orig[2 * j] + move(gen), orig[2 * j + 1] + move(gen)});
    }
    for (int count = 1; count <= 19; count += (count < 17 ? 1 : 2)) {
      std::vector<double> x(count), y(count);
      for (int k = 0; k < count; ++k) {
        x[k] = u(gen), y[k] = u(gen);
        const int j = k % n;
        if (k % 7 == 3) x[k] = orig[2 * j], y[k] = orig[2 * j + 1];  // on a control point
        if (k % 7 == 5) {  // the middle of an edge
          const int i = (j + 1) % n;
          x[k] = 0.5 * (orig[2 * j] + orig[2 * i]), y[k] = 0.5 * (orig[2 * j + 1] + orig[2 * i + 1]);
        }
      }
      std::vector<double> refX(count), refY(count);
      for (int k = 0; k < count; ++k) DeformMeanValueCoords::MapPolygonPoint(orig, target, x[k], y[k], refX[k], refY[k]);
      EXPECT_GT(warpix_test::ForEveryTarget([&](const char* name) {
        std::vector<double> outX(count), outY(count);
        DeformMeanValueCoords::MapPolygonPoints(orig, target, count, x.data(), y.data(), outX.data(), outY.data());
        for (int k = 0; k < count; ++k) {
          ASSERT_TRUE(SameBits(outX[k], refX[k]) && SameBits(outY[k], refY[k]))
              << name << " n " << n << " count " << count << " point " << k;
        }
      }), 0);
    }
  }
}

}  // namespace
