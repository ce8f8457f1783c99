// JPEG reading and writing of R2Image through libjpeg (interface version 62).
//
// The library's default error handler ends the program; here it is replaced
// by one that prints the library's message on standard error and jumps back
// to the reader or writer, which cleans up and returns 0. On reading, the
// library's warnings (corrupt or truncated data) are treated as errors too,
// so a damaged stream is never returned as a successful picture.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "image/R2Image.h"
#include "image/R2ImageDetail.h"

namespace {

/// Scans a progressive file may have before it is refused: a real encoder
/// writes about ten, a hostile file could make each scan cost a full pass.
constexpr int kMaxScans = 1000;

struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

[[noreturn]] void FailAndJump(j_common_ptr cinfo) {
  char message[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, message);
  fprintf(stderr, "JPEG error: %s\n", message);
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void ErrorExit(j_common_ptr cinfo) { FailAndJump(cinfo); }

/// Warnings (level -1) while decoding mean corrupt or missing data.
void EmitMessageStrict(j_common_ptr cinfo, int level) {
  if (level < 0) FailAndJump(cinfo);
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    fprintf(stderr, "JPEG error: more than %d scans\n", kMaxScans);
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
  }
}

/// Everything the decoder touches lives here, outside the frame that calls
/// setjmp, so nothing needs to be volatile.
struct ReadState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
};

struct WriteState {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  unsigned char* row;
};

}  // namespace

int R2Image::ReadJPEG(const char* filename) {
  Clear();
  FILE* fp = r2image_detail::OpenFile(filename, "rb");
  if (fp == nullptr) return 0;
  ReadState* s = new (std::nothrow) ReadState;
  if (s == nullptr) {
    fclose(fp);
    return 0;
  }
  memset(s, 0, sizeof(*s));
  s->cinfo.err = jpeg_std_error(&s->err.pub);
  s->err.pub.error_exit = ErrorExit;
  s->err.pub.emit_message = EmitMessageStrict;
  if (setjmp(s->err.jump)) {
    jpeg_destroy_decompress(&s->cinfo);
    delete s;
    fclose(fp);
    Clear();
    return 0;
  }
  jpeg_CreateDecompress(&s->cinfo, 62, sizeof(struct jpeg_decompress_struct));
  s->cinfo.mem->max_memory_to_use = static_cast<long>(ByteLimit());
  s->progress.progress_monitor = ProgressMonitor;
  s->cinfo.progress = &s->progress;
  jpeg_stdio_src(&s->cinfo, fp);
  jpeg_read_header(&s->cinfo, TRUE);
  // Refuse absurd sizes before the library allocates anything for them.
  jpeg_calc_output_dimensions(&s->cinfo);
  const long long w = s->cinfo.output_width, h = s->cinfo.output_height;
  const int nc = s->cinfo.output_components;
  if (nc != 1 && nc != 3) {
    fprintf(stderr, "Unsupported JPEG colour space in %s (%d components)\n", filename, nc);
    longjmp(s->err.jump, 1);
  }
  if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX ||
      (w * nc + 3) / 4 * 4 * h > ByteLimit()) {
    fprintf(stderr, "JPEG image %lld x %lld in %s is larger than the limit of %lld bytes\n", w, h,
            filename, ByteLimit());
    longjmp(s->err.jump, 1);
  }
  jpeg_start_decompress(&s->cinfo);
  // Rows are written in full below, padding included, so no zeroing.
  if (!Allocate(s->cinfo.output_width, s->cinfo.output_height, s->cinfo.output_components, false)) {
    fprintf(stderr, "Unable to allocate memory for JPEG file");
    longjmp(s->err.jump, 1);
  }
  const int padding = rowsize - width * ncomponents;
  while (s->cinfo.output_scanline < s->cinfo.output_height) {
    JSAMPROW row = pixels + static_cast<size_t>(height - 1 - static_cast<int>(s->cinfo.output_scanline)) * rowsize;
    memset(row + rowsize - padding, 0, padding);
    if (jpeg_read_scanlines(&s->cinfo, &row, 1) != 1) {
      fprintf(stderr, "JPEG error: no data for row %u in %s\n", s->cinfo.output_scanline, filename);
      longjmp(s->err.jump, 1);
    }
  }
  jpeg_finish_decompress(&s->cinfo);
  jpeg_destroy_decompress(&s->cinfo);
  delete s;
  fclose(fp);
  return 1;
}

int R2Image::WriteJPEG(const char* filename) const {
  if (!CheckWritable(filename)) return 0;
  FILE* fp = r2image_detail::OpenFile(filename, "wb");
  if (fp == nullptr) return 0;
  WriteState* s = new (std::nothrow) WriteState;
  unsigned char* row = ncomponents == 3 ? nullptr : new (std::nothrow) unsigned char[3 * static_cast<size_t>(width)];
  if (s == nullptr || (ncomponents != 3 && row == nullptr)) {
    fprintf(stderr, "Unable to allocate memory for JPEG file");
    delete s;
    delete[] row;
    fclose(fp);
    return 0;
  }
  memset(s, 0, sizeof(*s));
  s->row = row;
  s->cinfo.err = jpeg_std_error(&s->err.pub);
  s->err.pub.error_exit = ErrorExit;
  if (setjmp(s->err.jump)) {
    jpeg_destroy_compress(&s->cinfo);
    delete[] s->row;
    delete s;
    fclose(fp);
    return 0;
  }
  jpeg_CreateCompress(&s->cinfo, 62, sizeof(struct jpeg_compress_struct));
  jpeg_stdio_dest(&s->cinfo, fp);
  s->cinfo.image_width = width;
  s->cinfo.image_height = height;
  // The file is always RGB: grey images are repeated into three channels and
  // alpha is dropped, so the declared colour space matches the data.
  s->cinfo.input_components = 3;
  s->cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&s->cinfo);
  s->cinfo.optimize_coding = TRUE;
  jpeg_set_quality(&s->cinfo, 75, TRUE);
  jpeg_start_compress(&s->cinfo, TRUE);
  while (s->cinfo.next_scanline < s->cinfo.image_height) {
    const int y = height - 1 - static_cast<int>(s->cinfo.next_scanline);
    JSAMPROW line = const_cast<JSAMPROW>(pixels + static_cast<size_t>(y) * rowsize);
    if (s->row != nullptr) {
      RowRGB(y, s->row);
      line = s->row;
    }
    jpeg_write_scanlines(&s->cinfo, &line, 1);
  }
  jpeg_finish_compress(&s->cinfo);
  jpeg_destroy_compress(&s->cinfo);
  delete[] s->row;
  delete s;
  if (fclose(fp) != 0) {
    fprintf(stderr, "Unable to write image file %s\n", filename);
    return 0;
  }
  return 1;
}
