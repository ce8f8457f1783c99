#include "linalg/LinAlgMatrixReal.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <vector>

#include "linalg/LinAlgBackend.h"
#include "linalg/LinAlgLapack.h"
#include "linalg/LinAlgLapackApi.h"
#include "linalg/LinAlgVectorReal.h"
#include "support/WarpixAssert.h"

namespace {

// Keeps its name: the fatal report texts of SVDDecomposeDestructive show it.
template <class T>
T zelMin(T a, T b) {
  return a < b ? a : b;
}

// Orders eigenvalues by key (their absolute value), smaller first.
struct Sortable {
  double key;
  int index;
  bool operator<(const Sortable& other) const { return key < other.key; }
};

// The element that wins `replaces(element, running value)` in a row-by-row
// scan from element (0, 0); its position goes to row/col when not null. With
// a non-strict test ties go to the last element, and (0, 0) always writes.
template <class Replaces>
double Extreme(LinAlgMatrixReal& a, int* row, int* col, Replaces replaces) {
  double best = a(0, 0);
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Cols(); ++j)
      if (replaces(a(i, j), best)) {
        best = a(i, j);
        if (row != nullptr) *row = i;
        if (col != nullptr) *col = j;
      }
  return best;
}

}  // namespace

LinAlgWorkspaceCache<double> LinAlgMatrixReal::m_LapackWorkspaces;
LinAlgWorkspaceCache<int> LinAlgMatrixReal::m_LapackIntWorkspaces;

LinAlgMatrixReal::LinAlgMatrixReal(int m, int n, double value)
    : m(m), n(n), m_pData(nullptr) {
  WARPIX_ASSERT(m>=0 && n>=0);
  const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
  m_pData = new double[count > 0 ? count : 1];
  std::fill(m_pData, m_pData + count, value);
}

LinAlgMatrixReal::LinAlgMatrixReal(const LinAlgMatrixReal& other)
    : m(other.m), n(other.n), m_pData(nullptr) {
  const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
  m_pData = new double[count > 0 ? count : 1];
  std::copy(other.m_pData, other.m_pData + count, m_pData);
}

LinAlgMatrixReal::~LinAlgMatrixReal() { delete[] m_pData; }

LinAlgMatrixReal& LinAlgMatrixReal::operator=(const LinAlgMatrixReal& src) {
  WARPIX_ASSERT(m==src.m && n==src.n);
  if (this != &src) std::copy(src.m_pData, src.m_pData + static_cast<size_t>(m) * n, m_pData);
  return *this;
}

double& LinAlgMatrixReal::operator()(int i, int j) {
  WARPIX_ASSERT(i<m && i>=0 && j<n && j>=0);
  return m_pData[i + static_cast<size_t>(m) * j];
}

double LinAlgMatrixReal::operator()(int i, int j) const {
  WARPIX_ASSERT(i<m && i>=0 && j<n && j>=0);
  return m_pData[i + static_cast<size_t>(m) * j];
}

void LinAlgMatrixReal::AddVal(int i, int j, double value) { (*this)(i, j) += value; }

LinAlgMatrixReal LinAlgMatrixReal::operator*(LinAlgMatrixReal& m2) {
  LinAlgMatrixReal product(m, m2.n, 0.0);
  Multiply(m2, product);
  return product;
}

void LinAlgMatrixReal::SetValues(double value) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) (*this)(i, j) = value;
}

void LinAlgMatrixReal::MultiplyBy(double value) {
  WARPIX_ASSERT(value!=0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) (*this)(i, j) *= value;
}

void LinAlgMatrixReal::Add(LinAlgMatrixReal& otherMatrix) {
  WARPIX_ASSERT(m==otherMatrix.m && n==otherMatrix.n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) (*this)(i, j) += otherMatrix(i, j);
}

void LinAlgMatrixReal::Transpose(LinAlgMatrixReal& trg) {
  WARPIX_ASSERT(m==trg.n && n==trg.m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) trg(j, i) = (*this)(i, j);
}

void LinAlgMatrixReal::PointwiseMultiply(LinAlgMatrixReal& m2, LinAlgMatrixReal& trg) {
  WARPIX_ASSERT(m==m2.m && n==m2.n && trg.m==m2.m && trg.n==m2.n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) trg(i, j) = m2(i, j) * (*this)(i, j);
}

void LinAlgMatrixReal::Multiply(LinAlgMatrixReal& m2, LinAlgMatrixReal& trg) {
  WARPIX_ASSERT(trg.m==m && trg.n==m2.n && n==m2.m);
  if (m == 0 || m2.n == 0) return;
  LinAlgEnsureBackend();
  // Leading dimensions may not be 0 even when the inner dimension is.
  cblas_dgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, m2.n, n, 1.0, m_pData, m,
              m2.m_pData, std::max(1, m2.m), 0.0, trg.m_pData, trg.m);
}

