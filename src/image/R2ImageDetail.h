#pragma once

// Internal to the image readers and writers, one file per format: opening
// and closing files with a report, the size checks, conversion of float
// samples to bytes, and the grey-level normalisation shared by the PFM
// (single precision) and grid (double precision) readers. Kept out of
// R2Image.h; the tests include it to check the statistics directly.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>

namespace r2image_detail {

/// fopen, printing format (with the file name for its %s) on standard error
/// when the file cannot be opened (default: the BMP, PPM and JPEG wording).
FILE* OpenFile(const char* filename, const char* mode,
               const char* format = "Unable to open image file: %s");

/// Bytes a writer hands to the stream at once (a block of rows, a PNG data
/// chunk): more than the stream's own buffer, so each is one write call.
constexpr size_t kWriteBlockBytes = 256 * 1024;

/// An open file, closed when it goes out of scope.
struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
using File = std::unique_ptr<FILE, FileCloser>;

/// Closes a file that was written; false when buffered data could not go out.
inline bool CloseWritten(File file) { return fclose(file.release()) == 0; }

/// True when a writer can take a width x height picture of ncomponents
/// bytes per pixel (sizes at least 1, 1 to 4 components); otherwise false
/// with the reason naming filename on standard error.
bool CheckWritableShape(int width, int height, int ncomponents, const char* filename);

/// Red, green and blue bytes of a row of width pixels of ncomponents bytes
/// (1 to 4) into rgb (3 x width bytes): grey is repeated into the three
/// channels, alpha is dropped.
void RowToRGB(const unsigned char* row, int width, int ncomponents, unsigned char* rgb);

/// Bytes per row: width x ncomponents rounded up to a multiple of 4.
inline long long PaddedRow(long long width, long long ncomponents) {
  return (width * ncomponents + 3) / 4 * 4;
}

/// True when a width x height image of ncomponents bytes (sizes not negative)
/// fits R2Image::ByteLimit(), so that every size product of it also fits int;
/// otherwise says why on stderr (filename null: "memory"). Compared by
/// division: the product itself may not even fit 64 bits.
bool FitsLimit(long long width, long long height, long long ncomponents, const char* filename);

/// Bytes left in the file from the current position, or -1 when the stream
/// cannot tell (not a regular file).
long long RemainingBytes(FILE* fp);

/// True when the file cannot hold `needed` more bytes.
bool TooShort(FILE* fp, long long needed);

/// A count as the int result of a reader or writer: at least 1 (success),
/// at most INT_MAX.
inline int CountResult(long long count) {
  if (count < 1) return 1;
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

/// v truncated toward zero and clamped to [0, 255]; NaN gives 0. Every
/// float-to-byte conversion of the readers goes through here, so that no
/// out-of-range conversion (undefined behaviour) can happen.
inline unsigned char ClampToByte(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<unsigned char>(v);
}

/// The sample value that marks a no-data cell.
inline constexpr double kNoDataValue = -321.0;

/// The statistics of a normalisation and the range it picked.
template <typename T>
struct GreyRange {
  T min, max, mean, spread;  // over the data cells; mean divides by all cells
  T lo, scale;               // grey level = (sample - lo) * 255 * scale
};

/// Range of count samples: min and max over the data cells (every sample that
/// is not kNoDataValue, NaN included), mean = sum / count (the no-data cells
/// count in the divisor), spread = sqrt(sum of squared deviations) without
/// division, lo = max(min, mean - 3 spread), hi = min(max, mean + 3 spread),
/// scale = 1 / (hi - lo); a range that is not positive (or no cells) resets
/// lo to 0 and scale to 1. All arithmetic in T.
template <typename T>
GreyRange<T> ComputeGreyRange(const T* samples, long long count) {
  const T noData = static_cast<T>(kNoDataValue);
  GreyRange<T> r;
  r.min = static_cast<T>(3.4028234663852886e38);
  r.max = -r.min;
  T sum = 0;
  for (long long i = 0; i < count; ++i) {
    const T s = samples[i];
    if (s == noData) continue;
    if (s < r.min) r.min = s;
    if (s > r.max) r.max = s;
    sum += s;
  }
  r.mean = count > 0 ? sum / static_cast<T>(count) : T(0);
  T squares = 0;
  for (long long i = 0; i < count; ++i) {
    const T s = samples[i];
    if (s == noData) continue;
    squares += (s - r.mean) * (s - r.mean);
  }
  r.spread = std::sqrt(squares);
  r.lo = std::max(r.min, r.mean - 3 * r.spread);
  const T hi = std::min(r.max, r.mean + 3 * r.spread);
  if (count > 0 && hi - r.lo > 0) {
    r.scale = 1 / (hi - r.lo);
  } else {
    r.lo = 0;
    r.scale = 1;
  }
  return r;
}

/// Grey level of one sample under the range, clamped to a byte.
template <typename T>
unsigned char GreyLevel(T sample, const GreyRange<T>& r) {
  return ClampToByte(static_cast<double>((sample - r.lo) * T(255) * r.scale));
}

/// Grey levels of width x height samples (sample i is pixel (i mod width,
/// i div width)) into a 3-component buffer, normalised in the samples'
/// precision. With markNoData, no-data cells are painted red 64, green 32,
/// blue 0; otherwise they are converted like data cells.
template <typename T>
void FillGrey(unsigned char* pixels, int rowsize, int width, int height, const T* samples,
              bool markNoData) {
  const auto range = ComputeGreyRange(samples, static_cast<long long>(width) * height);
  const T noData = static_cast<T>(kNoDataValue);
  for (int y = 0; y < height; ++y) {
    unsigned char* p = pixels + static_cast<size_t>(y) * rowsize;
    for (int x = 0; x < width; ++x, ++samples, p += 3) {
      if (markNoData && *samples == noData) {
        p[0] = 64;
        p[1] = 32;
        p[2] = 0;
      } else {
        p[0] = p[1] = p[2] = GreyLevel(*samples, range);
      }
    }
  }
}

}  // namespace r2image_detail
