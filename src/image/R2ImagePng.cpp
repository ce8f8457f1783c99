// PNG reading and writing of R2Image through libpng.
//
// libpng reports errors by calling an error function that must not return;
// here it prints the library's message on standard error and jumps back to
// the reader or writer (png_longjmp), which frees what it holds and returns 0.
// Everything the library touches lives in a state block on the heap or in
// the image, so nothing in the frame that calls setjmp changes afterwards.
//
// Reading maps every PNG layout onto the four R2Image layouts: palettes,
// grey levels below 8 bits and tRNS transparency are expanded, 16-bit samples
// keep their high byte. Grey stays grey (1 or 2 components).
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <png.h>
#include <zlib.h>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"
#include "image/R2ImageRowWriter.h"

namespace {

/// Most ancillary chunks (text, suggested palettes, unknown) a file may make
/// the library keep; real files have a handful.
constexpr png_uint_32 kMaxStoredChunks = 100;

/// Largest single ancillary chunk, compressed or decompressed, the library
/// allocates; colour profiles, the largest common ones, stay far below.
constexpr png_alloc_size_t kMaxChunkBytes = 8 << 20;

/// Deflate codes at most 258 bytes with two bits (a length and a distance
/// code), so no stream expands more than this: a file shorter than its pixel
/// data over this ratio cannot hold the pixels it declares.
constexpr long long kMaxDeflateRatio = 1032;

/// What the error and warning functions need to know.
struct Context {
  const char* filename;
};

[[noreturn]] void FailAndJump(png_structp png, png_const_charp message) {
  const auto* context = static_cast<const Context*>(png_get_error_ptr(png));
  fprintf(stderr, "PNG error in %s: %s\n", context->filename, message);
  png_longjmp(png, 1);
}

/// Warnings (a damaged ancillary chunk, extra data after the pixels) leave
/// the pixels intact: reported, then reading goes on.
void Warn(png_structp png, png_const_charp message) {
  const auto* context = static_cast<const Context*>(png_get_error_ptr(png));
  fprintf(stderr, "PNG warning in %s: %s\n", context->filename, message);
}

struct ReadState {
  Context context;
  png_structp png;
  png_infop info;
  long long fileBytes;  // -1 when the stream cannot tell
};

struct WriteState {
  Context context;
  png_structp png;
  png_infop info;
};

/// Length of an open file, or -1 when it is not a regular file; the position
/// is back at the start.
long long FileBytes(FILE* fp) {
  if (fseek(fp, 0, SEEK_END) != 0) return -1;
  const long end = ftell(fp);
  if (fseek(fp, 0, SEEK_SET) != 0) return -1;
  return end;
}

/// Components of the 8-bit pixels the reader makes of a file: grey 1,
/// grey and alpha 2, RGB and palettes 3; a tRNS chunk adds an alpha channel.
int OutputComponents(png_structp png, png_infop info) {
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  switch (png_get_color_type(png, info)) {
    case PNG_COLOR_TYPE_GRAY: return trns ? 2 : 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_PALETTE: return trns ? 4 : 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
  }
}

}  // namespace

int R2Image::ReadPNG(const char* filename) {
  Clear();
  FILE* fp = r2image_detail::OpenFile(filename, "rb");
  if (fp == nullptr) return 0;
  ReadState* s = new (std::nothrow) ReadState;
  if (s != nullptr) {
    memset(s, 0, sizeof(*s));
    s->context.filename = filename;
    s->fileBytes = FileBytes(fp);
    s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s->context, FailAndJump, Warn);
    if (s->png != nullptr) s->info = png_create_info_struct(s->png);
  }
  if (s == nullptr || s->info == nullptr) {
    fprintf(stderr, "Unable to allocate memory for PNG file %s\n", filename);
    if (s != nullptr) png_destroy_read_struct(&s->png, nullptr, nullptr);
    delete s;
    fclose(fp);
    return 0;
  }
  if (setjmp(png_jmpbuf(s->png))) {
    png_destroy_read_struct(&s->png, &s->info, nullptr);
    delete s;
    fclose(fp);
    Clear();
    return 0;
  }
  // No side can exceed the byte limit (each pixel takes at least one byte);
  // the library refuses larger headers before computing anything from them.
  png_set_user_limits(s->png, static_cast<png_uint_32>(ByteLimit()),
                      static_cast<png_uint_32>(ByteLimit()));
  png_set_chunk_cache_max(s->png, kMaxStoredChunks);
  png_set_chunk_malloc_max(s->png, kMaxChunkBytes);
  png_init_io(s->png, fp);
  png_read_info(s->png, s->info);

  const long long w = png_get_image_width(s->png, s->info);
  const long long h = png_get_image_height(s->png, s->info);
  const int nc = OutputComponents(s->png, s->info);
  // Checked before png_read_update_info, which allocates the library's row
  // buffers: at most twice an output row (16-bit samples).
  if (w <= 0 || h <= 0 || nc == 0 || (w * nc + 3) / 4 * 4 > ByteLimit() / h) {
    fprintf(stderr, "PNG image %lld x %lld in %s is larger than the limit of %lld bytes\n", w, h,
            filename, ByteLimit());
    png_longjmp(s->png, 1);
  }
  // The file's own row bytes (1 to 64 bits per pixel) times the rows is
  // below twice the limit here, so the product fits.
  const long long packed = static_cast<long long>(png_get_rowbytes(s->png, s->info)) * h;
  if (s->fileBytes >= 0 && packed / kMaxDeflateRatio > s->fileBytes) {
    fprintf(stderr, "PNG file %s is too short for %lld x %lld pixels\n", filename, w, h);
    png_longjmp(s->png, 1);
  }
  png_set_expand(s->png);
  png_set_strip_16(s->png);
  const int passes = png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  if (png_get_bit_depth(s->png, s->info) != 8 || png_get_channels(s->png, s->info) != nc) {
    fprintf(stderr, "Unsupported PNG layout in %s\n", filename);
    png_longjmp(s->png, 1);
  }
  // Rows are written in full below, padding included, so no zeroing.
  if (!Allocate(static_cast<int>(w), static_cast<int>(h), nc, false)) png_longjmp(s->png, 1);
  const int padding = rowsize - width * ncomponents;
  for (int y = 0; y < height; ++y) memset(pixels + static_cast<size_t>(y) * rowsize + rowsize - padding, 0, padding);
  // The first file row is the top row (image row height - 1). Each pass of
  // an interlaced file fills in its own pixels of the rows given.
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = height - 1; y >= 0; --y) {
      png_read_row(s->png, pixels + static_cast<size_t>(y) * rowsize, nullptr);
    }
  }
  // Up to IEND, so that the checksum of the last chunk is verified and a
  // file cut after its pixels is refused as well.
  png_read_end(s->png, nullptr);
  png_destroy_read_struct(&s->png, &s->info, nullptr);
  delete s;
  fclose(fp);
  return 1;
}

