// The Mobius machinery of the quasi-conformal family: applying a Mobius matrix
// and the three fits that compute one from points (onto an affine image of
// the regular n-gon, weighted or not, and onto a parallelogram).
#include <cmath>
#include <memory>
#include <utility>

#include "deform/FlatPointSet.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "support/WarpixAssert.h"

namespace quasiconf_detail {

void QuadraticSelect(const LinAlgComplex* u, const LinAlgComplex* v, int size, int p, int q,
                     int r, int s, LinAlgComplex* x1, LinAlgComplex* x2) {
  // x = u + lambda v with x_p x_q - x_r x_s = 0: A lambda^2 + B lambda + C = 0.
  const LinAlgComplex A = v[p] * v[q] - v[r] * v[s];
  const LinAlgComplex B = u[p] * v[q] + v[p] * u[q] - u[r] * v[s] - v[r] * u[s];
  const LinAlgComplex C = u[p] * u[q] - u[r] * u[s];
  const LinAlgComplex D = B * B - 4.0 * A * C;
  const LinAlgComplex root = D.Sqrt();
  const LinAlgComplex lambda1 = (-B + root) / (2.0 * A);
  const LinAlgComplex lambda2 = (-B - root) / (2.0 * A);
  for (int i = 0; i < size; ++i) {
    x1[i] = lambda1 * v[i] + u[i];
    x2[i] = lambda2 * v[i] + u[i];
  }
}

void ExactTriangleMobius(const LinAlgComplex* z, const LinAlgComplex* g, LinAlgComplex* zm) {
  // K takes z0, z1, z2 to 0, 1, infinity; H does the same for g0, g1, g2; the
  // map is H^-1 K, with H^-1 written as its adjugate (a Mobius matrix counts
  // only up to a factor).
  const LinAlgComplex k00 = z[1] - z[2], k01 = -(z[0] * (z[1] - z[2]));
  const LinAlgComplex k10 = z[1] - z[0], k11 = -(z[2] * (z[1] - z[0]));
  const LinAlgComplex h00 = g[1] - g[2], h01 = -(g[0] * (g[1] - g[2]));
  const LinAlgComplex h10 = g[1] - g[0], h11 = -(g[2] * (g[1] - g[0]));
  zm[0] = h11 * k00 - h01 * k10;
  zm[1] = h11 * k01 - h01 * k11;
  zm[2] = h00 * k10 - h10 * k00;
  zm[3] = h00 * k11 - h10 * k01;
}

const LinAlgComplex* LessSheared(const LinAlgComplex* x1, const LinAlgComplex* x2) {
  const double mu1 = (x1[5] / x1[3]).Power();
  const double mu2 = (x2[5] / x2[3]).Power();
  return mu2 <= mu1 ? x2 : x1;
}

bool IsRegularMobius(const LinAlgComplex* zm) {
  double norm2 = 0.0;
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(zm[i].m_fRe) || !std::isfinite(zm[i].m_fIm)) return false;
    norm2 += zm[i].m_fRe * zm[i].m_fRe + zm[i].m_fIm * zm[i].m_fIm;
  }
  const double det = (zm[0] * zm[3] - zm[1] * zm[2]).Power();
  return norm2 > 0.0 && det >= kMinMobiusDeterminant * norm2;
}

bool IsFlat(const LinAlgComplex* points, int n) {
  return n < 3 || warpix::IsFlatPointSet(
                      n, [points](int k) { return points[k].m_fRe; },
                      [points](int k) { return points[k].m_fIm; }, kMinAspect);
}

void NgonRow(LinAlgComplex z, LinAlgComplex g, double weight, LinAlgComplex* row, int stride) {
  const LinAlgComplex gBar = g.Conjugate();
  const LinAlgComplex entries[6] = {z, LinAlgComplex(1.0, 0.0), -(z * g), -g, -(gBar * z), -gBar};
  for (int i = 0; i < 6; ++i) {
    row[i * stride] = weight == 1.0 ? entries[i] : LinAlgComplex(weight, 0.0) * entries[i];
  }
}

}  // namespace quasiconf_detail

using namespace quasiconf_detail;

LinAlgComplex DeformQuasiConf::MobiusTransform(const LinAlgMatrixComplex& M, LinAlgComplex z) {
  return (M(0, 0) * z + M(0, 1)) / (M(1, 0) * z + M(1, 1));
}

