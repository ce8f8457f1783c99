#include "deform/quasiconf/QuasiConfLines.h"


#include <cmath>
#include <iostream>

#include "deform/DeformThinPlateSpline.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "deform/quasiconf/QuasiConfDetail.h"
#include "deform/quasiconf/QuasiConfKernel.h"
#include "image/R2Image.h"
#include "support/WarpixAssert.h"
#include "deform/WarpixatorCanvas.h"

namespace {

// Segments shorter than this fraction of the quadrilateral count as collapsed.
constexpr double kMinRelativeLength = 1e-12;

double Cross(LinAlgComplex a, LinAlgComplex b) { return a.m_fRe * b.m_fIm - a.m_fIm * b.m_fRe; }

}  // namespace

using quasiconf_detail::Dot;

QuasiConfLines::QuasiConfLines(std::vector<LinAlgComplex>& oldLines,
                               std::vector<LinAlgComplex>& oldNorms, int N, double delta,
                               LinAlgMatrixComplex& map, bool* lineOnSide, bool report)
    : m_pVertices(nullptr),
      m_bDrawSections(true),
      m_PntsOld(4),
      m_PntsNew(4),
      m_SourceMobius(map),
      m_TargetMobius(map),
      m_TargetInverse(map),
      m_Delta1(delta),
      m_Delta2(delta) {
  WARPIX_ASSERT((int)oldLines.size()==m_PntsOld.Rows());
  WARPIX_ASSERT((int)oldLines.size()==m_PntsNew.Rows());
  for (int i = 0; i < 4; ++i) {
    m_PntsOld(i) = m_PntsNew(i) = oldLines[i];
    m_bLineOnSide[i] = lineOnSide[i];
  }
  WARPIX_ASSERT(oldLines.size()==4);
  WARPIX_ASSERT(oldNorms.size()==4);
  for (int i = 0; i < 4; ++i) {
    if (!m_bLineOnSide[i]) continue;
    // Always line 0, before the new line exists: the first line gets the
    // centroid rule, a second one its offset from line 0's geometry.
    double d1 = 0.0, d2 = 0.0;
    GetDelta(0, 0, d1, d2);
    m_aLines.push_back(std::make_unique<QuasiConfDiscretizedLine>(
        oldLines[i], oldLines[(i + 1) % 4], oldNorms[i], N, (d1 + d2) / 2, m_SourceMobius));
  }
  if (report) std::cout << "delta=" << delta << std::endl;
  const int L = static_cast<int>(m_aLines.size());
  const int sizeCoeffs = delta != 0.0 ? 4 + 3 + L * (2 * N - 2) : 4 + 3 + L * (N - 2);
  WARPIX_ASSERT(sizeCoeffs>0);
  m_pTPSCoeffs = std::make_unique<LinAlgVectorComplex>(sizeCoeffs);
  if (report) std::cout << "Created Line pair: " << sizeCoeffs << std::endl;
}

void QuasiConfLines::SetNewDelta(double d1, double d2) {
  m_Delta1 = d1;
  m_Delta2 = d2;
}

int QuasiConfLines::SideOfLine(int k) const {
  for (int i = 0; i < 4; ++i) {
    if (m_bLineOnSide[i] && k-- == 0) return i;
  }
  return -1;
}

bool QuasiConfLines::SideRule(int lineID, int& corner1, int& corner2, double& factor1,
                              double& factor2) const {
  if (m_aLines.empty()) return false;
  const bool* on = m_bLineOnSide;
  const int count = on[0] + on[1] + on[2] + on[3];
  // The corner at the far end of the side adjacent to each end of side i.
  static const int kCorner1[4] = {3, 0, 1, 2};
  static const int kCorner2[4] = {2, 3, 0, 1};
  if (count == 1) {
    WARPIX_ASSERT(lineID==0);
    const int side = SideOfLine(0);
    corner1 = kCorner1[side];
    corner2 = kCorner2[side];
    factor1 = m_Delta1;
    factor2 = m_Delta2;
    return true;
  }
  const bool pair02 = count == 2 && on[0] && on[2], pair13 = count == 2 && on[1] && on[3];
  if (!pair02 && !pair13) return false;
  if (lineID != 0 && lineID != 1) WARPIX_ASSERT(false);
  const int side = pair02 ? 2 * lineID : 2 * lineID + 1;
  corner1 = kCorner1[side];
  corner2 = kCorner2[side];
  factor1 = lineID == 0 ? m_Delta1 : m_Delta2;
  factor2 = lineID == 0 ? m_Delta2 : m_Delta1;
  return true;
}

