#include "deform/quasiconf/DeformQuasiConf.h"


#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

#include "deform/DeformMeanValueCoords.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfKernel.h"
#include "support/WarpixAssert.h"
#include "deform/WarpixatorCanvas.h"

using namespace quasiconf_detail;

namespace {

// The identity as a Mobius matrix.
void SetIdentity(LinAlgMatrixComplex& M) {
  M(0, 0) = LinAlgComplex(1.0, 0.0);
  M(0, 1) = LinAlgComplex(0.0, 0.0);
  M(1, 0) = LinAlgComplex(0.0, 0.0);
  M(1, 1) = LinAlgComplex(1.0, 0.0);
}

// The identity as an R-linear map: alpha = 1, beta = 0.
void SetIdentity(LinAlgMatrixReal& A) {
  A(0, 0) = 1.0;
  A(0, 1) = 0.0;
  A(1, 0) = 0.0;
  A(1, 1) = 0.0;
}

// Bytes of operator 4's preparation for `vertices` mesh vertices and n
// control points: per vertex and point a weight in the documented work set
// and in the fast one and three complex coefficients; per vertex its rest,
// mapped and local position; the n x n weight diagonal and right-hand sides.
double MLSTableBytes(double vertices, double n) {
  return vertices * n * (2 * sizeof(double) + 3 * sizeof(LinAlgComplex)) +
         vertices * 3 * sizeof(LinAlgComplex) + 2 * n * n * sizeof(LinAlgComplex);
}

// Bytes of the Mobius normalisation of n points (operators 0, 2, 3): the
// n x n left singular vectors of its n x 6 system.
double MobiusTableBytes(double n) { return n * n * sizeof(LinAlgComplex); }

// What a refused preparation names in its warning.
std::string TableOwner(const char* op, size_t vertices, int n) {
  std::string what = std::string("operator ") + op + " with ";
  if (vertices > 0) what += std::to_string(vertices) + " mesh vertices and ";
  return what + std::to_string(n) + " control points";
}

// The control points of a flat list as complex numbers.
void ToComplex(const std::vector<double>& flat, LinAlgVectorComplex& out) {
  for (int k = 0; k < out.Rows(); ++k) out(k) = LinAlgComplex(flat[2 * k], flat[2 * k + 1]);
}

}  // namespace

DeformQuasiConf::DeformQuasiConf(R2Image& image, const ZelString& name, IntermediateOperator op)
    : Warpixator(image, name),
      m_MobiusOrig(2, 2),
      m_MobiusNew(2, 2),
      m_LinearMap(2, 2, 0.0),
      m_IntermediateOp(op),
      m_iNumDeforms(0),
      m_fDelta1(0.01),
      m_fDelta2(0.01),
      m_bLineOnSide{true, false, true, false},
      m_PreparedOrig(2, 2),
      m_bPrepared(false),
      m_bSingular(false),
      m_bWarnedPixelMode(false),
      m_bAtOriginals(false) {
  SetIdentity(m_MobiusOrig);
  SetIdentity(m_MobiusNew);
  SetIdentity(m_LinearMap);
  SetIdentity(m_PreparedOrig);
}

DeformQuasiConf::~DeformQuasiConf() { ReleaseMLSWorkSet(); }

DeformQuasiConf::IntermediateOperator DeformQuasiConf::StrToIntermediateOp(const char* word) {
  if (word == nullptr) return OP_NONE;
  static const struct {
    const char* word;
    IntermediateOperator op;
  } kWords[] = {{"AffineQuad", OP_AFFINE_QUAD},
                {"MeanValCoords", OP_MEAN_VAL_COORDS},
                {"ThinPlateSplines", OP_THIN_PLATE_SPLINES},
                {"MovingLeastSquares", OP_MOVING_LEAST_SQUARES},
                {"FixedLinesTPS", OP_FIXED_LINES_TPS},
                {"FixedLinesTPSNoQuasiConf", OP_FIXED_LINES_TPS_NO_QC}};
  for (const auto& entry : kWords) {
    if (std::strcmp(word, entry.word) == 0) return entry.op;
  }
  return OP_NONE;
}

