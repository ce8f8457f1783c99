#include "deform/DeformGreenCoords.h"

#include <cmath>
#include <iostream>
#include <limits>
#include <string>

#include "deform/FlatPointSet.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// Consecutive points closer than this fraction of the cage's extent coincide.
constexpr double kMinRelativeEdge = 1e-12;

// Twice the signed area of triangle (a, b, c): > 0 when counter-clockwise.
inline double Orient(double ax, double ay, double bx, double by, double cx, double cy) {
  return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// Whether c, known to lie on the line through a and b, lies on the closed segment.
inline bool WithinBox(double ax, double ay, double bx, double by, double cx, double cy) {
  return std::fmin(ax, bx) <= cx && cx <= std::fmax(ax, bx) && std::fmin(ay, by) <= cy &&
         cy <= std::fmax(ay, by);
}

inline bool Opposite(double s, double t) { return (s > 0.0 && t < 0.0) || (s < 0.0 && t > 0.0); }

// Whether the closed segments p1p2 and q1q2 share a point.
bool SegmentsMeet(const double* p1, const double* p2, const double* q1, const double* q2) {
  const double o1 = Orient(p1[0], p1[1], p2[0], p2[1], q1[0], q1[1]);
  const double o2 = Orient(p1[0], p1[1], p2[0], p2[1], q2[0], q2[1]);
  const double o3 = Orient(q1[0], q1[1], q2[0], q2[1], p1[0], p1[1]);
  const double o4 = Orient(q1[0], q1[1], q2[0], q2[1], p2[0], p2[1]);
  if (Opposite(o1, o2) && Opposite(o3, o4)) return true;
  return (o1 == 0.0 && WithinBox(p1[0], p1[1], p2[0], p2[1], q1[0], q1[1])) ||
         (o2 == 0.0 && WithinBox(p1[0], p1[1], p2[0], p2[1], q2[0], q2[1])) ||
         (o3 == 0.0 && WithinBox(q1[0], q1[1], q2[0], q2[1], p1[0], p1[1])) ||
         (o4 == 0.0 && WithinBox(q1[0], q1[1], q2[0], q2[1], p2[0], p2[1]));
}

}  // namespace

// ---------------------------------------------------------------------------
// The cage

const char* GreenCage::Defect(const std::vector<double>& orig) {
  const int n = static_cast<int>(orig.size() / 2);
  const double* p = orig.data();
  if (warpix::IsFlatPointSet(
          n, [p](int k) { return p[2 * k]; }, [p](int k) { return p[2 * k + 1]; }, 1e-6)) {
    return "the control points lie on one line, their cage has no area";
  }
  double extent = 0.0;
  for (int k = 1; k < n; ++k) {
    extent = std::fmax(extent, std::fmax(std::fabs(p[2 * k] - p[0]), std::fabs(p[2 * k + 1] - p[1])));
  }
  for (int k = 0; k < n; ++k) {
    const int next = (k + 1) % n;
    if (std::hypot(p[2 * next] - p[2 * k], p[2 * next + 1] - p[2 * k + 1]) <=
        kMinRelativeEdge * extent) {
      return "two consecutive control points coincide, their cage has an edge of no length";
    }
  }
  for (int i = 0; i < n; ++i) {
    const double* a = p + 2 * i;
    const double* b = p + 2 * ((i + 1) % n);
    // Adjacent edges meet at their shared vertex only, unless they fold back
    // onto each other.
    const double* before = p + 2 * ((i + n - 1) % n);
    const double cross = Orient(a[0], a[1], b[0], b[1], before[0], before[1]);
    const double dot = (b[0] - a[0]) * (before[0] - a[0]) + (b[1] - a[1]) * (before[1] - a[1]);
    if (cross == 0.0 && dot > 0.0) return "the cage of the control points crosses itself";
    for (int j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;  // adjacent through the closing edge
      if (SegmentsMeet(a, b, p + 2 * j, p + 2 * ((j + 1) % n))) {
        return "the cage of the control points crosses itself";
      }
    }
  }
  return nullptr;
}

