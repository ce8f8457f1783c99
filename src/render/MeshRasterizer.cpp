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
  Edge() = default;
  Edge(Point a, Point b) {
    reversed = b.x < a.x || (b.x == a.x && b.y < a.y);
    if (reversed) std::swap(a, b);
    ax = a.x, ay = a.y, dx = b.x - a.x, dy = b.y - a.y;
  }
  /// The part that depends on the row only.
  double Row(double y) const { return dx * (y - ay); }
  bool reversed = false;
  double ax = 0.0, ay = 0.0, dx = 0.0, dy = 0.0;
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

// A face ready to scan: its edges, the kernel's view of it and the pixel
// centres of its box on the output.
struct FaceScan {
  Edge edge[3];
  warpix::RasterFace scan;
  int i0 = 0, i1 = -1, j0 = 0, j1 = -1;
};

// Sets up a face for the scan (top-left rule, a folded face turned
// counter-clockwise). False when it draws nothing: an index out of range, a
// flat face, a corner not a number, or a box off the output.
bool SetUpFace(const std::vector<Warpixator::ImgVertex>& vertices, const Warpixator::ImgFace& face,
               int width, int height, FaceScan& out) {
  const int count = static_cast<int>(vertices.size());
  int index[3] = {face.m_iV0, face.m_iV1, face.m_iV2};
  for (int k : index) {
    if (k < 0 || k >= count) return false;
  }
  Point p[3];
  for (int k = 0; k < 3; ++k) {
    const Warpixator::ImgVertex& v = vertices[index[k]];
    p[k] = {v.m_fX * width, v.m_fY * height};
  }
  double area = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
  if (!(std::fabs(area) > 0.0) || !std::isfinite(area)) return false;  // flat, or not a number
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
  if (!(left <= right) || !(bottom <= top)) return false;
  out.i0 = static_cast<int>(left), out.i1 = static_cast<int>(right);
  out.j0 = static_cast<int>(bottom), out.j1 = static_cast<int>(top);
  // Edge k is opposite corner k.
  const Point from[3] = {p[1], p[2], p[0]}, to[3] = {p[2], p[0], p[1]};
  for (int k = 0; k < 3; ++k) {
    out.edge[k] = Edge(from[k], to[k]);
    out.scan.ax[k] = out.edge[k].ax;
    out.scan.dy[k] = out.edge[k].dy;
    out.scan.reversed[k] = out.edge[k].reversed;
    out.scan.owns[k] = OwnsEdgePoint(from[k], to[k]);
    out.scan.texU[k] = vertices[index[k]].m_fTexU;
    out.scan.texV[k] = vertices[index[k]].m_fTexV;
  }
  out.scan.inverse = 1.0 / area;
  return true;
}

// Scans rows jFrom..jTo of a set-up face: span(face index, face, row parts,
// i0, i1, row pixels) shades the covered pixel centres i + 0.5, i0 <= i <= i1,
// of row j, found at rows + (j - rowFirst) x width x 4, and returns how many
// it shaded. Returns the number of pixels shaded.
template <class Span>
long long ScanRows(const FaceScan& face, size_t f, int jFrom, int jTo, int width, int rowFirst,
                   unsigned char* rows, Span&& span) {
  long long written = 0;
  for (int j = jFrom; j <= jTo; ++j) {
    const double y = j + 0.5;
    const double row[3] = {face.edge[0].Row(y), face.edge[1].Row(y), face.edge[2].Row(y)};
    written += span(f, face.scan, row, face.i0, face.i1,
                    rows + static_cast<size_t>(j - rowFirst) * width * 4);
  }
  return written;
}

// Scan-converts every face, in face order, over the whole width x height
// output rgba (rows bottom first). Returns the number of pixels shaded.
template <class Span>
long long ScanFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                    const std::vector<Warpixator::ImgFace>& faces, int width, int height,
                    unsigned char* rgba, Span&& span) {
  long long written = 0;
  FaceScan face;
  for (size_t f = 0; f < faces.size(); ++f) {
    if (SetUpFace(vertices, faces[f], width, height, face)) {
      written += ScanRows(face, f, face.j0, face.j1, width, 0, rgba, span);
    }
  }
  return written;
}