int DeformQuasiConf::MinimumPoints() const {
  switch (m_IntermediateOp) {
    case OP_AFFINE_QUAD:
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC:
      return 4;
    default:
      return 3;
  }
}

void DeformQuasiConf::ResetMaps() {
  SetIdentity(m_MobiusOrig);
  SetIdentity(m_MobiusNew);
  SetIdentity(m_LinearMap);
  SetIdentity(m_PreparedOrig);
  m_MVCSource.clear();
  m_MVCTarget.clear();
  m_bPrepared = false;
  m_bAtOriginals = false;
}

void DeformQuasiConf::WarnSingular(const char* what) {
  if (m_bSingular) return;
  m_bSingular = true;
  std::cout << "[WARNING] " << m_Name << ": " << what
            << "; the last good deformation is kept" << std::endl;
}

// ---------------------------------------------------------------------------
// Run-time controls

void DeformQuasiConf::TweakParameter(double step) {
  std::cout << "delta=" << step << std::endl;
  const double increment = std::fabs(step) <= 0.01 ? step / 10.0 : step / 100.0;
  double d = m_fDelta1 + increment;
  if (d <= 0.0) {
    d = 1e-9;
  } else if (d >= 1.0) {
    d = 1.0;
  }
  // A line set on show is replaced only by one that takes the originals and
  // the current targets; otherwise the set, the deltas and the mesh stay.
  if (!LinesAccept(d, m_bLineOnSide)) {
    std::cout << "[WARNING] " << m_Name << ": delta " << d
              << " makes the line constraints singular (offset lines that meet); delta stays "
              << m_fDelta1 << std::endl;
    return;
  }
  m_fDelta1 = m_fDelta2 = d;
  std::cout << "New Delta=[" << d << ", " << d << "] " << std::endl;
  Rerun();
}

void DeformQuasiConf::ChangeMode(int key) {
  if (key >= 1 && key <= 6) {
    m_IntermediateOp = static_cast<IntermediateOperator>(key);
    std::cout << "New Mode = " << key << std::endl;
    // The other operator's maps mean nothing to this one: start from the
    // identity and the rest mesh, then fit anew.
    ResetMaps();
    for (ImgVertex& vertex : m_Vertices) {
      vertex.m_fX = vertex.m_fRestX;
      vertex.m_fY = vertex.m_fRestY;
    }
  } else if (key == 7 || key == 8 || key == 9 || key == 0) {
    const int side = key == 0 ? 3 : key - 7;
    bool sides[4] = {m_bLineOnSide[0], m_bLineOnSide[1], m_bLineOnSide[2], m_bLineOnSide[3]};
    sides[side] = !sides[side];
    // As for the delta: the set on show stays unless the new one takes the
    // points.
    if (!LinesAccept(std::fmax(m_fDelta1, m_fDelta2), sides)) {
      std::cout << "[WARNING] " << m_Name << ": switching the line on side " << side
                << " makes the line constraints singular (offset lines that meet); the lines stay"
                << std::endl;
      return;
    }
    m_bLineOnSide[side] = sides[side];
    std::cout << "Line constraints: " << m_bLineOnSide[3] << " " << m_bLineOnSide[2] << " "
              << m_bLineOnSide[1] << " " << m_bLineOnSide[0] << std::endl;
  } else {
    WARPIX_ASSERT(false);
  }
  Rerun();
}

void DeformQuasiConf::Rerun() {
  if (m_ControlPointsOrigPos.empty()) return;
  m_bNeedsUpdate = true;
  // Operator 4's vertices are its whole state: a refused fit keeps them.
  if (m_IntermediateOp != OP_MOVING_LEAST_SQUARES || NumControlPoints() < MinimumPoints()) {
    for (ImgVertex& vertex : m_Vertices) {
      vertex.m_fX = vertex.m_fRestX;
      vertex.m_fY = vertex.m_fRestY;
    }
  }
  PrepareDeformator();
  Deform();
}

