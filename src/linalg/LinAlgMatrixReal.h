#pragma once

#include "linalg/LinAlgWorkspaceCache.h"

class LinAlgVectorReal;

/// Dense real matrix, column-major: element (i, j) lives at index i + m*j and
/// the array goes to CBLAS and LAPACK unchanged with leading dimension m.
/// Shape and index errors are programming errors and fatal; numerical
/// failures of the solvers are returned as false.
class LinAlgMatrixReal {
 public:
  // === Construction
  /// m x n elements, all set to value (fatal "m>=0 && n>=0").
  LinAlgMatrixReal(int m, int n, double value);
  LinAlgMatrixReal(const LinAlgMatrixReal& other);
  virtual ~LinAlgMatrixReal();
  /// Shapes must already agree (fatal "m==src.m && n==src.n").
  LinAlgMatrixReal& operator=(const LinAlgMatrixReal& src);

  // === Element access (fatal "i<m && i>=0 && j<n && j>=0")
  double& operator()(int i, int j);
  double operator()(int i, int j) const;
  /// Element (i, j) += value.
  void AddVal(int i, int j, double value);
  /// A new m x m2.Cols() matrix holding this * m2.
  LinAlgMatrixReal operator*(LinAlgMatrixReal& m2);

  // === Element-wise operations
  virtual void SetValues(double value);
  /// Fatal "value!=0": SetValues(0) clears a matrix.
  virtual void MultiplyBy(double value);
  /// Fatal "m==otherMatrix.m && n==otherMatrix.n".
  virtual void Add(LinAlgMatrixReal& otherMatrix);
  /// trg(j, i) = this(i, j); fatal "m==trg.n && n==trg.m".
  virtual void Transpose(LinAlgMatrixReal& trg);
  /// trg(i, j) = m2(i, j) * this(i, j).
  virtual void PointwiseMultiply(LinAlgMatrixReal& m2, LinAlgMatrixReal& trg);

  // === Products (CBLAS, target overwritten)
  /// trg = this * m2; fatal "trg.m==m && trg.n==m2.n && n==m2.m".
  virtual void Multiply(LinAlgMatrixReal& m2, LinAlgMatrixReal& trg);
  /// vTrg = this * v; fatal "v.m==n && vTrg.m==m".
  virtual void Multiply(LinAlgVectorReal& v, LinAlgVectorReal& vTrg);

  // === Solvers (LAPACK)
  /// In-place inverse of a square matrix (fatal "m==n"). Returns false for a
  /// singular matrix; the matrix then holds its LU factors.
  virtual bool Inverse();
  /// m == n: LU solve; m > n: least squares; m < n is fatal ("false").
  /// Returns false when the solver fails.
  virtual bool Solve(LinAlgVectorReal& b, LinAlgVectorReal& x);
  /// Square solve: the matrix becomes its LU factors, b is unchanged.
  /// On a singular matrix writes "[ERROR] Error solving system of equations:
  /// <info>" to standard error and returns false (x then undefined).
  virtual bool SolveLUDestructive(LinAlgVectorReal& b, LinAlgVectorReal& xVec);
  /// Minimises |A x - b| for m > n; overwrites the matrix and b. Returns false
  /// (x unchanged) when A does not have full column rank.
  virtual bool LeastSquaresQRDestructive(LinAlgVectorReal& b, LinAlgVectorReal& x);
  /// Not provided: fatal "false".
  virtual void DecomposeCholesky();
  /// Not provided: fatal "false".
  virtual void SolveDecomposedCholesky(LinAlgVectorReal& b, LinAlgVectorReal& x);
  /// Eigenvalues and orthonormal eigenvectors (columns) of this symmetric
  /// matrix, ordered by descending absolute value; this matrix is unchanged.
  /// On failure prints "[ERROR] LAPACK: dsyevd, info=<info>" to standard
  /// output and returns false.
  virtual bool EigendecompositionSymmetric(LinAlgVectorReal& eigenValues,
                                           LinAlgMatrixReal& eigenVectors);
  /// Every row divided by its plain sum; rows summing to exactly 0 unchanged.
  virtual void RowNormalize();
  /// Full SVD: U m x m, S min(m, n) values descending, Vt n x n; the matrix is
  /// destroyed. Returns false when LAPACK does not converge.
  virtual bool SVDDecomposeDestructive(LinAlgMatrixReal& U, LinAlgVectorReal& S,
                                       LinAlgMatrixReal& Vt);

  // === Queries
  /// Largest element; ties go to the last in row-by-row order. Position
  /// written to row/col when not null.
  virtual double GetMax(int* row, int* col);
  /// Smallest element, same tie rule.
  virtual double GetMin(int* row, int* col);
  /// Sum of pow(a_ij, p): no root, signs kept.
  virtual double Norm(double p);
  virtual int Rows() const { return m; }
  virtual int Cols() const { return n; }

  // === Dumps and files
  /// Rows "[\t" e "\t" ... "]\n", entries below eps in magnitude as "0*".
  virtual void PrintMatrix(double eps);
  /// "[1 2 ;3 4 ]" to standard output, no line end.
  virtual void PrintMatlab();
  /// Binary, column-major doubles, no header; fatal "file!=NULL". Returns 1.
  virtual int WriteMatrixBin(const char* fileName);
  /// Returns 0 (matrix unchanged) when the file does not open or is short.
  virtual int ReadMatrixBin(const char* fileName);
  /// Text, one line per row; fatal "textStream.is_open()". Returns 1.
  virtual int WriteMatrixASCII(const char* fileName);
  /// Row-major numbers; returns 0 (matrix unchanged) when the file does not
  /// open or holds fewer readable numbers than m*n.
  virtual int ReadMatrixASCII(const char* fileName);

  // === LAPACK work buffers
  /// A buffer of exactly size doubles (size elements, contents left by the
  /// last user), shared by every request with the same (slot, size) and kept
  /// for the whole run.
  static double* GetLapackWorkspace(int size, int slot);
  static int* GetLapackIntWorkspace(int size, int slot);

 private:
  friend class LinAlgDenseLU;

  int m;
  int n;
  double* m_pData;

  static LinAlgWorkspaceCache<double> m_LapackWorkspaces;
  static LinAlgWorkspaceCache<int> m_LapackIntWorkspaces;
};
