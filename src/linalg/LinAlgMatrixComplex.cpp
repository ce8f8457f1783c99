#include "linalg/LinAlgMatrixComplex.h"

#include <cblas.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <map>
#include <type_traits>
#include <utility>

#include "linalg/LinAlgBackend.h"
#include "linalg/LinAlgLapack.h"
#include "linalg/LinAlgLapackApi.h"
#include "support/WarpixAssert.h"

// The element array goes to LAPACK and CBLAS as double complex.
static_assert(sizeof(LinAlgComplex) == 2 * sizeof(double), "LinAlgComplex must be two doubles");
static_assert(std::is_standard_layout<LinAlgComplex>::value, "LinAlgComplex must be standard layout");

namespace {

// Keeps its name: the fatal report texts of SVDDecomposeDestructive show it.
template <class T>
T zelMin(T a, T b) {
  return a < b ? a : b;
}

// The modulus that wins `replaces(modulus, running value)` in a row-by-row
// scan starting from element (0, 0).
template <class Replaces>
double ExtremeModulus(LinAlgMatrixComplex& a, Replaces replaces) {
  double best = a(0, 0).Power();
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < a.Cols(); ++j) {
      const double modulus = a(i, j).Power();
      if (replaces(modulus, best)) best = modulus;
    }
  return best;
}

}  // namespace

LinAlgWorkspaceCache<LinAlgComplex> LinAlgMatrixComplex::m_LapackComplexWorkspaces;
LinAlgWorkspaceCache<double> LinAlgMatrixComplex::m_LapackWorkspaces;
LinAlgWorkspaceCache<int> LinAlgMatrixComplex::m_LapackIntWorkspaces;

LinAlgMatrixComplex::LinAlgMatrixComplex(int m, int n) : m_pData(nullptr), m(m), n(n) {
  WARPIX_ASSERT(m>=0 && n>=0);
  const size_t count = static_cast<size_t>(m) * static_cast<size_t>(n);
  m_pData = new LinAlgComplex[count + linalg_detail::kBlasReadSlack];
}

LinAlgMatrixComplex::LinAlgMatrixComplex(const LinAlgMatrixComplex& other)
    : LinAlgMatrixComplex(other.Rows(), other.Cols()) {
  AddMatrix(other);
}

LinAlgMatrixComplex::~LinAlgMatrixComplex() { delete[] m_pData; }

LinAlgMatrixComplex& LinAlgMatrixComplex::operator=(const LinAlgMatrixComplex& src) {
  WARPIX_ASSERT(Rows()==src.Rows() && Cols()==src.Cols());
  if (this != &src) std::copy(src.m_pData, src.m_pData + static_cast<size_t>(m) * n, m_pData);
  return *this;
}

LinAlgComplex& LinAlgMatrixComplex::operator()(int i, int j) {
  WARPIX_ASSERT(i<m && i>=0 && j<n && j>=0);
  return m_pData[i + static_cast<size_t>(m) * j];
}

const LinAlgComplex& LinAlgMatrixComplex::operator()(int i, int j) const {
  WARPIX_ASSERT(i<m && i>=0 && j<n && j>=0);
  return m_pData[i + static_cast<size_t>(m) * j];
}

LinAlgComplex LinAlgMatrixComplex::GetValue(int i, int j) const { return (*this)(i, j); }

void LinAlgMatrixComplex::SetValue(int i, int j, const LinAlgComplex& value) { (*this)(i, j) = value; }

void LinAlgMatrixComplex::PrintMatrix(double eps) {
  for (int i = 0; i < m; ++i) {
    std::cout << "[\t";
    for (int j = 0; j < n; ++j) {
      const LinAlgComplex& z = (*this)(i, j);
      if (eps > z.Power())
        std::cout << "0*\t";
      else if (z.m_fIm > 0)
        std::cout << z.m_fRe << "+" << z.m_fIm << "i\t";
      else if (z.m_fIm < 0)
        std::cout << z.m_fRe << z.m_fIm << "i\t";
      else
        std::cout << z.m_fRe << "\t";
    }
    std::cout << "]\n";
  }
  std::cout << std::endl;
}

void LinAlgMatrixComplex::PrintMatlab() {
  std::cout << "[";
  for (int i = 0; i < m; ++i) {
    std::cout << "[";
    for (int j = 0; j < n; ++j) {
      if (j > 0) std::cout << ", ";
      PrintMatlabElement((*this)(i, j));
    }
    std::cout << "];";
  }
  std::cout << "]" << std::flush;
}

