#pragma once

/// One complex number re + i*im: a point x + iy of the image plane in the
/// moving-least-squares, thin-plate-spline and quasi-conformal code.
/// A plain value of two doubles (real part first), laid out exactly like
/// LAPACK's and CBLAS's double complex, so arrays of it are passed to them.
class LinAlgComplex {
 public:
  // === Construction
  /// 0 + 0i.
  LinAlgComplex() : m_fRe(0.0), m_fIm(0.0) {}
  LinAlgComplex(double re, double im) : m_fRe(re), m_fIm(im) {}

  double Re() const { return m_fRe; }
  double Im() const { return m_fIm; }

  // === Assignment and in-place arithmetic
  /// Sets the real part to d and the imaginary part to 0.
  LinAlgComplex& operator=(double d);
  LinAlgComplex& operator+=(const LinAlgComplex& b);
  LinAlgComplex& operator-=(const LinAlgComplex& b);
  LinAlgComplex& operator*=(const LinAlgComplex& b);
  /// Division by an exact complex zero sets this number to 0 + 0i.
  LinAlgComplex& operator/=(const LinAlgComplex& b);
  /// Real operands change the real part only.
  LinAlgComplex& operator+=(double d);
  LinAlgComplex& operator-=(double d);
  /// Real factors scale both parts (division has no zero guard).
  LinAlgComplex& operator*=(double d);
  LinAlgComplex& operator/=(double d);

  // === Functions of the number (none changes it)
  /// re - i*im.
  LinAlgComplex Conjugate() const { return LinAlgComplex(m_fRe, -m_fIm); }
  /// The modulus sqrt(re^2 + im^2) (not its square).
  double Power() const;
  /// atan(im/re), plus 3.14159265 when re < 0: a value in (-pi/2, 3pi/2];
  /// NaN for 0 + 0i.
  double Phase() const;
  /// e^re * (cos im + i sin im).
  LinAlgComplex Exp() const;
  /// |z|^p * (cos(p*theta) + i sin(p*theta)), theta = atan2(im, re).
  LinAlgComplex RaiseToPow(double p) const;
  /// Principal square root, branch cut on the negative real axis.
  LinAlgComplex Sqrt() const;
  /// Writes "re+imi" or "re-|im|i" to standard output and flushes; no line end.
  void PrintComplex() const;

  double m_fRe;
  double m_fIm;
};

// The basic operations are inline: the per-vertex loops of the methods are
// made of them.
inline LinAlgComplex operator+(const LinAlgComplex& a, const LinAlgComplex& b) {
  return LinAlgComplex(a.m_fRe + b.m_fRe, a.m_fIm + b.m_fIm);
}
inline LinAlgComplex operator-(const LinAlgComplex& a, const LinAlgComplex& b) {
  return LinAlgComplex(a.m_fRe - b.m_fRe, a.m_fIm - b.m_fIm);
}
inline LinAlgComplex operator*(const LinAlgComplex& a, const LinAlgComplex& b) {
  return LinAlgComplex(a.m_fRe * b.m_fRe - a.m_fIm * b.m_fIm,
                       a.m_fRe * b.m_fIm + a.m_fIm * b.m_fRe);
}

namespace linalg_detail {
/// Quotient by the rule of this system: an exact complex zero divisor gives
/// 0 + 0i instead of infinities, so a degenerate configuration of points
/// never spreads NaN through a whole mesh.
inline LinAlgComplex Divide(double aRe, double aIm, double bRe, double bIm) {
  const double denom = bRe * bRe + bIm * bIm;
  if (denom == 0.0) return LinAlgComplex(0.0, 0.0);
  return LinAlgComplex((aRe * bRe + aIm * bIm) / denom, (aIm * bRe - aRe * bIm) / denom);
}
}  // namespace linalg_detail

/// a / b; an exact complex zero divisor gives 0 + 0i.
inline LinAlgComplex operator/(const LinAlgComplex& a, const LinAlgComplex& b) {
  return linalg_detail::Divide(a.m_fRe, a.m_fIm, b.m_fRe, b.m_fIm);
}
LinAlgComplex operator-(const LinAlgComplex& a);
/// A real operand acts on the real part only: d - a = (d - re) - i*im.
LinAlgComplex operator+(const LinAlgComplex& a, double d);
LinAlgComplex operator+(double d, const LinAlgComplex& a);
LinAlgComplex operator-(const LinAlgComplex& a, double d);
LinAlgComplex operator-(double d, const LinAlgComplex& a);
LinAlgComplex operator*(const LinAlgComplex& a, double d);
LinAlgComplex operator*(double d, const LinAlgComplex& a);
/// Both parts divided by d, no zero guard.
LinAlgComplex operator/(const LinAlgComplex& a, double d);
/// (d + 0i) / a; an exact complex zero divisor gives 0 + 0i.
LinAlgComplex operator/(double d, const LinAlgComplex& a);
/// Exact comparison of both parts; != is true when a part differs or is NaN.
bool operator==(const LinAlgComplex& a, const LinAlgComplex& b);
bool operator!=(const LinAlgComplex& a, const LinAlgComplex& b);
bool operator==(const LinAlgComplex& a, double d);
bool operator!=(const LinAlgComplex& a, double d);
