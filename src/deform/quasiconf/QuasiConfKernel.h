#pragma once

// The per-vertex maps of the quasi-conformal deformator, at the full vector
// width of the processor it runs on. Each lane performs the operations of the
// complex type's one-point arithmetic in the same order, so every point's
// result equals that arithmetic's bit for bit, on every target.

#include "deform/Warpixator.h"

namespace warpix {

/// (a z + b) / (c z + d) for the count points z = (x[k], y[k]) into
/// (outX[k], outY[k]), with m = {a.re, a.im, b.re, b.im, c.re, c.im, d.re,
/// d.im}. An exactly zero divisor gives 0 + 0i, as the complex quotient does.
/// The outputs may be the inputs.
void MobiusMapPoints(const double* m, int count, const double* x, const double* y, double* outX,
                     double* outY);

/// The R-linear map alpha z + beta conj(z) for the count points, with
/// m = {alpha.re, alpha.im, beta.re, beta.im}. The outputs may be the inputs.
void RLinearMapPoints(const double* m, int count, const double* x, const double* y, double* outX,
                      double* outY);

/// The mesh route of the Mobius-normalised operators in one pass over the
/// vertices: z = rest position, w = first(z), then linear(w) when linear is
/// not null, then second(w), with m arrays as above. A vertex whose result
/// is finite takes it as its position; any other keeps its position.
void MobiusChainVertices(const double* first, const double* linear, const double* second,
                         Warpixator::ImgVertex* vertices, int count);

}  // namespace warpix