// The bands of a height-row output, bandRows rows each from the top row down
// (the last band may have fewer), and for each the faces whose box reaches
// it, in face order: a pixel covered by several faces then gets the last
// one's colour, as in a scan of the whole output.
class FaceBands {
 public:
  FaceBands(const std::vector<Warpixator::ImgVertex>& vertices,
            const std::vector<Warpixator::ImgFace>& faces, int width, int height, int bandRows)
      : m_iHeight(height), m_iBandRows(bandRows), m_Start((height + bandRows - 1) / bandRows + 1, 0) {
    // The bands' sizes, then their lists.
    std::vector<std::pair<int, int>> range(faces.size(), {1, 0});  // first and last band
    FaceScan face;
    for (size_t f = 0; f < faces.size(); ++f) {
      if (!SetUpFace(vertices, faces[f], width, height, face)) continue;
      range[f] = {Band(face.j1), Band(face.j0)};
      for (int b = range[f].first; b <= range[f].second; ++b) ++m_Start[b + 1];
    }
    for (size_t b = 1; b < m_Start.size(); ++b) m_Start[b] += m_Start[b - 1];
    m_Faces.resize(m_Start.back());
    std::vector<size_t> next(m_Start.begin(), m_Start.end() - 1);
    for (size_t f = 0; f < faces.size(); ++f) {
      for (int b = range[f].first; b <= range[f].second; ++b) m_Faces[next[b]++] = f;
    }
  }
  int Count() const { return static_cast<int>(m_Start.size()) - 1; }
  /// Band b holds rows [First(b), First(b) + Rows(b)).
  int First(int b) const { return std::max(0, m_iHeight - (b + 1) * m_iBandRows); }
  int Rows(int b) const { return m_iHeight - b * m_iBandRows - First(b); }
  const size_t* FacesBegin(int b) const { return m_Faces.data() + m_Start[b]; }
  const size_t* FacesEnd(int b) const { return m_Faces.data() + m_Start[b + 1]; }

 private:
  int Band(int row) const { return (m_iHeight - 1 - row) / m_iBandRows; }

  int m_iHeight, m_iBandRows;
  std::vector<size_t> m_Start;  // band b's faces: m_Faces[m_Start[b], m_Start[b + 1])
  std::vector<size_t> m_Faces;
};

// The span function that textures: the kernel's sampling of texture.
auto TexturedSpan(const warpix::RasterTexture& texture) {
  return [&texture](size_t, const warpix::RasterFace& face, const double* row, int i0, int i1,
                    unsigned char* pixels) {
    return warpix::RasterTexturedSpan(face, row, i0, i1, texture, pixels);
  };
}

// The two faces that show the picture on the whole unit square (pixel mode):
// they cover every pixel centre once (all lie strictly inside the square, and
// the diagonal's belong to one face), so no background shows.
void PictureSquare(std::vector<Warpixator::ImgVertex>& square, std::vector<Warpixator::ImgFace>& faces) {
  square.assign(4, Warpixator::ImgVertex());
  const double corner[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int k = 0; k < 4; ++k) {
    square[k].m_fX = square[k].m_fRestX = square[k].m_fTexU = corner[k][0];
    square[k].m_fY = square[k].m_fRestY = square[k].m_fTexV = corner[k][1];
    square[k].id = k;
  }
  faces.assign(2, Warpixator::ImgFace());
  faces[0] = {0, 1, 2};
  faces[1] = {0, 2, 3};
}

}  // namespace

