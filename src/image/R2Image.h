#pragma once

// The system's one raster type: rows bottom-up (row 0 is the bottom row), each
// row padded to a multiple of 4 bytes, 1 to 4 bytes per pixel (grey, grey and
// alpha, RGB, RGBA). Reads BMP, PPM, raw, PFM, grid, JPEG and PNG files,
// writes all of them but PFM and grid. Its OpenGL pixel transfers (Draw,
// Capture) are defined by the window library, the one library that links GL.
//
// Readers never abort and never throw: a file they cannot use gives a message
// on standard error and result 0, and leaves the image empty (all sizes 0, no
// pixels), so a caller can test Pixels() != nullptr && Width() > 0.
#include "image/RNRgb.h"

class R2Image {
 public:
  // === Constructors
  /// Empty image: all sizes 0, no pixels.
  R2Image();
  /// width x height pixels of ncomponents bytes, all 0. Negative sizes or a
  /// buffer above the size limit give an empty image and a message on
  /// standard error. A component count outside 1..4 is kept; such an image
  /// has no colours (PixelRGB gives black) and is neither drawn nor written.
  R2Image(int width, int height, int ncomponents);
  /// As above, then copies RowSize() x height bytes from data (padded rows).
  R2Image(int width, int height, int ncomponents, const unsigned char* data);
  /// Reads the file chosen by its extension (see Read); the result is dropped.
  explicit R2Image(const char* filename);
  R2Image(const R2Image& image);
  R2Image& operator=(const R2Image& image);
  ~R2Image();

  // === Accessors
  int Width() const { return width; }
  int Height() const { return height; }
  int NComponents() const { return ncomponents; }
  /// Bytes per row: Width() x NComponents() rounded up to a multiple of 4.
  int RowSize() const { return rowsize; }
  /// RowSize() x Height() bytes, or null when the image is empty.
  unsigned char* Pixels() { return pixels; }
  const unsigned char* Pixels() const { return pixels; }
  /// True when the image has pixels (width and height positive, buffer set).
  bool IsValid() const { return pixels != nullptr && width > 0 && height > 0; }

  /// Discards the pixels, sets the sizes and allocates the buffer, zeroed
  /// unless zero is false (the caller then writes every byte, padding
  /// included); false, with a message and the image left empty, when the
  /// sizes are negative or the buffer would exceed ByteLimit().
  bool Allocate(int width, int height, int ncomponents, bool zero = true);

  // === Pixels
  /// Colour of pixel (x, y) with components byte/255; grey images give (g, g, g);
  /// alpha is ignored. x, y must lie inside the image.
  RNRgb PixelRGB(int x, int y) const;
  /// Sets pixel (x, y): 255 x component, or for grey 255 x (0.3 r + 0.59 g +
  /// 0.11 b), truncated; each byte is clamped to [0, 255]. Alpha becomes 255.
  /// Pixels outside the image are ignored.
  void SetPixelRGB(int x, int y, const RNRgb& rgb);
  /// Every byte (padding included) becomes min(255, own + other's). Images of a
  /// different RowSize() or Height() are left alone with a message.
  void Add(const R2Image& image);
  /// Every byte becomes own - other's + 128, clamped to [0, 255]. Same shape rule.
  void Subtract(const R2Image& image);

  // === OpenGL (defined in window/R2ImageGL.cpp: only the window links them)
  /// Draws the pixels with their lower-left corner at raster position (x, y).
  void Draw(int x, int y) const;
  /// Fills the existing buffer from the lower-left Width() x Height() pixels of
  /// the current OpenGL read buffer.
  void Capture();

  // === Files: each returns nonzero on success, 0 on failure.
  /// Discards the old pixels and reads the file chosen by its extension.
  int Read(const char* filename);
  /// Writes the file chosen by its extension.
  int Write(const char* filename) const;

  int ReadBMP(const char* filename);
  int WriteBMP(const char* filename) const;
  /// Reads binary (P6) and text (P3) PPM files.
  int ReadPPM(const char* filename);
  /// ascii = 0 writes P6, anything else P3.
  int WritePPM(const char* filename, int ascii = 0) const;
  int ReadRAW(const char* filename);
  int WriteRAW(const char* filename) const;
  /// Single-channel float image ("Pf"), normalised to grey.
  int ReadPFM(const char* filename);
  /// Binary grid of doubles, normalised to grey.
  int ReadGRD(const char* filename);
  int ReadJPEG(const char* filename);
  int WriteJPEG(const char* filename) const;
  /// Reads 8- and 16-bit grey, grey and alpha, RGB, RGBA and palette files
  /// (interlaced or not): palettes and transparency (tRNS) are expanded, grey
  /// below 8 bits scaled to 8, 16-bit samples keep their high byte. Gives 1
  /// to 4 components.
  int ReadPNG(const char* filename);
  /// How hard the PNG writer compresses: kFast predicts every row with one
  /// predictor (Paeth) and deflates runs only; kSmallest tries every
  /// predictor per row at the highest deflate level (tens of times slower,
  /// up to a fifth smaller). Both store the same pixels.
  enum class PngCompression { kFast, kSmallest };
  /// Writes the image's own components (grey, grey and alpha, RGB, RGBA), 8
  /// bits each (default: kFast).
  int WritePNG(const char* filename, PngCompression compression = PngCompression::kFast) const;
  /// TIFF is not supported: both report it and return 0.
  int ReadTIFF(const char* filename);
  int WriteTIFF(const char* filename) const;

  // === Size limit
  /// Largest buffer a reader or constructor accepts, in bytes: the pixel buffer,
  /// and for the float formats also their sample array (default: 1 GiB).
  static long long ByteLimit();
  /// Lowers or raises the limit, e.g. for a fuzzer that must bound memory.
  static void SetByteLimit(long long bytes);

 private:
  /// Frees the buffer and sets every size to 0.
  void Clear();
  /// True when image has this image's RowSize() and Height() and this image
  /// has pixels; otherwise false with "Cannot <verb> images of different sizes".
  bool SameLayout(const R2Image& image, const char* verb) const;
  /// True when the image has pixels of 1 to 4 components, so a 3-channel
  /// writer can take it; otherwise false with a message naming filename.
  bool CheckWritable(const char* filename) const;
  /// Red, green and blue bytes of row y into rgb (3 x width bytes): grey is
  /// repeated into the three channels, alpha is dropped.
  void RowRGB(int y, unsigned char* rgb) const;

  int width;
  int height;
  int ncomponents;
  int rowsize;
  unsigned char* pixels;
};
