// The preparation of the as-rigid-as-possible deformator: the numbering of
// the parameters, step 1's map and step 2's matrices, by the dense or the
// sparse route.
#include <algorithm>
#include <cmath>
#include <complex>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>

#include "deform/AsRigidAsPossibleDetail.h"
#include "deform/AsRigidAsPossibleKernel.h"
#include "deform/DeformAsRigidAsPossible.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "support/WarpixAssert.h"

using arap_detail::LocalCoordinates;
using arap_detail::ReproductionTolerance;
using arap_detail::zelAbs;

namespace {

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

// Step 1's energy of one triple over the complex numbers: the error of the
// third corner is e = (1 - w) z0 + w z1 - z2 with w = x01 - i y01, whose
// squared modulus is the real route's ex^2 + ey^2. Adds conj(c_j) c_k for
// the coefficients c of (z0, z1, z2) to h[j][k].
bool Step1ComplexTriple(const Warpixator::ImgVertex& v0, const Warpixator::ImgVertex& v1,
                        const Warpixator::ImgVertex& v2, std::complex<double> h[3][3]) {
  double x01 = 0.0, y01 = 0.0;
  if (!LocalCoordinates(v0.m_fRestX, v0.m_fRestY, v1.m_fRestX, v1.m_fRestY, v2.m_fRestX,
                        v2.m_fRestY, x01, y01)) {
    return false;
  }
  const std::complex<double> w(x01, -y01);
  const std::complex<double> c[3] = {1.0 - w, w, -1.0};
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) h[j][k] += std::conj(c[j]) * c[k];
  return true;
}

// Step 1's energy of every face (its three (edge, opposite vertex) triples)
// as one Hermitian 3 x 3 block over the face's vertices: calls
// add(vertex j, vertex k, value) for all nine pairs.
template <class Add>
void Step1ComplexFaces(const std::vector<Warpixator::ImgFace>& faces,
                       const std::vector<Warpixator::ImgVertex>& vertices, Add add) {
  for (const Warpixator::ImgFace& f : faces) {
    const Warpixator::ImgVertex* v[3] = {&vertices[f.m_iV0], &vertices[f.m_iV1],
                                         &vertices[f.m_iV2]};
    // Rows and columns of the triples' corners in the face's order.
    std::complex<double> h01[3][3] = {}, h02[3][3] = {}, h12[3][3] = {};
    Step1ComplexTriple(*v[0], *v[1], *v[2], h01);
    Step1ComplexTriple(*v[0], *v[2], *v[1], h02);
    Step1ComplexTriple(*v[1], *v[2], *v[0], h12);
    const int order02[3] = {0, 2, 1}, order12[3] = {1, 2, 0};
    std::complex<double> h[3][3];
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) h[j][k] = h01[j][k];
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) {
        h[order02[j]][order02[k]] += h02[j][k];
        h[order12[j]][order12[k]] += h12[j][k];
      }
    }
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) add(*v[j], *v[k], h[j][k]);
  }
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

// Step 1's map and step 2's factor and coupling block depend only on the rest
// mesh and the constrained vertices, which the cells of one window share after
// the same clicks. The preparations still held by some cell are remembered
// (weakly: a system lives as long as a cell uses it), so that the other cells
// take them instead of factoring the same systems again.
class SharedSystems {
 public:
  struct Key {
    std::vector<double> rest;      // x, y of every vertex
    std::vector<int> faces;        // three vertices per face
    std::vector<int> constrained;  // the constrained vertices in order
    bool operator==(const Key& other) const {
      return rest == other.rest && faces == other.faces && constrained == other.constrained;
    }
  };
  struct Systems {
    std::weak_ptr<LinAlgMatrixReal> step1Map;
    std::weak_ptr<arap_detail::Step1Memo> step1Memo;
    std::weak_ptr<LinAlgMatrixReal> step2HC;
    std::weak_ptr<const LinAlgSparseCholesky> step2Factor;
    std::weak_ptr<const DeformAsRigidAsPossible::FaceFits> faceFits;
  };

