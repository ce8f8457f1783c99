#include "deform/DeformMLSKernel.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestCommon.h"

namespace {

using Vertices = std::vector<Warpixator::ImgVertex>;

// Seeded vertices in and around the unit square, some exactly on control points.
Vertices RandomVertices(std::mt19937& gen, int n, const std::vector<double>& points) {
  std::uniform_real_distribution<double> u(-0.2, 1.2);
  Vertices v(n);
  for (int k = 0; k < n; ++k) {
    v[k].m_fRestX = u(gen), v[k].m_fRestY = u(gen);
    if (k % 5 == 2 && !points.empty()) {
      const size_t j = 2 * (k % (points.size() / 2));
      v[k].m_fRestX = points[j], v[k].m_fRestY = points[j + 1];
    }
    v[k].id = k;
  }
  return v;
}

using warpix_test::SameBits;

// Every target this processor runs gives the one-vertex loop's results bit for
// bit, for both fits, 1 to 16 points and vertex counts leaving every remainder.
TEST(MLSKernel, EveryTargetEqualsTheOneVertexLoopBitForBit) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0.0, 1.0), move(-0.1, 0.1);
  for (int m : {1, 2, 3, 8, 16}) {
    std::vector<double> orig, target;
    for (int j = 0; j < m; ++j) {
      orig.insert(orig.end(), {u(gen), u(gen)});
      target.insert(target.end(), {orig[2 * j] + move(gen), orig[2 * j + 1] + move(gen)});
    }
    for (int n = 1; n <= 19; n += (n < 17 ? 1 : 2)) {
      const Vertices rest = RandomVertices(gen, n, orig);
      for (bool rigid : {false, true}) {
        Vertices reference = rest;
        std::vector<double> scratch;
        warpix::MLSFitVertices(orig, target, rigid, scratch, reference, true);
        EXPECT_GT(warpix_test::ForEveryTarget([&](const char* name) {
          Vertices fitted = rest;
          warpix::MLSFitVertices(orig, target, rigid, scratch, fitted);
          for (int k = 0; k < n; ++k) {
            ASSERT_TRUE(SameBits(fitted[k].m_fX, reference[k].m_fX) && SameBits(fitted[k].m_fY, reference[k].m_fY))
                << fitted[k].m_fX - reference[k].m_fX << " " << fitted[k].m_fY - reference[k].m_fY << " "
                << name << " m " << m << " n " << n << " vertex " << k << " rigid " << rigid;
          }
        }), 0);
      }
    }
  }
}

}  // namespace
