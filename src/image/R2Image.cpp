#include "image/R2Image.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/R2ImageDetail.h"
#include "image/RNError.h"

using r2image_detail::ClampToByte;
using r2image_detail::FitsLimit;
using r2image_detail::PaddedRow;

namespace {

long long s_ByteLimit = 1LL << 30;

/// Whether the extension text (from the last '.') names the format.
bool HasExtension(const char* ext, const char* name) {
  return strncmp(ext, name, strlen(name)) == 0;
}

}  // namespace

// === Construction

R2Image::R2Image() : width(0), height(0), ncomponents(0), rowsize(0), pixels(nullptr) {}

R2Image::R2Image(int w, int h, int nc) : R2Image() { Allocate(w, h, nc); }

R2Image::R2Image(int w, int h, int nc, const unsigned char* data) : R2Image() {
  if (Allocate(w, h, nc) && pixels != nullptr && data != nullptr) {
    memcpy(pixels, data, static_cast<size_t>(rowsize) * height);
  }
}

R2Image::R2Image(const char* filename) : R2Image() { Read(filename); }

R2Image::R2Image(const R2Image& image) : R2Image() { *this = image; }

R2Image& R2Image::operator=(const R2Image& image) {
  if (this == &image) return *this;
  Clear();
  if (image.pixels != nullptr) {
    const size_t bytes = static_cast<size_t>(image.rowsize) * image.height;
    pixels = new (std::nothrow) unsigned char[bytes];
    if (pixels == nullptr) {
      fprintf(stderr, "Unable to allocate memory for image copy\n");
      return *this;
    }
    memcpy(pixels, image.pixels, bytes);
  }
  width = image.width;
  height = image.height;
  ncomponents = image.ncomponents;
  rowsize = image.rowsize;
  return *this;
}

R2Image::~R2Image() { delete[] pixels; }

void R2Image::Clear() {
  delete[] pixels;
  pixels = nullptr;
  width = height = ncomponents = rowsize = 0;
}

bool R2Image::Allocate(int w, int h, int nc, bool zero) {
  Clear();
  if (w < 0 || h < 0 || nc < 0) {
    fprintf(stderr, "Invalid image size %d x %d x %d\n", w, h, nc);
    return false;
  }
  if (!FitsLimit(w, h, nc, nullptr)) return false;
  const long long rs = PaddedRow(w, nc);
  const long long bytes = rs * h;
  if (bytes > 0) {
    pixels = zero ? new (std::nothrow) unsigned char[bytes]()
                  : new (std::nothrow) unsigned char[bytes];
    if (pixels == nullptr) {
      fprintf(stderr, "Unable to allocate %lld bytes for image\n", bytes);
      return false;
    }
  }
  width = w;
  height = h;
  ncomponents = nc;
  rowsize = static_cast<int>(rs);
  return true;
}

long long R2Image::ByteLimit() { return s_ByteLimit; }

void R2Image::SetByteLimit(long long bytes) {
  // Every buffer size must stay an int for the callers' arithmetic.
  s_ByteLimit = bytes < 0 ? 0 : (bytes > INT_MAX ? INT_MAX : bytes);
}

// === Pixels

RNRgb R2Image::PixelRGB(int x, int y) const {
  if (pixels == nullptr || x < 0 || x >= width || y < 0 || y >= height) return RNnull_rgb;
  const unsigned char* p = pixels + static_cast<size_t>(y) * rowsize + static_cast<size_t>(x) * ncomponents;
  switch (ncomponents) {
    case 1:
    case 2: {
      const double g = p[0] / 255.0;
      return RNRgb(g, g, g);
    }
    case 3:
    case 4: return RNRgb(p[0] / 255.0, p[1] / 255.0, p[2] / 255.0);
    default: return RNnull_rgb;
  }
}

void R2Image::SetPixelRGB(int x, int y, const RNRgb& rgb) {
  if (pixels == nullptr || x < 0 || x >= width || y < 0 || y >= height) return;
  unsigned char* p = pixels + static_cast<size_t>(y) * rowsize + static_cast<size_t>(x) * ncomponents;
  // Bytes from components outside [0, 1] (and NaN) are clamped, so the
  // conversion is always in range. The grey weights are summed before the
  // scaling by 255: white gives 254, as 0.3 + 0.59 + 0.11 is just below 1.
  switch (ncomponents) {
    case 4: p[3] = 255; [[fallthrough]];
    case 3:
      p[0] = ClampToByte(255.0 * rgb.R());
      p[1] = ClampToByte(255.0 * rgb.G());
      p[2] = ClampToByte(255.0 * rgb.B());
      break;
    case 2: p[1] = 255; [[fallthrough]];
    case 1: p[0] = ClampToByte(255.0 * (0.3 * rgb.R() + 0.59 * rgb.G() + 0.11 * rgb.B())); break;
    default: break;
  }
}

