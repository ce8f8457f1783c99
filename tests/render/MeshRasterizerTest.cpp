#include "render/MeshRasterizer.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../deform/DeformTesting.h"
#include "../image/ImageTestFiles.h"
#include "TestCommon.h"

namespace {

using Vertices = std::vector<Warpixator::ImgVertex>;
using Faces = std::vector<Warpixator::ImgFace>;

// The picture as the rasteriser samples it: RGBA floats, alpha 0 where the
// deformator calls a texel transparent.
struct Texture {
  explicit Texture(Warpixator& d) : width(d.m_Image.Width()), height(d.m_Image.Height()) {
    for (int k = 0; k < width * height; ++k) {
      const unsigned char* p = d.m_Image.Pixels() + static_cast<size_t>(k / width) * d.m_Image.RowSize() + 3 * (k % width);
      texels.insert(texels.end(), {float(p[0]), float(p[1]), float(p[2]), d.IsTextureTransparent(k % width, k / width) ? 0.0f : 255.0f});
    }
  }
  std::vector<float> texels;
  int width, height;
};

void OnePixelSample(const Texture& t, double u, double v, unsigned char* rgba) {
  const double x = std::clamp(u, 0.0, 1.0) * t.width - 0.5, y = std::clamp(v, 0.0, 1.0) * t.height - 0.5;
  const int fx = static_cast<int>(x + 1.0) - 1, fy = static_cast<int>(y + 1.0) - 1;
  const float ax = static_cast<float>(x - fx), ay = static_cast<float>(y - fy);
  const int x0 = std::max(fx, 0), x1 = std::min(fx + 1, t.width - 1);
  const int y0 = std::max(fy, 0), y1 = std::min(fy + 1, t.height - 1);
  for (int c = 0; c < 4; ++c) {
    auto at = [&](int tx, int ty) { return t.texels[(static_cast<size_t>(ty) * t.width + tx) * 4 + c]; };
    const float bottom = at(x0, y0) + ax * (at(x1, y0) - at(x0, y0));
    const float top = at(x0, y1) + ax * (at(x1, y1) - at(x0, y1));
    rgba[c] = static_cast<unsigned char>(std::clamp(static_cast<int>(bottom + ay * (top - bottom) + 0.5f), 0, 255));
  }
}

// The one-pixel loop the kernel's lanes reproduce: textured when colours is
// null, else one colour per face. Returns the number of pixels written;
// onEdge counts those whose centre lies exactly on an edge of their face.
long long OnePixelRender(const Vertices& vertices, const Faces& faces, const Texture& texture,
                         const std::vector<unsigned char>* colours, int width, int height,
                         std::vector<unsigned char>& rgba, long long* onEdge = nullptr) {
  long long written = 0;
  for (size_t f = 0; f < faces.size(); ++f) {
    int index[3] = {faces[f].m_iV0, faces[f].m_iV1, faces[f].m_iV2};
    if (std::any_of(index, index + 3, [&](int k) { return k < 0 || k >= static_cast<int>(vertices.size()); })) continue;
    double px[3], py[3];
    for (int k = 0; k < 3; ++k) px[k] = vertices[index[k]].m_fX * width, py[k] = vertices[index[k]].m_fY * height;
    double area = (px[1] - px[0]) * (py[2] - py[0]) - (py[1] - py[0]) * (px[2] - px[0]);
    if (!(std::fabs(area) > 0.0) || !std::isfinite(area)) continue;
    if (area < 0.0) {
      std::swap(px[1], px[2]), std::swap(py[1], py[2]), std::swap(index[1], index[2]);
      area = -area;
    }
    const int i0 = static_cast<int>(std::max(0.0, std::ceil(*std::min_element(px, px + 3) - 0.5)));
    const int i1 = static_cast<int>(std::min(width - 1.0, std::floor(*std::max_element(px, px + 3) - 0.5)));
    const int j0 = static_cast<int>(std::max(0.0, std::ceil(*std::min_element(py, py + 3) - 0.5)));
    const int j1 = static_cast<int>(std::min(height - 1.0, std::floor(*std::max_element(py, py + 3) - 0.5)));
    // Edge k runs from corner k + 1 to corner k + 2, its ends taken in
    // lexicographic order; it owns its centres when pointing down or along +x.
    bool reversed[3], owns[3];
    double ax[3], ay[3], dx[3], dy[3];
    for (int k = 0; k < 3; ++k) {
      int a = (k + 1) % 3, b = (k + 2) % 3;
      owns[k] = py[b] - py[a] < 0.0 || (py[b] - py[a] == 0.0 && px[b] - px[a] > 0.0);
      reversed[k] = px[b] < px[a] || (px[b] == px[a] && py[b] < py[a]);
      if (reversed[k]) std::swap(a, b);
      ax[k] = px[a], ay[k] = py[a], dx[k] = px[b] - px[a], dy[k] = py[b] - py[a];
    }
    const double inverse = 1.0 / area;
    for (int j = j0; j <= j1; ++j)
      for (int i = i0; i <= i1; ++i) {
        double w[3];
        bool inside = true, edge = false;
        for (int k = 0; k < 3 && inside; ++k) {
          double e = dx[k] * (j + 0.5 - ay[k]) - dy[k] * (i + 0.5 - ax[k]);
          if (reversed[k]) e = -e;
          inside = e > 0.0 || (e == 0.0 && owns[k]);
          edge = edge || e == 0.0;
          w[k] = e * inverse;
        }
        if (!inside) continue;
        if (onEdge && edge) ++*onEdge;
        unsigned char* pixel = &rgba[(static_cast<size_t>(j) * width + i) * 4];
        const Warpixator::ImgVertex* v[3] = {&vertices[index[0]], &vertices[index[1]], &vertices[index[2]]};
        if (colours) {
          std::copy_n(&(*colours)[4 * f], 4, pixel);
        } else {
          OnePixelSample(texture, w[0] * v[0]->m_fTexU + w[1] * v[1]->m_fTexU + w[2] * v[2]->m_fTexU,
                         w[0] * v[0]->m_fTexV + w[1] * v[1]->m_fTexV + w[2] * v[2]->m_fTexV, pixel);
        }
        ++written;
      }
  }
  return written;
}

// A picture of random colours, a fifth of its texels white and transparent.
struct Picture {
  Picture() : image(23, 17, 3), deformator(image, "kernel") {
    std::mt19937 gen(21);
    for (int k = 0; k < 23 * 17; ++k)
      image.SetPixelRGB(k % 23, k / 23, gen() % 5 == 0 ? RNRgb(1, 1, 1) : RNRgb(gen() % 250 / 255.0, gen() % 256 / 255.0, gen() % 256 / 255.0));
    warpix_test::CoutCapture quiet;
    deformator.SwitchMeshBasedDeformation(1, 1, false, true, RNRgb(1, 1, 1), 0.01, 0, 1, 0, 1);
  }
  R2Image image;
  Warpixator deformator;
};

// The first RGBA pixel at which a and b differ, -1 when none.
long long FirstDifferentPixel(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin()).first;
  return at == a.end() ? -1 : (at - a.begin()) / 4;
}

