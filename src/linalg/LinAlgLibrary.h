#pragma once

// BLAS and LAPACK come from OpenBLAS's shared library, which the program
// opens at its first linear-algebra call (see DeferredLibrary): loading it
// relocates thousands of symbols and starts its threads, about two
// milliseconds here, which a run whose methods need no dense algebra would
// otherwise spend before main. This part defines the CBLAS and LAPACK
// functions the matrix classes call, and openblas_set_num_threads, as
// forwarders to the library's own.
#include "support/DeferredLibrary.h"

namespace warpix {

/// OpenBLAS's library, opened at the first linear-algebra call.
DeferredLibrary& LinearAlgebraLibrary();

}  // namespace warpix
