#pragma once

#include "linalg/LinAlgComplex.h"
#include "linalg/LinAlgVectorComplex.h"
#include "linalg/LinAlgWorkspaceCache.h"

/// Dense complex matrix, column-major: element (i, j) lives at index i + m*j
/// and the array goes to CBLAS and LAPACK unchanged with leading dimension m.
/// All elements are 0 + 0i at construction. Shape and index errors are fatal;
/// numerical failures of the solvers are returned as false.
class LinAlgMatrixComplex {
 public:
  // === Construction
  /// m x n zero elements (fatal "m>=0 && n>=0").
  LinAlgMatrixComplex(int m, int n);
  LinAlgMatrixComplex(const LinAlgMatrixComplex& other);
  virtual ~LinAlgMatrixComplex();
  /// Shapes must already agree (fatal "Rows()==src.Rows() && Cols()==src.Cols()").
  LinAlgMatrixComplex& operator=(const LinAlgMatrixComplex& src);

  // === Element access (fatal "i<m && i>=0 && j<n && j>=0")
  LinAlgComplex& operator()(int i, int j);
  const LinAlgComplex& operator()(int i, int j) const;
  LinAlgComplex GetValue(int i, int j) const;
  void SetValue(int i, int j, const LinAlgComplex& value);

  // === Dumps
  /// Rows "[\t" e "\t" ... "]\n"; entries of modulus below eps as "0*".
  virtual void PrintMatrix(double eps);
  /// "[[a, b];[c, d];]" to standard output, no line end.
  virtual void PrintMatlab();

  // === Element-wise operations
  virtual void MultiplyByReal(double value);
  /// Fatal "Rows()==m2.Rows()", "Cols()==m2.Cols()".
  virtual void AddMatrix(const LinAlgMatrixComplex& m2);
  /// Frobenius norm.
  virtual double Norm();
  /// trg(i, j) = this(i, j) * m2(i, j) over this matrix's shape.
  virtual void PointwiseMultiply(LinAlgMatrixComplex& m2, LinAlgMatrixComplex& trg);

  // === Products (CBLAS, target overwritten)
  /// trg = this * m2; fatal "m2.m==n", "m==trg.m && m2.n==trg.n".
  virtual void Multiply(LinAlgMatrixComplex& m2, LinAlgMatrixComplex& trg);
  /// trg = this * v; fatal "n==v.m && m==trg.m".
  virtual void Multiply(LinAlgVectorComplex& v, LinAlgVectorComplex& trg);
  /// trg(i, j) = conjugate of this(i, j).
  virtual void Conj(LinAlgMatrixComplex& trg);

  // === Solvers (LAPACK)
  /// In-place inverse of a square matrix (fatal "m==n"). Returns false for a
  /// singular matrix; the matrix then holds its LU factors.
  virtual bool Inverse();
  /// m == n: LU solve; m > n: least squares; m < n is fatal ("false").
  virtual bool Solve(LinAlgVectorComplex& b, LinAlgVectorComplex& x);
  /// Square solve: the matrix becomes its LU factors, b is unchanged. On a
  /// singular matrix writes "[ERROR] Error solving system of equations:
  /// <info>" to standard error and returns false.
  virtual bool SolveLUDestructive(LinAlgVectorComplex& b, LinAlgVectorComplex& xVec);
  /// Minimises |A x - b| for m >= n; overwrites the matrix and b. Returns
  /// false (x unchanged) when A does not have full column rank.
  virtual bool LeastSquaresQRDestructive(LinAlgVectorComplex& b, LinAlgVectorComplex& x);
  /// Full SVD: U m x m, S min(m, n) values (descending, imaginary parts 0),
  /// Vt n x n (conjugate-transposed right vectors); the matrix is destroyed.
  /// Returns false when LAPACK does not converge.
  virtual bool SVDDecomposeDestructive(LinAlgMatrixComplex& U, LinAlgVectorComplex& S,
                                       LinAlgMatrixComplex& Vt);
  /// The SVD's singular values (S, min(m, n) values, descending) and right
  /// vectors (Vt n x n) only, without U: the same Vt as SVDDecomposeDestructive
  /// to rounding at a fraction of the cost. The work size is queried once per
  /// shape. The matrix is destroyed. Returns false when LAPACK does not converge.
  virtual bool RightSingularVectorsDestructive(LinAlgVectorComplex& S, LinAlgMatrixComplex& Vt);
  /// Minimises |A X - B| column by column for m >= n, B m x k, X n x k: one QR
  /// factorisation for every right-hand side. Overwrites the matrix and B.
  /// Returns false (X unchanged) when R has an exact zero on its diagonal.
  virtual bool LeastSquaresQRDestructive(LinAlgMatrixComplex& B, LinAlgMatrixComplex& X);

  // === Queries
  /// Largest element modulus (ties irrelevant: a modulus is returned).
  virtual double GetMax();
  /// Smallest element modulus.
  virtual double GetMin();
  virtual int Rows() const { return m; }
  virtual int Cols() const { return n; }

  // === LAPACK work buffers, shared per exact (slot, size), kept for the run
  /// Complex buffers are 0 + 0i when first allocated.
  static LinAlgComplex* GetLapackComplexWorkspace(int size, int slot);
  static double* GetLapackWorkspace(int size, int slot);
  static int* GetLapackIntWorkspace(int size, int slot);

 private:
  LinAlgComplex* m_pData;
  int m;
  int n;

  static LinAlgWorkspaceCache<LinAlgComplex> m_LapackComplexWorkspaces;
  static LinAlgWorkspaceCache<double> m_LapackWorkspaces;
  static LinAlgWorkspaceCache<int> m_LapackIntWorkspaces;
};