  static Key KeyOf(const std::vector<Warpixator::ImgVertex>& vertices,
                   const std::vector<Warpixator::ImgFace>& faces,
                   const std::vector<int>& constrained) {
    Key key;
    key.rest.reserve(2 * vertices.size());
    for (const Warpixator::ImgVertex& v : vertices) key.rest.insert(key.rest.end(), {v.m_fRestX, v.m_fRestY});
    key.faces.reserve(3 * faces.size());
    for (const Warpixator::ImgFace& f : faces) key.faces.insert(key.faces.end(), {f.m_iV0, f.m_iV1, f.m_iV2});
    key.constrained = constrained;
    return key;
  }

  /// What is still held for key (empty pointers when nothing is).
  static Systems Find(const Key& key) {
    std::lock_guard<std::mutex> lock(s_Mutex);
    Forget();
    for (const auto& entry : s_Entries)
      if (entry.first == key) return entry.second;
    return {};
  }

  /// Remembers systems for key (replacing what was remembered for it).
  static void Remember(const Key& key, const Systems& systems) {
    std::lock_guard<std::mutex> lock(s_Mutex);
    Forget();
    for (auto& entry : s_Entries) {
      if (entry.first == key) {
        entry.second = systems;
        return;
      }
    }
    s_Entries.emplace_back(key, systems);
  }

 private:
  // Drops the entries no cell holds any more.
  static void Forget() {
    s_Entries.erase(std::remove_if(s_Entries.begin(), s_Entries.end(),
                                   [](const auto& entry) {
                                     return entry.second.step1Map.expired() &&
                                            entry.second.step2Factor.expired();
                                   }),
                    s_Entries.end());
  }
  static std::mutex s_Mutex;
  static std::vector<std::pair<Key, Systems>> s_Entries;
};

std::mutex SharedSystems::s_Mutex;
std::vector<std::pair<SharedSystems::Key, SharedSystems::Systems>> SharedSystems::s_Entries;

}  // namespace

// ---------------------------------------------------------------------------
// Preparation

void DeformAsRigidAsPossible::Release() {
  m_iNumFreeParams = m_iNumConstrainedParams = 0;
  m_pStep1Map.reset();
  m_FittedTriangles.clear();
  m_pFaceFits.reset();
  m_Fitted.clear();
  m_FitCorners.clear();
  m_pStep1Memo.reset();
  m_pStep2H.reset();
  m_pStep2HC.reset();
  m_Step2Coupling.clear();
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
    m_pStep2HC = std::make_shared<LinAlgMatrixReal>(nF, nC, 0.0);
    m_pStep2F = std::make_unique<LinAlgVectorReal>(nF, 0.0);
    m_pStep2Rhs = std::make_unique<LinAlgVectorReal>(nF, 0.0);
    BuildFittedTriangles();
  }
  if (!(dense ? PrepareDense() : PrepareSparse())) {
    std::cout << "[WARNING] " << m_Name
              << ": the as-rigid-as-possible system is singular; the free vertices stay"
              << std::endl;
    Release();
    return;
  }
  // Step 2's coupling block links the constrained vertices with their
  // neighbours only: its non-zero entries, for the product of every frame.
  m_Step2Coupling.clear();
  if (m_pStep2HC) {
    const LinAlgMatrixReal& HC = *m_pStep2HC;
    for (int j = 0; j < HC.Cols(); ++j)
      for (int i = 0; i < HC.Rows(); ++i)
        if (HC(i, j) != 0.0) m_Step2Coupling.push_back({i, j, HC(i, j)});
  }
}