// Renders the faces textured and flat on every target this processor runs and
// expects the bytes and counts of the one-pixel loop. Returns the flat count.
long long ExpectEveryTargetMatches(Picture& picture, const Vertices& vertices, const Faces& faces,
                                   int width, int height, const std::string& what) {
  const Texture texture(picture.deformator);
  const MeshRasterizer rasterizer(picture.deformator);
  std::mt19937 gen(5);
  std::vector<unsigned char> colours(4 * faces.size());
  for (size_t k = 0; k < colours.size(); ++k) colours[k] = k % 4 == 3 ? 255 : static_cast<unsigned char>(gen());
  // A background of its own so that a pixel written outside its face shows.
  std::vector<unsigned char> background(static_cast<size_t>(width) * height * 4);
  for (size_t k = 0; k < background.size(); ++k) background[k] = static_cast<unsigned char>(k * 37 % 251);
  std::vector<unsigned char> texturedRef = background, flatRef = background;
  const long long texturedCount = OnePixelRender(vertices, faces, texture, nullptr, width, height, texturedRef);
  const long long flatCount = OnePixelRender(vertices, faces, texture, &colours, width, height, flatRef);
  EXPECT_EQ(texturedCount, flatCount) << what;
  EXPECT_GT(warpix_test::ForEveryTarget([&](const char* name) {
    std::vector<unsigned char> textured = background, flat = background;
    EXPECT_EQ(rasterizer.RasterizeFaces(vertices, faces, width, height, textured.data()), texturedCount) << name << " " << what;
    EXPECT_EQ(MeshRasterizer::RasterizeFlatFaces(vertices, faces, colours, width, height, flat.data()), flatCount) << name << " " << what;
    EXPECT_EQ(FirstDifferentPixel(textured, texturedRef), -1) << name << " " << what << " textured";
    EXPECT_EQ(FirstDifferentPixel(flat, flatRef), -1) << name << " " << what << " flat";
  }), 0);
  return flatCount;
}

