#include "linalg/LinAlgFactor.h"

#include <complex>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include "linalg/LinAlgBackend.h"
#include "linalg/LinAlgLapack.h"
#include "linalg/LinAlgLapackApi.h"
#include "support/WarpixAssert.h"

LinAlgDenseLU::LinAlgDenseLU(const LinAlgMatrixReal& a) : m_iOrder(a.Rows()), m_bOk(false) {
  WARPIX_ASSERT(a.Rows()==a.Cols());
  const int n = m_iOrder;
  m_Factors.assign(a.m_pData, a.m_pData + static_cast<size_t>(n) * n);
  m_Pivots.assign(n, 0);
  if (n == 0) {
    m_bOk = true;
    return;
  }
  LinAlgEnsureBackend();
  int info = 0;
  dgetrf_(&n, &n, m_Factors.data(), &n, m_Pivots.data(), &info);
  m_bOk = info == 0;
}

void LinAlgDenseLU::Solve(const LinAlgVectorReal& b, LinAlgVectorReal& x) const {
  WARPIX_ASSERT(m_bOk);
  WARPIX_ASSERT(b.Rows()==m_iOrder && x.Rows()==m_iOrder);
  const int n = m_iOrder, one = 1;
  if (n == 0) return;
  std::copy(b.m_pData, b.m_pData + n, x.m_pData);
  int info = 0;
  dgetrs_("N", &n, &one, m_Factors.data(), &n, m_Pivots.data(), x.m_pData, &n, &info, 1);
  WARPIX_ASSERT(info==0);
}

bool LinAlgDenseLU::Inverse(LinAlgMatrixReal& inverse) const {
  WARPIX_ASSERT(m_bOk);
  WARPIX_ASSERT(inverse.Rows()==m_iOrder && inverse.Cols()==m_iOrder);
  const int n = m_iOrder;
  if (n == 0) return true;
  std::copy(m_Factors.begin(), m_Factors.end(), inverse.m_pData);
  // The work array's size from LAPACK's query, owned here.
  int info = 0, query = -1;
  double size = 0.0;
  dgetri_(&n, inverse.m_pData, &n, m_Pivots.data(), &size, &query, &info);
  int lwork = info == 0 ? linalg_detail::QueriedWorkSize(size) : n;
  if (lwork < n) lwork = n;
  std::vector<double> work(lwork);
  dgetri_(&n, inverse.m_pData, &n, m_Pivots.data(), work.data(), &lwork, &info);
  return info == 0;
}

struct LinAlgSparseCholesky::Backend {
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>> solver;
};

LinAlgSparseCholesky::LinAlgSparseCholesky(int n, const std::vector<LinAlgTriplet>& entries)
    : m_iOrder(n), m_bOk(false), m_pBackend(std::make_unique<Backend>()) {
  WARPIX_ASSERT(n>=0);
  std::vector<Eigen::Triplet<double>> triplets;
  triplets.reserve(entries.size());
  for (const LinAlgTriplet& e : entries) {
    WARPIX_ASSERT(e.row>=0 && e.row<n && e.col>=0 && e.col<n);
    triplets.emplace_back(e.row, e.col, e.value);
  }
  if (n == 0) {
    m_bOk = true;
    return;
  }
  Eigen::SparseMatrix<double> matrix(n, n);
  matrix.setFromTriplets(triplets.begin(), triplets.end());
  m_pBackend->solver.compute(matrix);
  // LDL^T also factors an indefinite matrix: positive definite means every
  // pivot of D is positive.
  m_bOk = m_pBackend->solver.info() == Eigen::Success &&
          (m_pBackend->solver.vectorD().array() > 0.0).all();
}

LinAlgSparseCholesky::~LinAlgSparseCholesky() = default;

void LinAlgSparseCholesky::Solve(const double* b, double* x) const { SolveColumns(b, x, 1); }