void GreenCage::Clear() {
  m_iN = 0;
  m_Order.clear();
}

void GreenCage::Build(const std::vector<double>& orig) {
  const int n = static_cast<int>(orig.size() / 2);
  m_iN = n;
  double cx = 0.0, cy = 0.0, area2 = 0.0;
  for (int k = 0; k < n; ++k) {
    const int next = (k + 1) % n;
    cx += orig[2 * k];
    cy += orig[2 * k + 1];
    area2 += orig[2 * k] * orig[2 * next + 1] - orig[2 * next] * orig[2 * k + 1];
  }
  m_fCenterX = cx / n;
  m_fCenterY = cy / n;
  double extent = 0.0;
  for (int k = 0; k < n; ++k) {
    extent = std::fmax(extent, std::fmax(std::fabs(orig[2 * k] - m_fCenterX),
                                         std::fabs(orig[2 * k + 1] - m_fCenterY)));
  }
  m_fInvScale = 1.0 / extent;

  // The formulas below hold for a counter-clockwise cage: a clockwise one is
  // walked backwards, which is the same polygon.
  m_Order.resize(n);
  for (int k = 0; k < n; ++k) m_Order[k] = area2 >= 0.0 ? k : n - 1 - k;
  for (auto* v : {&m_PX, &m_PY, &m_TX, &m_TY, &m_Len, &m_InvLen2, &m_NX, &m_NY, &m_VertexPhi,
                  &m_DX, &m_DY, &m_R2, &m_LogR2, &m_Phi, &m_Psi}) {
    v->assign(n, 0.0);
  }
  for (int k = 0; k < n; ++k) {
    m_PX[k] = (orig[2 * m_Order[k]] - m_fCenterX) * m_fInvScale;
    m_PY[k] = (orig[2 * m_Order[k] + 1] - m_fCenterY) * m_fInvScale;
  }
  for (int k = 0; k < n; ++k) {
    const int next = (k + 1) % n;
    m_TX[k] = m_PX[next] - m_PX[k];
    m_TY[k] = m_PY[next] - m_PY[k];
    const double len2 = m_TX[k] * m_TX[k] + m_TY[k] * m_TY[k];
    m_Len[k] = std::sqrt(len2);
    m_InvLen2[k] = 1.0 / len2;
    m_NX[k] = m_TY[k] / m_Len[k];
    m_NY[k] = -m_TX[k] / m_Len[k];
  }
  // Approaching vertex k from inside, its two edges together subtend
  // 2 pi minus the interior angle, all of it weighing vertex k.
  for (int k = 0; k < n; ++k) {
    const int prev = (k + n - 1) % n;
    const double ex = m_TX[k], ey = m_TY[k];          // towards the next vertex
    const double fx = -m_TX[prev], fy = -m_TY[prev];  // towards the previous one
    double interior = std::atan2(ex * fy - ey * fx, ex * fx + ey * fy);
    if (interior < 0.0) interior += kTwoPi;
    m_VertexPhi[k] = 1.0 - interior / kTwoPi;
  }
}

void GreenCage::AddExit(int edge, double beta, double gamma, double share) {
  const int next = edge + 1 < m_iN ? edge + 1 : 0;
  m_Phi[edge] += share * (1.0 - beta);
  m_Phi[next] += share * beta;
  m_Psi[edge] += share * gamma;
}