Warpixator::ImgVertex Vertex(double x, double y, double u, double v) {
  Warpixator::ImgVertex vertex;
  return vertex.m_fX = x, vertex.m_fY = y, vertex.m_fTexU = u, vertex.m_fTexV = v, vertex;
}

using image_test::At;

MeshRasterizer::Background Transparent() { return MeshRasterizer::Background(); }

// An opaque background no picture pixel is likely to equal.
MeshRasterizer::Background Grey() {
  MeshRasterizer::Background grey;
  grey.transparent = false;
  grey.rgb[0] = 40, grey.rgb[1] = 80, grey.rgb[2] = 120;
  return grey;
}

}  // namespace

// Jittered grids, folded far enough to overlap, and a soup of random
// triangles partly off the output (clamped boxes), with texture coordinates a
// little beyond [0, 1] (clamped samples), flat and invalid faces among them.
TEST(MeshRasterizerKernel, RandomMeshesWithFoldsMatchTheOnePixelLoopOnEveryTarget) {
  Picture picture;
  const Texture texture(picture.deformator);
  int transparent = 0;
  for (size_t k = 3; k < texture.texels.size(); k += 4) transparent += texture.texels[k] == 0.0f;
  EXPECT_GT(transparent, 23 * 17 / 10);
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0), wide(-0.2, 1.2), tex(-0.05, 1.05);
  for (double jitter : {0.3, 1.5}) {
    Warpixator grid(picture.image, "grid");
    deform_test::Mesh(grid, 13, 9);
    Vertices vertices = grid.m_Vertices;
    std::uniform_real_distribution<double> move(-jitter, jitter);
    for (auto& v : vertices) {
      v.m_fX += move(gen) / 13, v.m_fY += move(gen) / 9;
      v.m_fTexU = tex(gen), v.m_fTexV = tex(gen);
    }
    ExpectEveryTargetMatches(picture, vertices, grid.m_Faces, 97, 61, "grid jitter " + std::to_string(jitter));
  }
  Vertices soup;
  Faces faces;
  for (int k = 0; k < 40; ++k) {
    for (int c = 0; c < 3; ++c) soup.push_back(Vertex(wide(gen), wide(gen), tex(gen), tex(gen)));
    faces.push_back({3 * k, 3 * k + 1 + (k % 2), 3 * k + 2 - (k % 2)});  // both windings
  }
  faces.push_back({0, 0, 1});     // flat
  faces.push_back({0, 1, 1000});  // no such vertex
  EXPECT_GT(ExpectEveryTargetMatches(picture, soup, faces, 80, 50, "soup"), 0);
}

