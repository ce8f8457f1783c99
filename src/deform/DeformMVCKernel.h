#pragma once

// The per-point kernel of the mean-value deformator, at the full vector width
// of the processor it runs on.

namespace warpix {

/// Maps the first points (x[k], y[k]) of the count given, in whole vectors of
/// the running target, by the fast mean-value route over the polygon p with
/// targets q (n >= 3 points, flat) into (outX[k], outY[k]). A point that hit a
/// control point or an edge, or whose sums are unusable, gets not-a-number in
/// both outputs: the caller maps it alone. Returns how many points it handled
/// (a multiple of the vector width; 0 when n < 3).
int MVCMapBlocks(const double* p, const double* q, int n, int count, const double* x,
                 const double* y, double* outX, double* outY);

}  // namespace warpix
