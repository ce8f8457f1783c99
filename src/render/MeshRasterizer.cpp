#include "render/MeshRasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "render/MeshRasterizerKernel.h"

namespace {

struct Point {
  double x, y;
};

// One edge's function: twice the signed area of (a, b, p), positive when p
// lies left of a -> b. It is evaluated with the edge's ends in a fixed order
// (the lexicographically smaller first) and the sign restored, so the two
// faces that share an edge get exactly opposite values and a pixel centre
// on it is never claimed by both or by neither. At pixel centre (x, y) the
// value is Row(y) - dy * (x - ax), negated when reversed: the span kernel
// evaluates that part.
struct Edge {
  Edge(Point a, Point b) {
    reversed = b.x < a.x || (b.x == a.x && b.y < a.y);
    if (reversed) std::swap(a, b);
    ax = a.x, ay = a.y, dx = b.x - a.x, dy = b.y - a.y;
  }
  /// The part that depends on the row only.
  double Row(double y) const { return dx * (y - ay); }
  bool reversed;
  double ax, ay, dx, dy;
};

// A point exactly on edge a -> b belongs to the face on its left when the
// edge points down, or along +x when horizontal: the same as moving the
// point by (eps, eps^2), so each point of a seamless mesh is covered once.
bool OwnsEdgePoint(Point a, Point b) {
  const double dy = b.y - a.y, dx = b.x - a.x;
  return dy < 0.0 || (dy == 0.0 && dx > 0.0);
}

}  // namespace

MeshRasterizer::MeshRasterizer(Warpixator& deformator, TextureSource source)
    : m_iWidth(0),
      m_iHeight(0),
      m_bMesh(deformator.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH),
      m_bInPlace(false),
      m_Deformator(deformator) {
  const R2Image& picture = deformator.m_Image;
  if (!picture.IsValid()) return;
  m_iWidth = picture.Width();
  m_iHeight = picture.Height();
  const int nc = picture.NComponents();
  // Without an alpha channel and with the colour test off, no texel is
  // transparent: an RGB picture is then the texture as it stands.
  m_bInPlace = source == TextureSource::kAuto && nc == 3 && !deformator.m_bWhiteToTransparent;
  if (m_bInPlace) return;
  m_Texels.resize(static_cast<size_t>(m_iWidth) * m_iHeight * 4);
  const bool opaque = (nc == 1 || nc == 3) && !deformator.m_bWhiteToTransparent;
  const unsigned char* pixels = picture.Pixels();
  for (int y = 0; y < m_iHeight; ++y) {
    const unsigned char* row = pixels + static_cast<size_t>(y) * picture.RowSize();
    for (int x = 0; x < m_iWidth; ++x) {
      const unsigned char* p = row + static_cast<size_t>(x) * nc;
      float* t = &m_Texels[(static_cast<size_t>(y) * m_iWidth + x) * 4];
      if (nc >= 3) {
        t[0] = p[0], t[1] = p[1], t[2] = p[2];
      } else {
        t[0] = t[1] = t[2] = p[0];
      }
      t[3] = !opaque && deformator.IsTextureTransparent(x, y) ? 0.0f : 255.0f;
    }
  }
}

bool MeshRasterizer::Texture(warpix::RasterTexture& texture) const {
  if (m_bInPlace) {
    // The picture as it is now: same size as when built, or nothing.
    const R2Image& picture = m_Deformator.m_Image;
    if (!picture.IsValid() || picture.Width() != m_iWidth || picture.Height() != m_iHeight ||
        picture.NComponents() != 3) {
      return false;
    }
    texture = {nullptr, m_iWidth, m_iHeight, picture.Pixels(), picture.RowSize()};
    return true;
  }
  if (m_Texels.empty()) return false;
  texture = {m_Texels.data(), m_iWidth, m_iHeight, nullptr, 0};
  return true;
}

