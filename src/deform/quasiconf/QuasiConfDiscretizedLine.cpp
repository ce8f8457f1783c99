#include "deform/quasiconf/QuasiConfDiscretizedLine.h"


#include "deform/Warpixator.h"
#include "deform/quasiconf/DeformQuasiConf.h"
#include "support/WarpixAssert.h"
#include "deform/WarpixatorCanvas.h"

QuasiConfDiscretizedLine::QuasiConfDiscretizedLine(LinAlgComplex p1, LinAlgComplex p2,
                                                   LinAlgComplex norm, int N, double delta,
                                                   LinAlgMatrixComplex& map)
    : m_Normal(norm),
      m_SimilarityA(1.0, 0.0),
      m_SimilarityB(0.0, 0.0),
      m_NumSamples(N),
      m_Delta(delta),
      m_SourceMobius(map),
      m_TargetMobius(map),
      m_OldP1(p1),
      m_OldP2(p2),
      m_NewP1(p1),
      m_NewP2(p2) {
  WARPIX_ASSERT(N>=2);
  // Against the outward normal: inside the quadrilateral, at distance delta.
  m_OldOffsetP1 = m_NewOffsetP1 = p1 - delta * norm;
  m_OldOffsetP2 = m_NewOffsetP2 = p2 - delta * norm;
  m_DiscretizedLinesAfterMobius.assign(4, LinAlgVectorComplex(N));
  Sample(p1, p2, m_SourceMobius, m_DiscretizedLinesAfterMobius[0]);
  Sample(m_OldOffsetP1, m_OldOffsetP2, m_SourceMobius, m_DiscretizedLinesAfterMobius[1]);
  Sample(p1, p2, m_TargetMobius, m_DiscretizedLinesAfterMobius[2]);
  Sample(m_NewOffsetP1, m_NewOffsetP2, m_TargetMobius, m_DiscretizedLinesAfterMobius[3]);
  WARPIX_ASSERT(p1!=p2);
  m_SimilarityA = (p1 - p2) / (p1 - p2);
}

void QuasiConfDiscretizedLine::Sample(LinAlgComplex a, LinAlgComplex b, LinAlgMatrixComplex& map,
                                      LinAlgVectorComplex& out) {
  const int n = m_NumSamples;
  for (int k = 0; k < n; ++k) {
    out(k) = DeformQuasiConf::MobiusTransform(map, a + (b - a) * static_cast<double>(k) /
                                                           static_cast<double>(n - 1));
  }
}

LinAlgComplex QuasiConfDiscretizedLine::NewNormal(double d) const {
  const LinAlgComplex turned = TransformBySimilarity(m_OldP1 + d * m_Normal) - m_NewP1;
  return turned / turned.Power();
}

void QuasiConfDiscretizedLine::UpdateLine(LinAlgComplex newP1, LinAlgComplex newP2,
                                          LinAlgMatrixComplex& map) {
  m_NewP1 = newP1;
  m_NewP2 = newP2;
  m_TargetMobius = map;
  m_SimilarityA = (newP1 - newP2) / (m_OldP1 - m_OldP2);
  m_SimilarityB = newP1 - m_SimilarityA * m_OldP1;
  const LinAlgComplex normal = NewNormal(m_Delta);
  Sample(newP1, newP2, m_TargetMobius, m_DiscretizedLinesAfterMobius[2]);
  Sample(newP1 - m_Delta * normal, newP2 - m_Delta * normal, m_TargetMobius,
         m_DiscretizedLinesAfterMobius[3]);
}

void QuasiConfDiscretizedLine::UpdateDelta(double newDeltaP1, double newDeltaP2, double oldDeltaP1,
                                           double oldDeltaP2) {
  if (newDeltaP1 == 0.0 && newDeltaP2 == 0.0) return;
  if (newDeltaP1 == 0.0) WARPIX_ASSERT(newDeltaP2==0);
  if (newDeltaP2 == 0.0) WARPIX_ASSERT(newDeltaP1==0);
  WARPIX_ASSERT(m_DiscretizedLinesAfterMobius.size()==4);
  const LinAlgComplex normal = NewNormal(newDeltaP1);
  m_OldOffsetP1 = m_OldP1 - oldDeltaP1 * m_Normal;
  m_OldOffsetP2 = m_OldP2 - oldDeltaP2 * m_Normal;
  Sample(m_OldOffsetP1, m_OldOffsetP2, m_SourceMobius, m_DiscretizedLinesAfterMobius[1]);
  m_NewOffsetP1 = m_NewP1 - newDeltaP1 * normal;
  m_NewOffsetP2 = m_NewP2 - newDeltaP2 * normal;
  Sample(m_NewOffsetP1, m_NewOffsetP2, m_TargetMobius, m_DiscretizedLinesAfterMobius[3]);
}

LinAlgComplex QuasiConfDiscretizedLine::TransformBySimilarity(LinAlgComplex z) const {
  return m_SimilarityA * z + m_SimilarityB;
}

bool QuasiConfDiscretizedLine::InNormalDir(LinAlgComplex z) const {
  const LinAlgComplex d = z - m_OldP1;
  return d.m_fRe * m_Normal.m_fRe + d.m_fIm * m_Normal.m_fIm > 0.0;
}

void QuasiConfDiscretizedLine::DrawLine(LinAlgComplex p1, LinAlgComplex p2, double r, double g,
                                        double b, WarpixatorCanvas* window, int selectedEnd) {
  if (window == nullptr) return;
  if (window->m_bShowLines) {
    window->DrawSegments({p1.m_fRe, p1.m_fIm, p2.m_fRe, p2.m_fIm, r, g, b}, 2.0f);
  }
  const double dim0 = selectedEnd == 0 ? 1.5 : 1.0, dim1 = selectedEnd == 1 ? 1.5 : 1.0;
  window->DrawMarker(p1.m_fRe, p1.m_fIm, 0.01, r / dim0, g / dim0, b / dim0);
  window->DrawMarker(p2.m_fRe, p2.m_fIm, 0.01, r / dim1, g / dim1, b / dim1);
}

void QuasiConfDiscretizedLine::Draw(WarpixatorCanvas* window, int selectedEnd) {
  DrawLine(m_NewP1, m_NewP2, 0.0, 0.0, 1.0, window, selectedEnd);
}
