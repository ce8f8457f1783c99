#pragma once

// Factors kept for repeated solves with one matrix: the dense LU of LAPACK and
// sparse Cholesky factorisations for large symmetric (real) or Hermitian
// (complex) positive definite systems. Both own every buffer they use, so nothing lands in the shared
// workspace cache, which keeps its buffers for the whole run. The sparse
// backend stays out of this header.
#include <memory>
#include <vector>

#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

/// The LU factors (with row pivots) of a square real matrix.
class LinAlgDenseLU {
 public:
  /// Factors a copy of the n x n matrix a (fatal "a.Rows()==a.Cols()").
  explicit LinAlgDenseLU(const LinAlgMatrixReal& a);
  /// False when the matrix is singular (no solve then).
  bool Ok() const { return m_bOk; }
  int Order() const { return m_iOrder; }
  /// x = a^-1 b (fatal when not Ok or the lengths differ from the order).
  void Solve(const LinAlgVectorReal& b, LinAlgVectorReal& x) const;
  /// a^-1 into inverse, n x n (fatal when not Ok). Returns false when LAPACK
  /// reports the inverse singular.
  bool Inverse(LinAlgMatrixReal& inverse) const;

 private:
  int m_iOrder;
  bool m_bOk;
  std::vector<double> m_Factors;  // column-major, n x n
  std::vector<int> m_Pivots;
};

/// One entry of a sparse matrix; entries with the same row and column add up.
struct LinAlgTriplet {
  int row;
  int col;
  double value;
};

/// The LDL^T factorisation (with a fill-reducing ordering) of a sparse
/// symmetric positive definite matrix.
class LinAlgSparseCholesky {
 public:
  /// The n x n matrix of the entries (both triangles, duplicates summed).
  /// Fatal when an entry lies outside the matrix.
  LinAlgSparseCholesky(int n, const std::vector<LinAlgTriplet>& entries);
  ~LinAlgSparseCholesky();
  LinAlgSparseCholesky(const LinAlgSparseCholesky&) = delete;
  LinAlgSparseCholesky& operator=(const LinAlgSparseCholesky&) = delete;
  /// False when the matrix is not positive definite (no solve then).
  bool Ok() const { return m_bOk; }
  int Order() const { return m_iOrder; }
  /// x = A^-1 b for n values at b and x (they may not overlap; fatal when not Ok).
  void Solve(const double* b, double* x) const;
  /// X = A^-1 B column by column for the n x k column-major block at b.
  void SolveColumns(const double* b, double* x, int k) const;
  /// X = A^-1 B for the n x k block at b held row by row (row i: its k
  /// values together), into x in the same layout; they may not overlap
  /// (fatal when not Ok). One pass through the factor serves all k columns.
  void SolveRows(const double* b, double* x, int k) const;

 private:
  struct Backend;
  int m_iOrder;
  bool m_bOk;
  std::unique_ptr<Backend> m_pBackend;
};

/// One entry of a sparse complex matrix, re + i im; entries with the same row
/// and column add up.
struct LinAlgComplexTriplet {
  int row;
  int col;
  double re;
  double im;
};

/// The LDL^T factorisation (with a fill-reducing ordering) of a sparse
/// Hermitian positive definite matrix. Complex vectors are held as
/// interleaved (re, im) pairs of doubles.
class LinAlgSparseCholeskyComplex {
 public:
  /// The n x n matrix whose lower triangle (diagonal included) the entries
  /// give; the upper triangle is its conjugate transpose, and an imaginary
  /// part on the diagonal is ignored. Fatal when an entry lies above the
  /// diagonal or outside the matrix.
  LinAlgSparseCholeskyComplex(int n, const std::vector<LinAlgComplexTriplet>& lower);
  ~LinAlgSparseCholeskyComplex();
  LinAlgSparseCholeskyComplex(const LinAlgSparseCholeskyComplex&) = delete;
  LinAlgSparseCholeskyComplex& operator=(const LinAlgSparseCholeskyComplex&) = delete;
  /// False when the matrix is not positive definite (no solve then).
  bool Ok() const { return m_bOk; }
  int Order() const { return m_iOrder; }
  /// X = A^-1 B for the n x k column-major block of complex values at b
  /// (2 n k doubles) into x; they may not overlap (fatal when not Ok).
  void SolveColumns(const double* b, double* x, int k) const;

 private:
  struct Backend;
  int m_iOrder;
  bool m_bOk;
  std::unique_ptr<Backend> m_pBackend;
};
