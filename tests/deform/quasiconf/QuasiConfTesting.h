#pragma once

// Helpers shared by the quasi-conformal tests.
#include <random>
#include <vector>

#include "deform/quasiconf/DeformQuasiConf.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"

namespace qc_test {

using Points = std::vector<double>;

/// n points drawn uniformly from [lo, hi]^2 (flat x0, y0, ...).
inline Points RandomPoints(std::mt19937& gen, int n, double lo = 0.1, double hi = 0.9) {
  std::uniform_real_distribution<double> u(lo, hi);
  Points p;
  for (int k = 0; k < 2 * n; ++k) p.push_back(u(gen));
  return p;
}

/// Each point of p moved by up to `by` in each coordinate.
inline Points Jitter(std::mt19937& gen, const Points& p, double by) {
  std::uniform_real_distribution<double> u(-by, by);
  Points out = p;
  for (double& v : out) v += u(gen);
  return out;
}

/// The Mobius matrix [[a, b], [c, d]].
inline LinAlgMatrixComplex Matrix(LinAlgComplex a, LinAlgComplex b, LinAlgComplex c, LinAlgComplex d) {
  LinAlgMatrixComplex M(2, 2);
  M(0, 0) = a, M(0, 1) = b, M(1, 0) = c, M(1, 1) = d;
  return M;
}

inline LinAlgMatrixComplex Identity() { return Matrix({1, 0}, {0, 0}, {0, 0}, {1, 0}); }

inline LinAlgComplex Pt(const Points& p, int k) { return LinAlgComplex(p[2 * k], p[2 * k + 1]); }

inline double Dist(LinAlgComplex a, LinAlgComplex b) { return (a - b).Power(); }

/// The image of point k of p under the Mobius matrix Z.
inline LinAlgComplex Image(const LinAlgMatrixComplex& Z, const Points& p, int k) {
  return DeformQuasiConf::MobiusTransform(Z, Pt(p, k));
}

}  // namespace qc_test
