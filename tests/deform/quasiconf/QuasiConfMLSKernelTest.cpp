#include "deform/quasiconf/QuasiConfMLSKernel.h"

#include <cmath>
#include <random>
#include <vector>

#include "../DeformTesting.h"
#include "QuasiConfTesting.h"

namespace {

using deform_test::Points;

// Normalised weights for count vertices of n points, seeded, with the
// awkward rows among them: one point dominating (a vertex on a control
// point), all equal, and a not-a-number weight.
std::vector<double> Weights(std::mt19937& gen, int n, int count) {
  std::uniform_real_distribution<double> u(0.2, 3.0);
  std::vector<double> w;
  for (int k = 0; k < count; ++k) {
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      double v = u(gen);
      if (k % 7 == 2) v = j == k % n ? 1e6 : 1.0;
      if (k % 7 == 5) v = 1.0;
      if (k % 11 == 9 && j == 0) v = std::nan("");
      w.push_back(v);
      sum += v;
    }
    for (int j = 0; j < n; ++j) w[w.size() - n + j] /= sum;
  }
  return w;
}

}  // namespace

// Every target this processor runs fits and maps each vertex exactly as the
// one-vertex loop does, whatever vertices share its vector: for counts
// leaving every remainder, and a failed fit never leaves a NaN position.
TEST(QuasiConfMLSKernel, EveryTargetGivesEachVertexItsOneVertexResultBitForBit) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n : {4, 7, 16}) {
    const Points p = qc_test::RandomPoints(gen, n), t = qc_test::Jitter(gen, p, 0.05);
    for (int count : {1, 5, 17, 37}) {
      const std::vector<double> w = Weights(gen, n, count);
      std::vector<double> local(2 * count), coeffs(6 * static_cast<size_t>(n) * count);
      for (double& v : local) v = u(gen);
      for (double& v : coeffs) v = 0.1 * u(gen);
      auto fits = [&](int from, int size) {
        Points out(9 * static_cast<size_t>(size));
        std::vector<unsigned char> ok(size);
        warpix::NgonFitVertices(p.data(), n, w.data() + static_cast<size_t>(from) * n, size,
                                out.data(), ok.data());
        for (int k = 0; k < size; ++k) out[8 * size + k] = ok[k];
        return out;
      };
      auto maps = [&](int from, int size) {
        Points out(3 * static_cast<size_t>(size), 0.0);
        std::vector<unsigned char> ok(size);
        const std::vector<double> weights =
            warpix::GroupByVertex(w.data() + static_cast<size_t>(from) * n, n, size);
        const std::vector<double> grouped =
            warpix::GroupByVertex(coeffs.data() + 6 * static_cast<size_t>(n) * from, 6 * n, size);
        warpix::MLSFitVertices(t.data(), n, weights.data(), local.data() + 2 * from, grouped.data(), size,
                               out.data(), ok.data());
        for (int k = 0; k < size; ++k) out[2 * size + k] = ok[k];
        return out;
      };
      // The reference: one vertex per call, laid out as the whole call's.
      Points fitted(9 * static_cast<size_t>(count)), mapped(3 * static_cast<size_t>(count));
      for (int k = 0; k < count; ++k) {
        const Points f = fits(k, 1), m = maps(k, 1);
        for (int e = 0; e < 8; ++e) fitted[8 * k + e] = f[e];
        fitted[8 * count + k] = f[8];
        mapped[2 * k] = m[0], mapped[2 * k + 1] = m[1], mapped[2 * count + k] = m[2];
        EXPECT_FALSE(std::isnan(m[0]) || std::isnan(m[1])) << "n " << n << " vertex " << k;
      }
      const std::string what = "n " + std::to_string(n) + " count " + std::to_string(count);
      deform_test::ExpectBitsOnEveryTarget(fitted, [&] { return fits(0, count); }, "fit " + what);
      deform_test::ExpectBitsOnEveryTarget(mapped, [&] { return maps(0, count); }, "map " + what);
    }
  }
}
