#include "render/MeshRasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct Point {
  double x, y;
};

// One edge's function: twice the signed area of (a, b, p), positive when p
// lies left of a -> b. It is evaluated with the edge's ends in a fixed order
// (the lexicographically smaller first) and the sign restored, so the two
// faces that share an edge get exactly opposite values and a pixel centre
// on it is never claimed by both or by neither.
struct Edge {
  Edge(Point a, Point b) {
    reversed = b.x < a.x || (b.x == a.x && b.y < a.y);
    if (reversed) std::swap(a, b);
    ax = a.x, ay = a.y, dx = b.x - a.x, dy = b.y - a.y;
  }
  /// The part that depends on the row only.
  double Row(double y) const { return dx * (y - ay); }
  double At(double row, double x) const {
    const double e = row - dy * (x - ax);
    return reversed ? -e : e;
  }
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

MeshRasterizer::MeshRasterizer(Warpixator& deformator)
    : m_iWidth(0),
      m_iHeight(0),
      m_bMesh(deformator.m_DeformationType == Warpixator::DEFORM_REGULAR_MESH),
      m_Deformator(deformator) {
  const R2Image& picture = deformator.m_Image;
  if (!picture.IsValid()) return;
  m_iWidth = picture.Width();
  m_iHeight = picture.Height();
  m_Texels.resize(static_cast<size_t>(m_iWidth) * m_iHeight * 4);
  const int nc = picture.NComponents();
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
      t[3] = deformator.IsTextureTransparent(x, y) ? 0.0f : 255.0f;
    }
  }
}

void MeshRasterizer::Sample(double u, double v, unsigned char* rgba) const {
  // Interpolated texture coordinates lie in [0, 1] up to rounding: clamped,
  // x and y lie in [-0.5, size - 0.5], so truncating x + 1 is the floor.
  u = std::min(1.0, std::max(0.0, u));
  v = std::min(1.0, std::max(0.0, v));
  const double x = u * m_iWidth - 0.5, y = v * m_iHeight - 0.5;
  const int fx = static_cast<int>(x + 1.0) - 1, fy = static_cast<int>(y + 1.0) - 1;
  const float ax = static_cast<float>(x - fx), ay = static_cast<float>(y - fy);
  const int x0 = std::max(fx, 0), x1 = std::min(fx + 1, m_iWidth - 1);
  const int y0 = std::max(fy, 0), y1 = std::min(fy + 1, m_iHeight - 1);
  const float* t00 = &m_Texels[(static_cast<size_t>(y0) * m_iWidth + x0) * 4];
  const float* t10 = &m_Texels[(static_cast<size_t>(y0) * m_iWidth + x1) * 4];
  const float* t01 = &m_Texels[(static_cast<size_t>(y1) * m_iWidth + x0) * 4];
  const float* t11 = &m_Texels[(static_cast<size_t>(y1) * m_iWidth + x1) * 4];
  // Bilinear weights of texels in [0, 255] keep every channel in [0, 255].
#if defined(__SSE2__)
  const __m128 wx = _mm_set1_ps(ax), wy = _mm_set1_ps(ay);
  const __m128 a00 = _mm_loadu_ps(t00), a10 = _mm_loadu_ps(t10);
  const __m128 a01 = _mm_loadu_ps(t01), a11 = _mm_loadu_ps(t11);
  const __m128 bottom = _mm_add_ps(a00, _mm_mul_ps(wx, _mm_sub_ps(a10, a00)));
  const __m128 top = _mm_add_ps(a01, _mm_mul_ps(wx, _mm_sub_ps(a11, a01)));
  const __m128 value = _mm_add_ps(_mm_add_ps(bottom, _mm_mul_ps(wy, _mm_sub_ps(top, bottom))),
                                  _mm_set1_ps(0.5f));
  const __m128i whole = _mm_cvttps_epi32(value);
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(whole, whole), _mm_setzero_si128());
  const int packed = _mm_cvtsi128_si32(bytes);
  std::memcpy(rgba, &packed, 4);
#else
  for (int c = 0; c < 4; ++c) {
    const float bottom = t00[c] + ax * (t10[c] - t00[c]);
    const float top = t01[c] + ax * (t11[c] - t01[c]);
    rgba[c] = static_cast<unsigned char>(bottom + ay * (top - bottom) + 0.5f);
  }
#endif
}