void DeformQuasiConf::CORR_apply_mobius_as_matrix(const LinAlgMatrixComplex& M,
                                                  const LinAlgVectorComplex& in,
                                                  LinAlgVectorComplex& out) {
  WARPIX_ASSERT(out.Rows()>=in.Rows());
  for (int i = 0; i < in.Rows(); ++i) out(i) = MobiusTransform(M, in(i));
}

bool DeformQuasiConf::IsRegularMobius(const LinAlgMatrixComplex& M) {
  WARPIX_ASSERT(M.Rows()==2 && M.Cols()==2);
  const LinAlgComplex zm[4] = {M(0, 0), M(0, 1), M(1, 0), M(1, 1)};
  return quasiconf_detail::IsRegularMobius(zm);
}

namespace {

// Zm = [[zm0, zm1], [zm2, zm3]].
void StoreMobius(const LinAlgComplex* zm, LinAlgMatrixComplex& Zm) {
  Zm(0, 0) = zm[0];
  Zm(0, 1) = zm[1];
  Zm(1, 0) = zm[2];
  Zm(1, 1) = zm[3];
}

}  // namespace

bool DeformQuasiConf::NMobiusPointAffineMap(const std::vector<double>& ctrlPnts,
                                            LinAlgMatrixComplex& Zm) {
  WARPIX_ASSERT(ctrlPnts.size()%2==0);
  WARPIX_ASSERT(Zm.Rows()==2 && Zm.Cols()==2);
  const int n = static_cast<int>(ctrlPnts.size() / 2);
  if (n < 3) return false;

  std::vector<LinAlgComplex> z(n), g(n);
  for (int k = 0; k < n; ++k) {
    z[k] = LinAlgComplex(ctrlPnts[2 * k], ctrlPnts[2 * k + 1]);
    // The product k * 6.2831853 first, then the division by n.
    g[k] = LinAlgComplex(0.0, (k * kTwoPi) / n).Exp();
  }

  LinAlgComplex zm[4];
  if (n == 3) {
    // Three points: a three-dimensional null space. Its member that puts
    // them exactly on the regular triangle is unique and never singular for
    // distinct points, collinear ones included.
    ExactTriangleMobius(z.data(), g.data(), zm);
  } else {
    LinAlgMatrixComplex M(n, 6);
    for (int k = 0; k < n; ++k) NgonRow(z[k], g[k], 1.0, &M(k, 0), n);
    LinAlgMatrixComplex U(n, n), Vt(6, 6);
    LinAlgVectorComplex S(n < 6 ? n : 6);
    if (!M.SVDDecomposeDestructive(U, S, Vt)) return false;
    LinAlgComplex u[6], v[6], x1[6], x2[6];
    for (int i = 0; i < 6; ++i) {
      u[i] = Vt(4, i).Conjugate();
      v[i] = Vt(5, i).Conjugate();
    }
    QuadraticSelect(u, v, 6, 2, 5, 3, 4, x1, x2);
    // The less sheared n-gon, as in the weighted fit. Preferring the larger
    // |x0 / x2| instead often puts the pole among the points, and a small
    // move of one point then flips the choice and tears the mesh.
    const LinAlgComplex* x = LessSheared(x1, x2);
    for (int i = 0; i < 4; ++i) zm[i] = x[i];
  }
  StoreMobius(zm, Zm);
  return quasiconf_detail::IsRegularMobius(zm);
}