void QuasiConfLines::GetDelta(int lineID, int useNew, double& d1, double& d2) {
  int corner1 = 0, corner2 = 0;
  double factor1 = 0.0, factor2 = 0.0;
  // New offsets are the old ones scaled by the line's length ratio, in both
  // rules, so a similarity of all targets carries the offsets along.
  double r = 1.0;
  if (useNew != 0 && lineID >= 0 && lineID < static_cast<int>(m_aLines.size())) {
    const QuasiConfDiscretizedLine& line = *m_aLines[lineID];
    r = (line.m_NewP1 - line.m_NewP2).Power() / (line.m_OldP1 - line.m_OldP2).Power();
  }
  if (!SideRule(lineID, corner1, corner2, factor1, factor2)) {
    LinAlgComplex c;
    for (int i = 0; i < 4; ++i) c += m_PntsOld(i);
    c = c / 4.0;
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) sum += (c - m_PntsOld(i)).Power();
    d1 = d2 = m_Delta1 * sum / 4.0 * r;
    return;
  }
  const QuasiConfDiscretizedLine& line = *m_aLines[lineID];
  d1 = factor1 * (m_PntsOld(corner1) - line.m_OldP1).Power() * r + 1e-99;
  d2 = factor2 * (m_PntsOld(corner2) - line.m_OldP2).Power() * r + 1e-99;
}

bool QuasiConfLines::OffsetsClear(int useNew) const {
  const int L = static_cast<int>(m_aLines.size());
  auto offset = [&](int k, LinAlgComplex& a, LinAlgComplex& b) {
    a = useNew ? m_aLines[k]->m_NewOffsetP1 : m_aLines[k]->m_OldOffsetP1;
    b = useNew ? m_aLines[k]->m_NewOffsetP2 : m_aLines[k]->m_OldOffsetP2;
  };
  const LinAlgVectorComplex& corners = useNew ? m_PntsNew : m_PntsOld;
  for (int k = 0; k < L; ++k) {
    LinAlgComplex a, b;
    offset(k, a, b);
    if (!std::isfinite(a.m_fRe) || !std::isfinite(a.m_fIm) || !std::isfinite(b.m_fRe) ||
        !std::isfinite(b.m_fIm) || a == b) {
      return false;
    }
    const int side = SideOfLine(k), opposite = (side + 2) % 4;
    if (Intersection(a, b, corners(opposite), corners((opposite + 1) % 4))) return false;
    // Lines on adjacent sides always meet near their common corner; only
    // lines on opposite sides must stay apart, each offset copy on the inner
    // side of the other's (they must not cross, nor pass each other).
    for (int j = 0; j < L; ++j) {
      if (SideOfLine(j) != opposite) continue;
      LinAlgComplex c, d;
      offset(j, c, d);
      if (Intersection(a, b, c, d)) return false;
      const QuasiConfDiscretizedLine& other = *m_aLines[j];
      const LinAlgComplex turn = useNew ? other.m_SimilarityA / other.m_SimilarityA.Power()
                                        : LinAlgComplex(1.0, 0.0);
      const LinAlgComplex outward = turn * other.m_Normal;
      if (!(Dot(a - c, outward) < 0.0) || !(Dot(b - c, outward) < 0.0)) return false;
    }
  }
  return true;
}

