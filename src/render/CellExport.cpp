#include "render/CellExport.h"

#include <cstdio>
#include <cstring>

#include "deform/Warpixator.h"
#include "image/R2Image.h"

namespace {

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
  R2Image out;
  bool rendered = false;
  if (rasterizer != nullptr) {
    rendered = rasterizer->Render(width, height, background, out);
  } else {
    MeshRasterizer own(deformator);
    rendered = own.Render(width, height, background, out);
  }
  return rendered && WriteRenderedImage(out, path, png);
}

bool WriteRenderedImage(const R2Image& image, const char* path, R2Image::PngCompression png) {
  if (path == nullptr) return false;
  // Binary PPM: the generic writer's text form is four times larger.
  if (HasExtension(path, "ppm")) return image.WritePPM(path, 0) != 0;
  if (HasExtension(path, "png")) return image.WritePNG(path, png) != 0;
  return image.Write(path) != 0;
}
