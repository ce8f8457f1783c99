#include "render/DistortionMetrics.h"
#include "render/DistortionMetricsKernel.h"

#include <cmath>
#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "TestCommon.h"
#include "deform/DeformTesting.h"

namespace {

using deform_test::Mesh;
using warpix_test::SameBits;
using Faces = std::vector<FaceDistortion>;

// Every vertex of the mesh moved by f, which takes and returns picture pixels.
void MoveVertices(Warpixator& d, const std::function<void(double&, double&)>& f) {
  const double w = d.m_Image.Width(), h = d.m_Image.Height();
  for (Warpixator::ImgVertex& v : d.m_Vertices) {
    double x = v.m_fRestX * w, y = v.m_fRestY * h;
    f(x, y);
    v.m_fX = x / w, v.m_fY = y / h;
  }
}

TEST(DistortionMetrics, ClosedFormsOfSingularValues) {
  // The shear [[1, t], [0, 1]]: K = (t^2 + 2 + t sqrt(t^2 + 4)) / 2, area 1.
  for (double t : {0.0, 0.1, 0.5, 1.0, 3.0, -2.0}) {
    const FaceDistortion face = DistortionMetrics::OfMatrix(1.0, t, 0.0, 1.0);
    const double at = std::fabs(t);
    EXPECT_NEAR(face.m_fConformal, (t * t + 2.0 + at * std::sqrt(t * t + 4.0)) / 2.0, 1e-12) << t;
    EXPECT_NEAR(face.m_fArea, 1.0, 1e-15);
  }
  // Diagonal stretches and a reflection: K = larger over smaller, area signed.
  EXPECT_NEAR(DistortionMetrics::OfMatrix(3.0, 0.0, 0.0, 0.5).m_fConformal, 6.0, 1e-12);
  const FaceDistortion mirror = DistortionMetrics::OfMatrix(-1.0, 0.0, 0.0, 1.0);
  EXPECT_TRUE(mirror.m_bFlipped && mirror.m_fArea == -1.0 && mirror.m_fConformal == 1.0);
  // Collapsed to a segment, to a point, or not a number at all: infinity, never NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const FaceDistortion& face : {DistortionMetrics::OfMatrix(1.0, 2.0, 2.0, 4.0), DistortionMetrics::OfMatrix(0, 0, 0, 0),
                                     DistortionMetrics::OfMatrix(nan, 0.0, 0.0, 1.0)}) {
    EXPECT_TRUE(std::isinf(face.m_fConformal) && !std::isnan(face.m_fArea) && !face.m_bFlipped);
  }
}

TEST(DistortionMetrics, SimilarityOfAWholeMesh) {
  R2Image picture(64, 64, 3);
  Warpixator d(picture, "m");
  Mesh(d, 8, 8);
  Faces faces;
  // Rotation by 30 degrees and scale 1.5 about the centre.
  const double c = 1.5 * std::cos(M_PI / 6), s = 1.5 * std::sin(M_PI / 6);
  MoveVertices(d, [&](double& x, double& y) {
    const double dx = x - 32, dy = y - 32;
    x = 32 + c * dx - s * dy, y = 32 + s * dx + c * dy;
  });
  const CellDistortion cell = DistortionMetrics(d).Measure(&faces);
  ASSERT_EQ(faces.size(), 128u);
  for (const FaceDistortion& f : faces) EXPECT_TRUE(std::fabs(f.m_fConformal - 1.0) < 1e-12 && std::fabs(f.m_fArea - 2.25) < 1e-12);
  EXPECT_NEAR(cell.m_fConformalMean, 1.0, 1e-12);
  EXPECT_TRUE(std::fabs(cell.m_fAreaMin - 2.25) < 1e-12 && std::fabs(cell.m_fAreaMax - 2.25) < 1e-12);
  // The corner farthest from the centre moves most: |(1.5 R - I) (32, 32)|.
  const double cx = (c - 1) * 32 - s * 32, cy = s * 32 + (c - 1) * 32;
  EXPECT_NEAR(cell.m_fMaxShift, std::sqrt(cx * cx + cy * cy), 1e-9);
}