void GreenCage::Coordinates(double x, double y, double* re, double* im) {
  const int n = m_iN;
  const double u = (x - m_fCenterX) * m_fInvScale;
  const double w = (y - m_fCenterY) * m_fInvScale;
  int hit = -1;  // the vertex the point is on
  for (int k = 0; k < n; ++k) {
    const double dx = m_PX[k] - u, dy = m_PY[k] - w;
    const double r2 = dx * dx + dy * dy;
    m_DX[k] = dx;
    m_DY[k] = dy;
    m_R2[k] = r2;
    // 0 log 0 is 0 in every term below, and only such terms read a zero log.
    m_LogR2[k] = r2 > 0.0 ? std::log(r2) : 0.0;
    if (r2 == 0.0 && hit < 0) hit = k;
    m_Phi[k] = 0.0;
  }

  double winding = 0.0;
  int exitEdge = -1;
  double exitDist2 = std::numeric_limits<double>::infinity();
  double exitGamma = -std::numeric_limits<double>::infinity();
  double exitBeta = 0.0;
  int tieEdge = -1;  // an edge exactly as near and as far beyond as exitEdge
  double tieBeta = 0.0;
  for (int a = 0; a < n; ++a) {
    const int b = a + 1 < n ? a + 1 : 0;
    const double dxa = m_DX[a], dya = m_DY[a], dxb = m_DX[b], dyb = m_DY[b];
    const double cross = dxa * dyb - dya * dxb;
    const double dot = dxa * dxb + dya * dyb;
    // The signed angle the edge subtends; on the open edge its limit from inside.
    const double theta = (cross == 0.0 && dot < 0.0) ? kPi : std::atan2(cross, dot);
    const double len = m_Len[a], invLen2 = m_InvLen2[a];
    const double h = dxa * m_NX[a] + dya * m_NY[a];  // distance to the edge's line, > 0 inside
    const double ta = (m_TX[a] * dxa + m_TY[a] * dya) * invLen2;
    const double tb = (m_TX[a] * dxb + m_TY[a] * dyb) * invLen2;
    // Mean of log |xi - eta|^2 over the edge, and the edge coordinate.
    const double logMean = 2.0 * h * theta / len + tb * m_LogR2[b] - ta * m_LogR2[a] - 2.0;
    m_Psi[a] = -(len / (4.0 * kPi)) * logMean;
    // The normal derivative of the kernel against the two hat functions.
    if (hit != a && hit != b) {
      const double j1 = (h / (2.0 * len)) * (m_LogR2[b] - m_LogR2[a]) - ta * theta;
      m_Phi[a] += (theta - j1) / kTwoPi;
      m_Phi[b] += j1 / kTwoPi;
    }
    winding += theta;
    // The nearest edge; beyond a vertex both its edges are equally near, and
    // the one whose line the point lies farthest beyond wins. An exact tie
    // (on the bisector beyond a vertex) is kept to average both.
    const double beta = -ta;  // where the point projects along the edge
    const double dist2 = beta <= 0.0 ? m_R2[a] : beta >= 1.0 ? m_R2[b] : h * h;
    if (dist2 < exitDist2 || (dist2 == exitDist2 && -h > exitGamma)) {
      exitEdge = a;
      exitDist2 = dist2;
      exitGamma = -h;
      exitBeta = beta;
      tieEdge = -1;
    } else if (dist2 == exitDist2 && -h == exitGamma) {
      tieEdge = a;
      tieBeta = beta;
    }
  }

  if (hit >= 0) {
    m_Phi[hit] += m_VertexPhi[hit];
  } else if (!(winding > kPi) && exitEdge >= 0) {
    // Outside the raw integrals vanish for the identity: continue the inside
    // map across the exit edge by adding the point's affine frame of it. On
    // the line where two edges tie, the mean of both continuations, which
    // does not depend on the order the edges are visited in.
    const double share = tieEdge >= 0 ? 0.5 : 1.0;
    AddExit(exitEdge, exitBeta, exitGamma, share);
    if (tieEdge >= 0) AddExit(tieEdge, tieBeta, exitGamma, share);
  }

  // psi_k s_k n(t'_k) = -i psi_k (q_{k+1} - q_k) / l_k.
  bool finite = true;
  for (int k = 0; k < n; ++k) {
    const int prev = k > 0 ? k - 1 : n - 1;
    const double cRe = m_Phi[k];
    const double cIm = m_Psi[k] / m_Len[k] - m_Psi[prev] / m_Len[prev];
    finite = finite && std::isfinite(cRe) && std::isfinite(cIm);
    re[m_Order[k]] = cRe;
    im[m_Order[k]] = cIm;
  }
  if (!finite) {
    for (int k = 0; k < n; ++k) {
      re[k] = 1.0 / n;
      im[k] = 0.0;
    }
  }
}

// ---------------------------------------------------------------------------
// The deformator