namespace {

// Scan-converts every face (top-left rule, folded faces turned
// counter-clockwise, flat or non-finite faces skipped) and calls
// shade(face index, w0, w1, w2, corners, pixel) for each pixel centre it
// covers, with the barycentric weights of the three corners. Returns the
// number of pixels shaded.
template <class Shade>
long long ScanFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                    const std::vector<Warpixator::ImgFace>& faces, int width, int height,
                    unsigned char* rgba, Shade&& shade) {
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
    const Warpixator::ImgVertex* v[3] = {&vertices[index[0]], &vertices[index[1]],
                                         &vertices[index[2]]};
    const double minX = std::min({p[0].x, p[1].x, p[2].x}), maxX = std::max({p[0].x, p[1].x, p[2].x});
    const double minY = std::min({p[0].y, p[1].y, p[2].y}), maxY = std::max({p[0].y, p[1].y, p[2].y});
    // Pixel centres i + 0.5 inside the box.
    const int i0 = static_cast<int>(std::max(0.0, std::ceil(minX - 0.5)));
    const int i1 = static_cast<int>(std::min(width - 1.0, std::floor(maxX - 0.5)));
    const int j0 = static_cast<int>(std::max(0.0, std::ceil(minY - 0.5)));
    const int j1 = static_cast<int>(std::min(height - 1.0, std::floor(maxY - 0.5)));
    if (i0 > i1 || j0 > j1) continue;
    // Edge k is opposite corner k.
    const Point from[3] = {p[1], p[2], p[0]}, to[3] = {p[2], p[0], p[1]};
    const Edge edge[3] = {Edge(from[0], to[0]), Edge(from[1], to[1]), Edge(from[2], to[2])};
    bool owns[3];
    for (int k = 0; k < 3; ++k) owns[k] = OwnsEdgePoint(from[k], to[k]);
    const double inverse = 1.0 / area;
    for (int j = j0; j <= j1; ++j) {
      const double y = j + 0.5;
      const double row0 = edge[0].Row(y), row1 = edge[1].Row(y), row2 = edge[2].Row(y);
      unsigned char* row = rgba + static_cast<size_t>(j) * width * 4;
      for (int i = i0; i <= i1; ++i) {
        const double x = i + 0.5;
        const double e0 = edge[0].At(row0, x);
        if (!(e0 > 0.0 || (e0 == 0.0 && owns[0]))) continue;
        const double e1 = edge[1].At(row1, x);
        if (!(e1 > 0.0 || (e1 == 0.0 && owns[1]))) continue;
        const double e2 = edge[2].At(row2, x);
        if (!(e2 > 0.0 || (e2 == 0.0 && owns[2]))) continue;
        shade(f, e0 * inverse, e1 * inverse, e2 * inverse, v, row + static_cast<size_t>(i) * 4);
        ++written;
      }
    }
  }
  return written;
}

}  // namespace

long long MeshRasterizer::RasterizeFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                         const std::vector<Warpixator::ImgFace>& faces, int width,
                                         int height, unsigned char* rgba) const {
  if (m_Texels.empty() || width < 1 || height < 1) return 0;
  return ScanFaces(vertices, faces, width, height, rgba,
                   [this](size_t, double w0, double w1, double w2,
                          const Warpixator::ImgVertex* const* v, unsigned char* pixel) {
                     const double u = w0 * v[0]->m_fTexU + w1 * v[1]->m_fTexU + w2 * v[2]->m_fTexU;
                     const double t = w0 * v[0]->m_fTexV + w1 * v[1]->m_fTexV + w2 * v[2]->m_fTexV;
                     Sample(u, t, pixel);
                   });
}

long long MeshRasterizer::RasterizeFlatFaces(const std::vector<Warpixator::ImgVertex>& vertices,
                                             const std::vector<Warpixator::ImgFace>& faces,
                                             const std::vector<unsigned char>& colours, int width,
                                             int height, unsigned char* rgba) {
  if (width < 1 || height < 1 || colours.size() < 4 * faces.size()) return 0;
  return ScanFaces(vertices, faces, width, height, rgba,
                   [&colours](size_t f, double, double, double, const Warpixator::ImgVertex* const*,
                              unsigned char* pixel) { std::memcpy(pixel, &colours[4 * f], 4); });
}

bool MeshRasterizer::Render(int width, int height, const Background& background, R2Image& out) {
  if (m_Texels.empty() || width < 1 || height < 1) return false;
  // Rows of an RGBA image are exactly 4 x width bytes: no padding.
  if (out.Width() != width || out.Height() != height || out.NComponents() != 4 || !out.IsValid()) {
    R2Image image(width, height, 4);
    if (!image.IsValid()) return false;
    out = image;
  }
  unsigned char* rgba = out.Pixels();
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  for (size_t k = 0; k < bytes; k += 4) {
    rgba[k] = background.rgb[0];
    rgba[k + 1] = background.rgb[1];
    rgba[k + 2] = background.rgb[2];
    rgba[k + 3] = background.transparent ? 0 : 255;
  }
  if (m_bMesh) {
    RasterizeFaces(m_Deformator.m_Vertices, m_Deformator.m_Faces, width, height, rgba);
  } else {
    // Pixel mode shows the picture on the whole unit square.
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
  if (!background.transparent) {
    // Transparent texels show the background, as the window's blending
    // would: alpha composited over the background colour.
    for (size_t k = 0; k < bytes; k += 4) {
      const int a = rgba[k + 3];
      for (int c = 0; c < 3; ++c)
        rgba[k + c] = static_cast<unsigned char>((rgba[k + c] * a + background.rgb[c] * (255 - a) + 127) / 255);
      rgba[k + 3] = 255;
    }
  }
  return true;
}