TEST(DistortionMetrics, EveryFaceAgreesWithTheEigenvaluesOfJTransposeJ) {
  // On a 40 x 30 picture (measured in pixels, not in the unit square's
  // coordinates): a 7 x 5 mesh (70 faces: pairs and no remainder) and a 5 x 3 one with its
  // first face twice (31: a remainder), every vertex jittered, and in the
  // second one vertex pushed across its neighbours so that faces fold.
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> jitter(-0.08, 0.08);
  for (const auto& [cols, rows, extra] : {std::tuple<int, int, bool>{7, 5, false}, {5, 3, true}}) {
    R2Image picture(40, 30, 3);
    Warpixator d(picture, "random");
    Mesh(d, cols, rows);
    if (extra) d.m_Faces.push_back(d.m_Faces[0]);
    for (Warpixator::ImgVertex& v : d.m_Vertices) v.m_fX += jitter(gen), v.m_fY += jitter(gen);
    if (extra) d.m_Vertices[rows + 2].m_fX += 0.6;
    Faces faces;
    const CellDistortion cell = DistortionMetrics(d).Measure(&faces);
    ASSERT_EQ(faces.size(), d.m_Faces.size());
    int flips = 0;
    double kMax = 1.0;
    for (size_t f = 0; f < faces.size(); ++f) {
      const Warpixator::ImgFace& t = d.m_Faces[f];
      const Warpixator::ImgVertex* v[3] = {&d.m_Vertices[t.m_iV0], &d.m_Vertices[t.m_iV1], &d.m_Vertices[t.m_iV2]};
      // J solves [q1 - q0, q2 - q0] = J [p1 - p0, p2 - p0] (pixels) by Cramer's rule.
      const double p1x = (v[1]->m_fTexU - v[0]->m_fTexU) * 40, p1y = (v[1]->m_fTexV - v[0]->m_fTexV) * 30;
      const double p2x = (v[2]->m_fTexU - v[0]->m_fTexU) * 40, p2y = (v[2]->m_fTexV - v[0]->m_fTexV) * 30;
      const double q1x = (v[1]->m_fX - v[0]->m_fX) * 40, q1y = (v[1]->m_fY - v[0]->m_fY) * 30;
      const double q2x = (v[2]->m_fX - v[0]->m_fX) * 40, q2y = (v[2]->m_fY - v[0]->m_fY) * 30;
      const double den = p1x * p2y - p2x * p1y;
      const double a = (q1x * p2y - q2x * p1y) / den, b = (q2x * p1x - q1x * p2x) / den;
      const double c = (q1y * p2y - q2y * p1y) / den, e = (q2y * p1x - q1y * p2x) / den;
      // Singular values from the eigenvalues of J^T J.
      const double tr = a * a + b * b + c * c + e * e, det = a * e - b * c;
      const double root = std::sqrt(std::max(0.0, tr * tr - 4 * det * det));
      const double k = std::sqrt((tr + root) / std::max(tr - root, 1e-300));
      EXPECT_NEAR(faces[f].m_fArea, det, 1e-12 * std::max(1.0, std::fabs(det))) << f;
      EXPECT_EQ(faces[f].m_bFlipped, det < 0) << f;
      EXPECT_NEAR(faces[f].m_fConformal, k, 1e-7 * k) << f;
      if (det < 0) ++flips;
      else kMax = std::max(kMax, faces[f].m_fConformal);
      // The packed route gives what the one-face closed form gives.
      const FaceDistortion one = DistortionMetrics::OfMatrix(a, b, c, e);
      EXPECT_NEAR(one.m_fConformal, faces[f].m_fConformal, 1e-12 * k) << f;
    }
    EXPECT_TRUE((flips > 0 || !extra) && cell.m_iFlipped == flips && cell.m_fConformalMax == kMax) << flips;
  }
}

TEST(DistortionMetrics, AFoldFlipsExactlyTheFacesAcrossWhoseEdgeTheVertexWent) {
  // 2 x 2 cells, vertex (i, j) at 3 i + j: faces 0..7 = (0 3 4) (0 4 1) (3 6 7) (3 7 4)
  // (1 4 5) (1 5 2) (4 7 8) (4 8 5). The centre vertex 4 moved from (0.5, 0.5) to
  // (1.2, 0.5) crosses edge 3-7 of face 3 (the line y = x - 0.5) and edge 7-8 of
  // face 6 (x = 1), and no other face's opposite edge.
  R2Image picture(10, 10, 3);
  Warpixator d(picture, "fold");
  Mesh(d, 2, 2);
  d.m_Vertices[4].m_fX = 1.2;
  Faces faces;
  const CellDistortion cell = DistortionMetrics(d).Measure(&faces);
  std::vector<int> flipped;
  for (size_t f = 0; f < faces.size(); ++f)
    if (faces[f].m_bFlipped) flipped.push_back(static_cast<int>(f));
  EXPECT_EQ(flipped, std::vector<int>({3, 6}));
  EXPECT_EQ(cell.m_iFlipped, 2);
  EXPECT_DOUBLE_EQ(cell.m_fFlippedShare, 0.25);  // 2 of 8 faces of equal rest area
  EXPECT_LT(cell.m_fAreaMin, 0.0);
  EXPECT_NEAR(cell.m_fMaxShift, 0.7 * 10, 1e-12);
}