long long MeshRasterizer::RasterizeFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                         const std::vector<Warpixator::ImgFace>& faces, int width,
                                         int height, unsigned char* rgba) const {
  warpix::RasterTexture texture;
  if (width < 1 || height < 1 || !Texture(texture)) return 0;
  return ScanFaces(vertices, faces, width, height, rgba, TexturedSpan(texture));
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

bool MeshRasterizer::CanRender(int width, int height) const {
  warpix::RasterTexture texture;
  return width >= 1 && height >= 1 && Texture(texture);
}

bool MeshRasterizer::Render(int width, int height, const Background& background, R2Image& out) {
  warpix::RasterTexture texture;
  if (width < 1 || height < 1 || !Texture(texture)) return false;
  // Rows of an RGBA image are exactly 4 x width bytes: no padding. Every
  // byte is written below, so a new buffer is not cleared first.
  if (out.Width() != width || out.Height() != height || out.NComponents() != 4 || !out.IsValid()) {
    if (!out.Allocate(width, height, 4, false)) return false;
  }
  std::vector<Warpixator::ImgVertex> square;
  std::vector<Warpixator::ImgFace> squareFaces;
  if (!m_bMesh) PictureSquare(square, squareFaces);
  unsigned char* rgba = out.Pixels();
  FillBackground(background, width, height, rgba);
  ScanFaces(m_bMesh ? m_Deformator.m_Vertices : square, m_bMesh ? m_Deformator.m_Faces : squareFaces,
            width, height, rgba, TexturedSpan(texture));
  Composite(background, width, height, rgba);
  return true;
}

bool MeshRasterizer::RenderBands(int width, int height, const Background& background, int bandRows,
                                 const BandSink& sink) {
  warpix::RasterTexture texture;
  if (width < 1 || height < 1 || !Texture(texture)) return false;
  bandRows = std::max(1, std::min(bandRows, height));
  std::vector<Warpixator::ImgVertex> square;
  std::vector<Warpixator::ImgFace> squareFaces;
  if (!m_bMesh) PictureSquare(square, squareFaces);
  const std::vector<Warpixator::ImgVertex>& vertices = m_bMesh ? m_Deformator.m_Vertices : square;
  const std::vector<Warpixator::ImgFace>& faces = m_bMesh ? m_Deformator.m_Faces : squareFaces;
  const FaceBands bands(vertices, faces, width, height, bandRows);
  // One band's rows, reused: a few hundred kilobytes where the whole picture
  // would take megabytes, their pages mapped once.
  std::vector<unsigned char> rows(static_cast<size_t>(width) * bandRows * 4);
  FaceScan face;
  for (int b = 0; b < bands.Count(); ++b) {
    const int first = bands.First(b), count = bands.Rows(b);
    FillBackground(background, width, count, rows.data());
    for (const size_t* f = bands.FacesBegin(b); f != bands.FacesEnd(b); ++f) {
      if (!SetUpFace(vertices, faces[*f], width, height, face)) continue;  // (listed: it draws)
      ScanRows(face, *f, std::max(face.j0, first), std::min(face.j1, first + count - 1), width, first,
               rows.data(), TexturedSpan(texture));
    }
    Composite(background, width, count, rows.data());
    if (!sink(first, count, rows.data())) return false;
  }
  return true;
}

void MeshRasterizer::FillBackground(const Background& background, int width, int rows,
                                    unsigned char* rgba) const {
  // The mesh may leave pixels uncovered: they show the background. (The
  // picture's square covers every pixel.)
  if (!m_bMesh) return;
  const unsigned char fill[4] = {background.rgb[0], background.rgb[1], background.rgb[2],
                                 static_cast<unsigned char>(background.transparent ? 0 : 255)};
  std::uint32_t pattern;
  std::memcpy(&pattern, fill, 4);
  std::uint32_t* words = reinterpret_cast<std::uint32_t*>(rgba);
  std::fill(words, words + static_cast<size_t>(width) * rows, pattern);
}

void MeshRasterizer::Composite(const Background& background, int width, int rows,
                               unsigned char* rgba) const {
  // Transparent texels show the background, as the window's blending would:
  // alpha composited over the background colour. (Opaque texels keep their
  // colour, so a texture without alpha needs no pass.)
  if (background.transparent || m_bInPlace) return;
  const size_t bytes = static_cast<size_t>(width) * rows * 4;
  for (size_t k = 0; k < bytes; k += 4) {
    const int a = rgba[k + 3];
    for (int c = 0; c < 3; ++c)
      rgba[k + c] = static_cast<unsigned char>((rgba[k + c] * a + background.rgb[c] * (255 - a) + 127) / 255);
    rgba[k + 3] = 255;
  }
}
