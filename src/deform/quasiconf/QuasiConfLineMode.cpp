#include "deform/quasiconf/QuasiConfLineMode.h"

#include <cmath>
#include <iostream>

#include "deform/WarpixatorCanvas.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"

using namespace quasiconf_detail;

QuasiConfLineMode::QuasiConfLineMode() : m_MobiusOrig(2, 2), m_MobiusNew(2, 2) { Reset(); }

void QuasiConfLineMode::Reset() {
  SetIdentity(m_MobiusOrig);
  SetIdentity(m_MobiusNew);
}

// ---------------------------------------------------------------------------
// Preparation and deformation

bool QuasiConfLineMode::Prepare(DeformQuasiConf& q) {
  const int n = q.NumControlPoints();
  q.m_Profiler.startedProcess("PrepareTPS");
  m_Sets.clear();
  if (n == 4 && q.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH) {
    const bool prepared = Build(q);
    q.m_Profiler.finishedProcess("PrepareTPS", false);
    return prepared;
  }
  q.m_Profiler.finishedProcess("PrepareTPS", false);
  if (n > 4) std::cout << "[ERROR] Did not implement more than 8-point system... " << std::endl;
  return false;
}

std::unique_ptr<QuasiConfLines> QuasiConfLineMode::NewSet(const DeformQuasiConf& q, double delta,
                                                          const bool* sides,
                                                          LinAlgMatrixComplex& mobiusOrig,
                                                          bool report, const char*& problem) {
  const std::vector<double>& orig = q.m_ControlPointsOrigPos;
  std::vector<LinAlgComplex> corners(4), normals(4);
  LinAlgComplex c;
  for (int i = 0; i < 4; ++i) {
    corners[i] = LinAlgComplex(orig[2 * i], orig[2 * i + 1]);
    c += corners[i];
  }
  c = c / 4.0;
  double extent = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j) extent = std::fmax(extent, (corners[i] - corners[j]).Power());
  for (int i = 0; i < 4; ++i) {
    const LinAlgComplex e = corners[(i + 1) % 4] - corners[i];
    // A side of no length has no normal (and a constrained one no line).
    if (!(e.Power() > kMinRelativeEntry * extent)) {
      problem = "two corners of the line quadrilateral coincide";
      return nullptr;
    }
    LinAlgComplex normal = LinAlgComplex(-e.m_fIm, e.m_fRe) / e.Power();
    const LinAlgComplex out = corners[i] - c;
    if (out.m_fRe * normal.m_fRe + out.m_fIm * normal.m_fIm < 0.0) normal = -normal;
    normals[i] = normal;
  }
  SetIdentity(mobiusOrig);
  if (q.m_IntermediateOp == DeformQuasiConf::OP_FIXED_LINES_TPS &&
      !DeformQuasiConf::MapQuadrupletToParallelogram(orig, mobiusOrig)) {
    SetIdentity(mobiusOrig);
    problem = "the first four control points span no parallelogram (coincident, collinear or "
              "concyclic in crossed order)";
    return nullptr;
  }
  bool switches[4] = {sides[0], sides[1], sides[2], sides[3]};
  auto set = std::make_unique<QuasiConfLines>(corners, normals, 10, delta, mobiusOrig, switches,
                                              report);
  set->SetNewDelta(delta, delta);
  return set;
}

bool QuasiConfLineMode::UpdateSet(const DeformQuasiConf& q, QuasiConfLines& set,
                                  LinAlgMatrixComplex& mobiusNew) {
  SetIdentity(mobiusNew);
  if (q.m_IntermediateOp == DeformQuasiConf::OP_FIXED_LINES_TPS &&
      !DeformQuasiConf::MapQuadrupletToParallelogram(q.m_ControlPointsNewPos, mobiusNew)) {
    return false;
  }
  std::vector<LinAlgComplex> corners(4);
  for (int i = 0; i < 4; ++i) {
    corners[i] = LinAlgComplex(q.m_ControlPointsNewPos[2 * i], q.m_ControlPointsNewPos[2 * i + 1]);
  }
  return set.Update(corners, mobiusNew);
}