double DeformAsRigidAsPossible::PreparationBytes(bool dense) {
  const double nF = m_iNumFreeParams, nC = m_iNumConstrainedParams, n = nF + nC;
  const double faces = static_cast<double>(m_Faces.size());
  // Step 1's map, and the sparse route's right-hand sides and solutions.
  double bytes = 3 * sizeof(double) * nF * nC;
  if (m_bRescale) {
    // Step 2's coupling block and one fitted triangle (with its three small
    // heap arrays) per face, and its flat terms, corners and fitted corners.
    bytes += sizeof(double) * nF * nC +
             faces * (sizeof(FittedTriangle) + 2 * sizeof(LinAlgVectorReal) +
                      sizeof(LinAlgMatrixReal) + 24 * sizeof(double) + 64 +
                      (warpix::kFitTerms + 12) * sizeof(double) + 3 * sizeof(int) + 1);
  }
  if (dense) {
    // G, A, its transpose and the LU's copy; with step 2 also Hfull, H and
    // the second LU's copy.
    return bytes + sizeof(double) * n * n * (m_bRescale ? 7 : 4);
  }

  // The sparse route: the complex entries of step 1 that PrepareSparse adds,
  // one per pair of a face's vertices in the free block's lower triangle.
  // Each entry is held as a triplet, as the factorisation's copy of it and in
  // the sparse matrix's assembly buffer; the matrix and its symmetric
  // permuted copy hold the distinct ones (a vertex couples with itself and
  // six neighbours).
  const int vF = m_iNumFreeParams / 2;
  m_iStep1Entries = 0;
  for (const ImgFace& f : m_Faces) {
    const int p[3] = {m_iVertexToParam[f.m_iV0], m_iVertexToParam[f.m_iV1],
                      m_iVertexToParam[f.m_iV2]};
    for (int row : p)
      for (int col : p) m_iStep1Entries += row < vF && col <= row ? 1 : 0;
  }
  const double complexEntry = sizeof(LinAlgComplexTriplet) + 24 + 20;
  // The factor of an order-m mesh system under a fill-reducing ordering: its
  // columns hold about 8 log2(m) entries (measured: 42 at order 5000, 98 at
  // 320000), each a value (of the given size) and a row index.
  auto factor = [](double m, double value) { return m * (8 * std::log2(m + 2) + 16) * (value + 4); };
  bytes += complexEntry * static_cast<double>(m_iStep1Entries) + vF * 14.0 * 20 + factor(vF, 16);
  if (m_bRescale) {
    // Step 2: at most 18 real entries per face, one factor for x and y.
    bytes += (sizeof(LinAlgTriplet) + 16 + 12) * 18 * faces + vF * 14.0 * 12 + factor(vF, 8);
  }
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
  // The same fits as flat arrays, for the frames.
  const size_t faces = m_Faces.size();
  auto fits = std::make_shared<FaceFits>();
  fits->vertex.resize(3 * faces);
  fits->param.resize(3 * faces);
  fits->valid.resize(faces);
  fits->terms.resize(warpix::kFitTerms * faces);
  double* const terms = fits->terms.data();
  for (size_t l = 0; l < faces; ++l) {
    const ImgFace& f = m_Faces[l];
    const FittedTriangle& t = *m_FittedTriangles[l];
    const int vertex[3] = {f.m_iV0, f.m_iV1, f.m_iV2};
    for (int i = 0; i < 3; ++i) {
      fits->vertex[3 * l + i] = vertex[i];
      fits->param[3 * l + i] = m_iVertexToParam[vertex[i]];
    }
    fits->valid[l] = t.Valid() ? 1 : 0;
    terms[warpix::kFitX01 * faces + l] = t.x01;
    terms[warpix::kFitY01 * faces + l] = t.y01;
    terms[warpix::kFitRestEdge * faces + l] = t.m_fRestEdge;
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i) terms[(warpix::kFitF + i + 4 * j) * faces + l] = (*t.m_pF)(i, j);
  }
  m_pFaceFits = fits;
  m_Fitted.assign(6 * faces, 0.0);
  m_FitCorners.assign(6 * faces, 0.0);
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
  m_pStep1Map = std::make_shared<LinAlgMatrixReal>(nF, nC, 0.0);
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
  // Other cells on the same rest mesh with the same constrained vertices may
  // hold these systems already.
  const SharedSystems::Key key = SharedSystems::KeyOf(m_Vertices, m_Faces, m_ConstrainedOrder);
  SharedSystems::Systems shared = SharedSystems::Find(key);
  if (std::shared_ptr<LinAlgMatrixReal> map = shared.step1Map.lock()) {
    m_pStep1Map = map;
    m_pStep1Memo = shared.step1Memo.lock();
  } else {
    if (!PrepareSparseStep1()) return false;
    shared.step1Map = m_pStep1Map;
  }
  if (!m_pStep1Memo) {
    m_pStep1Memo = std::make_shared<arap_detail::Step1Memo>();
    shared.step1Memo = m_pStep1Memo;
  }
  if (m_bRescale) {
    std::shared_ptr<const LinAlgSparseCholesky> factor = shared.step2Factor.lock();
    std::shared_ptr<LinAlgMatrixReal> coupling = shared.step2HC.lock();
    if (factor && coupling) {
      m_pStep2Cholesky = factor;
      m_pStep2HC = coupling;
    } else {
      if (!PrepareSparseStep2()) return false;
      shared.step2Factor = m_pStep2Cholesky;
      shared.step2HC = m_pStep2HC;
    }
    // The flat fit records depend on the same rest mesh and numbering.
    if (std::shared_ptr<const FaceFits> fits = shared.faceFits.lock()) {
      m_pFaceFits = fits;
    } else {
      shared.faceFits = m_pFaceFits;
    }
  }
  SharedSystems::Remember(key, shared);
  return true;
}

