#include "support/VectorLibrary.h"

#include <cstdint>

#include "hwy/targets.h"

namespace {

// The library's functions, by their linker names, in the order of Function's index.
enum Function : size_t { kGetChosenTarget, kSupportedTargets, kSetSupportedTargetsForTest };
constexpr const char* kNames[] = {"_ZN3hwy15GetChosenTargetEv", "_ZN3hwy16SupportedTargetsEv",
                                  "_ZN3hwy26SetSupportedTargetsForTestEl"};

warpix::DeferredLibrary g_Library(WARPIX_VECTOR_LIBRARY, kNames, sizeof(kNames) / sizeof(kNames[0]));

template <class F>
F Library(Function k) {
  return reinterpret_cast<F>(g_Library.Function(k));
}

}  // namespace

namespace warpix {

DeferredLibrary& VectorLibrary() { return g_Library; }

}  // namespace warpix

namespace hwy {

// Every dispatched kernel call asks for the chosen target.
ChosenTarget& GetChosenTarget() { return Library<ChosenTarget& (*)()>(kGetChosenTarget)(); }

int64_t SupportedTargets() { return Library<int64_t (*)()>(kSupportedTargets)(); }

void SetSupportedTargetsForTest(int64_t targets) {
  Library<void (*)(int64_t)>(kSetSupportedTargetsForTest)(targets);
}

}  // namespace hwy
