#include "image/R2ImageDetail.h"

#include <climits>

#include "image/R2Image.h"

namespace r2image_detail {

FILE* OpenFile(const char* filename, const char* mode, const char* format) {
  FILE* fp = fopen(filename, mode);
  if (fp == nullptr) fprintf(stderr, format, filename);
  return fp;
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
