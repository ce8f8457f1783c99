#pragma once

// Builders for image files made byte by byte in the tests, and captured
// standard error around a call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "image/R2Image.h"

namespace image_test {

/// A little-endian byte string built field by field.
class Bytes {
 public:
  Bytes& str(const std::string& s) { m_Data += s; return *this; }
  Bytes& u8(unsigned v) { m_Data += static_cast<char>(v & 0xff); return *this; }
  Bytes& u16(unsigned v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
  Bytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  Bytes& f32(float v) { return raw(&v, 4); }
  Bytes& f64(double v) { return raw(&v, 8); }
  Bytes& zeros(size_t n) { m_Data.append(n, '\0'); return *this; }
  const std::string& data() const { return m_Data; }
  operator const std::string&() const { return m_Data; }

 private:
  Bytes& raw(const void* p, size_t n) {
    m_Data.append(static_cast<const char*>(p), n);
    return *this;
  }
  std::string m_Data;
};

/// A 54-byte BMP header with the given fields.
inline Bytes BmpHeader(int32_t width, int32_t height, uint32_t imageSize, unsigned bits = 24,
                       uint32_t compression = 0, uint32_t offset = 54) {
  Bytes b;
  b.str("BM").u32(imageSize + 54).u32(0).u32(offset).u32(40).i32(width).i32(height);
  b.u16(1).u16(bits).u32(compression).u32(imageSize).u32(2925).u32(2925).u32(0).u32(0);
  return b;
}

/// Image of seeded random bytes; row padding stays 0.
inline R2Image RandomImage(int width, int height, int ncomponents, unsigned seed = 1) {
  R2Image image(width, height, ncomponents);
  std::mt19937 gen{seed};
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < width * ncomponents; ++i) {
      image.Pixels()[y * image.RowSize() + i] = static_cast<unsigned char>(gen() & 0xff);
    }
  }
  return image;
}

/// Byte k of pixel (x, y).
inline int At(const R2Image& image, int x, int y, int k) {
  return image.Pixels()[y * image.RowSize() + x * image.NComponents() + k];
}

/// What `call` writes to standard error.
template <typename F>
std::string StderrOf(F call) {
  ::testing::internal::CaptureStderr();
  call();
  return ::testing::internal::GetCapturedStderr();
}

}  // namespace image_test