// Boxes 1 to 19 pixels wide leave every remainder of every vector width: a
// rectangle of exactly that many pixels per row, and a right triangle whose
// rows cover every length up to it.
TEST(MeshRasterizerKernel, SpansOfEveryWidthMatchTheOnePixelLoopOnEveryTarget) {
  Picture picture;
  const int W = 64, H = 32;  // powers of two: pixel positions are exact
  for (int width = 1; width <= 19; ++width) {
    const double left = (width % 7) + 0.25, right = left + width;  // centres strictly inside
    const Vertices vertices = {Vertex(left / W, 1.0 / H, 0, 0),       Vertex(right / W, 1.0 / H, 1, 0),
                               Vertex(right / W, 9.0 / H, 1, 1),      Vertex(left / W, 9.0 / H, 0, 1),
                               Vertex((left + 30) / W, 10.0 / H, 0, 0), Vertex((right + 30) / W, 10.0 / H, 1, 0),
                               Vertex((left + 30) / W, (10.0 + width) / H, 0, 1)};
    const Faces rectangle = {{0, 1, 2}, {0, 2, 3}};
    EXPECT_EQ(ExpectEveryTargetMatches(picture, vertices, rectangle, W, H, "rectangle " + std::to_string(width)), 8 * width);
    ExpectEveryTargetMatches(picture, vertices, {{4, 5, 6}}, W, H, "triangle " + std::to_string(width));
  }
}

// Vertices on pixel centres put many centres exactly on edges shared by two
// faces (horizontal, vertical and diagonal): each is drawn by exactly one
// face, so the faces cover the output once over.
TEST(MeshRasterizerKernel, CentresOnSharedEdgesAreDrawnExactlyOnceOnEveryTarget) {
  Picture picture;
  const int W = 64, H = 64;  // powers of two: pixel positions are exact
  Warpixator grid(picture.image, "grid");
  deform_test::Mesh(grid, 8, 8);
  std::mt19937 gen(3);
  Vertices vertices = grid.m_Vertices;
  for (auto& v : vertices) {
    // Interior vertices moved to a pixel centre within 1.5 pixels (of
    // 8-pixel cells: no face folds); the border stays on the output's.
    if (v.m_fX > 0 && v.m_fX < 1) v.m_fX = (std::round(v.m_fX * W) + static_cast<int>(gen() % 3) - 1 + 0.5) / W;
    if (v.m_fY > 0 && v.m_fY < 1) v.m_fY = (std::round(v.m_fY * H) + static_cast<int>(gen() % 3) - 1 + 0.5) / H;
  }
  const Texture texture(picture.deformator);
  std::vector<unsigned char> scratch(W * H * 4);
  long long onEdge = 0;
  OnePixelRender(vertices, grid.m_Faces, texture, nullptr, W, H, scratch, &onEdge);
  EXPECT_GT(onEdge, W);
  EXPECT_EQ(ExpectEveryTargetMatches(picture, vertices, grid.m_Faces, W, H, "lattice"), W * H);
  warpix_test::ForEveryTarget([&](const char* name) {
    std::vector<unsigned char> colours(4 * grid.m_Faces.size(), 255), rgba(W * H * 4, 0);
    // W x H writes that reach every pixel: none drawn twice, none missed.
    EXPECT_EQ(MeshRasterizer::RasterizeFlatFaces(vertices, grid.m_Faces, colours, W, H, rgba.data()), W * H);
    for (int k = 0; k < W * H; ++k) ASSERT_EQ(rgba[4 * k + 3], 255) << name << " pixel " << k << " missed";
  });
}

