// The intermediate operators of the quasi-conformal family (the R-linear map
// between parallelograms, mean value coordinates between the normalised
// polygons) and the per-vertex scheme of operator 4, documented and fast.
#include <cmath>
#include <memory>

#include "deform/DeformMeanValueCoords.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "support/WarpixAssert.h"

using namespace quasiconf_detail;

namespace {

// Keeps a weight finite for a vertex lying on a control point.
constexpr double kWeightEpsilon = 1e-6;

// 1 / (sqrt|P - c| + 1e-6): the square root of the distance, not the distance.
inline double MLSWeight(LinAlgComplex vertex, LinAlgComplex ctrl) {
  return 1.0 / (std::sqrt((vertex - ctrl).Power()) + kWeightEpsilon);
}

}  // namespace

namespace quasiconf_detail {

FastFitWork::FastFitWork(int n) : N(n), G(n), A(n, 6), S(n < 6 ? n : 6), Vt(6, 6) {
  for (int k = 0; k < n; ++k) G[k] = LinAlgComplex(0.0, k * (kTwoPi / n)).Exp();
}

bool FastWeightedFit(const LinAlgComplex* z, const double* w, FastFitWork& work,
                     LinAlgComplex* zm) {
  const int N = work.N;
  if (N < 3) return false;
  if (N == 3) {
    ExactTriangleMobius(z, work.G.data(), zm);
    return IsRegularMobius(zm);
  }
  // The weighted system row by row: the diagonal product of the documented
  // fit is a row scaling.
  for (int k = 0; k < N; ++k) NgonRow(z[k], work.G[k], w[k], &work.A(k, 0), N);
  if (!work.A.RightSingularVectorsDestructive(work.S, work.Vt)) return false;
  LinAlgComplex u[6], v[6], x1[6], x2[6];
  for (int i = 0; i < 6; ++i) {
    u[i] = work.Vt(4, i).Conjugate();
    v[i] = work.Vt(5, i).Conjugate();
  }
  QuadraticSelect(u, v, 6, 2, 5, 3, 4, x1, x2);
  const LinAlgComplex* x = LessSheared(x1, x2);
  for (int i = 0; i < 4; ++i) zm[i] = x[i];
  return IsRegularMobius(zm);
}

}  // namespace quasiconf_detail

bool DeformQuasiConf::FillAffineOn4Pnt(LinAlgVectorComplex& tZ, LinAlgVectorComplex& tW) {
  WARPIX_ASSERT(tZ.Rows()==tW.Rows());
  if (tZ.Rows() <= 3) return true;
  const LinAlgComplex A = tZ(1) - tZ(0), B = tZ(2) - tZ(1);
  const LinAlgComplex C = tW(1) - tW(0), D = tW(2) - tW(1);

  // det [[A, conj A], [B, conj B]] = 2i Im(A conj B): zero when the first
  // three normalised originals are collinear.
  const double det = std::fabs((A * B.Conjugate()).m_fIm);
  const double norm2 = A.Power() * A.Power() + B.Power() * B.Power();
  if (!(det >= kMinAspect * norm2)) return false;

  LinAlgMatrixComplex system(2, 2);
  system(0, 0) = A;
  system(0, 1) = A.Conjugate();
  system(1, 0) = B;
  system(1, 1) = B.Conjugate();
  if (!system.Inverse()) return false;
  LinAlgVectorComplex rhs(2), ab(2);
  rhs(0) = C;
  rhs(1) = D;
  system.Multiply(rhs, ab);
  for (int i = 0; i < 2; ++i) {
    if (!std::isfinite(ab(i).m_fRe) || !std::isfinite(ab(i).m_fIm)) return false;
  }
  m_LinearMap(0, 0) = ab(0).m_fRe;
  m_LinearMap(0, 1) = ab(0).m_fIm;
  m_LinearMap(1, 0) = ab(1).m_fRe;
  m_LinearMap(1, 1) = ab(1).m_fIm;
  return true;
}

LinAlgComplex DeformQuasiConf::LinearTransform(LinAlgComplex z) {
  const LinAlgComplex alpha(m_LinearMap(0, 0), m_LinearMap(0, 1));
  const LinAlgComplex beta(m_LinearMap(1, 0), m_LinearMap(1, 1));
  return alpha * z + beta * z.Conjugate();
}

