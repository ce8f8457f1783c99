#pragma once

// Two-dimensional thin-plate splines: a map of the plane that carries given
// centres exactly onto given values, built from the radial kernel
// U = s log s with s = r^2 and an affine part. The output's x and y are two
// real splines sharing one system matrix; a coefficient's real part belongs
// to x, its imaginary part to y. Not a deformator: two static operations.
#include <vector>

#include "deform/DeformTPSKernel.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgVectorComplex.h"

class DeformThinPlateSpline {
 public:
  /// Fits f(cen[i]) = vals[i] for every centre (vals may be longer; the rest
  /// is not read). coeffs must have cen.size() + 3 rows: the kernel weights,
  /// then the coefficients of x and y and the constant. Returns false and
  /// leaves coeffs unchanged when the system is singular: fewer than three
  /// centres, two of them coincident, all of them on one line, or a failed
  /// solve.
  static bool PrepareTPSCoefficients(std::vector<LinAlgComplex>& cen,
                                     std::vector<LinAlgComplex>& vals,
                                     LinAlgVectorComplex& coeffs);
  /// f(z) for the spline of coeffs over the centres cen (cen.size() must be
  /// coeffs.Rows() - 3).
  static LinAlgComplex MapUsignTPS(LinAlgComplex z, std::vector<LinAlgComplex>& cen,
                                   const LinAlgVectorComplex& coeffs);

  /// The spline of one fit packed for evaluation at many points: centres and
  /// weights in plain arrays, evaluated at the processor's vector width.
  /// Map(z) performs MapUsignTPS's operations in the same order with the
  /// kernel's own logarithm (within one unit in the last place of the C
  /// library's), so it equals MapUsignTPS(z, cen, coeffs) to rounding, and
  /// MapPoints gives each point exactly Map's bits, on every processor.
  class Evaluator {
   public:
    /// An empty evaluator (Map is then the identity).
    Evaluator() = default;
    Evaluator(const std::vector<LinAlgComplex>& cen, const LinAlgVectorComplex& coeffs);
    bool Empty() const { return m_X.empty(); }
    LinAlgComplex Map(LinAlgComplex z) const;
    /// Map of the count points (x[k], y[k]) into (outX[k], outY[k]); the
    /// outputs may be the inputs.
    void MapPoints(int count, const double* x, const double* y, double* outX, double* outY) const;

   private:
    warpix::SplineArrays Arrays() const;
    std::vector<double> m_X, m_Y, m_WRe, m_WIm;
    double m_Affine[6] = {0, 0, 0, 0, 0, 0};  // a0.re, a0.im, a1.re, ...
  };

  /// Centres closer than this fraction of the set's extent count as one, and
  /// a set no farther than that from one line lies on it. Both are far below the offsets the line constraints use
  /// (down to about 1e-9 of a side).
  static constexpr double kMinRelativeSeparation = 1e-12;
};
