#include "linalg/LinAlgFactor.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

namespace {

using C = std::complex<double>;

// A Hermitian matrix given by its lower triangle, each off-diagonal entry
// split in two triplets (they add up), solved for three right-hand sides:
// the residual of the dense product is at rounding level. An indefinite
// matrix is refused.
TEST(LinAlgSparseCholeskyComplex, SolvesHermitianSystemsAndRefusesIndefiniteOnes) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 9, k = 3;
  // A = sum of c^H c over sparse complex rows c, plus the identity.
  std::vector<C> a(n * n, 0.0);
  for (int i = 0; i < n; ++i) a[i * n + i] = 1.0;
  for (int r = 0; r < 12; ++r) {
    const int p = r % n, q = (r * 4 + 1) % n;
    const C cp(u(gen), u(gen)), cq(u(gen), u(gen));
    const int idx[2] = {p, q};
    const C c[2] = {cp, cq};
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) a[idx[s] * n + idx[t]] += std::conj(c[s]) * c[t];
  }
  std::vector<LinAlgComplexTriplet> lower;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      const C v = a[i * n + j];
      if (v == C(0.0)) continue;
      lower.push_back({i, j, 0.25 * v.real(), 0.25 * v.imag()});
      lower.push_back({i, j, 0.75 * v.real(), 0.75 * v.imag()});
    }
  }
  const LinAlgSparseCholeskyComplex factor(n, lower);
  ASSERT_TRUE(factor.Ok());
  std::vector<C> b(n * k), x(n * k);
  for (C& v : b) v = C(u(gen), u(gen));
  factor.SolveColumns(reinterpret_cast<const double*>(b.data()), reinterpret_cast<double*>(x.data()), k);
  for (int col = 0; col < k; ++col) {
    for (int i = 0; i < n; ++i) {
      C ax = 0.0;
      for (int j = 0; j < n; ++j) ax += a[i * n + j] * x[col * n + j];
      EXPECT_LT(std::abs(ax - b[col * n + i]), 1e-12) << "column " << col << " row " << i;
    }
  }

  const std::vector<LinAlgComplexTriplet> indefinite = {{0, 0, 1.0, 0.0}, {1, 0, 2.0, 0.5}, {1, 1, 1.0, 0.0}};
  EXPECT_FALSE(LinAlgSparseCholeskyComplex(2, indefinite).Ok());
}

// The real factor's block solve (every column through L at once) gives the
// columns of A^-1 B of a sparse symmetric positive definite matrix (a
// Laplacian plus the identity) to rounding, for one and for three columns;
// the row-held block solve gives the same columns.
TEST(LinAlgSparseCholesky, BlockSolveSatisfiesTheSystem) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int n = 30;
  std::vector<double> a(n * n, 0.0);
  std::vector<LinAlgTriplet> entries;
  auto add = [&](int i, int j, double v) {
    a[i * n + j] += v;
    entries.push_back({i, j, v});
  };
  for (int i = 0; i < n; ++i) add(i, i, 1.0);
  for (int i = 0; i < n; ++i) {
    for (int j : {(i + 1) % n, (i * 7 + 3) % n}) {
      if (j == i) continue;
      add(i, i, 1.0), add(j, j, 1.0), add(i, j, -1.0), add(j, i, -1.0);
    }
  }
  const LinAlgSparseCholesky factor(n, entries);
  ASSERT_TRUE(factor.Ok());
  for (int k : {1, 3}) {
    std::vector<double> b(n * k), x(n * k);
    for (double& v : b) v = u(gen);
    factor.SolveColumns(b.data(), x.data(), k);
    for (int c = 0; c < k; ++c) {
      for (int i = 0; i < n; ++i) {
        double ax = 0.0;
        for (int j = 0; j < n; ++j) ax += a[i * n + j] * x[c * n + j];
        EXPECT_NEAR(ax, b[c * n + i], 1e-12) << k << " columns, column " << c << " row " << i;
      }
    }
    std::vector<double> rows(n * k), xRows(n * k);
    for (int c = 0; c < k; ++c)
      for (int i = 0; i < n; ++i) rows[i * k + c] = b[c * n + i];
    factor.SolveRows(rows.data(), xRows.data(), k);
    for (int c = 0; c < k; ++c)
      for (int i = 0; i < n; ++i)
        EXPECT_NEAR(xRows[i * k + c], x[c * n + i], 1e-13) << k << " rows, column " << c << " row " << i;
  }
}

}  // namespace