bool QuasiConfLineMode::Build(DeformQuasiConf& q) {
  const char* problem = nullptr;
  std::unique_ptr<QuasiConfLines> set =
      NewSet(q, std::fmax(q.m_fDelta1, q.m_fDelta2), q.m_bLineOnSide, m_MobiusOrig, true, problem);
  if (!set) {
    q.WarnSingular(problem);
    return false;
  }
  set->FillVertexToSectionMap(q.m_Image, &q, q.m_Faces, q.m_Vertices);
  set->SetNewDelta(q.m_fDelta1, q.m_fDelta2);
  set->m_bDrawSections = q.m_bDrawMesh;
  m_Sets.push_back(std::move(set));
  return true;
}

bool QuasiConfLineMode::Accepts(const DeformQuasiConf& q, double delta, const bool* sides) const {
  const bool lines = q.m_IntermediateOp == DeformQuasiConf::OP_FIXED_LINES_TPS ||
                     q.m_IntermediateOp == DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC;
  // Only a line set on show has a state to lose.
  if (!lines || m_Sets.empty() || q.NumControlPoints() != 4 ||
      q.m_DeformationType != Warpixator::DEFORM_REGULAR_MESH) {
    return true;
  }
  LinAlgMatrixComplex mobiusOrig(2, 2), mobiusNew(2, 2);
  const char* problem = nullptr;
  std::unique_ptr<QuasiConfLines> trial = NewSet(q, delta, sides, mobiusOrig, false, problem);
  return trial != nullptr && UpdateSet(q, *trial, mobiusNew);
}

bool QuasiConfLineMode::Deform(DeformQuasiConf& q) {
  q.m_Profiler.startedProcess("Deform_TPS");
  ++q.m_iNumDeforms;
  if (q.NumControlPoints() < 4) {
    q.m_Profiler.finishedProcess("Deform_TPS", false);
    return false;
  }
  LinAlgMatrixComplex mobiusNew(2, 2);
  SetIdentity(mobiusNew);
  const bool good =
      !m_Sets.empty() ? UpdateSet(q, *m_Sets[0], mobiusNew)
                      : q.m_IntermediateOp == DeformQuasiConf::OP_FIXED_LINES_TPS_NO_QC ||
                            DeformQuasiConf::MapQuadrupletToParallelogram(q.m_ControlPointsNewPos,
                                                                          mobiusNew);
  if (good) m_MobiusNew = mobiusNew;
  q.ReportFit(good, "the targets make the line constraints singular (a collapsed or crossed "
                    "quadrilateral, or offset lines that meet)");
  q.m_Profiler.finishedProcess("Deform_TPS", false);
  return true;
}

// ---------------------------------------------------------------------------
// Maps and drawing

void QuasiConfLineMode::MapPoint(DeformQuasiConf&, double x, double y, double& outX,
                                 double& outY) {
  // The mesh path passes the vertex index as well; here the point's side of
  // the lines picks the section.
  const LinAlgComplex w =
      m_Sets.empty() ? LinAlgComplex(x, y) : m_Sets[0]->Transform(LinAlgComplex(x, y), -1);
  outX = w.m_fRe;
  outY = w.m_fIm;
}

bool QuasiConfLineMode::MapsPoints(const DeformQuasiConf& q) const {
  return q.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH;
}

void QuasiConfLineMode::MapMeshVertices(DeformQuasiConf& q) {
  if (m_Sets.empty()) {
    q.RestoreRestMesh();
    return;
  }
  m_Sets[0]->TransformVertices(q.m_Vertices);
}

bool QuasiConfLineMode::DrawMarkers(DeformQuasiConf& q, WarpixatorCanvas* window) {
  if (m_Sets.empty()) return false;
  m_Sets[0]->m_bDrawSections = q.m_bDrawMesh;
  m_Sets[0]->Draw(window, q.m_iSelectedPoint);
  q.DrawControlPoints(window, q.m_ControlPointsNewPos, 0.0, 0.0, 1.0);
  return true;
}
