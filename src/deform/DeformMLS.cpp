#include "deform/DeformMLS.h"

#include <cmath>
#include <iostream>

#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/DoubleLanes.h"
#include "support/WarpixAssert.h"

namespace {

// Keeps the weight finite for a point lying on a control point.
constexpr double kWeightEpsilon = 1e-6;

// Below this weighted variance of the original points about p* (squared
// unit-square lengths) they count as coincident: rounding noise would
// otherwise be fitted as a huge scale. Real spreads are many orders larger.
constexpr double kMinSpread = 1e-24;

// A fitted |a| below this leaves the rigid rotation undetermined (targets
// collapsed onto one point); the rotation is then kept at 1.
constexpr double kMinRigidScale = 1e-12;

// Four vertices fitted side by side, one per lane (Lanes4), and the vertices
// left over one by one (Lanes1): every per-vertex sum keeps its order, so the
// results equal a one-vertex loop bit for bit.
using Pack = warpix::Lanes4;
using Single = warpix::Lanes1;

// The closed-form fit for P::kLanes vertices (rest positions x, y; images to
// outX, outY) from m original points p and targets q, flat (x0, y0, x1, ...).
// weights holds m * P::kLanes scratch values.
template <class P>
void FitLanes(const double* p, const double* q, int m, bool rigid, double* weights,
              const double* x, const double* y, double* outX, double* outY) {
  constexpr int L = P::kLanes;
  const P X = P::Load(x), Y = P::Load(y);

  // Weights w_j = W(i, j)^2 and weighted centroids p*, q*.
  const P zero = P::Splat(0.0), one = P::Splat(1.0), epsilon = P::Splat(kWeightEpsilon);
  P sum = zero, pX = zero, pY = zero, qX = zero, qY = zero;
  for (int j = 0; j < m; ++j) {
    const P px = P::Splat(p[2 * j]), py = P::Splat(p[2 * j + 1]);
    const P dx = px - X;
    const P dy = py - Y;
    const P W = one / (Sqrt(dx * dx + dy * dy) + epsilon);
    const P w = W * W;
    w.Store(weights + static_cast<size_t>(j) * L);
    sum = sum + w;
    pX = pX + w * px;
    pY = pY + w * py;
    qX = qX + w * P::Splat(q[2 * j]);
    qY = qY + w * P::Splat(q[2 * j + 1]);
  }
  pX = pX / sum;
  pY = pY / sum;
  qX = qX / sum;
  qY = qY / sum;

  // a = sum_j w_j conj(p^_j) q^_j / sum_j w_j |p^_j|^2 on the centred points.
  P numRe = zero, numIm = zero, den = zero;
  for (int j = 0; j < m; ++j) {
    const P w = P::Load(weights + static_cast<size_t>(j) * L);
    const P ax = P::Splat(p[2 * j]) - pX;
    const P ay = P::Splat(p[2 * j + 1]) - pY;
    const P bx = P::Splat(q[2 * j]) - qX;
    const P by = P::Splat(q[2 * j + 1]) - qY;
    den = den + w * (ax * ax + ay * ay);
    numRe = numRe + w * (ax * bx + ay * by);
    numIm = numIm + w * (ax * by - ay * bx);
  }

  double lane[8][L];
  sum.Store(lane[0]);
  pX.Store(lane[1]);
  pY.Store(lane[2]);
  qX.Store(lane[3]);
  qY.Store(lane[4]);
  den.Store(lane[5]);
  numRe.Store(lane[6]);
  numIm.Store(lane[7]);
  for (int l = 0; l < L; ++l) {
    // Weights that all underflowed (control points astronomically far away)
    // define no fit: the vertex stays at rest.
    if (!(lane[0][l] > 0.0 && std::isfinite(lane[0][l]))) {
      outX[l] = x[l];
      outY[l] = y[l];
      continue;
    }
    // Coincident originals: translation only.
    const bool determined = lane[5][l] > kMinSpread * lane[0][l];
    double aRe = determined ? lane[6][l] / lane[5][l] : 1.0;
    double aIm = determined ? lane[7][l] / lane[5][l] : 0.0;
    if (rigid) {
      const double modulus = std::sqrt(aRe * aRe + aIm * aIm);
      const bool rotates = modulus > kMinRigidScale;
      aRe = rotates ? aRe / modulus : 1.0;
      aIm = rotates ? aIm / modulus : 0.0;
    }
    const double cx = x[l] - lane[1][l];
    const double cy = y[l] - lane[2][l];
    outX[l] = cx * aRe - cy * aIm + lane[3][l];
    outY[l] = cx * aIm + cy * aRe + lane[4][l];
  }
}

}  // namespace

