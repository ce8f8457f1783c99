#include "deform/DeformMLS.h"

#include "deform/DeformMLSKernel.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/WarpixAssert.h"

using warpix::kMinRigidScale;
using warpix::kMinSpread;
using warpix::kWeightEpsilon;

namespace {

// The fit of one point from its row W of weights (m = P.Rows() of them):
// the weighted centroids p* and q* of the originals P and targets tP and the
// complex factor a of the least-squares similarity (1 where undetermined).
// False when every weight underflowed.
bool FitPoint(const double* W, LinAlgVectorComplex& P, LinAlgVectorComplex& tP,
              LinAlgComplex& pStar, LinAlgComplex& qStar, LinAlgComplex& a) {
  const int m = P.Rows();
  LinAlgVectorReal w(m, 0.0);
  LinAlgMatrixComplex D(m, m);
  for (int j = 0; j < m; ++j) {
    const double Wij = W[j];
    w(j) = Wij * Wij;
    D(j, j) = LinAlgComplex(Wij, 0.0);
  }
  const double total = w.Norm(1);
  if (!(total > 0.0 && std::isfinite(total))) return false;
  for (int j = 0; j < m; ++j) w(j) /= total;
  const double s = w.Norm(1);

  double pRe = 0.0, pIm = 0.0, qRe = 0.0, qIm = 0.0;
  for (int j = 0; j < m; ++j) {
    pRe += w(j) * P(j).m_fRe;
    pIm += w(j) * P(j).m_fIm;
    qRe += w(j) * tP(j).m_fRe;
    qIm += w(j) * tP(j).m_fIm;
  }
  pStar = LinAlgComplex(pRe / s, pIm / s);
  qStar = LinAlgComplex(qRe / s, qIm / s);

  LinAlgMatrixComplex A(m, 1);
  LinAlgVectorComplex b(m);
  double spread = 0.0;
  for (int j = 0; j < m; ++j) {
    A(j, 0) = P(j) - pStar;
    b(j) = tP(j) - qStar;
    spread += w(j) * A(j, 0).Power() * A(j, 0).Power();
  }

  // Coincident originals (one point, or several on one spot): no rotation
  // or scale can be fitted, so the point only translates.
  a = LinAlgComplex(1.0, 0.0);
  if (spread > kMinSpread * s) {
    LinAlgMatrixComplex DA(m, 1);
    LinAlgVectorComplex Db(m);
    D.Multiply(A, DA);
    D.Multiply(b, Db);
    LinAlgVectorComplex solution(1);
    if (DA.Solve(Db, solution)) a = solution(0);
  }
  return true;
}

}  // namespace

DeformMLS::DeformMLS(R2Image& image, const ZelString& name, MLSErrorType type)
    : Warpixator(image, name), m_ErrorType(type) {}

DeformMLS::~DeformMLS() = default;

void DeformMLS::AddControlPoint(double x, double y, double* outX, double* outY) {
  // Current positions, every vertex; nothing to snap to keeps the click.
  double placedX = x, placedY = y;
  SnapControlPoint(x, y, SnapOptions{}, placedX, placedY);
  Warpixator::AddControlPoint(placedX, placedY, outX, outY);
}

void DeformMLS::PrepareDeformator() {
  if (m_ErrorType == MLS_AFFINE) PrepareAffine();
}

void DeformMLS::PrepareAffine() {
  m_AffineTable.Clear();
  m_AffineUndetermined.clear();
  m_AffineOrig = m_ControlPointsOrigPos;
  m_iAffineVertices = static_cast<int>(m_Vertices.size());
  m_bAffineStretches = false;
  const int m = NumControlPoints();
  if (m_DeformationType != DEFORM_REGULAR_MESH || m == 0 || m_Vertices.empty()) return;
  const double bytes =
      warpix::CoordinateTable::Bytes(static_cast<double>(m_Vertices.size()), m,
                                     warpix::CoordinateTable::Kind::kReal);
  const std::string what = "the affine fit of " + std::to_string(m_Vertices.size()) +
                           " mesh vertices and " + std::to_string(m) + " control points";
  if (!FitsTableLimit(bytes, what.c_str(),
                      "its coefficients are computed anew at every frame, a stretch at a time")) {
    m_bAffineStretches = true;
    return;
  }
  m_AffineTable.Reset(static_cast<int>(m_Vertices.size()), m,
                      warpix::CoordinateTable::Kind::kReal);
  warpix::MLSAffineTable(m_ControlPointsOrigPos, m_Vertices.data(),
                         static_cast<int>(m_Vertices.size()), 0, m_AffineTable,
                         m_AffineUndetermined);
}

