#include <cmath>
#include <string>

#include "DeformTesting.h"
#include "deform/Warpixator.h"

namespace {

using warpix_test::CoutCapture;

// The base deformator with its snap in reach.
class SnapProbe : public Warpixator {
 public:
  using Warpixator::SnapControlPoint;
  using Warpixator::SnapToVertex;
  using Warpixator::Warpixator;
};

TEST(WarpixatorSnap, NearestVertexByRestOrCurrentPositionOpaqueFilterFallbackAndTies) {
  // A 4 x 4 picture, black (transparent) except its top-right pixel, under a
  // 4 x 4 mesh: vertex (i, j) at index 5 i + j, at rest at (i / 4, j / 4).
  R2Image image(4, 4, 3);
  image.SetPixelRGB(3, 3, RNRgb(1, 1, 1));
  SnapProbe d(image, "probe");
  {
    CoutCapture quiet;
    d.SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
  }
  d.m_Vertices[6].m_fX = 0.9;  // vertex (1, 1) shown at (0.9, 0.25)
  d.m_Vertices[6].m_fY = 0.25;
  const std::string fallback =
      "[WARNING] probe: no opaque mesh vertex; the point goes to the nearest vertex\n";
  struct Case {
    double x, y;
    bool rest, opaque;
    int vertex;
  };
  const Case cases[] = {
      {0.2, 0.26, false, false, 1},   // (1, 1) moved away: (0, 1) is nearest now
      {0.2, 0.26, true, false, 6},    // at rest (1, 1) still is
      {0.88, 0.26, false, false, 6},  // and it is found where it is shown
      {0.125, 0.1, true, false, 0},   // (0, 0) and (1, 0) tie: the lower index
      {0.1, 0.1, true, true, 18},     // opaque only: the vertices at u, v in {0.75, 1}
      {NAN, 0.5, true, false, -1},    // not a number: no vertex
  };
  for (const Case& c : cases) {
    CoutCapture out;  // a snap alone prints nothing
    EXPECT_EQ(d.SnapToVertex(c.x, c.y, Warpixator::SnapOptions{c.rest, c.opaque, true}), c.vertex)
        << c.x << " " << c.y;
    EXPECT_EQ(out.str(), "") << c.x << " " << c.y;
  }

  // Nothing opaque: every vertex qualifies again, with the warning when asked for.
  R2Image black(4, 4, 3);
  SnapProbe none(black, "probe");
  {
    CoutCapture quiet;
    none.SwitchMeshBasedDeformation(4, 4, false, true, RNRgb(0, 0, 0), 0.1, 0, 1, 0, 1);
  }
  for (bool warn : {false, true}) {
    CoutCapture out;
    EXPECT_EQ(none.SnapToVertex(0.3, 0.3, Warpixator::SnapOptions{false, true, warn}), 6);
    EXPECT_EQ(out.str(), warn ? fallback : "");
  }
}

TEST(WarpixatorSnap, ControlPointTakesTheMeasuredPositionAndPrintsIt) {
  R2Image image(4, 4, 3);
  SnapProbe d(image, "probe");
  double x = 0, y = 0;
  // Pixel mode: nothing to snap to, the position stays and nothing is printed.
  {
    CoutCapture out;
    EXPECT_EQ(d.SnapControlPoint(0.3, 0.3, Warpixator::SnapOptions{}, x, y), -1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(x, 0.3);
  }
  deform_test::Mesh(d, 4, 4);
  d.m_Vertices[6].m_fX = 0.3;  // vertex (1, 1) shown at (0.3, 0.25)
  for (bool rest : {false, true}) {
    CoutCapture out;
    const Warpixator::SnapOptions options{rest, false, false};
    EXPECT_EQ(d.SnapControlPoint(0.29, 0.26, options, x, y), 6);
    EXPECT_EQ(out.str(), rest ? "actual=[0.25, 0.25]\n" : "actual=[0.3, 0.25]\n");
    EXPECT_EQ(x, rest ? 0.25 : 0.3);
    EXPECT_EQ(y, 0.25);
  }
}

}  // namespace
