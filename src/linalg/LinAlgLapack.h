#pragma once

// Internal to the matrix classes: the LAPACK call sequences that the real and
// the complex matrix share, written once over the element type T (double or
// LinAlgComplex) with the typed LAPACK routine passed in. The public methods
// keep their own shape checks, so a fatal report still names the method and
// its file.
#include <cstdio>

#include "linalg/LinAlgComplex.h"

namespace linalg_detail {

/// Elements allocated beyond the end of every complex matrix and vector.
/// OpenBLAS's complex matrix-vector kernel reads a little past the last
/// column of the matrices zgesvd, zgelqf and zungl2 hand it (seen for 2 x 4,
/// 4 x 4, 4 x 6, 5 x 6 and 6 x 4 SVDs); with an exact-size array that read can
/// cross into an unmapped page.
constexpr int kBlasReadSlack = 8;

/// LAPACK's answer to a workspace query, as a usable buffer length.
inline int QueriedWorkSize(double work) {
  const int lwork = static_cast<int>(work);
  return lwork > 1 ? lwork : 1;
}
inline int QueriedWorkSize(const LinAlgComplex& work) { return QueriedWorkSize(work.m_fRe); }

/// In-place inverse of the n x n matrix a (n >= 1) with lwork elements of
/// work. A singular matrix comes from the user's control points (coincident
/// or collinear ones): false, and a then holds its LU factors.
template <class T, class Getrf, class Getri>
bool InvertLU(int n, T* a, int* ipiv, T* work, int lwork, Getrf getrf, Getri getri) {
  int info = 0;
  getrf(&n, &n, a, &n, ipiv, &info);
  if (info != 0) return false;
  getri(&n, a, &n, ipiv, work, &lwork, &info);
  return info == 0;
}

/// x = a^-1 b for the n x n matrix a (n >= 1), which becomes its LU factors;
/// b is read before x is written, so they may be the same array. A singular
/// matrix is reported on standard error and gives false.
template <class T, class Gesv>
bool SolveLU(int n, T* a, int* ipiv, const T* b, T* x, Gesv gesv) {
  for (int i = 0; i < n; ++i) x[i] = b[i];
  const int nrhs = 1;
  int info = 0;
  gesv(&n, &nrhs, a, &n, ipiv, x, &n, &info);
  if (info != 0) {
    std::fprintf(stderr, "[ERROR] Error solving system of equations: %d\n", info);
    return false;
  }
  return true;
}

/// Minimises |a x - b| for the m x n matrix a (m >= n); a and b are
/// overwritten, work(size) lends the work buffer. False (x unchanged) when a
/// lacks full column rank, as b then holds no solution.
template <class T, class Gels, class Work>
bool LeastSquaresQR(int m, int n, T* a, T* b, T* x, Gels gels, Work work) {
  const int nrhs = 1;
  int info = 0;
  T query{};
  int lwork = -1;
  gels("No transpose", &m, &n, &nrhs, a, &m, b, &m, &query, &lwork, &info, 1);
  lwork = QueriedWorkSize(query);
  gels("No transpose", &m, &n, &nrhs, a, &m, b, &m, work(lwork), &lwork, &info, 1);
  if (info != 0) return false;
  for (int k = 0; k < n; ++k) x[k] = b[k];
  return true;
}

}  // namespace linalg_detail