DeformMLS::DeformMLS(R2Image& image, const ZelString& name, MLSErrorType type)
    : Warpixator(image, name), m_ErrorType(type) {}

DeformMLS::~DeformMLS() = default;

void DeformMLS::AddControlPoint(double x, double y, double* outX, double* outY) {
  // Nothing to snap to: keep the clicked position, like the base.
  if (m_DeformationType != DEFORM_REGULAR_MESH || m_Vertices.empty()) {
    Warpixator::AddControlPoint(x, y, outX, outY);
    return;
  }

  const int ctrlToVertex = NearestVertex(x, y);
  // Every finite distance is below FLT_MAX; only NaN clicks find nothing.
  if (ctrlToVertex < 0 || ctrlToVertex >= static_cast<int>(m_Vertices.size())) {
    Warpixator::AddControlPoint(x, y, outX, outY);
    return;
  }
  const double placedX = m_Vertices[ctrlToVertex].m_fX;
  const double placedY = m_Vertices[ctrlToVertex].m_fY;
  std::cout << "actual=[" << placedX << ", " << placedY << "]" << std::endl;
  Warpixator::AddControlPoint(placedX, placedY, outX, outY);
}

void DeformMLS::PrepareDeformator() {}

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
  ClosedMLSFast(m_ControlPointsOrigPos, m_ControlPointsNewPos, m_Vertices);
}

void DeformMLS::MapPoint(double, double, double&, double&) {
  // Only mesh vertices are mapped, by Deform; no caller reaches this.
  WARPIX_ASSERT(false);
}

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
    LinAlgVectorReal w(m, 0.0);
    LinAlgMatrixComplex D(m, m);
    for (int j = 0; j < m; ++j) {
      const double Wij = W[static_cast<size_t>(i) * m + j];
      w(j) = Wij * Wij;
      D(j, j) = LinAlgComplex(Wij, 0.0);
    }
    const double total = w.Norm(1);
    if (!(total > 0.0 && std::isfinite(total))) {
      tX(i) = X(i);  // all weights underflowed: no fit, the point stays
      continue;
    }
    for (int j = 0; j < m; ++j) w(j) /= total;
    const double s = w.Norm(1);

    double pRe = 0.0, pIm = 0.0, qRe = 0.0, qIm = 0.0;
    for (int j = 0; j < m; ++j) {
      pRe += w(j) * P(j).m_fRe;
      pIm += w(j) * P(j).m_fIm;
      qRe += w(j) * tP(j).m_fRe;
      qIm += w(j) * tP(j).m_fIm;
    }
    const LinAlgComplex pStar(pRe / s, pIm / s);
    const LinAlgComplex qStar(qRe / s, qIm / s);

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
    LinAlgComplex a(1.0, 0.0);
    if (spread > kMinSpread * s) {
      LinAlgMatrixComplex DA(m, 1);
      LinAlgVectorComplex Db(m);
      D.Multiply(A, DA);
      D.Multiply(b, Db);
      LinAlgVectorComplex solution(1);
      if (DA.Solve(Db, solution)) a = solution(0);
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
  const int m = static_cast<int>(orig.size() / 2);
  if (m == 0) return;
  constexpr int kLanes = Pack::kLanes;
  m_Weights.resize(static_cast<size_t>(m) * kLanes);
  const bool rigid = m_ErrorType == MLS_RIGID;
  const int n = static_cast<int>(vertices.size());

  double x[kLanes], y[kLanes], outX[kLanes], outY[kLanes];
  int first = 0;
  for (; first + kLanes <= n; first += kLanes) {
    for (int l = 0; l < kLanes; ++l) {
      x[l] = vertices[first + l].m_fRestX;
      y[l] = vertices[first + l].m_fRestY;
    }
    FitLanes<Pack>(orig.data(), target.data(), m, rigid, m_Weights.data(), x, y, outX, outY);
    for (int l = 0; l < kLanes; ++l) {
      vertices[first + l].m_fX = outX[l];
      vertices[first + l].m_fY = outY[l];
    }
  }
  for (; first < n; ++first) {
    ImgVertex& vertex = vertices[first];
    FitLanes<Single>(orig.data(), target.data(), m, rigid, m_Weights.data(), &vertex.m_fRestX,
                     &vertex.m_fRestY, &vertex.m_fX, &vertex.m_fY);
  }
}
