// PFM reading of R2Image: a single-channel float image ("Pf"), normalised to
// grey levels.
#include <cctype>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"

using r2image_detail::File;
using r2image_detail::FitsLimit;
using r2image_detail::OpenFile;
using r2image_detail::TooShort;

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
  r2image_detail::FillGrey(pixels, rowsize, w, h, values.get(), true);
  return 1;
}
