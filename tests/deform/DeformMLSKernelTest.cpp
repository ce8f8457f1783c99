#include "deform/DeformMLSKernel.h"

#include <random>
#include <string>

#include "DeformTesting.h"

namespace {

using deform_test::ExpectBitsOnEveryTarget;
using deform_test::Places;
using deform_test::Points;
using deform_test::PointsAndTargets;

// Every target this processor runs gives the one-vertex loop's results bit
// for bit, for both fits, 1 to 16 points and vertex counts leaving every
// remainder, some vertices exactly on control points.
TEST(MLSKernel, EveryTargetEqualsTheOneVertexLoopForBothFits) {
  std::mt19937 gen(5);
  Points orig, target;
  for (int m : {1, 2, 3, 8, 16}) {
    PointsAndTargets(gen, m, orig, target);
    for (int n = 1; n <= 19; n += (n < 17 ? 1 : 2)) {
      const Points at = Places(gen, n, orig, 5);
      std::vector<Warpixator::ImgVertex> rest(n);
      for (int k = 0; k < n; ++k) rest[k].m_fRestX = at[2 * k], rest[k].m_fRestY = at[2 * k + 1], rest[k].id = k;
      for (bool rigid : {false, true}) {
        std::vector<double> scratch;
        auto fit = [&](bool oneVertex) {
          auto v = rest;
          warpix::MLSFitVertices(orig, target, rigid, scratch, v, oneVertex);
          return deform_test::Positions(v);
        };
        ExpectBitsOnEveryTarget(fit(true), [&] { return fit(false); },
                                "m " + std::to_string(m) + " n " + std::to_string(n) + " rigid " + std::to_string(rigid));
      }
    }
  }
}

}  // namespace
