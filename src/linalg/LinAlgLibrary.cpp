#include "linalg/LinAlgLibrary.h"

#include <cblas.h>

#include "linalg/LinAlgLapackApi.h"

namespace {

// The library's functions, in the order of Function's index.
enum Function : size_t {
  kSetNumThreads,
  kDgemm,
  kDgemv,
  kZgemm,
  kZgemv,
  kDgesv,
  kDgetrf,
  kDgetri,
  kDgetrs,
  kDgels,
  kDgesvd,
  kDsyev,
  kZgesv,
  kZgetrf,
  kZgetri,
  kZgels,
  kZgesvd,
  kCount
};
constexpr const char* kNames[] = {
    "openblas_set_num_threads", "cblas_dgemm", "cblas_dgemv", "cblas_zgemm", "cblas_zgemv",
    "dgesv_",  "dgetrf_", "dgetri_", "dgetrs_", "dgels_", "dgesvd_", "dsyev_",
    "zgesv_",  "zgetrf_", "zgetri_", "zgels_",  "zgesvd_"};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == kCount, "a name for every function");

warpix::DeferredLibrary g_Library(WARPIX_BLAS_LIBRARY, kNames, kCount);

// Function k as a pointer of the forwarder's own type.
template <class F>
F Library(Function k) {
  return reinterpret_cast<F>(g_Library.Function(k));
}

}  // namespace

namespace warpix {

DeferredLibrary& LinearAlgebraLibrary() { return g_Library; }

}  // namespace warpix

// The forwarders: the declarations of <cblas.h> and LinAlgLapackApi.h, each
// passing its arguments to the library's function of the same name.
extern "C" {

void openblas_set_num_threads(int threads) {
  Library<decltype(&openblas_set_num_threads)>(kSetNumThreads)(threads);
}

void cblas_dgemm(const enum CBLAS_ORDER order, const enum CBLAS_TRANSPOSE transA,
                 const enum CBLAS_TRANSPOSE transB, const blasint m, const blasint n,
                 const blasint k, const double alpha, const double* a, const blasint lda,
                 const double* b, const blasint ldb, const double beta, double* c,
                 const blasint ldc) {
  Library<decltype(&cblas_dgemm)>(kDgemm)(order, transA, transB, m, n, k, alpha, a, lda, b, ldb,
                                          beta, c, ldc);
}

void cblas_dgemv(const enum CBLAS_ORDER order, const enum CBLAS_TRANSPOSE trans, const blasint m,
                 const blasint n, const double alpha, const double* a, const blasint lda,
                 const double* x, const blasint incx, const double beta, double* y,
                 const blasint incy) {
  Library<decltype(&cblas_dgemv)>(kDgemv)(order, trans, m, n, alpha, a, lda, x, incx, beta, y,
                                          incy);
}

void cblas_zgemm(const enum CBLAS_ORDER order, const enum CBLAS_TRANSPOSE transA,
                 const enum CBLAS_TRANSPOSE transB, const blasint m, const blasint n,
                 const blasint k, const void* alpha, const void* a, const blasint lda,
                 const void* b, const blasint ldb, const void* beta, void* c, const blasint ldc) {
  Library<decltype(&cblas_zgemm)>(kZgemm)(order, transA, transB, m, n, k, alpha, a, lda, b, ldb,
                                          beta, c, ldc);
}

void cblas_zgemv(const enum CBLAS_ORDER order, const enum CBLAS_TRANSPOSE trans, const blasint m,
                 const blasint n, const void* alpha, const void* a, const blasint lda,
                 const void* x, const blasint incx, const void* beta, void* y,
                 const blasint incy) {
  Library<decltype(&cblas_zgemv)>(kZgemv)(order, trans, m, n, alpha, a, lda, x, incx, beta, y,
                                          incy);
}

void dgesv_(const int* n, const int* nrhs, double* a, const int* lda, int* ipiv, double* b,
            const int* ldb, int* info) {
  Library<decltype(&dgesv_)>(kDgesv)(n, nrhs, a, lda, ipiv, b, ldb, info);
}

void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info) {
  Library<decltype(&dgetrf_)>(kDgetrf)(m, n, a, lda, ipiv, info);
}

void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work,
             const int* lwork, int* info) {
  Library<decltype(&dgetri_)>(kDgetri)(n, a, lda, ipiv, work, lwork, info);
}

void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, size_t transLen) {
  Library<decltype(&dgetrs_)>(kDgetrs)(trans, n, nrhs, a, lda, ipiv, b, ldb, info, transLen);
}

void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a,
            const int* lda, double* b, const int* ldb, double* work, const int* lwork, int* info,
            size_t transLen) {
  Library<decltype(&dgels_)>(kDgels)(trans, m, n, nrhs, a, lda, b, ldb, work, lwork, info,
                                     transLen);
}

void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a,
             const int* lda, double* s, double* u, const int* ldu, double* vt, const int* ldvt,
             double* work, const int* lwork, int* info, size_t jobuLen, size_t jobvtLen) {
  Library<decltype(&dgesvd_)>(kDgesvd)(jobu, jobvt, m, n, a, lda, s, u, ldu, vt, ldvt, work,
                                       lwork, info, jobuLen, jobvtLen);
}

void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w,
            double* work, const int* lwork, int* info, size_t jobzLen, size_t uploLen) {
  Library<decltype(&dsyev_)>(kDsyev)(jobz, uplo, n, a, lda, w, work, lwork, info, jobzLen,
                                     uploLen);
}

void zgesv_(const int* n, const int* nrhs, LinAlgComplex* a, const int* lda, int* ipiv,
            LinAlgComplex* b, const int* ldb, int* info) {
  Library<decltype(&zgesv_)>(kZgesv)(n, nrhs, a, lda, ipiv, b, ldb, info);
}

void zgetrf_(const int* m, const int* n, LinAlgComplex* a, const int* lda, int* ipiv, int* info) {
  Library<decltype(&zgetrf_)>(kZgetrf)(m, n, a, lda, ipiv, info);
}

void zgetri_(const int* n, LinAlgComplex* a, const int* lda, const int* ipiv, LinAlgComplex* work,
             const int* lwork, int* info) {
  Library<decltype(&zgetri_)>(kZgetri)(n, a, lda, ipiv, work, lwork, info);
}

void zgels_(const char* trans, const int* m, const int* n, const int* nrhs, LinAlgComplex* a,
            const int* lda, LinAlgComplex* b, const int* ldb, LinAlgComplex* work,
            const int* lwork, int* info, size_t transLen) {
  Library<decltype(&zgels_)>(kZgels)(trans, m, n, nrhs, a, lda, b, ldb, work, lwork, info,
                                     transLen);
}

void zgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, LinAlgComplex* a,
             const int* lda, double* s, LinAlgComplex* u, const int* ldu, LinAlgComplex* vt,
             const int* ldvt, LinAlgComplex* work, const int* lwork, double* rwork, int* info,
             size_t jobuLen, size_t jobvtLen) {
  Library<decltype(&zgesvd_)>(kZgesvd)(jobu, jobvt, m, n, a, lda, s, u, ldu, vt, ldvt, work,
                                       lwork, rwork, info, jobuLen, jobvtLen);
}

}  // extern "C"
