#pragma once

// The vector kernels choose their instruction set at run time through
// Highway's shared library, which the program opens itself (see
// DeferredLibrary: its load calibrates a timer for Highway's benchmarking
// tools, a few milliseconds): this part defines hwy::GetChosenTarget,
// hwy::SupportedTargets and hwy::SetSupportedTargetsForTest, the library
// functions the kernels and tests call, as forwarders to the library's own.
#include "support/DeferredLibrary.h"

namespace warpix {

/// Highway's library, opened at the first kernel call or by StartLoading.
DeferredLibrary& VectorLibrary();

}  // namespace warpix