TEST(MeshRasterizer, UndeformedMeshRendersThePictureExactly) {
  for (const auto& size : {std::pair<int, int>{1, 1}, {7, 5}, {640, 480}}) {
    R2Image picture = image_test::RandomImage(size.first, size.second, 3, 3);
    for (int cells : {1, 7, 20}) {
      Warpixator d(picture, "d");
      deform_test::Mesh(d, cells, cells);
      MeshRasterizer rasterizer(d);
      R2Image out;
      ASSERT_TRUE(rasterizer.Render(size.first, size.second, Transparent(), out));
      EXPECT_TRUE(image_test::SameColours(out, picture)) << cells;
      for (int k = 0; k < size.first * size.second; ++k) ASSERT_EQ(At(out, k % size.first, k / size.first, 3), 255);
    }
    // Pixel mode shows the same picture.
    Warpixator pixel(picture, "p");
    MeshRasterizer rasterizer(pixel);
    R2Image out;
    ASSERT_TRUE(rasterizer.Render(size.first, size.second, Transparent(), out));
    EXPECT_TRUE(image_test::SameColours(out, picture));
  }
}

TEST(MeshRasterizer, ScaleGivesHandComputedBilinearPixels) {
  // (Whole-pixel shifts: WarpixRender's WholePixelTranslationShiftsThePicture.)
  const int W = 40, H = 30;
  R2Image picture = image_test::RandomImage(W, H, 3, 5);
  Warpixator d(picture, "d");
  deform_test::Mesh(d, 9, 6);
  MeshRasterizer rasterizer(d);
  R2Image out;
  // Scaled by 2 about the centre: output pixel (i, j) samples the picture at
  // texel coordinate ((i + 0.5 - W/2) / 2 + W/2 - 0.5, likewise in y).
  for (auto& v : d.m_Vertices) {
    v.m_fX = 0.5 + 2 * (v.m_fRestX - 0.5);
    v.m_fY = 0.5 + 2 * (v.m_fRestY - 0.5);
  }
  ASSERT_TRUE(rasterizer.Render(W, H, Transparent(), out));
  for (const auto& ij : {std::pair<int, int>{20, 15}, {13, 9}, {27, 22}, {0, 0}}) {
    const double tx = (ij.first + 0.5 - W / 2.0) / 2 + W / 2.0 - 0.5;
    const double ty = (ij.second + 0.5 - H / 2.0) / 2 + H / 2.0 - 0.5;
    const int x0 = static_cast<int>(std::floor(tx)), y0 = static_cast<int>(std::floor(ty));
    const double ax = tx - x0, ay = ty - y0;
    for (int c = 0; c < 3; ++c) {
      const double value = (1 - ay) * ((1 - ax) * At(picture, x0, y0, c) + ax * At(picture, x0 + 1, y0, c)) +
                           ay * ((1 - ax) * At(picture, x0, y0 + 1, c) + ax * At(picture, x0 + 1, y0 + 1, c));
      EXPECT_NEAR(At(out, ij.first, ij.second, c), value, 0.51) << ij.first << " " << ij.second;
    }
  }
}

// (Later faces winning and transparent texels giving alpha 0: the kernel
// test's folded meshes over a picture with transparent texels.)
TEST(MeshRasterizer, TransparentTexelsShowAnOpaqueBackground) {
  R2Image picture(2, 1, 3);
  picture.SetPixelRGB(0, 0, RNRgb(1, 0, 0));
  picture.SetPixelRGB(1, 0, RNRgb(1, 1, 1));  // white, made transparent below
  Warpixator d(picture, "d");
  {
    warpix_test::CoutCapture quiet;
    d.SwitchMeshBasedDeformation(1, 1, false, true, RNRgb(1, 1, 1), 0.1, 0, 1, 0, 1);
  }
  MeshRasterizer::Background white;
  white.transparent = false;
  R2Image clear, opaque;
  ASSERT_TRUE(MeshRasterizer(d).Render(8, 2, Transparent(), clear) && MeshRasterizer(d).Render(8, 2, white, opaque));
  EXPECT_EQ(std::vector<int>({At(clear, 7, 1, 3), At(opaque, 7, 1, 1), At(opaque, 7, 1, 3), At(opaque, 0, 0, 1), At(opaque, 0, 0, 3)}),
            std::vector<int>({0, 255, 255, 0, 255}));
}

