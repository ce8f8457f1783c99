#include "image/R2Image.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "image/R2ImageDetail.h"
#include "image/RNError.h"

using r2image_detail::ClampToByte;
using r2image_detail::OpenFile;

FILE* r2image_detail::OpenFile(const char* filename, const char* mode, const char* format) {
  FILE* fp = fopen(filename, mode);
  if (fp == nullptr) fprintf(stderr, format, filename);
  return fp;
}

namespace {

/// An open file, closed when it goes out of scope.
struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

/// Closes a file that was written; false when buffered data could not go out.
bool CloseWritten(File file) { return fclose(file.release()) == 0; }

long long s_ByteLimit = 1LL << 30;

/// Bytes per row: width x ncomponents rounded up to a multiple of 4.
long long PaddedRow(long long width, long long ncomponents) {
  return (width * ncomponents + 3) / 4 * 4;
}

/// True when a width x height image of ncomponents bytes (sizes not negative)
/// fits the limit, so that every size product of it also fits int; otherwise
/// says why on stderr. Compared by division: the product itself may not even
/// fit 64 bits.
bool FitsLimit(long long width, long long height, long long ncomponents,
               const char* filename) {
  const long long rs = PaddedRow(width, ncomponents);
  if (rs <= INT_MAX && (height == 0 || rs <= s_ByteLimit / height)) return true;
  fprintf(stderr, "Image %lld x %lld x %lld in %s is larger than the limit of %lld bytes\n",
          width, height, ncomponents, filename ? filename : "memory", s_ByteLimit);
  return false;
}

/// Bytes left in the file from the current position, or -1 when the stream
/// cannot tell (not a regular file).
long long RemainingBytes(FILE* fp) {
  const long pos = ftell(fp);
  if (pos < 0 || fseek(fp, 0, SEEK_END) != 0) return -1;
  const long end = ftell(fp);
  if (end < 0 || fseek(fp, pos, SEEK_SET) != 0) return -1;
  return end - pos;
}

/// True when the file cannot hold `needed` more bytes.
bool TooShort(FILE* fp, long long needed) {
  const long long remaining = RemainingBytes(fp);
  return remaining >= 0 && remaining < needed;
}

/// A count as the int result of a reader or writer: at least 1 (success),
/// at most INT_MAX.
int CountResult(long long count) {
  if (count < 1) return 1;
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

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
  if (pixels == nullptr || width <= 0 || height <= 0) {
    fprintf(stderr, "Unable to write image file %s: the image has no pixels\n", filename);
    return false;
  }
  if (ncomponents < 1 || ncomponents > 4) {
    fprintf(stderr, "Unable to write image file %s: %d components per pixel\n", filename,
            ncomponents);
    return false;
  }
  return true;
}

void R2Image::RowRGB(int y, unsigned char* rgb) const {
  const unsigned char* p = pixels + static_cast<size_t>(y) * rowsize;
  // Offsets of green and blue within a pixel: grey repeats its one byte.
  const int g = ncomponents >= 3 ? 1 : 0;
  const int b = ncomponents >= 3 ? 2 : 0;
  for (int x = 0; x < width; ++x, p += ncomponents, rgb += 3) {
    rgb[0] = p[0];
    rgb[1] = p[g];
    rgb[2] = p[b];
  }
}

// === BMP

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

// === PPM

int R2Image::WritePPM(const char* filename, int ascii) const {
  if (!CheckWritable(filename)) return 0;
  File fp(OpenFile(filename, ascii ? "w" : "wb"));
  if (!fp) return 0;
  std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[3 * static_cast<size_t>(width)]);
  bool ok = row != nullptr && fprintf(fp.get(), "%s\n%d %d\n255\n", ascii ? "P3" : "P6", width, height) > 0;
  for (int y = height - 1; ok && y >= 0; --y) {
    RowRGB(y, row.get());
    if (!ascii) {
      ok = fwrite(row.get(), 3, width, fp.get()) == static_cast<size_t>(width);
      continue;
    }
    for (int x = 0; ok && x < width; ++x) {
      const unsigned char* rgb = row.get() + 3 * x;
      ok = fprintf(fp.get(), "%-3d %-3d %-3d  ", rgb[0], rgb[1], rgb[2]) > 0;
      if ((x + 1) % 4 == 0) fputc('\n', fp.get());
    }
    if (width % 4 != 0) fputc('\n', fp.get());
  }
  if (ascii) fputc('\n', fp.get());
  if (ferror(fp.get())) ok = false;
  if (!CloseWritten(std::move(fp)) || !ok) {
    fprintf(stderr, "Unable to write image file %s\n", filename);
    return 0;
  }
  return CountResult(static_cast<long long>(width) * height * ncomponents);
}

