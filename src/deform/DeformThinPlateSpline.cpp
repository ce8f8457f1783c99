#include "deform/DeformThinPlateSpline.h"

#include <algorithm>
#include <cmath>

#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/WarpixAssert.h"

namespace {

// The squared distance of two points as a complex modulus squared.
double SquaredDistance(const LinAlgComplex& a, const LinAlgComplex& b) {
  const double dx = a.m_fRe - b.m_fRe, dy = a.m_fIm - b.m_fIm;
  return dx * dx + dy * dy;
}

}  // namespace

// The distances from the line through the first centre and the one farthest
// from it are cross products, free of the cancellation a covariance would
// suffer.
DeformThinPlateSpline::Placement DeformThinPlateSpline::CheckPlacement(
    const std::vector<LinAlgComplex>& cen, bool coincidentAllowed) {
  const int m = static_cast<int>(cen.size());
  if (m < 3) return Placement::kTooFew;
  int far = 0;
  for (int i = 0; i < m; ++i) {
    if (!std::isfinite(cen[i].m_fRe) || !std::isfinite(cen[i].m_fIm)) return Placement::kNotFinite;
    if (SquaredDistance(cen[i], cen[0]) > SquaredDistance(cen[far], cen[0])) far = i;
  }
  const double extent = std::sqrt(SquaredDistance(cen[far], cen[0]));
  const double tolerance = kMinRelativeSeparation * extent;
  if (!(extent > 0.0)) return Placement::kOnOneLine;
  const double ex = cen[far].m_fRe - cen[0].m_fRe, ey = cen[far].m_fIm - cen[0].m_fIm;
  double offLine = 0.0;
  for (int i = 0; i < m; ++i) {
    const double dx = cen[i].m_fRe - cen[0].m_fRe, dy = cen[i].m_fIm - cen[0].m_fIm;
    offLine = std::fmax(offLine, std::fabs(ex * dy - ey * dx) / extent);
    if (coincidentAllowed) continue;
    for (int j = i + 1; j < m; ++j)
      if (SquaredDistance(cen[i], cen[j]) <= tolerance * tolerance) return Placement::kCoincident;
  }
  return offLine > tolerance ? Placement::kGood : Placement::kOnOneLine;
}

LinAlgMatrixReal DeformThinPlateSpline::SystemMatrix(const std::vector<LinAlgComplex>& cen,
                                                     double diagonal) {
  const int m = static_cast<int>(cen.size());
  LinAlgMatrixReal L(m + 3, m + 3, 0.0);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) {
      const double s = SquaredDistance(cen[i], cen[j]);
      L(i, j) = s != 0.0 ? s * std::log(s) : 0.0;
    }
    L(i, i) += diagonal;
    L(m, i) = L(i, m) = cen[i].m_fRe;
    L(m + 1, i) = L(i, m + 1) = cen[i].m_fIm;
    L(m + 2, i) = L(i, m + 2) = 1.0;
  }
  return L;
}

bool DeformThinPlateSpline::PrepareTPSCoefficients(std::vector<LinAlgComplex>& cen,
                                                   std::vector<LinAlgComplex>& vals,
                                                   LinAlgVectorComplex& coeffs) {
  const int m = static_cast<int>(cen.size());
  WARPIX_ASSERT(vals.size()>=cen.size());
  WARPIX_ASSERT(coeffs.Rows()==m+3);
  if (CheckPlacement(cen) != Placement::kGood) return false;

  LinAlgMatrixReal L = SystemMatrix(cen);
  // Zero side conditions: sum w = sum w x = sum w y = 0.
  LinAlgVectorReal rx(m + 3, 0.0), ry(m + 3, 0.0), sx(m + 3, 0.0), sy(m + 3, 0.0);
  for (int i = 0; i < m; ++i) {
    rx(i) = vals[i].m_fRe;
    ry(i) = vals[i].m_fIm;
  }
  // The LU solve overwrites the matrix it factorises.
  LinAlgMatrixReal copy(L);
  if (!L.Solve(rx, sx) || !copy.Solve(ry, sy)) return false;
  for (int k = 0; k < m + 3; ++k) {
    if (!std::isfinite(sx(k)) || !std::isfinite(sy(k))) return false;
  }
  for (int k = 0; k < m + 3; ++k) coeffs(k) = LinAlgComplex(sx(k), sy(k));
  return true;
}

LinAlgComplex DeformThinPlateSpline::MapUsignTPS(LinAlgComplex z, std::vector<LinAlgComplex>& cen,
                                                 const LinAlgVectorComplex& coeffs) {
  const int m = coeffs.Rows() - 3;
  WARPIX_ASSERT((int)cen.size()==m);
  double sumRe = 0.0, sumIm = 0.0;
  for (int i = 0; i < m; ++i) {
    const double s = SquaredDistance(z, cen[i]);
    const double u = s > 0.0 ? s * std::log(s) : s;
    sumRe += coeffs(i).m_fRe * u;
    sumIm += u * coeffs(i).m_fIm;
  }
  const double x = z.m_fRe, y = z.m_fIm;
  return LinAlgComplex(coeffs(m).m_fRe * x + coeffs(m + 1).m_fRe * y + coeffs(m + 2).m_fRe + sumRe,
                       coeffs(m).m_fIm * x + coeffs(m + 1).m_fIm * y + coeffs(m + 2).m_fIm + sumIm);
}

DeformThinPlateSpline::Evaluator::Evaluator(const std::vector<LinAlgComplex>& cen,
                                            const LinAlgVectorComplex& coeffs) {
  const int m = coeffs.Rows() - 3;
  WARPIX_ASSERT((int)cen.size()==m);
  m_X.resize(m);
  m_Y.resize(m);
  m_WRe.resize(m);
  m_WIm.resize(m);
  for (int i = 0; i < m; ++i) {
    m_X[i] = cen[i].m_fRe;
    m_Y[i] = cen[i].m_fIm;
    m_WRe[i] = coeffs(i).m_fRe;
    m_WIm[i] = coeffs(i).m_fIm;
  }
  for (int k = 0; k < 3; ++k) {
    m_Affine[2 * k] = coeffs(m + k).m_fRe;
    m_Affine[2 * k + 1] = coeffs(m + k).m_fIm;
  }
}

warpix::SplineArrays DeformThinPlateSpline::Evaluator::Arrays() const {
  return {static_cast<int>(m_X.size()), m_X.data(), m_Y.data(), m_WRe.data(), m_WIm.data(), m_Affine};
}

LinAlgComplex DeformThinPlateSpline::Evaluator::Map(LinAlgComplex z) const {
  if (m_X.empty()) return z;
  double x = z.m_fRe, y = z.m_fIm;
  warpix::SplineMapPoints(Arrays(), 1, &x, &y, &x, &y);
  return LinAlgComplex(x, y);
}

void DeformThinPlateSpline::Evaluator::MapPoints(int count, const double* x, const double* y,
                                                 double* outX, double* outY) const {
  if (m_X.empty()) {
    std::copy(x, x + count, outX);
    std::copy(y, y + count, outY);
    return;
  }
  warpix::SplineMapPoints(Arrays(), count, x, y, outX, outY);
}