bool DeformQuasiConf::QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(LinAlgVectorComplex& Z,
                                                                    LinAlgVectorReal& wei,
                                                                    LinAlgMatrixComplex& Zm) {
  const int N = wei.Rows();
  WARPIX_ASSERT(Z.Rows()==N);
  WARPIX_ASSERT(N!=0);

  // Kept between calls and rebuilt whenever N changes.
  struct Workspaces {
    explicit Workspaces(int n)
        : N(n), G(n), weiDiag(n, n), M(n, 6), diagTimeM(n, 6), U(n, n), S(n < 6 ? n : 6),
          Vt(6, 6), abcd(6), abcd2(6), u(6), v(6) {}
    int N;
    LinAlgVectorComplex G;
    LinAlgMatrixComplex weiDiag, M, diagTimeM, U;
    LinAlgVectorComplex S;
    LinAlgMatrixComplex Vt;
    LinAlgVectorComplex abcd, abcd2, u, v;
  };
  static std::unique_ptr<Workspaces> s_Work;
  if (!s_Work || s_Work->N != N) s_Work = std::make_unique<Workspaces>(N);
  Workspaces& w = *s_Work;

  // Here 6.2831853 / N is formed first.
  for (int k = 0; k < N; ++k) w.G(k) = LinAlgComplex(0.0, k * (kTwoPi / N)).Exp();
  WARPIX_ASSERT(Zm.Rows()==2 && Zm.Cols()==2);
  if (N < 3) return false;

  LinAlgComplex zm[4];
  if (N == 3) {
    // As in the unweighted fit: three points go exactly onto the triangle,
    // whatever their weights.
    const LinAlgComplex z[3] = {Z(0), Z(1), Z(2)};
    const LinAlgComplex g[3] = {w.G(0), w.G(1), w.G(2)};
    ExactTriangleMobius(z, g, zm);
  } else {
    for (int k = 0; k < N; ++k) {
      NgonRow(Z(k), w.G(k), 1.0, &w.M(k, 0), N);
      w.weiDiag(k, k) = LinAlgComplex(wei(k), 0.0);
    }
    w.weiDiag.Multiply(w.M, w.diagTimeM);
    if (!w.diagTimeM.SVDDecomposeDestructive(w.U, w.S, w.Vt)) return false;
    for (int i = 0; i < 6; ++i) {
      w.u(i) = w.Vt(4, i).Conjugate();
      w.v(i) = w.Vt(5, i).Conjugate();
    }
    QuadraticSelect(&w.u(0), &w.v(0), 6, 2, 5, 3, 4, &w.abcd(0), &w.abcd2(0));
    // The candidate with the less sheared n-gon (smaller |mu|), the second on a tie.
    const LinAlgComplex* x = LessSheared(&w.abcd(0), &w.abcd2(0));
    for (int i = 0; i < 4; ++i) zm[i] = x[i];
  }
  StoreMobius(zm, Zm);
  return quasiconf_detail::IsRegularMobius(zm);
}

bool DeformQuasiConf::MapQuadrupletToParallelogram(const std::vector<double>& ctrlPnts,
                                                   LinAlgMatrixComplex& Zm) {
  if (ctrlPnts.size() < 8) return false;
  WARPIX_ASSERT(Zm.Rows()==2 && Zm.Cols()==2);
  LinAlgComplex p[4];
  for (int k = 0; k < 4; ++k) p[k] = LinAlgComplex(ctrlPnts[2 * k], ctrlPnts[2 * k + 1]);

  LinAlgMatrixComplex E(2, 4);
  E(0, 0) = p[3] - p[0];
  E(0, 1) = LinAlgComplex(0.0, 0.0);
  E(0, 2) = p[0] - p[1];
  E(0, 3) = p[1] - p[3];
  E(1, 0) = p[2] - p[1];
  E(1, 1) = p[1] - p[2];
  E(1, 2) = p[0] - p[1];
  E(1, 3) = p[1] - p[2];
  LinAlgMatrixComplex U(2, 2), Vt(4, 4);
  LinAlgVectorComplex S(2);
  if (!E.SVDDecomposeDestructive(U, S, Vt)) return false;
  LinAlgComplex u[4], v[4], x1[4], x2[4];
  for (int i = 0; i < 4; ++i) {
    u[i] = Vt(2, i).Conjugate();
    v[i] = Vt(3, i).Conjugate();
  }
  QuadraticSelect(u, v, 4, 1, 2, 0, 3, x1, x2);

  // The root with -sqrt(D), unless its parallelogram has Im w < 0. A
  // candidate with x0 = 0 is a constant map (four points already forming a
  // parallelogram give one): it is never taken.
  auto constant = [](const LinAlgComplex* x) {
    double largest = 0.0;
    for (int i = 0; i < 4; ++i) largest = std::fmax(largest, x[i].Power());
    return !(x[0].Power() > kMinRelativeEntry * largest);
  };
  const LinAlgComplex* x = x2;
  if (constant(x2)) {
    x = x1;
  } else if (!constant(x1) && (x2[2] / x2[0]).m_fIm < 0.0) {
    x = x1;
  }
  if (constant(x)) return false;

  // A flat parallelogram (the four points on one line, or on one circle in
  // crossed order) has no affine map onto another.
  const LinAlgComplex w = x[2] / x[0];
  if (!(std::fabs(w.m_fIm) >= kMinAspect * w.Power())) return false;

  const LinAlgComplex zm[4] = {x[0], -(x[0] * p[0]), x[1], x[0] * (p[1] - p[0]) - x[1] * p[1]};
  StoreMobius(zm, Zm);
  return quasiconf_detail::IsRegularMobius(zm);
}