namespace {

/// Skips white space and '#' comments (to the end of their line) between PPM
/// tokens.
void SkipSpaceAndComments(FILE* fp) {
  for (;;) {
    int c = getc(fp);
    if (c == '#') {
      while (c != '\n' && c != EOF) c = getc(fp);
      continue;
    }
    if (c == EOF) return;
    if (!isspace(c)) {
      ungetc(c, fp);
      return;
    }
  }
}

/// Reads an unsigned decimal of at most INT_MAX after white space and
/// comments; it must end at white space or a '#' (so a number cut by the end
/// of the file is refused). The terminating character is consumed only when
/// consumeSpace is set and it is white space.
bool ReadPPMInt(FILE* fp, int* value, bool consumeSpace) {
  SkipSpaceAndComments(fp);
  long long v = 0;
  int digits = 0;
  int c;
  while ((c = getc(fp)) != EOF && isdigit(c)) {
    v = v * 10 + (c - '0');
    if (v > INT_MAX) return false;
    ++digits;
  }
  if (digits == 0 || c == EOF) return false;
  if (isspace(c)) {
    if (!consumeSpace) ungetc(c, fp);
  } else if (c == '#') {
    ungetc(c, fp);
  } else {
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

int R2Image::ReadPPM(const char* filename) {
  Clear();
  File file(OpenFile(filename, "rb"));
  if (!file) return 0;
  FILE* fp = file.get();
  // The magic id is a line of its own: exactly "P6" means binary samples,
  // any other line is read as text ("P3").
  char magic[128];
  if (fgets(magic, sizeof(magic), fp) == nullptr || strchr(magic, '\n') == nullptr) {
    fprintf(stderr, "Unable to read magic id in PPM file");
    return 0;
  }
  const bool binary = strcmp(magic, "P6\n") == 0;
  int w = 0, h = 0, maxValue = 0;
  if (!ReadPPMInt(fp, &w, false) || !ReadPPMInt(fp, &h, false)) {
    fprintf(stderr, "Unable to read width and height in PPM file");
    return 0;
  }
  // Binary data starts right after the single white-space byte that ends max_value.
  if (!ReadPPMInt(fp, &maxValue, binary)) {
    fprintf(stderr, "Unable to read max_value in PPM file");
    return 0;
  }
  if (w <= 0 || h <= 0) {
    fprintf(stderr, "Invalid size %d x %d in PPM file %s\n", w, h, filename);
    return 0;
  }
  if (maxValue < 1 || maxValue > 255) {
    fprintf(stderr, "Unsupported max_value %d in PPM file %s (1 to 255)\n", maxValue, filename);
    return 0;
  }
  if (!FitsLimit(w, h, 3, filename)) return 0;
  // Enough bytes must be left: 3 per binary pixel, 2 per text sample (a digit
  // and a separator).
  const long long samples = 3LL * w * h;
  const long long remaining = RemainingBytes(fp);
  const long long needed = binary ? samples : 2 * samples;
  if (remaining >= 0 && remaining < needed) {
    const long long firstMissing = binary ? remaining / 3 : remaining / 6;
    fprintf(stderr, "Unable to read data at (%d,%d) in PPM file",
            static_cast<int>(firstMissing % w), h - 1 - static_cast<int>(firstMissing / w));
    return 0;
  }
  if (!Allocate(w, h, 3)) {
    fprintf(stderr, "Unable to allocate memory for PPM file");
    return 0;
  }
  for (int y = height - 1; y >= 0; --y) {
    unsigned char* p = pixels + static_cast<size_t>(y) * rowsize;
    if (binary && fread(p, 3, width, fp) != static_cast<size_t>(width)) {
      fprintf(stderr, "Unable to read data at (%d,%d) in PPM file", 0, y);
      Clear();
      return 0;
    }
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < 3; ++k, ++p) {
        int value = *p;
        // Every text sample ends in white space, so a file cut inside its last
        // number is not taken for a smaller value.
        const bool ok = binary || ReadPPMInt(fp, &value, false);
        if (!ok || value > maxValue) {
          fprintf(stderr, "Unable to read data at (%d,%d) in PPM file", x, y);
          Clear();
          return 0;
        }
        *p = static_cast<unsigned char>(value * 255 / maxValue);
      }
    }
  }
  return 1;
}

// === Raw floating-point format

static constexpr int kRawMagic = 54321;

int R2Image::WriteRAW(const char* filename) const {
  if (!CheckWritable(filename)) return 0;
  File fp(OpenFile(filename, "wb", "Unable to open raw image file %s"));
  if (!fp) return 0;
  const int header[4] = {kRawMagic, width, height, ncomponents};
  if (fwrite(header, sizeof(int), 4, fp.get()) != 4) {
    fprintf(stderr, "Unable to write header to raw image file %s", filename);
    return 0;
  }
  std::unique_ptr<float[]> row(new (std::nothrow) float[width]);
  if (row == nullptr) {
    fprintf(stderr, "Unable to allocate buffer for raw image file %s", filename);
    return 0;
  }
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
  std::unique_ptr<float[]> row(new (std::nothrow) float[w]);
  if (row == nullptr) {
    fprintf(stderr, "Unable to allocate buffer for raw image file %s", filename);
    return 0;
  }
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

// === Float samples as grey levels (PFM and grid)

namespace {

enum class PfmToken { kWidth, kHeight, kEndian };

/// Reads one header token of a PFM file into text (at most 128 characters):
/// blanks before it are skipped, a blank or a newline ends it. Returns false
/// after printing the matching message.
bool ReadPfmToken(FILE* fp, PfmToken kind, const char* filename, char* text) {
  static const char* kNames[] = {"width", "height", "endian"};
  const char* name = kNames[static_cast<int>(kind)];
  int len = 0;
  for (int read = 0; read < 256; ++read) {
    const int c = getc(fp);
    if (c == ' ' && len == 0) continue;
    if (c == ' ' || c == '\n') break;
    const bool ok = c != EOF && (isdigit(c) || (kind == PfmToken::kEndian && (c == '.' || c == '-')));
    if (!ok) {
      fprintf(stderr, "Bad %s character %c in %s\n", name, c == EOF ? '?' : c, filename);
      return false;
    }
    if (len == 128) {
      len = 129;
      break;
    }
    text[len++] = static_cast<char>(c);
  }
  if (len < 1 || len > 128) {
    fprintf(stderr, "Error reading %s in %s\n", name, filename);
    return false;
  }
  text[len] = '\0';
  return true;
}

/// Decimal digits as a positive int, or -1 when zero or above INT_MAX.
int PositiveInt(const char* digits) {
  long long v = 0;
  for (const char* p = digits; *p; ++p) {
    v = v * 10 + (*p - '0');
    if (v > INT_MAX) return -1;
  }
  return v > 0 ? static_cast<int>(v) : -1;
}

/// Grey levels of width x height samples (sample i is pixel (i mod width,
/// i div width)) into a 3-component buffer, normalised in the samples'
/// precision. With markNoData, no-data cells are painted red 64, green 32,
/// blue 0; otherwise they are converted like data cells.
template <typename T>
void FillGrey(unsigned char* pixels, int rowsize, int width, int height, const T* samples,
              bool markNoData) {
  const auto range = r2image_detail::ComputeGreyRange(samples, static_cast<long long>(width) * height);
  const T noData = static_cast<T>(r2image_detail::kNoDataValue);
  for (int y = 0; y < height; ++y) {
    unsigned char* p = pixels + static_cast<size_t>(y) * rowsize;
    for (int x = 0; x < width; ++x, ++samples, p += 3) {
      if (markNoData && *samples == noData) {
        p[0] = 64;
        p[1] = 32;
        p[2] = 0;
      } else {
        p[0] = p[1] = p[2] = r2image_detail::GreyLevel(*samples, range);
      }
    }
  }
}

}  // namespace

int R2Image::ReadPFM(const char* filename) {
  Clear();
  File fp(OpenFile(filename, "rb", "Unable to open image: %s\n"));
  if (!fp) return 0;
  char magic[3];
  if (fread(magic, 1, 3, fp.get()) != 3 || magic[0] != 'P' || magic[1] != 'f' || magic[2] != '\n') {
    fprintf(stderr, "Bad magic keyword in %s\n", filename);
    return 0;
  }
  char text[129];
  if (!ReadPfmToken(fp.get(), PfmToken::kWidth, filename, text)) return 0;
  const int w = PositiveInt(text);
  if (!ReadPfmToken(fp.get(), PfmToken::kHeight, filename, text)) return 0;
  const int h = PositiveInt(text);
  if (!ReadPfmToken(fp.get(), PfmToken::kEndian, filename, text)) return 0;
  if (w <= 0 || h <= 0) {
    fprintf(stderr, "Invalid size in PFM file %s\n", filename);
    return 0;
  }
  const long long count = static_cast<long long>(w) * h;
  if (!FitsLimit(w, h, 3, filename) || !FitsLimit(w, h, 4, filename)) return 0;
  // A file too short for its samples is refused before anything is allocated.
  if (TooShort(fp.get(), 4 * count)) {
    fprintf(stderr, "read error\n");
    return 0;
  }
  std::unique_ptr<float[]> values(new (std::nothrow) float[count]);
  if (values == nullptr) {
    fprintf(stderr, "Unable to allocate values for %s\n", filename);
    return 0;
  }
  for (long long done = 0; done < count;) {
    const size_t n = fread(values.get() + done, sizeof(float), count - done, fp.get());
    if (n == 0) {
      fprintf(stderr, "read error\n");
      return 0;
    }
    done += static_cast<long long>(n);
  }
  if (!Allocate(w, h, 3)) return 0;
  FillGrey(pixels, rowsize, w, h, values.get(), true);
  return 1;
}

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
  FillGrey(pixels, rowsize, w, h, values.get(), false);
  return CountResult(static_cast<long long>(rowsize) * height);
}