void LinAlgMatrixReal::Multiply(LinAlgVectorReal& v, LinAlgVectorReal& vTrg) {
  WARPIX_ASSERT(v.m==n && vTrg.m==m);
  if (m == 0) return;
  // With no columns BLAS returns at once without applying beta: the product
  // of an empty sum is still zero.
  if (n == 0) {
    vTrg.SetAll(0.0);
    return;
  }
  LinAlgEnsureBackend();
  cblas_dgemv(CblasColMajor, CblasNoTrans, m, n, 1.0, m_pData, m, v.m_pData, 1, 0.0,
              vTrg.m_pData, 1);
}

bool LinAlgMatrixReal::Inverse() {
  WARPIX_ASSERT(m==n);
  if (m == 0) return true;
  LinAlgEnsureBackend();
  const int lwork = 2 * m * n;
  return linalg_detail::InvertLU(m, m_pData, GetLapackIntWorkspace(m, 0),
                                 GetLapackWorkspace(lwork, 0), lwork, dgetrf_, dgetri_);
}

bool LinAlgMatrixReal::Solve(LinAlgVectorReal& b, LinAlgVectorReal& x) {
  if (m == n) return SolveLUDestructive(b, x);
  if (m > n) return LeastSquaresQRDestructive(b, x);
  WARPIX_ASSERT(false);
  return false;
}

bool LinAlgMatrixReal::SolveLUDestructive(LinAlgVectorReal& b, LinAlgVectorReal& xVec) {
  WARPIX_ASSERT(m==n && b.m==m && xVec.m==m);
  if (n == 0) return true;
  LinAlgEnsureBackend();
  return linalg_detail::SolveLU(n, m_pData, GetLapackIntWorkspace(n, 0), b.m_pData, xVec.m_pData,
                                dgesv_);
}

bool LinAlgMatrixReal::LeastSquaresQRDestructive(LinAlgVectorReal& b, LinAlgVectorReal& x) {
  WARPIX_ASSERT(m>n);
  WARPIX_ASSERT(m==b.m && n==x.m);
  LinAlgEnsureBackend();
  return linalg_detail::LeastSquaresQR(m, n, m_pData, b.m_pData, x.m_pData, dgels_,
                                       [](int size) { return GetLapackWorkspace(size, 0); });
}

void LinAlgMatrixReal::DecomposeCholesky() { WARPIX_ASSERT(false); }

void LinAlgMatrixReal::SolveDecomposedCholesky(LinAlgVectorReal&, LinAlgVectorReal&) {
  WARPIX_ASSERT(false);
}

bool LinAlgMatrixReal::EigendecompositionSymmetric(LinAlgVectorReal& eigenValues,
                                                   LinAlgMatrixReal& eigenVectors) {
  WARPIX_ASSERT(m==n && eigenValues.m==m && eigenVectors.m==m && eigenVectors.n==n);
  if (n == 0) return true;
  LinAlgEnsureBackend();
  eigenVectors = *this;
  int info = 0;
  double query = 0.0;
  int lwork = -1;
  dsyev_("Vectors", "Upper", &n, eigenVectors.m_pData, &n, eigenValues.m_pData, &query, &lwork,
         &info, 1, 1);
  lwork = linalg_detail::QueriedWorkSize(query);
  double* work = GetLapackWorkspace(lwork, 0);
  dsyev_("Vectors", "Upper", &n, eigenVectors.m_pData, &n, eigenValues.m_pData, work, &lwork,
         &info, 1, 1);
  if (info != 0) {
    std::cout << "[ERROR] LAPACK: dsyevd, info=" << info << std::endl;
    return false;
  }

  // Reorder by absolute value, largest first, moving each eigenvector column
  // along with its value.
  std::vector<Sortable> order(n);
  for (int i = 0; i < n; ++i) order[i] = Sortable{std::fabs(eigenValues(i)), i};
  std::sort(order.begin(), order.end());
  int* positionOf = GetLapackIntWorkspace(n, 0);  // current position of an initial index
  int* indexAt = GetLapackIntWorkspace(n, 1);     // initial index at a position
  for (int i = 0; i < n; ++i) positionOf[i] = indexAt[i] = i;
  for (int k = 0; k < n; ++k) {
    const int o = order[n - 1 - k].index;
    const int c = positionOf[o];
    std::swap(eigenValues(c), eigenValues(k));
    for (int row = 0; row < m; ++row) std::swap(eigenVectors(row, c), eigenVectors(row, k));
    positionOf[o] = k;
    positionOf[indexAt[k]] = c;
    indexAt[c] = indexAt[k];
    indexAt[k] = o;
  }
  return true;
}