DeformGreenCoords::DeformGreenCoords(R2Image& image, const ZelString& name)
    : Warpixator(image, name) {}

DeformGreenCoords::~DeformGreenCoords() = default;

void DeformGreenCoords::PrepareDeformator() {
  if (NumControlPoints() >= 3) {
    if (const char* defect = GreenCage::Defect(m_ControlPointsOrigPos)) {
      if (!m_bRefused) {
        m_bRefused = true;
        std::cout << "[WARNING] " << m_Name << ": " << defect
                  << "; the last good deformation is kept" << std::endl;
      }
      return;
    }
  }
  m_bRefused = false;
  m_MapOrig = m_ControlPointsOrigPos;
  m_MapTarget = m_ControlPointsNewPos;
  if (NumControlPoints() >= 3) {
    m_Cage.Build(m_MapOrig);
  } else {
    m_Cage.Clear();
  }
  m_Re.assign(m_Cage.Points(), 0.0);
  m_Im.assign(m_Cage.Points(), 0.0);
  BuildTable();
}

void DeformGreenCoords::BuildTable() {
  m_Table.Clear();
  const int n = m_Cage.Points();
  const int count = static_cast<int>(m_Vertices.size());
  if (n < 3 || m_DeformationType != DEFORM_REGULAR_MESH || count == 0) return;
  const std::string what = "the coordinates of " + std::to_string(count) +
                           " mesh vertices and " + std::to_string(n) + " control points";
  if (!FitsTableLimit(warpix::CoordinateTable::Bytes(count, n,
                                                     warpix::CoordinateTable::Kind::kComplex),
                      what.c_str(), "each vertex is mapped on its own in every frame (slower)")) {
    return;
  }
  m_Table.Reset(count, n, warpix::CoordinateTable::Kind::kComplex);
  for (int v = 0; v < count; ++v) {
    m_Cage.Coordinates(m_Vertices[v].m_fRestX, m_Vertices[v].m_fRestY, m_Re.data(), m_Im.data());
    for (int j = 0; j < n; ++j) {
      m_Table.Re(j)[v] = m_Re[j];
      m_Table.Im(j)[v] = m_Im[j];
    }
  }
}

void DeformGreenCoords::Deform() {
  if (m_bRefused) return;
  if (m_ControlPointsOrigPos != m_MapOrig) {
    // Points changed without a preparation: prepare them now.
    PrepareDeformator();
    return;
  }
  m_MapTarget = m_ControlPointsNewPos;
}

void DeformGreenCoords::MapPoint(double x, double y, double& outX, double& outY) {
  if (!m_Cage.Empty()) {
    m_Cage.Coordinates(x, y, m_Re.data(), m_Im.data());
    warpix::CoordinateTable::Combine(m_Cage.Points(), m_Re.data(), m_Im.data(),
                                     m_MapTarget.data(), outX, outY);
    return;
  }
  // Too few points for a cage: move by the mean displacement of the control
  // points (the identity without points).
  MoveByMeanDisplacement(m_MapOrig, m_MapTarget, x, y, outX, outY);
}

void DeformGreenCoords::MapMeshVertices() {
  if (!m_Table.Empty() && m_Table.Vertices() == static_cast<int>(m_Vertices.size()) &&
      m_Table.Points() == m_Cage.Points()) {
    m_Table.Apply(m_MapTarget.data(), m_Vertices);
    return;
  }
  for (ImgVertex& vertex : m_Vertices) {
    MapPoint(vertex.m_fRestX, vertex.m_fRestY, vertex.m_fX, vertex.m_fY);
  }
}

bool DeformGreenCoords::CageCoordinates(const std::vector<double>& orig, double x, double y,
                                        std::vector<double>& re, std::vector<double>& im) {
  re.clear();
  im.clear();
  if (orig.size() < 6 || GreenCage::Defect(orig) != nullptr) return false;
  GreenCage cage;
  cage.Build(orig);
  re.assign(cage.Points(), 0.0);
  im.assign(cage.Points(), 0.0);
  cage.Coordinates(x, y, re.data(), im.data());
  return true;
}
