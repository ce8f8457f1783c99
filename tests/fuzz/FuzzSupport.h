#pragma once

// What the fuzz targets share: a scratch file per process, a standard output
// that formats everything and keeps nothing, the small pictures the
// deformators are built on, the type keys of every method, one frame's
// deformation, and the rule that tells a documented fatal stop from a fault.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "image/RNRgb.h"
#include "support/WarpixAssert.h"

namespace warpix_fuzz {

/// A file name under TMPDIR (else /tmp) unique to this process.
inline std::string ScratchPath(const char* suffix) {
  const char* dir = getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/warpix_fuzz_" + std::to_string(getpid()) + suffix;
}

/// Writes size bytes to path; false when the file cannot be written.
inline bool WriteFile(const std::string& path, const char* data, size_t size) {
  FILE* fp = fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  const bool written = fwrite(data, 1, size, fp) == size;
  return fclose(fp) == 0 && written;
}

/// While alive, std::cout formats as usual but its text goes nowhere: the
/// console lines of thousands of inputs per second would only slow the run.
/// WARPIX_FUZZ_VERBOSE=1 in the environment keeps them (to read what a
/// regression input does).
class QuietOutput {
 public:
  QuietOutput() {
    if (getenv("WARPIX_FUZZ_VERBOSE") == nullptr) m_Old = std::cout.rdbuf(&m_Sink);
  }
  ~QuietOutput() {
    if (m_Old != nullptr) std::cout.rdbuf(m_Old);
  }
  QuietOutput(const QuietOutput&) = delete;
  QuietOutput& operator=(const QuietOutput&) = delete;

 private:
  struct Sink : std::streambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Sink m_Sink;
  std::streambuf* m_Old = nullptr;
};

/// A 16 x 12 picture of 3 (RGB) or 4 (RGBA) components: a colour ramp with a
/// black and a white square (the transparency tests' colours) and, with
/// alpha, a transparent column.
inline R2Image MakePicture(int components) {
  R2Image image(16, 12, components);
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      RNRgb colour(x / 15.0, y / 11.0, 0.5);
      if (x < 4 && y < 4) colour = RNRgb(0, 0, 0);
      if (x >= 12 && y >= 8) colour = RNRgb(1, 1, 1);
      image.SetPixelRGB(x, y, colour);
      if (components == 4 && x == 7) {
        image.Pixels()[static_cast<size_t>(y) * image.RowSize() + x * 4 + 3] = 0;
      }
    }
  }
  return image;
}

/// The type keys of every method class, operator and switch, one combination each.
inline const std::vector<std::vector<const char*>>& EveryMethod() {
  static const std::vector<std::vector<const char*>> methods = {
      {"Type", "NullDeformator"},
      {"Type", "DeformMeanValueCoords"},
      {"Type", "DeformGreenCoords"},
      {"Type", "DeformThinPlateSplineWarp"},
      {"Type", "DeformThinPlateSplineWarp", "Smoothing", "0.01"},
      {"Type", "DeformMLS", "MLSType", "MLS_FIT_SIMILARITY"},
      {"Type", "DeformMLS", "MLSType", "MLS_RIGID"},
      {"Type", "DeformMLS", "MLSType", "MLS_AFFINE"},
      {"Type", "DeformQuasiConf", "InterOp", "None"},
      {"Type", "DeformQuasiConf", "InterOp", "AffineQuad"},
      {"Type", "DeformQuasiConf", "InterOp", "MeanValCoords"},
      {"Type", "DeformQuasiConf", "InterOp", "ThinPlateSplines"},
      {"Type", "DeformQuasiConf", "InterOp", "MovingLeastSquares"},
      {"Type", "DeformQuasiConf", "InterOp", "FixedLinesTPS"},
      {"Type", "DeformQuasiConf", "InterOp", "FixedLinesTPSNoQuasiConf"},
      {"Type", "DeformAsRigidAsPossible", "Rescale", "false", "QuasiConf", "false"},
      {"Type", "DeformAsRigidAsPossible", "Rescale", "true", "QuasiConf", "false"},
      {"Type", "DeformAsRigidAsPossible", "Rescale", "true", "QuasiConf", "false", "ScaleRule", "Rest"},
      {"Type", "DeformAsRigidAsPossible", "Rescale", "false", "QuasiConf", "true"},
      {"Type", "DeformAsRigidAsPossible", "Rescale", "true", "QuasiConf", "true"}};
  return methods;
}

/// One frame's deformation: brought up to date and the mesh mapped.
inline void DeformFrame(Warpixator& deformator) {
  deformator.m_bNeedsUpdate = true;
  deformator.Deform();
  deformator.MapMeshVertices();
}

/// True when the unwound assertion is one of the documented configuration
/// stops of the named functions; anything else (an internal invariant, or a
/// stop elsewhere) is a fault, and the caller aborts.
inline bool IsDocumentedStop(const warpix::AssertUnwind& stop,
                             std::initializer_list<const char*> functions) {
  if (!stop.configuration) return false;
  for (const char* function : functions) {
    if (std::strcmp(stop.function, function) == 0) return true;
  }
  return false;
}

/// The fault of an unwound assertion that no documented stop explains.
[[noreturn]] inline void UndocumentedStop(const warpix::AssertUnwind& stop) {
  fprintf(stderr, "Undocumented fatal stop: (%s) in %s, line %d%s\n", stop.condition,
          stop.function, stop.line, stop.configuration ? "" : " (an internal invariant)");
  abort();
}

}  // namespace warpix_fuzz