// ---------------------------------------------------------------------------
// Control points

void DeformQuasiConf::AddControlPoint(double x, double y, double* outX, double* outY) {
  int chosen = -1;
  if (m_DeformationType == DEFORM_REGULAR_MESH && !m_Vertices.empty()) {
    chosen = NearestVertex(x, y, m_bSnapToNonWhite);
    if (chosen < 0 && m_bSnapToNonWhite) {
      chosen = NearestVertex(x, y, false);
      if (chosen >= 0) {
        std::cout << "[WARNING] " << m_Name
                  << ": no opaque mesh vertex; the point goes to the nearest vertex" << std::endl;
      }
    }
  }
  if (chosen < 0 || chosen >= static_cast<int>(m_Vertices.size())) {
    // No mesh (pixel mode) or no vertex within reach (a point that is not a
    // number): the clicked position, like the base.
    Warpixator::AddControlPoint(x, y, outX, outY);
  } else {
    const double placedX = m_Vertices[chosen].m_fX;
    const double placedY = m_Vertices[chosen].m_fY;
    std::cout << "actual=[" << placedX << ", " << placedY << "]" << std::endl;
    Warpixator::AddControlPoint(placedX, placedY, outX, outY);
  }
  // The new point changes the fit at once: the next frame shows maps that
  // belong together.
  m_bNeedsUpdate = true;
  Deform();
}

void DeformQuasiConf::ClearControls(bool save) {
  const bool saves = save && m_DeformationType == DEFORM_REGULAR_MESH;
  Warpixator::ClearControls(save);
  // The saved deformation now lives in the rest mesh.
  if (saves) ResetMaps();
}

// ---------------------------------------------------------------------------
// Preparation and deformation

void DeformQuasiConf::PrepareDeformator() {
  const int n = NumControlPoints();
  m_bPrepared = false;
  switch (m_IntermediateOp) {
    case OP_MOVING_LEAST_SQUARES:
      ReleaseMLSWorkSet();
      if (n >= 3 && m_DeformationType == DEFORM_REGULAR_MESH && !m_Vertices.empty()) {
        if (!FitsTableLimit(MLSTableBytes(static_cast<double>(m_Vertices.size()), n),
                            TableOwner("4 (MovingLeastSquares)", m_Vertices.size(), n).c_str(),
                            "not prepared, the last good deformation is kept")) {
          break;
        }
        m_bPrepared = PrepareMLS();
        if (!m_bPrepared) {
          ReleaseMLSWorkSet();
          WarnSingular("the control points give no local normalisation (coincident or collinear)");
        }
      }
      break;
    case OP_AFFINE_QUAD:
      if (n >= 4) {
        m_bPrepared = MapQuadrupletToParallelogram(m_ControlPointsOrigPos, m_PreparedOrig);
        if (!m_bPrepared) {
          WarnSingular("the first four control points span no parallelogram (coincident, collinear or "
                       "concyclic in crossed order)");
        }
      }
      break;
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC:
      m_Profiler.startedProcess("PrepareTPS");
      m_LineConstraints.clear();
      if (n == 4 && m_DeformationType == DEFORM_REGULAR_MESH) {
        m_bPrepared = PrepareLines();
        m_Profiler.finishedProcess("PrepareTPS", false);
      } else {
        m_Profiler.finishedProcess("PrepareTPS", false);
        if (n > 4) std::cout << "[ERROR] Did not implement more than 8-point system... " << std::endl;
      }
      break;
    default: {
      // The targets' normalisation in Deform is as large; it runs only after
      // a preparation.
      const char* op = m_IntermediateOp == OP_MEAN_VAL_COORDS      ? "2 (MeanValCoords)"
                       : m_IntermediateOp == OP_THIN_PLATE_SPLINES ? "3 (ThinPlateSplines)"
                                                                   : "0";
      if (n >= 3 && FitsTableLimit(MobiusTableBytes(n), TableOwner(op, 0, n).c_str(),
                                   "not prepared, the last good deformation is kept")) {
        m_bPrepared = NMobiusPointAffineMap(m_ControlPointsOrigPos, m_PreparedOrig);
        if (!m_bPrepared) WarnSingular("the control points give no Mobius normalisation (coincident)");
      }
      break;
    }
  }
}

