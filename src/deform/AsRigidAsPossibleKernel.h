#pragma once

// The fitted triangles of the as-rigid-as-possible deformator's step 2, a
// vector of faces at a time, at the full vector width of the processor it
// runs on.
#include <cstddef>

namespace warpix {

/// Rows of the per-face terms, each `count` doubles long (see ArapFitFaces).
enum ArapFitTerm { kFitX01, kFitY01, kFitRestEdge, kFitF, kFitTerms = kFitF + 16 };

/// The fitted corners of faces [0, count) into fitted (6 rows of count
/// doubles: x0, y0, x1, y1, x2, y2), from their corners (the same layout),
/// terms (kFitTerms rows: local coordinates, rest first edge and the inverse
/// normal matrix column-major) and valid (0: the face cannot be fitted and
/// keeps its corners). restRule scales to the rest first edge (a fitted edge
/// at most noSize of it keeps the fit), else by the first edges' ratio (the
/// RMS sizes' where that exceeds maxEdgeScale or is not finite, 1 where that
/// does too): the arithmetic of FittedTriangle::GetFittedTriangle with
/// edge lengths as sqrt(dx^2 + dy^2). Every target gives the bits of the
/// one-face loop (ArapFitFacesOneByOne).
void ArapFitFaces(int count, const double* corners, const double* terms,
                  const unsigned char* valid, bool restRule, double noSize, double maxEdgeScale,
                  double* fitted);
/// The same, one face at a time: the reference for the vector targets.
void ArapFitFacesOneByOne(int count, const double* corners, const double* terms,
                          const unsigned char* valid, bool restRule, double noSize,
                          double maxEdgeScale, double* fitted);

}  // namespace warpix