void LinAlgMatrixReal::RowNormalize() {
  for (int i = 0; i < m; ++i) {
    double sum = 0.0;
    for (int j = 0; j < n; ++j) sum += (*this)(i, j);
    if (sum != 0.0)
      for (int j = 0; j < n; ++j) (*this)(i, j) /= sum;
  }
}

bool LinAlgMatrixReal::SVDDecomposeDestructive(LinAlgMatrixReal& U, LinAlgVectorReal& S,
                                               LinAlgMatrixReal& Vt) {
  WARPIX_ASSERT(U.Rows()==m);
  WARPIX_ASSERT(U.Cols()==m);
  WARPIX_ASSERT(Vt.Rows()==n);
  WARPIX_ASSERT(Vt.Cols()==n);
  WARPIX_ASSERT(S.Rows()==zelMin(m, n));
  if (m == 0 || n == 0) return true;
  LinAlgEnsureBackend();
  int info = 0;
  double query = 0.0;
  int lwork = -1;
  dgesvd_("All", "All", &m, &n, m_pData, &m, S.m_pData, U.m_pData, &m, Vt.m_pData, &n, &query,
          &lwork, &info, 1, 1);
  lwork = linalg_detail::QueriedWorkSize(query);
  double* work = GetLapackWorkspace(lwork, 4);
  dgesvd_("All", "All", &m, &n, m_pData, &m, S.m_pData, U.m_pData, &m, Vt.m_pData, &n, work,
          &lwork, &info, 1, 1);
  return info == 0;
}

double LinAlgMatrixReal::GetMax(int* row, int* col) {
  return Extreme(*this, row, col, [](double a, double best) { return a >= best; });
}

double LinAlgMatrixReal::GetMin(int* row, int* col) {
  return Extreme(*this, row, col, [](double a, double best) { return a <= best; });
}

double LinAlgMatrixReal::Norm(double p) {
  double sum = 0.0;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) sum += std::pow((*this)(i, j), p);
  return sum;
}

void LinAlgMatrixReal::PrintMatrix(double eps) {
  for (int i = 0; i < m; ++i) {
    std::cout << "[\t";
    for (int j = 0; j < n; ++j) {
      if (eps > std::fabs((*this)(i, j)))
        std::cout << "0*\t";
      else
        std::cout << (*this)(i, j) << "\t";
    }
    std::cout << "]\n";
  }
  std::cout << std::endl;
}

void LinAlgMatrixReal::PrintMatlab() {
  std::cout << "[" << std::flush;
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < n; ++j) std::cout << (*this)(i, j) << " " << std::flush;
    std::cout << (i + 1 < m ? ";" : "]");
  }
  std::cout << std::flush;
}

int LinAlgMatrixReal::WriteMatrixBin(const char* fileName) {
  FILE* file = std::fopen(fileName, "wb");
  WARPIX_ASSERT(file!=NULL);
  std::fwrite(m_pData, sizeof(double), static_cast<size_t>(m) * n, file);
  std::fclose(file);
  return 1;
}

int LinAlgMatrixReal::ReadMatrixBin(const char* fileName) {
  FILE* file = std::fopen(fileName, "rb");
  if (file == NULL) return 0;
  const size_t count = static_cast<size_t>(m) * n;
  std::vector<double> values(count);
  const size_t got = std::fread(values.data(), sizeof(double), count, file);
  std::fclose(file);
  if (got != count) return 0;
  std::copy(values.begin(), values.end(), m_pData);
  return 1;
}

int LinAlgMatrixReal::WriteMatrixASCII(const char* fileName) {
  std::ofstream textStream(fileName, std::ios::out | std::ios::trunc);
  WARPIX_ASSERT(textStream.is_open());
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) textStream << (*this)(i, j) << (j + 1 < n ? " " : "\n");
  return 1;
}

int LinAlgMatrixReal::ReadMatrixASCII(const char* fileName) {
  std::ifstream textStream(fileName);
  if (!textStream.is_open()) return 0;
  LinAlgMatrixReal values(m, n, 0.0);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j)
      if (!(textStream >> values(i, j))) return 0;
  *this = values;
  return 1;
}

double* LinAlgMatrixReal::GetLapackWorkspace(int size, int slot) {
  return m_LapackWorkspaces.Get(size, slot);
}

int* LinAlgMatrixReal::GetLapackIntWorkspace(int size, int slot) {
  return m_LapackIntWorkspaces.Get(size, slot);
}