void LinAlgMatrixComplex::MultiplyByReal(double value) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) (*this)(i, j) *= value;
}

void LinAlgMatrixComplex::AddMatrix(const LinAlgMatrixComplex& m2) {
  WARPIX_ASSERT(Rows()==m2.Rows());
  WARPIX_ASSERT(Cols()==m2.Cols());
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) (*this)(i, j) += m2(i, j);
}

double LinAlgMatrixComplex::Norm() {
  double sum = 0.0;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      const LinAlgComplex& z = (*this)(i, j);
      sum += z.m_fRe * z.m_fRe + z.m_fIm * z.m_fIm;
    }
  return std::sqrt(sum);
}

void LinAlgMatrixComplex::PointwiseMultiply(LinAlgMatrixComplex& m2, LinAlgMatrixComplex& trg) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) trg(i, j) = (*this)(i, j) * m2(i, j);
}

void LinAlgMatrixComplex::Multiply(LinAlgMatrixComplex& m2, LinAlgMatrixComplex& trg) {
  WARPIX_ASSERT(m2.m==n);
  WARPIX_ASSERT(m==trg.m && m2.n==trg.n);
  if (m == 0 || m2.n == 0) return;
  LinAlgEnsureBackend();
  const LinAlgComplex alpha(1.0, 0.0);
  const LinAlgComplex beta(0.0, 0.0);
  // Leading dimensions may not be 0 even when the inner dimension is.
  cblas_zgemm(CblasColMajor, CblasNoTrans, CblasNoTrans, m, m2.n, n, &alpha, m_pData, m,
              m2.m_pData, std::max(1, m2.m), &beta, trg.m_pData, trg.m);
}

void LinAlgMatrixComplex::Multiply(LinAlgVectorComplex& v, LinAlgVectorComplex& trg) {
  WARPIX_ASSERT(n==v.m && m==trg.m);
  LinAlgEnsureBackend();
  const LinAlgComplex alpha(1.0, 0.0);
  const LinAlgComplex beta(0.0, 0.0);
  cblas_zgemv(CblasColMajor, CblasNoTrans, m, n, &alpha, m_pData, m, v.m_pData, 1, &beta,
              trg.m_pData, 1);
}

void LinAlgMatrixComplex::Conj(LinAlgMatrixComplex& trg) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) trg(i, j) = (*this)(i, j).Conjugate();
}

bool LinAlgMatrixComplex::Inverse() {
  WARPIX_ASSERT(m==n);
  if (m == 0) return true;
  LinAlgEnsureBackend();
  const int lwork = 2 * m * n;
  return linalg_detail::InvertLU(m, m_pData, GetLapackIntWorkspace(m, 0),
                                 GetLapackComplexWorkspace(lwork, 0), lwork, zgetrf_, zgetri_);
}

bool LinAlgMatrixComplex::Solve(LinAlgVectorComplex& b, LinAlgVectorComplex& x) {
  if (m == n) return SolveLUDestructive(b, x);
  if (m > n) return LeastSquaresQRDestructive(b, x);
  WARPIX_ASSERT(false);
  return false;
}

bool LinAlgMatrixComplex::SolveLUDestructive(LinAlgVectorComplex& b, LinAlgVectorComplex& xVec) {
  WARPIX_ASSERT(m==n && b.m==m && xVec.m==m);
  LinAlgEnsureBackend();
  return linalg_detail::SolveLU(n, m_pData, GetLapackIntWorkspace(n, 0), b.m_pData, xVec.m_pData,
                                zgesv_);
}

bool LinAlgMatrixComplex::LeastSquaresQRDestructive(LinAlgVectorComplex& b, LinAlgVectorComplex& x) {
  WARPIX_ASSERT(m==b.m && n==x.m);
  // With fewer rows than columns the solution would not fit in b.
  WARPIX_ASSERT(m>=n);
  LinAlgEnsureBackend();
  return linalg_detail::LeastSquaresQR(m, n, m_pData, b.m_pData, x.m_pData, zgels_,
                                       [](int size) { return GetLapackComplexWorkspace(size, 0); });
}

