#pragma once

// Internal to the quasi-conformal family: constants and small kernels that
// its source files share.
#include <string>
#include <vector>

#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorComplex.h"

namespace quasiconf_detail {

/// The circle constant of the regular n-gon fits, as fixed by their definition.
constexpr double kTwoPi = 6.2831853;

/// A Mobius matrix counts as singular when |det| < this times |M|_F^2. The
/// n-gon fits of coincident points come out only nearly singular (about
/// 1.4e-8), so the test is relative and well above that.
constexpr double kMinMobiusDeterminant = 1e-6;

/// Point sets, parallelograms and 2 x 2 systems thinner than this aspect ratio
/// count as flat (the R-linear maps between them are undetermined).
constexpr double kMinAspect = 1e-6;

/// An entry below this fraction of a vector's largest entry counts as zero
/// (a fit candidate with x0 = 0 is a constant map).
constexpr double kMinRelativeEntry = 1e-12;

/// The two candidates x = u + lambda v (size entries) that satisfy
/// x_p x_q - x_r x_s = 0, roots (-B + sqrt D)/(2A) into x1 and (-B - sqrt D)/(2A)
/// into x2; an exactly zero A gives lambda = 0 (the division rule).
void QuadraticSelect(const LinAlgComplex* u, const LinAlgComplex* v, int size, int p, int q,
                     int r, int s, LinAlgComplex* x1, LinAlgComplex* x2);

/// The candidate of the two (six entries each) whose affine n-gon is the less
/// sheared one: the smaller |mu| = |x5 / x3|, the second on a tie.
const LinAlgComplex* LessSheared(const LinAlgComplex* x1, const LinAlgComplex* x2);

/// The Mobius matrix (zm[0..3] = a, b, c, d) taking z[k] exactly to g[k], k = 0, 1, 2.
void ExactTriangleMobius(const LinAlgComplex* z, const LinAlgComplex* g, LinAlgComplex* zm);

/// Finite and |ad - bc| >= kMinMobiusDeterminant (|a|^2 + |b|^2 + |c|^2 + |d|^2).
bool IsRegularMobius(const LinAlgComplex* zm);

/// Fewer than three points, a non-finite one, or all within kMinAspect of a line.
bool IsFlat(const LinAlgComplex* points, int n);

/// Row (z, 1, -z g, -g, -conj(g) z, -conj(g)) of the affine n-gon system,
/// each entry times weight, written to row[0], row[stride], ... (a matrix row
/// in column-major storage has stride = the row count).
void NgonRow(LinAlgComplex z, LinAlgComplex g, double weight, LinAlgComplex* row, int stride);

/// (zm0 z + zm1) / (zm2 z + zm3), with the arithmetic of MobiusTransform.
inline LinAlgComplex Mobius(const LinAlgComplex* zm, LinAlgComplex z) {
  return (zm[0] * z + zm[1]) / (zm[2] * z + zm[3]);
}

/// The Mobius elements zm[0..3] as {zm0.re, zm0.im, ..., zm3.im}, the form
/// the vector kernels read.
inline void FlatMobius(const LinAlgComplex* zm, double* m) {
  for (int e = 0; e < 4; ++e) m[2 * e] = zm[e].m_fRe, m[2 * e + 1] = zm[e].m_fIm;
}

/// The dot product of two points taken as plane vectors.
inline double Dot(LinAlgComplex a, LinAlgComplex b) { return a.m_fRe * b.m_fRe + a.m_fIm * b.m_fIm; }

/// The identity as a Mobius matrix.
inline void SetIdentity(LinAlgMatrixComplex& M) {
  M(0, 0) = LinAlgComplex(1.0, 0.0);
  M(0, 1) = LinAlgComplex(0.0, 0.0);
  M(1, 0) = LinAlgComplex(0.0, 0.0);
  M(1, 1) = LinAlgComplex(1.0, 0.0);
}

/// The identity as an R-linear map: alpha = 1, beta = 0.
inline void SetIdentity(LinAlgMatrixReal& A) {
  A(0, 0) = 1.0;
  A(0, 1) = 0.0;
  A(1, 0) = 0.0;
  A(1, 1) = 0.0;
}

/// The control points of a flat list as complex numbers (out.Rows() of them).
inline void ToComplex(const std::vector<double>& flat, LinAlgVectorComplex& out) {
  for (int k = 0; k < out.Rows(); ++k) out(k) = LinAlgComplex(flat[2 * k], flat[2 * k + 1]);
}

/// What a refused preparation names in its warning.
inline std::string TableOwner(const char* op, size_t vertices, int n) {
  std::string what = std::string("operator ") + op + " with ";
  if (vertices > 0) what += std::to_string(vertices) + " mesh vertices and ";
  return what + std::to_string(n) + " control points";
}

/// What the fast weighted n-gon fit keeps for N points.
struct FastFitWork {
  explicit FastFitWork(int n);
  int N;
  std::vector<LinAlgComplex> G;  // the regular N-gon, angles as in the weighted fit
};

/// The weighted n-gon fit of QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS for
/// the N points z with weights w (N == work.N >= 3): the exact triangle map
/// for three, the vector kernel's fit (one vertex) for more; the same map to
/// rounding (up to a complex factor). False when singular.
bool FastWeightedFit(const LinAlgComplex* z, const double* w, FastFitWork& work,
                     LinAlgComplex* zm);

}  // namespace quasiconf_detail
