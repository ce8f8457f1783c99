// BMP reading and writing of R2Image: uncompressed 24-bit files only.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"

using r2image_detail::CloseWritten;
using r2image_detail::File;
using r2image_detail::FitsLimit;
using r2image_detail::OpenFile;
using r2image_detail::PaddedRow;
using r2image_detail::TooShort;

namespace {

// Little-endian fields of the header.
uint32_t U32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t S32(const unsigned char* p) {
  const uint32_t u = U32(p);
  int32_t s;
  memcpy(&s, &u, sizeof(s));
  return s;
}

void PutU32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void PutU16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

int R2Image::WriteBMP(const char* filename) const {
  if (!CheckWritable(filename)) return 0;
  const long long bmpRow = PaddedRow(width, 3);
  const long long dataBytes = bmpRow * height;
  if (dataBytes + 54 > UINT32_MAX) {
    fprintf(stderr, "Image too large for a BMP file: %s\n", filename);
    return 0;
  }
  File fp(OpenFile(filename, "wb"));
  if (!fp) return 0;
  unsigned char header[54] = {'B', 'M'};
  PutU32(header + 2, static_cast<uint32_t>(dataBytes + 54));
  PutU32(header + 6, 0);
  PutU32(header + 10, 54);
  PutU32(header + 14, 40);
  PutU32(header + 18, static_cast<uint32_t>(width));
  PutU32(header + 22, static_cast<uint32_t>(height));
  PutU16(header + 26, 1);
  PutU16(header + 28, 24);
  PutU32(header + 30, 0);
  PutU32(header + 34, static_cast<uint32_t>(dataBytes));
  PutU32(header + 38, 2925);
  PutU32(header + 42, 2925);
  PutU32(header + 46, 0);
  PutU32(header + 50, 0);
  bool ok = fwrite(header, 1, 54, fp.get()) == 54;
  // Rows bottom-up as in the image; blue, green, red; the padding stays 0.
  std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[bmpRow]());
  ok = ok && row != nullptr;
  for (int y = 0; ok && y < height; ++y) {
    RowRGB(y, row.get());
    for (int x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    ok = fwrite(row.get(), 1, bmpRow, fp.get()) == static_cast<size_t>(bmpRow);
  }
  if (!CloseWritten(std::move(fp)) || !ok) {
    fprintf(stderr, "Error while writing BMP file %s\n", filename);
    return 0;
  }
  return 1;
}

int R2Image::ReadBMP(const char* filename) {
  Clear();
  File fp(OpenFile(filename, "rb"));
  if (!fp) return 0;
  unsigned char header[54];
  if (fread(header, 1, 54, fp.get()) != 54) {
    fprintf(stderr, "Error while reading BMP file %s", filename);
    return 0;
  }
  const uint32_t offset = U32(header + 10);
  const int32_t w = S32(header + 18);
  const int32_t h = S32(header + 22);
  const unsigned bits = header[28] | header[29] << 8;
  const uint32_t compression = U32(header + 30);
  const uint32_t imageSize = U32(header + 34);
  if (header[0] != 'B' || header[1] != 'M') {
    fprintf(stderr, "Not a BMP file: %s\n", filename);
    return 0;
  }
  // Only what the colour swap below can handle: uncompressed 24-bit pixels.
  if (bits != 24 || compression != 0) {
    fprintf(stderr, "Unsupported BMP file %s: %u bits per pixel, compression %u (only uncompressed 24-bit)\n",
            filename, bits, compression);
    return 0;
  }
  // A negative height marks top-down rows; INT_MIN has no positive counterpart.
  if (w <= 0 || h == 0 || h == INT32_MIN) {
    fprintf(stderr, "Invalid size %d x %d in BMP file %s\n", w, h, filename);
    return 0;
  }
  const bool topDown = h < 0;
  const int rows = topDown ? -h : h;
  if (!FitsLimit(w, rows, 3, filename)) return 0;
  const long long needed = PaddedRow(w, 3) * rows;
  // An image-size field of 0 is allowed for uncompressed files; a nonzero one
  // must cover every row.
  if (imageSize != 0 && imageSize < needed) {
    fprintf(stderr, "Image size %u too small for %d x %d pixels in BMP file %s\n", imageSize, w,
            rows, filename);
    return 0;
  }
  if (offset < 54 || fseek(fp.get(), 0, SEEK_SET) != 0 ||
      TooShort(fp.get(), static_cast<long long>(offset) + needed) ||
      fseek(fp.get(), static_cast<long>(offset), SEEK_SET) != 0) {
    fprintf(stderr, "Error while reading BMP file %s", filename);
    return 0;
  }
  if (!Allocate(w, rows, 3)) return 0;
  if (fread(pixels, 1, needed, fp.get()) != static_cast<size_t>(needed)) {
    fprintf(stderr, "Error while reading BMP file %s", filename);
    Clear();
    return 0;
  }
  for (int y = 0; y < height; ++y) {
    unsigned char* p = pixels + static_cast<size_t>(y) * rowsize;
    for (int x = 0; x < width; ++x, p += 3) std::swap(p[0], p[2]);
    memset(p, 0, rowsize - 3 * width);  // padding carries no pixel
  }
  if (topDown) {
    for (int y = 0; y < height / 2; ++y) {
      std::swap_ranges(pixels + static_cast<size_t>(y) * rowsize,
                       pixels + static_cast<size_t>(y + 1) * rowsize,
                       pixels + static_cast<size_t>(height - 1 - y) * rowsize);
    }
  }
  return 1;
}
