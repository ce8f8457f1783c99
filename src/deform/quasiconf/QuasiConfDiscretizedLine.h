#pragma once

// One straight-line constraint of the quasi-conformal line modes: a side of
// the control quadrilateral before and after the deformation, an offset copy
// of it on the inner side, and N samples of each of these four segments
// passed through a Mobius map. The line set feeds the samples to a
// thin-plate spline and moves the region behind the line by the line's
// similarity.
#include <vector>

#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgVectorComplex.h"

class WarpixatorCanvas;

class QuasiConfDiscretizedLine {
 public:
  /// The segment p1 -> p2 with normal norm (the set passes the side's outward
  /// unit normal), N samples per segment (N >= 2), the offset segment at
  /// distance delta against the normal, and both maps set to map. Coincident
  /// ends are fatal ("p1!=p2"): the set refuses such sides first.
  QuasiConfDiscretizedLine(LinAlgComplex p1, LinAlgComplex p2, LinAlgComplex norm, int N,
                           double delta, LinAlgMatrixComplex& map);

  /// New end points and target map: the similarity old -> new and sample sets
  /// [2] (the new segment) and [3] (its offset copy) are recomputed.
  void UpdateLine(LinAlgComplex newP1, LinAlgComplex newP2, LinAlgMatrixComplex& map);
  /// Rebuilds both offset segments with their own offset at each end (slanted
  /// when they differ) and sample sets [1] and [3]. Both new offsets 0 change
  /// nothing; exactly one of them 0 is fatal.
  void UpdateDelta(double newDeltaP1, double newDeltaP2, double oldDeltaP1, double oldDeltaP2);
  /// a z + b: the similarity that carries the old segment onto the new one.
  LinAlgComplex TransformBySimilarity(LinAlgComplex z) const;
  /// (z - old p1) . normal > 0, as plane vectors (a point on the line: false).
  bool InNormalDir(LinAlgComplex z) const;

  /// The segment p1 -> p2 in colour (r, g, b) when the window shows lines, then
  /// its end markers, the end selectedEnd (0 or 1) dimmed by 1.5.
  void DrawLine(LinAlgComplex p1, LinAlgComplex p2, double r, double g, double b,
                WarpixatorCanvas* window, int selectedEnd);
  /// DrawLine of the new segment in blue.
  void Draw(WarpixatorCanvas* window, int selectedEnd);

  // === State
  LinAlgComplex m_Normal;
  LinAlgComplex m_SimilarityA;
  LinAlgComplex m_SimilarityB;
  int m_NumSamples;
  double m_Delta;
  /// [0] old segment, [1] old offset segment, [2] new segment, [3] new offset
  /// segment; N samples each, owned by the line.
  std::vector<LinAlgVectorComplex> m_DiscretizedLinesAfterMobius;
  LinAlgMatrixComplex m_SourceMobius;  // for [0] and [1]; fixed after construction
  LinAlgMatrixComplex m_TargetMobius;  // for [2] and [3]; replaced by UpdateLine
  LinAlgComplex m_OldP1, m_OldP2;
  LinAlgComplex m_NewP1, m_NewP2;
  LinAlgComplex m_OldOffsetP1, m_OldOffsetP2;
  LinAlgComplex m_NewOffsetP1, m_NewOffsetP2;

 private:
  /// Sample k of the segment a -> b is map(a + (b - a) k / (N - 1)).
  void Sample(LinAlgComplex a, LinAlgComplex b, LinAlgMatrixComplex& map, LinAlgVectorComplex& out);
  /// The old normal carried by the similarity from old p1 at distance d, as
  /// a unit vector.
  LinAlgComplex NewNormal(double d) const;
};
