#include "deform/DeformAsRigidAsPossible.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iostream>
#include <string>

#include "deform/quasiconf/DeformQuasiConf.h"
#include "support/WarpixAssert.h"

namespace {

template <class T>
T zelAbs(T value) {
  return value < 0 ? -value : value;
}

// Local coordinates of d in the frame of the edge a -> b (from unit edge
// directions, scaled by |d - a| / |b - a|). False when the edge has no
// length or a coordinate is not finite.
bool LocalCoordinates(double ax, double ay, double bx, double by, double dx, double dy,
                      double& x01, double& y01) {
  const double ex = bx - ax, ey = by - ay, fx = dx - ax, fy = dy - ay;
  const double le = std::sqrt(ex * ex + ey * ey), lf = std::sqrt(fx * fx + fy * fy);
  if (!(le > 0.0) || !std::isfinite(le) || !std::isfinite(lf)) return false;
  if (lf == 0.0) {
    x01 = y01 = 0.0;
    return true;
  }
  const double ux = ex / le, uy = ey / le, vx = fx / lf, vy = fy / lf;
  x01 = (ux * vx + uy * vy) * lf / le;
  y01 = (uy * vx - ux * vy) * lf / le;
  return std::isfinite(x01) && std::isfinite(y01);
}

// The tolerance of the reproduction checks: 1e-6, relative to the size of
// the coordinates once they exceed 1.
double ReproductionTolerance(double extent) { return 1e-6 * std::max(1.0, extent); }

// RMS distance of three corners from their centroid.
double RmsSize(double x0, double y0, double x1, double y1, double x2, double y2) {
  const double mx = (x0 + x1 + x2) / 3, my = (y0 + y1 + y2) / 3;
  const double s = (x0 - mx) * (x0 - mx) + (y0 - my) * (y0 - my) + (x1 - mx) * (x1 - mx) +
                   (y1 - my) * (y1 - my) + (x2 - mx) * (x2 - mx) + (y2 - my) * (y2 - my);
  return std::sqrt(s / 3);
}

// The step-1 energy of one (edge, opposite vertex) triple as calls
// add(vertex a, vertex b, coord a, coord b, value), one per pair of
// parameters with non-zero coefficients in either residual (30 in all).
template <class Add>
bool Step1Triple(const Warpixator::ImgVertex& v0, const Warpixator::ImgVertex& v1,
                 const Warpixator::ImgVertex& v2, Add add) {
  double x01 = 0.0, y01 = 0.0;
  if (!LocalCoordinates(v0.m_fRestX, v0.m_fRestY, v1.m_fRestX, v1.m_fRestY, v2.m_fRestX,
                        v2.m_fRestY, x01, y01)) {
    return false;
  }
  const double tolerance = ReproductionTolerance(
      std::max({zelAbs(v0.m_fRestX), zelAbs(v0.m_fRestY), zelAbs(v1.m_fRestX),
                zelAbs(v1.m_fRestY), zelAbs(v2.m_fRestX), zelAbs(v2.m_fRestY)}));
  WARPIX_ASSERT(zelAbs(-v2.m_fRestX+v0.m_fRestX+x01*(v1.m_fRestX - v0.m_fRestX) + y01*(v1.m_fRestY - v0.m_fRestY))<tolerance);
  WARPIX_ASSERT(zelAbs(-v2.m_fRestY+v0.m_fRestY+x01*(v1.m_fRestY - v0.m_fRestY) + y01*(-v1.m_fRestX + v0.m_fRestX))<tolerance);
  // Coefficients over (v0x, v0y, v1x, v1y, v2x, v2y) of ex and ey.
  const double ex[6] = {1 - x01, -y01, x01, y01, -1, 0};
  const double ey[6] = {y01, 1 - x01, -y01, x01, 0, -1};
  const Warpixator::ImgVertex* vertex[3] = {&v0, &v1, &v2};
  for (const double* w : {ex, ey}) {
    for (int a = 0; a < 6; ++a) {
      if (w[a] == 0.0) continue;
      for (int b = a; b < 6; ++b) {
        if (w[b] == 0.0) continue;
        add(*vertex[a / 2], *vertex[b / 2], a % 2, b % 2, w[a] * w[b]);
      }
    }
  }
  return true;
}

// The step-2 matrix entries of one face as calls add(p, q, value) on
// parameter indices (both orders for the off-diagonal ones).
template <class Add>
void Step2Face(const int p[3], Add add) {
  for (int i = 0; i < 3; ++i) {
    add(2 * p[i], 2 * p[i], 2.0);
    add(2 * p[i] + 1, 2 * p[i] + 1, 2.0);
  }
  const int pairs[3][2] = {{0, 1}, {1, 2}, {0, 2}};
  for (const auto& pair : pairs) {
    const int i = p[pair[0]], j = p[pair[1]];
    add(2 * i, 2 * j, -1.0);
    add(2 * j, 2 * i, -1.0);
    add(2 * i + 1, 2 * j + 1, -1.0);
    add(2 * j + 1, 2 * i + 1, -1.0);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Fitted triangles

DeformAsRigidAsPossible::FittedTriangle::FittedTriangle(ImgVertex v0, ImgVertex v1, ImgVertex v2,
                                                        int face)
    : m_iFace(face),
      m_pB(std::make_unique<LinAlgVectorReal>(4, 0.0)),
      m_pX(std::make_unique<LinAlgVectorReal>(4, 0.0)),
      m_pF(std::make_unique<LinAlgMatrixReal>(4, 4, 0.0)) {
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
                                                                double y1, double x2, double y2) {
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

  double s = std::hypot(x0f - x1f, y0f - y1f) / std::hypot(x0 - x1, y0 - y1);
  if (!(s <= kMaxEdgeScale)) {
    // A collapsed or nearly collapsed first edge: the whole triangles' sizes.
    s = RmsSize(x0f, y0f, x1f, y1f, x2f, y2f) / RmsSize(x0, y0, x1, y1, x2, y2);
    if (!(s <= kMaxEdgeScale)) s = 1.0;
  }
  const double mx = (x0f + x1f + x2f) / 3, my = (y0f + y1f + y2f) / 3;
  x0f = mx + s * (x0f - mx), y0f = my + s * (y0f - my);
  x1f = mx + s * (x1f - mx), y1f = my + s * (y1f - my);
  x2f = mx + s * (x2f - mx), y2f = my + s * (y2f - my);
}

// ---------------------------------------------------------------------------
// Construction and control points

DeformAsRigidAsPossible::DeformAsRigidAsPossible(bool useQuasiConf, bool rescale, R2Image& image,
                                                 const ZelString& name)
    : Warpixator(image, name),
      m_iNumFreeParams(0),
      m_iNumConstrainedParams(0),
      m_bRescale(rescale),
      m_bUseQuasiConf(useQuasiConf) {
  if (m_bUseQuasiConf) {
    ZelString innerName("QuasiConf_");
    innerName += name;
    m_pQuasiConf = std::make_unique<DeformQuasiConf>(image, innerName, DeformQuasiConf::OP_AFFINE_QUAD);
  }
}

DeformAsRigidAsPossible::~DeformAsRigidAsPossible() = default;

int DeformAsRigidAsPossible::SnapVertex(double x, double y, bool warn) {
  // Current positions; with "n" the nearest opaque vertex, else any.
  return SnapToVertex(x, y, SnapOptions{false, m_bSnapToNonWhite, warn});
}

void DeformAsRigidAsPossible::AddControlPoint(double x, double y, double* outX, double* outY) {
  double placedX = x, placedY = y;
  const int vertex =
      SnapControlPoint(x, y, SnapOptions{false, m_bSnapToNonWhite, true}, placedX, placedY);
  if (vertex < 0) {
    // No mesh (pixel mode) or a point that is not a number: the clicked
    // position, constraining nothing.
    Warpixator::AddControlPoint(x, y, outX, outY);
    return;
  }
  if (outX != nullptr) *outX = placedX;
  if (outY != nullptr) *outY = placedY;
  m_ControlPointsOrigPos.push_back(placedX);
  m_ControlPointsOrigPos.push_back(placedY);
  m_ControlPointsNewPos.push_back(placedX);
  m_ControlPointsNewPos.push_back(placedY);
  SyncControlVertices();
  // The point knows its vertex: the snap is not redone from its position.
  m_ConstrainedParamToVertex.back() = vertex;
  m_ConstrainedVertices.clear();
  for (int v : m_ConstrainedParamToVertex)
    if (v >= 0) m_ConstrainedVertices[v] = true;
  if (NumControlPoints() >= 4) {
    PrepareDeformator();
  } else if (m_pQuasiConf) {
    SyncQuasiConf(true);
  }
}

void DeformAsRigidAsPossible::SyncControlVertices() {
  const size_t n = static_cast<size_t>(NumControlPoints());
  if (m_ConstrainedParamToVertex.size() > n) m_ConstrainedParamToVertex.resize(n);
  m_SnappedAt.resize(2 * m_ConstrainedParamToVertex.size());
  for (size_t k = 0; k < n; ++k) {
    const double x = m_ControlPointsOrigPos[2 * k], y = m_ControlPointsOrigPos[2 * k + 1];
    if (k < m_ConstrainedParamToVertex.size() && m_SnappedAt[2 * k] == x &&
        m_SnappedAt[2 * k + 1] == y) {
      continue;
    }
    const int vertex = SnapVertex(x, y, false);
    if (k < m_ConstrainedParamToVertex.size()) {
      m_ConstrainedParamToVertex[k] = vertex;
    } else {
      m_ConstrainedParamToVertex.push_back(vertex);
      m_SnappedAt.resize(2 * (k + 1));
    }
    m_SnappedAt[2 * k] = x;
    m_SnappedAt[2 * k + 1] = y;
  }
  m_ConstrainedVertices.clear();
  for (int v : m_ConstrainedParamToVertex)
    if (v >= 0) m_ConstrainedVertices[v] = true;
}

void DeformAsRigidAsPossible::SyncQuasiConf(bool prepare) {
  // Only its MapPoint is used, so it needs no mesh: it takes the points
  // exactly where this deformator snapped them.
  DeformQuasiConf& inner = *m_pQuasiConf;
  if (prepare || inner.m_ControlPointsOrigPos != m_ControlPointsOrigPos) {
    inner.m_ControlPointsOrigPos = m_ControlPointsOrigPos;
    inner.m_ControlPointsNewPos = m_ControlPointsNewPos;
    inner.PrepareDeformator();
  }
  inner.m_ControlPointsNewPos = m_ControlPointsNewPos;
  inner.m_bNeedsUpdate = true;
  inner.Deform();
}

// ---------------------------------------------------------------------------
// Preparation

void DeformAsRigidAsPossible::Release() {
  m_iNumFreeParams = m_iNumConstrainedParams = 0;
  m_pStep1Map.reset();
  m_FittedTriangles.clear();
  m_pStep2H.reset();
  m_pStep2HC.reset();
  m_pStep2F.reset();
  m_pStep2Rhs.reset();
  m_pConstrainedParams.reset();
  m_pFreeParams.reset();
  m_pStep2LU.reset();
  m_pStep2Cholesky.reset();
  m_FreeParamToVertex.clear();
  m_ParamToVertex.clear();
  m_iVertexToParam.clear();
  m_ConstrainedOrder.clear();
  m_ParamSource.clear();
}

void DeformAsRigidAsPossible::PrepareDeformator() {
  SyncControlVertices();
  if (m_pQuasiConf) SyncQuasiConf(true);
  Release();
  if (m_DeformationType != DEFORM_REGULAR_MESH || m_Vertices.empty()) return;

  // Distinct constrained vertices in control-point order; each takes the
  // target of its last control point.
  std::vector<int> sourceOf(m_Vertices.size(), -1);
  for (size_t k = 0; k < m_ConstrainedParamToVertex.size(); ++k) {
    const int v = m_ConstrainedParamToVertex[k];
    if (v < 0) continue;
    if (sourceOf[v] < 0) m_ConstrainedOrder.push_back(v);
    sourceOf[v] = static_cast<int>(k);
  }
  // Below four points nothing is prepared (as when they are added one by
  // one); below two constrained vertices step 1 has no unique minimiser.
  if (NumControlPoints() < 4 || m_ConstrainedOrder.size() < 2) {
    m_ConstrainedOrder.clear();
    return;
  }
  for (int v : m_ConstrainedOrder) m_ParamSource.push_back(sourceOf[v]);

  const int V = static_cast<int>(m_Vertices.size());
  m_iNumConstrainedParams = 2 * static_cast<int>(m_ConstrainedOrder.size());
  m_iNumFreeParams = 2 * V - m_iNumConstrainedParams;
  m_iVertexToParam.assign(V, -1);
  for (int v = 0; v < V; ++v)
    if (sourceOf[v] < 0) m_FreeParamToVertex.push_back(v);
  for (int v : m_FreeParamToVertex) {
    m_iVertexToParam[v] = static_cast<int>(m_ParamToVertex.size());
    m_ParamToVertex.push_back(v);
  }
  for (int v : m_ConstrainedOrder) {
    m_iVertexToParam[v] = static_cast<int>(m_ParamToVertex.size());
    m_ParamToVertex.push_back(v);
  }

  const int nF = m_iNumFreeParams, nC = m_iNumConstrainedParams;
  const bool dense = m_bDenseRoute && nF + nC <= kDenseMaxOrder;
  const std::string what = "the as-rigid-as-possible preparation with " + std::to_string(V) +
                           " mesh vertices and " + std::to_string(m_ConstrainedOrder.size()) +
                           " constrained vertices";
  if (!FitsTableLimit(PreparationBytes(dense), what.c_str(),
                      "not prepared, the free vertices stay")) {
    Release();
    return;
  }
  m_pConstrainedParams = std::make_unique<LinAlgVectorReal>(nC, 0.0);
  m_pFreeParams = std::make_unique<LinAlgVectorReal>(nF, 0.0);
  if (m_bRescale) {
    m_pStep2HC = std::make_unique<LinAlgMatrixReal>(nF, nC, 0.0);
    m_pStep2F = std::make_unique<LinAlgVectorReal>(nF, 0.0);
    m_pStep2Rhs = std::make_unique<LinAlgVectorReal>(nF, 0.0);
    BuildFittedTriangles();
  }
  if (!(dense ? PrepareDense() : PrepareSparse())) {
    std::cout << "[WARNING] " << m_Name
              << ": the as-rigid-as-possible system is singular; the free vertices stay"
              << std::endl;
    Release();
  }
}

double DeformAsRigidAsPossible::PreparationBytes(bool dense) {
  const double nF = m_iNumFreeParams, nC = m_iNumConstrainedParams, n = nF + nC;
  const double faces = static_cast<double>(m_Faces.size());
  // Step 1's map, and the sparse route's right-hand sides and solutions.
  double bytes = 3 * sizeof(double) * nF * nC;
  if (m_bRescale) {
    // Step 2's coupling block and one fitted triangle (with its three small
    // heap arrays) per face.
    bytes += sizeof(double) * nF * nC +
             faces * (sizeof(FittedTriangle) + 2 * sizeof(LinAlgVectorReal) +
                      sizeof(LinAlgMatrixReal) + 24 * sizeof(double) + 64);
  }
  if (dense) {
    // G, A, its transpose and the LU's copy; with step 2 also Hfull, H and
    // the second LU's copy.
    return bytes + sizeof(double) * n * n * (m_bRescale ? 7 : 4);
  }

  // The sparse route: the entries of step 1 counted exactly as PrepareSparse
  // adds them (the same triples, every free-free pair in both orders). Each
  // entry is held as a triplet, as the factorisation's copy of it and in the
  // sparse matrix's assembly buffer; the matrix itself holds the distinct
  // ones (a vertex couples with itself and six neighbours: 28 per row).
  m_iStep1Entries = 0;
  auto count = [&](const ImgVertex& a, const ImgVertex& b, int ca, int cb, double) {
    const int p1 = 2 * m_iVertexToParam[a.id] + ca, p2 = 2 * m_iVertexToParam[b.id] + cb;
    if (p1 < nF && p2 < nF) m_iStep1Entries += p1 != p2 ? 4 : 2;
  };
  for (const ImgFace& f : m_Faces) {
    const ImgVertex& v0 = m_Vertices[f.m_iV0];
    const ImgVertex& v1 = m_Vertices[f.m_iV1];
    const ImgVertex& v2 = m_Vertices[f.m_iV2];
    Step1Triple(v0, v1, v2, count);
    Step1Triple(v0, v2, v1, count);
    Step1Triple(v1, v2, v0, count);
  }
  const double perEntry = sizeof(LinAlgTriplet) + 16 + 12;
  const double matrix = nF * 28 * 12;
  // The factor of an order-m mesh system under a fill-reducing ordering: its
  // columns hold about 8 log2(m) entries (measured: 42 at order 5000, 98 at
  // 320000), each a value and a row index.
  auto factor = [](double m) { return m * (8 * std::log2(m + 2) + 16) * 12; };
  bytes += perEntry * static_cast<double>(m_iStep1Entries) + matrix + factor(nF);
  if (m_bRescale) bytes += perEntry * 36 * faces + matrix + factor(nF);  // step 2: at most 36 per face
  return bytes;
}

void DeformAsRigidAsPossible::BuildFittedTriangles() {
  // The shapes come from the rest mesh, as step 1's do: a state loaded from
  // the parameter file then equals the same targets reached by dragging.
  m_FittedTriangles.clear();
  m_FittedTriangles.reserve(m_Faces.size());
  size_t unfitted = 0;
  for (size_t l = 0; l < m_Faces.size(); ++l) {
    const ImgFace& f = m_Faces[l];
    ImgVertex corner[3] = {m_Vertices[f.m_iV0], m_Vertices[f.m_iV1], m_Vertices[f.m_iV2]};
    for (ImgVertex& c : corner) {
      c.m_fX = c.m_fRestX;
      c.m_fY = c.m_fRestY;
    }
    m_FittedTriangles.push_back(
        std::make_unique<FittedTriangle>(corner[0], corner[1], corner[2], static_cast<int>(l)));
    if (!m_FittedTriangles.back()->Valid()) ++unfitted;
  }
  // Said once per number of such triangles, not at every preparation.
  if (unfitted > 0 && unfitted != m_iWarnedUnfitted) {
    std::cout << "[WARNING] " << m_Name << ": " << unfitted << " of " << m_Faces.size()
              << " mesh triangles cannot be fitted (collapsed, or too thin for double "
                 "precision); the rescaling step keeps them as step 1 places them"
              << std::endl;
  }
  m_iWarnedUnfitted = unfitted;
}

void DeformAsRigidAsPossible::AddValueG(LinAlgMatrixReal& G, ImgVertex& v1, ImgVertex& v2,
                                        int coord1, int coord2, double value) {
  WARPIX_ASSERT((int)m_iVertexToParam.size() > v1.id);
  WARPIX_ASSERT((int)m_iVertexToParam.size() > v2.id);
  const int paramID1 = 2 * m_iVertexToParam[v1.id] + coord1;
  const int paramID2 = 2 * m_iVertexToParam[v2.id] + coord2;
  WARPIX_ASSERT(paramID1 < G.Rows() && paramID1 < G.Cols() && paramID1>=0);
  WARPIX_ASSERT(paramID2 < G.Cols() && paramID2 < G.Cols() && paramID2>=0);
  G.AddVal(paramID1, paramID2, value);
  if (paramID1 != paramID2) G.AddVal(paramID2, paramID1, value);
}

void DeformAsRigidAsPossible::AddCoeffsForTriangleStep1(LinAlgMatrixReal& G, ImgVertex& v0,
                                                        ImgVertex& v1, ImgVertex& v2) {
  Step1Triple(v0, v1, v2,
              [&](const ImgVertex& a, const ImgVertex& b, int ca, int cb, double value) {
                AddValueG(G, m_Vertices[a.id], m_Vertices[b.id], ca, cb, value);
              });
}

void DeformAsRigidAsPossible::AddCoeffsForTriangleStep2(LinAlgMatrixReal& H, FittedTriangle& t) {
  const ImgFace& f = m_Faces[t.m_iFace];
  const int p[3] = {m_iVertexToParam[f.m_iV0], m_iVertexToParam[f.m_iV1], m_iVertexToParam[f.m_iV2]};
  for (int i = 0; i < 3; ++i) {
    const int x = 2 * p[i], y = 2 * p[i] + 1;
    WARPIX_ASSERT(H.Rows() > x && H.Cols() > y);
  }
  Step2Face(p, [&](int i, int j, double value) { H.AddVal(i, j, value); });
}

void DeformAsRigidAsPossible::AddCoeffsForTriangleStep2(LinAlgVectorReal& f, FittedTriangle& t) {
  const ImgFace& face = m_Faces[t.m_iFace];
  const int p[3] = {m_iVertexToParam[face.m_iV0], m_iVertexToParam[face.m_iV1],
                    m_iVertexToParam[face.m_iV2]};
  const double xf[3] = {t.x0f, t.x1f, t.x2f}, yf[3] = {t.y0f, t.y1f, t.y2f};
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    if (2 * p[i] < f.Rows()) f(2 * p[i]) += 2 * xf[j] + 2 * xf[k] - 4 * xf[i];
    if (2 * p[i] + 1 < f.Rows()) f(2 * p[i] + 1) += 2 * yf[j] + 2 * yf[k] - 4 * yf[i];
  }
}

bool DeformAsRigidAsPossible::PrepareDense() {
  const int nF = m_iNumFreeParams, nC = m_iNumConstrainedParams, n = nF + nC;
  // Step 1: G, its blocks, A = G00 + G00^T, B = G01 + G10^T, map -(A^-1) B.
  LinAlgMatrixReal G(n, n, 0.0);
  for (const ImgFace& f : m_Faces) {
    ImgVertex& v0 = m_Vertices[f.m_iV0];
    ImgVertex& v1 = m_Vertices[f.m_iV1];
    ImgVertex& v2 = m_Vertices[f.m_iV2];
    AddCoeffsForTriangleStep1(G, v0, v1, v2);
    AddCoeffsForTriangleStep1(G, v0, v2, v1);
    AddCoeffsForTriangleStep1(G, v1, v2, v0);
  }
  m_pStep1Map = std::make_unique<LinAlgMatrixReal>(nF, nC, 0.0);
  if (nF > 0) {
    LinAlgMatrixReal A(nF, nF, 0.0), At(nF, nF, 0.0), B(nF, nC, 0.0);
    for (int j = 0; j < nF; ++j)
      for (int i = 0; i < nF; ++i) A(i, j) = G(i, j);
    for (int j = 0; j < nC; ++j)
      for (int i = 0; i < nF; ++i) B(i, j) = G(i, nF + j) + G(nF + j, i);
    A.Transpose(At);
    A.Add(At);
    // The inverse uses buffers of its own, not the shared workspace cache.
    const LinAlgDenseLU lu(A);
    if (!lu.Ok() || !lu.Inverse(A)) return false;
    A.MultiplyBy(-1.0);
    A.Multiply(B, *m_pStep1Map);
  }
  if (!m_bRescale) return true;

  // Step 2: Hfull, H = H00 + H00^T (factored once), HC = H01 + H10^T.
  LinAlgMatrixReal Hfull(n, n, 0.0);
  for (const auto& t : m_FittedTriangles) AddCoeffsForTriangleStep2(Hfull, *t);
  m_pStep2H = std::make_unique<LinAlgMatrixReal>(nF, nF, 0.0);
  LinAlgMatrixReal& H = *m_pStep2H;
  for (int j = 0; j < nF; ++j)
    for (int i = 0; i < nF; ++i) H(i, j) = Hfull(i, j) + Hfull(j, i);
  for (int j = 0; j < nC; ++j)
    for (int i = 0; i < nF; ++i) (*m_pStep2HC)(i, j) = Hfull(i, nF + j) + Hfull(nF + j, i);
  m_pStep2LU = std::make_unique<LinAlgDenseLU>(H);
  return m_pStep2LU->Ok();
}

bool DeformAsRigidAsPossible::PrepareSparse() {
  const int nF = m_iNumFreeParams, nC = m_iNumConstrainedParams;
  // The same sums as the dense route, entry by entry: each G entry (i, j)
  // goes to A when both lie in the free block (and to A's transpose), to B
  // when one does.
  std::vector<LinAlgTriplet> entries;
  entries.reserve(m_iStep1Entries);  // counted by PreparationBytes
  std::vector<double> B(static_cast<size_t>(nF) * nC, 0.0);
  auto addG = [&](int i, int j, double value) {
    if (i < nF && j < nF) {
      entries.push_back({i, j, value});
      entries.push_back({j, i, value});
    } else if (i < nF) {
      B[i + static_cast<size_t>(nF) * (j - nF)] += value;
    } else if (j < nF) {
      B[j + static_cast<size_t>(nF) * (i - nF)] += value;
    }
  };
  auto add = [&](const ImgVertex& a, const ImgVertex& b, int ca, int cb, double value) {
    const int p1 = 2 * m_iVertexToParam[a.id] + ca, p2 = 2 * m_iVertexToParam[b.id] + cb;
    addG(p1, p2, value);
    if (p1 != p2) addG(p2, p1, value);
  };
  for (const ImgFace& f : m_Faces) {
    const ImgVertex& v0 = m_Vertices[f.m_iV0];
    const ImgVertex& v1 = m_Vertices[f.m_iV1];
    const ImgVertex& v2 = m_Vertices[f.m_iV2];
    Step1Triple(v0, v1, v2, add);
    Step1Triple(v0, v2, v1, add);
    Step1Triple(v1, v2, v0, add);
  }
  m_pStep1Map = std::make_unique<LinAlgMatrixReal>(nF, nC, 0.0);
  if (nF > 0) {
    const LinAlgSparseCholesky A(nF, entries);
    if (!A.Ok()) return false;
    std::vector<double> map(B.size());
    A.SolveColumns(B.data(), map.data(), nC);
    LinAlgMatrixReal& M = *m_pStep1Map;
    for (int j = 0; j < nC; ++j)
      for (int i = 0; i < nF; ++i) M(i, j) = -map[i + static_cast<size_t>(nF) * j];
  }
  if (!m_bRescale) return true;

  entries.clear();
  LinAlgMatrixReal& HC = *m_pStep2HC;
  auto addH = [&](int i, int j, double value) {
    if (i < nF && j < nF) {
      entries.push_back({i, j, value});
      entries.push_back({j, i, value});
    } else if (i < nF) {
      HC.AddVal(i, j - nF, value);
    } else if (j < nF) {
      HC.AddVal(j, i - nF, value);
    }
  };
  for (const auto& t : m_FittedTriangles) {
    const ImgFace& f = m_Faces[t->m_iFace];
    const int p[3] = {m_iVertexToParam[f.m_iV0], m_iVertexToParam[f.m_iV1],
                      m_iVertexToParam[f.m_iV2]};
    Step2Face(p, addH);
  }
  m_pStep2Cholesky = std::make_unique<LinAlgSparseCholesky>(nF, entries);
  return m_pStep2Cholesky->Ok();
}

// ---------------------------------------------------------------------------
// Deformation

void DeformAsRigidAsPossible::Deform() {
  if (m_DeformationType != DEFORM_REGULAR_MESH || m_Vertices.empty()) return;
  SyncControlVertices();
  // Control-point vertices onto their targets (a later point on the same
  // vertex wins), prepared or not.
  for (size_t k = 0; k < m_ConstrainedParamToVertex.size(); ++k) {
    const int v = m_ConstrainedParamToVertex[k];
    if (v < 0) continue;
    m_Vertices[v].m_fX = m_ControlPointsNewPos[2 * k];
    m_Vertices[v].m_fY = m_ControlPointsNewPos[2 * k + 1];
  }
  if (m_pQuasiConf) SyncQuasiConf(false);
  if (!Prepared()) return;

  LinAlgVectorReal& q = *m_pConstrainedParams;
  WARPIX_ASSERT((int)m_ParamSource.size()*2==q.Rows());
  for (size_t u = 0; u < m_ParamSource.size(); ++u) {
    q(2 * u) = m_ControlPointsNewPos[2 * m_ParamSource[u]];
    q(2 * u + 1) = m_ControlPointsNewPos[2 * m_ParamSource[u] + 1];
  }
  LinAlgVectorReal& u = *m_pFreeParams;
  const int freeVertices = static_cast<int>(m_FreeParamToVertex.size());
  if (m_bUseQuasiConf) {
    for (int k = 0; k < freeVertices; ++k) {
      ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
      m_pQuasiConf->MapPoint(v.m_fRestX, v.m_fRestY, v.m_fX, v.m_fY);
    }
  } else if (u.Rows() > 0) {
    m_pStep1Map->Multiply(q, u);
    for (int k = 0; k < freeVertices; ++k) {
      ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
      v.m_fX = u(2 * k);
      v.m_fY = u(2 * k + 1);
    }
  }
  if (!m_bRescale || u.Rows() == 0) return;

  m_pStep2Rhs->SetAll(0.0);
  m_pStep2F->SetAll(0.0);
  for (const auto& t : m_FittedTriangles) {
    const ImgFace& f = m_Faces[t->m_iFace];
    const ImgVertex &a = m_Vertices[f.m_iV0], &b = m_Vertices[f.m_iV1], &c = m_Vertices[f.m_iV2];
    t->GetFittedTriangle(a.m_fX, a.m_fY, b.m_fX, b.m_fY, c.m_fX, c.m_fY);
    AddCoeffsForTriangleStep2(*m_pStep2F, *t);
  }
  m_pStep2HC->Multiply(q, *m_pStep2Rhs);
  m_pStep2Rhs->Add(*m_pStep2F);
  m_pStep2Rhs->Multiply(-1.0);
  SolveStep2();
  for (int k = 0; k < freeVertices; ++k) {
    ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
    v.m_fX = u(2 * k);
    v.m_fY = u(2 * k + 1);
  }
}

void DeformAsRigidAsPossible::SolveStep2() {
  if (m_pStep2LU) {
    m_pStep2LU->Solve(*m_pStep2Rhs, *m_pFreeParams);
    return;
  }
  WARPIX_ASSERT(m_pStep2Cholesky != nullptr);
  const int n = m_pFreeParams->Rows();
  std::vector<double> rhs(n), x(n);
  for (int i = 0; i < n; ++i) rhs[i] = (*m_pStep2Rhs)(i);
  m_pStep2Cholesky->Solve(rhs.data(), x.data());
  for (int i = 0; i < n; ++i) (*m_pFreeParams)(i) = x[i];
}

void DeformAsRigidAsPossible::MapPoint(double x, double y, double& outX, double& outY) {
  if (m_DeformationType != DEFORM_REGULAR_MESH) {
    Warpixator::MapPoint(x, y, outX, outY);
    return;
  }
  WARPIX_ASSERT(false);
}

bool DeformAsRigidAsPossible::MapsPoints() const { return false; }

void DeformAsRigidAsPossible::MapMeshVertices() {}