void LinAlgSparseCholesky::SolveColumns(const double* b, double* x, int k) const {
  WARPIX_ASSERT(m_bOk);
  WARPIX_ASSERT(k>=0);
  if (m_iOrder == 0 || k == 0) return;
  const Eigen::Map<const Eigen::MatrixXd> rhs(b, m_iOrder, k);
  Eigen::Map<Eigen::MatrixXd> out(x, m_iOrder, k);
  out = m_pBackend->solver.solve(rhs);
}

namespace {

// The block solve of SolveRows on w (n rows of width values, permuted):
// forward through the unit lower L (column-major, strictly lower part
// stored), D, backward through L^T. A width known at compile time keeps a
// row in registers (twice as fast for two columns as a run-time width).
template <int kWidth>
void SolveRowsPermuted(int n, const int* start, const int* row, const double* value,
                       const double* d, double* w, int width) {
  const int k = kWidth > 0 ? kWidth : width;
  for (int j = 0; j < n; ++j) {
    const double* const wj = w + static_cast<size_t>(j) * k;
    for (int p = start[j]; p < start[j + 1]; ++p) {
      const double l = value[p];
      double* const wi = w + static_cast<size_t>(row[p]) * k;
      for (int c = 0; c < k; ++c) wi[c] -= l * wj[c];
    }
  }
  for (int j = 0; j < n; ++j) {
    const double inverse = 1.0 / d[j];
    double* const wj = w + static_cast<size_t>(j) * k;
    for (int c = 0; c < k; ++c) wj[c] *= inverse;
  }
  // Row j of L^T is column j of L.
  for (int j = n - 1; j >= 0; --j) {
    double* const wj = w + static_cast<size_t>(j) * k;
    for (int p = start[j]; p < start[j + 1]; ++p) {
      const double l = value[p];
      const double* const wi = w + static_cast<size_t>(row[p]) * k;
      for (int c = 0; c < k; ++c) wj[c] -= l * wi[c];
    }
  }
}

}  // namespace

void LinAlgSparseCholesky::SolveRows(const double* b, double* x, int k) const {
  WARPIX_ASSERT(m_bOk);
  WARPIX_ASSERT(k>=0);
  const int n = m_iOrder;
  if (n == 0 || k == 0) return;
  // P A P^T = L D L^T: the operations of the column solve, with each entry
  // of L read once for the whole block.
  const auto& solver = m_pBackend->solver;
  const Eigen::SparseMatrix<double>& L = solver.matrixL().nestedExpression();
  const auto& ordering = solver.permutationP().indices();
  const bool permuted = ordering.size() == n;
  const size_t width = static_cast<size_t>(k);
  // Cells share a factor: the permuted block is this call's own.
  const std::unique_ptr<double[]> w(new double[width * n]);
  for (int i = 0; i < n; ++i) {
    const size_t to = (permuted ? ordering[i] : i) * width;
    for (size_t c = 0; c < width; ++c) w[to + c] = b[i * width + c];
  }
  // vectorD() returns a copy: held here for the whole solve.
  const Eigen::VectorXd diagonal = solver.vectorD();
  const double* const d = diagonal.data();
  if (k == 2) {
    SolveRowsPermuted<2>(n, L.outerIndexPtr(), L.innerIndexPtr(), L.valuePtr(), d, w.get(), k);
  } else {
    SolveRowsPermuted<0>(n, L.outerIndexPtr(), L.innerIndexPtr(), L.valuePtr(), d, w.get(), k);
  }
  for (int i = 0; i < n; ++i) {
    const size_t from = (permuted ? ordering[i] : i) * width;
    for (size_t c = 0; c < width; ++c) x[i * width + c] = w[from + c];
  }
}

struct LinAlgSparseCholeskyComplex::Backend {
  using Matrix = Eigen::SparseMatrix<std::complex<double>>;
  Eigen::SimplicialLDLT<Matrix, Eigen::Lower, Eigen::AMDOrdering<int>> solver;
};