namespace {

// Scan-converts every face (top-left rule, folded faces turned
// counter-clockwise, flat or non-finite faces skipped): for each row of a
// face's box, span(face index, face, row parts, i0, i1, row pixels) shades
// the covered pixel centres i + 0.5, i0 <= i <= i1, and returns how many it
// shaded. Returns the number of pixels shaded.
template <class Span>
long long ScanFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                    const std::vector<Warpixator::ImgFace>& faces, int width, int height,
                    unsigned char* rgba, Span&& span) {
  long long written = 0;
  const int count = static_cast<int>(vertices.size());
  for (size_t f = 0; f < faces.size(); ++f) {
    const Warpixator::ImgFace& face = faces[f];
    int index[3] = {face.m_iV0, face.m_iV1, face.m_iV2};
    bool valid = true;
    for (int k : index) valid = valid && k >= 0 && k < count;
    if (!valid) continue;
    Point p[3];
    for (int k = 0; k < 3; ++k) {
      const Warpixator::ImgVertex& v = vertices[index[k]];
      p[k] = {v.m_fX * width, v.m_fY * height};
    }
    double area = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    if (!(std::fabs(area) > 0.0) || !std::isfinite(area)) continue;  // flat, or not a number
    if (area < 0.0) {
      // A folded face is drawn too, turned counter-clockwise.
      std::swap(p[1], p[2]);
      std::swap(index[1], index[2]);
      area = -area;
    }
    const double minX = std::min({p[0].x, p[1].x, p[2].x}), maxX = std::max({p[0].x, p[1].x, p[2].x});
    const double minY = std::min({p[0].y, p[1].y, p[2].y}), maxY = std::max({p[0].y, p[1].y, p[2].y});
    // Pixel centres i + 0.5 inside the box, clipped to the output while still
    // doubles: a corner far outside (1e200) must neither overflow the
    // conversion to int nor widen the span beyond the output.
    const double left = std::max(0.0, std::ceil(minX - 0.5));
    const double right = std::min(width - 1.0, std::floor(maxX - 0.5));
    const double bottom = std::max(0.0, std::ceil(minY - 0.5));
    const double top = std::min(height - 1.0, std::floor(maxY - 0.5));
    if (!(left <= right) || !(bottom <= top)) continue;
    const int i0 = static_cast<int>(left), i1 = static_cast<int>(right);
    const int j0 = static_cast<int>(bottom), j1 = static_cast<int>(top);
    // Edge k is opposite corner k.
    const Point from[3] = {p[1], p[2], p[0]}, to[3] = {p[2], p[0], p[1]};
    const Edge edge[3] = {Edge(from[0], to[0]), Edge(from[1], to[1]), Edge(from[2], to[2])};
    warpix::RasterFace scan;
    for (int k = 0; k < 3; ++k) {
      scan.ax[k] = edge[k].ax;
      scan.dy[k] = edge[k].dy;
      scan.reversed[k] = edge[k].reversed;
      scan.owns[k] = OwnsEdgePoint(from[k], to[k]);
      scan.texU[k] = vertices[index[k]].m_fTexU;
      scan.texV[k] = vertices[index[k]].m_fTexV;
    }
    scan.inverse = 1.0 / area;
    for (int j = j0; j <= j1; ++j) {
      const double y = j + 0.5;
      const double row[3] = {edge[0].Row(y), edge[1].Row(y), edge[2].Row(y)};
      written += span(f, scan, row, i0, i1, rgba + static_cast<size_t>(j) * width * 4);
    }
  }
  return written;
}

}  // namespace

long long MeshRasterizer::RasterizeFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                         const std::vector<Warpixator::ImgFace>& faces, int width,
                                         int height, unsigned char* rgba) const {
  warpix::RasterTexture texture;
  if (width < 1 || height < 1 || !Texture(texture)) return 0;
  return ScanFaces(vertices, faces, width, height, rgba,
                   [&texture](size_t, const warpix::RasterFace& face, const double* row, int i0,
                              int i1, unsigned char* pixels) {
                     return warpix::RasterTexturedSpan(face, row, i0, i1, texture, pixels);
                   });
}

long long MeshRasterizer::RasterizeFlatFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                             const std::vector<Warpixator::ImgFace>& faces,
                                             const std::vector<unsigned char>& colours, int width,
                                             int height, unsigned char* rgba) {
  if (width < 1 || height < 1 || colours.size() < 4 * faces.size()) return 0;
  return ScanFaces(vertices, faces, width, height, rgba,
                   [&colours](size_t f, const warpix::RasterFace& face, const double* row, int i0,
                              int i1, unsigned char* pixels) {
                     return warpix::RasterFlatSpan(face, row, i0, i1, &colours[4 * f], pixels);
                   });
}

bool MeshRasterizer::Render(int width, int height, const Background& background, R2Image& out) {
  warpix::RasterTexture texture;
  if (width < 1 || height < 1 || !Texture(texture)) return false;
  // Rows of an RGBA image are exactly 4 x width bytes: no padding. Every
  // byte is written below, so a new buffer is not cleared first.
  if (out.Width() != width || out.Height() != height || out.NComponents() != 4 || !out.IsValid()) {
    if (!out.Allocate(width, height, 4, false)) return false;
  }
  unsigned char* rgba = out.Pixels();
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  if (m_bMesh) {
    // The mesh may leave pixels uncovered: they show the background.
    const unsigned char fill[4] = {background.rgb[0], background.rgb[1], background.rgb[2],
                                   static_cast<unsigned char>(background.transparent ? 0 : 255)};
    std::uint32_t pattern;
    std::memcpy(&pattern, fill, 4);
    std::uint32_t* words = reinterpret_cast<std::uint32_t*>(rgba);
    std::fill(words, words + bytes / 4, pattern);
    RasterizeFaces(m_Deformator.m_Vertices, m_Deformator.m_Faces, width, height, rgba);
  } else {
    // Pixel mode shows the picture on the whole unit square: its two faces
    // cover every pixel centre once (all lie strictly inside the square, and
    // the diagonal's belong to one face), so no background shows.
    std::vector<Warpixator::ImgVertex> square(4);
    const double corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; ++k) {
      square[k].m_fX = square[k].m_fRestX = square[k].m_fTexU = corner[k][0];
      square[k].m_fY = square[k].m_fRestY = square[k].m_fTexV = corner[k][1];
      square[k].id = k;
    }
    std::vector<Warpixator::ImgFace> faces(2);
    faces[0] = {0, 1, 2};
    faces[1] = {0, 2, 3};
    RasterizeFaces(square, faces, width, height, rgba);
  }
  if (!background.transparent && !m_bInPlace) {
    // Transparent texels show the background, as the window's blending
    // would: alpha composited over the background colour. (Opaque texels
    // keep their colour, so a texture without alpha needs no pass.)
    for (size_t k = 0; k < bytes; k += 4) {
      const int a = rgba[k + 3];
      for (int c = 0; c < 3; ++c)
        rgba[k + c] = static_cast<unsigned char>((rgba[k + c] * a + background.rgb[c] * (255 - a) + 127) / 255);
      rgba[k + 3] = 255;
    }
  }
  return true;
}