void DeformQuasiConf::FillNPointInterpMVC(LinAlgVectorComplex& src, LinAlgVectorComplex& dst) {
  m_MVCSource.clear();
  m_MVCTarget.clear();
  for (int i = 0; i < src.Rows(); ++i) {
    m_MVCSource.push_back(src(i).m_fRe);
    m_MVCSource.push_back(src(i).m_fIm);
  }
  for (int i = 0; i < dst.Rows(); ++i) {
    m_MVCTarget.push_back(dst(i).m_fRe);
    m_MVCTarget.push_back(dst(i).m_fIm);
  }
}

LinAlgComplex DeformQuasiConf::MVCTransform(LinAlgComplex z) {
  // No polygon (fewer than three points): the identity.
  if (m_MVCSource.size() < 6 || m_MVCSource.size() != m_MVCTarget.size()) return z;
  std::vector<double> weights;
  double x = 0.0, y = 0.0;
  if (DeformMeanValueCoords::CalcMVC(m_MVCSource, z.m_fRe, z.m_fIm, weights)) {
    DeformMeanValueCoords::Interpolate(m_MVCTarget, weights, x, y);
    if (std::isfinite(x) && std::isfinite(y)) return LinAlgComplex(x, y);
  }
  // Coordinates without a usable normalisation (a point where the signed
  // angles of a self-crossing polygon cancel): move by the mean displacement.
  const size_t n = m_MVCSource.size() / 2;
  double shiftX = 0.0, shiftY = 0.0;
  for (size_t k = 0; k < n; ++k) {
    shiftX += m_MVCTarget[2 * k] - m_MVCSource[2 * k];
    shiftY += m_MVCTarget[2 * k + 1] - m_MVCSource[2 * k + 1];
  }
  return LinAlgComplex(z.m_fRe + shiftX / n, z.m_fIm + shiftY / n);
}

bool DeformQuasiConf::QCONF_FPI_MLS(LinAlgVectorComplex& ctrlOrig, LinAlgVectorComplex& ctrlNew,
                                    LinAlgVectorComplex& P, LinAlgVectorComplex& tP) {
  const int n = ctrlOrig.Rows();
  const int count = P.Rows();
  WARPIX_ASSERT(ctrlNew.Rows()==n);
  WARPIX_ASSERT(m_pWeights && m_pWeights->Rows()==count && m_pWeights->Cols()==n);
  WARPIX_ASSERT(m_pWeightRow && m_pWeightRow->Rows()==n);

  for (int k = 0; k < count; ++k)
    for (int j = 0; j < n; ++j) (*m_pWeights)(k, j) = MLSWeight(P(k), ctrlOrig(j));
  WARPIX_ASSERT(tP.Rows()==P.Rows());

  for (int k = 0; k < count; ++k) {
    LinAlgVectorReal& w = *m_pWeightRow;
    for (int j = 0; j < n; ++j) w(j) = (*m_pWeights)(k, j);
    const double sum = w.Norm(1.0);
    for (int j = 0; j < n; ++j) w(j) /= sum;

    *m_pLocalOrig = ctrlOrig;
    *m_pLocalNew = ctrlNew;
    *m_pWeightFit = w;
    if (!QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(*m_pLocalOrig, *m_pWeightFit,
                                                       *m_pMobiusOrigLocal) ||
        !QCONF_take_polygon_to_affine_ngon_WEIGHTED_LS(*m_pLocalNew, *m_pWeightFit,
                                                       *m_pMobiusNewLocal)) {
      return false;
    }
    CORR_apply_mobius_as_matrix(*m_pMobiusOrigLocal, *m_pLocalOrig, *m_pNormOrig);
    CORR_apply_mobius_as_matrix(*m_pMobiusNewLocal, *m_pLocalNew, *m_pNormNew);
    // Normalised originals on a line leave the R-linear fit undetermined;
    // normalised targets on a line would fold the picture onto one curve.
    if (IsFlat(&(*m_pNormOrig)(0), n) || IsFlat(&(*m_pNormNew)(0), n)) return false;

    for (int j = 0; j < n; ++j) {
      const LinAlgComplex q = (*m_pNormOrig)(j);
      (*m_pDesign)(j, 0) = LinAlgComplex(1.0, 0.0);
      (*m_pDesign)(j, 1) = q;
      (*m_pDesign)(j, 2) = q.Conjugate();
      (*m_pWeightDiag)(j, j) = LinAlgComplex(w(j), 0.0);
    }
    m_pWeightDiag->Multiply(*m_pDesign, *m_pWeightedDesign);
    m_pWeightDiag->Multiply(*m_pNormNew, *m_pWeightedRhs);
    if (!m_pWeightedDesign->Solve(*m_pWeightedRhs, *m_pFitCoeffs)) return false;

    const LinAlgComplex z = MobiusTransform(*m_pMobiusOrigLocal, P(k));
    const LinAlgComplex zFit =
        (*m_pFitCoeffs)(0) + (*m_pFitCoeffs)(1) * z + (*m_pFitCoeffs)(2) * z.Conjugate();
    if (!m_pMobiusNewLocal->Inverse()) return false;
    tP(k) = MobiusTransform(*m_pMobiusNewLocal, zFit);
    if (!std::isfinite(tP(k).m_fRe) || !std::isfinite(tP(k).m_fIm)) return false;
  }
  return true;
}