void DeformMLS::DeformAffine() {
  // The coefficients belong to the originals and the mesh they were made for.
  if (m_AffineOrig != m_ControlPointsOrigPos ||
      m_iAffineVertices != static_cast<int>(m_Vertices.size())) {
    PrepareAffine();
  }
  const double* targets = m_ControlPointsNewPos.data();
  if (!m_bAffineStretches) {
    m_AffineTable.Apply(targets, m_Vertices);
  } else {
    // Beyond the table limit: the same coefficients, one stretch at a time.
    m_AffineUndetermined.clear();
    const int n = static_cast<int>(m_Vertices.size());
    for (int first = 0; first < n; first += kAffineStretch) {
      const int count = std::min(kAffineStretch, n - first);
      m_AffineTable.Reset(count, NumControlPoints(), warpix::CoordinateTable::Kind::kReal);
      warpix::MLSAffineTable(m_ControlPointsOrigPos, m_Vertices.data() + first, count, first,
                             m_AffineTable, m_AffineUndetermined);
      m_AffineTable.Apply(targets, m_Vertices.data() + first, count);
    }
    m_AffineTable.Clear();
  }
  FitUndeterminedBySimilarity();
}

void DeformMLS::FitUndeterminedBySimilarity() {
  if (m_AffineUndetermined.empty()) return;
  m_Undetermined.clear();
  for (int k : m_AffineUndetermined) m_Undetermined.push_back(m_Vertices[k]);
  warpix::MLSFitVertices(m_ControlPointsOrigPos, m_ControlPointsNewPos, false, m_Weights,
                         m_Undetermined);
  for (size_t k = 0; k < m_Undetermined.size(); ++k) {
    m_Vertices[m_AffineUndetermined[k]] = m_Undetermined[k];
  }
}

void DeformMLS::Deform() {
  if (!m_bNeedsUpdate) return;
  m_bNeedsUpdate = false;
  // Pixel mode shows the undeformed image: there is no mesh to move.
  if (m_DeformationType != DEFORM_REGULAR_MESH) return;
  WARPIX_ASSERT(m_ControlPointsNewPos.size()==m_ControlPointsOrigPos.size());

  if (m_ControlPointsOrigPos.empty()) {
    for (ImgVertex& vertex : m_Vertices) {
      vertex.m_fX = vertex.m_fRestX;
      vertex.m_fY = vertex.m_fRestY;
    }
    return;
  }
  if (m_ErrorType == MLS_AFFINE) {
    DeformAffine();
    return;
  }
  ClosedMLSFast(m_ControlPointsOrigPos, m_ControlPointsNewPos, m_Vertices);
}

void DeformMLS::MapPoint(double, double, double&, double&) {
  // Only mesh vertices are mapped, by Deform; callers ask MapsPoints() first.
  WARPIX_ASSERT(false);
}

bool DeformMLS::MapsPoints() const { return false; }

void DeformMLS::MapMeshVertices() {}

void DeformMLS::QCONF_closed_MLS(LinAlgVectorComplex& P, LinAlgVectorComplex& tP,
                                 LinAlgVectorComplex& X, LinAlgVectorComplex& tX) {
  WARPIX_ASSERT(tP.Rows()==P.Rows());
  WARPIX_ASSERT(tX.Rows()==X.Rows());
  const int m = P.Rows();
  const int n = X.Rows();

  // W(i, j) = 1 / (|P[j] - X[i]| + 1e-6), row i for point i.
  std::vector<double> W(static_cast<size_t>(n) * m);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < m; ++j) {
      W[static_cast<size_t>(i) * m + j] = 1.0 / ((P(j) - X(i)).Power() + kWeightEpsilon);
    }
  }

  for (int i = 0; i < n; ++i) {
    LinAlgComplex pStar, qStar, a;
    if (!FitPoint(&W[static_cast<size_t>(i) * m], P, tP, pStar, qStar, a)) {
      tX(i) = X(i);  // all weights underflowed: no fit, the point stays
      continue;
    }

    switch (m_ErrorType) {
      case MLS_FIT_SIMILARITY:
        tX(i) = (X(i) - pStar) * a + qStar;
        break;
      case MLS_RIGID: {
        // Targets collapsed onto one point leave the rotation undetermined.
        const double modulus = a.Power();
        const LinAlgComplex rotation =
            modulus > kMinRigidScale ? a / modulus : LinAlgComplex(1.0, 0.0);
        tX(i) = (X(i) - pStar) * rotation + qStar;
        break;
      }
      default:
        WARPIX_ASSERT(false);
    }
  }
}

void DeformMLS::ClosedMLSFast(const std::vector<double>& orig, const std::vector<double>& target,
                              std::vector<ImgVertex>& vertices) {
  WARPIX_ASSERT(target.size()==orig.size());
  WARPIX_ASSERT(m_ErrorType == MLS_FIT_SIMILARITY || m_ErrorType == MLS_RIGID);
  warpix::MLSFitVertices(orig, target, m_ErrorType == MLS_RIGID, m_Weights, vertices);
}