std::unique_ptr<QuasiConfLines> DeformQuasiConf::NewLineSet(double delta, const bool* sides,
                                                            LinAlgMatrixComplex& mobiusOrig,
                                                            bool report, const char*& problem) {
  std::vector<LinAlgComplex> corners(4), normals(4);
  LinAlgComplex c;
  for (int i = 0; i < 4; ++i) {
    corners[i] = LinAlgComplex(m_ControlPointsOrigPos[2 * i], m_ControlPointsOrigPos[2 * i + 1]);
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
  if (m_IntermediateOp == OP_FIXED_LINES_TPS &&
      !MapQuadrupletToParallelogram(m_ControlPointsOrigPos, mobiusOrig)) {
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

bool DeformQuasiConf::UpdateLineSet(QuasiConfLines& set, LinAlgMatrixComplex& mobiusNew) {
  SetIdentity(mobiusNew);
  if (m_IntermediateOp == OP_FIXED_LINES_TPS &&
      !MapQuadrupletToParallelogram(m_ControlPointsNewPos, mobiusNew)) {
    return false;
  }
  std::vector<LinAlgComplex> corners(4);
  for (int i = 0; i < 4; ++i) {
    corners[i] = LinAlgComplex(m_ControlPointsNewPos[2 * i], m_ControlPointsNewPos[2 * i + 1]);
  }
  return set.Update(corners, mobiusNew);
}

bool DeformQuasiConf::PrepareLines() {
  const char* problem = nullptr;
  std::unique_ptr<QuasiConfLines> set =
      NewLineSet(std::fmax(m_fDelta1, m_fDelta2), m_bLineOnSide, m_MobiusOrig, true, problem);
  if (!set) {
    WarnSingular(problem);
    return false;
  }
  set->FillVertexToSectionMap(m_Image, this, m_Faces, m_Vertices);
  set->SetNewDelta(m_fDelta1, m_fDelta2);
  set->m_bDrawSections = m_bDrawMesh;
  m_LineConstraints.push_back(std::move(set));
  return true;
}

bool DeformQuasiConf::LinesAccept(double delta, const bool* sides) {
  const bool lines = m_IntermediateOp == OP_FIXED_LINES_TPS || m_IntermediateOp == OP_FIXED_LINES_TPS_NO_QC;
  // Only a line set on show has a state to lose.
  if (!lines || m_LineConstraints.empty() || NumControlPoints() != 4 ||
      m_DeformationType != DEFORM_REGULAR_MESH) {
    return true;
  }
  LinAlgMatrixComplex mobiusOrig(2, 2), mobiusNew(2, 2);
  const char* problem = nullptr;
  std::unique_ptr<QuasiConfLines> trial = NewLineSet(delta, sides, mobiusOrig, false, problem);
  return trial != nullptr && UpdateLineSet(*trial, mobiusNew);
}

bool DeformQuasiConf::DeformGlobal() {
  const int n = NumControlPoints();
  LinAlgMatrixComplex mobiusNew(2, 2);
  const bool fitted = m_IntermediateOp == OP_AFFINE_QUAD
                          ? MapQuadrupletToParallelogram(m_ControlPointsNewPos, mobiusNew)
                          : NMobiusPointAffineMap(m_ControlPointsNewPos, mobiusNew);
  if (!fitted) return false;

  LinAlgVectorComplex orig(n), target(n), src(n), dst(n);
  ToComplex(m_ControlPointsOrigPos, orig);
  ToComplex(m_ControlPointsNewPos, target);
  CORR_apply_mobius_as_matrix(m_PreparedOrig, orig, src);
  CORR_apply_mobius_as_matrix(mobiusNew, target, dst);
  if (!mobiusNew.Inverse()) return false;

  // Each operator fit checks before it writes, so a refused fit changes nothing.
  if (m_IntermediateOp == OP_AFFINE_QUAD) {
    if (!FillAffineOn4Pnt(src, dst)) return false;
  } else if (m_IntermediateOp == OP_MEAN_VAL_COORDS) {
    // A flat normalised polygon has no usable coordinates anywhere off it;
    // a flat target polygon would fold the whole picture onto one curve.
    if (IsFlat(&src(0), n) || IsFlat(&dst(0), n)) return false;
    FillNPointInterpMVC(src, dst);
  }
  m_MobiusOrig = m_PreparedOrig;
  m_MobiusNew = mobiusNew;
  m_bAtOriginals = m_ControlPointsNewPos == m_ControlPointsOrigPos;
  return true;
}

void DeformQuasiConf::Deform() {
  if (!m_bNeedsUpdate) return;
  m_bNeedsUpdate = false;
  WARPIX_ASSERT(m_ControlPointsNewPos.size()==m_ControlPointsOrigPos.size());
  const int n = NumControlPoints();
  // No points: nothing to fit, whatever the operator.
  if (n == 0) return;

  switch (m_IntermediateOp) {
    case OP_MOVING_LEAST_SQUARES: {
      ++m_iNumDeforms;
      m_Profiler.startedProcess("Deform");
      if (m_DeformationType != DEFORM_REGULAR_MESH) {
        if (!m_bWarnedPixelMode) {
          m_bWarnedPixelMode = true;
          std::cout << "[WARNING] " << m_Name
                    << ": operator 4 needs DEFORM_REGULAR_MESH; the image is shown undeformed"
                    << std::endl;
        }
        m_Profiler.finishedProcess("Deform", false);
        return;
      }
      if (!m_bPrepared || !m_pVertOut) {
        m_Profiler.finishedProcess("Deform", false);
        return;
      }
      ToComplex(m_ControlPointsNewPos, *m_pCtrlNew);
      if (m_ControlPointsNewPos == m_ControlPointsOrigPos) {
        // Nothing moved: the rest mesh exactly, not to rounding (points are
        // snapped by current position, so every cell must agree on it).
        for (ImgVertex& vertex : m_Vertices) {
          vertex.m_fX = vertex.m_fRestX;
          vertex.m_fY = vertex.m_fRestY;
        }
        m_bSingular = false;
      } else if (FastFPIMLS(m_ControlPointsNewPos, *m_pVertOut)) {
        for (size_t k = 0; k < m_Vertices.size(); ++k) {
          m_Vertices[k].m_fX = (*m_pVertOut)(static_cast<int>(k)).m_fRe;
          m_Vertices[k].m_fY = (*m_pVertOut)(static_cast<int>(k)).m_fIm;
        }
        m_bSingular = false;
      } else {
        WarnSingular("the targets give no local normalisation (coincident or collinear)");
      }
      m_Profiler.finishedProcess("Deform", false);
      break;
    }
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC: {
      m_Profiler.startedProcess("Deform_TPS");
      ++m_iNumDeforms;
      if (n < 4) {
        m_Profiler.finishedProcess("Deform_TPS", false);
        return;
      }
      LinAlgMatrixComplex mobiusNew(2, 2);
      SetIdentity(mobiusNew);
      const bool good = !m_LineConstraints.empty()
                            ? UpdateLineSet(*m_LineConstraints[0], mobiusNew)
                            : m_IntermediateOp == OP_FIXED_LINES_TPS_NO_QC ||
                                  MapQuadrupletToParallelogram(m_ControlPointsNewPos, mobiusNew);
      if (good) {
        m_MobiusNew = mobiusNew;
        m_bSingular = false;
      } else {
        WarnSingular("the targets make the line constraints singular (a collapsed or crossed "
                     "quadrilateral, or offset lines that meet)");
      }
      m_Profiler.finishedProcess("Deform_TPS", false);
      break;
    }
    default:
      ++m_iNumDeforms;
      m_Profiler.startedProcess("DeformQuad");
      if (n < MinimumPoints() || !m_bPrepared) {
        m_Profiler.finishedProcess("DeformQuad", false);
        return;
      }
      if (DeformGlobal()) {
        m_bSingular = false;
      } else {
        WarnSingular(m_IntermediateOp == OP_AFFINE_QUAD
                         ? "the targets span no parallelogram (coincident, collinear or concyclic "
                           "in crossed order)"
                         : "the targets give no Mobius normalisation (coincident or collinear)");
      }
      m_Profiler.finishedProcess("DeformQuad", false);
      break;
  }

  if (m_iNumDeforms % 100 == 0) {
    std::cout << "Timing per " << m_iNumDeforms << " operations:" << std::endl
              << "\t" << m_Profiler.profile() << std::endl;
  }
}

// ---------------------------------------------------------------------------
// Point and mesh maps

void DeformQuasiConf::MapPoint(double x, double y, double& outX, double& outY) {
  if (m_bAtOriginals) {
    // Nothing moved: every point stays exactly where it is.
    outX = x;
    outY = y;
    return;
  }
  if (m_IntermediateOp == OP_FIXED_LINES_TPS || m_IntermediateOp == OP_FIXED_LINES_TPS_NO_QC) {
    // The line modes map through their set (the mesh path passes the vertex
    // index as well): the point's side of the lines picks the section.
    const LinAlgComplex w = m_LineConstraints.empty()
                                ? LinAlgComplex(x, y)
                                : m_LineConstraints[0]->Transform(LinAlgComplex(x, y), -1);
    outX = w.m_fRe;
    outY = w.m_fIm;
    return;
  }
  m_Profiler.startedProcess("DeformQuad");
  LinAlgComplex w = MobiusTransform(m_MobiusOrig, LinAlgComplex(x, y));
  switch (m_IntermediateOp) {
    case OP_NONE:
    case OP_THIN_PLATE_SPLINES:
      break;
    case OP_MEAN_VAL_COORDS:
      w = MVCTransform(w);
      break;
    case OP_AFFINE_QUAD:
      w = LinearTransform(w);
      break;
    default:
      WARPIX_ASSERT(false);
  }
  w = MobiusTransform(m_MobiusNew, w);
  outX = w.m_fRe;
  outY = w.m_fIm;
  m_Profiler.finishedProcess("DeformQuad", false);
}

bool DeformQuasiConf::MapsPoints() const {
  switch (m_IntermediateOp) {
    case OP_MOVING_LEAST_SQUARES:
      return false;
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC:
      return m_DeformationType == DEFORM_REGULAR_MESH;
    default:
      return true;
  }
}

void DeformQuasiConf::MapMeshVertices() {
  m_Profiler.startedProcess("MapVerts");
  const size_t count = m_Vertices.size();
  switch (m_IntermediateOp) {
    case OP_MOVING_LEAST_SQUARES:
      break;
    case OP_FIXED_LINES_TPS:
    case OP_FIXED_LINES_TPS_NO_QC:
      if (!m_LineConstraints.empty()) {
        m_LineConstraints[0]->TransformVertices(m_Vertices);
        break;
      }
      for (ImgVertex& vertex : m_Vertices) {
        vertex.m_fX = vertex.m_fRestX;
        vertex.m_fY = vertex.m_fRestY;
      }
      break;
    default: {
      if (m_bAtOriginals) {
        for (ImgVertex& vertex : m_Vertices) {
          vertex.m_fX = vertex.m_fRestX;
          vertex.m_fY = vertex.m_fRestY;
        }
        break;
      }
      // MapPoint's arithmetic for all vertices at once, at the vector width,
      // without its per-point timing: Morig, the operator, then Mnew^-1. A
      // vertex that would not be finite keeps its place.
      const LinAlgComplex origElements[4] = {m_MobiusOrig(0, 0), m_MobiusOrig(0, 1),
                                             m_MobiusOrig(1, 0), m_MobiusOrig(1, 1)};
      const LinAlgComplex inverseElements[4] = {m_MobiusNew(0, 0), m_MobiusNew(0, 1),
                                                m_MobiusNew(1, 0), m_MobiusNew(1, 1)};
      double orig[8], inverse[8];
      quasiconf_detail::FlatMobius(origElements, orig);
      quasiconf_detail::FlatMobius(inverseElements, inverse);
      const int n = static_cast<int>(count);
      if (m_IntermediateOp != OP_MEAN_VAL_COORDS || m_MVCSource.size() < 6 ||
          m_MVCSource.size() != m_MVCTarget.size()) {
        // One pass over the vertices; the operator is R-linear or the identity.
        const double linear[4] = {m_LinearMap(0, 0), m_LinearMap(0, 1), m_LinearMap(1, 0),
                                  m_LinearMap(1, 1)};
        warpix::MobiusChainVertices(orig, m_IntermediateOp == OP_AFFINE_QUAD ? linear : nullptr,
                                    inverse, m_Vertices.data(), n);
        break;
      }
      // Mean value coordinates between the two maps.
      m_Scratch.resize(4 * count);
      double* const wx = m_Scratch.data();
      double* const wy = wx + count;
      double* const ox = wx + 2 * count;
      double* const oy = wx + 3 * count;
      for (size_t k = 0; k < count; ++k) {
        ox[k] = m_Vertices[k].m_fRestX;
        oy[k] = m_Vertices[k].m_fRestY;
      }
      warpix::MobiusMapPoints(orig, n, ox, oy, wx, wy);
      DeformMeanValueCoords::MapPolygonPoints(m_MVCSource, m_MVCTarget, n, wx, wy, ox, oy);
      warpix::MobiusMapPoints(inverse, n, ox, oy, ox, oy);
      for (size_t k = 0; k < count; ++k) {
        if (std::isfinite(ox[k]) && std::isfinite(oy[k])) {
          m_Vertices[k].m_fX = ox[k];
          m_Vertices[k].m_fY = oy[k];
        }
      }
      break;
    }
  }
  m_Profiler.finishedProcess("MapVerts", false);
}

// ---------------------------------------------------------------------------
// Drawing

void DeformQuasiConf::Draw(WarpixatorCanvas* window) {
  PrepareFrame();
  if (m_bLoadTexture) LoadIntoTexture(window);
  // The textured mesh without its edges.
  const bool drawMesh = m_bDrawMesh;
  m_bDrawMesh = false;
  DrawAsTexture(window);
  m_bDrawMesh = drawMesh;
  const bool lines = m_IntermediateOp == OP_FIXED_LINES_TPS || m_IntermediateOp == OP_FIXED_LINES_TPS_NO_QC;
  if (lines && !m_LineConstraints.empty()) {
    m_LineConstraints[0]->m_bDrawSections = m_bDrawMesh;
    m_LineConstraints[0]->Draw(window, m_iSelectedPoint);
    DrawControlPoints(window, m_ControlPointsNewPos, 0.0, 0.0, 1.0);
  } else {
    DrawControlPoints(window);
  }
  if (window != nullptr) window->RenderText(GetDeformatorName(), 0.2, 1.01, 0.5, 0.0, 0.0, 2);
}