bool QuasiConfLines::Update(std::vector<LinAlgComplex>& newLines, LinAlgMatrixComplex& map) {
  WARPIX_ASSERT(newLines.size()==4);
  // A constrained side collapsed onto one point has no direction.
  double extent = 0.0;
  for (int i = 0; i < 4; ++i) {
    if (!std::isfinite(newLines[i].m_fRe) || !std::isfinite(newLines[i].m_fIm)) return false;
    for (int j = i + 1; j < 4; ++j) extent = std::fmax(extent, (newLines[i] - newLines[j]).Power());
  }
  for (int i = 0; i < 4; ++i) {
    if (m_bLineOnSide[i] &&
        !((newLines[i] - newLines[(i + 1) % 4]).Power() > kMinRelativeLength * extent)) {
      return false;
    }
  }
  LinAlgMatrixComplex inverse(map);
  if (!inverse.Inverse()) return false;

  // Everything Update changes, to put back when the new state is refused.
  std::vector<QuasiConfDiscretizedLine> lines;
  for (const auto& line : m_aLines) lines.push_back(*line);
  const LinAlgVectorComplex pntsNew(m_PntsNew);
  const LinAlgMatrixComplex targetMobius(m_TargetMobius);
  auto restore = [&]() {
    for (size_t k = 0; k < lines.size(); ++k) *m_aLines[k] = lines[k];
    m_PntsNew = pntsNew;
    m_TargetMobius = targetMobius;
    return false;
  };

  m_TargetMobius = map;
  // All four corners first: every line's offsets then see the same corners.
  for (int i = 0; i < 4; ++i) m_PntsNew(i) = newLines[i];
  int k = 0;
  for (int i = 0; i < 4; ++i) {
    if (!m_bLineOnSide[i]) continue;
    m_aLines[k]->UpdateLine(newLines[i], newLines[(i + 1) % 4], m_TargetMobius);
    double n1 = 0.0, n2 = 0.0, o1 = 0.0, o2 = 0.0;
    GetDelta(k, 1, n1, n2);
    GetDelta(k, 0, o1, o2);
    m_aLines[k]->UpdateDelta(n1, n2, o1, o2);
    ++k;
  }
  if (!OffsetsClear(1) || !OffsetsClear(0)) return restore();

  std::vector<LinAlgComplex> centres, targets;
  for (const auto& line : m_aLines) {
    const int N = line->m_NumSamples;
    for (int s = 1; s <= N - 2; ++s) {
      centres.push_back(line->m_DiscretizedLinesAfterMobius[0](s));
      targets.push_back(line->m_DiscretizedLinesAfterMobius[2](s));
    }
  }
  for (const auto& line : m_aLines) {
    if (line->m_Delta == 0.0) continue;
    for (int s = 0; s < line->m_NumSamples; ++s) {
      centres.push_back(line->m_DiscretizedLinesAfterMobius[1](s));
      targets.push_back(line->m_DiscretizedLinesAfterMobius[3](s));
    }
  }
  for (int i = 0; i < 4; ++i) {
    centres.push_back(DeformQuasiConf::MobiusTransform(m_SourceMobius, m_PntsOld(i)));
    targets.push_back(DeformQuasiConf::MobiusTransform(m_TargetMobius, m_PntsNew(i)));
  }
  LinAlgVectorComplex coeffs(*m_pTPSCoeffs);
  if (!DeformThinPlateSpline::PrepareTPSCoefficients(centres, targets, coeffs)) return restore();
  *m_pTPSCoeffs = coeffs;
  m_TPSCentres = centres;
  m_TargetInverse = inverse;
  m_Spline = DeformThinPlateSpline::Evaluator(m_TPSCentres, *m_pTPSCoeffs);
  for (int k = 0; k < 4; ++k) {
    m_SourceElements[k] = m_SourceMobius(k / 2, k % 2);
    m_InverseElements[k] = m_TargetInverse(k / 2, k % 2);
  }
  return true;
}

int QuasiConfLines::SectionOf(LinAlgComplex z, int useMap) const {
  if (m_VertexToSection.empty() || useMap == -1) {
    for (size_t k = 0; k < m_aLines.size(); ++k) {
      if (m_aLines[k]->InNormalDir(z)) return static_cast<int>(k);
    }
    return -1;
  }
  WARPIX_ASSERT(useMap>=0 && useMap<(int)m_VertexToSection.size());
  const int section = m_VertexToSection[useMap];
  // The section, not the vertex index, names the line.
  WARPIX_ASSERT(section>=-1 && section < (int)m_aLines.size());
  return section;
}

LinAlgComplex QuasiConfLines::Transform(LinAlgComplex z, int useMap) {
  if (m_TPSCentres.empty()) return z;
  const int section = SectionOf(z, useMap);
  if (section == -1) return TransformByFPITPS(z);
  return m_aLines[section]->TransformBySimilarity(z);
}

void QuasiConfLines::TransformVertices(std::vector<ImgVertex>& vertices) {
  const int count = static_cast<int>(vertices.size());
  if (m_TPSCentres.empty()) {
    for (ImgVertex& vertex : vertices) {
      vertex.m_fX = vertex.m_fRestX;
      vertex.m_fY = vertex.m_fRestY;
    }
    return;
  }
  // Transform's choice for each vertex; the spline's vertices are gathered.
  m_SplineVertices.clear();
  for (int k = 0; k < count; ++k) {
    ImgVertex& vertex = vertices[k];
    const LinAlgComplex z(vertex.m_fRestX, vertex.m_fRestY);
    const int section = SectionOf(z, k);
    if (section == -1) {
      m_SplineVertices.push_back(k);
      continue;
    }
    const LinAlgComplex w = m_aLines[section]->TransformBySimilarity(z);
    vertex.m_fX = w.m_fRe;
    vertex.m_fY = w.m_fIm;
  }
  // TransformByFPITPS for the rest: both normalisations and the spline.
  const int n = static_cast<int>(m_SplineVertices.size());
  m_Scratch.resize(2 * static_cast<size_t>(n));
  double* const x = m_Scratch.data();
  double* const y = x + n;
  for (int j = 0; j < n; ++j) {
    x[j] = vertices[m_SplineVertices[j]].m_fRestX;
    y[j] = vertices[m_SplineVertices[j]].m_fRestY;
  }
  if (!m_Spline.Empty()) {
    double source[8], inverse[8];
    quasiconf_detail::FlatMobius(m_SourceElements, source);
    quasiconf_detail::FlatMobius(m_InverseElements, inverse);
    warpix::MobiusMapPoints(source, n, x, y, x, y);
    m_Spline.MapPoints(n, x, y, x, y);
    warpix::MobiusMapPoints(inverse, n, x, y, x, y);
  }
  for (int j = 0; j < n; ++j) {
    vertices[m_SplineVertices[j]].m_fX = x[j];
    vertices[m_SplineVertices[j]].m_fY = y[j];
  }
}

