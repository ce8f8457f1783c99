#include "image/R2ImageDetail.h"

#include <climits>
#include <cstring>

#include "image/R2Image.h"

namespace r2image_detail {

FILE* OpenFile(const char* filename, const char* mode, const char* format) {
  FILE* fp = fopen(filename, mode);
  if (fp == nullptr) fprintf(stderr, format, filename);
  return fp;
}

bool CheckWritableShape(int width, int height, int ncomponents, const char* filename) {
  if (width <= 0 || height <= 0) {
    fprintf(stderr, "Unable to write image file %s: the image has no pixels\n", filename);
    return false;
  }
  if (ncomponents < 1 || ncomponents > 4) {
    fprintf(stderr, "Unable to write image file %s: %d components per pixel\n", filename, ncomponents);
    return false;
  }
  return true;
}

void RowToRGB(const unsigned char* p, int width, int ncomponents, unsigned char* rgb) {
  if (ncomponents == 3) {
    memcpy(rgb, p, static_cast<size_t>(width) * 3);
    return;
  }
  if (ncomponents == 4) {
    // One 4-byte copy per pixel: its alpha byte lands on the next pixel's
    // red, which that pixel's copy overwrites; the last pixel copies 3.
    for (int x = 0; x + 1 < width; ++x) memcpy(rgb + 3 * x, p + 4 * x, 4);
    memcpy(rgb + 3 * (width - 1), p + 4 * (width - 1), 3);
    return;
  }
  // Offsets of green and blue within a pixel: grey repeats its one byte.
  const int g = ncomponents >= 3 ? 1 : 0;
  const int b = ncomponents >= 3 ? 2 : 0;
  for (int x = 0; x < width; ++x, p += ncomponents, rgb += 3) {
    rgb[0] = p[0];
    rgb[1] = p[g];
    rgb[2] = p[b];
  }
}

bool FitsLimit(long long width, long long height, long long ncomponents, const char* filename) {
  const long long limit = R2Image::ByteLimit();
  const long long rs = PaddedRow(width, ncomponents);
  if (rs <= INT_MAX && (height == 0 || rs <= limit / height)) return true;
  fprintf(stderr, "Image %lld x %lld x %lld in %s is larger than the limit of %lld bytes\n",
          width, height, ncomponents, filename ? filename : "memory", limit);
  return false;
}

long long RemainingBytes(FILE* fp) {
  const long pos = ftell(fp);
  if (pos < 0 || fseek(fp, 0, SEEK_END) != 0) return -1;
  const long end = ftell(fp);
  if (end < 0 || fseek(fp, pos, SEEK_SET) != 0) return -1;
  return end - pos;
}

bool TooShort(FILE* fp, long long needed) {
  const long long remaining = RemainingBytes(fp);
  return remaining >= 0 && remaining < needed;
}

}  // namespace r2image_detail
