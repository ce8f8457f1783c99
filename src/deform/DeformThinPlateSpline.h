#pragma once

// Two-dimensional thin-plate splines: a map of the plane that carries given
// centres exactly onto given values, built from the radial kernel
// U = s log s with s = r^2 and an affine part. The output's x and y are two
// real splines sharing one system matrix; a coefficient's real part belongs
// to x, its imaginary part to y. Not a deformator: two static operations.
#include <vector>

#include "deform/DeformTPSKernel.h"
#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgMatrixReal.h"
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
  /// How a set of centres stands for the spline's system.
  enum class Placement {
    kGood,        // a regular system
    kTooFew,      // fewer than three centres
    kNotFinite,   // a centre is not a finite point
    kCoincident,  // two centres on one spot (relative to the extent)
    kOnOneLine    // all centres on one line, or all on one spot
  };
  /// Whether the centres give a regular system: at least three, finite, not
  /// all on one line and, unless coincidentAllowed (a smoothed system, whose
  /// diagonal keeps it regular), no two on one spot; all relative to their
  /// extent (kMinRelativeSeparation).
  static Placement CheckPlacement(const std::vector<LinAlgComplex>& cen,
                                  bool coincidentAllowed = false);
  /// The (m + 3) x (m + 3) system of the m centres: the kernel block
  /// U(|c_i - c_j|) with `diagonal` added to its diagonal, the affine block
  /// of rows and columns (x_i, y_i, 1), and zeros in the corner.
  static LinAlgMatrixReal SystemMatrix(const std::vector<LinAlgComplex>& cen,
                                       double diagonal = 0.0);

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
