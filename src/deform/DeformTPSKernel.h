#pragma once

// The thin-plate spline's value at many points, at the full vector width of
// the processor it runs on.

namespace warpix {

/// One fitted spline in plain arrays: m centres (cx[i], cy[i]) with kernel
/// weights (wr[i], wi[i]), and the affine part
/// affine = {a0.re, a0.im, a1.re, a1.im, a2.re, a2.im}.
struct SplineArrays {
  int m;
  const double* cx;
  const double* cy;
  const double* wr;
  const double* wi;
  const double* affine;
};

/// The spline at the count points z = (x[k], y[k]) into (outX[k], outY[k]):
/// re = a0.re x + a1.re y + a2.re + sum_i wr[i] U_i, im likewise with the
/// imaginary parts and wi, U = s log s for s = |z - c_i|^2 > 0, else s. The
/// logarithm is SplineLog's; each lane performs the operations of the
/// one-point loop in the same order, so every target and every count give
/// the same bits. The outputs may be the inputs.
void SplineMapPoints(const SplineArrays& spline, int count, const double* x, const double* y,
                     double* outX, double* outY);

/// The logarithm of the spline kernel, for a positive s (+infinity and
/// not-a-number are returned as they are): the C library's to within one
/// unit in the last place, and the same bits on every processor.
double SplineLog(double s);

/// SplineLog of count values at the running target's vector width.
void SplineLogs(const double* s, int count, double* out);

}  // namespace warpix