void DeformQuasiConf::ReleaseMLSWorkSet() {
  m_pCtrlOrig.reset();
  m_pCtrlNew.reset();
  m_pVertRest.reset();
  m_pVertOut.reset();
  m_pMobiusOrigLocal.reset();
  m_pMobiusNewLocal.reset();
  m_pDesign.reset();
  m_pFitCoeffs.reset();
  m_pWeightRow.reset();
  m_pWeightFit.reset();
  m_pLocalOrig.reset();
  m_pLocalNew.reset();
  m_pNormOrig.reset();
  m_pNormNew.reset();
  m_pWeightDiag.reset();
  m_pWeightedDesign.reset();
  m_pWeightedRhs.reset();
  m_pWeights.reset();
  m_pFastFit.reset();
  m_FastWeights.clear();
  m_FastLocalVertex.clear();
  m_FastCoeffs.clear();
}

bool DeformQuasiConf::PrepareMLS() {
  ReleaseMLSWorkSet();
  const int n = NumControlPoints();
  const int count = static_cast<int>(m_Vertices.size());
  if (n < 3 || count == 0) return false;

  // The documented work set: every entry a heap object of the sizes of this
  // preparation.
  m_pCtrlOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pCtrlNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pVertRest = std::make_unique<LinAlgVectorComplex>(count);
  m_pVertOut = std::make_unique<LinAlgVectorComplex>(count);
  m_pMobiusOrigLocal = std::make_unique<LinAlgMatrixComplex>(2, 2);
  m_pMobiusNewLocal = std::make_unique<LinAlgMatrixComplex>(2, 2);
  m_pDesign = std::make_unique<LinAlgMatrixComplex>(n, 3);
  m_pFitCoeffs = std::make_unique<LinAlgVectorComplex>(3);
  m_pWeightRow = std::make_unique<LinAlgVectorReal>(n, 0.0);
  m_pWeightFit = std::make_unique<LinAlgVectorReal>(n, 0.0);
  m_pLocalOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pLocalNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pNormOrig = std::make_unique<LinAlgVectorComplex>(n);
  m_pNormNew = std::make_unique<LinAlgVectorComplex>(n);
  m_pWeightDiag = std::make_unique<LinAlgMatrixComplex>(n, n);
  m_pWeightedDesign = std::make_unique<LinAlgMatrixComplex>(n, 3);
  m_pWeightedRhs = std::make_unique<LinAlgVectorComplex>(n);
  m_pWeights = std::make_unique<LinAlgMatrixReal>(count, n, 0.0);
  for (int j = 0; j < n; ++j) {
    (*m_pCtrlOrig)(j) = LinAlgComplex(m_ControlPointsOrigPos[2 * j], m_ControlPointsOrigPos[2 * j + 1]);
    (*m_pCtrlNew)(j) = LinAlgComplex(m_ControlPointsNewPos[2 * j], m_ControlPointsNewPos[2 * j + 1]);
  }
  for (int k = 0; k < count; ++k) {
    (*m_pVertRest)(k) = LinAlgComplex(m_Vertices[k].m_fRestX, m_Vertices[k].m_fRestY);
  }

  // Everything of the per-vertex fit that does not depend on the targets:
  // weights, the local normalisation of the originals, the vertex in that
  // frame, and the weighted least-squares solve as a 3 x n matrix.
  m_pFastFit = std::make_unique<FastFitWork>(n);
  m_FastWeights.assign(static_cast<size_t>(count) * n, 0.0);
  m_FastLocalVertex.assign(count, LinAlgComplex());
  m_FastCoeffs.assign(static_cast<size_t>(count) * 3 * n, LinAlgComplex());
  std::vector<LinAlgComplex> q(n);
  LinAlgMatrixComplex design(n, 3), rhs(n, n), solution(3, n);
  const LinAlgComplex* ctrl = &(*m_pCtrlOrig)(0);
  for (int k = 0; k < count; ++k) {
    const LinAlgComplex vertex = (*m_pVertRest)(k);
    double* w = &m_FastWeights[static_cast<size_t>(k) * n];
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      w[j] = MLSWeight(vertex, ctrl[j]);
      (*m_pWeights)(k, j) = w[j];
      sum += w[j];
    }
    for (int j = 0; j < n; ++j) w[j] /= sum;

    LinAlgComplex zm[4];
    if (!FastWeightedFit(ctrl, w, *m_pFastFit, zm)) return false;
    for (int j = 0; j < n; ++j) q[j] = Mobius(zm, ctrl[j]);
    if (IsFlat(q.data(), n)) return false;
    m_FastLocalVertex[k] = Mobius(zm, vertex);

    // c = (W D)^+ W t: one QR with the weights' diagonal as right-hand sides.
    for (int j = 0; j < n; ++j) {
      design(j, 0) = LinAlgComplex(w[j], 0.0) * LinAlgComplex(1.0, 0.0);
      design(j, 1) = LinAlgComplex(w[j], 0.0) * q[j];
      design(j, 2) = LinAlgComplex(w[j], 0.0) * q[j].Conjugate();
      for (int i = 0; i < n; ++i) rhs(i, j) = LinAlgComplex(i == j ? w[j] : 0.0, 0.0);
    }
    if (!design.LeastSquaresQRDestructive(rhs, solution)) return false;
    LinAlgComplex* coeffs = &m_FastCoeffs[static_cast<size_t>(k) * 3 * n];
    for (int j = 0; j < n; ++j)
      for (int r = 0; r < 3; ++r) coeffs[r + 3 * j] = solution(r, j);
  }
  return true;
}

