// The raw floating-point format of R2Image: a header of four ints (magic,
// width, height, components), then every component as a plane of float rows.
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"

using r2image_detail::ClampToByte;
using r2image_detail::CloseWritten;
using r2image_detail::CountResult;
using r2image_detail::File;
using r2image_detail::FitsLimit;
using r2image_detail::OpenFile;
using r2image_detail::TooShort;

namespace {

constexpr int kRawMagic = 54321;

// A row of width samples, or null after the message.
std::unique_ptr<float[]> RowBuffer(int width, const char* filename) {
  std::unique_ptr<float[]> row(new (std::nothrow) float[width]);
  if (row == nullptr) fprintf(stderr, "Unable to allocate buffer for raw image file %s", filename);
  return row;
}

}  // namespace

int R2Image::WriteRAW(const char* filename) const {
  if (!CheckWritable(filename)) return 0;
  File fp(OpenFile(filename, "wb", "Unable to open raw image file %s"));
  if (!fp) return 0;
  const int header[4] = {kRawMagic, width, height, ncomponents};
  if (fwrite(header, sizeof(int), 4, fp.get()) != 4) {
    fprintf(stderr, "Unable to write header to raw image file %s", filename);
    return 0;
  }
  const std::unique_ptr<float[]> row = RowBuffer(width, filename);
  if (row == nullptr) return 0;
  bool ok = true;
  for (int c = 0; ok && c < ncomponents; ++c) {
    for (int y = 0; ok && y < height; ++y) {
      const unsigned char* p = pixels + static_cast<size_t>(y) * rowsize + c;
      for (int x = 0; x < width; ++x) row[x] = p[static_cast<size_t>(x) * ncomponents] / 255.0f;
      ok = fwrite(row.get(), sizeof(float), width, fp.get()) == static_cast<size_t>(width);
    }
  }
  if (!CloseWritten(std::move(fp)) || !ok) {
    fprintf(stderr, "Unable to write data to raw image file %s", filename);
    return 0;
  }
  return CountResult(4LL * width * height * ncomponents);
}

int R2Image::ReadRAW(const char* filename) {
  Clear();
  File fp(OpenFile(filename, "rb", "Unable to open raw image file %s"));
  if (!fp) return 0;
  int header[4];
  if (fread(header, sizeof(int), 4, fp.get()) != 4) {
    fprintf(stderr, "Unable to read header to raw image file %s", filename);
    return 0;
  }
  const int w = header[1], h = header[2], nc = header[3];
  if (header[0] != kRawMagic || w <= 0 || h <= 0 || nc < 1 || nc > 4) {
    fprintf(stderr, "Invalid header in raw image file %s", filename);
    return 0;
  }
  if (!FitsLimit(w, h, nc, filename)) return 0;
  if (TooShort(fp.get(), 4LL * w * h * nc)) {
    fprintf(stderr, "Unable to read data from raw image file %s", filename);
    return 0;
  }
  const std::unique_ptr<float[]> row = RowBuffer(w, filename);
  if (row == nullptr) return 0;
  if (!Allocate(w, h, nc)) {
    fprintf(stderr, "Unable to allocate memory for RAW file");
    return 0;
  }
  for (int c = 0; c < nc; ++c) {
    for (int y = 0; y < h; ++y) {
      if (fread(row.get(), sizeof(float), w, fp.get()) != static_cast<size_t>(w)) {
        fprintf(stderr, "Unable to read data from raw image file %s", filename);
        Clear();
        return 0;
      }
      unsigned char* p = pixels + static_cast<size_t>(y) * rowsize + c;
      for (int x = 0; x < w; ++x) p[static_cast<size_t>(x) * nc] = ClampToByte(row[x] * 255.0);
    }
  }
  return CountResult(4LL * w * h * nc);
}
