#pragma once

// A picture file written a row at a time, top row first, so that a render can
// hand over its rows a band at a time instead of holding the whole picture:
// binary PPM and PNG, the bytes R2Image::WritePPM and R2Image::WritePNG give
// for the same pixels (they write through it).
#include <cstddef>
#include <memory>

#include "image/R2Image.h"

class R2ImageRowWriter {
 public:
  virtual ~R2ImageRowWriter() = default;

  /// Opens filename for a width x height picture (both at least 1) of
  /// ncomponents bytes per pixel (1 to 4; grey, grey and alpha, RGB, RGBA)
  /// as binary PPM: red, green and blue of each pixel (grey repeated, alpha
  /// dropped). Null, with the reason on standard error, when the shape is
  /// not writable or the file cannot be opened.
  static std::unique_ptr<R2ImageRowWriter> OpenPPM(const char* filename, int width, int height,
                                                   int ncomponents);
  /// The same as PNG, every component kept, compressed as png asks.
  static std::unique_ptr<R2ImageRowWriter> OpenPNG(const char* filename, int width, int height,
                                                   int ncomponents, R2Image::PngCompression png);

  /// Writes inner's rows on a thread of its own, so that whoever makes the
  /// rows (a renderer) goes on while the file is compressed and written: rows
  /// are copied into bands of bandRows rows of rowBytes each, a few bands
  /// deep. The file's bytes are inner's. Without a thread to spare, or memory
  /// for the bands, inner itself is returned. Null when inner is null.
  static std::unique_ptr<R2ImageRowWriter> InBackground(std::unique_ptr<R2ImageRowWriter> inner,
                                                        size_t rowBytes, int bandRows);

  /// Writes the next row, top row first: width x ncomponents bytes. False
  /// once writing has failed (reported by Finish).
  virtual bool WriteRow(const unsigned char* row) = 0;
  /// Ends the file after the last row and closes it. False, with "Unable to
  /// write image file <name>" or the library's message on standard error,
  /// when the file could not be written whole.
  virtual bool Finish() = 0;
};
