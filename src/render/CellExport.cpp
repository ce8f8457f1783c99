#include "render/CellExport.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "deform/Warpixator.h"
#include "image/R2Image.h"
#include "image/R2ImageRowWriter.h"

namespace {

// Rows of a render handed to a file at once: a few hundred kilobytes, which
// stay in the cache between the rasteriser and the writer.
constexpr size_t kBandBytes = 256 * 1024;

bool IsFileNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '_' || c == '-';
}

// True when path ends in ".<extension>", letters compared without case.
bool HasExtension(const char* path, const char* extension) {
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr) return false;
  const char* a = dot + 1;
  const char* b = extension;
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    if (ca != *b) return false;
  }
  return *a == '\0' && *b == '\0';
}

}  // namespace

ZelString SanitizeFileName(const ZelString& name) {
  std::string text = name.toStdString();
  for (char& c : text) {
    if (!IsFileNameCharacter(c)) c = '_';
  }
  return ZelString(text);
}

ZelString CellFileName(const ZelString& dirOrPrefix, int cellIndex, const ZelString& moduleName,
                       const char* extension, int frame) {
  char number[16];
  std::snprintf(number, sizeof(number), "%02d", cellIndex);
  ZelString name = dirOrPrefix + number + "_" + SanitizeFileName(moduleName);
  if (frame >= 0) {
    std::snprintf(number, sizeof(number), "_%05d", frame);
    name += number;
  }
  return name + "." + (extension != nullptr ? extension : "");
}

void PrepareCellForRender(Warpixator& deformator) {
  // The window's redraw without a canvas: the deformation a coalescing Deform
  // skipped is run and the mesh vertices are mapped; nothing is drawn.
  deformator.Draw(nullptr);
}

bool WriteCellImage(Warpixator& deformator, int width, int height,
                    const MeshRasterizer::Background& background, const char* path,
                    MeshRasterizer* rasterizer, R2Image::PngCompression png) {
  if (path == nullptr) return false;
  PrepareCellForRender(deformator);
  std::optional<MeshRasterizer> own;
  if (rasterizer == nullptr) rasterizer = &own.emplace(deformator);
  const bool ppm = HasExtension(path, "ppm");
  if ((ppm || HasExtension(path, "png")) && rasterizer->CanRender(width, height)) {
    // Rows go to the file a band at a time, top first, while they are still
    // in the cache: the whole RGBA picture is never held.
    // The file is compressed and written on a second thread while the next
    // band is drawn.
    const size_t rowBytes = 4 * static_cast<size_t>(width);
    const int bandRows = static_cast<int>(std::max<size_t>(1, kBandBytes / rowBytes));
    std::unique_ptr<R2ImageRowWriter> writer = R2ImageRowWriter::InBackground(
        ppm ? R2ImageRowWriter::OpenPPM(path, width, height, 4) : R2ImageRowWriter::OpenPNG(path, width, height, 4, png),
        rowBytes, bandRows);
    if (!writer) return false;
    const bool rendered =
        rasterizer->RenderBands(width, height, background, bandRows, [&](int, int count, const unsigned char* rgba) {
          for (int k = count - 1; k >= 0; --k) {
            if (!writer->WriteRow(rgba + rowBytes * k)) return false;
          }
          return true;
        });
    return writer->Finish() && rendered;
  }
  R2Image out;
  return rasterizer->Render(width, height, background, out) && WriteRenderedImage(out, path, png);
}

bool WriteRenderedImage(const R2Image& image, const char* path, R2Image::PngCompression png) {
  if (path == nullptr) return false;
  // Binary PPM: the generic writer's text form is four times larger.
  if (HasExtension(path, "ppm")) return image.WritePPM(path, 0) != 0;
  if (HasExtension(path, "png")) return image.WritePNG(path, png) != 0;
  return image.Write(path) != 0;
}
