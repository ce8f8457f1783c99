// Grid reading of R2Image: a binary grid of doubles (resolution, a 3 x 3
// transformation that is skipped, the values), normalised to grey levels.
#include <cstdio>
#include <memory>
#include <new>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"
#include "image/RNError.h"

using r2image_detail::CountResult;
using r2image_detail::File;
using r2image_detail::FitsLimit;
using r2image_detail::TooShort;

int R2Image::ReadGRD(const char* filename) {
  Clear();
  File fp(fopen(filename, "rb"));
  if (!fp) {
    RNFail("Unable to open file %s", filename);
    return 0;
  }
  int resolution[2];
  if (fread(resolution, sizeof(int), 2, fp.get()) != 2) {
    RNFail("Unable to read resolution from grid file");
    return 0;
  }
  const int w = resolution[0], h = resolution[1];
  double matrix[9];
  if (fread(matrix, sizeof(double), 9, fp.get()) != 9) {
    RNFail("Unable to read transformation matrix from file");
    return 0;
  }
  if (w <= 0 || h <= 0) {
    RNFail("Invalid grid resolution %d x %d", w, h);
    return 0;
  }
  if (!FitsLimit(w, h, 3, filename) || !FitsLimit(w, h, 8, filename)) return 0;
  const long long count = static_cast<long long>(w) * h;
  std::unique_ptr<double[]> values(TooShort(fp.get(), 8 * count) ? nullptr : new (std::nothrow) double[count]);
  if (values == nullptr || fread(values.get(), sizeof(double), count, fp.get()) != static_cast<size_t>(count)) {
    RNFail("Unable to read %d grid values from file", static_cast<int>(count));
    return 0;
  }
  if (!Allocate(w, h, 3)) return 0;
  r2image_detail::FillGrey(pixels, rowsize, w, h, values.get(), false);
  return CountResult(static_cast<long long>(rowsize) * height);
}