bool DeformQuasiConf::FastFPIMLS(const std::vector<double>& targets, LinAlgVectorComplex& tP) {
  if (!m_pFastFit || !m_pCtrlOrig) return false;
  const int n = m_pFastFit->N;
  const int count = static_cast<int>(m_FastLocalVertex.size());
  WARPIX_ASSERT(tP.Rows()==count);
  WARPIX_ASSERT(static_cast<int>(targets.size())==2*n);

  std::vector<LinAlgComplex> t(n), tq(n);
  for (int j = 0; j < n; ++j) t[j] = LinAlgComplex(targets[2 * j], targets[2 * j + 1]);
  for (int k = 0; k < count; ++k) {
    LinAlgComplex zm[4];
    if (!FastWeightedFit(t.data(), &m_FastWeights[static_cast<size_t>(k) * n], *m_pFastFit, zm)) {
      return false;
    }
    for (int j = 0; j < n; ++j) tq[j] = Mobius(zm, t[j]);
    if (IsFlat(tq.data(), n)) return false;
    const LinAlgComplex* coeffs = &m_FastCoeffs[static_cast<size_t>(k) * 3 * n];
    LinAlgComplex c[3];
    for (int j = 0; j < n; ++j)
      for (int r = 0; r < 3; ++r) c[r] += coeffs[r + 3 * j] * tq[j];
    const LinAlgComplex z = m_FastLocalVertex[k];
    const LinAlgComplex zFit = c[0] + c[1] * z + c[2] * z.Conjugate();
    // The inverse Mobius map through the adjugate: the same map as the
    // inverse matrix, which differs only by the factor 1/det.
    const LinAlgComplex inverse[4] = {zm[3], -zm[1], -zm[2], zm[0]};
    const LinAlgComplex out = Mobius(inverse, zFit);
    if (!std::isfinite(out.m_fRe) || !std::isfinite(out.m_fIm)) return false;
    tP(k) = out;
  }
  return true;
}