bool DeformAsRigidAsPossible::PrepareSparseStep1() {
  const int nF = m_iNumFreeParams, nC = m_iNumConstrainedParams;
  // Step 1 over the complex numbers: z = x + i y per vertex, so the free
  // vertices solve Hff u = -Hfc q with H Hermitian of the vertex count's
  // order instead of the real system of twice that order. The lower triangle
  // of the free block goes to the factor, the coupling block Hfc (free rows,
  // constrained columns) to B; the upper triangle and Hcf are conjugates.
  const int vF = nF / 2, vC = nC / 2;
  std::vector<LinAlgComplexTriplet> lower;
  lower.reserve(m_iStep1Entries);  // counted by PreparationBytes
  std::vector<std::complex<double>> B(static_cast<size_t>(vF) * vC);
  Step1ComplexFaces(m_Faces, m_Vertices, [&](const ImgVertex& a, const ImgVertex& b,
                                             std::complex<double> value) {
    const int row = m_iVertexToParam[a.id], col = m_iVertexToParam[b.id];
    if (row >= vF) return;
    if (col < vF) {
      if (col <= row) lower.push_back({row, col, value.real(), value.imag()});
    } else {
      B[row + static_cast<size_t>(vF) * (col - vF)] += value;
    }
  });
  m_pStep1Map = std::make_shared<LinAlgMatrixReal>(nF, nC, 0.0);
  if (nF > 0) {
    const LinAlgSparseCholeskyComplex A(vF, lower);
    if (!A.Ok()) return false;
    // One complex solve per constrained vertex gives both of its real
    // columns: m = a + i b moves (x, y) by (a x - b y, b x + a y).
    std::vector<std::complex<double>> map(B.size());
    A.SolveColumns(reinterpret_cast<const double*>(B.data()), reinterpret_cast<double*>(map.data()),
                   vC);
    LinAlgMatrixReal& M = *m_pStep1Map;
    for (int j = 0; j < vC; ++j) {
      for (int i = 0; i < vF; ++i) {
        const std::complex<double> m = -map[i + static_cast<size_t>(vF) * j];
        M(2 * i, 2 * j) = m.real();
        M(2 * i, 2 * j + 1) = -m.imag();
        M(2 * i + 1, 2 * j) = m.imag();
        M(2 * i + 1, 2 * j + 1) = m.real();
      }
    }
  }
  return true;
}

bool DeformAsRigidAsPossible::PrepareSparseStep2() {
  const int nF = m_iNumFreeParams;
  const int vF = nF / 2;
  // Step 2's x and y systems have the same matrix and no coupling: the
  // factor holds the x block only (vertex order) and solves both.
  std::vector<LinAlgTriplet> entries;
  entries.reserve(18 * m_Faces.size());
  LinAlgMatrixReal& HC = *m_pStep2HC;
  auto addH = [&](int i, int j, double value) {
    if (i < nF && j < nF) {
      if (i % 2 == 0 && j % 2 == 0) {
        entries.push_back({i / 2, j / 2, value});
        entries.push_back({j / 2, i / 2, value});
      }
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
  auto factor = std::make_shared<const LinAlgSparseCholesky>(vF, entries);
  m_pStep2Cholesky = factor;
  return m_pStep2Cholesky->Ok();
}
