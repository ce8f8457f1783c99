#include "deform/DeformAsRigidAsPossible.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <mutex>

#include "deform/AsRigidAsPossibleDetail.h"
#include "deform/AsRigidAsPossibleKernel.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "support/WarpixAssert.h"

// ---------------------------------------------------------------------------
// Construction and control points

DeformAsRigidAsPossible::DeformAsRigidAsPossible(bool useQuasiConf, bool rescale, R2Image& image,
                                                 const ZelString& name, ScaleRule scaleRule)
    : Warpixator(image, name),
      m_iNumFreeParams(0),
      m_iNumConstrainedParams(0),
      m_bRescale(rescale),
      m_ScaleRule(scaleRule),
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
  AppendControlPoint(placedX, placedY, outX, outY);
  SyncControlVertices();
  // The point knows its vertex: the snap is not redone from its position.
  m_ConstrainedParamToVertex.back() = vertex;
  m_ConstrainedVertices.clear();
  for (int v : m_ConstrainedParamToVertex)
    if (v >= 0) m_ConstrainedVertices[v] = true;
  if (PlacingPointSet()) return;  // prepared once the whole set is in
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
  // Only its point map is used, so it needs no mesh: it takes the points
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
    MapFreeVerticesByQuasiConf();
  } else if (u.Rows() > 0) {
    Step1Product();
    for (int k = 0; k < freeVertices; ++k) {
      ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
      v.m_fX = u(2 * k);
      v.m_fY = u(2 * k + 1);
    }
  }
  if (!m_bRescale || u.Rows() == 0) return;

  if (m_bFlatFrame) {
    Step2RhsFlat();
  } else {
    Step2RhsByObjects();
  }
  SolveStep2();
  for (int k = 0; k < freeVertices; ++k) {
    ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
    v.m_fX = u(2 * k);
    v.m_fY = u(2 * k + 1);
  }
}

void DeformAsRigidAsPossible::Step1Product() {
  LinAlgVectorReal& q = *m_pConstrainedParams;
  LinAlgVectorReal& u = *m_pFreeParams;
  if (!m_bFlatFrame || !m_pStep1Memo) {
    m_pStep1Map->Multiply(q, u);
    return;
  }
  // The same bits in q give the same bits in u: the memo's product is the
  // one this cell would compute. (Deform calls this with free and
  // constrained parameters, so both vectors have a first entry.)
  arap_detail::Step1Memo& memo = *m_pStep1Memo;
  const size_t nC = static_cast<size_t>(q.Rows()), nF = static_cast<size_t>(u.Rows());
  const double* const qData = &q(0);
  double* const uData = &u(0);
  std::lock_guard<std::mutex> lock(memo.mutex);
  if (memo.q.size() == nC && memo.u.size() == nF &&
      std::memcmp(memo.q.data(), qData, nC * sizeof(double)) == 0) {
    std::copy(memo.u.begin(), memo.u.end(), uData);
    return;
  }
  m_pStep1Map->Multiply(q, u);
  memo.q.assign(qData, qData + nC);
  memo.u.assign(uData, uData + nF);
}

void DeformAsRigidAsPossible::Step2RhsByObjects() {
  const LinAlgVectorReal& q = *m_pConstrainedParams;
  m_pStep2Rhs->SetAll(0.0);
  m_pStep2F->SetAll(0.0);
  for (const auto& t : m_FittedTriangles) {
    const ImgFace& f = m_Faces[t->m_iFace];
    const ImgVertex &a = m_Vertices[f.m_iV0], &b = m_Vertices[f.m_iV1], &c = m_Vertices[f.m_iV2];
    t->GetFittedTriangle(a.m_fX, a.m_fY, b.m_fX, b.m_fY, c.m_fX, c.m_fY, m_ScaleRule);
    AddCoeffsForTriangleStep2(*m_pStep2F, *t);
  }
  // HC q over the block's non-zero entries (m_pStep2Rhs is zero here).
  LinAlgVectorReal& rhs = *m_pStep2Rhs;
  for (const LinAlgTriplet& e : m_Step2Coupling) rhs(e.row) += e.value * q(e.col);
  m_pStep2Rhs->Add(*m_pStep2F);
  m_pStep2Rhs->Multiply(-1.0);
}

