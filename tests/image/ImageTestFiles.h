#pragma once

// Builders for image files made byte by byte in the tests, and captured
// standard error around a call.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "TestCommon.h"
#include "image/R2Image.h"

namespace image_test {

using warpix_test::TempFile;

/// A byte string built field by field: integers little-endian, floats in
/// machine order.
class Bytes {
 public:
  Bytes& str(const std::string& s) { m_Data += s; return *this; }
  Bytes& u8(unsigned v) { m_Data += static_cast<char>(v & 0xff); return *this; }
  Bytes& u16(unsigned v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
  Bytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  Bytes& f32(float v) { m_Data.append(reinterpret_cast<const char*>(&v), 4); return *this; }
  Bytes& f64(double v) { m_Data.append(reinterpret_cast<const char*>(&v), 8); return *this; }
  Bytes& zeros(size_t n) { m_Data.append(n, '\0'); return *this; }
  const std::string& data() const { return m_Data; }
  operator const std::string&() const { return m_Data; }

 private:
  std::string m_Data;
};

/// A 54-byte BMP header with the given fields.
inline Bytes BmpHeader(int32_t width, int32_t height, uint32_t imageSize, unsigned bits = 24, uint32_t compression = 0, uint32_t offset = 54) {
  return Bytes().str("BM").u32(imageSize + 54).u32(0).u32(offset).u32(40).i32(width).i32(height).u16(1).u16(bits)
      .u32(compression).u32(imageSize).u32(2925).u32(2925).u32(0).u32(0);
}

/// Image of seeded random bytes; row padding stays 0.
inline R2Image RandomImage(int width, int height, int ncomponents, unsigned seed = 1) {
  R2Image image(width, height, ncomponents);
  std::mt19937 gen{seed};
  for (int i = 0; i < width * height * ncomponents; ++i) image.Pixels()[i / (width * ncomponents) * image.RowSize() + i % (width * ncomponents)] = gen() & 0xff;
  return image;
}

/// Byte k of pixel (x, y).
inline int At(const R2Image& image, int x, int y, int k) { return image.Pixels()[y * image.RowSize() + x * image.NComponents() + k]; }

/// What `call` writes to standard error.
template <typename F>
std::string StderrOf(F call) { ::testing::internal::CaptureStderr(); call(); return ::testing::internal::GetCapturedStderr(); }

/// Same size and, pixel by pixel, the same colour (grey as (g, g, g), alpha
/// ignored): what a BMP, PPM or JPEG file keeps of an image.
inline bool SameColours(const R2Image& a, const R2Image& b) {
  bool same = a.Width() == b.Width() && a.Height() == b.Height();
  for (int i = 0; same && i < a.Width() * a.Height(); ++i) same = a.PixelRGB(i % a.Width(), i / a.Width()) == b.PixelRGB(i % a.Width(), i / a.Width());
  return same;
}

/// Every byte of the image, row padding included.
inline std::vector<int> AllBytes(const R2Image& image) { return std::vector<int>(image.Pixels(), image.Pixels() + image.RowSize() * image.Height()); }

/// Reads bytes stored under the extension into image: the result and the
/// standard error text.
inline std::pair<int, std::string> ReadBytes(const std::string& extension, const std::string& bytes, R2Image* image) {
  TempFile file("bytes" + extension);
  file.write(bytes);
  int result = -1;
  const std::string err = StderrOf([&] { result = image->Read(file.c_str()); });
  return {result, err};
}

}  // namespace image_test