namespace {

// PNG through libpng, a row at a time. Each call into the library that may
// fail sets its jump point first; the state it touches lives on the heap.
class PngRowWriter final : public R2ImageRowWriter {
 public:
  PngRowWriter(FILE* fp, const char* filename) : m_File(fp), m_Name(filename) {}
  ~PngRowWriter() override {
    if (m_State != nullptr) png_destroy_write_struct(&m_State->png, &m_State->info);
    delete m_State;
    if (m_File != nullptr) fclose(m_File);
  }

  bool Start(int width, int height, int ncomponents, R2Image::PngCompression compression) {
    m_State = new (std::nothrow) WriteState;
    if (m_State != nullptr) {
      memset(m_State, 0, sizeof(*m_State));
      m_State->context.filename = m_Name.c_str();
      m_State->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_State->context, FailAndJump, Warn);
      if (m_State->png != nullptr) m_State->info = png_create_info_struct(m_State->png);
    }
    if (m_State == nullptr || m_State->info == nullptr) {
      fprintf(stderr, "Unable to allocate memory for PNG file %s\n", m_Name.c_str());
      return false;
    }
    if (setjmp(png_jmpbuf(m_State->png))) return false;
    static const int kColourTypes[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                        PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    png_init_io(m_State->png, m_File);
    // Data chunks of a block each, so the stream writes each in one call.
    png_set_compression_buffer_size(m_State->png, r2image_detail::kWriteBlockBytes);
    if (compression == R2Image::PngCompression::kSmallest) {
      png_set_compression_level(m_State->png, Z_BEST_COMPRESSION);
      png_set_filter(m_State->png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    } else {
      // One predictor for every row (Paeth, the best single one on photographs
      // and renders) and deflate matching runs only: Paeth residuals are mostly
      // small repeated values. As small as the library's default on photographs
      // and up to a fifth larger on flat drawings, at a fifth of its time.
      png_set_compression_level(m_State->png, 1);
      png_set_compression_strategy(m_State->png, Z_RLE);
      png_set_filter(m_State->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    }
    // Every component is kept, 8 bits each, top row first.
    png_set_IHDR(m_State->png, m_State->info, width, height, 8, kColourTypes[ncomponents],
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(m_State->png, m_State->info);
    m_bOk = true;
    return true;
  }

  bool WriteRow(const unsigned char* row) override {
    if (!m_bOk) return false;
    if (setjmp(png_jmpbuf(m_State->png))) {
      m_bOk = false;
      return false;
    }
    png_write_row(m_State->png, row);
    return true;
  }

  bool Finish() override {
    if (!m_bOk || m_File == nullptr) return false;
    if (setjmp(png_jmpbuf(m_State->png))) {
      m_bOk = false;
      return false;
    }
    png_write_end(m_State->png, nullptr);
    m_bOk = false;  // the file is ended: later rows are refused
    png_destroy_write_struct(&m_State->png, &m_State->info);
    delete m_State;
    m_State = nullptr;
    FILE* fp = m_File;
    m_File = nullptr;
    if (fclose(fp) != 0) {
      fprintf(stderr, "Unable to write image file %s\n", m_Name.c_str());
      return false;
    }
    return true;
  }

 private:
  FILE* m_File;
  std::string m_Name;
  WriteState* m_State = nullptr;
  bool m_bOk = false;
};

}  // namespace

std::unique_ptr<R2ImageRowWriter> R2ImageRowWriter::OpenPNG(const char* filename, int width,
                                                            int height, int ncomponents,
                                                            R2Image::PngCompression png) {
  if (!r2image_detail::CheckWritableShape(width, height, ncomponents, filename)) return nullptr;
  FILE* fp = r2image_detail::OpenFile(filename, "wb");
  if (fp == nullptr) return nullptr;
  std::unique_ptr<PngRowWriter> writer(new PngRowWriter(fp, filename));
  if (!writer->Start(width, height, ncomponents, png)) return nullptr;
  return writer;
}

int R2Image::WritePNG(const char* filename, PngCompression compression) const {
  if (!CheckWritable(filename)) return 0;
  std::unique_ptr<R2ImageRowWriter> writer =
      R2ImageRowWriter::OpenPNG(filename, width, height, ncomponents, compression);
  if (!writer) return 0;
  for (int y = height - 1; y >= 0; --y) writer->WriteRow(pixels + static_cast<size_t>(y) * rowsize);
  return writer->Finish() ? 1 : 0;
}