TEST(DistortionMetrics, WhollyTransparentFacesAreLeftOut) {
  // Left half white, right half grey; white is transparent. A 4 x 1 mesh: cells
  // 0 and 1 lie over white only, so their four faces are not counted, and a
  // fold inside them changes nothing.
  R2Image picture(16, 4, 3);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) picture.SetPixelRGB(x, y, x < 8 ? RNRgb(1, 1, 1) : RNRgb(0.5, 0.5, 0.5));
  Warpixator d(picture, "half");
  {
    warpix_test::CoutCapture quiet;
    d.SwitchMeshBasedDeformation(4, 1, false, true, RNRgb(1, 1, 1), 0.1, 0, 1, 0, 1);
  }
  d.m_Vertices[2].m_fX = 0.9;  // vertex (1, 0) of the transparent part, far to the right
  DistortionMetrics metrics(d);
  std::vector<int> leftOut;
  for (int f = 0; f < metrics.NumFaces(); ++f) leftOut.push_back(metrics.IsLeftOut(f));
  EXPECT_EQ(leftOut, std::vector<int>({1, 1, 1, 1, 0, 0, 0, 0}));
  const CellDistortion cell = metrics.Measure();
  EXPECT_TRUE(cell.m_iFaces == 4 && cell.m_iFlipped == 0 && cell.m_fConformalMax == 1.0 && cell.m_fMaxShift == 0.0);
}

TEST(DistortionMetrics, PixelModeIsMeasuredOnAGridThroughMapPoint) {
  // A method whose MapPoint doubles x about 0: K = 2 everywhere on the 64 x 64 grid.
  struct Stretch : Warpixator {
    using Warpixator::Warpixator;
    void MapPoint(double x, double y, double& outX, double& outY) override { outX = 2 * x, outY = y; }
  };
  R2Image picture(32, 32, 3);
  Stretch d(picture, "pixel");
  DistortionMetrics metrics(d);
  EXPECT_EQ(metrics.NumFaces(), 2 * 64 * 64);
  const CellDistortion cell = metrics.Measure();
  EXPECT_TRUE(std::fabs(cell.m_fConformalMax - 2.0) < 1e-12 && cell.m_iFaces == 8192);
  EXPECT_NEAR(cell.m_fMaxShift, 32.0, 1e-12);  // the right edge moved one picture width
  EXPECT_TRUE(d.m_Vertices.empty());           // the cell's own state is untouched
}

// Every target measures every face exactly as the one-face loop does, for
// face counts leaving every remainder, collapsed and folded faces among them.
TEST(DistortionKernel, EveryTargetEqualsTheOneFaceLoopBitForBit) {
  std::mt19937 gen(13);
  std::uniform_real_distribution<double> u(0.0, 50.0), inv(-0.5, 0.5);
  const int vertices = 40;
  std::vector<double> px(vertices), py(vertices);
  for (int v = 0; v < vertices; ++v) px[v] = u(gen), py[v] = u(gen);
  px[7] = px[3], py[7] = py[3];  // two corners on one point
  for (size_t count = 1; count <= 19; ++count) {
    std::vector<DistortionRestFace> faces(count);
    for (size_t f = 0; f < count; ++f) {
      faces[f] = {static_cast<int>(gen() % vertices), static_cast<int>(gen() % vertices), static_cast<int>(gen() % vertices),
                  inv(gen), inv(gen), inv(gen), inv(gen), 1.0, false};
    }
    faces[0].m_iV1 = 3, faces[0].m_iV2 = 7;  // a collapsed face
    std::vector<double> refK(count), refDet(count);
    for (size_t f = 0; f < count; ++f) warpix::DistortionOfFaces(&faces[f], 1, px.data(), py.data(), &refK[f], &refDet[f]);
    warpix_test::ForEveryTarget([&](const char* name) {
      std::vector<double> k(count), det(count);
      warpix::DistortionOfFaces(faces.data(), count, px.data(), py.data(), k.data(), det.data());
      for (size_t f = 0; f < count; ++f) {
        ASSERT_TRUE(SameBits(k[f], refK[f]) && SameBits(det[f], refDet[f])) << name << " count " << count << " face " << f;
      }
    });
  }
}

}  // namespace
