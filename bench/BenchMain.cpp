// The benchmark's main: the vector target the kernels run on is the best
// this processor has, or the one named by WARPIX_SIMD_TARGET (for instance
// SSSE3, AVX2 or AVX3, as Highway names them), so that the same kernels can
// be timed at several widths. The target is recorded in the output's context.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hwy/targets.h"

int main(int argc, char** argv) {
  std::string chosen;
  const char* wanted = std::getenv("WARPIX_SIMD_TARGET");
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    if (wanted != nullptr && std::strcmp(wanted, hwy::TargetName(target)) == 0) {
      hwy::SetSupportedTargetsForTest(target);
      chosen = hwy::TargetName(target);
    }
  }
  if (wanted != nullptr && chosen.empty()) {
    std::fprintf(stderr, "WARPIX_SIMD_TARGET=%s is not a target this processor runs\n", wanted);
    return 2;
  }
  if (chosen.empty()) chosen = hwy::TargetName(hwy::SupportedAndGeneratedTargets().front());
  benchmark::AddCustomContext("simd_target", chosen);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
