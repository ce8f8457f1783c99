// PPM reading (binary P6 and text P3) and writing of R2Image.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <new>
#include <utility>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"
#include "image/R2ImageRowWriter.h"

using r2image_detail::CloseWritten;
using r2image_detail::CountResult;
using r2image_detail::File;
using r2image_detail::FitsLimit;
using r2image_detail::OpenFile;
using r2image_detail::RemainingBytes;

namespace {

// Binary PPM, a block of rows at a time: one fwrite of more than the
// stream's buffer is one write call, where row by row would be one call per
// 4 KiB.
class PpmRowWriter final : public R2ImageRowWriter {
 public:
  PpmRowWriter(File file, const char* filename, int width, int ncomponents)
      : m_File(std::move(file)),
        m_Name(filename),
        m_iWidth(width),
        m_iComponents(ncomponents),
        m_RowBytes(3 * static_cast<size_t>(width)),
        m_iBlockRows(std::max(1, static_cast<int>(r2image_detail::kWriteBlockBytes / m_RowBytes))) {}

  bool Start(int height) {
    m_Block.reset(new (std::nothrow) unsigned char[m_RowBytes * m_iBlockRows]);
    m_bOk = m_Block != nullptr && fprintf(m_File.get(), "P6\n%d %d\n255\n", m_iWidth, height) > 0;
    return m_bOk;
  }

  bool WriteRow(const unsigned char* row) override {
    if (!m_bOk) return false;
    r2image_detail::RowToRGB(row, m_iWidth, m_iComponents, m_Block.get() + m_RowBytes * m_iPending);
    if (++m_iPending == m_iBlockRows) Flush();
    return m_bOk;
  }

  bool Finish() override {
    if (!m_File) return false;
    Flush();
    if (ferror(m_File.get())) m_bOk = false;
    const bool written = m_bOk;
    m_bOk = false;  // the file is closed: later rows are refused
    if (!CloseWritten(std::move(m_File)) || !written) {
      fprintf(stderr, "Unable to write image file %s\n", m_Name.c_str());
      return false;
    }
    return true;
  }

 private:
  void Flush() {
    const size_t bytes = m_RowBytes * m_iPending;
    if (m_bOk && bytes > 0) m_bOk = fwrite(m_Block.get(), 1, bytes, m_File.get()) == bytes;
    m_iPending = 0;
  }

  File m_File;
  std::string m_Name;
  int m_iWidth, m_iComponents;
  size_t m_RowBytes;
  int m_iBlockRows;
  int m_iPending = 0;
  bool m_bOk = false;
  std::unique_ptr<unsigned char[]> m_Block;
};

}  // namespace

std::unique_ptr<R2ImageRowWriter> R2ImageRowWriter::OpenPPM(const char* filename, int width,
                                                            int height, int ncomponents) {
  if (!r2image_detail::CheckWritableShape(width, height, ncomponents, filename)) return nullptr;
  File fp(OpenFile(filename, "wb"));
  if (!fp) return nullptr;
  std::unique_ptr<PpmRowWriter> writer(new PpmRowWriter(std::move(fp), filename, width, ncomponents));
  if (!writer->Start(height)) {
    writer->Finish();  // says the file could not be written
    return nullptr;
  }
  return writer;
}

int R2Image::WritePPM(const char* filename, int ascii) const {
  if (!CheckWritable(filename)) return 0;
  if (!ascii) {
    std::unique_ptr<R2ImageRowWriter> writer = R2ImageRowWriter::OpenPPM(filename, width, height, ncomponents);
    if (!writer) return 0;
    for (int y = height - 1; y >= 0; --y) writer->WriteRow(pixels + static_cast<size_t>(y) * rowsize);
    if (!writer->Finish()) return 0;
    return CountResult(static_cast<long long>(width) * height * ncomponents);
  }
  File fp(OpenFile(filename, "w"));
  if (!fp) return 0;
  std::unique_ptr<unsigned char[]> row(new (std::nothrow) unsigned char[3 * static_cast<size_t>(width)]);
  bool ok = row != nullptr && fprintf(fp.get(), "P3\n%d %d\n255\n", width, height) > 0;
  for (int y = height - 1; ok && y >= 0; --y) {
    RowRGB(y, row.get());
    for (int x = 0; ok && x < width; ++x) {
      const unsigned char* rgb = row.get() + 3 * x;
      ok = fprintf(fp.get(), "%-3d %-3d %-3d  ", rgb[0], rgb[1], rgb[2]) > 0;
      if ((x + 1) % 4 == 0) fputc('\n', fp.get());
    }
    if (width % 4 != 0) fputc('\n', fp.get());
  }
  fputc('\n', fp.get());
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
