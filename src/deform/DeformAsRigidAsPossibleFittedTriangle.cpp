// The triangle of step 2: similar to one face's rest shape, fitted by least
// squares to the corners step 1 gives.
#include <cmath>

#include "deform/AsRigidAsPossibleDetail.h"
#include "deform/DeformAsRigidAsPossible.h"

using arap_detail::LocalCoordinates;
using arap_detail::ReproductionTolerance;
using arap_detail::zelAbs;

namespace {

// RMS distance of three corners from their centroid.
double RmsSize(double x0, double y0, double x1, double y1, double x2, double y2) {
  const double mx = (x0 + x1 + x2) / 3, my = (y0 + y1 + y2) / 3;
  const double s = (x0 - mx) * (x0 - mx) + (y0 - my) * (y0 - my) + (x1 - mx) * (x1 - mx) +
                   (y1 - my) * (y1 - my) + (x2 - mx) * (x2 - mx) + (y2 - my) * (y2 - my);
  return std::sqrt(s / 3);
}

}  // namespace

DeformAsRigidAsPossible::FittedTriangle::FittedTriangle(ImgVertex v0, ImgVertex v1, ImgVertex v2,
                                                        int face)
    : m_iFace(face),
      m_pB(std::make_unique<LinAlgVectorReal>(4, 0.0)),
      m_pX(std::make_unique<LinAlgVectorReal>(4, 0.0)),
      m_pF(std::make_unique<LinAlgMatrixReal>(4, 4, 0.0)),
      m_fRestEdge(std::hypot(v1.m_fX - v0.m_fX, v1.m_fY - v0.m_fY)) {
  double a = 0.0, b = 0.0;
  if (!LocalCoordinates(v0.m_fX, v0.m_fY, v1.m_fX, v1.m_fY, v2.m_fX, v2.m_fY, a, b)) {
    m_bValid = false;
    return;
  }
  if (!FillMatrixF(a, b)) {
    m_bValid = false;
    return;
  }
  // The fit of the shape's own corners must give them back; a triangle too
  // thin for double precision (local coordinates of 1e5 and more: the
  // normal matrix then has entries of 1e10 beside 4) does not, and its fit
  // would pull step 2 towards a wrong shape.
  GetFittedTriangle(v0.m_fX, v0.m_fY, v1.m_fX, v1.m_fY, v2.m_fX, v2.m_fY);
  const double x0 = v0.m_fX, y0 = v0.m_fY, x1 = v1.m_fX, y1 = v1.m_fY, x2 = v2.m_fX, y2 = v2.m_fY;
  const double relative0 = ReproductionTolerance(
      std::max({zelAbs(x0), zelAbs(y0), zelAbs(x1), zelAbs(y1), zelAbs(x2), zelAbs(y2)}));
  m_bValid = zelAbs(x0 - x0f) < relative0 && zelAbs(y0 - y0f) < relative0 &&
             zelAbs(x1 - x1f) < relative0 && zelAbs(y1 - y1f) < relative0 &&
             zelAbs(x2 - x2f) < relative0 && zelAbs(y2 - y2f) < relative0;
}

bool DeformAsRigidAsPossible::FittedTriangle::FillMatrixF(double x, double y) {
  x01 = x;
  y01 = y;
  LinAlgMatrixReal& F = *m_pF;
  const double d0 = 4 - 4 * x + 2 * x * x + 2 * y * y;
  const double c = 2 * x - 2 * x * x - 2 * y * y;
  const double d2 = 2 + 2 * x * x + 2 * y * y;
  const double rows[4][4] = {
      {d0, 0, c, 2 * y}, {0, d0, -2 * y, c}, {c, -2 * y, d2, 0}, {2 * y, c, 0, d2}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) F(i, j) = rows[i][j];
  // Positive definite for every finite shape: the first two corners' terms
  // alone make the fit strictly convex. In double precision a very thin
  // shape can still make it singular.
  return F.Inverse();
}

void DeformAsRigidAsPossible::FittedTriangle::GetFittedTriangle(double x0, double y0, double x1,
                                                                double y1, double x2, double y2,
                                                                ScaleRule rule) {
  if (!m_bValid) {
    x0f = x0, y0f = y0, x1f = x1, y1f = y1, x2f = x2, y2f = y2;
    return;
  }
  const double x = x01, y = y01;
  LinAlgVectorReal& B = *m_pB;
  B(0) = 2 * x0 + 2 * (1 - x) * x2 + 2 * y * y2;
  B(1) = 2 * y0 + 2 * (1 - x) * y2 - 2 * y * x2;
  B(2) = 2 * x1 + 2 * x * x2 - 2 * y * y2;
  B(3) = 2 * y1 + 2 * x * y2 + 2 * y * x2;
  m_pF->Multiply(B, *m_pX);
  const LinAlgVectorReal& X = *m_pX;
  x0f = X(0), y0f = X(1), x1f = X(2), y1f = X(3);
  x2f = x0f + x * (x1f - x0f) + y * (y1f - y0f);
  y2f = y0f + x * (y1f - y0f) + y * (x0f - x1f);

  double s = 1.0;
  if (rule == ScaleRule::kRest) {
    // The fitted triangle is similar to the rest shape: scaled to the rest
    // first edge it is the rest triangle, rotated and moved. One of no size
    // is kept: the corners of a mirror image of the rest shape fit to a
    // point, whose first edge is rounding noise and gives no direction.
    const double fittedEdge = std::hypot(x0f - x1f, y0f - y1f);
    if (fittedEdge > kNoSize * m_fRestEdge) s = m_fRestEdge / fittedEdge;
    if (!std::isfinite(s)) s = 1.0;
  } else {
    s = std::hypot(x0f - x1f, y0f - y1f) / std::hypot(x0 - x1, y0 - y1);
    if (!(s <= kMaxEdgeScale)) {
      // A collapsed or nearly collapsed first edge: the whole triangles' sizes.
      s = RmsSize(x0f, y0f, x1f, y1f, x2f, y2f) / RmsSize(x0, y0, x1, y1, x2, y2);
      if (!(s <= kMaxEdgeScale)) s = 1.0;
    }
  }
  const double mx = (x0f + x1f + x2f) / 3, my = (y0f + y1f + y2f) / 3;
  x0f = mx + s * (x0f - mx), y0f = my + s * (y0f - my);
  x1f = mx + s * (x1f - mx), y1f = my + s * (y1f - my);
  x2f = mx + s * (x2f - mx), y2f = my + s * (y2f - my);
}