TEST(MeshRasterizer, WorkIsBoundedByTheOutputWhateverTheCornersHold) {
  // Faces wholly beyond each side of the output at 1e200, faces with an
  // infinite or not-a-number corner, one far larger than the output and one
  // whose corners are too far apart for their area to be finite: each is
  // clipped to the output or left out, and nothing outside is written.
  R2Image picture = image_test::RandomImage(4, 4, 3, 5);
  Warpixator d(picture, "d");
  MeshRasterizer rasterizer(d);
  const double far = 1e200, inf = INFINITY, nan = NAN;
  const double corners[][6] = {{far, 0.1, 2 * far, 0.1, far, 0.9},      // right
                               {-2 * far, 0.1, -far, 0.1, -far, 0.9},   // left
                               {0.1, far, 0.9, far, 0.1, 2 * far},      // above
                               {0.1, -2 * far, 0.9, -far, 0.1, -far},   // below
                               {inf, 0.1, 0.9, 0.1, 0.1, 0.9},          // infinite
                               {nan, 0.1, 0.9, 0.1, 0.1, 0.9},          // not a number
                               {-1e300, -1e300, 1e300, -1e300, 0, 1e300},  // area overflows
                               {-1e9, -1e9, 1e9, -1e9, 0, 1e9}};        // covers everything
  const int W = 37, H = 23;
  const long long expected[] = {0, 0, 0, 0, 0, 0, 0, W * H};
  for (size_t f = 0; f < sizeof(corners) / sizeof(corners[0]); ++f) {
    const Vertices v = {Vertex(corners[f][0], corners[f][1], 0.5, 0.5), Vertex(corners[f][2], corners[f][3], 0.5, 0.5),
                        Vertex(corners[f][4], corners[f][5], 0.5, 0.5)};
    std::vector<unsigned char> rgba(4 * W * H + 64, 7);  // 64 guard bytes past the end
    EXPECT_EQ(rasterizer.RasterizeFaces(v, {{0, 1, 2}}, W, H, rgba.data()), expected[f]) << f;
    for (size_t k = 4 * W * H; k < rgba.size(); ++k) ASSERT_EQ(rgba[k], 7) << f;
  }
}

// An RGB picture with nothing transparent is sampled in place (blocks of
// pixels at once where the vector allows: a texel pair per row read at once,
// words near the picture's last byte one by one, whole blocks stored at once);
// a copy of it as the texture gives the same bytes: folded meshes partly off
// the output, clamped texture coordinates and pixel mode, pictures smaller and
// larger than the output, both kinds of background, padded rows, on every
// target.
TEST(MeshRasterizer, InPlacePictureGivesTheCopiedTexturesPixels) {
  std::mt19937 gen(9);
  std::uniform_real_distribution<double> move(-0.3, 0.3);
  const MeshRasterizer::Background grey = Grey();
  for (const auto& size : {std::pair<int, int>{23, 17}, {1, 1}, {2, 9}, {101, 67}}) {
    R2Image picture = image_test::RandomImage(size.first, size.second, 3, 11);
    for (const bool mesh : {true, false}) {
      Warpixator d(picture, "d");
      if (mesh) {
        deform_test::Mesh(d, 6, 5);
        // Texture coordinates a little beyond [0, 1] too: clamped samples.
        for (auto& v : d.m_Vertices) {
          v.m_fX += move(gen), v.m_fY += move(gen);
          v.m_fTexU = 1.1 * v.m_fTexU - 0.05, v.m_fTexV = 1.1 * v.m_fTexV - 0.05;
        }
      }
      MeshRasterizer inPlace(d), copied(d, MeshRasterizer::TextureSource::kCopy);
      warpix_test::ForEveryTarget([&](const char* name) {
        for (const MeshRasterizer::Background& background : {Transparent(), grey}) {
          R2Image a, b;
          ASSERT_TRUE(inPlace.Render(37, 29, background, a) && copied.Render(37, 29, background, b));
          EXPECT_EQ(image_test::AllBytes(a), image_test::AllBytes(b)) << name << " " << size.first << " mesh " << mesh;
        }
      });
    }
  }
}