LinAlgSparseCholeskyComplex::LinAlgSparseCholeskyComplex(
    int n, const std::vector<LinAlgComplexTriplet>& lower)
    : m_iOrder(n), m_bOk(false), m_pBackend(std::make_unique<Backend>()) {
  WARPIX_ASSERT(n>=0);
  std::vector<Eigen::Triplet<std::complex<double>>> triplets;
  triplets.reserve(lower.size());
  for (const LinAlgComplexTriplet& e : lower) {
    WARPIX_ASSERT(e.col>=0 && e.col<=e.row && e.row<n);
    triplets.emplace_back(e.row, e.col, std::complex<double>(e.re, e.row == e.col ? 0.0 : e.im));
  }
  if (n == 0) {
    m_bOk = true;
    return;
  }
  Backend::Matrix matrix(n, n);
  matrix.setFromTriplets(triplets.begin(), triplets.end());
  m_pBackend->solver.compute(matrix);
  // A Hermitian D is real: positive definite means every real pivot is
  // positive.
  m_bOk = m_pBackend->solver.info() == Eigen::Success &&
          (m_pBackend->solver.vectorD().real().array() > 0.0).all();
}

LinAlgSparseCholeskyComplex::~LinAlgSparseCholeskyComplex() = default;

void LinAlgSparseCholeskyComplex::SolveColumns(const double* b, double* x, int k) const {
  WARPIX_ASSERT(m_bOk);
  WARPIX_ASSERT(k>=0);
  const int n = m_iOrder;
  if (n == 0 || k == 0) return;
  // P A P^T = L D L^H with L unit lower (column-major, strictly lower part
  // stored). All k columns go through L together: the right-hand sides are
  // held row by row, so each entry of L is read once for the whole block
  // instead of once per column.
  const auto& solver = m_pBackend->solver;
  const Backend::Matrix& L = solver.matrixL().nestedExpression();
  const int* const start = L.outerIndexPtr();
  const int* const row = L.innerIndexPtr();
  const std::complex<double>* const value = L.valuePtr();
  std::vector<int> perm(n);
  const auto& ordering = solver.permutationP().indices();
  for (int i = 0; i < n; ++i) perm[i] = ordering.size() == n ? ordering[i] : i;
  const size_t width = 2 * static_cast<size_t>(k);  // doubles per row of the block
  std::vector<double> w(width * n);
  for (int c = 0; c < k; ++c) {
    for (int i = 0; i < n; ++i) {
      double* const to = &w[perm[i] * width + 2 * c];
      const double* const from = b + 2 * (static_cast<size_t>(c) * n + i);
      to[0] = from[0];
      to[1] = from[1];
    }
  }
  // Forward: L y = P b.
  for (int j = 0; j < n; ++j) {
    const double* const wj = &w[j * width];
    for (int p = start[j]; p < start[j + 1]; ++p) {
      const double lr = value[p].real(), li = value[p].imag();
      double* const wi = &w[row[p] * width];
      for (size_t c = 0; c < width; c += 2) {
        wi[c] -= lr * wj[c] - li * wj[c + 1];
        wi[c + 1] -= lr * wj[c + 1] + li * wj[c];
      }
    }
  }
  // D (real for a Hermitian matrix).
  const auto& d = solver.vectorD();
  for (int j = 0; j < n; ++j) {
    const double inverse = 1.0 / d[j].real();
    double* const wj = &w[j * width];
    for (size_t c = 0; c < width; ++c) wj[c] *= inverse;
  }
  // Backward: L^H z = y; row j of L^H is column j of L, conjugated.
  for (int j = n - 1; j >= 0; --j) {
    double* const wj = &w[j * width];
    for (int p = start[j]; p < start[j + 1]; ++p) {
      const double lr = value[p].real(), li = value[p].imag();
      const double* const wi = &w[row[p] * width];
      for (size_t c = 0; c < width; c += 2) {
        wj[c] -= lr * wi[c] + li * wi[c + 1];
        wj[c + 1] -= lr * wi[c + 1] - li * wi[c];
      }
    }
  }
  // x = P^T z.
  for (int c = 0; c < k; ++c) {
    for (int i = 0; i < n; ++i) {
      const double* const from = &w[perm[i] * width + 2 * c];
      double* const to = x + 2 * (static_cast<size_t>(c) * n + i);
      to[0] = from[0];
      to[1] = from[1];
    }
  }
}