LinAlgComplex QuasiConfLines::TransformBySimilarity(LinAlgComplex z, int lineID) {
  WARPIX_ASSERT(lineID>=0 && lineID < (int)m_aLines.size());
  return m_aLines[lineID]->TransformBySimilarity(z);
}

LinAlgComplex QuasiConfLines::TransformByFPITPS(LinAlgComplex z) {
  // The packed route: the same operations as MobiusTransform, MapUsignTPS and
  // MobiusTransform on the stored matrices and coefficients.
  if (m_Spline.Empty()) return z;
  const LinAlgComplex w = m_Spline.Map(quasiconf_detail::Mobius(m_SourceElements, z));
  return quasiconf_detail::Mobius(m_InverseElements, w);
}

bool QuasiConfLines::Intersection(LinAlgComplex p1, LinAlgComplex p2, LinAlgComplex q1,
                                  LinAlgComplex q2) {
  if (p1 == q1 || p1 == q2 || p2 == q1 || p2 == q2) return true;
  const double dp = (p2 - p1).Power(), dq = (q2 - q1).Power();
  if (!(dp > 0.0) || !(dq > 0.0)) {
    // A segment of no length (two target corners dragged onto one spot, or
    // ends too close for their distance to be represented) is a point: it
    // meets the other segment where it lies on it. Not a number meets nothing.
    if (!(dp > 0.0) && !(dq > 0.0)) return false;  // two points: equal ones returned above
    const LinAlgComplex point = dp > 0.0 ? q1 : p1;
    const LinAlgComplex from = dp > 0.0 ? p1 : q1, along = dp > 0.0 ? p2 - p1 : q2 - q1;
    const LinAlgComplex w = point - from;
    if (Cross(along, w) != 0.0) return false;
    const double t = Dot(along, w);
    return t >= 0.0 && t <= Dot(along, along);
  }
  const LinAlgComplex u = (p2 - p1) / dp, v = (q1 - q2) / dq;
  const double det = u.m_fRe * v.m_fIm - v.m_fRe * u.m_fIm;
  const LinAlgComplex w = q1 - p1;
  if (det == 0.0) {
    // Parallel: they meet only on one line, where their spans along u overlap.
    if (Cross(u, w) != 0.0) return false;
    const double t1 = Dot(u, w), t2 = Dot(u, q2 - p1);
    return std::fmax(t1, t2) >= 0.0 && std::fmin(t1, t2) <= dp;
  }
  const double s = (w.m_fRe * v.m_fIm - v.m_fRe * w.m_fIm) / det;
  const double t = (u.m_fRe * w.m_fIm - w.m_fRe * u.m_fIm) / det;
  return s >= 0.0 && s <= dp && t >= 0.0 && t <= dq;
}

void QuasiConfLines::Draw(WarpixatorCanvas* window, int selected) {
  if (window == nullptr || window->m_bHideControlPoints) return;
  const int selectedLine = selected < 0 ? -1 : selected / 2;
  for (size_t k = 0; k < m_aLines.size(); ++k) {
    QuasiConfDiscretizedLine& line = *m_aLines[k];
    const int end = static_cast<int>(k) == selectedLine ? selected % 2 : -1;
    line.DrawLine(line.m_NewP1, line.m_NewP2, 0.0, 0.0, 1.0, window, end);
  }
  if (!m_bDrawSections || m_pVertices == nullptr) return;
  // Three edges per free face, coloured by the section of its first vertex.
  std::vector<double> segments;
  segments.reserve(m_FreeFaces.size() * 21);
  const std::vector<ImgVertex>& v = *m_pVertices;
  for (const ImgFace& face : m_FreeFaces) {
    const int section = m_VertexToSection.empty() ? -1 : m_VertexToSection[face.m_iV0];
    double r = 0.8, g = 0.0, b = 0.0;
    if (section == 0) r = 0.2, g = 0.2, b = 0.8;
    else if (section == 1) r = 0.2, g = 0.8, b = 0.2;
    else if (section == 2) r = 0.5, g = 0.5, b = 0.0;
    const int edges[3][2] = {{face.m_iV0, face.m_iV1}, {face.m_iV0, face.m_iV2}, {face.m_iV1, face.m_iV2}};
    for (const auto& e : edges) {
      segments.insert(segments.end(),
                      {v[e[0]].m_fX, v[e[0]].m_fY, v[e[1]].m_fX, v[e[1]].m_fY, r, g, b});
    }
  }
  window->DrawSegments(segments, 1.0f);
}