// Pixel mode draws the picture over every pixel of any output: a reused
// buffer keeps none of the bytes it held.
TEST(MeshRasterizer, PixelModeCoversEveryPixelOfAnySize) {
  R2Image picture = image_test::RandomImage(5, 4, 3, 2);
  Warpixator d(picture, "p");
  MeshRasterizer rasterizer(d);
  for (const auto& size : {std::pair<int, int>{1, 1}, {2, 1}, {1, 9}, {7, 5}, {97, 61}, {1000, 3}, {3, 1000}}) {
    R2Image out(size.first, size.second, 4);
    std::fill(out.Pixels(), out.Pixels() + out.RowSize() * out.Height(), 1);  // alpha 1 if missed
    const unsigned char* buffer = out.Pixels();
    ASSERT_TRUE(rasterizer.Render(size.first, size.second, Transparent(), out));
    EXPECT_EQ(out.Pixels(), buffer);
    for (int k = 0; k < size.first * size.second; ++k)
      ASSERT_EQ(out.Pixels()[4 * k + 3], 255) << size.first << "x" << size.second << " pixel " << k;
  }
}

// A render a band at a time gives Render's bytes whatever the band height:
// folded meshes whose faces overlap (the last face drawn wins in each band as
// in the whole), faces off the output, pixel mode, a texture with
// transparent texels over an opaque background (the compositing pass), one
// band of the whole output, bands taller than it, and a sink that stops.
TEST(MeshRasterizer, BandsGiveRendersBytes) {
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> move(-0.35, 0.35);
  const MeshRasterizer::Background grey = Grey();
  R2Image picture = image_test::RandomImage(19, 13, 3, 5);
  for (const bool mesh : {true, false}) {
    for (const bool whiteTransparent : {false, true}) {
      Warpixator d(picture, "d");
      d.m_bWhiteToTransparent = whiteTransparent;
      if (mesh) {
        deform_test::Mesh(d, 7, 5);
        for (auto& v : d.m_Vertices) v.m_fX += move(gen), v.m_fY += move(gen);
      }
      MeshRasterizer rasterizer(d);
      for (const MeshRasterizer::Background& background : {Transparent(), grey}) {
        for (const auto& size : {std::pair<int, int>{37, 29}, {1, 1}, {5, 64}}) {
          R2Image whole;
          ASSERT_TRUE(rasterizer.Render(size.first, size.second, background, whole));
          for (const int bandRows : {1, 3, 7, size.second, size.second + 5}) {
            std::vector<unsigned char> banded(whole.RowSize() * whole.Height(), 0);
            int expectedTop = size.second, bands = 0;
            ASSERT_TRUE(rasterizer.RenderBands(size.first, size.second, background, bandRows,
                                               [&](int first, int count, const unsigned char* rgba) {
                                                 EXPECT_EQ(first + count, expectedTop);  // top band first, no gap
                                                 EXPECT_LE(count, bandRows);
                                                 expectedTop = first;
                                                 ++bands;
                                                 std::copy(rgba, rgba + static_cast<size_t>(count) * size.first * 4,
                                                           banded.begin() + static_cast<size_t>(first) * size.first * 4);
                                                 return true;
                                               }));
            EXPECT_EQ(expectedTop, 0);
            EXPECT_EQ(bands, (size.second + bandRows - 1) / bandRows);
            EXPECT_TRUE(std::equal(banded.begin(), banded.end(), whole.Pixels()))
                << "mesh " << mesh << " white " << whiteTransparent << " " << size.first << "x" << size.second
                << " bands of " << bandRows;
          }
        }
      }
      int calls = 0;
      EXPECT_FALSE(rasterizer.RenderBands(9, 9, grey, 2, [&](int, int, const unsigned char*) { return ++calls < 2; }));
      EXPECT_EQ(calls, 2);
      EXPECT_FALSE(rasterizer.RenderBands(0, 9, grey, 2, [&](int, int, const unsigned char*) { return true; }));
    }
  }
}