void DeformAsRigidAsPossible::Step2RhsFlat() {
  // Step2RhsByObjects on flat arrays: the same sums in the same order, of
  // fits equal to the objects' to rounding (Deform calls this with free and
  // constrained parameters).
  const double* const q = &(*m_pConstrainedParams)(0);
  double* const fSum = &(*m_pStep2F)(0);
  double* const rhs = &(*m_pStep2Rhs)(0);
  const size_t nF = static_cast<size_t>(m_pStep2Rhs->Rows());
  std::fill(fSum, fSum + nF, 0.0);
  std::fill(rhs, rhs + nF, 0.0);
  // The corners of every face, the fits of all of them in one call, then
  // each face's terms of the right-hand side in face order.
  const FaceFits& fits = *m_pFaceFits;
  const size_t faces = fits.valid.size();
  const int freeVertices = static_cast<int>(nF / 2);
  m_FitCorners.resize(6 * faces);
  m_Fitted.resize(6 * faces);
  double* const corners = m_FitCorners.data();
  const double* const fitted = m_Fitted.data();
  for (size_t l = 0; l < faces; ++l) {
    for (int i = 0; i < 3; ++i) {
      const ImgVertex& v = m_Vertices[fits.vertex[3 * l + i]];
      corners[2 * i * faces + l] = v.m_fX;
      corners[(2 * i + 1) * faces + l] = v.m_fY;
    }
  }
  warpix::ArapFitFaces(static_cast<int>(faces), corners, fits.terms.data(), fits.valid.data(),
                       m_ScaleRule == ScaleRule::kRest, kNoSize, kMaxEdgeScale, m_Fitted.data());
  for (size_t l = 0; l < faces; ++l) {
    for (int i = 0; i < 3; ++i) {
      const int param = fits.param[3 * l + i];
      if (param >= freeVertices) continue;
      const int j = (i + 1) % 3, k = (i + 2) % 3;
      const double* const x = fitted + l;  // x of corner c at x[2 c faces], y one row on
      double* const to = fSum + 2 * param;
      to[0] += 2 * x[2 * j * faces] + 2 * x[2 * k * faces] - 4 * x[2 * i * faces];
      to[1] += 2 * x[(2 * j + 1) * faces] + 2 * x[(2 * k + 1) * faces] - 4 * x[(2 * i + 1) * faces];
    }
  }
  for (const LinAlgTriplet& e : m_Step2Coupling) rhs[e.row] += e.value * q[e.col];
  for (size_t i = 0; i < nF; ++i) rhs[i] = -(rhs[i] + fSum[i]);
}

void DeformAsRigidAsPossible::MapFreeVerticesByQuasiConf() {
  // Rest positions in, current positions out (kept where an image is not
  // finite), all free vertices in one call.
  const size_t n = m_FreeParamToVertex.size();
  m_QuasiConfScratch.resize(4 * n);
  double* const x = m_QuasiConfScratch.data();
  double* const y = x + n;
  double* const outX = x + 2 * n;
  double* const outY = x + 3 * n;
  for (size_t k = 0; k < n; ++k) {
    const ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
    x[k] = v.m_fRestX;
    y[k] = v.m_fRestY;
    outX[k] = v.m_fX;
    outY[k] = v.m_fY;
  }
  m_pQuasiConf->MapPoints(static_cast<int>(n), x, y, outX, outY);
  for (size_t k = 0; k < n; ++k) {
    ImgVertex& v = m_Vertices[m_FreeParamToVertex[k]];
    v.m_fX = outX[k];
    v.m_fY = outY[k];
  }
}

void DeformAsRigidAsPossible::SolveStep2() {
  if (m_pStep2LU) {
    m_pStep2LU->Solve(*m_pStep2Rhs, *m_pFreeParams);
    return;
  }
  WARPIX_ASSERT(m_pStep2Cholesky != nullptr);
  if (m_bFlatFrame) {
    // x and y of each free vertex are a row of the two-column block.
    m_pStep2Cholesky->SolveRows(&(*m_pStep2Rhs)(0), &(*m_pFreeParams)(0), 2);
    return;
  }
  // The factor is the x block's: x and y solve as its two columns.
  const int n = m_pStep2Cholesky->Order();
  std::vector<double> rhs(2 * n), x(2 * n);
  for (int i = 0; i < n; ++i) {
    rhs[i] = (*m_pStep2Rhs)(2 * i);
    rhs[n + i] = (*m_pStep2Rhs)(2 * i + 1);
  }
  m_pStep2Cholesky->SolveColumns(rhs.data(), x.data(), 2);
  for (int i = 0; i < n; ++i) {
    (*m_pFreeParams)(2 * i) = x[i];
    (*m_pFreeParams)(2 * i + 1) = x[n + i];
  }
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
