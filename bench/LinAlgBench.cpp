// Kernels the deformation methods lean on, measured through the linear-algebra
// classes exactly as the methods call them (the destroyed input is restored
// by a copy inside the timed loop, as a method restores or rebuilds it).
// Each kernel runs with the program's own OpenBLAS thread count and, for
// comparison, with two threads ("/openblas_threads:2").
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "linalg/LinAlgBackend.h"
#include "linalg/LinAlgMatrixComplex.h"
#include "linalg/LinAlgMatrixReal.h"
#include "linalg/LinAlgVectorReal.h"

namespace {

void FillRandom(LinAlgMatrixComplex& a, unsigned seed) {
  std::mt19937 gen{seed};
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int j = 0; j < a.Cols(); ++j)
    for (int i = 0; i < a.Rows(); ++i) a(i, j) = LinAlgComplex(dist(gen), dist(gen));
}

// A random, diagonally dominant (so well-conditioned) real matrix.
void FillRandomDominant(LinAlgMatrixReal& a, unsigned seed) {
  std::mt19937 gen{seed};
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int j = 0; j < a.Cols(); ++j)
    for (int i = 0; i < a.Rows(); ++i) a(i, j) = dist(gen) + (i == j ? a.Rows() : 0.0);
}

// Sets the backend's thread count for one benchmark and restores the default.
class ThreadScope {
 public:
  explicit ThreadScope(int threads) { LinAlgSetThreads(threads); }
  ~ThreadScope() { LinAlgSetThreads(LinAlgDefaultThreads()); }
};

void BenchZgesvd(benchmark::State& state, int m, int n, int threads) {
  ThreadScope scope(threads);
  LinAlgMatrixComplex source(m, n), a(m, n), U(m, m), Vt(n, n);
  LinAlgVectorComplex S(m < n ? m : n);
  FillRandom(source, 1);
  for (auto _ : state) {
    a = source;
    benchmark::DoNotOptimize(a.SVDDecomposeDestructive(U, S, Vt));
  }
}

void BenchZgels(benchmark::State& state, int m, int n, int threads) {
  ThreadScope scope(threads);
  LinAlgMatrixComplex source(m, n), a(m, n), rhs(m, 1);
  LinAlgVectorComplex b(m), x(n);
  FillRandom(source, 2);
  FillRandom(rhs, 3);
  for (auto _ : state) {
    a = source;
    for (int i = 0; i < m; ++i) b(i) = rhs(i, 0);
    benchmark::DoNotOptimize(a.LeastSquaresQRDestructive(b, x));
  }
}

void BenchDgesv(benchmark::State& state, int n, int threads) {
  ThreadScope scope(threads);
  LinAlgMatrixReal source(n, n, 0.0), a(n, n, 0.0);
  LinAlgVectorReal b(n, 1.0), x(n, 0.0);
  FillRandomDominant(source, 4);
  for (auto _ : state) {
    a = source;
    benchmark::DoNotOptimize(a.SolveLUDestructive(b, x));
  }
}

void BenchDgetri(benchmark::State& state, int n, int threads) {
  ThreadScope scope(threads);
  LinAlgMatrixReal source(n, n, 0.0), a(n, n, 0.0);
  FillRandomDominant(source, 5);
  for (auto _ : state) {
    a = source;
    benchmark::DoNotOptimize(a.Inverse());  // dgetrf_ then dgetri_
  }
}

void BenchZgemm(benchmark::State& state, int m, int k, int n, int threads) {
  ThreadScope scope(threads);
  LinAlgMatrixComplex a(m, k), b(k, n), c(m, n);
  FillRandom(a, 6);
  FillRandom(b, 7);
  for (auto _ : state) {
    a.Multiply(b, c);
    benchmark::ClobberMemory();
  }
}

bool RegisterLinAlgBenchmarks() {
  for (int threads : {LinAlgDefaultThreads(), 2}) {
    const std::string suffix =
        threads == LinAlgDefaultThreads() ? "" : "/openblas_threads:" + std::to_string(threads);
    const auto us = benchmark::kMicrosecond;
    benchmark::RegisterBenchmark(("LAPACK/zgesvd/8x6" + suffix).c_str(), BenchZgesvd, 8, 6, threads)->Unit(us);
    benchmark::RegisterBenchmark(("LAPACK/zgesvd/16x6" + suffix).c_str(), BenchZgesvd, 16, 6, threads)->Unit(us);
    benchmark::RegisterBenchmark(("LAPACK/zgels/8x3" + suffix).c_str(), BenchZgels, 8, 3, threads)->Unit(us);
    for (int n : {242, 1922}) {
      const std::string order = std::to_string(n);
      benchmark::RegisterBenchmark(("LAPACK/dgesv/" + order + suffix).c_str(), BenchDgesv, n, threads)->Unit(us);
      benchmark::RegisterBenchmark(("LAPACK/dgetri/" + order + suffix).c_str(), BenchDgetri, n, threads)->Unit(us);
    }
    benchmark::RegisterBenchmark(("BLAS/zgemm/8x8x3" + suffix).c_str(), BenchZgemm, 8, 8, 3, threads)->Unit(us);
  }
  return true;
}

[[maybe_unused]] const bool s_bRegistered = RegisterLinAlgBenchmarks();

}  // namespace