bool LinAlgMatrixComplex::SVDDecomposeDestructive(LinAlgMatrixComplex& U, LinAlgVectorComplex& S,
                                                  LinAlgMatrixComplex& Vt) {
  WARPIX_ASSERT(U.m==m && U.n==m);
  WARPIX_ASSERT(S.m==zelMin(m, n));
  WARPIX_ASSERT(Vt.m==n && Vt.n==n);
  LinAlgEnsureBackend();
  const int k = zelMin(m, n);
  double* rwork = GetLapackWorkspace(5 * k, 0);
  double* s = GetLapackWorkspace(m, 1);
  int info = 0;
  LinAlgComplex query(0.0, 0.0);
  int lwork = -1;
  zgesvd_("All", "All", &m, &n, m_pData, &m, s, U.m_pData, &m, Vt.m_pData, &n, &query, &lwork,
          rwork, &info, 1, 1);
  lwork = linalg_detail::QueriedWorkSize(query);
  LinAlgComplex* work = GetLapackComplexWorkspace(lwork, 0);
  zgesvd_("All", "All", &m, &n, m_pData, &m, s, U.m_pData, &m, Vt.m_pData, &n, work, &lwork,
          rwork, &info, 1, 1);
  if (info != 0) return false;
  for (int i = 0; i < S.Rows(); ++i) S(i) = LinAlgComplex(s[i], 0.0);
  return true;
}

bool LinAlgMatrixComplex::RightSingularVectorsDestructive(LinAlgVectorComplex& S,
                                                          LinAlgMatrixComplex& Vt) {
  WARPIX_ASSERT(S.m==zelMin(m, n));
  WARPIX_ASSERT(Vt.m==n && Vt.n==n);
  LinAlgEnsureBackend();
  const int k = zelMin(m, n);
  // One workspace query per shape: the interactive fits run this per vertex.
  static std::map<std::pair<int, int>, int> s_WorkSizes;
  int& lwork = s_WorkSizes[{m, n}];
  int info = 0;
  LinAlgComplex unusedU(0.0, 0.0);
  const int ldu = 1;
  double* rwork = GetLapackWorkspace(5 * k, 2);
  double* s = GetLapackWorkspace(k, 3);
  if (lwork == 0) {
    LinAlgComplex query(0.0, 0.0);
    int ask = -1;
    zgesvd_("N", "All", &m, &n, m_pData, &m, s, &unusedU, &ldu, Vt.m_pData, &n, &query, &ask,
            rwork, &info, 1, 1);
    lwork = linalg_detail::QueriedWorkSize(query);
  }
  LinAlgComplex* work = GetLapackComplexWorkspace(lwork, 1);
  zgesvd_("N", "All", &m, &n, m_pData, &m, s, &unusedU, &ldu, Vt.m_pData, &n, work, &lwork, rwork,
          &info, 1, 1);
  if (info != 0) return false;
  for (int i = 0; i < S.Rows(); ++i) S(i) = LinAlgComplex(s[i], 0.0);
  return true;
}

bool LinAlgMatrixComplex::LeastSquaresQRDestructive(LinAlgMatrixComplex& B, LinAlgMatrixComplex& X) {
  WARPIX_ASSERT(m==B.m && n==X.m && B.n==X.n);
  WARPIX_ASSERT(m>=n);
  LinAlgEnsureBackend();
  const int nrhs = B.n;
  if (nrhs == 0 || n == 0) return true;
  int info = 0;
  LinAlgComplex query(0.0, 0.0);
  int lwork = -1;
  zgels_("No transpose", &m, &n, &nrhs, m_pData, &m, B.m_pData, &m, &query, &lwork, &info, 1);
  lwork = linalg_detail::QueriedWorkSize(query);
  zgels_("No transpose", &m, &n, &nrhs, m_pData, &m, B.m_pData, &m,
         GetLapackComplexWorkspace(lwork, 0), &lwork, &info, 1);
  if (info != 0) return false;
  for (int j = 0; j < nrhs; ++j)
    for (int i = 0; i < n; ++i) X(i, j) = B(i, j);
  return true;
}

double LinAlgMatrixComplex::GetMax() {
  return ExtremeModulus(*this, [](double a, double best) { return a >= best; });
}

double LinAlgMatrixComplex::GetMin() {
  return ExtremeModulus(*this, [](double a, double best) { return a <= best; });
}

LinAlgComplex* LinAlgMatrixComplex::GetLapackComplexWorkspace(int size, int slot) {
  return m_LapackComplexWorkspaces.Get(size, slot);
}

double* LinAlgMatrixComplex::GetLapackWorkspace(int size, int slot) {
  return m_LapackWorkspaces.Get(size, slot);
}

int* LinAlgMatrixComplex::GetLapackIntWorkspace(int size, int slot) {
  return m_LapackIntWorkspaces.Get(size, slot);
}