bool R2Image::SameLayout(const R2Image& image, const char* verb) const {
  if (image.rowsize == rowsize && image.height == height && pixels != nullptr) return true;
  fprintf(stderr, "Cannot %s images of different sizes\n", verb);
  return false;
}

void R2Image::Add(const R2Image& image) {
  if (!SameLayout(image, "add")) return;
  const size_t n = static_cast<size_t>(rowsize) * height;
  for (size_t i = 0; i < n; ++i) {
    const int sum = pixels[i] + image.pixels[i];
    pixels[i] = static_cast<unsigned char>(sum > 255 ? 255 : sum);
  }
}

void R2Image::Subtract(const R2Image& image) {
  if (!SameLayout(image, "subtract")) return;
  const size_t n = static_cast<size_t>(rowsize) * height;
  for (size_t i = 0; i < n; ++i) {
    const int d = pixels[i] - image.pixels[i] + 128;
    pixels[i] = static_cast<unsigned char>(d < 0 ? 0 : (d > 255 ? 255 : d));
  }
}

// === Choosing the format

int R2Image::Read(const char* filename) {
  Clear();
  const char* ext = filename ? strrchr(filename, '.') : nullptr;
  if (ext == nullptr) {
    fprintf(stderr, "Input file has no extension (e.g., .jpg).\n");
    return 0;
  }
  int result = 0;
  if (HasExtension(ext, ".bmp")) result = ReadBMP(filename);
  else if (HasExtension(ext, ".ppm")) result = ReadPPM(filename);
  else if (HasExtension(ext, ".pfm")) result = ReadPFM(filename);
  else if (HasExtension(ext, ".jpg") || HasExtension(ext, ".jpeg")) result = ReadJPEG(filename);
  else if (HasExtension(ext, ".png")) result = ReadPNG(filename);
  else if (HasExtension(ext, ".tif") || HasExtension(ext, ".tiff")) result = ReadTIFF(filename);
  else if (HasExtension(ext, ".raw")) result = ReadRAW(filename);
  else if (HasExtension(ext, ".grd")) result = ReadGRD(filename);
  else fprintf(stderr, "Unrecognized image file extension");
  // A failed read leaves no half-filled image behind.
  if (result == 0) Clear();
  return result;
}

int R2Image::Write(const char* filename) const {
  const char* ext = filename ? strrchr(filename, '.') : nullptr;
  if (ext == nullptr) {
    fprintf(stderr, "Input file has no extension (e.g., .jpg).\n");
    return 0;
  }
  if (HasExtension(ext, ".bmp")) return WriteBMP(filename);
  if (HasExtension(ext, ".ppm")) return WritePPM(filename, 1);
  if (HasExtension(ext, ".jpg") || HasExtension(ext, ".jpeg")) return WriteJPEG(filename);
  if (HasExtension(ext, ".png")) return WritePNG(filename);
  if (HasExtension(ext, ".tif") || HasExtension(ext, ".tiff")) return WriteTIFF(filename);
  if (HasExtension(ext, ".raw")) return WriteRAW(filename);
  fprintf(stderr, "Unrecognized image file extension");
  return 0;
}

int R2Image::ReadTIFF(const char*) {
  RNFail("TIFF not supported");
  return 0;
}

int R2Image::WriteTIFF(const char*) const {
  RNFail("TIFF not supported");
  return 0;
}

// The writers of 3-channel formats (BMP, PPM, JPEG) take any image of 1 to 4
// components through RowRGB; the raw writer keeps every component.
bool R2Image::CheckWritable(const char* filename) const {
  if (pixels == nullptr) return r2image_detail::CheckWritableShape(0, 0, ncomponents, filename);
  return r2image_detail::CheckWritableShape(width, height, ncomponents, filename);
}

void R2Image::RowRGB(int y, unsigned char* rgb) const {
  r2image_detail::RowToRGB(pixels + static_cast<size_t>(y) * rowsize, width, ncomponents, rgb);
}
